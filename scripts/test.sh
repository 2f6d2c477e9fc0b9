#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test twice: a normal build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
# Paths relative to the checkout let every clone and work tree share one compiler cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
# Debug builds would otherwise key every entry by the build folder, so no two clones share one.
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DTAMBORIX_FUZZ=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure --no-tests=ignore -j "$jobs"
}

echo "== normal build"
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== sanitizer build (ASan + UBSan)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTAMBORIX_SANITIZE=ON -DTAMBORIX_BENCH=OFF
