#!/usr/bin/env bash
# Harvests a generated demo album (default 100 pages x 20 photos) with the
# album-harvest program and reports pages per second and the share of wall
# time the harvester spent on its own CPU (parsing, file writes) rather
# than waiting on the network.
# Usage: bench/harvest_demo_site.sh [BUILD_DIR] [PAGES] [PHOTOS_PER_PAGE]
set -euo pipefail
build=${1:-build} pages=${2:-100} photos=${3:-20}
cd "$(dirname "$0")/.."
source bench/demo_site.sh
start_demo_site "$build" ah-bench-harvest --pages "$pages" --photos-per-page "$photos" \
  --session-requests 1000000

TIMEFORMAT='%R %U %S'
times=$( { time eval "\"$build/app/cli/album-harvest\" $command --output-dir '$work/out'" \
  >/dev/null 2>&1; } 2>&1 )
read -r wall user sys <<<"$times"
images=$(find "$work/out" -name '*.jpg' | wc -l)
awk -v w="$wall" -v u="$user" -v s="$sys" -v p="$pages" -v i="$images" 'BEGIN {
  printf "pages %d, images %d, wall %.2f s: %.1f pages/s, %.0f images/s; harvester CPU %.0f%% of wall\n",
         p, i, w, p / w, i / w, 100 * (u + s) / w }'
