#!/usr/bin/env bash
# Prepares everything the bundled demo server serves that is not kept in git:
#   node_modules/   the pinned web players (DPlayer, hls.js, Aliplayer) from the npm registry
#   media/clips/    short HLS clips made by ffmpeg from its test sources (one AES-128 encrypted,
#                   one low-resolution variant)
#   media/covers/   one cover picture per catalogue item, drawn by ffmpeg
#   media/tls/      the self-signed certificate of the HTTPS catalogue port
# Safe to run again: every step skips work that is already done.
set -euo pipefail
cd "$(dirname "$0")"
demo=$(pwd)
media=$demo/media
mkdir -p "$media/clips" "$media/covers" "$media/tls"

log() { echo "[demo] $*"; }

# --- Web players -----------------------------------------------------------------------------
players_ok() {
  [ -f node_modules/dplayer/dist/DPlayer.min.js ] &&
    [ -f node_modules/hls.js/dist/hls.min.js ] &&
    [ -f node_modules/aliyun-aliplayer/dist/aliplayer-min.js ] &&
    [ node_modules/.package-lock.json -nt package-lock.json ]
}
if players_ok; then
  log "web players already installed"
else
  log "installing web players (npm ci)"
  npm ci --no-audit --no-fund --loglevel=error
  touch node_modules/.package-lock.json
fi

# --- TLS certificate ---------------------------------------------------------------------------
if [ -s "$media/tls/server.crt" ] && [ -s "$media/tls/server.key" ]; then
  log "certificate already made"
else
  log "making the self-signed certificate"
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -sha256 -subj "/CN=127.0.0.1" \
    -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" \
    -keyout "$media/tls/server.key.tmp" -out "$media/tls/server.crt.tmp" 2>/dev/null
  mv "$media/tls/server.key.tmp" "$media/tls/server.key"
  mv "$media/tls/server.crt.tmp" "$media/tls/server.crt"
fi

# --- HLS clips -------------------------------------------------------------------------------
# make_clip NAME SECONDS SIZE PATTERN_SEED TONE_HZ [extra hls options...]
# H.264 + AAC, a key frame every 2 s and 4 s segments, so every segment starts on a key frame.
make_clip() {
  local name=$1 secs=$2 size=$3 seed=$4 tone=$5
  shift 5
  local dir=$media/clips/$name
  if [ -s "$dir/index.m3u8" ] && grep -q '#EXT-X-ENDLIST' "$dir/index.m3u8"; then
    log "clip $name already made"
    return
  fi
  log "making clip $name (${secs}s, $size)"
  rm -rf "$dir.tmp" && mkdir -p "$dir.tmp"
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=$size:rate=25:duration=$secs,hue=h=$seed" \
    -f lavfi -i "sine=frequency=$tone:sample_rate=44100:duration=$secs" \
    -c:v libx264 -preset veryfast -profile:v main -pix_fmt yuv420p -g 50 -keyint_min 50 \
    -sc_threshold 0 -b:v 600k -c:a aac -b:a 96k -ac 2 -shortest \
    -f hls -hls_time 4 -hls_playlist_type vod -hls_segment_filename "$dir.tmp/seg%03d.ts" \
    "$@" "$dir.tmp/index.m3u8"
  rm -rf "$dir" && mv "$dir.tmp" "$dir"
}

make_clip c1 24 640x360 0 440
make_clip c2 28 640x360 120 660
make_clip c3 20 640x360 240 330
make_clip lo 24 320x180 0 440
# A 4:3 clip: a player page that takes the video's shape is taller than the player window's view.
make_clip sd 24 640x480 60 550

# The encrypted clip: a fixed key kept beside it; the playlist names the key by a relative URI.
enc=$media/clips/enc
if [ -s "$enc/index.m3u8" ] && grep -q '#EXT-X-ENDLIST' "$enc/index.m3u8"; then
  log "clip enc already made"
else
  mkdir -p "$media/keys"
  [ -s "$media/keys/enc.key" ] || openssl rand 16 >"$media/keys/enc.key"
  printf 'enc.key\n%s\n' "$media/keys/enc.key" >"$media/keys/enc.keyinfo"
  make_clip enc 24 640x360 300 550 -hls_key_info_file "$media/keys/enc.keyinfo"
  cp "$media/keys/enc.key" "$enc/enc.key"
fi

# --- Cover pictures --------------------------------------------------------------------------
# One JPEG per catalogue item (first column of catalogue.tsv: vod_id; third: vod_name), the title
# drawn on a coloured ground.
font=/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc
[ -f "$font" ] || font=$(fc-match -f '%{file}' 'Noto Sans CJK SC:bold' 2>/dev/null || true)
colors=(0x2d4059 0x8e3b46 0x3f6e4f 0x6a4c93 0x9c6644 0x1b6b7a 0x5c5470 0x7a3e65)
made=0
while IFS=$'\t' read -r id _type name _rest; do
  case "$id" in '' | \#*) continue ;; esac
  out=$media/covers/$id.jpg
  [ -s "$out" ] && continue
  printf '%s' "$name" >"$media/covers/$id.txt"
  color=${colors[$((id % ${#colors[@]}))]}
  ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "color=c=$color:s=240x350" -frames:v 1 \
    -vf "drawbox=x=12:y=12:w=216:h=326:color=white@0.35:t=3,drawtext=fontfile=$font:textfile=$media/covers/$id.txt:fontcolor=white:fontsize=26:x=(w-text_w)/2:y=(h-text_h)/2,drawtext=fontfile=$font:text=DEMO $id:fontcolor=white@0.7:fontsize=16:x=(w-text_w)/2:y=h-50" \
    -q:v 3 "$out.tmp.jpg"
  mv "$out.tmp.jpg" "$out"
  rm -f "$media/covers/$id.txt"
  made=$((made + 1))
done <"$demo/catalogue.tsv"
log "covers ready ($made made now)"
log "demo ready"
