#!/usr/bin/env bash
# Takes the README's pictures of the real windows (tray menu, status window, pairing window,
# approval dialog) on a private Xvfb with openbox: the desktop window tests save what they check.
# Usage: bash scripts/screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
cmake --build "$build" --target desktopui_tests
mkdir -p docs/screenshots
TAMBORIX_SCREENSHOT_DIR="$PWD/docs/screenshots" "$build/tests/app/desktopui/desktopui_tests" \
  --gtest_filter='DesktopWindows.*'
ls -l docs/screenshots
