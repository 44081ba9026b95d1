#!/usr/bin/env bash
# Harvests the demo album at two sizes (default 10,000 and 100,000 photo
# links, 20 to a page) with album-harvest into fresh folders and reports,
# for each, the wall time, the harvester's CPU time and its peak memory,
# then how much longer the large album took than the small one (a run that
# grows with its album, its manifest and gallery writes included, takes
# about ten times as long for ten times the photos).
# Usage: bench/harvest_scale.sh [BUILD_DIR] [SMALL_PHOTOS] [LARGE_PHOTOS] [JOBS]
set -euo pipefail
build=${1:-build} small=${2:-10000} large=${3:-100000} jobs=${4:-4}
cd "$(dirname "$0")/.."
source bench/demo_site.sh

# One harvest of PHOTOS photo links; prints "WALL CPU PEAK_KB".
harvest() (
  start_demo_site "$build" ah-bench-scale --pages $(($1 / 20)) --photos-per-page 20 \
    --session-requests 1000000
  /usr/bin/time -o "$work/time" -f '%e %U %S %M' \
    sh -c "exec \"$build/app/cli/album-harvest\" $command --output-dir '$work/out' --jobs $jobs >/dev/null 2>&1" ||
    true
  saved=$(find "$work/out" -name '*.jpg' | wc -l)
  [ "$saved" -eq "$1" ] || { echo "only $saved of $1 images saved" >&2; exit 1; }
  read -r wall user sys peak <"$work/time"
  echo "$wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $peak"
)

read -r small_wall small_cpu small_peak < <(harvest "$small")
read -r large_wall large_cpu large_peak < <(harvest "$large")
awk -v n="$small" -v w="$small_wall" -v c="$small_cpu" -v p="$small_peak" \
    -v N="$large" -v W="$large_wall" -v C="$large_cpu" -v P="$large_peak" 'BEGIN {
  printf "%d photos: wall %.1f s, harvester CPU %.1f s, peak %.0f MB\n", n, w, c, p / 1024
  printf "%d photos: wall %.1f s, harvester CPU %.1f s, peak %.0f MB\n", N, W, C, P / 1024
  printf "%d/%d photos: %.1f times the wall time, %.1f times the CPU time\n", N, n, W / w, C / c
}'
