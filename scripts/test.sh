#!/usr/bin/env bash
# Sets up, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and runs every test,
# among them the Debian package, tested installed into a scratch root, and the worker-thread
# tests once more under ThreadSanitizer, and backups and restores killed at random moments.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
scripts/fuzz.sh "${TESSALY_FUZZ_SECONDS:-10}"
# The Debian package, installed into a scratch root and used from there.
scripts/package.sh
tests/package/package_test.sh build/package/tessaly_*.deb
scripts/tsan.sh
# Backups and restores killed at random moments; a larger count by hand.
scripts/kill-test.sh "${TESSALY_KILL_ROUNDS:-3}"
# Last, so that its summary closes the output.
ctest --test-dir build/test --output-on-failure -j2 --timeout 900
