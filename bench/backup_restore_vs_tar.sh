#!/usr/bin/env bash
# Times tessaly-cli backup and restore against tar and gzip over the same mail store, and
# measures the peak resident memory of a backup and a restore of one large file.
#
# Usage: bench/backup_restore_vs_tar.sh [BUILD_DIR] [--size MIB] [--rounds N]
#                                       [--memory | --memory-only] [--memory-size MIB]
#   BUILD_DIR        a Release build holding src/app/tessaly-cli (default build/release,
#                    built with scripts/setup.sh release when missing)
#   --size MIB       size of the generated mail store (default 1024)
#   --rounds N       runs of each command, alternating ours and theirs (default 3)
#   --memory         afterwards, back up and restore a profile holding one large file under
#                    /usr/bin/time and print the peak resident memory of each
#   --memory-only    only that
#   --memory-size    size of that file in MiB (default 2048)
#
# Prints, with medians over the rounds (below 1 means ours is faster):
#   backup_vs_tar_gzip: R             tessaly-cli backup    / tar -cf - | gzip -6
#   backup_vs_tar_pigz: R             tessaly-cli backup    / tar -cf - | pigz -p2 -6
#   backup_encrypted_vs_tar_gzip: R   same with a password  / tar -cf - | gzip -6
#   backup_encrypted_vs_plain: R      backup with a password / backup without
#   restore_vs_tar_gunzip: R          tessaly-cli restore   / tar -xzf
# Every timed line gives wall, user and system time, peak memory and the load average of the
# minute before it, since a shared machine makes wall times noisy.
#   backup_peak_rss_mib: N, restore_peak_rss_mib: N (and the encrypted pair) with --memory
# Every restore is compared with the original files, so a fast but wrong run fails the script.
# The page cache cannot be dropped without root: the store is read once before timing, so both
# sides read warm data, and dirty pages are flushed (untimed) after every run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

usage() { sed -n '5,14p' "$0" | sed 's/^# \{0,1\}//'; }

build=$root/build/release
size_mib=1024
rounds=3
run_timing=yes
run_memory=no
memory_mib=2048
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size_mib=${2:?}; shift 2 ;;
    --rounds) rounds=${2:?}; shift 2 ;;
    --memory) run_memory=yes; shift ;;
    --memory-only) run_memory=yes; run_timing=no; shift ;;
    --memory-size) memory_mib=${2:?}; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    -*) echo "backup_restore_vs_tar: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) build=$(cd "$1" 2>/dev/null && pwd || echo "$1"); shift ;;
  esac
done
for number in "$size_mib" "$rounds" "$memory_mib"; do
  [[ $number =~ ^[1-9][0-9]*$ ]] || { echo "backup_restore_vs_tar: \"$number\" is not a positive number" >&2; exit 2; }
done

cli=$build/src/app/tessaly-cli
. "$root/bench/release_cli.sh"
ensure_release_cli backup_restore_vs_tar "$root" "$build" /usr/bin/time tar gzip pigz python3 diff

work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-bench.XXXXXX")
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 130' INT TERM
# The runs' work folder, with its lock and temporary files, lives and dies with $work.
export XDG_CACHE_HOME=$work/cache
unset TESSALY_PASSWORD WINEPREFIX
password=bench-password-$$

store_below_profile='drive_c/users/alice/AppData/Local/Identities'
first_store="$store_below_profile/{5D3F8A21-7C4B-4E19-9A62-0B1C2D3E4F51}/Microsoft/Outlook Express"

now() { date +%s.%N; }
# Runs a command under /usr/bin/time; sets run_seconds (wall), run_cpu (user + system) and
# run_rss_mib, and prints one line.
run_seconds=0
run_cpu=0
run_rss_mib=0
run() {
  local label=$1
  shift
  local start end
  start=$(now)
  /usr/bin/time -f '%U %S %M' -o "$work/time.txt" "$@" >"$work/run.log" 2>&1 || {
    cat "$work/run.log" >&2; echo "backup_restore_vs_tar: $label failed" >&2; exit 1; }
  end=$(now)
  local user sys rss_kib
  read -r user sys rss_kib <"$work/time.txt"
  run_seconds=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')
  run_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
  run_rss_mib=$(( (rss_kib + 1023) / 1024 ))
  printf '  %-22s wall %8.3f s  user %7.2f s  sys %6.2f s  peak %5d MiB  load %s\n' "$label" "$run_seconds" "$user" "$sys" \
    "$run_rss_mib" "$(cut -d' ' -f1 /proc/loadavg)"
  sync
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
same_tree() {
  diff -rq --no-dereference "$1" "$2" >"$work/diff.log" 2>&1 || {
    head -n 20 "$work/diff.log" >&2; echo "backup_restore_vs_tar: $3 differs from the original" >&2; exit 1; }
}
# Makes a project that backs up every item of PROFILE into OUT at the default level.
new_project() {
  local project=$1 name=$2 profile=$3 out=$4
  shift 4
  mkdir -p "$out"
  "$cli" new "$project" --name "$name" --items all --folder "$out" --level default --profile "$profile" "$@"
}

echo "host: $(nproc) cores, $(uptime | sed 's/.*load average/load average/'); build $build ($build_type)"

if [ "$run_timing" = yes ]; then
  profile=$work/alice
  python3 "$root/scripts/make-sample-profile" "$profile" --user alice >/dev/null
  python3 "$root/bench/make_mail_corpus.py" "$profile/$first_store/Corpus" --size-mib "$size_mib"
  parent=$(dirname "$profile/$store_below_profile")
  stores=$(basename "$store_below_profile")
  echo "timed folder: $(du -sb "$parent/$stores" | cut -f1) bytes in $(find "$parent/$stores" -type f | wc -l) files"

  new_project "$work/plain.tsly" Plain "$profile" "$work/out-plain"
  TESSALY_PASSWORD=$password new_project "$work/secret.tsly" Secret "$profile" "$work/out-secret" --encrypt
  plain_data=$work/out-plain/Plain.tsly_dat
  secret_data=$work/out-secret/Secret.tsly_dat

  # One read of everything first, so no run pays for the cold cache. (GNU tar skips reading
  # when it writes to /dev/null, hence cat.)
  find "$profile" -type f -exec cat {} + >/dev/null
  sync

  ours_plain=(); ours_secret=(); tar_times=(); pigz_times=(); ours_restore=(); tar_restore=()
  # Processor times too: on a busy machine they show the work apart from the waiting.
  cpu_plain=(); cpu_secret=(); cpu_tar=(); cpu_pigz=(); cpu_restore=(); cpu_untar=()
  for round in $(seq "$rounds"); do
    echo "round $round of $rounds"
    run "tessaly backup" env USER=alice "$cli" backup "$work/plain.tsly" --profile "$profile"
    ours_plain+=("$run_seconds"); cpu_plain+=("$run_cpu")
    run "tar | gzip -6" bash -c 'set -o pipefail; tar -cf - -C "$1" "$2" | gzip -6 >"$3"' _ "$parent" "$stores" "$work/x.tar.gz"
    tar_times+=("$run_seconds"); cpu_tar+=("$run_cpu")
    # Same cores, same level: the parallel compressor to beat.
    run "tar | pigz -p2 -6" bash -c 'set -o pipefail; tar -cf - -C "$1" "$2" | pigz -p2 -6 >"$3"' _ "$parent" "$stores" "$work/x.pigz.tar.gz"
    pigz_times+=("$run_seconds"); cpu_pigz+=("$run_cpu")
    run "tessaly backup (pw)" env USER=alice TESSALY_PASSWORD="$password" "$cli" backup "$work/secret.tsly" --profile "$profile"
    ours_secret+=("$run_seconds"); cpu_secret+=("$run_cpu")
    run "tar | gzip -6" bash -c 'set -o pipefail; tar -cf - -C "$1" "$2" | gzip -6 >"$3"' _ "$parent" "$stores" "$work/x.tar.gz"
    tar_times+=("$run_seconds"); cpu_tar+=("$run_cpu")

    run "tessaly restore" env USER=bob "$cli" restore "$plain_data" --profile "$work/restore-ours"
    ours_restore+=("$run_seconds"); cpu_restore+=("$run_cpu")
    same_tree "$parent/$stores" "$work/restore-ours/drive_c/users/bob/AppData/Local/Identities" "the restored store"
    rm -rf "$work/restore-ours"
    mkdir "$work/restore-tar"
    run "tar -xzf" tar -xzf "$work/x.tar.gz" -C "$work/restore-tar"
    tar_restore+=("$run_seconds"); cpu_untar+=("$run_cpu")
    same_tree "$parent/$stores" "$work/restore-tar/$stores" "the unpacked tar archive"
    rm -rf "$work/restore-tar"
    sync
  done

  # The encrypted file is timed only as a backup; it must restore just as faithfully.
  env USER=bob TESSALY_PASSWORD="$password" "$cli" restore "$secret_data" --profile "$work/restore-secret"
  same_tree "$parent/$stores" "$work/restore-secret/drive_c/users/bob/AppData/Local/Identities" "the store restored with a password"
  rm -rf "$work/restore-secret"

  echo "sizes: data file $(stat -c %s "$plain_data"), with password $(stat -c %s "$secret_data"), tar.gz $(stat -c %s "$work/x.tar.gz") bytes"
  echo "medians (s): backup $(median "${ours_plain[@]}"), with password $(median "${ours_secret[@]}"), tar|gzip $(median "${tar_times[@]}"), tar|pigz -p2 $(median "${pigz_times[@]}"); restore $(median "${ours_restore[@]}"), tar -xzf $(median "${tar_restore[@]}")"
  echo "processor time medians (user + system, s): backup $(median "${cpu_plain[@]}"), with password $(median "${cpu_secret[@]}"), tar|gzip $(median "${cpu_tar[@]}"), tar|pigz -p2 $(median "${cpu_pigz[@]}"); restore $(median "${cpu_restore[@]}"), tar -xzf $(median "${cpu_untar[@]}")"
  echo "processor time ratios of the medians: backup/gzip $(ratio "$(median "${cpu_plain[@]}")" "$(median "${cpu_tar[@]}")"), backup/pigz $(ratio "$(median "${cpu_plain[@]}")" "$(median "${cpu_pigz[@]}")"), with password/without $(ratio "$(median "${cpu_secret[@]}")" "$(median "${cpu_plain[@]}")"), restore $(ratio "$(median "${cpu_restore[@]}")" "$(median "${cpu_untar[@]}")")"
  echo "backup_vs_tar_gzip: $(ratio "$(median "${ours_plain[@]}")" "$(median "${tar_times[@]}")")"
  echo "backup_vs_tar_pigz: $(ratio "$(median "${ours_plain[@]}")" "$(median "${pigz_times[@]}")")"
  echo "backup_encrypted_vs_tar_gzip: $(ratio "$(median "${ours_secret[@]}")" "$(median "${tar_times[@]}")")"
  echo "backup_encrypted_vs_plain: $(ratio "$(median "${ours_secret[@]}")" "$(median "${ours_plain[@]}")")"
  echo "restore_vs_tar_gunzip: $(ratio "$(median "${ours_restore[@]}")" "$(median "${tar_restore[@]}")")"
  rm -rf "$profile" "$work/out-plain" "$work/out-secret" "$work/x.tar.gz" "$work/x.pigz.tar.gz"
fi

if [ "$run_memory" = yes ]; then
  profile=$work/mem-alice
  python3 "$root/scripts/make-sample-profile" "$profile" --user alice >/dev/null
  big="$first_store/Big.dbx"
  head -c "${memory_mib}M" /dev/urandom >"$profile/$big"
  echo "memory: one file of $memory_mib MiB in the store"
  new_project "$work/mem-plain.tsly" MemPlain "$profile" "$work/mem-out"
  TESSALY_PASSWORD=$password new_project "$work/mem-secret.tsly" MemSecret "$profile" "$work/mem-out" --encrypt
  for kind in plain encrypted; do
    if [ $kind = plain ]; then project=$work/mem-plain.tsly; data=$work/mem-out/MemPlain.tsly_dat; pw=(); prefix=""
    else project=$work/mem-secret.tsly; data=$work/mem-out/MemSecret.tsly_dat; pw=(TESSALY_PASSWORD="$password"); prefix=encrypted_
    fi
    run "backup ($kind)" env USER=alice "${pw[@]}" "$cli" backup "$project" --profile "$profile"
    backup_rss=$run_rss_mib
    run "restore ($kind)" env USER=bob "${pw[@]}" "$cli" restore "$data" --profile "$work/mem-bob"
    restore_rss=$run_rss_mib
    cmp "$profile/$big" "$work/mem-bob/${big/alice/bob}" || {
      echo "backup_restore_vs_tar: the restored large file differs ($kind)" >&2; exit 1; }
    rm -rf "$work/mem-bob" "$data"
    echo "backup_${prefix}peak_rss_mib: $backup_rss"
    echo "restore_${prefix}peak_rss_mib: $restore_rss"
  done
fi
echo "host after: $(uptime | sed 's/.*load average/load average/')"
