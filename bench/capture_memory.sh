#!/usr/bin/env bash
# Captures a large file (1 GiB by default) of a Wine-layout profile into a file list block and
# restores it for another user, plain and encrypted, each phase in its own process under
# /usr/bin/time -v, and prints each phase's peak resident memory (target: under 64 MiB).
# Usage: bench/capture_memory.sh [BUILD_DIR] [SIZE_MIB]   (defaults: build/release, 1024)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
size_mib=${2:-1024}
driver=$build/bench/tessaly-bench-capture_memory
if [ ! -x "$driver" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target tessaly-bench-capture_memory
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

roaming=drive_c/users/alice/AppData/Roaming
mkdir -p "$work/from/$roaming"
head -c "${size_mib}M" /dev/urandom >"$work/from/$roaming/big.bin"

# Runs the driver under /usr/bin/time and prints "<label>_peak_rss_mib: N" and the wall time.
measure() {
  local label=$1
  shift
  /usr/bin/time -v "$driver" "$@" >"$work/out.log" 2>"$work/time.log" || {
    cat "$work/out.log" "$work/time.log" >&2; echo "capture_memory: $label failed" >&2; exit 1; }
  local peak_kib elapsed
  peak_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.log")
  elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.log")
  echo "${label}_peak_rss_mib: $((peak_kib / 1024))  (wall $elapsed)"
}

for mode in plain encrypted; do
  measure "capture_${mode}_${size_mib}mib" capture "$work/from" alice \
    'C:\users\alice\AppData\Roaming\big.bin' "$work/block" "$mode"
  measure "restore_${mode}_${size_mib}mib" restore "$work/to" bob "$work/block" "$mode"
  cmp "$work/from/$roaming/big.bin" "$work/to/drive_c/users/bob/AppData/Roaming/big.bin" || {
    echo "capture_memory: the restored file differs ($mode)" >&2; exit 1; }
  rm -rf "$work/block" "$work/to"
done
