#!/usr/bin/env bash
# The wine session's life as CTest and the scripts use it: who owns it, who may end it, how the
# emulator finds it, and that it goes once its owner is gone. Real Xvfb and real processes in a
# scratch build tree; wine's own tools are recording stand-ins, so the tree's real prefix and
# server are never touched.
# Usage: winesession-test.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
src=$1
tree=$2
ws="$src/scripts/winesession"
rm -rf "$tree"
mkdir -p "$tree/bin"
touch "$tree/CMakeCache.txt"
log="$tree/calls"
for tool in wine wineserver wineboot; do
  cat >"$tree/bin/$tool" <<STUB
#!/bin/sh
echo "$tool \$* DISPLAY=\${DISPLAY:-} WINEPREFIX=\$WINEPREFIX WINEDLLOVERRIDES=\$WINEDLLOVERRIDES LC_ALL=\${LC_ALL:-} TZ=\${TZ:-} http_proxy=\${http_proxy:-}" >>"$log"
# A server runs already for the next -p: the emulator must then leave the services alone.
[ "$tool" = wineserver ] && [ "\$1" = -p10 ] && [ -f "$tree/server-up" ] && exit 2
[ "$tool" = wineserver ] && touch "$tree/server-up"
exit 0
STUB
  chmod +x "$tree/bin/$tool"
done
export PATH="$tree/bin:$PATH"
unset KV_USE_DISPLAY WINEPREFIX

failures=0
owner=''
# A run that stops early must not leave an owner behind, nor the session it keeps.
trap 'if [ -n "$owner" ]; then kill "$owner" 2>/dev/null || true; fi' EXIT
check() { # check DESCRIPTION COMMAND...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
field() { sed -n "s/^$1=//p" "$tree/wine-session"; }
alive() { kill -0 "$1" 2>/dev/null; }
# Polls for a state the watchdog reaches on its own; the deadline only bounds a broken run.
eventually() { for _ in $(seq 300); do "$@" && return 0; sleep 0.2; done; return 1; }
gone() { [ ! -f "$tree/wine-session" ] && { [ -z "${1:-}" ] || ! alive "$1"; }; }

# An owner: a shell that starts the session, then stays (as CTest stays after its fixture's setup).
bash -c '"$1" start "$2" >/dev/null && exec sleep 600' owner "$ws" "$tree" &
owner=$!
eventually test -f "$tree/wine-session"
xvfb=$(field kv_xvfb)
display=$(field kv_display)
check "the session records its owner" [ "$(field kv_owner)" = "$owner" ]
check "a virtual display runs for it" alive "$xvfb"
check "the server is made persistent and the services started" \
  grep -q "^wineboot --init DISPLAY=$display WINEPREFIX=$tree/wineprefix WINEDLLOVERRIDES=winedbg.exe=d;" "$log"

# The emulator, run from below the tree with the developer's own DISPLAY, uses the session's.
mkdir -p "$tree/tests/area"
(cd "$tree/tests/area" && DISPLAY=:99 "$src/scripts/winerun" prog.exe --gtest_list_tests)
check "winerun runs the program on the session's display and the tree's prefix" \
  grep -q "^wine prog.exe --gtest_list_tests DISPLAY=$display WINEPREFIX=$tree/wineprefix " "$log"

# A developer's shell (no locale, another zone, a proxy, a prefix of their own) changes nothing.
: >"$log"
(cd "$tree/tests/area" && env -u LANG LC_ALL=POSIX TZ=America/New_York http_proxy=http://proxy.invalid:3128 \
  WINEPREFIX=/root/.wine "$src/scripts/winerun" prog.exe)
check "winerun pins the tree's prefix, the UTF-8 locale and the zone, and drops the caller's proxy" \
  grep -q "^wine prog.exe .* WINEPREFIX=$tree/wineprefix .* LC_ALL=C.UTF-8 TZ=UTC http_proxy=$" "$log"

# Another process (a CTest run inside wine-session.sh) starts and stops: the session stays.
"$ws" start "$tree" | grep -q "already running"
"$ws" stop "$tree"
check "a start and stop by another process leave the session running" \
  eval '[ "$(field kv_owner)" = "$owner" ] && alive "$xvfb"'

# The owner goes without stopping it (an interrupted CTest run): the session goes after it.
: >"$log"
kill "$owner"
check "the session ends once its owner is gone" eventually gone "$xvfb"
check "the server is stopped with it" grep -q "^wineserver -k " "$log"

# Without a session the emulator starts a short-lived server and the services apart from the
# program, once: a server already running is left as it is.
rm -f "$tree/server-up"
: >"$log"
(cd "$tree" && DISPLAY=:99 "$src/scripts/winerun" a.exe && DISPLAY=:99 "$src/scripts/winerun" b.exe)
check "without a session the developer's display is kept" grep -q "^wine a.exe DISPLAY=:99 " "$log"
check "without a session the services start once, with the first server" \
  [ "$(grep -c '^wineboot --init' "$log")" = 1 ]

# KV_USE_DISPLAY: the developer's display, no Xvfb; its absence is an error, not a silent run.
bash -c 'KV_USE_DISPLAY=1 DISPLAY=:42 "$1" start "$2" >/dev/null && exec sleep 600' owner "$ws" "$tree" &
owner=$!
eventually test -f "$tree/wine-session"
check "KV_USE_DISPLAY=1 uses the developer's display" \
  eval '[ "$(field kv_display)" = :42 ] && [ -z "$(field kv_xvfb)" ]'
kill "$owner"
eventually gone
check "KV_USE_DISPLAY=1 without a DISPLAY fails" \
  eval '! KV_USE_DISPLAY=1 DISPLAY= "$ws" start "$tree" 2>/dev/null'

rm -rf "$tree"
echo "$failures failed"
[ "$failures" = 0 ]
