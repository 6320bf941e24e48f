#!/usr/bin/env bash
# Makes the signed programs the signature tests run, at test time, into OUT_DIR of the build tree:
# a trusted test root and an untrusted one, the publisher's certificate (and a renewal of it),
# another maker's certificate and a spoof of the publisher's subject from the untrusted root; then
# kvupdate.exe signed by the publisher (and by the spoof) and installers (the recording stand-in) signed in each way.
# Also, from the trusted root: the publisher's names in another string encoding, an extended-validation
# style subject of the publisher, another organisation under the publisher's common name, and one
# whose revocation list is out of reach (its address a closed local port).
# Installers are the stand-in as a newer release than the product (kvrecorder-newer.exe beside
# KVRECORDER_EXE) unless named for another release: older, equal, or without a version resource.
# Also the signed kvupdate.exe with its signature damaged in two ways, the table still there.
# The trusted root is added to the ROOT store of the build tree's wine prefix, nowhere else.
# Usage: make-signed-installers.sh OUT_DIR KVUPDATE_EXE KVRECORDER_EXE KVTRUSTROOT_EXE WINERUN [OPENSSL OSSLSIGNCODE]
set -euo pipefail
out=$1 kvupdate=$(realpath "$2") recorder=$(realpath "$3") trustroot=$(realpath "$4") winerun=$(realpath "$5")
recorders=$(dirname "$recorder") newer=$(dirname "$recorder")/kvrecorder-newer.exe
openssl=${6:-openssl} osslsigncode=${7:-osslsigncode}
publisher="/C=NO/O=Halden Forge/CN=Halden Forge"
mkdir -p "$out/certs"
cd "$out"

# A code-signing certificate's extensions, the same for every signer.
signer_lines='basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid'
cat >certs/ext.cnf <<CNF
[req]
distinguished_name=dn
[dn]
[root]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
[signer]
$signer_lines
[offline]
$signer_lines
crlDistributionPoints=URI:http://127.0.0.1:1/trusted-root.crl
CNF
# PrintableString where the default is UTF8String.
sed 's/^distinguished_name=dn$/&\nstring_mask=nombstr/' certs/ext.cnf >certs/ext-printable.cnf

root() { # name subject
  "$openssl" req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -subj "$2" \
    -config certs/ext.cnf -extensions root \
    -keyout "certs/$1.key" -out "certs/$1.pem" 2>/dev/null
}
signer() { # name subject issuer serial [extensions [request-config]]
  "$openssl" req -new -newkey rsa:2048 -nodes -config "certs/${6:-ext.cnf}" -subj "$2" -keyout "certs/$1.key" -out "certs/$1.csr" 2>/dev/null
  "$openssl" x509 -req -in "certs/$1.csr" -CA "certs/$3.pem" -CAkey "certs/$3.key" -set_serial "$4" -sha256 \
    -days 3650 -extfile certs/ext.cnf -extensions "${5:-signer}" -out "certs/$1.pem" 2>/dev/null
}

# Certificates once per build tree: the prefix keeps trusting the same root across runs.
if [ ! -f certs/done ]; then
  root trusted-root "/O=Korvane Tests/CN=Korvane Test Root"
  root untrusted-root "/O=Korvane Tests/CN=Korvane Untrusted Root"
  signer publisher "$publisher" trusted-root 1001
  signer publisher-renewed "$publisher" trusted-root 1002
  signer other "/C=NO/O=Other Maker/CN=Other Maker" trusted-root 1003
  signer spoof "$publisher" untrusted-root 2001
  cat certs/spoof.pem certs/untrusted-root.pem >certs/spoof-chain.pem
  "$openssl" x509 -in certs/trusted-root.pem -outform DER -out certs/trusted-root.cer
  touch certs/done
fi
if [ ! -f certs/done-names-offline ]; then
  signer publisher-printable "$publisher" trusted-root 1004 signer ext-printable.cnf
  signer publisher-ev "/jurisdictionC=NO/businessCategory=Private Organization/serialNumber=912345678$publisher" \
    trusted-root 1005
  signer other-same-cn "/C=NO/O=Other Maker/CN=Halden Forge" trusted-root 1006
  signer offline "$publisher" trusted-root 1007 offline
  touch certs/done-names-offline
fi
if [ ! -f certs/done-case-country ]; then
  # A renewal whose names differ from the publisher's in case alone; the publisher's names in
  # another country, and with none.
  signer publisher-case "/C=no/O=HALDEN FORGE/CN=halden forge" trusted-root 1008
  signer publisher-other-country "/C=SE/O=Halden Forge/CN=Halden Forge" trusted-root 1009
  signer publisher-no-country "/O=Halden Forge/CN=Halden Forge" trusted-root 1010
  touch certs/done-case-country
fi
(cd "$out" && "$winerun" "$trustroot" 'certs\trusted-root.cer')

sign() { # name cert-file key in out
  rm -f "$5"
  "$osslsigncode" sign -certs "certs/$2" -key "certs/$3" -h sha256 -n "$1" -in "$4" -out "$5" >/dev/null
}
sign "Korvane Updater" publisher.pem publisher.key "$kvupdate" kvupdate-signed.exe
sign "Korvane Updater" spoof-chain.pem spoof.key "$kvupdate" kvupdate-untrusted.exe
sign "Korvane Setup" publisher-renewed.pem publisher-renewed.key "$newer" installer-good.exe
sign "Korvane Setup" publisher-printable.pem publisher-printable.key "$newer" installer-printable.exe
sign "Korvane Setup" publisher-ev.pem publisher-ev.key "$newer" installer-ev.exe
sign "Korvane Setup" publisher-case.pem publisher-case.key "$newer" installer-case.exe
sign "Other Setup" other.pem other.key "$newer" installer-other.exe
sign "Korvane Setup" spoof-chain.pem spoof.key "$newer" installer-spoof.exe
sign "Korvane Setup" publisher-renewed.pem publisher-renewed.key "$recorders/kvrecorder-older.exe" installer-older.exe
sign "Korvane Setup" publisher-renewed.pem publisher-renewed.key "$recorders/kvrecorder-equal.exe" installer-equal.exe
sign "Korvane Setup" publisher-renewed.pem publisher-renewed.key "$recorder" installer-noversion.exe
cp "$newer" installer-unsigned.exe

# The signed updater's certificate table (the security entry of the optional header's data
# directories; its address is a file offset), damaged in place: the PKCS#7's first byte zeroed, and
# the WIN_CERTIFICATE's length cut to 4.
le32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
put() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; }
pe=$(le32 kvupdate-signed.exe 60)
magic=$(od -An -tu2 -j$((pe + 24)) -N2 kvupdate-signed.exe | tr -d ' ')
directories=$([ "$magic" = 267 ] && echo 96 || echo 112) # PE32 (0x10b) or PE32+
table=$(le32 kvupdate-signed.exe $((pe + 24 + directories + 4 * 8)))
cp kvupdate-signed.exe kvupdate-garbled.exe
put kvupdate-garbled.exe $((table + 8)) '\x00'
cp kvupdate-signed.exe kvupdate-cut.exe
put kvupdate-cut.exe "$table" '\x04\x00\x00\x00'

# A folder reached through a link, for an update path with a link on it: wine shows a Unix
# symbolic link to a folder as a reparse point, as Windows shows a junction (wine makes neither).
mkdir -p linked-target/AppData
ln -sfn linked-target linked

# One byte in the middle of the signed program's code, inverted.
cp installer-good.exe installer-flipped.exe
offset=$(($(stat -c %s installer-flipped.exe) / 2))
byte=$(od -An -tu1 -j"$offset" -N1 installer-flipped.exe | tr -d ' ')
printf "\\x$(printf %02x $((byte ^ 255)))" | dd of=installer-flipped.exe bs=1 seek="$offset" conv=notrunc 2>/dev/null

"$osslsigncode" verify -CAfile certs/trusted-root.pem -in kvupdate-signed.exe >/dev/null
"$osslsigncode" verify -CAfile certs/trusted-root.pem -in installer-good.exe >/dev/null
