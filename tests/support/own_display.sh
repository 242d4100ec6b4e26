#!/usr/bin/env bash
# Runs one end-to-end test program on an X display of its own. Test programs run side by side, and
# the keys one of them types (Alt+0 and the other player shortcuts are observed desktop-wide) must
# never reach the windows or the shortcut hook of another. Xvfb picks the free display number
# itself (-displayfd), so two programs starting together cannot take the same one.
set -u
tmp=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -ac 3>"$tmp/display" 2>"$tmp/log" &
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
DISPLAY=":$display" "$@"
