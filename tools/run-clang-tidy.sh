#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over every source file of src/ (not the generated
# moc and ui files), from the compile commands of a build folder (build/ unless given), which is
# brought up to date first so that the generated headers exist. Lists each finding and fails when
# there is any; clang-tidy's full notes for each file are kept in <build-folder>/clang-tidy/.
#   tools/run-clang-tidy.sh [build-folder] [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
jobs=${2:-$(nproc)}
root=$(pwd)
[ -f "$dir/compile_commands.json" ] ||
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$dir" -j "$jobs" > /dev/null
mapfile -t files < <(python3 - "$dir/compile_commands.json" "$root/src/" <<'PY'
import json, sys
seen = set()
for entry in json.load(open(sys.argv[1])):
    f = entry["file"]
    if f.startswith(sys.argv[2]) and f.endswith(".cpp") and f not in seen:
        seen.add(f)
        print(f)
PY
)
out=$dir/clang-tidy
rm -rf "$out"
mkdir -p "$out"
start=$(date +%s)
printf '%s\n' "${files[@]}" |
  xargs -P "$jobs" -I{} sh -c 'clang-tidy -p "$1" --quiet "$2" > "$3/$(echo "$2" | tr / _).log" 2>&1' \
    _ "$dir" {} "$out" || true
cat "$out"/*.log | grep -E '^[^ ].*: (warning|error): ' | sort -u > "$out/findings" || true
echo "clang-tidy: ${#files[@]} files in $(($(date +%s) - start)) s"
if [ -s "$out/findings" ]; then
  cat "$out/findings"
  echo "clang-tidy: $(wc -l < "$out/findings") finding(s)" >&2
  exit 1
fi
echo "clang-tidy: no findings"
