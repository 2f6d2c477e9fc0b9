#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test twice: a normal build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build; then the test programs whose code starts
# threads once more under ThreadSanitizer. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --tests

jobs=$(nproc)
# Paths relative to the checkout let every clone and work tree share one compiler cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
# Debug builds would otherwise key every entry by the build folder, so no two clones share one.
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
# run_suite DIR [cmake options...]; with TARGET and CTEST_ARGS set, only those are built and run.
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DTAMBORIX_FUZZ=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" ${TARGET:+--target "$TARGET"}
  $RUN ctest --test-dir "$dir" --output-on-failure --no-tests=ignore -j "$jobs" ${CTEST_ARGS:-}
}
RUN=

echo "== normal build"
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== sanitizer build (ASan + UBSan)"
# The instrumented desktop tests wait on a real window manager several times slower than usual;
# one that fails is run once more, and a second failure fails the run.
# The suites against real GNOME and KDE desktops (mutter, KWin and their portals) run in the
# normal build only: the compositors are not instrumented and take minutes to start and drive.
echo "   (skipped here: platform_portal_gnome_tests and platform_portal_kde_tests, run in the normal build)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  CTEST_ARGS="--repeat until-pass:2 -E ^platform_portal_(gnome|kde)_tests$" run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DTAMBORIX_SANITIZE=ON -DTAMBORIX_BENCH=OFF
echo "== ThreadSanitizer build of the programs that start threads"
# ThreadSanitizer cannot map its shadow memory with the wide address randomisation of newer
# kernels (vm.mmap_rnd_bits > 28); without randomisation it always can.
tsan_run=""
if setarch "$(uname -m)" -R true 2>/dev/null; then tsan_run="setarch $(uname -m) -R"; fi
# The desktop tests start programs (xdotool, the helper) from a process that already has threads;
# the child only execs, which ThreadSanitizer cannot know.
TSAN_OPTIONS="second_deadlock_stack=1:die_after_fork=0:suppressions=$PWD/scripts/tsan.supp" \
  RUN="$tsan_run" TARGET=thread_tests CTEST_ARGS="-L threads" \
  run_suite build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMBORIX_SANITIZE=thread -DTAMBORIX_BENCH=OFF
echo "== fuzzers (clang; each target briefly on its seed corpus)"
bash scripts/fuzz.sh "${TAMBORIX_FUZZ_SECONDS:-5}" build-fuzz
