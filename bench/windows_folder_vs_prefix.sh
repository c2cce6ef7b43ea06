#!/usr/bin/env bash
# Backs up the same mail data from a Wine prefix and from a Windows user folder (Users/NAME
# with its NTUSER.DAT, made by a restore of the prefix's backup into an empty one) and prints
# the ratio of the medians: the backup from a Windows disk should cost no more than 1.05x.
# Usage: bench/windows_folder_vs_prefix.sh [BUILD_DIR] [--size MIB] [--rounds N]
#        (defaults: build/release, 1024, 3)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build/release
size_mib=1024
rounds=3
while [ $# -gt 0 ]; do
  case $1 in
    --size) size_mib=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    *) build=$1; shift ;;
  esac
done
. bench/release_cli.sh
ensure_release_cli windows_folder_vs_prefix "$root" "$build" /usr/bin/time
cli=$build/src/app/tessaly-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME=$work/cache XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data

prefix=$work/alice
/usr/bin/python3 scripts/make-sample-profile "$prefix" --user alice >/dev/null
store='drive_c/users/alice/AppData/Local/Identities/{5D3F8A21-7C4B-4E19-9A62-0B1C2D3E4F51}/Microsoft/Outlook Express'
/usr/bin/python3 bench/make_mail_corpus.py "$prefix/$store/Corpus" --size-mib "$size_mib" >/dev/null
mkdir -p "$work/out-prefix" "$work/out-folder" "$work/disk/Users/alice"
USER=alice "$cli" new "$work/prefix.tsly" --name Prefix --items all --folder "$work/out-prefix" --profile "$prefix" >/dev/null
USER=alice "$cli" backup "$work/prefix.tsly" --profile "$prefix" --quiet
/usr/bin/python3 scripts/make-empty-hive "$work/disk/Users/alice/NTUSER.DAT"
folder=$work/disk/Users/alice
"$cli" restore "$work/out-prefix/Prefix.tsly_dat" --profile "$folder" --quiet
"$cli" new "$work/folder.tsly" --name Folder --items all --folder "$work/out-folder" --profile "$folder" >/dev/null
echo "data: $(du -sb "$prefix/drive_c" | cut -f1) bytes in the prefix, $(du -sb "$folder" | cut -f1) in the user folder"

seconds() {  # runs a backup, prints its wall time
  /usr/bin/time -f %e -o "$work/time" env USER=alice "$cli" backup "$1" --profile "$2" --quiet
  cat "$work/time"
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
prefix_times=(); folder_times=()
for _ in $(seq "$rounds"); do
  prefix_times+=("$(seconds "$work/prefix.tsly" "$prefix")")
  folder_times+=("$(seconds "$work/folder.tsly" "$folder")")
done
p=$(median "${prefix_times[@]}"); f=$(median "${folder_times[@]}")
echo "backup from the Wine prefix ${p}s, from the Windows user folder ${f}s (medians of $rounds; ${prefix_times[*]} / ${folder_times[*]})"
echo "windows_folder_vs_prefix: $(awk -v f="$f" -v p="$p" 'BEGIN { printf "%.2f", f / p }')"
