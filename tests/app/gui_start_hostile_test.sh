#!/usr/bin/env bash
# The windowed program's start, with a link out of the profile, a FIFO or a device at each
# fixed name it opens (the prefix's user.reg, system.reg, wineserver and debug log, and its
# own settings file): within 10 s it shows a window, it reads and writes nothing outside,
# and its memory stays bounded. Runs under a real X server (Xvfb).
# Usage: gui_start_hostile_test.sh TESSALY MAKE_SAMPLE_PROFILE
set -euo pipefail
app=$1
make_profile=$2
limit_kib=$((256 * 1024))  # the sanitizers' own share included
for tool in Xvfb xdotool /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
unset WAYLAND_DISPLAY QT_QPA_PLATFORM WINEPREFIX
mkdir -p "$XDG_CONFIG_HOME/tessaly"
/usr/bin/python3 "$make_profile" "$work/alice" --user alice >/dev/null
secret=SECRET-OUTSIDE-THE-PROFILE
printf '%s' "$secret" >"$work/outside.txt"

source "$(dirname "$0")/../../scripts/xvfb.sh"
start_xvfb "$work"

failed=0
fail() {
  echo "FAILED: $*" >&2
  failed=1
}

for name in user.reg system.reg wineserver drive_c/ts_debug.log settings; do
  if [ "$name" = settings ]; then place=$XDG_CONFIG_HOME/tessaly/settings.reg; else place=$work/alice/$name; fi
  [ -e "$place" ] && mv "$place" "$work/kept"
  for kind in link fifo device; do
    case $kind in
      link) ln -s "$work/outside.txt" "$place" ;;
      fifo) mkfifo "$place" ;;
      device) ln -s /dev/zero "$place" ;;
    esac
    /usr/bin/time -f %M -o "$work/peak" "$app" --profile "$work/alice" >"$work/out" 2>&1 &
    app_pid=$!
    shown=""
    for _ in $(seq 100); do
      if xdotool search --onlyvisible --name Tessaly >/dev/null 2>&1; then shown=yes; break; fi
      kill -0 "$app_pid" 2>/dev/null || break
      sleep 0.1
    done
    pkill -9 -P "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
    peak=$(grep -E '^[0-9]+$' "$work/peak" | tail -n 1 || true)
    what="$name as a $kind"
    [ -n "$shown" ] || fail "$what: no window within 10 s ($(head -c 300 "$work/out"))"
    [ -n "$peak" ] && [ "$peak" -lt "$limit_kib" ] || fail "$what: peak ${peak:-unknown} KiB"
    [ "$(cat "$work/outside.txt")" = "$secret" ] || fail "$what: the file outside was changed"
    if grep -rl --exclude=outside.txt "$secret" "$work" >/dev/null 2>&1; then
      fail "$what: the outside file's content was copied into $(grep -rl --exclude=outside.txt "$secret" "$work" | head -1)"
    fi
    rm -f "$place"
    echo "ok: $what (peak ${peak:-?} KiB)"
  done
  [ -e "$work/kept" ] && mv "$work/kept" "$place"
done
exit $failed
