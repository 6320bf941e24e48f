#!/usr/bin/env bash
# Download benchmark: a 256 MiB body from a loopback server, fetched by the worker, by a bare loop
# of 4096-byte WinInet reads, by that loop with one cross-thread message round trip per chunk (the
# floor for the whole program, whose worker waits for each report) and by curl; then the peak
# working sets of the worker and of the whole program at 16 and 256 MiB.
# Usage: bash bench/download-bench.sh [BUILD_DIR]   (the build must exist)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
. "$root/scripts/wine-session.sh" "$build"
work=$(mktemp -d)
cleanup_bench() { [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"; "$kv_root/scripts/winesession" stop "$kv_build"; }
trap cleanup_bench EXIT

start_server() { # FILE
  rm -f "$work/port"
  wine "$build/tests/support/kvtestserver.exe" --file "$(winepath -w "$1")" \
    --port-file "$(winepath -w "$work/port")" >/dev/null &
  server_pid=$!
  for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
  port=$(tr -d '\r\n' <"$work/port")
  export http_proxy="http://127.0.0.1:$port"
}
stop_server() { kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true; server_pid=; }
url="http://download.haldenforge.com/download/kvsetup.exe"
bench() { wine "$build/bench/download_bench.exe" "$@" | tr -d '\r'; }

head -c $((256 << 20)) /dev/urandom >"$work/body256"
head -c $((16 << 20)) /dev/urandom >"$work/body16"
out=$(winepath -w "$work/out.exe")

start_server "$work/body256"
curl_bps=$(curl -s --noproxy '*' -o /dev/null -w '%{speed_download}' "http://127.0.0.1:$port/download/kvsetup.exe")
read -r _ _ _ plain_mbs _ < <(bench plain "$url")
read -r _ _ _ worker_mbs ws256 < <(bench worker "$url" "$out")
cmp -s "$work/body256" "$work/out.exe" || { echo "worker's file differs from the body" >&2; exit 1; }
stop_server
# The whole program (kvupdate.exe with its window updates) and its floor, on a fresh server.
start_server "$work/body256"
read -r _ _ _ floor_mbs _ < <(bench floor "$url")
read -r _ _ _ label_mbs _ < <(bench label "$url")
read -r _ _ _ program_mbs pws256 < <(wine "$build/bench/program_bench.exe" $((256 << 20)) | tr -d '\r')
stop_server
start_server "$work/body16"
read -r _ _ _ _ pws16 < <(wine "$build/bench/program_bench.exe" $((16 << 20)) | tr -d '\r')
stop_server
start_server "$work/body16"
read -r _ _ _ _ ws16 < <(bench worker "$url" "$out")
stop_server

awk -v c="$curl_bps" -v p="$plain_mbs" -v w="$worker_mbs" -v a="$ws16" -v b="$ws256" 'BEGIN {
  c /= 1e6
  printf "256 MiB from loopback:\n  curl        %8.1f MB/s\n  plain loop  %8.1f MB/s (4096-byte WinInet reads)\n  worker      %8.1f MB/s\n", c, p, w
  printf "  worker/plain loop %.2f (target >= 0.90)\n  worker/curl       %.3f\n", w / p, w / c
  printf "worker peak working set: 16 MiB body %.1f MiB, 256 MiB body %.1f MiB, difference %.2f MiB (target <= 1)\n",
    a / 1048576, b / 1048576, (b - a) / 1048576
}'
awk -v p="$plain_mbs" -v f="$floor_mbs" -v l="$label_mbs" -v g="$program_mbs" -v c="$curl_bps" -v a="$pws16" -v b="$pws256" 'BEGIN {
  printf "  floor       %8.1f MB/s (plain loop + one cross-thread message round trip per chunk)\n", f
  printf "  floor+label %8.1f MB/s (the floor, each answer also setting a hidden label text)\n", l
  printf "  program     %8.1f MB/s (kvupdate.exe, window updates included)\n", g
  printf "  program/floor      %.2f (target >= 0.90)\n  program/floor+label %.2f\n  program/plain loop %.2f\n  program/curl       %.3f\n",
    g / f, g / l, g / p, g / (c / 1e6)
  printf "program peak working set: 16 MiB body %.1f MiB, 256 MiB body %.1f MiB, difference %.2f MiB (target: flat)\n",
    a / 1048576, b / 1048576, (b - a) / 1048576
}'
