#!/usr/bin/env bash
# Runs the HTTPS download tests against a real TLS server on loopback (openssl s_server), with a
# certificate authority made here and trusted only in the build tree's wine prefix.
# Usage: tls-test.sh OUT_DIR TEST_EXE KVTRUSTROOT_EXE WINERUN [OPENSSL]
set -euo pipefail
out=$1 test_exe=$(realpath "$2") trustroot=$(realpath "$3") winerun=$(realpath "$4") openssl=${5:-openssl}
mkdir -p "$out/www/download"
cd "$out"

# The authority and a server certificate for the name "localhost" alone, once per build tree.
if [ ! -f done ]; then
  "$openssl" req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "/O=Korvane Tests/CN=Korvane TLS Test Root" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
    -keyout root.key -out root.pem 2>/dev/null
  "$openssl" req -new -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr 2>/dev/null
  printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' >server.ext
  "$openssl" x509 -req -in server.csr -CA root.pem -CAkey root.key -set_serial 3001 -sha256 -days 3650 \
    -extfile server.ext -out server.pem 2>/dev/null
  "$openssl" x509 -in root.pem -outform DER -out root.cer
  touch done
fi
"$winerun" "$trustroot" 'root.cer'

# s_server -HTTP sends each file as the whole answer: status line and headers included.
"$openssl" rand -out installer.bin 300000
{ printf 'HTTP/1.1 200 OK\r\nContent-Length: 300000\r\nETag: "tls-1"\r\nConnection: close\r\n\r\n'; cat installer.bin; } \
  >www/download/kvsetup.exe

rm -f server.log
(cd www && exec "$openssl" s_server -HTTP -accept 127.0.0.1:0 -cert ../server.pem -key ../server.key \
  >../server.log 2>&1) &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^ACCEPT 127\.0\.0\.1:\([0-9]*\)$/\1/p' server.log 2>/dev/null | head -n1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "tls-test: the TLS server did not start" >&2; cat server.log >&2; exit 1; }

export KV_TLS_PORT=$port KV_TLS_DIR=$(pwd)
"$winerun" "$test_exe"
