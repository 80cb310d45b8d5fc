#!/usr/bin/env bash
# Builds Lumovatrix and runs the tour on the default simulated handheld, with no display: the
# program is driven by tour/tour.lumo and everything it makes lands in out/. Extra arguments go
# to the program (for example --profile pm10a, or -- 1 for the screen-capture edition).
#
# The tour's webcam part streams to the desktop receiver, lumo-receiver, started here on a free
# port for the length of the tour: the device's link is told to forward its connections to the
# desktop peer to that port (a profile made from the chosen one with "ppp-peer =
# 127.0.0.1:PORT"), and the pictures land in out/webcam.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target lumovatrix lumo-receiver
rm -rf out && mkdir -p out

# The program's arguments, the --profile option taken out: its profile is the base of the
# tour's own.
profile=""
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --profile)
      [ $# -ge 2 ] || { echo "run.sh: --profile needs a value" >&2; exit 2; }
      profile=$2; shift 2 ;;
    --) args+=("$@"); break ;;
    *) args+=("$1"); shift ;;
  esac
done

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
    echo "based-on = ${profile:-$(build/src/lumovatrix --list-profiles |
                                  sed -n 's/^\([^ ]*\) .*(default)$/\1/p')}"
  fi
  echo "ppp-peer = 127.0.0.1:$port"
} >out/tour.profile

build/src/lumovatrix --root out/device --shots out/shots --script tour/tour.lumo \
  --profile out/tour.profile "${args[@]+"${args[@]}"}"
stop_receiver
trap - EXIT

echo
echo "Made on the device (out/device):"
(cd out/device && find . \( -path ./.device -o -path ./Windows \) -prune -o -type f -print | sort |
  sed 's/^\./  /')
echo "Screenshots (out/shots):"
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
