#!/usr/bin/env bash
# The album-harvest program against the album-demo-site program, both as
# real processes: a whole album lands on disk, also with the settings of a
# config file and a password that ps does not show, a faulty site ends with 3,
# SIGINT and SIGTERM stop a run cleanly with 130 (also while a read waits on
# a silent site), usage errors exit 2.
# Usage: album_harvest_program.sh ALBUM_HARVEST ALBUM_DEMO_SITE
set -euo pipefail
harvest=$1 site=$2
work=$(mktemp -d /tmp/ah-cli-e2e.XXXXXX)
# The user's own config file stays out of the runs.
export XDG_CONFIG_HOME="$work/no-config"
site_pid= harvest_pid=
stop_site() {
  if [ -n "$site_pid" ]; then kill "$site_pid" 2>/dev/null || true; wait "$site_pid" 2>/dev/null || true; fi
  site_pid=
}
cleanup() {
  [ -n "$harvest_pid" ] && kill -KILL "$harvest_pid" 2>/dev/null
  stop_site
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$*"; exit 1; }

# Starts the demo site with the given flags; sets $command to the harvest
# command line it prints (without the program's name).
sites=0
start_site() {
  stop_site
  # A file of its own, so the last site's lines are never read for this one's.
  local banner="$work/site$((++sites)).txt"
  "$site" "$@" >"$banner" 2>&1 &
  site_pid=$!
  for _ in $(seq 100); do
    [ -f "$banner" ] && [ "$(wc -l <"$banner")" -ge 2 ] && break
    sleep 0.1
  done
  command=$(sed -n 2p "$banner")
  command=${command#album-harvest }
}

start_site --pages 3 --photos-per-page 4 --chunked
status=0
eval "\"$harvest\" $command --output-dir '$work/out'" >"$work/log.txt" 2>"$work/err.txt" || status=$?
[ "$status" -eq 0 ] || { echo "exit $status"; cat "$work/err.txt"; exit 1; }
[ "$(tail -n 1 "$work/log.txt")" = "ЗАВЕРШЕНО!" ] || { echo "no final log line"; cat "$work/log.txt"; exit 1; }
grep -qx "Сохранено: 12 из 12, ошибок: 0" "$work/log.txt" || fail "no summary: $(cat "$work/log.txt")"
images=$(find "$work/out" -name '*.jpg' -size +1k | wc -l)
[ "$images" -eq 12 ] || fail "expected 12 images, got $images"

# The settings from the config file, and a password on the command line
# that ps shows as ***.
start_site --pages 2 --photos-per-page 2 --latency-ms 100
eval "$(sed -n 1p "$work/site$sites.txt")"
mkdir -p "$work/xdg/album-harvester"
printf '{"login": "demo", "domain": "mail.example", "title-suffix": "%s", "image-host-marker": "%s"}' \
  "$TITLE_SUFFIX" "$IMAGE_HOST_MARKER" >"$work/xdg/album-harvester/config.json"
XDG_CONFIG_HOME="$work/xdg" "$harvest" --password 'open sesame' "$ALBUM_URL" \
  --output-dir "$work/configured" >"$work/log.txt" 2>&1 &
harvest_pid=$!
for _ in $(seq 100); do
  shown=$(ps -o args= -p "$harvest_pid" || true)
  [[ "$shown" == *"--password *** http"* ]] && break
  sleep 0.02
done
[[ "$shown" == *"--password *** http"* ]] || fail "ps shows: $shown"
status=0
wait "$harvest_pid" || status=$?
harvest_pid=
[ "$status" -eq 0 ] || fail "a run configured by its file exited $status: $(cat "$work/log.txt")"
grep -qx "Сохранено: 4 из 4, ошибок: 0" "$work/log.txt" || fail "configured: $(cat "$work/log.txt")"

# A site whose second image always fails: the run ends, something is missing.
start_site --pages 1 --photos-per-page 3 --fail-images 2
status=0
eval "\"$harvest\" $command --output-dir '$work/faulty'" >"$work/log.txt" 2>&1 || status=$?
[ "$status" -eq 3 ] || fail "a failed image exited $status"
grep -q "ОШИБКА: HTTP/1.1 500 Internal Server Error" "$work/log.txt" || fail "no error line: $(cat "$work/log.txt")"

# A stop signal during the run: the summary, no final line, no temporary file.
for signal in INT TERM; do
  start_site --pages 4 --photos-per-page 5 --latency-ms 40
  rm -rf "$work/stopped"
  # The program itself in the background, so the signal reaches it.
  eval "args=($command)"
  "$harvest" "${args[@]}" --output-dir "$work/stopped" >"$work/log.txt" 2>"$work/err.txt" &
  harvest_pid=$!
  for _ in $(seq 200); do
    [ "$(find "$work/stopped" -name '*.jpg' 2>/dev/null | wc -l)" -ge 2 ] && break
    sleep 0.05
  done
  kill -"$signal" "$harvest_pid"
  status=0
  wait "$harvest_pid" || status=$?
  harvest_pid=
  [ "$status" -eq 130 ] || fail "SIG$signal exited $status"
  grep -q "^Сохранено: " "$work/log.txt" || fail "SIG$signal: no summary: $(cat "$work/log.txt")"
  grep -q "^Папка: " "$work/log.txt" || fail "SIG$signal: no folder line"
  ! grep -q "ЗАВЕРШЕНО!" "$work/log.txt" || fail "SIG$signal: the final line after a stop"
  left=$(find "$work/stopped" -name '.*' -type f | wc -l)
  [ "$left" -eq 0 ] || fail "SIG$signal left $left temporary files"
done

# A stop while a page read waits on a site that went silent ends the run at
# once, not when the read times out.
start_site --pages 2 --photos-per-page 2 --stall-after 3
eval "args=($command)"
"$harvest" "${args[@]}" --timeout 120 --output-dir "$work/silent" >"$work/log.txt" 2>&1 &
harvest_pid=$!
sleep 1
kill -INT "$harvest_pid"
for _ in $(seq 100); do kill -0 "$harvest_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$harvest_pid" 2>/dev/null && fail "a stop during a silent read waits for the time-out"
status=0
wait "$harvest_pid" || status=$?
harvest_pid=
[ "$status" -eq 130 ] || fail "a stop during a silent read exited $status"
grep -q "^Сохранено: " "$work/log.txt" || fail "silent read: no summary: $(cat "$work/log.txt")"

status=0
"$harvest" --no-such-flag >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "usage error exited $status"
"$harvest" --version | grep -q "^album-harvest [0-9]" || fail "no version"
echo "1 passed, 0 failed"
