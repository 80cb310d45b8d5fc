#!/usr/bin/env bash
# Builds every bench and prints one table: our time and the peer's for each job of the speed
# goals, and their ratio (peer time over ours: above 1 means ours is faster). Times are the best
# of several passes on one core, contenders taking turns. With --instructions, each job also runs
# under callgrind (valgrind) and the table adds instructions per frame for ours and the peer,
# counted inside the frame loop only, and their ratio. The "scalar" rows run our code at
# LUMO_SIMD=scalar against libjpeg-turbo's plain C (JSIMD_FORCENONE=1). The capture bench's own
# report follows the table.
#
# Usage: bench/run.sh [--instructions] [--build DIR]   (DIR defaults to build/)
set -euo pipefail
cd "$(dirname "$0")/.."

instructions=0
build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --instructions) instructions=1 ;;
    --build) [ $# -ge 2 ] || { echo "bench/run.sh: --build needs a folder" >&2; exit 2; }
             build=$2; shift ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench/run.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
  esac
  shift
done
if [ "$instructions" -eq 1 ] && ! command -v valgrind >/dev/null; then
  echo "bench/run.sh: --instructions needs valgrind (apt-get install valgrind)" >&2
  exit 2
fi

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target lumo-bench-jpeg lumo-bench-preview lumo-bench-capture \
  >/dev/null
jpeg=$build/bench/jpeg/lumo-bench-jpeg
preview=$build/bench/preview/lumo-bench-preview
capture=$build/bench/media/lumo-bench-capture

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Instructions per frame of one side of one row: BENCH ROW SIDE [ENV...]. Counted inside the
# frame loop over 1 and over 1 + $frames frames; the difference over $frames is one frame's
# work, free of anything counted once.
frames=2
collect() {  # collect BENCH ROW SIDE FRAMES [ENV...]: instructions in the frame loop
  local bench=$1 row=$2 side=$3 n=$4; shift 4
  local out="$work/callgrind.out"
  env "$@" valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
    --toggle-collect='*benchFrames*' "$bench" --row "$row" --side "$side" --frames "$n" \
    >/dev/null 2>"$work/valgrind.log" || {
    echo "bench/run.sh: callgrind failed on $bench row $row $side:" >&2
    tail -n 5 "$work/valgrind.log" >&2
    exit 1
  }
  awk '/^(summary|totals):/ { n = $2 } END { print n }' "$out"
}
count() {
  local bench=$1 row=$2 side=$3; shift 3
  local one more
  one=$(collect "$bench" "$row" "$side" 1 "$@")
  more=$(collect "$bench" "$row" "$side" $((1 + frames)) "$@")
  awk -v a="$one" -v b="$more" -v f="$frames" 'BEGIN { printf "%.2f", (b - a) / f / 1e6 }'
}

# table BENCH LABEL [ENV...]: the bench's rows (name|peer|ours s|peer s|ours B|peer B), each with
# the instruction counts appended when asked.
table() {
  local bench=$1 label=$2; shift 2
  local i=0
  env "$@" "$bench" --table | while IFS='|' read -r name peer ours theirs oursBytes theirBytes; do
    local extra=""
    if [ "$instructions" -eq 1 ]; then
      extra="|$(count "$bench" "$i" ours "$@")|$(count "$bench" "$i" peer "$@")"
    fi
    echo "$label$name|$peer|$ours|$theirs|$oursBytes|$theirBytes$extra"
    i=$((i + 1))
  done
}

{
  table "$jpeg" ""
  table "$jpeg" "scalar: " LUMO_SIMD=scalar JSIMD_FORCENONE=1
  table "$preview" ""
} >"$work/rows"

echo "bench/run.sh: one core, kernels at ${LUMO_SIMD:-the top tier} except the scalar rows;" \
  "ratio = peer / ours (above 1: ours is faster)"
awk -F'|' -v ins="$instructions" '
  BEGIN {
    if (ins) printf "%-50s %-26s %9s %9s %6s %9s %9s %6s %s\n", "job", "peer", "ours ms", "peer ms",
                    "time", "ours Mi", "peer Mi", "instr", "bytes ours/peer"
    else printf "%-50s %-26s %9s %9s %6s %s\n", "job", "peer", "ours ms", "peer ms", "time",
                "bytes ours/peer"
  }
  {
    bytes = ($5 == "-") ? "" : $5 "/" $6
    if (ins) printf "%-50s %-26s %9.3f %9.3f %6.2f %9.2f %9.2f %6.2f %s\n", $1, $2, $3 * 1e3,
                    $4 * 1e3, $4 / $3, $7, $8, $8 / $7, bytes
    else printf "%-50s %-26s %9.3f %9.3f %6.2f %s\n", $1, $2, $3 * 1e3, $4 * 1e3, $4 / $3, bytes
  }' "$work/rows"
[ "$instructions" -eq 1 ] && echo "(Mi: millions of instructions a frame, callgrind)"

echo
"$capture"
