#!/usr/bin/env bash
# Builds Lumovatrix and runs its two tours on a simulated handheld, with no display, and lists
# what they made in out/:
#   1. the camera edition, Lumovatrix, driven by tour/tour.lumo;
#   2. on the same device, the screen-capture edition, Lumosnapper (device command line "1"),
#      driven by tour/snapper.lumo.
#
# Usage: scripts/run.sh [--profile NAME|FILE] [lumovatrix options...]
#   --profile  the device: a built-in profile (build/src/lumovatrix --list-profiles) or a
#              profile file; without it, the program's default device
#   Other options go to the program in both passes (for example --window to watch the tours).
#
# The camera tour's webcam part streams to the desktop receiver, lumo-receiver, started here on
# a free port for the length of that tour: the device's link is told to forward its connections
# to the desktop peer to that port (a profile made from the chosen one with "ppp-peer =
# 127.0.0.1:PORT"), and the pictures land in out/webcam.
set -euo pipefail
cd "$(dirname "$0")/.."

profile=""
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --profile)
      [ $# -ge 2 ] || { echo "run.sh: --profile needs a value" >&2; exit 2; }
      profile=$2; shift 2 ;;
    --)
      echo "run.sh: the tours choose the device command line themselves (none, then \"1\")" >&2
      exit 2 ;;
    -h|--help)
      sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --root|--shots|--script)
      echo "run.sh: $1 is chosen by run.sh itself (the device in out/device, the screenshots in" \
           "out/shots, the tours in tour/); run build/src/lumovatrix for your own" >&2
      exit 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
if [ -n "$profile" ] && [ -d "$profile" ]; then
  echo "run.sh: --profile $profile is a folder; give a built-in name or a profile file" >&2
  exit 2
fi

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target lumovatrix lumo-receiver
program=build/src/lumovatrix

# The profile and the program's options are tried on a scratch device first, so that a mistake is
# reported in the user's own words (their profile file, their option) and out/, the results of
# the last run, is left as it was. The window is left out of the trial.
check=$(mktemp -d)
trap 'rm -rf "$check"' EXIT
trial=()
skip_zoom=0
for a in "${args[@]+"${args[@]}"}"; do
  if [ "$a" = --window ]; then skip_zoom=1; continue; fi
  if [ "$skip_zoom" = 1 ] && [[ "$a" =~ ^[0-9]+$ ]]; then skip_zoom=0; continue; fi
  skip_zoom=0
  trial+=("$a")
done
echo "quit" >"$check/quit.lumo"
if ! "$program" ${profile:+--profile "$profile"} --root "$check/device" --shots "$check" \
     --script "$check/quit.lumo" "${trial[@]+"${trial[@]}"}" >"$check/log" 2>&1; then
  sed 's/^lumovatrix: /run.sh: /' "$check/log" >&2
  exit 2
fi
rm -rf "$check"
trap - EXIT

rm -rf out && mkdir -p out

# Files on the device, its own folders left out.
device_files() {
  (cd out/device && find . \( -path ./.device -o -path ./Windows \) -prune -o -type f -print |
    sed 's/^\.\///' | sort)
}

# --- The receiver for the camera tour's webcam part.
build/tools/receiver/lumo-receiver --port 0 --out out/webcam --avi out/webcam \
  >out/receiver.log 2>&1 &
receiver=$!
stop_receiver() {
  if kill -0 "$receiver" 2>/dev/null; then
    kill -TERM "$receiver"
    wait "$receiver" || true
  fi
}
trap stop_receiver EXIT

port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^lumo-receiver: waiting for devices on 127\.0\.0\.1:\([0-9]*\)$/\1/p' \
           out/receiver.log)
  [ -n "$port" ] && break
  kill -0 "$receiver" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$port" ]; then
  echo "run.sh: lumo-receiver did not start:" >&2
  cat out/receiver.log >&2
  exit 1
fi

# A profile file is copied; a built-in profile (or none: the default) is the base of a new one.
# The last ppp-peer line is the one that counts.
{
  if [ -n "$profile" ] && [ -f "$profile" ]; then
    cat "$profile"
    echo
  else
    echo "based-on = ${profile:-$("$program" --list-profiles |
                                  sed -n 's/^\([^ ]*\) .*(default)$/\1/p')}"
  fi
  echo "ppp-peer = 127.0.0.1:$port"
} >out/tour.profile

# --- Pass 1: Lumovatrix.
echo "== Lumovatrix: tour/tour.lumo"
"$program" --root out/device --shots out/shots --script tour/tour.lumo \
  --profile out/tour.profile "${args[@]+"${args[@]}"}"
stop_receiver
trap - EXIT
device_files >out/camera-files.txt

# --- Pass 2: Lumosnapper. The tour's overlay lines ("# PXA27x") need the PXA27x LCD
# controller, and the overlay covers the display. Whether the device has the controller is asked
# of the device itself: a script that only switches overlay 2 off fails elsewhere. The display
# size is that of the camera tour's first screenshot (a PNG: width and height in bytes 16-23).
echo "device overlay2 off" >out/probe.lumo
if "$program" --profile out/tour.profile --root out/probe --shots out/probe \
     --script out/probe.lumo >out/probe.log 2>&1; then
  read -r -a ihdr <<<"$(od -An -tu1 -j16 -N8 out/shots/01-start.png)"
  width=$(( (ihdr[0] << 24) | (ihdr[1] << 16) | (ihdr[2] << 8) | ihdr[3] ))
  height=$(( (ihdr[4] << 24) | (ihdr[5] << 16) | (ihdr[6] << 8) | ihdr[7] ))
  sed "/# PXA27x\$/ s/ [0-9]*x[0-9]* at / ${width}x${height} at /" tour/snapper.lumo \
    >out/snapper.lumo
elif grep -q "no PXA27x LCD controller" out/probe.log; then
  echo "run.sh: this device has no PXA27x LCD controller; the screen-capture tour records" \
       "without a video overlay"
  sed '/# PXA27x$/d' tour/snapper.lumo >out/snapper.lumo
else
  echo "run.sh: the device could not be started:" >&2
  cat out/probe.log >&2
  exit 1
fi
rm -rf out/probe out/probe.lumo out/probe.log

echo "== Lumosnapper: tour/snapper.lumo"
"$program" --root out/device --shots out/shots --script out/snapper.lumo \
  --profile out/tour.profile "${args[@]+"${args[@]}"}" -- 1

# --- What was made.
echo
echo "Made on the device (out/device) by Lumovatrix:"
sed 's/^/  /' out/camera-files.txt
echo "Made on the device by Lumosnapper:"
device_files | comm -13 out/camera-files.txt - | sed 's/^/  /'
rm -f out/camera-files.txt
echo "Screenshots (out/shots): Lumovatrix's, then Lumosnapper's (snapper-*):"
ls out/shots 2>/dev/null | sed 's/^/  /'
echo "Received by lumo-receiver from the webcam (out/webcam, its log in out/receiver.log):"
received=0
for d in out/webcam/device*/; do
  if [ -d "$d" ]; then
    echo "  $(basename "$d"): $(find "$d" -name '*.jpg' | wc -l) pictures"
    received=1
  fi
done
for movie in out/webcam/*.avi; do
  if [ -f "$movie" ]; then echo "  $(basename "$movie")"; fi
done
[ "$received" -eq 1 ] || echo "  nothing"
