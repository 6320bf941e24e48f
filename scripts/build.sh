#!/usr/bin/env bash
# Installs what is missing, then cross-builds the Windows programs, their tests and benchmarks.
# Usage: build.sh [BUILD_DIR]   (default: build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
build=$(realpath -m "${1:-$root/build}")
# The mingw-release preset (CMakePresets.json), into the given folder.
(cd "$root" && cmake --preset mingw-release -B "$build" >/dev/null)
cmake --build "$build" -j"$(nproc)"
