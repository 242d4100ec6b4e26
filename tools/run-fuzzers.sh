#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang, AddressSanitizer and UBSan in build-fuzz/ and
# runs each one for a while, starting from its seed corpus in fuzz/corpus/<name>. A crash, a
# sanitizer report, a time-out of one input or a run beyond the memory limit fails the script; the
# input that did it is kept in build-fuzz/findings/<name>/.
#   tools/run-fuzzers.sh                 every harness for 30 s
#   tools/run-fuzzers.sh 600 json_document cookies
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
[ $# -gt 0 ] && shift
all=(json_document cookies hash_table ini_store hls_playlist play_text time_text catalogue_text)
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=("${all[@]}")

dir=build-fuzz
# Under CI (CI set) a compiler warning fails the build, as in tools/run-tests.sh.
werror=OFF
[ -n "${CI:-}" ] && werror=ON
CC=clang CXX=clang++ cmake -S . -B $dir -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQY_SANITIZE=ON \
  -DQY_BUILD_FUZZERS=ON -DQY_BUILD_TESTS=OFF -DQY_BUILD_BENCH=OFF -DQY_WERROR=$werror > /dev/null
cmake --build $dir -j "$(nproc)" --target "${harnesses[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
failed=()
for h in "${harnesses[@]}"; do
  corpus=$dir/corpus/$h
  findings=$dir/findings/$h
  mkdir -p "$corpus" "$findings"
  echo "== fuzz_$h for ${seconds} s"
  if ! "$dir/bin/fuzz_$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "fuzz/corpus/$h" \
      2> "$dir/fuzz_$h.log"; then
    failed+=("$h")
    tail -60 "$dir/fuzz_$h.log"
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$dir/fuzz_$h.log" || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzers with findings: ${failed[*]}"
  exit 1
fi
echo "no findings"
