#!/usr/bin/env bash
# The demo harvest: builds what is needed, starts the local demo photo site
# on free ports, harvests its album with album-harvest into a fresh folder,
# and says where the album went. The site is stopped by its pid.
# Usage: scripts/demo.sh [--pages N] [--photos-per-page K] [--chunked] ...
#        (flags go to album-demo-site; default 3 pages of 4 photos)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target album-harvest album-demo-site >/dev/null

work=$(mktemp -d /tmp/album-demo.XXXXXX)
site_pid=
stop_site() { [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null && wait "$site_pid" 2>/dev/null; true; }
trap stop_site EXIT

[ $# -gt 0 ] || set -- --pages 3 --photos-per-page 4
build/tools/album-demo-site/album-demo-site "$@" >"$work/site.txt" 2>"$work/site.err" &
site_pid=$!
for _ in $(seq 100); do
  [ "$(wc -l <"$work/site.txt")" -ge 2 ] && break
  kill -0 "$site_pid" 2>/dev/null || { cat "$work/site.err" >&2; exit 1; }
  sleep 0.1
done
[ "$(wc -l <"$work/site.txt")" -ge 2 ] || { echo "demo site did not start" >&2; exit 1; }

eval "$(sed -n 1p "$work/site.txt")"
echo "demo site: $SITE_ROOT (images on ${IMAGE_HOST_MARKER%/photo})"
command=$(sed -n 2p "$work/site.txt")
# No config file of the user's changes the demo.
command="album-harvest --no-config ${command#album-harvest }"
echo "\$ $command --output-dir $work/albums"
echo
status=0
eval "build/app/cli/$command --output-dir '$work/albums'" || status=$?

echo
for album in "$work/albums"/*/; do
  [ -d "$album" ] || continue
  count=$(find "$album" -maxdepth 1 -name '*.jpg' | wc -l)
  echo "album saved in $album ($count images; the gallery: ${album}index.html)"
done
# 3: the run ended but something is missing (the site's faults, say).
[ "$status" -eq 0 ] || echo "album-harvest exited $status"
exit "$status"
