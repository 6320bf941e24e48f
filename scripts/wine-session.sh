# Sourced by scripts that run wine themselves: starts the build tree's wine session
# (scripts/winesession: own prefix, virtual display, persistent wineserver) for as long as the
# sourcing shell runs, and exports what wine needs to find it. CTest needs none of this: it starts
# the session itself.
# Usage: . scripts/wine-session.sh BUILD_DIR
kv_build=$(cd "$1" && pwd)
kv_root=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$kv_build/CMakeCache.txt")
. "$kv_root/scripts/wine-env.sh"
"$kv_root/scripts/winesession" start "$kv_build"
export WINEPREFIX="$kv_build/wineprefix"
export DISPLAY
DISPLAY=$(sed -n 's/^kv_display=//p' "$kv_build/wine-session")
trap '"$kv_root/scripts/winesession" stop "$kv_build"' EXIT
