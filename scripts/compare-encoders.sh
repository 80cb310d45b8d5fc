#!/usr/bin/env bash
# Compares the JPEG streams of two builds of lumo-jpegenc byte for byte: a set of pictures
# (photo-like, noise, flat, black-and-white extremes; several sizes) through every input
# layout, chroma format, rotation, scale and a range of qualities (0 is the raw planar path).
# The candidate runs at every vector tier (LUMO_SIMD=scalar, sse2, avx2); the reference at
# its own default. Prints the first difference and exits 1 if any stream differs.
# LUMO_CANDIDATE_RUNNER, if set, runs the candidate (e.g. "qemu-aarch64 -L /usr/aarch64-linux-gnu").
#
# Usage: scripts/compare-encoders.sh REFERENCE-lumo-jpegenc [CANDIDATE-lumo-jpegenc]
#        (the candidate defaults to build/tools/jpegenc/lumo-jpegenc)
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  -h|--help|"") sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; [ -n "${1:-}" ]; exit ;;
esac
reference=$1
candidate=${2:-build/tools/jpegenc/lumo-jpegenc}
read -r -a runner <<<"${LUMO_CANDIDATE_RUNNER:-}"
for tool in "$reference" "$candidate"; do
  [ -x "$tool" ] || { echo "compare-encoders.sh: $tool is not an executable" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Private copies, so that a rebuild while this runs changes nothing.
cp "$reference" "$work/reference" && reference=$work/reference
cp "$candidate" "$work/candidate" && candidate=$work/candidate

# The pictures: NAME-WxH.FORMAT files, in every format, made by one small generator.
python3 - "$work" <<'PY'
import math, random, struct, sys
out = sys.argv[1]
random.seed(16)
def rgb_pixels(kind, w, h):
    for y in range(h):
        for x in range(w):
            if kind == "photo":
                l = 60 + 120 * y / h + 30 * math.sin(x / 7.0) * math.cos(y / 11.0) + random.gauss(0, 4)
                c = (l + 40 * x / w, l, l - 30 * x / w)
            elif kind == "noise":
                c = (random.randrange(256), random.randrange(256), random.randrange(256))
            elif kind == "flat":
                c = (90, 140, 200)
            else:  # extremes: a checkerboard of black and white, then solid white on the right
                v = 255 if x >= w // 2 or (x // 3 + y // 2) % 2 else 0
                c = (v, v, v)
            yield tuple(max(0, min(255, int(v))) for v in c)
def write(kind, w, h):
    px = list(rgb_pixels(kind, w, h))
    name = f"{out}/{kind}-{w}x{h}"
    with open(name + ".bgr24", "wb") as f:
        f.write(bytes(v for r, g, b in px for v in (b, g, r)))
    with open(name + ".rgb565", "wb") as f:
        f.write(b"".join(struct.pack("<H", (r >> 3) << 11 | (g >> 2) << 5 | b >> 3) for r, g, b in px))
    with open(name + ".rgb555", "wb") as f:
        f.write(b"".join(struct.pack("<H", (x & 1) << 15 | (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)
                         for x, (r, g, b) in enumerate(px)))
    with open(name + ".uyvy", "wb") as f:
        lum = lambda p: int(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2] + 0.5)
        for i in range(0, len(px), 2):
            a, b = px[i], px[i + 1]
            r, g, bl = [(a[k] + b[k]) / 2 for k in range(3)]
            cb = max(0, min(255, int(128 - 0.1687 * r - 0.3313 * g + 0.5 * bl + 0.5)))
            cr = max(0, min(255, int(128 + 0.5 * r - 0.4187 * g - 0.0813 * bl + 0.5)))
            f.write(bytes((cb, lum(a), cr, lum(b))))
for kind in ("photo", "noise", "flat", "extremes"):
    for w, h in ((32, 32), (96, 64), (208, 160)):
        write(kind, w, h)
write("photo", 640, 480)
PY

compared=0
for input in "$work"/*-*x*.*; do
  base=${input##*/}; format=${base##*.}; size=${base%.*}; size=${size##*-}
  for scale in 1 2; do
    for rotation in 0 1 2 3; do
      for chroma in 420 422 gray; do
        for quality in 0 1 50 85 100; do
          [ "$quality" -eq 0 ] && [ "$chroma" != 420 ] && continue  # chroma is ignored there
          args=(--size "$size" --format "$format" --quality "$quality" --chroma "$chroma"
                --rotation "$rotation" --scale "$scale")
          if ! "$reference" "${args[@]}" "$input" "$work/ref.jpg" 2>/dev/null; then
            continue  # a shape this combination cannot take; the candidate is not asked
          fi
          for tier in scalar sse2 avx2; do
            if ! LUMO_SIMD=$tier "${runner[@]}" "$candidate" "${args[@]}" "$input" "$work/new.jpg" ||
               ! cmp -s "$work/ref.jpg" "$work/new.jpg"; then
              echo "compare-encoders.sh: $base ${args[*]} differs at LUMO_SIMD=$tier" >&2
              exit 1
            fi
            compared=$((compared + 1))
          done
        done
      done
    done
  done
done
echo "compare-encoders.sh: $compared streams identical"
