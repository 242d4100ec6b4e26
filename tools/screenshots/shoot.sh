#!/usr/bin/env bash
# Saves PNG screenshots of the main, notice, sponsor and download windows, drawn on a virtual X
# display (the download window during a run against a loopback HLS server made with ffmpeg), and
# of the player window playing on the demo's two player pages (needs tools/demo/prepare.sh).
# Usage: tools/screenshots/shoot.sh [build folder] [output folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
out=${2:-$build/screenshots}
cmake --build "$build" -j2 --target qy_window_shots qy_download_window_shot qy_demo_server WebView2Plus
mkdir -p "$out"

# The demo server on ports of its own choosing, for the player shots.
log=$(mktemp)
"$build/bin/qy_demo_server" --root tools/demo --https-port 0 --http-port 0 >"$log" 2>&1 &
demo=$!
trap 'kill $demo 2>/dev/null; rm -f "$log"' EXIT
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.*and http:\/\/127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log" | head -1)
  [ -n "$port" ] && break
  sleep 0.1
done
player_host=${port:+http://127.0.0.1:$port}
[ -n "$player_host" ] || echo "demo server did not start: no player shots"

xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/qy_window_shots" "$out" $player_host
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/qy_download_window_shot" "$out"
# Crop each shot to its window (the windows sit at the top left of the display).
convert "$out/main_window.png" -crop 451x800+0+0 +repage "$out/main_window.png"
convert "$out/main_window_series.png" -crop 451x800+0+0 +repage "$out/main_window_series.png"
convert "$out/notice_window.png" -crop 345x432+0+0 +repage "$out/notice_window.png"
convert "$out/sponsor_window.png" -crop 422x300+0+0 +repage "$out/sponsor_window.png"
convert "$out/download_window.png" -crop 1000x520+0+0 +repage "$out/download_window.png"
for shot in player_dplayer player_aliplayer; do
  [ -f "$out/$shot.png" ] && convert "$out/$shot.png" -crop 1005x621+0+0 +repage "$out/$shot.png"
done
ls -l "$out"
