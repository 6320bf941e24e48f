#!/usr/bin/env bash
# The main job: installs what is missing, builds the Windows programs, and runs them under wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
bash "$root/scripts/build.sh" "$build"

# --- updater walk (kvupdate.exe): begin ---
# Downloads a sample installer from an embedded local server through the proxy settings, shows the
# dialog from the tray, waits for the install prompt and starts the installer, taking pictures of
# the dialog on the way. KV_USE_DISPLAY=1 with a real DISPLAY lets a person watch it instead.
shots="$root/out/screenshots"
mkdir -p "$shots"
(
  . "$root/scripts/wine-session.sh" "$build"
  handshake=$(mktemp -d)
  wine "$build/tests/updater/kvupdatewalk.exe" "Z:${handshake//\//\\}" &
  walk=$!
  for name in 1-downloading 2-ready-to-install; do
    while [ ! -f "$handshake/$name.rect" ] && kill -0 "$walk" 2>/dev/null; do sleep 0.2; done
    [ -f "$handshake/$name.rect" ] || break
    read -r x y w h <"$handshake/$name.rect"
    # The window's pixels reach the X screen a moment later (its label keeps changing while the
    # download runs): wait for the dialog's light face, give the rest a moment, then take it.
    # Wine may change the screen's mode while xwd reads it, which then fails: read it again.
    shoot() {
      for _ in 1 2 3 4 5; do
        xwd -root -silent -display "$DISPLAY" |
          convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage "$handshake/shot.png" && return 0
        sleep 0.2
      done
      return 1
    }
    for _ in $(seq 30); do
      sleep 0.5
      shoot || continue
      [ "$(convert "$handshake/shot.png" -format '%[fx:mean>0.5]' info:)" = 1 ] && break
    done
    sleep 1.5
    shoot
    cp "$handshake/shot.png" "$shots/updater-$name.png"
    touch "$handshake/$name.done"
  done
  wait "$walk"
  rm -rf "$handshake"
)
echo "updater screenshots: $shots"
# --- updater walk (kvupdate.exe): end ---

# ---- The shell extension: register, build the menu through COM, invoke, unregister ----
bash "$root/scripts/main-job-shellext.sh" "$build"
