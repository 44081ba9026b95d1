#!/usr/bin/env bash
# album-harvest with one job against eight on a demo album (default 20 pages
# x 20 photos) whose every response waits 50 ms, as on a real network: the
# two in alternating runs, each into a fresh folder, then a resumed run of
# the unchanged album into the last folder. Prints every time, the medians
# and their ratio. Targets: eight jobs at least 5x faster than one; the
# resumed run under 2 s. Then five albums of 4 x 20 photos at the same
# latency, with --jobs 8: one run of all five against five runs of one
# album each, in alternating rounds. Targets: the one run signs in once and
# takes at most the five runs' time added together.
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

# Several albums in one run.
stop_demo_site
start_demo_site "$build" ah-bench-albums --albums 5 --pages 4 --photos-per-page 20 --latency-ms "$latency"
eval "$(sed -n 1p "$work/site.txt")"
every=$command one_by_one=${command% "$ALBUM_URLS"}
sign_ins() { curl -s "$STATS_URL" | sed 's/.*"sign_ins": \([0-9]*\).*/\1/'; }
together=() apart=() together_sign_ins=() apart_sign_ins=()
for round in $(seq "$rounds"); do
  before=$(sign_ins)
  together+=("$(harvest "together-$round" --jobs 8)")
  together_sign_ins+=($(($(sign_ins) - before)))
  before=$(sign_ins) sum=0
  for album in $ALBUM_URLS; do
    command="$one_by_one $album"
    took=$(harvest "apart-$round" --jobs 8)
    sum=$(awk -v a="$sum" -v b="$took" 'BEGIN { print a + b }')
  done
  command=$every
  apart+=("$sum")
  apart_sign_ins+=($(($(sign_ins) - before)))
  echo "round $round: one run of 5 albums ${together[-1]} s (${together_sign_ins[-1]} sign-in)," \
    "5 runs of 1 album ${apart[-1]} s added together (${apart_sign_ins[-1]} sign-ins)"
done
mt=$(echo "${together[*]}" | median) ma=$(echo "${apart[*]}" | median)
awk -v t="$mt" -v a="$ma" -v s="${together_sign_ins[*]}" -v l="$latency" 'BEGIN {
  printf "5 albums of 4 x 20 photos at %d ms, --jobs 8: one run median %.2f s, five runs median %.2f s added together, %.2f of it\n",
         l, t, a, t / a
  printf "sign-ins of the one run: %s; targets: one sign-in %s, at most the five runs %s\n", s,
         (s ~ /^(1 )*1$/) ? "met" : "MISSED", (t <= a) ? "met" : "MISSED" }'
