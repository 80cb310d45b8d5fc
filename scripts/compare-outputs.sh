#!/usr/bin/env bash
# Runs the two tours (tour/tour.lumo, then tour/snapper.lumo as Lumosnapper) on every built-in
# device with an old and a new program and gives a verdict on the photos, movies and screenshots
# they leave: exit status 0 when nothing but timing differs, 1 with a list of what changed, 2 for
# bad usage or a program that cannot be had.
#
# Usage: scripts/compare-outputs.sh [options] OLD [NEW]
#   OLD, NEW     a revision of this repository (checked out under /tmp and built there), or a
#                build folder holding src/lumovatrix; NEW defaults to this tree's build/
#   --no-build   take this tree's program from build/ as it is (when NEW is not given)
#   --profiles "NAME..."  the devices to run (default: every built-in one but "host")
#   --runs N     runs of each program on each device to begin with (default 2)
#   --max-runs N runs at most, for a device where the new program made a variant the old one
#                did not make (yet): it runs again, a pair at a time, up to N (default 8)
#   --jobs N     tours run side by side (default 8; they mostly wait)
#   --reference-build DIR   the same as giving DIR as OLD
#
# Determinism. Every run has a fixed local time (the profile's clock key), so file names do not
# change, and the still scene (LUMO_STILL_SCENE=1, read by the simulated handheld, never by the
# application): every camera picture is the same frame, the microphone plays a steady tone and the
# home screen's clock stands still, so what a photo, screenshot or movie picture holds no longer
# depends on when it was taken. The headless front-end, which can no longer tell a key's change
# from the moving picture, waits for the display to stay the same for 1.5 s instead of 0.4 s
# before a screenshot. A revision that lacks any of this gets it added to its simulated handheld
# and front-end (the application is left as it is) before it is built; a build folder without the
# still scene is refused. Front-ends older than the wait for a key's change (4176e47's, for one)
# take screenshots at once, so their screenshots follow the machine's load: compare screenshots
# across that change with care. What still depends on timing (a blinking prompt, seconds shown,
# how many interval shots, a movie's frame count) is found by running each program more than once
# and judged as scripts/compare_outputs.py explains: every variant of an output that the new
# program made must have been made by the old program too, or, for a screenshot, differ from one
# only in squares where screenshots are seen to change with timing.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
me=compare-outputs.sh

build_new=1
profiles=""
runs=2
max_runs=8
jobs=8
specs=()
number() { [[ $2 =~ ^[1-9][0-9]*$ ]] || { echo "$me: $1 needs a positive number, not '$2'" >&2; exit 2; }; }
while [ $# -gt 0 ]; do
  case "$1" in
    --reference-build)
      [ $# -ge 2 ] || { echo "$me: --reference-build needs a folder" >&2; exit 2; }
      specs=("$2" "${specs[@]}"); shift 2 ;;
    --no-build) build_new=0; shift ;;
    --profiles)
      [ $# -ge 2 ] || { echo "$me: --profiles needs names" >&2; exit 2; }
      profiles=$2; shift 2 ;;
    --runs | --max-runs | --jobs)
      [ $# -ge 2 ] || { echo "$me: $1 needs a number" >&2; exit 2; }
      number "$1" "$2"
      case "$1" in --runs) runs=$2 ;; --max-runs) max_runs=$2 ;; --jobs) jobs=$2 ;; esac
      shift 2 ;;
    -h | --help) sed -n '2,32p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "$me: unknown option '$1' (see --help)" >&2; exit 2 ;;
    *) specs+=("$1"); shift ;;
  esac
done
[ "${#specs[@]}" -ge 1 ] || { echo "$me: what to compare with? (see --help)" >&2; exit 2; }
[ "${#specs[@]}" -le 2 ] || { echo "$me: two programs at most: ${specs[*]}" >&2; exit 2; }
[ "$max_runs" -ge "$runs" ] || max_runs=$runs

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# add_still_scene TREE: gives an older tree's simulated handheld the still scene, as this tree
# has it: sceneRender draws frame 0 at tick 500 (kSceneStillTickMs), sceneApplyLook's noise uses
# frame 0, the microphone never beeps, the home screen's clock stands at 0, the headless
# front-end's still-display rule is 1500 ms. Each part is added only where the tree lacks it.
add_still_scene() {
  python3 - "$1" <<'PY'
import re, sys
tree = sys.argv[1]
helper = ('\n// Added by scripts/compare-outputs.sh: the still scene.\n'
          'static bool lumoStillScene() {\n'
          '    const char* value = std::getenv("LUMO_STILL_SCENE");\n'
          '    return value && *value && std::strcmp(value, "0") != 0;\n}\n')
def edit(path, edits):
    text = open(path).read()
    last_include = list(re.finditer(r'^#include .*\n', text, re.M))[-1]
    text = (text[:last_include.end()] + '#include <cstdlib>\n#include <cstring>\n' + helper
            + text[last_include.end():])
    for pattern, insert, required in edits:
        text, n = re.subn(pattern, lambda m: m.group(0) + insert, text, count=1)
        if n == 0 and required:
            sys.exit(f"compare-outputs.sh: cannot add the still scene to {path}: no {pattern}")
    open(path, 'w').write(text)
if 'LUMO_STILL_SCENE' not in open(f"{tree}/src/sim/scene/scene_generator.cpp").read():
    edit(f"{tree}/src/sim/scene/scene_generator.cpp", [
        (r'void sceneRender\([^)]*\)\s*\{', '\n    if (lumoStillScene()) frameNumber = 0, tickMs = 500;', True),
        (r'void sceneApplyLook\([^)]*\)\s*\{', '\n    if (lumoStillScene()) frameNumber = 0;', False)])
    edit(f"{tree}/src/sim/microphone.cpp", [
        (r'if \((?=sceneMarkerVisible\(tick\)\))', '!lumoStillScene() && ', True)])
# A front-end that waits for the program to draw a key's change gives it longer with the still
# scene, whose live picture never changes (as this tree's does); older ones do not wait at all.
headless = f"{tree}/src/frontend/headless.cpp"
old = 'constexpr uint32_t kStillDisplayMs = 400;'
text = open(headless).read()
if old in text and 'lumoStillScene' not in text and 'LUMO_STILL_SCENE' not in text:
    edit(headless, [])
    text = open(headless).read()
    open(headless, 'w').write(
        text.replace(old, 'const uint32_t kStillDisplayMs = lumoStillScene() ? 1500 : 400;'))
# The home screen's clock stands at 0.
handheld = f"{tree}/src/sim/handheld.cpp"
text = open(handheld).read()
if 'sceneStill()' not in text and 'lumoStillScene' not in text:
    edit(handheld, [(r'profile_\.displayHeight,\s*(?=static_cast<uint32_t>\(ms\)\))',
                     'lumoStillScene() ? 0u : ', True)])
PY
}

# program SPEC: prints the program of SPEC (a build folder or a revision), building it if need be.
program() {
  local spec=$1
  if [ -d "$spec" ]; then
    local p
    p=$(cd "$spec" && pwd)/src/lumovatrix
    [ -x "$p" ] || { echo "$me: no program at $p" >&2; return 2; }
    grep -q LUMO_STILL_SCENE "$p" || {
      echo "$me: $p has no still scene (LUMO_STILL_SCENE); give its revision instead and it" \
           "is built with one" >&2; return 2; }
    echo "$p"
    return
  fi
  local commit short tree
  commit=$(git rev-parse --verify --quiet "$spec^{commit}") ||
    { echo "$me: '$spec' is neither a build folder nor a revision of this repository" >&2; return 2; }
  short=$(git rev-parse --short "$commit")
  tree=/tmp/lumo-compare-tree-$short
  if [ ! -d "$tree" ]; then
    git worktree add --detach "$tree" "$commit" >/dev/null 2>&1 ||
      { echo "$me: cannot check out $short in $tree" >&2; return 2; }
  fi
  add_still_scene "$tree" || return 2
  echo "== building $short in $tree/build" >&2
  cmake -S "$tree" -B "$tree/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
    -DLUMO_BUILD_TESTS=OFF -DLUMO_BUILD_BENCH=OFF >/dev/null &&
    cmake --build "$tree/build" -j"$(nproc)" --target lumovatrix >"$tree/build.log" 2>&1 ||
    { echo "$me: building $short failed; see $tree/build.log" >&2; return 2; }
  echo "$tree/build/src/lumovatrix"
}

old_program=$(program "${specs[0]}") || exit 2
if [ "${#specs[@]}" -eq 2 ]; then
  new_program=$(program "${specs[1]}") || exit 2
else
  if [ "$build_new" -eq 1 ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
    cmake --build build -j"$(nproc)" --target lumovatrix >/dev/null
  fi
  new_program=$(program build) || exit 2
fi
# Every built-in device but "host", whose camera and microphone are this computer's.
[ -n "$profiles" ] ||
  profiles=$("$new_program" --list-profiles | awk '$1 != "host" {print $1}' | tr '\n' ' ')
work=$(mktemp -d /tmp/lumo-compare.XXXXXX)
echo "== old: $old_program"
echo "== new: $new_program"
echo "== outputs in $work"

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

# run_all FIRST LAST DEVICE...: runs FIRST..LAST of both programs on each device, --jobs at once,
# old and new in turns so that neither program always runs on a busier machine.
run_all() {
  local first=$1 last=$2 name n running=0
  shift 2
  for name in "$@"; do
    for n in $(seq "$first" "$last"); do
      for side in old new; do
        local p=$old_program
        [ "$side" = new ] && p=$new_program
        LUMO_STILL_SCENE=1 tours "$p" "$name" "$work/$side$n/$name" &
        running=$((running + 1))
        if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
      done
    done
  done
  wait
}

verdict=$repo/scripts/compare_outputs.py
# shellcheck disable=SC2086
set -- $profiles
echo "== $runs runs of each program on $# devices: $*"
run_all 1 "$runs" "$@"
done_runs=$runs
while [ "$done_runs" -lt "$max_runs" ]; do
  read -r -a again <<<"$(python3 "$verdict" verdict --undecided "$work" "$@")"
  [ "${#again[@]}" -gt 0 ] || break
  done_runs=$((done_runs + 1))
  echo "== run $done_runs of both programs on ${again[*]}"
  run_all "$done_runs" "$done_runs" "${again[@]}"
done
python3 "$verdict" verdict "$work" "$@" | tee "$work/report.txt"
exit "${PIPESTATUS[0]}"
