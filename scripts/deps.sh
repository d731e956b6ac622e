#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need,
# only when some are missing. Source it; pass "test" for the test tools too,
# "windows" for the Windows cross-build and Wine instead.
set -euo pipefail

# libisal-dev: ISA-L's inflater, about twice as fast as zlib's for MSZIP
# blocks (optional: without it the build inflates with zlib).
qv_packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev zlib1g-dev
             libisal-dev libssl-dev libgtest-dev googletest python3 fonts-liberation2 fonts-dejavu-core)
if [[ "${1:-}" == "windows" ]]; then
  # MinGW-w64 (POSIX threads), its zlib, GoogleTest's sources to build with
  # it, Wine to run the programs; cabextract and gcab check the cabinets.
  # Wine's SChannel does its TLS with GnuTLS, which Debian's Wine only
  # recommends; pyftpdlib (with python3-openssl, and python3-cryptography for
  # the certificates) is the TLS server the session's tests talk to; nsis
  # makes the installer.
  qv_packages=(cmake ninja-build g++ zlib1g-dev googletest g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
               wine wine64 libgnutls30 cabextract gcab python3 python3-pyftpdlib python3-openssl python3-cryptography
               nsis)
elif [[ "${1:-}" == "test" ]]; then
  # python3-openssl gives pyftpdlib its TLS; python3-cryptography makes the
  # test certificates.
  # bsdutils has script(1), which gives the command-line tests a terminal.
  qv_packages+=(cabextract gcab libarchive-tools 7zip python3-pyftpdlib python3-openssl python3-cryptography
                clang libclang-rt-14-dev xvfb xauth bsdutils)
else
  qv_packages+=(xvfb xauth)
fi

qv_missing=()
for p in "${qv_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    qv_missing+=("$p")
  fi
done
if ((${#qv_missing[@]})); then
  echo "Installing: ${qv_missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${qv_missing[@]}"
fi
