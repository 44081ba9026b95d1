#!/usr/bin/env bash
# album-harvest with one job against eight on a demo album (default 20 pages
# x 20 photos) whose every response waits 50 ms, as on a real network: the
# two in alternating runs, each into a fresh folder, then a resumed run of
# the unchanged album into the last folder. Prints every time, the medians
# and their ratio. Targets: eight jobs at least 5x faster than one; the
# resumed run under 2 s.
# Usage: bench/harvest_latency.sh [BUILD_DIR] [ROUNDS] [PAGES] [PHOTOS_PER_PAGE] [LATENCY_MS]
set -euo pipefail
build=${1:-build} rounds=${2:-3} pages=${3:-20} photos=${4:-20} latency=${5:-50}
cd "$(dirname "$0")/.."
source bench/demo_site.sh
start_demo_site "$build" ah-bench-latency --pages "$pages" --photos-per-page "$photos" \
  --latency-ms "$latency"

# Wall seconds of one harvest into $work/$1 with the flags that follow; a run
# that does not end with exit 0 ends the benchmark.
harvest() {
  local out=$1
  shift
  local start end
  start=$(date +%s.%N)
  eval "\"$build/app/cli/album-harvest\" $command --output-dir '$work/$out' $*" >"$work/log.txt" 2>&1 ||
    { echo "album-harvest $* failed:"; tail -n 5 "$work/log.txt"; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

median() { tr ' ' '\n' | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

one=() eight=()
for round in $(seq "$rounds"); do
  one+=("$(harvest "one-$round" --jobs 1)")
  eight+=("$(harvest "eight-$round" --jobs 8)")
  echo "round $round: --jobs 1 ${one[-1]} s, --jobs 8 ${eight[-1]} s"
done
resumed=$(harvest "eight-$rounds" --jobs 8)
grep -q "(уже есть)" "$work/log.txt" || { echo "the resumed run downloaded again"; exit 1; }

m1=$(echo "${one[*]}" | median) m8=$(echo "${eight[*]}" | median)
awk -v a="$m1" -v b="$m8" -v r="$resumed" -v p="$pages" -v k="$photos" -v l="$latency" 'BEGIN {
  printf "%d x %d photos at %d ms: --jobs 1 median %.2f s, --jobs 8 median %.2f s, %.1fx faster\n",
         p, k, l, a, b, a / b
  printf "resumed run of the unchanged album (--jobs 8): %.2f s\n", r }'
