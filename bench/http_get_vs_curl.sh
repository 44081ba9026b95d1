#!/usr/bin/env bash
# http-get next to curl against a local nginx, in one run:
#   1. one 1 GiB body (Content-Length) to /dev/null
#   2. 2000 GETs of a 1 KiB file over one kept-alive connection
#   3. 2000 GETs of a 1 KiB file, each on a new connection (the server closes)
# plain and (1, 2) over https (a certificate made for the run, trusted by
# --cacert), and
#   4. one 256 MiB chunked body to /dev/null
#   5. chunked bodies nginx does not make, from a raw server: 200,000
#      one-byte chunks, and 52 MB in 16 KiB chunks
#   6. 500 GETs over https through an HTTP proxy (CONNECT), the tunnel kept
#      alive (a small relay in python3, so the proxy costs both clients alike)
# The two clients run in turn, A B A B ..., RUNS times each. Prints for each
# the median CPU time (user + sys) and wall time, the medians of the
# pair-by-pair ratios http-get / curl, and the peak resident memory of
# http-get. CPU time is the figure to trust on a busy machine.
#
# Usage: bench/http_get_vs_curl.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
http_get=$build/tools/http-get/http-get
if [ ! -x "$http_get" ]; then
  cmake -S . -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j2 --target http-get
fi

need=()
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || need+=(nginx-light)
command -v curl >/dev/null || need+=(curl)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  # The package would start a system-wide nginx on port 80; keep it from
  # starting any service while it installs.
  policy=/usr/sbin/policy-rc.d
  added_policy=
  if [ ! -e $policy ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee $policy >/dev/null
    "${sudo[@]}" chmod 755 $policy
    added_policy=1
  fi
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  [ -n "$added_policy" ] && "${sudo[@]}" rm -f $policy
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www/chunked" "$work/www/close" "$work/logs"
head -c $((1024 * 1024 * 1024)) /dev/zero | tr '\0' 'a' > "$work/www/big.bin"
head -c $((256 * 1024 * 1024)) /dev/zero | tr '\0' 'b' > "$work/www/chunked/mid.bin"
head -c 1024 /dev/zero | tr '\0' 'c' > "$work/www/small.txt"
cp "$work/www/small.txt" "$work/www/close/small.txt"

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}
port=$(free_port)
tls_port=$(free_port)
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
cat > "$work/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fastcgi;
  uwsgi_temp_path $work/uwsgi;
  scgi_temp_path $work/scgi;
  keepalive_requests 100000;
  keepalive_timeout 60s;
  sendfile on;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$port;
    root $work/www;
    # SSI processing leaves the length unknown, so HTTP/1.1 replies are chunked.
    location /chunked/ { ssi on; ssi_types *; }
    # Every reply ends its connection.
    location /close/ { keepalive_timeout 0; }
  }
  server {
    listen 127.0.0.1:$tls_port ssl;
    ssl_certificate $work/cert.pem;
    ssl_certificate_key $work/key.pem;
    root $work/www;
  }
}
EOF
"$nginx_bin" -p "$work" -c "$work/nginx.conf" &
pids+=($!)
# Whole replies, head included, for the raw server to send as they are.
python3 - "$work" <<'PY'
import sys
head = b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nTransfer-Encoding: chunked\r\n\r\n"
with open(sys.argv[1] + "/tiny-chunks", "wb") as f:
    f.write(head + b"1\r\nd\r\n" * 200000 + b"0\r\n\r\n")
with open(sys.argv[1] + "/16k-chunks", "wb") as f:
    f.write(head + (b"4000\r\n" + b"e" * 16384 + b"\r\n") * 3200 + b"0\r\n\r\n")
PY
raw_port=$(free_port)
proxy_port=$(free_port)
python3 bench/raw_peers.py chunked "$raw_port" "$work/tiny-chunks" "$work/16k-chunks" &
pids+=($!)
python3 bench/raw_peers.py proxy "$proxy_port" &
pids+=($!)
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/small.txt" &&
    curl -s -o /dev/null "http://127.0.0.1:$raw_port/tiny-chunks" &&
    curl -s -o /dev/null -p -x "http://127.0.0.1:$proxy_port" "http://127.0.0.1:$port/small.txt" &&
    break
  sleep 0.1
done

base=http://127.0.0.1:$port
small_urls=()
for _ in $(seq 2000); do small_urls+=("$base/small.txt"); done

# Runs a command with its output to /dev/null and writes its user and
# system CPU seconds, wall seconds and peak RSS (KiB) to a file: the times
# to the microsecond, where /usr/bin/time gives hundredths. The peak RSS
# comes from /usr/bin/time, which starts the command from a small process
# (a child of python would count python's own pages); its own CPU time is
# well under a millisecond.
cat > "$work/timed.py" <<'PY'
import os, subprocess, sys, time
rss = sys.argv[1] + ".rss"
start = time.monotonic()
child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss] + sys.argv[2:],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
_, _, usage = os.wait4(child.pid, 0)
wall = time.monotonic() - start
with open(rss) as f:
    peak = f.read().split()[-1]
with open(sys.argv[1], "w") as out:
    out.write(f"{usage.ru_utime:.6f} {usage.ru_stime:.6f} {wall:.6f} {peak}\n")
PY

# Runs the commands in the arrays ours and theirs in turn, $runs times each,
# and prints one line: the medians of CPU (user + sys) and wall seconds of
# each, the medians of the pair-by-pair ratios, and ours' largest peak RSS.
compare() {
  local name=$1 i
  : > "$work/pairs.txt"
  for i in $(seq "$runs"); do
    python3 "$work/timed.py" "$work/a.txt" "${ours[@]}"
    python3 "$work/timed.py" "$work/b.txt" "${theirs[@]}"
    echo "$(tail -1 "$work/a.txt") $(tail -1 "$work/b.txt")" >> "$work/pairs.txt"
  done
  awk -v n="$name" '
    function median(v, k,   i, j, t) {
      for (i = 2; i <= k; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) {
        t = v[j]; v[j] = v[j - 1]; v[j - 1] = t
      }
      return (k % 2) ? v[(k + 1) / 2] : (v[k / 2] + v[k / 2 + 1]) / 2
    }
    {
      k++
      ac[k] = $1 + $2; aw[k] = $3; bc[k] = $5 + $6; bw[k] = $7
      rc[k] = bc[k] > 0 ? ac[k] / bc[k] : 0
      rw[k] = bw[k] > 0 ? aw[k] / bw[k] : 0
      if ($4 > rss) rss = $4
    }
    END {
      printf "%-26s http-get cpu %6.3f s wall %6.3f s | curl cpu %6.3f s wall %6.3f s | ratio cpu %.2f wall %.2f | http-get peak RSS %d KiB\n",
        n, median(ac, k), median(aw, k), median(bc, k), median(bw, k), median(rc, k), median(rw, k), rss
    }' "$work/pairs.txt"
}

# Checks each client reads the whole body before timing it.
check_size() {
  local want=$1; shift
  local got
  got=$("$@" | wc -c)
  [ "$got" -eq "$want" ] || { echo "size mismatch: $* gave $got, want $want" >&2; exit 1; }
}
check_size $((1024 * 1024 * 1024)) "$http_get" "$base/big.bin"
check_size $((256 * 1024 * 1024)) "$http_get" "$base/chunked/mid.bin"
check_size $((2000 * 1024)) "$http_get" "${small_urls[@]}"

echo "runs per case: $runs of each client, in turn (medians)"
ours=("$http_get" -o /dev/null "$base/big.bin"); theirs=(curl -s -o /dev/null "$base/big.bin")
compare "1 GiB body"
ours=("$http_get" -o /dev/null "${small_urls[@]}"); theirs=(curl -s -o /dev/null "${small_urls[@]}")
compare "2000 GETs of 1 KiB"
close_urls=()
for _ in $(seq 2000); do close_urls+=("$base/close/small.txt"); done
check_size $((2000 * 1024)) "$http_get" "${close_urls[@]}"
ours=("$http_get" -o /dev/null "${close_urls[@]}"); theirs=(curl -s -o /dev/null "${close_urls[@]}")
compare "2000 new connections"
tls_base=https://127.0.0.1:$tls_port
tls_urls=()
for _ in $(seq 2000); do tls_urls+=("$tls_base/small.txt"); done
ca=(--cacert "$work/cert.pem")
check_size $((1024 * 1024 * 1024)) "$http_get" "${ca[@]}" "$tls_base/big.bin"
check_size $((2000 * 1024)) "$http_get" "${ca[@]}" "${tls_urls[@]}"
ours=("$http_get" "${ca[@]}" -o /dev/null "$tls_base/big.bin")
theirs=(curl -s "${ca[@]}" -o /dev/null "$tls_base/big.bin")
compare "1 GiB body over https"
ours=("$http_get" "${ca[@]}" -o /dev/null "${tls_urls[@]}")
theirs=(curl -s "${ca[@]}" -o /dev/null "${tls_urls[@]}")
compare "2000 GETs over https"
ours=("$http_get" -o /dev/null "$base/chunked/mid.bin"); theirs=(curl -s -o /dev/null "$base/chunked/mid.bin")
compare "256 MiB chunked body"
raw_base=http://127.0.0.1:$raw_port
check_size 200000 "$http_get" "$raw_base/tiny-chunks"
check_size $((3200 * 16384)) "$http_get" "$raw_base/16k-chunks"
ours=("$http_get" -o /dev/null "$raw_base/tiny-chunks"); theirs=(curl -s -o /dev/null "$raw_base/tiny-chunks")
compare "200,000 one-byte chunks"
ours=("$http_get" -o /dev/null "$raw_base/16k-chunks"); theirs=(curl -s -o /dev/null "$raw_base/16k-chunks")
compare "52 MB in 16 KiB chunks"
proxied_urls=("${tls_urls[@]:0:500}")
check_size $((500 * 1024)) "$http_get" "${ca[@]}" --proxy "127.0.0.1:$proxy_port" "${proxied_urls[@]}"
ours=("$http_get" "${ca[@]}" --proxy "127.0.0.1:$proxy_port" -o /dev/null "${proxied_urls[@]}")
theirs=(curl -s "${ca[@]}" --proxy "http://127.0.0.1:$proxy_port" -o /dev/null "${proxied_urls[@]}")
compare "500 GETs, https via proxy"
