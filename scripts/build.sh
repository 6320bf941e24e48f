#!/usr/bin/env bash
# Installs what is missing, then cross-builds the Windows programs, their tests and benchmarks, and
# the two deliverables for 32-bit Windows beside them (BUILD_DIR-i686, compile and link only).
# Usage: build.sh [BUILD_DIR]   (default: build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
build=$(realpath -m "${1:-$root/build}")
# The mingw-release preset (CMakePresets.json), into the given folder.
(cd "$root" && cmake --preset mingw-release -B "$build" >/dev/null)
cmake --build "$build" -j"$(nproc)"
bash "$root/scripts/build-i686.sh" "${build%/}-i686"
