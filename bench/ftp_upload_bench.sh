#!/usr/bin/env bash
# Uploads the same file to a loopback FTP server with our client and with curl in active mode,
# and prints the ratio of the times: ftp_upload_vs_curl: OURS/CURL. With --tls both go over
# explicit TLS (ftpes:// against curl --ssl-reqd) to a vsftpd with a self-signed certificate,
# and the line is ftps_upload_vs_curl; otherwise the server is pyftpdlib.
# Usage: bench/ftp_upload_bench.sh [BUILD_DIR] [SIZE_MIB] [--tls]   (defaults: build/release, 1024)
# Each tool uploads twice, alternating; the faster of its two times counts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
size_mib=${2:-1024}
tls=${3:-}
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
scheme=ftp; curl_tls=(); curl_mode=(--ftp-port -); name=ftp_upload_vs_curl

if [ "$tls" = --tls ]; then
  # vsftpd with the tests' configuration: an ordinary process, anonymous user whose password
  # must be in the password file, TLS required with session reuse.
  [ -x /usr/sbin/vsftpd ] || { echo "ftp_upload_bench: vsftpd is missing" >&2; exit 2; }
  user=anonymous; scheme=ftpes; name=ftps_upload_vs_curl
  mkdir "$work/empty"
  echo "$TESSALY_FTP_PASSWORD" >"$work/passwords"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
  export TESSALY_FTP_FINGERPRINT=$(openssl x509 -noout -fingerprint -sha256 -in "$work/cert.pem" | cut -d= -f2)
  port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  sed -e "s|@PORT@|$port|" -e "s|@EMPTY@|$work/empty|" -e "s|@PASSWORDS@|$work/passwords|" \
      -e "s|@HOME@|$work/home|" -e "s|@LOG@|$work/vsftpd.log|" -e "s|@PORT_ENABLE@|YES|" \
      -e "s|^xferlog_enable=YES|xferlog_enable=NO|" -e "s|^log_ftp_protocol=YES|log_ftp_protocol=NO|" \
      "$root/tests/support/vsftpd.conf" >"$work/vsftpd.conf"
  printf '%s\n' ssl_enable=YES allow_anon_ssl=YES force_anon_logins_ssl=YES force_anon_data_ssl=YES \
    require_ssl_reuse=YES ssl_ciphers=HIGH "rsa_cert_file=$work/cert.pem" "rsa_private_key_file=$work/key.pem" \
    >>"$work/vsftpd.conf"
  /usr/sbin/vsftpd "$work/vsftpd.conf" >"$work/server.log" 2>&1 &
  server=$!
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.1; done
  # The self-signed certificate is taken as it is (-k); both sides speak TLS 1.3, the
  # newest both offer. curl 7.88 cannot do active mode over TLS ("sa_addr inet_ntop()
  # failed"), so it goes passive; on loopback the data path costs the same either way.
  curl_tls=(--ssl-reqd -k --tlsv1.3)
  curl_mode=()
else
  /usr/bin/python3 "$root/tests/support/ftp_server.py" --home "$work/home" --user "$user" \
    --password "$TESSALY_FTP_PASSWORD" >"$work/port" 2>"$work/server.log" &
  server=$!
  for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
  port=$(head -n1 "$work/port")
  [ -n "$port" ] || { cat "$work/server.log" >&2; echo "ftp_upload_bench: the server did not start" >&2; exit 1; }
fi

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
  "$driver" "$scheme://127.0.0.1:$port" "$user" "$work/upload.bin" ours.bin >/dev/null
  ours=$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')
  check ours.bin

  start=$(now)
  curl -sS --netrc-file "$work/netrc" "${curl_tls[@]}" "${curl_mode[@]}" -T "$work/upload.bin" "ftp://127.0.0.1:$port/curl.bin"
  theirs=$(awk -v s="$start" -v e="$(now)" 'BEGIN { print e - s }')
  check curl.bin

  echo "round $round: ours ${ours}s, curl ${theirs}s (${size_mib} MiB)"
  best_ours=$(min "$best_ours" "$ours"); best_curl=$(min "$best_curl" "$theirs")
done
awk -v a="$best_ours" -v b="$best_curl" -v n="$name" 'BEGIN { printf "%s: %.3f\n", n, a / b }'
