#!/usr/bin/env bash
# Checks that every C++ file of the tree is laid out as .clang-format says; lists the files that
# differ and fails if there are any. `tools/check-format.sh --fix` rewrites them in place.
set -euo pipefail
cd "$(dirname "$0")/.."
fmt=${CLANG_FORMAT:-clang-format}
mapfile -t files < <(git ls-files -- src tests bench fuzz tools |
  grep -E '\.(c|cc|cpp|cxx|h|hpp)$')
if [ "${1:-}" = "--fix" ]; then
  "$fmt" -i -- "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  "$fmt" --dry-run --Werror -- "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "clang-format: ${#bad[@]} file(s) differ from .clang-format (tools/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "clang-format: ${#files[@]} files clean"
