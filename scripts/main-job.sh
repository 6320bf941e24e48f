#!/usr/bin/env bash
# The main job: installs what is missing, builds the Windows programs, and runs them under wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
build="$root/build"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"

# ---- The shell extension: register, build the menu through COM, invoke, unregister ----
bash "$root/scripts/main-job-shellext.sh" "$build"
