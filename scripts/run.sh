#!/usr/bin/env bash
# Builds Lumovatrix and runs the tour on the default simulated handheld, with no display: the
# program is driven by tour/tour.lumo and everything it makes lands in out/. Extra arguments go
# to the program (for example --profile pm10a, or -- 1 for the screen-capture edition).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target lumovatrix
rm -rf out && mkdir -p out
build/src/lumovatrix --root out/device --shots out/shots --script tour/tour.lumo "$@"
echo
echo "Made on the device (out/device):"
(cd out/device && find . \( -path ./.device -o -path ./Windows \) -prune -o -type f -print | sort |
  sed 's/^\./  /')
echo "Screenshots (out/shots):"
ls out/shots 2>/dev/null | sed 's/^/  /'
