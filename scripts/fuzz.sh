#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 60) from its seed corpus. A crash, hang or leak fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
ls fuzz/*_fuzz.cpp >/dev/null 2>&1 || exit 0
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_FUZZ=ON >/dev/null
cmake --build build/fuzz
for source in fuzz/*_fuzz.cpp; do
  name=$(basename "$source" _fuzz.cpp)
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$name/." "$work/" 2>/dev/null || true
  echo "fuzz: $name for ${seconds}s"
  build/fuzz/fuzz/fuzz-"$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=0 "$work" >"build/fuzz/$name.log" 2>&1 || {
      tail -n 60 "build/fuzz/$name.log"; echo "fuzz: $name failed" >&2; exit 1; }
  rm -rf "$work"
done
