#!/usr/bin/env bash
# Builds the portable code (JPEG encoder core, preview kernels, lumo-jpegenc and their tests) for
# aarch64 with Debian's cross compiler and runs it under qemu-user: the kernel tests through
# ctest, then the encoder's streams compared byte for byte with this machine's build
# (scripts/compare-encoders.sh, every picture, layout, format, rotation and scale). Slow; not
# part of scripts/test.sh.
#
# Needs g++-aarch64-linux-gnu, qemu-user and googletest's sources (/usr/src/googletest), and a
# native build in build/ (for the reference lumo-jpegenc).
# Usage: scripts/cross-aarch64.sh [--build DIR]   (DIR defaults to build-aarch64/)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-aarch64
case "${1:-}" in
  --build) [ $# -ge 2 ] || { echo "cross-aarch64.sh: --build needs a folder" >&2; exit 2; }
           dir=$2 ;;
  -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  "") ;;
  *) echo "cross-aarch64.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
esac
sysroot=/usr/aarch64-linux-gnu
for need in aarch64-linux-gnu-g++ qemu-aarch64; do
  command -v "$need" >/dev/null ||
    { echo "cross-aarch64.sh: $need is missing (apt-get install g++-aarch64-linux-gnu qemu-user)" >&2; exit 2; }
done
[ -d /usr/src/googletest ] ||
  { echo "cross-aarch64.sh: /usr/src/googletest is missing (apt-get install googletest)" >&2; exit 2; }
[ -x build/tools/jpegenc/lumo-jpegenc ] ||
  { echo "cross-aarch64.sh: build the native lumo-jpegenc first (cmake --build build --target lumo-jpegenc)" >&2; exit 2; }

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S scripts/aarch64 -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
  -DCMAKE_C_COMPILER=aarch64-linux-gnu-gcc -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++ \
  -DCMAKE_FIND_ROOT_PATH="$sysroot" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
  -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
  -DCMAKE_CROSSCOMPILING_EMULATOR="qemu-aarch64;-L;$sysroot" \
  -DGOOGLETEST_SOURCE=/usr/src/googletest >/dev/null
cmake --build "$dir" -j"$(nproc)"
echo "== kernel tests on aarch64 (qemu-aarch64)"
(cd "$dir" && ctest -j"$(nproc)" --output-on-failure)
echo "== encoder streams on aarch64 against this machine's build"
LUMO_CANDIDATE_RUNNER="qemu-aarch64 -L $sysroot" \
  scripts/compare-encoders.sh build/tools/jpegenc/lumo-jpegenc "$dir/lumo-jpegenc"
