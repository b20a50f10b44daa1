#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and benchmarking
# Versewell need. Idempotent: packages already present are left alone, and
# apt-get runs only when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config clang libclang-rt-14-dev
  libboost-regex1.81-dev
  libcurl4-openssl-dev
  libssl-dev openssl
  libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  libtag1-dev
  flac vorbis-tools opus-tools lame
  python3 curl
  python3-lxml
)
# `install-deps.sh windows`: the Windows cross build and its test run instead
# (mingw-w64 with the posix thread model, Wine for the x86_64 tests, the
# GoogleTest sources to build with mingw, and clang, lld-link and llvm-nm for
# the test host built in Microsoft's C++ ABI, tests/msabi_host).
if [ "${1:-}" = windows ]; then
  PACKAGES=(
    cmake python3 libboost-regex1.81-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine64 googletest clang-14 lld llvm-14
  )
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
