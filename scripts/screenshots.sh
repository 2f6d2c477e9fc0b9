#!/usr/bin/env bash
# Takes the README's pictures of the real windows (tray menu, status window, pairing window,
# approval dialog; the status window also at scale 2 and in German) on a private Xvfb with openbox:
# the desktop window tests save what they check.
# Usage: bash scripts/screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
cmake --build "$build" --target desktopui_tests
mkdir -p docs/screenshots
TAMBORIX_SCREENSHOT_DIR="$PWD/docs/screenshots" "$build/tests/app/desktopui/desktopui_tests" \
  --gtest_filter='DesktopWindows.*'
# The same windows at twice the scale on a laptop-sized screen.
QT_SCALE_FACTOR=2 TAMBORIX_TEST_SCREEN=1366x768 TAMBORIX_SCREENSHOT_DIR="$PWD/docs/screenshots" \
  "$build/tests/app/desktopui/desktopui_tests" --gtest_filter='DesktopWindows.Windows_AnyScale_*'
# In German, chosen by the locale.
LANG=de_DE.UTF-8 LC_ALL= LC_MESSAGES= LANGUAGE= TAMBORIX_SCREENSHOT_DIR="$PWD/docs/screenshots" \
  "$build/tests/app/desktopui/desktopui_tests" --gtest_filter='DesktopWindows.Windows_GermanLocale_*'
ls -l docs/screenshots
