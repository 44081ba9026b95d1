# Sourced by the harvest benchmarks. start_demo_site BUILD_DIR NAME FLAGS...
# builds album-harvest and album-demo-site, makes the scratch folder $work
# (/tmp/NAME.XXXXXX), starts the site there with FLAGS, and sets $command to
# the album-harvest arguments the site prints, after --no-config so that the
# user's config file cannot change a run. Site and folder go when the script
# exits, or with stop_demo_site.
start_demo_site() {
  local build=$1 name=$2
  shift 2
  cmake --build "$build" --target album-harvest album-demo-site >/dev/null
  work=$(mktemp -d "/tmp/$name.XXXXXX")
  site_pid=
  trap '[ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null; rm -rf "$work"' EXIT
  "$build/tools/album-demo-site/album-demo-site" "$@" >"$work/site.txt" 2>&1 &
  site_pid=$!
  for _ in $(seq 100); do [ "$(wc -l <"$work/site.txt")" -ge 2 ] && break; sleep 0.1; done
  command=$(sed -n 2p "$work/site.txt")
  command="--no-config ${command#album-harvest }"
}

stop_demo_site() {
  if [ -n "$site_pid" ]; then
    kill "$site_pid" 2>/dev/null
    wait "$site_pid" 2>/dev/null || true
  fi
  site_pid=
  rm -rf "$work"
}
