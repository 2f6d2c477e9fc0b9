#!/usr/bin/env bash
# Builds every libFuzzer target with clang and runs each on a copy of its seed corpus for a
# chosen time, then prints one line per target: executions, findings, and where they are kept.
# Exits non-zero when a target does not build or finds a crash, a leak or a timeout.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [BUILD_FOLDER]     (defaults: 10, build-fuzz)
#
# For long runs by hand give hours, e.g. scripts/fuzz.sh 3600: a fast target should reach at
# least ten million executions.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
dir=${2:-build-fuzz}
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"

cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAMBORIX_FUZZ=ON -DTAMBORIX_TESTS=OFF \
  -DTAMBORIX_BENCH=OFF -DTAMBORIX_APP=OFF >/dev/null

mapfile -t rows < <(grep -v '^[[:space:]]*\(#\|$\)' fuzz/targets.txt)
targets=()
for row in "${rows[@]}"; do
  read -r target _ <<<"$row"
  targets+=("$target")
done
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings="$dir/fuzz-findings"
mkdir -p "$findings"
failed=0
printf '%-26s %12s  %s\n' target executions result
for row in "${rows[@]}"; do
  read -r target corpus dict <<<"$row"
  binary=$(find "$dir/fuzz" -type f -name "$target" -perm -u+x | head -n 1)
  if [[ -z $binary ]]; then
    printf '%-26s %12s  %s\n' "$target" - "not built"
    failed=1
    continue
  fi
  # The seeds stay as they are in the checkout; new inputs go to a scratch copy.
  mkdir -p "$work/$target"
  if [[ $corpus != - ]]; then cp -r "$corpus/." "$work/$target/"; fi
  args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/$target-")
  if [[ $dict != - ]]; then args+=(-dict="$dict"); fi
  log="$work/$target.log"
  if "$binary" "${args[@]}" "$work/$target" >"$log" 2>&1; then
    result="no findings"
  else
    result="FINDING: see $findings/$target.log and $findings/$target-*"
    cp "$log" "$findings/$target.log"
    failed=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  printf '%-26s %12s  %s\n' "$target" "${runs:-?}" "$result"
done
exit "$failed"
