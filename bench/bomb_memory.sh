#!/usr/bin/env bash
# Runs check and restore on data files that inflate to huge registry values, key names,
# strings, value counts and favorites lists, and prints each run's exit code and peak
# resident set. Each must be refused as damaged (exit 1) without the memory the bomb asks
# for: the peak must stay under 64 MiB.
# Usage: bench/bomb_memory.sh [BUILD_DIR] [MIB] [KIND...]   (default build/release, 256, all)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cli=$build/src/app/tessaly-cli
mib=${2:-256}
shift $(($# < 2 ? $# : 2))
if [ ! -x "$cli" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target tessaly-cli
fi
limit_kib=$((64 * 1024))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# BOMBS=DIR keeps the bombs there and reuses them on the next run (making them takes minutes).
bombs=${BOMBS:-$work}
ls "$bombs"/*.tsly_dat >/dev/null 2>&1 || /usr/bin/python3 tests/support/make_bombs.py "$bombs" "$mib" >/dev/null
/usr/bin/python3 scripts/make-sample-profile "$work/profile" --user bomb >/dev/null
failed=0
for bomb in "$bombs"/*.tsly_dat; do
  kind=$(basename "$bomb" .tsly_dat)
  if [ $# -gt 0 ] && [[ " $* " != *" $kind "* ]]; then continue; fi
  for command in check restore; do
    rm -rf "$work/target" && cp -a "$work/profile" "$work/target"
    rc=0
    /usr/bin/time -v "$cli" "$command" "$bomb" --profile "$work/target" >"$work/out" 2>"$work/err" || rc=$?
    peak_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/err")
    peak_kib=${peak_kib:-0}
    message=$(grep -v -e '^\s' -e '^Command' "$work/err" | head -n 1 | cut -c1-110 || true)
    printf '%-10s %-8s %5s KiB file %6d MiB peak  exit %d  %s\n' "$kind" "$command" \
      "$(($(stat -c %s "$bomb") / 1024))" "$((peak_kib / 1024))" "$rc" "$message"
    if [ "$peak_kib" -ge "$limit_kib" ] || [ "$rc" -ne 1 ]; then failed=1; fi
  done
done
exit $failed
