#!/usr/bin/env bash
# Start-up of the real program to its ready main window, on a virtual X display: the time from
# launch to the notice window, and from closing the notice (as its close button does) to the main
# window shown at 10,10 after the ready line, with the browser bridge prepared and started.
# Usage: bench/startup_to_ready.sh [build folder] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-5}
work=$(mktemp -d /tmp/qy-startup-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$build/bin/qingyou" "$work/"
# Sends WM_DELETE_WINDOW, what a window manager's close button sends.
cat > "$work/close.c" <<'C'
#include <X11/Xlib.h>
#include <stdlib.h>
int main(int argc, char** argv)
{
    (void)argc;
    Display* d = XOpenDisplay(0);
    XEvent e = {0};
    e.xclient.type = ClientMessage;
    e.xclient.window = strtoul(argv[1], 0, 0);
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
    XCloseDisplay(d);
    return 0;
}
C
cc "$work/close.c" -o "$work/close" -lX11
cat > "$work/run.sh" <<'SH'
set -eu
cd "$1"
export TMPDIR=$1 QT_QPA_PLATFORM=xcb
# Polls every 10 ms (xdotool's own --sync waits half a second between looks).
find_window() { local id=""; until id=$(xdotool search "$@" 2>/dev/null | head -1) && [ -n "$id" ]; do sleep 0.01; done; echo "$id"; }
for i in $(seq 1 "$2"); do
  rm -rf DaTa
  t0=$(date +%s%N)
  ./qingyou >/dev/null 2>&1 & p=$!
  notice=$(find_window --name '无视直接×掉')
  t1=$(date +%s%N)
  ./close "$notice"
  main=$(find_window --onlyvisible --name '青柚动漫')
  t2=$(date +%s%N)
  echo "run $i: launch to notice $(( (t1 - t0) / 1000000 )) ms, notice closed to ready window $(( (t2 - t1) / 1000000 )) ms"
  ./close "$main"
  wait $p || true
done
SH
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/run.sh" "$work" "$runs"
