#!/usr/bin/env bash
# The programs as users install them: `cmake --install` into a temporary
# DESTDIR, the installed album-harvest harvesting the demo site, and the
# Debian package that cpack builds, with what it holds and declares.
# Usage: installed_harvest.sh BUILD_DIR ALBUM_DEMO_SITE WITH_WINDOW(0|1)
set -euo pipefail
build=$1 site=$2 with_window=$3
work=$(mktemp -d /tmp/ah-install.XXXXXX)
# The user's own config file stays out of the run.
export XDG_CONFIG_HOME="$work/no-config"
site_pid=
cleanup() {
  if [ -n "$site_pid" ]; then kill "$site_pid" 2>/dev/null || true; wait "$site_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "$*"; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >"$work/install.txt"
installed=(usr/bin/album-harvest)
[ "$with_window" = 1 ] && installed+=(usr/bin/album-harvester usr/share/applications/album-harvester.desktop)
for f in "${installed[@]}"; do
  [ -f "$work/root/$f" ] || fail "not installed: /$f"
done
"$work/root/usr/bin/album-harvest" --version | grep -q "^album-harvest [0-9]" || fail "no version"

"$site" --pages 3 --photos-per-page 4 >"$work/site.txt" 2>&1 &
site_pid=$!
for _ in $(seq 100); do
  [ "$(wc -l <"$work/site.txt")" -ge 2 ] && break
  sleep 0.1
done
command=$(sed -n 2p "$work/site.txt")
eval "args=(${command#album-harvest })"
status=0
(cd "$work" && "$work/root/usr/bin/album-harvest" "${args[@]}") >"$work/log.txt" 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "the installed album-harvest exited $status: $(cat "$work/log.txt")"
# The default output folder is the current one.
images=$(find "$work" -path "$work/root" -prune -o -name '*.jpg' -size +1k -print | wc -l)
[ "$images" -eq 12 ] || fail "expected 12 images, got $images"

if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.txt" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.txt")"
  deb=$(ls "$work"/package/album-harvester_*.deb)
  [ "$(dpkg-deb -f "$deb" Package)" = album-harvester ] || fail "package name"
  dpkg-deb -f "$deb" Depends | grep -q libcurl || fail "no libcurl in Depends: $(dpkg-deb -f "$deb" Depends)"
  listing=$(dpkg-deb -c "$deb")
  for f in "${installed[@]}"; do
    grep -q " \./$f\$" <<<"$listing" || fail "not in the package: /$f"
  done
  dpkg-deb -x "$deb" "$work/unpacked"
  "$work/unpacked/usr/bin/album-harvest" --version | grep -q "^album-harvest [0-9]" ||
    fail "the packaged album-harvest does not run"
fi
echo "1 passed, 0 failed"
