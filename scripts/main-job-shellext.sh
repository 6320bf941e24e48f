#!/usr/bin/env bash
# The extension's part of the main job: registers KorvaneShellExt.dll with wine's regsvr32, builds
# the context menu for a sample selection through COM as Explorer would, prints the items and their
# help texts, invokes "Compare As Text" so that a sample comparison program prints the command line
# it received, prints the titles the Windows 11 command shows for the same two files, and
# unregisters. The host pops each menu up as Explorer shows it; its pictures land
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
# The host saves the shown popup as a bitmap file; kept as PNG like the updater's pictures.
keep_shot() { convert "BMP:$work/menu.bmp" "$shots/$1.png" && rm -f "$work/menu.bmp"; }
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
wine "$host" "$(winpath "$work/old.txt")" "$(winpath "$work/new.txt")" /shot "$(winpath "$work/menu.bmp")" \
  /invoke "Compare As Text" | tr -d '\r'
keep_shot shellext-menu-two-files
# The comparison program runs on its own; wait for what it recorded.
for _ in $(seq 100); do [ -s "$work/record.txt" ] && break; sleep 0.1; done
echo "== the comparison program received:"
tr -d '\r' <"$work/record.txt"

echo "== Windows 11 command for the same two files"
wine "$host" /command "$(winpath "$work/old.txt")" "$(winpath "$work/new.txt")" | tr -d '\r'

echo "== context menu for $(winpath "$work/new.txt") with $(winpath "$work/old.txt") remembered"
wine reg add "$key" /v FirstSelection /t REG_SZ /d "$(winpath "$work/old.txt")" /f >/dev/null
wine "$host" "$(winpath "$work/new.txt")" /shot "$(winpath "$work/menu.bmp")" | tr -d '\r'
keep_shot shellext-menu-one-file
wine reg add "$key" /v FirstSelection /t REG_SZ /d "" /f >/dev/null
echo "menu screenshots: $shots/shellext-menu-two-files.png, $shots/shellext-menu-one-file.png"

echo "== regsvr32 /u KorvaneShellExt.dll"
wine regsvr32 /s /u "$dll" && echo "unregistered"
rm -rf "$work"
