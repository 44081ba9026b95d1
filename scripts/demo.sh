#!/usr/bin/env bash
# Builds the harvest core and runs its example: a two-page album from an
# in-memory site, images from a local server on 127.0.0.1, saved into a
# fresh folder (or the folder given as the first argument).
# Usage: scripts/demo.sh [output-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target harvest-example >/dev/null
exec build/app/example/harvest-example "$@"
