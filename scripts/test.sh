#!/usr/bin/env bash
# The whole test suite: installs what is missing, cross-builds the Windows programs and their tests,
# runs them under wine, then runs the natively built sanitizer tests and a short fuzz run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
bash "$root/scripts/build.sh" "$build"

native="$root/build-native"
(cd "$root" && cmake --preset native-sanitize -B "$native" >/dev/null)
cmake --build "$native" -j"$(nproc)"

log=$(mktemp)
status=0
# CTest starts the build tree's wine session itself (a fixture of every case).
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 2>&1 | tee -a "$log" || status=1
ctest --test-dir "$native" --output-on-failure -j2 --timeout 300 2>&1 | tee -a "$log" || status=1
if [ -x "$root/scripts/fuzz.sh" ]; then bash "$root/scripts/fuzz.sh" "$native" || status=1; fi

# One closing line over both runs.
awk '/tests passed, .* tests failed out of/ { f += $4; t += $NF }
     END { printf "%d passed, %d failed\n", t - f, f }' "$log"
rm -f "$log"
exit $status
