#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine, then configures
# and builds. proftpd and pure-ftpd, which conflict with vsftpd as packages, are unpacked
# by their tests into the build folder; only their libraries are installed here.
# Usage: scripts/setup.sh [release|test]
#   release  optimised build in build/release (the program and the benchmarks)
#   test     AddressSanitizer + UndefinedBehaviorSanitizer build in build/test
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libisal-dev libssl-dev libjpeg-dev qt6-base-dev libchm-dev fp-utils
  clang libclang-rt-14-dev
  python3 python3-pyftpdlib vsftpd openssl curl time pigz strace
  libmemcached11 libmemcachedutil2 libpcre2-posix3 libhiredis0.14 libsodium23
  wine wine64 xvfb xauth attr xdotool scrot
  dpkg-dev desktop-file-utils appstream man-db file shared-mime-info
  undbx python3-vobject
  libhivex-dev libhivex-bin libwin-hivex-perl python3-hivex
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

case "$kind" in
  release) cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_TESTS=OFF >/dev/null
           cmake --build build/release ;;
  test)    cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON -DTESSALY_BENCH=OFF >/dev/null
           cmake --build build/test ;;
  *) echo "usage: scripts/setup.sh [release|test]" >&2; exit 2 ;;
esac
