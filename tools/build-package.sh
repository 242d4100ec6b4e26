#!/usr/bin/env bash
# Builds the Debian package of the program: qingyou_<version>_<arch>.deb.
#   tools/build-package.sh               a release build in build-deb/, without tests or benchmarks
#   tools/build-package.sh <build dir>   packs from an existing build folder (e.g. build/); only its
#                                        program target is brought up to date
# The package lands in the build folder; its path is printed on the last line.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-deb}

bash tools/install-deps.sh >&2
# Dates written into the package (changelog, metainfo, manual page) are those of the last commit,
# so the same sources give the same package.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
  export SOURCE_DATE_EPOCH
fi

# The hardening flags of a Debian package build (stack protector, fortified functions, read-only
# relocations, immediate binding), without dpkg's own debug and optimisation choice.
buildflags() {
  local flag out=()
  for flag in $(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"); do
    case $flag in -g | -O*) ;; *) out+=("$flag") ;; esac
  done
  echo "${out[*]}"
}

if [ ! -f "$dir/CMakeCache.txt" ]; then
  cppflags=$(buildflags CPPFLAGS)
  ldflags=$(buildflags LDFLAGS)
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQY_BUILD_TESTS=OFF -DQY_BUILD_BENCH=OFF \
    "-DCMAKE_C_FLAGS=$cppflags $(buildflags CFLAGS)" \
    "-DCMAKE_CXX_FLAGS=$cppflags $(buildflags CXXFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags" >&2
else
  cmake "$dir" >&2
fi
cmake --build "$dir" -j "$(nproc)" --target qingyou >&2
rm -f "$dir"/qingyou_*.deb
(cd "$dir" && cpack -G DEB) >&2
ls "$dir"/qingyou_*.deb
