#!/usr/bin/env bash
# The album-harvest program against the album-demo-site program, both as
# real processes: a whole album lands on disk, and usage errors exit 2.
# Usage: album_harvest_program.sh ALBUM_HARVEST ALBUM_DEMO_SITE
set -euo pipefail
harvest=$1 site=$2
work=$(mktemp -d /tmp/ah-cli-e2e.XXXXXX)
site_pid=
cleanup() { [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

"$site" --pages 3 --photos-per-page 4 --chunked >"$work/site.txt" 2>&1 &
site_pid=$!
for _ in $(seq 100); do
  [ "$(wc -l <"$work/site.txt")" -ge 2 ] && break
  sleep 0.1
done
eval "$(sed -n 1p "$work/site.txt")"
command=$(sed -n 2p "$work/site.txt")
command=${command#album-harvest }

status=0
eval "\"$harvest\" $command --output-dir '$work/out'" >"$work/log.txt" 2>"$work/err.txt" || status=$?
[ "$status" -eq 0 ] || { echo "exit $status"; cat "$work/err.txt"; exit 1; }
[ "$(tail -n 1 "$work/log.txt")" = "ЗАВЕРШЕНО!" ] || { echo "no final log line"; cat "$work/log.txt"; exit 1; }
images=$(find "$work/out" -name '*.jpg' -size +1k | wc -l)
[ "$images" -eq 12 ] || { echo "expected 12 images, got $images"; exit 1; }

status=0
"$harvest" --no-such-flag >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || { echo "usage error exited $status"; exit 1; }
echo "1 passed, 0 failed"
