#!/usr/bin/env bash
# Builds the release tree and the Debian package build/package/tessaly_VERSION_ARCH.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
cpack --config build/release/CPackConfig.cmake -B build/package >/dev/null
ls build/package/*.deb
