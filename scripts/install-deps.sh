#!/usr/bin/env bash
# Installs the Debian packages the helper needs to build and run; with --tests also what only the
# tests, benchmarks, fuzzers and package checks need (X servers, recorders, linters, fakes).
# Idempotent. Installs through sudo when not run as root, or names the one command to run as root.
# Usage: bash scripts/install-deps.sh [--tests]
set -euo pipefail

run_packages=(
  # toolchain
  g++ cmake ninja-build pkg-config
  # libraries
  libsodium-dev nlohmann-json3-dev libicu-dev liburiparser-dev libsecret-1-dev
  qt6-base-dev libavahi-client-dev libqrencode-dev
  # the translations: lupdate and lrelease through CMake; Qt's own texts (the scroll bar's menu)
  # in the user's language
  qt6-l10n-tools qt6-tools-dev qt6-translations-l10n
  # X11 desktop: input, displays, windows, capture (xcb, XKB, JPEG, scaling), GIO, Qt extras
  libxcb1-dev libxcb-xtest0-dev libxcb-randr0-dev libxcb-xkb-dev libxcb-xinerama0-dev
  libxcb-xfixes0-dev libxcb-shm0-dev libxcb-damage0-dev libxcb-shape0-dev libxcb-ewmh-dev
  libxcb-icccm4-dev libxcb-image0-dev libxkbcommon-dev libxkbcommon-x11-dev
  libyuv-dev libturbojpeg0-dev libglib2.0-dev qt6-svg-dev libqt6svg6
  # Wayland: the PipeWire stream of the ScreenCast portal; a wlroots compositor's own protocols
  # (the client library, wayland-scanner for the protocol code, the stable protocol descriptions)
  libpipewire-0.3-dev libwayland-dev libwayland-bin wayland-protocols
  # the services the helper talks to: the session bus, DNS-SD
  dbus avahi-daemon
)

test_packages=(
  # fuzzers, tests and benchmarks
  clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev ccache
  # system calls per move (the end-to-end and move benches)
  strace
  # X servers, window manager, tray and X tools the desktop tests start and drive
  xvfb openbox x11-xserver-utils x11-xkb-utils x11-utils xdotool xclip zbar-tools trayer
  imagemagick ffmpeg
  # a real toolkit's text field (Tk) that the typing tests type into
  tk
  # fakes of BlueZ and the portals run on Debian's own python3; PipeWire for the capture test
  python3 python3-dbus python3-gi pipewire wireplumber
  # a screen reader's view of the windows: the accessibility bus and its Python client
  at-spi2-core python3-pyatspi
  # the run command's hand-over to the user who called sudo, tried with a throw-away user
  sudo
  # real GNOME and KDE desktops for the portal suites: compositors, the portal and its two
  # backends (KDE's needs Qt 5's Wayland platform), and the recorder window's xdg-shell protocol
  mutter kwin-wayland xdg-desktop-portal xdg-desktop-portal-gnome xdg-desktop-portal-kde qtwayland5
  # packaging and its checks
  dpkg-dev fakeroot lintian desktop-file-utils appstream systemd man-db file
  # a real wlroots compositor (run headless by the tests) and its clipboard and screenshot tools
  sway wl-clipboard grim
  # services the integration tests start on their own
  dbus-x11 gnome-keyring avahi-utils procps iproute2
)

packages=("${run_packages[@]}")
case "${1:-}" in
  --tests) packages+=("${test_packages[@]}") ;;
  "") ;;
  *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    echo "install-deps: installing ${missing[*]} through sudo" >&2
    as_root=(sudo)
  else
    echo "install-deps: missing packages. As root, run:" >&2
    echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
