#!/usr/bin/env bash
# Every command that reads a data file opens it once: ls, check, restore, extract and export,
# plain and encrypted. Counted with strace, outside the program.
# Usage: data_file_opens_test.sh TESSALY_CLI MAKE_SAMPLE_PROFILE
set -euo pipefail
cli=$1
make_profile=$2
command -v strace >/dev/null || { echo "strace is missing (scripts/setup.sh installs it)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export ASAN_OPTIONS=detect_leaks=0
unset WINEPREFIX
/usr/bin/python3 "$make_profile" "$work/alice" --user alice >/dev/null
mkdir -p "$work/out"
failed=0
for kind in plain encrypted; do
  flags=()
  if [ $kind = encrypted ]; then flags=(--encrypt); export TESSALY_PASSWORD=opens-secret; else unset TESSALY_PASSWORD; fi
  "$cli" new "$work/$kind.tsly" --name "$kind" --items all --folder "$work/out" "${flags[@]}" --profile "$work/alice" >/dev/null
  "$cli" backup "$work/$kind.tsly" --profile "$work/alice" --quiet
  data=$work/out/$kind.tsly_dat
  cp -a "$work/alice" "$work/target-$kind"
  for args in "ls $data" "check $data" "restore $data --quiet" "extract $data $work/x-$kind --quiet" \
              "export $data $work/e-$kind --quiet"; do
    # shellcheck disable=SC2086
    strace -f -qq -e trace=open,openat,openat2 -o "$work/trace" "$cli" $args --profile "$work/target-$kind" \
      >/dev/null 2>"$work/err" || { echo "FAILED: $kind ${args%% *}: $(cat "$work/err")" >&2; failed=1; continue; }
    opens=$(grep -F "\"$data\"" "$work/trace" | grep -vc ' = -1 ' || true)
    if [ "$opens" -ne 1 ]; then
      echo "FAILED: $kind ${args%% *} opened the data file $opens times" >&2
      failed=1
    else
      echo "ok: $kind ${args%% *} opens the data file once"
    fi
  done
done
exit $failed
