#!/usr/bin/env bash
# The extension's part of the main job: registers KorvaneShellExt.dll with wine's regsvr32, builds
# the context menu for a sample selection through COM as Explorer would, prints the items and their
# help texts, invokes "Compare As Text" so that a sample comparison program prints the command line
# it received, prints the titles the Windows 11 command shows for the same two files, and
# unregisters. The host pops each menu up as Explorer shows it; the display's pictures of them land
# beside the updater's in out/screenshots/. Usage: main-job-shellext.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wine-session.sh" "$build"

winpath() { echo "Z:${1//\//\\}"; }
dll=$(winpath "$build/ShellExt/KorvaneShellExt.dll")
host="$build/tests/comserver-e2e/kvmenuhost.exe"
sample=$(winpath "$build/tests/comserver-e2e/kvsamplecompare.exe")
work=$(mktemp -d)
shots="$root/out/screenshots"
mkdir -p "$shots"
# The popup as the display shows it. The host (/screen) writes where the popup is to popup.rect and
# holds the menu open until popup.done appears. Wine 8 puts a popup whose items carry bitmaps on the
# X display only as the menu closes (its own copies of it miss the texts and frame), so the screen
# is read over and over from the moment the host is told to close it; the read kept is the last
# one that shows the menu, once two agree or the popup is gone.
shoot_popup() {
  local name=$1 x y w h kept=''
  for _ in $(seq 300); do [ -s "$work/popup.rect" ] && break; sleep 0.1; done
  if ! read -r x y w h <"$work/popup.rect"; then
    echo "no popup was shown" >&2
    return 1
  fi
  touch "$work/popup.done"
  for _ in $(seq 200); do
    xwd -root -silent -display "$DISPLAY" | convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage "$work/shot.ppm" ||
      continue
    if [ "$(convert "$work/shot.ppm" -format %k info:)" -gt 8 ]; then
      [ -n "$kept" ] && cmp -s "$work/shot.ppm" "$work/kept.ppm" && break
      mv "$work/shot.ppm" "$work/kept.ppm"
      kept=1
    elif [ -n "$kept" ]; then
      break
    fi
  done
  rm -f "$work/popup.rect" "$work/shot.ppm"
  if [ -z "$kept" ]; then
    echo "the popup never showed on the display" >&2
    return 1
  fi
  convert "$work/kept.ppm" "$shots/$name.png"
  rm -f "$work/kept.ppm"
}
printf 'first line\nsame\n' >"$work/old.txt"
printf 'first line\nchanged\n' >"$work/new.txt"

echo "== regsvr32 KorvaneShellExt.dll"
wine regsvr32 /s "$dll" && echo "registered"
key='HKCU\Software\Halden Forge\Korvane'
wine reg add "$key" /v ContextMenuEnabled /t REG_DWORD /d 1 /f >/dev/null
wine reg add "$key" /v Korvane /t REG_SZ /d "$sample" /f >/dev/null
wine reg add "$key" /v FirstSelection /t REG_SZ /d "" /f >/dev/null

echo "== context menu for $(winpath "$work/old.txt") and $(winpath "$work/new.txt")"
export KV_RECORD_FILE
KV_RECORD_FILE=$(winpath "$work/record.txt")
wine "$host" "$(winpath "$work/old.txt")" "$(winpath "$work/new.txt")" /screen "$(winpath "$work/popup")" \
  /invoke "Compare As Text" | tr -d '\r' &
shoot_popup shellext-menu-two-files
wait $!
rm -f "$work/popup.done"
# The comparison program runs on its own; wait for what it recorded.
for _ in $(seq 100); do [ -s "$work/record.txt" ] && break; sleep 0.1; done
echo "== the comparison program received:"
tr -d '\r' <"$work/record.txt"

echo "== Windows 11 command for the same two files"
wine "$host" /command "$(winpath "$work/old.txt")" "$(winpath "$work/new.txt")" | tr -d '\r'

echo "== context menu for $(winpath "$work/new.txt") with $(winpath "$work/old.txt") remembered"
wine reg add "$key" /v FirstSelection /t REG_SZ /d "$(winpath "$work/old.txt")" /f >/dev/null
wine "$host" "$(winpath "$work/new.txt")" /screen "$(winpath "$work/popup")" | tr -d '\r' &
shoot_popup shellext-menu-one-file
wait $!
rm -f "$work/popup.done"
wine reg add "$key" /v FirstSelection /t REG_SZ /d "" /f >/dev/null
echo "menu screenshots: $shots/shellext-menu-two-files.png, $shots/shellext-menu-one-file.png"

echo "== regsvr32 /u KorvaneShellExt.dll"
wine regsvr32 /s /u "$dll" && echo "unregistered"
rm -rf "$work"
