#!/usr/bin/env bash
# The 32-bit (i686) deliverables, which a 32-bit program's file dialogs need on 64-bit Windows:
# kvupdate.exe and KorvaneShellExt.dll, cross-built into their own tree as a compile-and-link
# check. This machine cannot run 32-bit code, so nothing of this tree is run or tested here.
# Usage: build-i686.sh [BUILD_DIR]   (default: build-i686/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-i686}
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF --no-warn-unused-cli >/dev/null
cmake --build "$build" -j"$(nproc)" --target kvupdate KorvaneShellExt

# The COM runtime finds the exports by their plain names; a 32-bit stdcall export that kept its
# decoration (DllCanUnloadNow@0) would not be found.
dll="$build/ShellExt/KorvaneShellExt.dll"
exports=$(i686-w64-mingw32-objdump -p "$dll" |
  awk '/\[Ordinal\/Name Pointer\] Table/ { t = 1; next } t && /^[ \t]*\[/ { print $NF } t && /^$/ { t = 0 }' | sort | xargs)
expected="DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer"
if [ "$exports" != "$expected" ]; then
  echo "build-i686: KorvaneShellExt.dll exports '$exports', expected '$expected'" >&2
  exit 1
fi
# Each deliverable is one self-contained file: no mingw runtime DLL may be needed beside it.
for f in "$build/Update/kvupdate.exe" "$dll"; do
  if i686-w64-mingw32-objdump -p "$f" | grep -Ei 'DLL Name: (libgcc|libstdc|libwinpthread)'; then
    echo "build-i686: $f needs a mingw runtime DLL" >&2
    exit 1
  fi
done
echo "32-bit deliverables built and linked (not run: this machine cannot run 32-bit code):"
echo "  $build/Update/kvupdate.exe (its 88-byte notification record checked at compile time)"
echo "  $dll (exports: $exports)"
