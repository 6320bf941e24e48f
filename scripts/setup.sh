#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the project; does nothing when
# everything is there already.
set -euo pipefail
packages=(
  cmake make g++ clang libclang-rt-14-dev      # native registrar build: sanitizers and libFuzzer
  g++-mingw-w64-x86-64 mingw-w64-tools          # cross compilers (posix variant), windres, widl
  libwine-dev wine wine64                       # IDL imports for widl; the Windows runtime
  xvfb x11-apps imagemagick                     # virtual display, xwd screenshots, PNG conversion
  googletest curl procps                        # test framework sources; benchmark peer
  openssl osslsigncode                          # test certificates and Authenticode signatures
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
