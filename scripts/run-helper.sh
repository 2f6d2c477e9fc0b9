#!/usr/bin/env bash
# Installs what is missing (through sudo), builds only the helper and tamborix-remote, and starts
# the helper as the user who ran this: a tray icon and windows on a desktop, else (or with
# --console) the console mode. Arguments go to the helper (e.g. --port 0). Build output goes to
# standard error so that standard output is the helper's own.
set -euo pipefail
self="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
cd "$(dirname "$0")/.."

# The helper belongs to the desktop user: their display, their keyring, their paired phones.
# Started with sudo, it installs as root and then hands over to the user who called sudo.
if [ "$(id -u)" -eq 0 ]; then
  if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
    bash scripts/install-deps.sh >&2
    uid=$(id -u "$SUDO_USER")
    exec sudo -u "$SUDO_USER" -H \
      DISPLAY="${DISPLAY:-}" WAYLAND_DISPLAY="${WAYLAND_DISPLAY:-}" XAUTHORITY="${XAUTHORITY:-}" \
      XDG_SESSION_TYPE="${XDG_SESSION_TYPE:-}" XDG_RUNTIME_DIR="/run/user/$uid" \
      DBUS_SESSION_BUS_ADDRESS="unix:path=/run/user/$uid/bus" \
      PATH="$PATH" bash "$self" "$@"
  fi
  # Root's own session (a container, a kiosk): say whose data and display these are, and go on.
  echo "run-helper: running as root: the helper uses root's data folder and display; to control" >&2
  echo "run-helper: your own desktop, run this as your user (it installs through sudo)." >&2
fi

bash scripts/install-deps.sh >&2
if [ -e build-run ] && [ ! -w build-run ]; then
  echo "run-helper: build-run belongs to another user (an earlier run as root); remove it with" >&2
  echo "  sudo rm -rf $PWD/build-run" >&2
  exit 1
fi
if [ ! -f build-run/build.ninja ]; then
  echo "run-helper: first build: about 10 minutes on 4 cores, 25 on 2; later starts take seconds." >&2
fi
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMBORIX_TESTS=OFF -DTAMBORIX_BENCH=OFF -DTAMBORIX_FUZZ=OFF >&2
cmake --build build-run --target tamborix-helper tamborix-remote >&2
exec build-run/src/app/tamborix-helper "$@"
