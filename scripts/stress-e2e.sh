#!/usr/bin/env bash
# Runs the end-to-end tests (the top tier of every e2e binary) several times in a row with busy
# loops beside them, to show that no case depends on having the processors to itself. Stops at the
# first failing run and keeps its log.
#
# Usage: scripts/stress-e2e.sh [options]
#   --runs N    runs in a row (default 5)
#   --busy N    busy loops beside them, each a shell spinning on one processor (default 2)
#   --build DIR a build folder of this tree (default build/, built by scripts/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
me=stress-e2e.sh
runs=5
busy=2
build=build
while [ $# -gt 0 ]; do
  case "$1" in
    --runs | --busy | --build)
      [ $# -ge 2 ] || { echo "$me: $1 needs a value" >&2; exit 2; }
      case "$1" in --runs) runs=$2 ;; --busy) busy=$2 ;; --build) build=$2 ;; esac
      shift 2 ;;
    -h | --help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "$me: unknown argument '$1' (see --help)" >&2; exit 2 ;;
  esac
done
[[ $runs =~ ^[1-9][0-9]*$ && $busy =~ ^[0-9]+$ ]] ||
  { echo "$me: --runs needs a positive number and --busy a number" >&2; exit 2; }
[ -f "$build/CTestTestfile.cmake" ] ||
  { echo "$me: no test build in $build (run scripts/test.sh first)" >&2; exit 2; }

loops=()
trap '[ "${#loops[@]}" -eq 0 ] || kill "${loops[@]}" 2>/dev/null' EXIT
for _ in $(seq "$busy"); do
  (while :; do :; done) &
  loops+=($!)
done
jobs=$((3 * $(nproc)))
for n in $(seq "$runs"); do
  log=$build/Testing/stress-e2e-$n.log
  start=$(date +%s)
  status=0
  (cd "$build" && ctest -j"$jobs" -L 'e2e_tests$' --timeout 600 --output-on-failure) >"$log" 2>&1 ||
    status=$?
  summary=$(grep -E 'tests passed|tests failed' "$log" || echo "no summary")
  echo "run $n of $runs: $summary, $(($(date +%s) - start)) s, load $(cut -d' ' -f1 /proc/loadavg)"
  [ "$status" -eq 0 ] || { echo "$me: run $n failed; see $log" >&2; exit 1; }
done
