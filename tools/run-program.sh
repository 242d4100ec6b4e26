#!/usr/bin/env bash
# Installs what the program needs, builds it, starts the bundled demo catalogue server on loopback
# and starts the program against it. The demo server stops when the program ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
if [ -x tools/demo/prepare.sh ]; then bash tools/demo/prepare.sh; fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target qingyou
demo_pid=""
if [ -x build/bin/qy_demo_server ]; then
  build/bin/qy_demo_server --root tools/demo &
  demo_pid=$!
  trap 'kill $demo_pid 2>/dev/null || true' EXIT
fi
build/bin/qingyou
