#!/usr/bin/env bash
# Unpacks Debian packages of FTP servers that conflict, as packages, with the one installed
# (vsftpd), into DEST, without installing them: the tests run them from there as ordinary
# processes. Safe to run from several tests at once; does nothing once DEST has them.
# Usage: unpack-debian-server.sh DEST PACKAGE...
set -euo pipefail
dest=$1
shift
marker="$dest/.unpacked-$(echo "$*" | tr ' ' '+')"
[ -e "$marker" ] && exit 0
mkdir -p "$dest"
exec 9>"$dest/.lock"
flock 9
[ -e "$marker" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 777 "$work"  # apt-get download writes as its own user where it can
(cd "$work" && apt-get download -qq "$@")
for deb in "$work"/*.deb; do dpkg -x "$deb" "$dest"; done
touch "$marker"
