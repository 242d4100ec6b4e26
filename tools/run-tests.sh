#!/usr/bin/env bash
# Installs what the tests need, builds from scratch in build/ (or build-asan/ with --sanitize) and
# runs every test under ctest. Window tests use the offscreen platform; end-to-end tests run under
# Xvfb, which this script provides. With the environment variable CI set, compiler warnings are
# errors (QY_WERROR).
#   tools/run-tests.sh              all tests, normal build
#   tools/run-tests.sh --sanitize   every test but the end-to-end ones (the window tests on the
#                                   offscreen platform among them), AddressSanitizer + UBSan build
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=0
[ "${1:-}" = "--sanitize" ] && sanitize=1

bash tools/install-deps.sh
if [ -x tools/demo/prepare.sh ]; then bash tools/demo/prepare.sh; fi

jobs=$(nproc)
# Under CI (CI set, as .ci/run is run) a warning fails the build.
werror=OFF
[ -n "${CI:-}" ] && werror=ON
if [ $sanitize = 1 ]; then
  dir=build-asan
  cmake -S . -B $dir -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQY_SANITIZE=ON -DQY_BUILD_BENCH=OFF \
    -DQY_WERROR=$werror
  # Every test program but the end-to-end ones (which drive the browser engine) is built and run.
  labels='^(util|net|app|catalogue|playback|download|ui)$'
  targets=$(cd $dir && ctest -N -L "$labels" | sed -n 's/^ *Test *#[0-9]*: *//p')
  cmake --build $dir -j "$jobs" --target $targets
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  (cd $dir && ctest --output-on-failure -j "$jobs" -L "$labels")
else
  dir=build
  cmake -S . -B $dir -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQY_WERROR=$werror
  cmake --build $dir -j "$jobs"
  (cd $dir && xvfb-run -a -s "-screen 0 1920x1080x24" ctest --output-on-failure -j "$jobs")
fi
