# Sourced by the runners: gives the build tree its own wine prefix, a virtual display and a
# persistent wineserver for as long as the calling script runs (stopped again on exit).
# Usage: . scripts/wine-session.sh BUILD_DIR
kv_build=$(cd "$1" && pwd)
export WINEPREFIX="$kv_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"

kv_session_end() {
  wineserver -k 2>/dev/null || true
  [ -n "${kv_xvfb_pid:-}" ] && kill "$kv_xvfb_pid" 2>/dev/null || true
}
trap kv_session_end EXIT

if [ -z "${KV_USE_DISPLAY:-}" ]; then
  kv_dpyfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$kv_dpyfile" >/dev/null 2>&1 &
  kv_xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$kv_dpyfile" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$kv_dpyfile")"
  rm -f "$kv_dpyfile"
fi

[ -f "$WINEPREFIX/system.reg" ] || echo "wine: preparing prefix $WINEPREFIX"
# The server needs the prefix's folder to exist; wineboot fills it.
mkdir -p "$WINEPREFIX"
wineserver -p
# Start wine's background services here, with output to nowhere: started by the first test
# instead, they would inherit its output pipe and keep CTest waiting for it to close.
timeout 300 wineboot --init >/dev/null 2>&1 || true
