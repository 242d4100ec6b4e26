#!/usr/bin/env bash
# Installs every Debian package the program, its demo server and its tests need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin
  qt6-l10n-tools libgl-dev libxkbcommon-dev libx11-dev libxi-dev libxext-dev
  libcurl4-openssl-dev libpcre2-dev nlohmann-json3-dev libcpp-httplib-dev libssl-dev openssl
  libavformat-dev libavcodec-dev libavutil-dev ffmpeg
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-noto-cjk xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick
  # The Debian package: its build, its checks and the throw-away root of its install test.
  dpkg-dev lintian desktop-file-utils appstream mmdebstrap curl python3
  # The fuzzers (clang's libFuzzer) and the lunar calendar's cross-check.
  python3-lunardate clang libclang-rt-14-dev
  # The layout check (tools/check-format.sh) and the static checks (tools/run-clang-tidy.sh).
  clang-format clang-tidy
  # The playback bench (bench/playback_measure.sh): a window manager on Xvfb and its remote control.
  openbox wmctrl
  # The download bench compares the downloader with yt-dlp's own HLS downloader.
  yt-dlp
)
# Node.js and npm fetch the web players of the demo; a machine that already has them keeps its own.
if ! command -v npm >/dev/null 2>&1; then packages+=(nodejs npm); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
