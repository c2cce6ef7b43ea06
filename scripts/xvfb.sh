# Sourced by the scripts and tests that drive the windowed program under a real X server.
# start_xvfb WORKDIR: starts Xvfb on a display number it chooses itself (-displayfd), so two
# runs side by side never share one (a display picked by the caller could be taken, or shut
# down, by the other run), and waits until it answers. Sets xvfb_pid and exports DISPLAY.
# -noreset: by default the server starts afresh whenever its last client leaves, and a
# program connecting in that moment is refused ("could not connect to display"), which on a
# busy machine happened between one start of the program and the next.
start_xvfb() {
  local file=$1/xvfb-display
  : >"$file"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$file" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$file" ] || { echo "no X server could be started" >&2; return 1; }
  export DISPLAY=:$(head -n 1 "$file" | tr -d '[:space:]')
  for _ in $(seq 50); do
    xdotool getmouselocation >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "the X server on $DISPLAY does not answer" >&2
  return 1
}
