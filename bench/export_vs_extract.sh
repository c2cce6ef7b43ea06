#!/usr/bin/env bash
# Times tessaly-cli export against extract of the same data file, whose mail store is one
# large store file made from the published layout, and measures the peak resident memory of
# the export. undbx on the same store file gives a second figure.
#
# Usage: bench/export_vs_extract.sh [BUILD_DIR] [--size MIB] [--rounds N]
#   BUILD_DIR    a Release build holding src/app/tessaly-cli (default build/release, built
#                with scripts/setup.sh release when missing)
#   --size MIB   size of the store file (default 1024)
#   --rounds N   runs of each command, alternating (default 3)
#
# Prints medians over the rounds:
#   export_vs_extract: R        tessaly-cli export DATA DIR  / tessaly-cli extract DATA DIR
#   export_peak_rss_mib: N      the largest peak of the export runs
#   undbx_vs_extract: R         undbx STORE DIR              / tessaly-cli extract DATA DIR
# Each export is checked: its mbox holds as many messages as the store was made with.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/release_cli.sh"

build=$root/build/release
size_mib=1024
rounds=3
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size_mib=${2:?}; shift 2 ;;
    --rounds) rounds=${2:?}; shift 2 ;;
    -h|--help) sed -n '6,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "export_vs_extract: unknown option $1" >&2; exit 2 ;;
    *) build=$(cd "$1" 2>/dev/null && pwd || echo "$1"); shift ;;
  esac
done
ensure_release_cli export_vs_extract "$root" "$build" undbx /usr/bin/time
cli=$build/src/app/tessaly-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME=$work/cache XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data USER=alice
unset WINEPREFIX TESSALY_PASSWORD
"$root/scripts/make-sample-profile" "$work/alice" --user alice >/dev/null
store=$(echo "$work"/alice/drive_c/users/alice/AppData/Local/Identities/{5D3F8A21*}/"Microsoft/Outlook Express")
rm -rf "$work"/alice/drive_c/users/alice/AppData/Local/Identities/*
mkdir -p "$store" "$work/out"
messages=$("$root/bench/make_mail_store.py" "$store" --size-mib "$size_mib")
"$cli" new "$work/p.tsly" --name p --items oe --folder "$work/out" --level fastest --profile "$work/alice" >/dev/null
"$cli" backup "$work/p.tsly" --quiet --profile "$work/alice"
data=$work/out/p.tsly_dat

# "SECONDS PEAK_KIB" of one run, its output folder removed and its writes flushed untimed.
timed() {
  local target=$1
  shift
  rm -rf "$target"
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  sync
  cat "$work/time"
}
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

: >"$work/extract"; : >"$work/export"; : >"$work/undbx"
for ((round = 1; round <= rounds; round++)); do
  timed "$work/x" "$cli" extract "$data" "$work/x" --quiet --profile "$work/alice" >>"$work/extract"
  timed "$work/e" "$cli" export "$data" "$work/e" --items oe --quiet --profile "$work/alice" >>"$work/export"
  found=$(grep -c '^From ' "$work/e/Mail/Main Identity/Inbox.mbox" || true)
  [ "$found" = "$messages" ] || { echo "export_vs_extract: $found messages exported of $messages" >&2; exit 1; }
  timed "$work/u" undbx -v 0 "$store/Inbox.dbx" "$work/u" >>"$work/undbx"
done
extract=$(cut -d' ' -f1 "$work/extract" | median)
export_s=$(cut -d' ' -f1 "$work/export" | median)
undbx_s=$(cut -d' ' -f1 "$work/undbx" | median)
peak=$(cut -d' ' -f2 "$work/export" | sort -n | tail -1)
echo "store: $size_mib MiB, $messages messages; extract ${extract}s, export ${export_s}s, undbx ${undbx_s}s (medians of $rounds, $build_type build)"
echo "export_vs_extract: $(awk -v a="$export_s" -v b="$extract" 'BEGIN {printf "%.2f", a / b}')"
echo "export_peak_rss_mib: $((peak / 1024))"
echo "undbx_vs_extract: $(awk -v a="$undbx_s" -v b="$extract" 'BEGIN {printf "%.2f", a / b}')"
