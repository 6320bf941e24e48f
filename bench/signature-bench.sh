#!/usr/bin/env bash
# Signature check benchmark: a 10 MiB installer signed by the test publisher, checked by the
# updater's check in a program signed by the same publisher.
# Usage: bash bench/signature-bench.sh [BUILD_DIR]   (the build must exist)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
. "$root/scripts/wine-session.sh" "$build"
signing="$build/bench/signing"
bash "$root/tests/support/make-signed-installers.sh" "$signing" "$build/Update/kvupdate.exe" \
  "$build/tests/support/kvrecorder.exe" "$build/tests/support/kvtrustroot.exe" "$root/scripts/winerun"
cd "$signing"
# The stand-in, as a newer release than the product, with 10 MiB of data behind its sections, all
# of it under the signature's hash.
cp "$build/tests/support/kvrecorder-newer.exe" big.exe
head -c $((10 << 20)) /dev/urandom >>big.exe
rm -f installer-10mib.exe signature_bench.exe
osslsigncode sign -certs certs/publisher.pem -key certs/publisher.key -h sha256 -n "Korvane Setup" \
  -in big.exe -out installer-10mib.exe >/dev/null
osslsigncode sign -certs certs/publisher.pem -key certs/publisher.key -h sha256 -n "Signature bench" \
  -in "$build/bench/signature_bench.exe" -out signature_bench.exe >/dev/null
rm -f big.exe
wine signature_bench.exe installer-10mib.exe installer-good.exe | tr -d '\r'
