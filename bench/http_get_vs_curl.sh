#!/usr/bin/env bash
# http-get next to curl against a local nginx, in one run:
#   1. one 1 GiB body (Content-Length) to /dev/null
#   2. 2000 GETs of a 1 KiB file over one kept-alive connection
# plain and over https (a certificate made for the run, trusted by --cacert).
#   3. one 256 MiB chunked body to /dev/null
# Prints the median wall time of each client, the ratio http-get / curl, and
# the peak resident memory of http-get for the 1 GiB body.
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
nginx_pid=
cleanup() {
  if [ -n "$nginx_pid" ]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www/chunked" "$work/logs"
head -c $((1024 * 1024 * 1024)) /dev/zero | tr '\0' 'a' > "$work/www/big.bin"
head -c $((256 * 1024 * 1024)) /dev/zero | tr '\0' 'b' > "$work/www/chunked/mid.bin"
head -c 1024 /dev/zero | tr '\0' 'c' > "$work/www/small.txt"

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
nginx_pid=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/small.txt" && break
  sleep 0.1
done

base=http://127.0.0.1:$port
small_urls=()
for _ in $(seq 2000); do small_urls+=("$base/small.txt"); done

# Runs a command $runs times; prints the median wall time in seconds and the
# largest peak RSS in KiB.
measure() {
  local times=() peak=0 out
  for _ in $(seq "$runs"); do
    /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null 2>/dev/null
    out=$(tail -1 "$work/time.txt")
    times+=("${out% *}")
    [ "${out#* }" -gt "$peak" ] && peak=${out#* }
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v p="$peak" '{a[NR]=$1} END {print a[int((NR+1)/2)], p}'
}

report() {
  local name=$1 ours=$2 theirs=$3
  local t_ours=${ours% *} t_theirs=${theirs% *} rss=${ours#* }
  awk -v n="$name" -v a="$t_ours" -v b="$t_theirs" -v m="$rss" 'BEGIN {
    r = (b > 0) ? a / b : 0
    printf "%-28s http-get %7.2f s  curl %7.2f s  ratio %.2f  http-get peak RSS %d KiB\n", n, a, b, r, m }'
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

echo "runs per case: $runs (median wall time)"
report "1 GiB body" "$(measure "$http_get" -o /dev/null "$base/big.bin")" \
  "$(measure curl -s -o /dev/null "$base/big.bin")"
report "2000 GETs of 1 KiB" "$(measure "$http_get" -o /dev/null "${small_urls[@]}")" \
  "$(measure curl -s -o /dev/null "${small_urls[@]}")"
tls_base=https://127.0.0.1:$tls_port
tls_urls=()
for _ in $(seq 2000); do tls_urls+=("$tls_base/small.txt"); done
ca=(--cacert "$work/cert.pem")
check_size $((1024 * 1024 * 1024)) "$http_get" "${ca[@]}" "$tls_base/big.bin"
check_size $((2000 * 1024)) "$http_get" "${ca[@]}" "${tls_urls[@]}"
report "1 GiB body over https" "$(measure "$http_get" "${ca[@]}" -o /dev/null "$tls_base/big.bin")" \
  "$(measure curl -s "${ca[@]}" -o /dev/null "$tls_base/big.bin")"
report "2000 GETs over https" "$(measure "$http_get" "${ca[@]}" -o /dev/null "${tls_urls[@]}")" \
  "$(measure curl -s "${ca[@]}" -o /dev/null "${tls_urls[@]}")"
report "256 MiB chunked body" "$(measure "$http_get" -o /dev/null "$base/chunked/mid.bin")" \
  "$(measure curl -s -o /dev/null "$base/chunked/mid.bin")"
