#!/usr/bin/env bash
# The playback path on a virtual X display with a window manager, against a running demo server:
#  - bench_playback (double-click to the first second played, median of 5 for each player page
#    configuration of the demo server, and one pollPlayer tick);
#  - memory of the program's process tree (PSS, including the browser engine's processes, and
#    the main process's peak RSS) while the player window plays the DPlayer page, against a bare
#    QWebEngineView program playing the same page;
#  - a screenshot of the player window playing the Aliplayer page (optional third argument).
# Usage: bench/playback_measure.sh [build folder] [demo http address] [screenshot.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
host=${2:-http://127.0.0.1:47080}
shot=${3:-}
work=$(mktemp -d /tmp/qy-playbench-XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

display=:$(( 120 + RANDOM % 50 ))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
sleep 1
export DISPLAY=$display QT_QPA_PLATFORM=xcb QY_DEMO_HTTP=$host TMPDIR=$work
openbox >/dev/null 2>&1 & pids+=($!)
sleep 1

# Closes the notice and sponsor windows whenever they show (the program opens neither itself in
# the bench, but a stray one would cover the player).
( while true; do wmctrl -c 'qingyou' 2>/dev/null || true; sleep 0.5; done ) & pids+=($!)

episode=$host/media/5/1/index.m3u8
dplayer=$host/player/jx.php?url=$episode
aliplayer=$host/m3u8/?url=$episode

echo "== bench_playback"
"$build/bin/bench_playback" 2>&1 | grep -v 'Fontconfig\|bus\.cc\|^ \|^Init\|^$\|QSG\|^Using\|command_buffer'


# PSS (kB) of a process and all its descendants.
tree_pss() {
    local all=$1 total=0 p
    for p in $(ps -o pid= --ppid "$1"); do all="$all $(ps -o pid= --ppid "$p" | tr '\n' ' ') $p"; done
    for p in $all; do
        [ -r /proc/$p/smaps_rollup ] || continue
        total=$(( total + $(awk '/^Pss:/ {print $2}' /proc/$p/smaps_rollup) ))
    done
    echo "$total kB PSS in $(echo $all | wc -w) processes"
}

# Starts "$@", waits for its "PLAYING" line, lets it play 5 s more and reports its memory.
measure() {
    local label=$1; shift
    "$@" >"$work/out" 2>"$work/err" & local p=$!
    for _ in $(seq 1 600); do grep -q PLAYING "$work/out" && break; sleep 0.1; done
    if ! grep -q PLAYING "$work/out"; then echo "$label: did not start playing"; kill $p 2>/dev/null || true; return; fi
    sleep 5
    echo "$label: $(tree_pss $p); main process peak RSS $(awk '/VmHWM/ {print $2, $3}' /proc/$p/status)"
    if [ -n "${shoot:-}" ]; then
        local win geom
        win=$(awk '/PLAYING/ {print $3}' "$work/out")
        wmctrl -i -a "$win" || true
        sleep 1
        # The frame's outer geometry: the window plus the decoration openbox draws around it.
        eval "$(xwininfo -id "$(xwininfo -id "$win" -children | awk '/Parent window id/ {print $4}')" |
            awk '/Absolute upper-left X/ {print "x=" $4} /Absolute upper-left Y/ {print "y=" $4}
                 /Width:/ {print "w=" $2} /Height:/ {print "h=" $2}')"
        import -window root "$work/root.png"
        convert "$work/root.png" -crop "${w}x${h}+${x}+${y}" +repage "$shoot"
        echo "screenshot ${w}x${h}+${x}+${y} -> $shoot"
    fi
    kill $p; wait $p 2>/dev/null || true
}

cat > "$work/bare.cpp" <<'CPP'
// A bare browser view: loads the page, starts its video and prints PLAYING once it advances.
#include <QApplication>
#include <QTimer>
#include <QWebEngineView>
#include <QWebEngineSettings>
#include <cstdio>
#include <unistd.h>
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWebEngineView view;
    view.settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    view.resize(960, 600);
    view.load(QUrl(QString::fromLocal8Bit(argv[1])));
    view.show();
    QTimer poll;
    bool said = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        view.page()->runJavaScript(
            "(function(){var v=document.querySelector('video'); if(!v) return 0;"
            " if(v.paused) v.play(); return v.currentTime;})()",
            [&](const QVariant& t) {
                if (!said && t.toDouble() > 1.0) {
                    said = true;
                    std::printf("PLAYING %d\n", int(getpid()));
                    std::fflush(stdout);
                }
            });
    });
    poll.start(200);
    return app.exec();
}
CPP
g++ -std=c++20 -O2 -fPIC "$work/bare.cpp" -o "$work/bare" $(pkg-config --cflags --libs Qt6WebEngineWidgets)

echo "== memory while playing the DPlayer page (machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
measure "program, player window" "$build/bin/bench_playback" --hold="$dplayer" --seconds=60
# Root needs the sandbox off, as the program's browser runs it.
QTWEBENGINE_DISABLE_SANDBOX=1 measure "bare QWebEngineView" "$work/bare" "$dplayer"

if [ -n "$shot" ]; then
    shoot=$shot measure "program, Aliplayer page" "$build/bin/bench_playback" --hold="$aliplayer" --seconds=60
fi
