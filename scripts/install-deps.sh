#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build, test and run the project.
# Usage: scripts/install-deps.sh [extra-package ...]
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  dpkg-dev file fakeroot  # the Debian package (cpack)
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev libcpp-httplib-dev libjpeg-dev libssl-dev libpsl-dev publicsuffix
  qt6-base-dev fonts-dejavu-extra
  microsocks nlohmann-json3-dev
  chromium  # the gallery page is checked in a real browser
  clang libclang-rt-14-dev  # the fuzz targets (libFuzzer)
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
