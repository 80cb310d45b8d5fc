#!/usr/bin/env bash
# Compares the preview of this tree with that of an earlier one, pixel for pixel: builds
# lumo-preview-screens here and, from the same source, against the earlier tree's headers and
# already built libraries, runs both at every kernel tier (LUMO_SIMD=scalar, sse2, avx2) and
# compares their display-memory hashes line by line. Exit 0 when every line agrees.
#
# Usage: bench/preview/compare-previous.sh EARLIER_TREE [EARLIER_BUILD] [--build DIR] [--quick]
#   EARLIER_BUILD defaults to EARLIER_TREE/build and must have lumo-bench-preview built (its link
#   line gives the libraries); DIR (this tree's build) defaults to build/.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$here/build
quick=
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) [ $# -ge 2 ] || { echo "compare-previous.sh: --build needs a folder" >&2; exit 2; }
             build=$2; shift ;;
    --quick) quick=--quick ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "compare-previous.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
    *) args+=("$1") ;;
  esac
  shift
done
[ ${#args[@]} -ge 1 ] || { echo "compare-previous.sh: which earlier tree? (try --help)" >&2; exit 2; }
earlier=$(cd "${args[0]}" && pwd)
earlierBuild=$(cd "${args[1]:-$earlier/build}" && pwd)
[ -f "$earlierBuild/build.ninja" ] || {
  echo "compare-previous.sh: $earlierBuild is not a Ninja build folder" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$build" --target lumo-preview-screens >/dev/null
ours=$build/bench/preview/lumo-preview-screens

# The earlier build's own compile and link lines of lumo-bench-preview, with our source and object
# in place of the bench's.
compile=$(cd "$earlierBuild" && ninja -t commands bench/preview/lumo-bench-preview |
  grep -F 'bench_preview.cpp' | grep -F -- ' -c ' | tail -n 1)
link=$(cd "$earlierBuild" && ninja -t commands bench/preview/lumo-bench-preview | tail -n 1)
[ -n "$compile" ] && [ -n "$link" ] || {
  echo "compare-previous.sh: no lumo-bench-preview in $earlierBuild" >&2; exit 1; }
object=bench/preview/CMakeFiles/lumo-bench-preview.dir/bench_preview.cpp.o
compile=${compile//$earlier\/bench\/preview\/bench_preview.cpp/$here/bench/preview/preview_screens.cpp}
compile=${compile//..\/bench\/preview\/bench_preview.cpp/$here/bench/preview/preview_screens.cpp}
compile=$(sed -E "s# -o [^ ]+# -o $work/screens.o#; s# -MD -MT [^ ]+ -MF [^ ]+##" <<<"$compile")
link=${link//$object/$work/screens.o}
link=$(sed -E "s# -o [^ ]+# -o $work/lumo-preview-screens-earlier#; s#-lswscale##; s#[^ ]*libswscale[^ ]*##" <<<"$link")
(cd "$earlierBuild" && eval "$compile" && eval "$link") || {
  echo "compare-previous.sh: could not build the comparison against $earlierBuild" >&2; exit 1; }
theirs=$work/lumo-preview-screens-earlier

status=0
for tier in scalar sse2 avx2; do
  LUMO_SIMD=$tier "$ours" $quick >"$work/ours.$tier"
  LUMO_SIMD=$tier "$theirs" $quick >"$work/theirs.$tier"
  lines=$(wc -l <"$work/ours.$tier")
  if cmp -s "$work/ours.$tier" "$work/theirs.$tier"; then
    echo "LUMO_SIMD=$tier: all $lines cases identical"
  else
    status=1
    differing=$(diff "$work/theirs.$tier" "$work/ours.$tier" | grep -c '^>' || true)
    echo "LUMO_SIMD=$tier: $differing of $lines cases differ (earlier <, this tree >), the first:"
    diff "$work/theirs.$tier" "$work/ours.$tier" | head -n 20 || true
  fi
done
# The tiers must also agree with each other (each build alone).
cmp -s "$work/ours.scalar" "$work/ours.avx2" && cmp -s "$work/ours.scalar" "$work/ours.sse2" ||
  { echo "this tree: the tiers disagree"; status=1; }
exit $status
