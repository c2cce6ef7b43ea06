#!/usr/bin/env bash
# Encodes a 1 GiB file as one encrypted section and decodes it again, and prints the peak
# resident set of the process. Sections stream through fixed buffers, so the peak must stay
# far below the file size (target: under 64 MiB).
# Usage: bench/section_memory.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [ ! -x "$build/bench/tessaly-bench-cipher" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target tessaly-bench-cipher
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((1 << 30)) /dev/urandom >"$work/plain"
/usr/bin/time -v "$build/bench/tessaly-bench-cipher" --section-memory "$work/plain" 2>"$work/time.log"
cmp "$work/plain" "$work/plain.decoded" || { echo "section_memory: decoded bytes differ" >&2; exit 1; }
peak_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.log")
elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.log")
echo "section_peak_rss_mib: $((peak_kib / 1024))"
echo "section_encode_decode_1gib_wall: $elapsed"
