#!/usr/bin/env bash
# Saves PNG screenshots of the main, notice, sponsor and download windows, drawn on a virtual X
# display (the download window during a run against a loopback HLS server made with ffmpeg).
# Usage: tools/screenshots/shoot.sh [build folder] [output folder]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
out=${2:-$build/screenshots}
cmake --build "$build" -j2 --target qy_window_shots qy_download_window_shot
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/qy_window_shots" "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" "$build/bin/qy_download_window_shot" "$out"
# Crop each shot to its window (the windows sit at the top left of the display).
convert "$out/main_window.png" -crop 451x800+0+0 +repage "$out/main_window.png"
convert "$out/notice_window.png" -crop 345x432+0+0 +repage "$out/notice_window.png"
convert "$out/sponsor_window.png" -crop 422x300+0+0 +repage "$out/sponsor_window.png"
convert "$out/download_window.png" -crop 1000x520+0+0 +repage "$out/download_window.png"
ls -l "$out"
