#!/usr/bin/env bash
# Installs every Debian package the helper, its tests, benchmarks and fuzzers need.
# Idempotent; must run as root. Both README commands call it.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config clang libclang-rt-14-dev
  # libraries
  libsodium-dev nlohmann-json3-dev libicu-dev liburiparser-dev libsecret-1-dev
  qt6-base-dev libavahi-client-dev libqrencode-dev
  # X11 desktop: input, displays, windows, capture (xcb, XKB, JPEG, scaling), GIO, Qt extras
  libxcb1-dev libxcb-xtest0-dev libxcb-randr0-dev libxcb-xkb-dev libxcb-xinerama0-dev
  libxcb-xfixes0-dev libxcb-shm0-dev libxcb-damage0-dev libxcb-shape0-dev libxcb-ewmh-dev
  libxcb-icccm4-dev libxcb-image0-dev libxkbcommon-dev libxkbcommon-x11-dev
  libyuv-dev libturbojpeg0-dev libglib2.0-dev qt6-svg-dev libqt6svg6
  # Wayland: the PipeWire stream of the ScreenCast portal
  libpipewire-0.3-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev ccache
  # X servers, window manager, tray and X tools the desktop tests start and drive
  xvfb openbox x11-xserver-utils x11-xkb-utils x11-utils xdotool xclip zbar-tools trayer
  imagemagick ffmpeg
  # a real toolkit's text field (Tk) that the typing tests type into
  tk
  # fakes of BlueZ and the portals run on Debian's own python3; PipeWire for the capture test
  python3 python3-dbus python3-gi pipewire wireplumber
  # packaging and its checks
  dpkg-dev fakeroot lintian desktop-file-utils appstream systemd man-db file
  # services the integration tests start on their own
  dbus dbus-x11 gnome-keyring avahi-daemon avahi-utils procps iproute2
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages (${missing[*]}); run as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
