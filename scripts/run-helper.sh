#!/usr/bin/env bash
# Installs what is needed, builds only the helper and tamborix-remote, and starts the helper in
# tray and windows on an X11 desktop, else (or with --console) the console mode. Arguments go to the helper (e.g. --port 0). Build output goes to standard error so
# that standard output is the helper's own.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh >&2
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMBORIX_TESTS=OFF -DTAMBORIX_BENCH=OFF -DTAMBORIX_FUZZ=OFF >&2
cmake --build build-run --target tamborix-helper tamborix-remote >&2
exec build-run/src/app/tamborix-helper "$@"
