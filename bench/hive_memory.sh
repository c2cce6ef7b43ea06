#!/usr/bin/env bash
# Restores a small data file into a profile whose user.reg has grown to MIB mebibytes (keys
# of mixed value types in Wine's own format, as years of use leave them) and prints the
# restore's peak resident set against the file's size. The hive in memory must stay within
# a small multiple of its file: the ratio must stay under 4.
# Usage: bench/hive_memory.sh [BUILD_DIR] [MIB]   (default build/release, 37)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
mib=${2:-37}
. bench/release_cli.sh
ensure_release_cli hive_memory "$root" "$build" /usr/bin/time
cli=$build/src/app/tessaly-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 scripts/make-sample-profile "$work/profile" --user bench >/dev/null
mkdir "$work/out"
"$cli" new "$work/project.tsly" --name bench --items ie --folder "$work/out" >/dev/null
"$cli" backup "$work/project.tsly" --profile "$work/profile" >/dev/null
data=$(ls "$work"/out/*.tsly_dat | head -n 1)

# Keys below Software\Bench, each with a string, an expandable string, a number and a binary
# value long enough to take continuation lines.
/usr/bin/python3 - "$work/profile/user.reg" "$mib" <<'PY'
import sys
path, mib = sys.argv[1], int(sys.argv[2])
target = mib * 1024 * 1024
with open(path, "a", encoding="ascii", newline="\n") as out:
    n = 0
    size = out.tell()
    while size < target:
        record = (
            f"\n[Software\\\\Bench\\\\Group{n // 1000:04d}\\\\Key{n:07d}] 1700000000\n"
            f"#time=1d9f0c3a1b2c3d4\n"
            f"\"Name\"=\"Entry number {n} of the benchmark\"\n"
            f"\"Path\"=str(2):\"%USERPROFILE%\\\\Bench\\\\{n}\"\n"
            f"\"Count\"=dword:{n & 0xffffffff:08x}\n"
            f"\"Blob\"=hex:" + ",".join(f"{(n + i) & 0xff:02x}" for i in range(24)) + ",\\\n  " +
            ",".join(f"{(n * 7 + i) & 0xff:02x}" for i in range(24)) + "\n")
        out.write(record)
        size += len(record)
        n += 1
PY
file_kib=$(($(stat -c %s "$work/profile/user.reg") / 1024))
/usr/bin/time -f '%M %e' -o "$work/peak" "$cli" restore "$data" --profile "$work/profile" >/dev/null
read -r peak_kib seconds <"$work/peak"
ratio=$(awk -v p="$peak_kib" -v f="$file_kib" 'BEGIN { printf "%.2f", p / f }')
printf 'user.reg %d KiB, restore peak %d KiB in %s s, ratio %s (limit 4)\n' "$file_kib" "$peak_kib" "$seconds" "$ratio"
awk -v r="$ratio" 'BEGIN { exit !(r < 4) }'
