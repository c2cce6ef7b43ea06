#!/usr/bin/env bash
# Unpacks the Debian package into a scratch root and uses only what it installed: the
# version line, a backup and a restore into another user's profile, the validators of the
# desktop entry and the AppStream file, the manual pages and the completion.
# Usage: tests/package/package_test.sh PACKAGE.deb
set -euo pipefail
cd "$(dirname "$0")/../.."
deb=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
passes=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@" >"$root/out" 2>&1; then passes=$((passes + 1)); echo "ok: $what"
  else failures=$((failures + 1)); echo "FAILED: $what"; sed 's/^/  /' "$root/out"; fi
}

dpkg-deb -x "$deb" "$root/fs"
usr=$root/fs/usr
cli=$usr/bin/tessaly-cli

check "the package depends on the libraries it links" \
  bash -c "dpkg-deb -f '$deb' Depends | grep -q 'libc6' && dpkg-deb -f '$deb' Depends | grep -q 'zlib1g'"
check "--version names the program and zlib" bash -c "'$cli' --version | grep -Eq '^tessaly-cli [0-9]+\.[0-9]+\.[0-9]+ \(zlib [0-9.]+'"

# A backup and a restore from the installed program alone.
scripts/make-sample-profile "$root/alice" --user alice >/dev/null
mkdir "$root/backups"
check "new" "$cli" new "$root/mail.tsly" --name Mail --items all --folder "$root/backups" --profile "$root/alice"
check "backup" env USER=alice "$cli" backup "$root/mail.tsly" --profile "$root/alice"
check "check" "$cli" check "$root/backups/Mail.tsly_dat"
check "restore into another user's profile" env USER=bob "$cli" restore "$root/backups/Mail.tsly_dat" --profile "$root/bob"
check "the restored mail store equals the backed-up one" \
  diff -r "$root/alice/drive_c/users/alice/AppData/Local/Identities" "$root/bob/drive_c/users/bob/AppData/Local/Identities"

for size in 32 48 256; do
  check "the program's icon is installed at ${size}x${size}" \
    bash -c "file '$usr/share/icons/hicolor/${size}x${size}/apps/tessaly.png' | grep -q '${size} x ${size}'"
done
check "desktop entry is valid" desktop-file-validate "$usr/share/applications/tessaly.desktop"
check "AppStream file is valid" appstreamcli validate --no-net "$usr/share/metainfo/org.example.tessaly.metainfo.xml"
check "the desktop entry opens both file types" \
  grep -qx 'MimeType=application/x-tessaly-data;application/x-tessaly-project;' "$usr/share/applications/tessaly.desktop"
# The MIME database built from the package's types alone names a data file and a project file.
mkdir -p "$root/mime/packages"
cp "$usr/share/mime/packages/tessaly.xml" "$root/mime/packages/"
check "the MIME types build into a database" update-mime-database "$root/mime"
check "a data file and a project file are told by their names" \
  bash -c "grep -q 'application/x-tessaly-data:\*\.tsly_dat' '$root/mime/globs' && grep -q 'application/x-tessaly-project:\*\.tsly' '$root/mime/globs'"
for page in tessaly-cli tessaly; do
  check "manual page $page renders without warnings" \
    bash -c "out=\$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l '$usr/share/man/man1/$page.1' 2>&1 >/dev/null); [ -z \"\$out\" ] || { echo \"\$out\"; exit 1; }"
done
check "bash completes the commands" bash -c "source '$usr/share/bash-completion/completions/tessaly-cli'; \
  COMP_WORDS=(tessaly-cli ch); COMP_CWORD=1; _tessaly_cli; [ \"\${COMPREPLY[*]}\" = check ]"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
