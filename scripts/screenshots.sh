#!/usr/bin/env bash
# Renders every dialog offscreen into PNG files, to check the layouts by eye.
# Usage: scripts/screenshots.sh [folder]   (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-build/screenshots}
[ -d build/test ] || scripts/setup.sh test
cmake --build build/test --target tessaly-render-windows
mkdir -p "$folder"
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 build/test/tests/ui/tessaly-render-windows "$folder"
echo "screenshots in $folder"
