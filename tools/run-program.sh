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

build/bin/qingyou
