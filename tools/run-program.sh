#!/usr/bin/env bash
# Installs what the program needs, builds it, starts the bundled demo catalogue server on loopback
# and starts the program against it. The demo server stops when the program ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
if [ -x tools/demo/prepare.sh ]; then bash tools/demo/prepare.sh; fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target qingyou qy_demo_server

# The demo server: catalogue API on https://127.0.0.1:47443, player pages and media on
# http://127.0.0.1:47080 (the program's built-in addresses). Its request log goes to
# build/demo-server.log.
demo_pid=""
stop_demo() {
  if [ -n "$demo_pid" ]; then
    kill "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
    demo_pid=""
  fi
}
trap stop_demo EXIT
trap 'stop_demo; exit 130' INT TERM

demo_answers() { (exec 3<>/dev/tcp/127.0.0.1/47080) 2>/dev/null; }

if demo_answers; then
  echo "A demo server is already listening on 127.0.0.1:47080; using it."
else
  log=build/demo-server.log
  build/bin/qy_demo_server --root "$(pwd)/tools/demo" >"$log" 2>&1 &
  demo_pid=$!
  for _ in $(seq 1 100); do
    if grep -q "listening on" "$log" 2>/dev/null; then break; fi
    if ! kill -0 "$demo_pid" 2>/dev/null; then
      echo "The demo server did not start:" >&2
      cat "$log" >&2
      demo_pid=""
      exit 1
    fi
    sleep 0.1
  done
  if ! demo_answers; then
    echo "The demo server does not answer on 127.0.0.1:47080 (see $log)." >&2
    exit 1
  fi
  echo "Demo server running (pid $demo_pid, log $log)."
fi

# The program checks every certificate; the demo's self-signed one is trusted through the key
# 证书文件 of its settings file (DaTa/数据.ini beside the executable: GB18030 text, CRLF lines),
# which is made here with the program's default content when it does not exist yet.
ini=build/bin/DaTa/数据.ini
certificate="$(pwd)/tools/demo/media/tls/server.crt"
mkdir -p build/bin/DaTa
if [ ! -f "$ini" ]; then
  printf '[配置项]\r\n线路=0\r\n副屏=真\r\n连播=真\r\n\r\n[观看历史]\r\n数据=\r\n' | iconv -f UTF-8 -t GB18030 >"$ini"
fi
settings=$(iconv -f GB18030 -t UTF-8 "$ini" | sed '/^证书文件=/d' |
  sed "s|^\[配置项\]\r\$|[配置项]\r\n证书文件=$certificate\r|")
printf '%s\n' "$settings" | iconv -f UTF-8 -t GB18030 >"$ini.new" && mv "$ini.new" "$ini"
grep -q "server.crt" "$ini" || { echo "could not set 证书文件 in $ini" >&2; exit 1; }

build/bin/qingyou
