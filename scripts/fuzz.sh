#!/usr/bin/env bash
# Builds the coverage-guided fuzz targets (clang, libFuzzer, ASan, UBSan) in
# build-fuzz and runs each for SECONDS (default 60), two at a time: first
# over its seeds and every saved finding, then on inputs of its own.
# Exits 1 when a target crashed, leaked, hung or broke one of its
# properties; the input that did it is in build-fuzz/findings/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
only=("$@")
scripts/install-deps.sh

dir=build-fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DAH_FUZZ=ON -DAH_BUILD_TESTS=OFF -DAH_BUILD_BENCH=OFF -DAH_BUILD_GUI=OFF "${launcher[@]}" >/dev/null
cmake --build "$dir" --target fuzz_targets -j "$(nproc)"

# A target is tests/LIB/fuzz/NAME_fuzzer.cpp; its seeds are in seeds/NAME
# beside it, its saved findings in regressions/NAME.
targets=()
for source in tests/*/fuzz/*_fuzzer.cpp; do
  name=$(basename "$source" .cpp)
  if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $name "* ]]; then continue; fi
  targets+=("$source")
done
mkdir -p "$dir/logs" "$dir/findings"

run_target() {
  local source=$1 name folder corpus
  name=$(basename "$source" .cpp)
  folder=$(dirname "$source")
  # New inputs go to the first folder only, so the repository's stay as
  # they are; the corpus grows across runs.
  corpus=$PWD/$dir/corpus/$name
  mkdir -p "$corpus"
  local inputs=("$corpus")
  for extra in "$PWD/$folder/seeds/$name" "$PWD/$folder/regressions/$name"; do
    [ -d "$extra" ] && inputs+=("$extra")
  done
  local status=0
  UBSAN_OPTIONS=print_stacktrace=1 "$dir/$folder/$name" -max_total_time="$seconds" \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$PWD/$dir/findings/$name-" \
    "${inputs[@]}" >"$dir/logs/$name.log" 2>&1 || status=$?
  echo "$status" >"$dir/logs/$name.status"
}

for source in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
  run_target "$source" &
done
wait

passed=0 failed=0
for source in "${targets[@]}"; do
  name=$(basename "$source" .cpp)
  log=$dir/logs/$name.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$(cat "$dir/logs/$name.status")" = 0 ]; then
    passed=$((passed + 1))
    echo "$name: ${runs:-0} runs in ${seconds} s, no finding"
  else
    failed=$((failed + 1))
    echo "$name: FAILED after ${runs:-?} runs (log: $log)"
    grep -E "property failed|ERROR:|SUMMARY:|Test unit written|no network" "$log" | head -n 8 | sed 's/^/  /' || true
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
