# Sourced by the scripts that need the demo service.
#   dorvane_demo_start BIN LOG [OPTION...]  starts BIN (dorvane-demo-service) on 127.0.0.1 at a free
#                         port, its log (stderr) in LOG; waits for "listening on URL" and sets
#                         $dorvane_demo_url and $dorvane_demo_pid. Returns 1 (log on stderr) when it
#                         does not start.
#   dorvane_demo_stop     stops it (safe to call twice, or when it never started).
dorvane_demo_pid=""
dorvane_demo_url=""

dorvane_demo_start() {
  local bin="$1" log="$2"
  shift 2
  "$bin" --host 127.0.0.1 --port 0 "$@" >"$log.out" 2>"$log" &
  dorvane_demo_pid=$!
  dorvane_demo_url=""
  for _ in $(seq 100); do
    dorvane_demo_url="$(sed -n 's/^listening on \(http:[^ ]*\)$/\1/p' "$log.out" 2>/dev/null | head -n 1)"
    [ -n "$dorvane_demo_url" ] && return 0
    kill -0 "$dorvane_demo_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "the demo service did not start:" >&2
  cat "$log" >&2
  dorvane_demo_stop
  return 1
}

dorvane_demo_stop() {
  if [ -n "$dorvane_demo_pid" ] && kill -0 "$dorvane_demo_pid" 2>/dev/null; then
    kill "$dorvane_demo_pid" 2>/dev/null || true
    wait "$dorvane_demo_pid" 2>/dev/null || true
  fi
  dorvane_demo_pid=""
  return 0
}
