#!/usr/bin/env bash
# Builds the worker-thread tests (real runs, cancels from the interface thread and their race
# with a run's final step and an upload's close, the events' hand-over, work handed off the
# interface thread and back, and the restore's writer, disk-sync and deciphering helpers) with
# ThreadSanitizer in build/tsan and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSALY_TSAN=ON -DTESSALY_BENCH=OFF >/dev/null
threads=(platform_profile_background_file_writer_test platform_writeback_ahead_test platform_two_halves_test
         engine_restore_transaction_test engine_project_test engine_backup_run_test engine_ftp_upload_test)
cmake --build build/tsan -j2 --target ui_worker_thread_test ui_main_form_test ui_off_thread_test "${threads[@]}"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
export QT_QPA_PLATFORM=offscreen
for test in "${threads[@]}"; do build/tsan/tests/"$test"; done
build/tsan/tests/ui/ui_worker_thread_test
build/tsan/tests/ui/ui_main_form_test
build/tsan/tests/ui/ui_off_thread_test
