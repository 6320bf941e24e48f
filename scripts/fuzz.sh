#!/usr/bin/env bash
# A short libFuzzer run over the registrar (at most 60 s), starting from the seed corpus kept in
# tests/registrar/fuzz-corpus. Usage: scripts/fuzz.sh BUILD_NATIVE_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fuzzer="$1/tests/native/registrar_fuzz"
[ -x "$fuzzer" ] || fuzzer="$1/registrar_fuzz"
if [ ! -x "$fuzzer" ]; then echo "fuzz: no registrar_fuzz in $1 (not a clang build)"; exit 0; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log="$work/fuzz.log"
status=0
"$fuzzer" -max_total_time="${KV_FUZZ_SECONDS:-60}" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$work/" "$work" "$root/tests/registrar/fuzz-corpus" >"$log" 2>&1 || status=$?
grep -E '^(#[0-9]+[[:space:]]+DONE|Done [0-9]+ runs)' "$log" || tail -n 5 "$log"
if [ $status -ne 0 ]; then
  echo "fuzz: FAILED (exit $status)"; tail -n 40 "$log"
  for f in "$work"/crash-* "$work"/leak-* "$work"/timeout-*; do [ -e "$f" ] && { echo "input: $f"; od -c "$f" | head -20; }; done
  exit $status
fi
echo "fuzz: no finding"
