#!/usr/bin/env bash
# Times tessaly-cli backup and restore of many small files against tar and gzip in the same
# run: 5,000 files in one folder, and 20,000 mail-sized files (200 B to 8 KiB) in about
# 2,200 folders, both made by bench/make_small_files.py inside a sample profile's mail store.
#
# Usage: bench/small_files_vs_tar.sh [BUILD_DIR] [--rounds N] [--flat N] [--tree N]
#   BUILD_DIR   a Release build holding src/app/tessaly-cli (default build/release, built
#               with scripts/setup.sh release when missing)
#   --rounds N  runs of each command, ours and theirs in turn (default 3)
#   --flat N    files in the one folder (default 5000)
#   --tree N    files in the tree (default 20000)
#
# Prints, with medians over the rounds (below 1 means ours is faster), each with its bound:
#   flat_restore_vs_tar_gunzip: R    restore of the one folder  / tar -xzf      (bound 2.0)
#   tree_backup_vs_tar_gzip: R       backup of the tree         / tar | gzip -6 (bound 1.0)
#   tree_restore_vs_tar_gunzip: R    restore of the tree        / tar -xzf      (bound 1.0)
#   and the flat backup's ratio and every run's peak memory (bound 64 MiB).
# Every restore is compared with the original files. Making many files right after deleting
# many is several times slower on ext4 for every program, so finished trees are moved aside
# during the rounds and deleted only at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() { sed -n '6,11p' "$0" | sed 's/^# \{0,1\}//'; }

build=$root/build/release
rounds=3
flat_files=5000
tree_files=20000
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=${2:?}; shift 2 ;;
    --flat) flat_files=${2:?}; shift 2 ;;
    --tree) tree_files=${2:?}; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "small_files_vs_tar: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) build=$(cd "$1" 2>/dev/null && pwd || echo "$1"); shift ;;
  esac
done
for number in "$rounds" "$flat_files" "$tree_files"; do
  [[ $number =~ ^[1-9][0-9]*$ ]] || { echo "small_files_vs_tar: \"$number\" is not a positive number" >&2; exit 2; }
done

cli=$build/src/app/tessaly-cli
. "$root/bench/release_cli.sh"
ensure_release_cli small_files_vs_tar "$root" "$build" /usr/bin/time tar gzip python3 diff

work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-small.XXXXXX")
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT TERM
export XDG_CACHE_HOME=$work/cache
unset TESSALY_PASSWORD WINEPREFIX
mkdir "$work/aside"

store_below_profile='drive_c/users/alice/AppData/Local/Identities'
first_store="$store_below_profile/{5D3F8A21-7C4B-4E19-9A62-0B1C2D3E4F51}/Microsoft/Outlook Express"

now() { date +%s.%N; }
load() { uptime | sed 's/.*load average: //'; }
run_seconds=0
run_cpu=0
run_rss_mib=0
peak_rss_mib=0
run() {
  local label=$1
  shift
  local start end user sys rss_kib
  start=$(now)
  /usr/bin/time -f '%U %S %M' -o "$work/time.txt" "$@" >"$work/run.log" 2>&1 || {
    cat "$work/run.log" >&2; echo "small_files_vs_tar: $label failed" >&2; exit 1; }
  end=$(now)
  read -r user sys rss_kib <"$work/time.txt"
  run_seconds=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')
  run_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
  run_rss_mib=$(( (rss_kib + 1023) / 1024 ))
  [ "$run_rss_mib" -gt "$peak_rss_mib" ] && peak_rss_mib=$run_rss_mib
  printf '  %-20s wall %7.3f s  user %6.2f s  sys %6.2f s  peak %4d MiB  load %s\n' \
    "$label" "$run_seconds" "$user" "$sys" "$run_rss_mib" "$(load)"
  sync
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
verdict() { awk -v r="$1" -v b="$2" 'BEGIN { print (r <= b) ? "within" : "OVER" }'; }
same_tree() {
  diff -rq --no-dereference "$1" "$2" >"$work/diff.log" 2>&1 || {
    head -n 20 "$work/diff.log" >&2; echo "small_files_vs_tar: $3 differs from the original" >&2; exit 1; }
}
# Moves a finished tree out of the way; deleting it now would slow the next round's creates.
aside() { [ -e "$1" ] && mv "$1" "$work/aside/$(basename "$1").$RANDOM$RANDOM"; return 0; }

echo "host: $(nproc) cores, load $(load); build $build ($build_type)"

# One case: NAME and the generator's shape option (--flat N or --tree N).
measure() {
  local name=$1 shape=$2 count=$3
  local profile=$work/$name-alice
  python3 "$root/scripts/make-sample-profile" "$profile" --user alice >/dev/null
  python3 "$root/bench/make_small_files.py" "$profile/$first_store/Small" "$shape" "$count"
  local parent stores
  parent=$(dirname "$profile/$store_below_profile")
  stores=$(basename "$store_below_profile")
  echo "$name: $(find "$parent/$stores" -type f | wc -l) files, $(du -sb "$parent/$stores" | cut -f1) bytes in $(find "$parent/$stores" -type d | wc -l) folders"
  mkdir -p "$work/out-$name"
  "$cli" new "$work/$name.tsly" --name "$name" --items all --folder "$work/out-$name" --level default --profile "$profile"
  local data=$work/out-$name/$name.tsly_dat
  find "$profile" -type f -exec cat {} + >/dev/null
  sync

  local ours_backup=() tar_backup=() ours_restore=() tar_restore=()
  # Processor times too: on a busy machine they show the work apart from the waiting.
  local cpu_backup=() cpu_tar=() cpu_restore=() cpu_untar=()
  for round in $(seq "$rounds"); do
    echo "$name round $round of $rounds"
    run "tessaly backup" env USER=alice "$cli" backup "$work/$name.tsly" --profile "$profile"
    ours_backup+=("$run_seconds"); cpu_backup+=("$run_cpu")
    run "tar | gzip -6" bash -c 'set -o pipefail; tar -cf - -C "$1" "$2" | gzip -6 >"$3"' _ "$parent" "$stores" "$work/$name.tar.gz"
    tar_backup+=("$run_seconds"); cpu_tar+=("$run_cpu")
    run "tessaly restore" env USER=bob "$cli" restore "$data" --profile "$work/$name-bob"
    ours_restore+=("$run_seconds"); cpu_restore+=("$run_cpu")
    [ "$round" = 1 ] && same_tree "$parent/$stores" "$work/$name-bob/drive_c/users/bob/AppData/Local/Identities" "the restored store"
    aside "$work/$name-bob"
    mkdir "$work/$name-untar"
    run "tar -xzf" tar -xzf "$work/$name.tar.gz" -C "$work/$name-untar"
    tar_restore+=("$run_seconds"); cpu_untar+=("$run_cpu")
    [ "$round" = 1 ] && same_tree "$parent/$stores" "$work/$name-untar/$stores" "the unpacked tar archive"
    aside "$work/$name-untar"
  done
  echo "$name medians (s): backup $(median "${ours_backup[@]}"), tar|gzip $(median "${tar_backup[@]}"); restore $(median "${ours_restore[@]}"), tar -xzf $(median "${tar_restore[@]}")"
  echo "$name processor time (user + system) ratios of the medians: backup $(ratio "$(median "${cpu_backup[@]}")" "$(median "${cpu_tar[@]}")"), restore $(ratio "$(median "${cpu_restore[@]}")" "$(median "${cpu_untar[@]}")")"
  backup_ratio=$(ratio "$(median "${ours_backup[@]}")" "$(median "${tar_backup[@]}")")
  restore_ratio=$(ratio "$(median "${ours_restore[@]}")" "$(median "${tar_restore[@]}")")
  aside "$profile"
}

measure flat --flat "$flat_files"
flat_backup=$backup_ratio
flat_restore=$restore_ratio
measure tree --tree "$tree_files"

echo "flat_backup_vs_tar_gzip: $flat_backup"
echo "flat_restore_vs_tar_gunzip: $flat_restore (bound 2.0, $(verdict "$flat_restore" 2.0))"
echo "tree_backup_vs_tar_gzip: $backup_ratio (bound 1.0, $(verdict "$backup_ratio" 1.0))"
echo "tree_restore_vs_tar_gunzip: $restore_ratio (bound 1.0, $(verdict "$restore_ratio" 1.0))"
echo "peak_rss_mib: $peak_rss_mib (bound 64, $(verdict "$peak_rss_mib" 64))"
echo "host after: load $(load)"
