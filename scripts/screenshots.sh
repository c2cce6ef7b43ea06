#!/usr/bin/env bash
# Renders every window offscreen into PNG files, to check the layouts by eye: on a 1440x900
# screen at 1x, at 2x (720x450 in the windows' own pixels) and on a dark palette.
# Usage: scripts/screenshots.sh [folder]   (default: build/screenshots; one subfolder each)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-build/screenshots}
[ -d build/test ] || scripts/setup.sh test
cmake --build build/test --target tessaly-render-windows
render() {  # subfolder, then environment settings
  local out="$folder/$1"
  shift
  mkdir -p "$out"
  env "$@" QT_QPA_PLATFORM="offscreen:configfile=$PWD/tests/ui/screen-1440x900.json" ASAN_OPTIONS=detect_leaks=0 \
    build/test/tests/ui/tessaly-render-windows "$out"
}
render 1x QT_SCALE_FACTOR=1
render 2x QT_SCALE_FACTOR=2
render dark QT_SCALE_FACTOR=1 TESSALY_RENDER_DARK=1
echo "screenshots in $folder/1x, $folder/2x and $folder/dark"
