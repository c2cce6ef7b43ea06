#!/usr/bin/env bash
# Uploads the same file to a loopback FTP server (pyftpdlib) with our client and with curl in
# active mode, and prints the ratio of the times: ftp_upload_vs_curl: OURS/CURL.
# Usage: bench/ftp_upload_bench.sh [BUILD_DIR] [SIZE_MIB]   (defaults: build/release, 1024)
# Each tool uploads twice, alternating; the faster of its two times counts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
size_mib=${2:-1024}
driver=$build/bench/tessaly-bench-ftp_upload
[ -x "$driver" ] || { echo "ftp_upload_bench: build $driver first (target tessaly-bench-ftp_upload)" >&2; exit 2; }
command -v curl >/dev/null || { echo "ftp_upload_bench: curl is missing" >&2; exit 2; }

work=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

user=bench
export TESSALY_FTP_PASSWORD=bench-$$-$RANDOM
mkdir "$work/home"
head -c "${size_mib}M" /dev/urandom >"$work/upload.bin"

/usr/bin/python3 "$root/tests/support/ftp_server.py" --home "$work/home" --user "$user" \
  --password "$TESSALY_FTP_PASSWORD" >"$work/port" 2>"$work/server.log" &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n1 "$work/port")
[ -n "$port" ] || { cat "$work/server.log" >&2; echo "ftp_upload_bench: the server did not start" >&2; exit 1; }

# curl reads the credentials from a netrc file, so they stay out of the process list.
printf 'machine 127.0.0.1 login %s password %s\n' "$user" "$TESSALY_FTP_PASSWORD" >"$work/netrc"

now() { date +%s.%N; }
check() {
  cmp -s "$work/upload.bin" "$work/home/$1" || { echo "ftp_upload_bench: $1 differs from the local file" >&2; exit 1; }
  rm -f "$work/home/$1"
}

best_ours=""; best_curl=""
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
for round in 1 2; do
  start=$(now)
  "$driver" "127.0.0.1:$port" "$user" "$work/upload.bin" ours.bin >/dev/null
  ours=$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')
  check ours.bin

  start=$(now)
  curl -sS --netrc-file "$work/netrc" --ftp-port - -T "$work/upload.bin" "ftp://127.0.0.1:$port/curl.bin"
  theirs=$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')
  check curl.bin

  echo "round $round: ours ${ours}s, curl ${theirs}s (${size_mib} MiB)"
  best_ours=$(min "$best_ours" "$ours"); best_curl=$(min "$best_curl" "$theirs")
done
awk -v a="$best_ours" -v b="$best_curl" 'BEGIN { printf "ftp_upload_vs_curl: %.3f\n", a / b }'
