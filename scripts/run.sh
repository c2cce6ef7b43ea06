#!/usr/bin/env bash
# Sets up, builds and starts Tessaly: the windowed program `tessaly` (under xvfb-run when no
# display is found). Arguments are passed to it, e.g. --profile DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
if [ -x build/release/src/app/tessaly ]; then
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "run: no display found; starting under xvfb-run" >&2
    exec xvfb-run -a build/release/src/app/tessaly "$@"
  fi
  exec build/release/src/app/tessaly "$@"
elif [ -x build/release/src/app/tessaly-cli ]; then
  # Built without Qt: the command-line companion is the program.
  [ $# -gt 0 ] || set -- --help
  exec build/release/src/app/tessaly-cli "$@"
else
  echo "run: built the core library in build/release; the program itself is not built yet."
fi
