#!/usr/bin/env bash
# Runs the two tours (tour/tour.lumo, then tour/snapper.lumo as Lumosnapper) on every built-in
# device with this tree's program and with revision REV's, and compares the photos, movies and
# screenshots they leave, byte for byte, printing a summary. Exit status 0 when nothing changed,
# 1 when an output changed or is missing on one side, 2 for bad usage.
#
# Usage: scripts/compare-outputs.sh [--reference-build DIR] [--no-build] [--profiles "NAME..."] REV
#   --reference-build  a build folder already holding REV's program (src/lumovatrix); without
#                      it, REV is checked out in a worktree under /tmp and built there
#   --no-build         take this tree's program from build/ as it is
#   --profiles         the devices to run (default: every built-in one)
#
# What is deterministic. Every device runs with a fixed local time (the profile's clock key), so
# file names are the same run to run. The pictures are not: the simulated camera's scene moves
# with the tick counter, so which frame a photo, a screenshot or a movie picture holds depends on
# when the capture thread ran, and a movie's frame count and index follow the frame timing. Each
# program therefore runs the tours twice (the four runs of a device side by side): an output
# that differs between two runs of the same program is timing-dependent, and for it only what
# does not depend on timing is compared (a JPEG's bytes up to its scan data, a BMP's 54-byte
# header, a PNG's IHDR, an AVI's streams as ffprobe reports them). An output that each program
# gives identically twice must be the same from both. Two runs can still agree by chance on a
# picture that holds a blinking text or a count of seconds (caught on the same side of its change
# in both runs of one program and on the other side in both of the other's): look at a changed
# screenshot before believing it.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

reference_build=""
build_new=1
profiles=""
rev=""
while [ $# -gt 0 ]; do
  case "$1" in
    --reference-build)
      [ $# -ge 2 ] || { echo "compare-outputs.sh: --reference-build needs a folder" >&2; exit 2; }
      reference_build=$2; shift 2 ;;
    --no-build) build_new=0; shift ;;
    --profiles)
      [ $# -ge 2 ] || { echo "compare-outputs.sh: --profiles needs names" >&2; exit 2; }
      profiles=$2; shift 2 ;;
    -h|--help) sed -n '2,24p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "compare-outputs.sh: unknown option '$1'" >&2; exit 2 ;;
    *) [ -z "$rev" ] || { echo "compare-outputs.sh: one revision only" >&2; exit 2; }
       rev=$1; shift ;;
  esac
done
[ -n "$rev" ] || { echo "compare-outputs.sh: which revision? (see --help)" >&2; exit 2; }
commit=$(git rev-parse --verify --quiet "$rev^{commit}") ||
  { echo "compare-outputs.sh: '$rev' is not a revision of this repository" >&2; exit 2; }
short=$(git rev-parse --short "$commit")

work=$(mktemp -d "/tmp/lumo-compare-$short.XXXXXX")
echo "== outputs in $work"

# --- The two programs.
if [ "$build_new" -eq 1 ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)" --target lumovatrix >/dev/null
fi
new_program=$repo/build/src/lumovatrix
[ -x "$new_program" ] || { echo "compare-outputs.sh: no program at $new_program" >&2; exit 2; }
if [ -n "$reference_build" ]; then
  old_program=$(cd "$reference_build" && pwd)/src/lumovatrix
  [ -x "$old_program" ] ||
    { echo "compare-outputs.sh: no program at $old_program" >&2; exit 2; }
else
  tree=/tmp/lumo-compare-tree-$short
  [ -d "$tree" ] || git worktree add --detach "$tree" "$commit" >/dev/null
  echo "== building $short in $tree/build"
  cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMO_BUILD_TESTS=OFF -DLUMO_BUILD_BENCH=OFF >/dev/null
  cmake --build "$tree/build" -j"$(nproc)" --target lumovatrix >/dev/null
  old_program=$tree/build/src/lumovatrix
fi
[ -n "$profiles" ] ||
  profiles=$("$new_program" --list-profiles | awk '{print $1}' | tr '\n' ' ')

# tours PROGRAM PROFILE OUT: both tours on one device into OUT/device and OUT/shots.
tours() {
  local program=$1 name=$2 out=$3
  mkdir -p "$out"
  printf 'based-on = %s\nclock = 2026-01-02 03:04:05\n' "$name" >"$out/device.profile"
  "$program" --profile "$out/device.profile" --root "$out/device" --shots "$out/shots" \
    --script tour/tour.lumo >"$out/tour.log" 2>&1 || echo "TOUR-FAILED" >>"$out/tour.log"
  # Lumosnapper's overlay lines need the PXA27x LCD controller (asked of the device itself) and
  # the display's size (that of the camera tour's first screenshot, from the PNG's IHDR).
  echo "device overlay2 off" >"$out/probe.lumo"
  if "$program" --profile "$out/device.profile" --root "$out/probe" --shots "$out/probe" \
       --script "$out/probe.lumo" >"$out/probe.log" 2>&1; then
    read -r -a ihdr <<<"$(od -An -tu1 -j16 -N8 "$out/shots/01-start.png")"
    local width=$(( (ihdr[0] << 24) | (ihdr[1] << 16) | (ihdr[2] << 8) | ihdr[3] ))
    local height=$(( (ihdr[4] << 24) | (ihdr[5] << 16) | (ihdr[6] << 8) | ihdr[7] ))
    sed "/# PXA27x\$/ s/ [0-9]*x[0-9]* at / ${width}x${height} at /" tour/snapper.lumo \
      >"$out/snapper.lumo"
  else
    sed '/# PXA27x$/d' tour/snapper.lumo >"$out/snapper.lumo"
  fi
  rm -rf "$out/probe" "$out/probe.lumo" "$out/probe.log"
  "$program" --profile "$out/device.profile" --root "$out/device" --shots "$out/shots/snapper" \
    --script "$out/snapper.lumo" -- 1 >>"$out/tour.log" 2>&1 || echo "TOUR-FAILED" >>"$out/tour.log"
}

# outputs OUT: the photos, movies and screenshots, relative to OUT.
outputs() {
  (cd "$1" && find device shots -type f \( -iname '*.jpg' -o -iname '*.bmp' -o -iname '*.avi' \
     -o -iname '*.png' \) -not -path 'device/.device/*' -not -path 'device/Windows/*' | sort)
}

# stable FILE: what of FILE does not depend on frame timing.
stable() {
  case "${1,,}" in
    *.jpg) # everything before the entropy-coded data: up to the end of the SOS segment
      python3 - "$1" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
i = 2
while i + 4 <= len(data) and data[i] == 0xFF:
    length = int.from_bytes(data[i + 2:i + 4], "big")
    i += 2 + length
    if data[i - 2 - length + 1] == 0xDA:
        break
sys.stdout.buffer.write(data[:i])
EOF
      ;;
    *.bmp) head -c 54 "$1" ;;
    *.png) head -c 33 "$1" ;;
    *.avi) ffprobe -v error -show_entries \
             stream=codec_type,codec_name,width,height,pix_fmt,sample_rate,channels \
             -of compact "$1" ;;
  esac
}

echo "== tours: $profiles"
for name in $profiles; do
  # Started in turns, so that a run's few milliseconds of lead over the next one fall between
  # the two runs of one program rather than between the programs.
  tours "$old_program" "$name" "$work/old1/$name" &
  tours "$new_program" "$name" "$work/new1/$name" &
  tours "$old_program" "$name" "$work/old2/$name" &
  tours "$new_program" "$name" "$work/new2/$name" &
  wait
  echo "   $name done"
done

identical=0; timing=0; changed=0; missing=0
report="$work/report.txt"
: >"$report"
for name in $profiles; do
  old1=$work/old1/$name old2=$work/old2/$name new=$work/new1/$name new2=$work/new2/$name
  while read -r kind file; do
    case "$kind" in
      "<") echo "missing from this tree's outputs: $name/$file" >>"$report"; missing=$((missing + 1)) ;;
      ">") echo "not made by $short: $name/$file" >>"$report"; missing=$((missing + 1)) ;;
      "=")
        if cmp -s "$old1/$file" "$new/$file"; then
          identical=$((identical + 1))
        elif cmp -s "$old1/$file" "$old2/$file" && cmp -s "$new/$file" "$new2/$file"; then
          echo "changed (each program made it identically twice): $name/$file" >>"$report"
          changed=$((changed + 1))
        elif cmp -s <(stable "$old1/$file") <(stable "$new/$file"); then
          timing=$((timing + 1))
        else
          echo "changed (its timing-independent part): $name/$file" >>"$report"
          changed=$((changed + 1))
        fi ;;
    esac
  done < <(diff <(outputs "$old1") <(outputs "$new") --unchanged-line-format='= %L' \
             --old-line-format='< %L' --new-line-format='> %L' || true)
  for log in "$old1/tour.log" "$old2/tour.log" "$new/tour.log" "$new2/tour.log"; do
    if grep -q "^TOUR-FAILED" "$log"; then echo "a tour failed: $log" >>"$report"; fi
  done
done

cat "$report"
echo "== $short against this tree, $(echo "$profiles" | wc -w) devices:"
echo "   $identical byte-identical"
echo "   $timing timing-dependent (they differ between two runs of one program), their"
echo "     timing-independent parts identical"
echo "   $changed changed, $missing made on one side only"
[ "$changed" -eq 0 ] && [ "$missing" -eq 0 ] && ! grep -q "a tour failed" "$report"
