#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing. Run as root
# (CI and fresh machines); as another user it prints the one line to run instead.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev libpng-dev
          libjpeg62-turbo-dev libturbojpeg0-dev ffmpeg libswscale-dev libavutil-dev libsdl2-dev
          xvfb xauth clang strace file dpkg-dev man-db
          libavdevice-dev libavformat-dev libavcodec-dev libswresample-dev libavfilter-dev
          libasound2-dev libasound2-data python3)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run once: sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
  { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; }
