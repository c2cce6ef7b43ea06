#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 60) from its seed corpus. A crash, hang, leak or a run past 256 MiB of memory (the
# corpus holds data files that inflate to far more) fails the script. Prints the executions
# each target made. A unit may take up to 30 s: a seed holds a 16 MiB string read byte by byte
# under the sanitizers.
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
  # Inputs that crash or run slowly are kept with the build, never in the sources.
  mkdir -p build/fuzz/artifacts
  # The sanitizer's quarantine of freed blocks (256 MiB by default) would count against the
  # memory limit; kept small (also under options the caller set), the limit measures what
  # the readers hold.
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=16" build/fuzz/fuzz/fuzz-"$name" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=256 \
    -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$name-" "$work" \
    >"build/fuzz/$name.log" 2>&1 || {
      tail -n 60 "build/fuzz/$name.log"; echo "fuzz: $name failed" >&2; exit 1; }
  echo "fuzz: $name $(sed -n 's/^stat::number_of_executed_units: *//p' "build/fuzz/$name.log") executions," \
    "peak $(sed -n 's/^stat::peak_rss_mb: *//p' "build/fuzz/$name.log") MiB"
  rm -rf "$work"
done
