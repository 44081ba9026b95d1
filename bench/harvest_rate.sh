#!/usr/bin/env bash
# album-harvest --limit-rate RATE (default 2M) on a demo album (default 40
# pages x 20 photos, about 44 MB): the reply bytes the demo site has sent
# (its /__stats bytes_sent, a reply counted as its last byte leaves), read
# every 10 ms, over every 5 s window of the run. Prints the fullest window
# against the target, the run's average, and an unlimited run for comparison.
# Target: no window above RATE x 5 s x 1.05. Meant for rates of MiB/s: a
# reply goes into the sockets' buffers whole and leaves the site before it is
# read, so under a few hundred KiB/s the site sees whole images at once.
# Usage: bench/harvest_rate.sh [BUILD_DIR] [RATE] [PAGES] [PHOTOS_PER_PAGE] [JOBS]
set -euo pipefail
build=${1:-build} rate=${2:-2M} pages=${3:-40} photos=${4:-20} jobs=${5:-4}
cd "$(dirname "$0")/.."
source bench/demo_site.sh
start_demo_site "$build" ah-bench-rate --pages "$pages" --photos-per-page "$photos"
eval "$(head -n 1 "$work/site.txt")"

# Runs album-harvest into $work/$1 with the flags that follow while it samples
# what the site has sent; prints the fullest 5 s window, the bytes and the
# seconds.
measure() {
  local out=$1
  shift
  python3 - "$STATS_URL" "$work/log.txt" \
    sh -c "exec \"$build/app/cli/album-harvest\" --no-config $command --output-dir '$work/$out' --jobs $jobs $*" <<'EOF'
import http.client, json, subprocess, sys, time, urllib.parse
stats, log, command = urllib.parse.urlsplit(sys.argv[1]), sys.argv[2], sys.argv[3:]
site = http.client.HTTPConnection(stats.hostname, stats.port)

def sent():
    site.request("GET", stats.path)
    return time.monotonic(), json.loads(site.getresponse().read())["bytes_sent"]

samples = [sent()]
with open(log, "w") as out:
    run = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT)
    while run.poll() is None:
        time.sleep(0.01)
        samples.append(sent())
samples.append(sent())
if run.returncode != 0:
    sys.exit(f"album-harvest ended with {run.returncode}")
# The most any span of at most 5 s holds: every sample against the farthest
# one within 5 s after it.
most, j = 0, 0
for i, (t, b) in enumerate(samples):
    j = max(j, i)
    while j + 1 < len(samples) and samples[j + 1][0] - t <= 5.0:
        j += 1
    most = max(most, samples[j][1] - b)
total, seconds = samples[-1][1] - samples[0][1], samples[-1][0] - samples[0][0]
print(most, total, f"{seconds:.2f}")
EOF
}

rate_bytes=$(awk -v r="$rate" 'BEGIN {
  f = 1; s = tolower(substr(r, length(r)))
  if (s == "k") f = 1024; if (s == "m") f = 1048576; if (s == "g") f = 1073741824
  printf "%.0f", (r + 0) * f }')
read -r most total seconds < <(measure limited --limit-rate "$rate")
read -r _ free_total free_seconds < <(measure free)
awk -v m="$most" -v t="$total" -v s="$seconds" -v r="$rate_bytes" -v ft="$free_total" -v fs="$free_seconds" \
    -v p="$pages" -v k="$photos" -v j="$jobs" -v rate="$rate" 'BEGIN {
  target = r * 5 * 1.05
  printf "%d x %d photos, --jobs %d, --limit-rate %s: %.1f MiB in %.2f s, %.3f MiB/s on average\n",
         p, k, j, rate, t / 1048576, s, t / s / 1048576
  printf "fullest 5 s window: %.3f MiB (%.3f MiB/s), target at most %.3f MiB: %s\n",
         m / 1048576, m / 5 / 1048576, target / 1048576, m <= target ? "met" : "MISSED"
  printf "without a limit: %.1f MiB in %.2f s\n", ft / 1048576, fs
  exit m <= target ? 0 : 1 }'
