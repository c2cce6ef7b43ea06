#!/usr/bin/env bash
# Kills backups and restores with SIGKILL at random moments, then checks what is left: every
# restored file holds its old or its new bytes, user.reg still parses, a Windows user folder's
# NTUSER.DAT is its old or its new hive, the previous data file
# is intact or the new one whole, and the next run leaves no temporary file of ours behind.
# Usage: scripts/kill-test.sh [ROUNDS] [TESSALY_CLI]   (ROUNDS of each kind, default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10}
cli=$(realpath "${2:-build/test/src/app/tessaly-cli}")
work=$(mktemp -d /tmp/tessaly-kill-XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME=$work/cache
export ASAN_OPTIONS=detect_leaks=0
unset TESSALY_PASSWORD WINEPREFIX
py=/usr/bin/python3

# The files below a profile's drive C with their digests, the run's own log left out: a Wine
# prefix's drive_c, or the disk holding a Windows user folder (its hive compared on its own).
manifest() {
  local root=$1/drive_c
  [ -d "$1/Users" ] && root=$1
  [ -d "$root" ] || return 0
  (cd "$root" && find . -type f ! -name ts_debug.log ! -name 'NTUSER.DAT*' ! -name '.tessaly-tmp-NTUSER.DAT' -print0 |
    sort -z | xargs -0 -r sha256sum)
}
# A hive as hivexregedit, a reader independent of ours, shows it: fails when it does not parse.
hive_text() { hivexregedit --export "$1" '\' 2>/dev/null; }
temporaries() { find "$@" -name '.tessaly-tmp-*' 2>/dev/null; }
fail() { echo "kill-test: FAIL: $*" >&2; exit 1; }
# A random delay between 0 and $1 seconds.
delay() { $py -c "import random,sys; print(f'{random.uniform(0, float(sys.argv[1])):.3f}')" "$1"; }
elapsed() { local s=$(date +%s.%N); "$@" >/dev/null 2>&1; $py -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$s" "$(date +%s.%N)"; }

scripts/make-sample-profile "$work/alice" --user alice --seed 1 >/dev/null
scripts/make-sample-profile "$work/alice2" --user alice --seed 2 >/dev/null
mkdir -p "$work/outA" "$work/outB" "$work/dest"
"$cli" new "$work/A.tsly" --name A --items all --folder "$work/outA" --profile "$work/alice" >/dev/null
"$cli" new "$work/B.tsly" --name B --items all --folder "$work/outB" --profile "$work/alice2" >/dev/null
"$cli" new "$work/D.tsly" --name D --items all --folder "$work/dest" --profile "$work/alice2" >/dev/null
USER=alice "$cli" backup "$work/A.tsly" --profile "$work/alice" --quiet
USER=alice "$cli" backup "$work/B.tsly" --profile "$work/alice2" --quiet
export USER=bob
"$cli" restore "$work/outA/A.tsly_dat" --profile "$work/refA" --quiet
"$cli" restore "$work/outB/B.tsly_dat" --profile "$work/refB" --quiet
manifest "$work/refA" > "$work/old.sum"
manifest "$work/refB" > "$work/new.sum"

# A Windows user folder (an empty hive at first) that holds A, and the same after B.
mkdir -p "$work/diskA/Users/bob"
$py scripts/make-empty-hive "$work/diskA/Users/bob/NTUSER.DAT"
"$cli" restore "$work/outA/A.tsly_dat" --profile "$work/diskA/Users/bob" --quiet
cp -a "$work/diskA" "$work/diskB"
"$cli" restore "$work/outB/B.tsly_dat" --profile "$work/diskB/Users/bob" --quiet
manifest "$work/diskA" > "$work/diskA.sum"
manifest "$work/diskB" > "$work/diskB.sum"
hive_text "$work/diskA/Users/bob/NTUSER.DAT" > "$work/hiveA.txt"
hive_text "$work/diskB/Users/bob/NTUSER.DAT" > "$work/hiveB.txt"
hive_text "$work/diskA/Users/bob/NTUSER.DAT.tessaly-previous" > "$work/hiveA-previous.txt"
cmp -s "$work/hiveA.txt" "$work/hiveB.txt" && fail "the restores of A and B leave the same hive: nothing to tell apart"

restoreTime=$(cp -a "$work/refA" "$work/timed" && elapsed "$cli" restore "$work/outB/B.tsly_dat" --profile "$work/timed" --quiet)
cp "$work/outA/A.tsly_dat" "$work/dest/D.tsly_dat"
windowsRestoreTime=$(cp -a "$work/diskA" "$work/diskT" &&
  elapsed "$cli" restore "$work/outB/B.tsly_dat" --profile "$work/diskT/Users/bob" --quiet)
backupTime=$(elapsed "$cli" backup "$work/D.tsly" --profile "$work/alice2" --quiet)
echo "kill-test: $rounds rounds each; a whole restore takes ${restoreTime}s, a backup ${backupTime}s"

# Every file below profile $1 holds the bytes it had in manifest $2 or the new ones ($3, by
# default those of B's restore into a Wine prefix).
old_or_new() {
  manifest "$1" | $py -c '
import sys
def load(path):
    return {line[66:].strip(): line[:64] for line in open(path)}
old, new = load(sys.argv[1]), load(sys.argv[2])
for line in sys.stdin:
    digest, name = line[:64], line[66:].strip()
    # Our temporary files, and whatever lies in a new folder still built aside.
    if any(part.startswith(".tessaly-tmp-") for part in name.split("/")):
        continue
    if digest not in (old.get(name), new.get(name)):
        sys.exit("neither old nor new: " + name)
' "$2" "${3:-$work/new.sum}"
}
: > "$work/none.sum"
windowsKilled=0

for ((round = 1; round <= rounds; ++round)); do
  # A restore of B over A, over A whose user.reg has a second hard link (its save once
  # rewrote such a file in place, and a kill left it cut short), and into a new profile.
  for kind in over linked new; do
    rm -rf "$work/target" "$work/second-link.reg"
    if [ "$kind" = new ]; then before=$work/none.sum; else cp -a "$work/refA" "$work/target"; before=$work/old.sum; fi
    if [ "$kind" = linked ]; then ln "$work/target/user.reg" "$work/second-link.reg"; fi
    "$cli" restore "$work/outB/B.tsly_dat" --profile "$work/target" --quiet 2>/dev/null &
    pid=$!
    sleep "$(delay "$restoreTime")"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    old_or_new "$work/target" "$before" || fail "restore $kind round $round"
    if [ "$kind" = linked ]; then
      cmp -s "$work/second-link.reg" "$work/refA/user.reg" || fail "the other link of user.reg changed in round $round"
    fi
    if [ -e "$work/target/user.reg" ]; then
      "$cli" ls "$work/outA/A.tsly_dat" --profile "$work/target" >/dev/null || fail "user.reg does not parse after restore $kind round $round"
    fi
    sleep 1.1  # leftovers are those older than the next run's start
    "$cli" restore "$work/outB/B.tsly_dat" --profile "$work/target" --quiet || fail "the restore after $kind round $round"
    [ -z "$(temporaries "$work/target")" ] || fail "temporary files survive the restore after $kind round $round: $(temporaries "$work/target")"
    [ ! -e "$work/target/.tessaly-lock" ] || fail "the profile lock survives $kind round $round"
    cmp -s <(manifest "$work/target") "$work/new.sum" || fail "the restore after $kind round $round is not whole"
  done

  # A restore of B over A in a Windows user folder: the files as above, and the hive is the
  # old one or the new one, never a mixture or a torn file.
  rm -rf "$work/disk"
  cp -a "$work/diskA" "$work/disk"
  hive=$work/disk/Users/bob/NTUSER.DAT
  "$cli" restore "$work/outB/B.tsly_dat" --profile "$work/disk/Users/bob" --quiet 2>/dev/null &
  pid=$!
  sleep "$(delay "$windowsRestoreTime")"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || windowsKilled=$((windowsKilled + 1))
  old_or_new "$work/disk" "$work/diskA.sum" "$work/diskB.sum" || fail "restore into a Windows folder round $round"
  hive_text "$hive" > "$work/hive.txt" || fail "the hive does not parse after round $round"
  cmp -s "$work/hive.txt" "$work/hiveA.txt" || cmp -s "$work/hive.txt" "$work/hiveB.txt" ||
    fail "the hive is neither the old nor the new one after round $round"
  if [ -e "$hive.tessaly-previous" ]; then
    hive_text "$hive.tessaly-previous" > "$work/previous.txt" || fail "the kept hive does not parse after round $round"
    cmp -s "$work/previous.txt" "$work/hiveA.txt" || cmp -s "$work/previous.txt" "$work/hiveA-previous.txt" ||
      fail "the kept hive is neither the old one nor the one kept before after round $round"
  fi
  sleep 1.1
  "$cli" restore "$work/outB/B.tsly_dat" --profile "$work/disk/Users/bob" --quiet ||
    fail "the restore into a Windows folder after round $round"
  [ -z "$(temporaries "$work/disk")" ] ||
    fail "temporary files survive the restore into a Windows folder after round $round: $(temporaries "$work/disk")"
  cmp -s <(manifest "$work/disk") "$work/diskB.sum" || fail "the restore into a Windows folder after round $round is not whole"
  hive_text "$hive" | cmp -s - "$work/hiveB.txt" || fail "the hive after round $round is not the new one"

  # A backup over the previous data file, killed.
  cp "$work/outA/A.tsly_dat" "$work/dest/D.tsly_dat"
  "$cli" backup "$work/D.tsly" --profile "$work/alice2" --quiet 2>/dev/null &
  pid=$!
  sleep "$(delay "$backupTime")"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if ! cmp -s "$work/dest/D.tsly_dat" "$work/outA/A.tsly_dat"; then
    "$cli" check "$work/dest/D.tsly_dat" --profile "$work/alice2" >/dev/null 2>&1 || fail "backup round $round left a broken data file"
  fi
  sleep 1.1
  "$cli" backup "$work/D.tsly" --profile "$work/alice2" --quiet || fail "the backup after round $round"
  [ -z "$(temporaries "$work/dest")" ] || fail "temporary files survive the backup after round $round"
done
echo "kill-test: $windowsKilled of the $rounds restores into a Windows user folder were killed before they ended"
echo "kill-test: $((4 * rounds)) restores (over a profile, over one with a hard-linked user.reg, into a new one, into a Windows user folder) and $rounds backups killed; every check passed"
