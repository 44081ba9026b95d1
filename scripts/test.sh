#!/usr/bin/env bash
# Builds everything and runs the whole test suite, then again under ASan/UBSan,
# then every fuzz target for a short while over its seeds and saved findings.
# Usage: scripts/test.sh [--no-sanitize] [--no-fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DAH_UNITY_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300)
}

sanitize=1 fuzz=1
for arg in "$@"; do
  case $arg in
    --no-sanitize) sanitize=0 ;;
    --no-fuzz) fuzz=0 ;;
    *) echo "usage: scripts/test.sh [--no-sanitize] [--no-fuzz]" >&2; exit 2 ;;
  esac
done

# Debug information would make the first build half as slow again; the
# sanitizer build keeps line tables, which is all its reports need.
run_suite build -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"
if [ "$sanitize" = 1 ]; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DAH_SANITIZE=ON -DAH_BUILD_BENCH=OFF
fi
if [ "$fuzz" = 1 ]; then
  scripts/fuzz.sh 10
fi
