#!/usr/bin/env bash
# Walks the windowed program under a real X server (Xvfb), by keyboard only: a backup from an
# encrypted project file of a sample profile (its progress bar caught twice while one large
# mail file is read), a second start that must put the window exactly where the first left
# it, then a restore into a second profile of the data file's path typed into the dialog,
# with a wrong archive password refused in the dialog before the right one.
# Saves screenshots of the main window, the dialogs and the progress dialog in mid-run.
# Usage: scripts/gui-walk.sh [BUILD_DIR] [SHOT_DIR]   (defaults: build/release build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shots=$(mkdir -p "${2:-build/screenshots}" && cd "${2:-build/screenshots}" && pwd)
app=$PWD/$build/src/app/tessaly
cli=$PWD/$build/src/app/tessaly-cli
for tool in Xvfb xdotool scrot; do
  command -v $tool >/dev/null || { echo "gui-walk: $tool is missing (scripts/setup.sh installs it)" >&2; exit 2; }
done
[ -x "$app" ] && [ -x "$cli" ] || { echo "gui-walk: build $build first (tessaly and tessaly-cli)" >&2; exit 2; }

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# A profile with mail data, and one large mail folder so that the run lasts long enough
# to be seen in the middle.
scripts/make-sample-profile "$work/alice" --user alice >/dev/null
store=$(find "$work/alice/drive_c" -type d -name 'Outlook Express' | head -1)
head -c "${TESSALY_WALK_MB:-300}M" /dev/urandom > "$store/Big Archive.dbx"
scripts/make-sample-profile "$work/bob" --user bob --seed 7 >/dev/null
mkdir -p "$work/out"
password=walk-secret
TESSALY_PASSWORD=$password USER=alice "$cli" new "$work/Mail.tsly" --name Mail --items all --folder "$work/out" \
  --level default --encrypt --profile "$work/alice" >/dev/null

source scripts/xvfb.sh
start_xvfb "$work"

step() { echo "gui-walk: $*"; }
# Waits for a visible window whose title matches, and gives it the keyboard.
wait_window() {
  local id
  for _ in $(seq 3000); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1 || true)
    if [ -n "$id" ]; then
      xdotool windowfocus --sync "$id" 2>/dev/null || true
      sleep 0.4
      return 0
    fi
    sleep 0.1
  done
  echo "gui-walk: no window \"$1\" appeared" >&2
  scrot -o "$shots/failed.png"
  exit 1
}
shot() { scrot -o "$shots/$1.png"; step "saved $shots/$1.png"; }
keys() { xdotool key --delay 120 "$@"; }
typed() { xdotool type --delay 10 "$1"; }

start_app() {
  USER=$1 "$app" --profile "$2" >"$work/app-$1.log" 2>&1 &
  app_pid=$!
  wait_window '^Tessaly$'
}
stop_app() {
  wait_window '^Tessaly$'
  keys ctrl+x
  for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app_pid" 2>/dev/null; then echo "gui-walk: the program did not close" >&2; exit 1; fi
  wait "$app_pid" || { echo "gui-walk: the program ended with an error" >&2; cat "$work/app-$1.log" >&2; exit 1; }
  app_pid=""
}

step "backup: alice's profile, project file $work/Mail.tsly"
start_app alice "$work/alice"
shot 01-main-window
keys ctrl+b
wait_window '^Please select'
keys Down Down
shot 02-start-choice
keys Return
wait_window '^Open'                       # the file chooser
typed "$work/Mail.tsly"
keys Return
wait_window '^Please enter your password' # the project file is encrypted
typed "$password"
keys Return
wait_window '^Backup'
shot 03-backup-dialog
keys Return                               # OK
wait_window '^Question$'                  # "Do you want to backup?"
keys Return                               # Yes
wait_window '^Please wait'
sleep 1
shot 04-progress-backup
sleep 4                                   # the large file is still being read: the bar moved
shot 04b-progress-backup-later
wait_window '^Information$'
shot 05-finished
keys Return
[ -s "$work/out/Mail.tsly_dat" ] || { echo "gui-walk: no data file was written" >&2; exit 1; }
placement() { xdotool search --onlyvisible --name '^Tessaly$' getwindowgeometry | grep -E 'Position|Geometry'; }
placed=$(placement)
stop_app alice

step "second start: the window comes back exactly where it was"
start_app alice "$work/alice"
again=$(placement)
[ "$placed" = "$again" ] || { echo "gui-walk: the window moved between starts: $placed / $again" >&2; exit 1; }
shot 05b-second-start
stop_app alice

step "restore: into bob's profile"
start_app bob "$work/bob"
keys ctrl+r
wait_window '^Restore'
typed "$work/out/Mail.tsly_dat"           # typed into the file field, which has the focus
keys Return                               # reads it; the file is encrypted
wait_window '^Please enter your password'
keys Escape                               # the password is given in the dialog instead
wait_window '^Restore'
keys alt+p                                # the archive password field
typed wrong
keys alt+r                                # Restore: the password is checked here
wait_window '^Error$'
shot 06-wrong-archive-password
keys Return
wait_window '^Restore'
keys alt+p ctrl+a
typed "$password"
shot 06b-restore-dialog
keys alt+r                                # the Restore button
wait_window '^Please wait'                # a restore is quicker: caught at once
shot 07-progress-restore
wait_window '^Information$'
shot 08-finished
keys Return
stop_app bob
restored=$(find "$work/bob/drive_c" -name 'Big Archive.dbx' | head -1)
cmp -s "$restored" "$store/Big Archive.dbx" || { echo "gui-walk: the restored mail folder differs" >&2; exit 1; }
step "done: backup and restore walked; the restored mail store matches"
