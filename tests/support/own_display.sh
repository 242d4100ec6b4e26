#!/usr/bin/env bash
# Runs one end-to-end test program on an X display of its own. Test programs run side by side, and
# the keys one of them types (Alt+0 and the other player shortcuts are observed desktop-wide) must
# never reach the windows or the shortcut hook of another. Xvfb picks the free display number
# itself (-displayfd), so two programs starting together cannot take the same number.
#
# Usage: own_display.sh [--size WxH] [--monitor "NAME GEOMETRY OUTPUT"]... program [args]
#   --size     the screen's size (default 1920x1080);
#   --monitor  a RandR monitor on that screen, as `xrandr --setmonitor` takes it (a name starting
#              with * is the primary one; OUTPUT is "screen" for the server's one output, "none"
#              for the others). Qt reports each monitor as a screen of its own.
set -u
size=1920x1080
monitors=()
while [ $# -gt 0 ]; do
  case $1 in
    --size) size=$2; shift 2 ;;
    --monitor) monitors+=("$2"); shift 2 ;;
    *) break ;;
  esac
done
tmp=$(mktemp -d)
# -noreset: the server would otherwise reset (dropping the monitors set below) as soon as its
# last client, xrandr, disconnects.
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -ac -noreset 3>"$tmp/display" 2>"$tmp/log" &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -rf "$tmp"' EXIT
for _ in $(seq 400); do
  [ -s "$tmp/display" ] && break
  kill -0 $xvfb 2>/dev/null || break
  sleep 0.05
done
display=$(head -n 1 "$tmp/display" 2>/dev/null)
if [ -z "$display" ]; then
  echo "Xvfb did not start:" >&2
  cat "$tmp/log" >&2
  exit 1
fi
export DISPLAY=":$display"
for monitor in "${monitors[@]}"; do
  # shellcheck disable=SC2086 # the monitor is given as three words
  if ! xrandr --setmonitor $monitor >/dev/null; then
    echo "could not set the monitor $monitor" >&2
    exit 1
  fi
done
"$@"
