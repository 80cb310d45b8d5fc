#!/usr/bin/env bash
# Builds Lumovatrix and runs the whole test suite in one ctest run: every case with the vector
# kernels, again with LUMO_SIMD=scalar (the scalar reference code; cases named @scalar) and the
# kernel, encoder and preview cases at LUMO_SIMD=sse2 (@sse2). --sanitizers then runs it under
# ThreadSanitizer, under AddressSanitizer with UndefinedBehaviorSanitizer, and built by clang with
# both and -fsanitize=function (calls through function pointers of the wrong type). In CI
# (CI=true in the environment) a skipped test fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

sanitizers=0
for arg in "$@"; do
  case "$arg" in
    --sanitizers) sanitizers=1 ;;
    -h|--help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown option '$arg'" >&2; exit 2 ;;
  esac
done

scripts/deps.sh
jobs=$(nproc)
# Most cases spend their time waiting on the program they drive (a movie's seconds, an interval's
# delay, a receiver's pictures), so ctest runs three per processor to overlap them; a case that
# needs more than one processor says so with its PROCESSORS property.
test_jobs=$((jobs * 3))

# Runs the tests of BUILD-DIR. In CI (CI=true) every tool a test needs is installed, so a test
# that skipped (ffmpeg missing, no X server...) fails the run instead of passing unseen.
tests() {  # tests BUILD-DIR [ctest options...]
  local dir=$1 log
  shift
  log=$(mktemp)
  (cd "$dir" && ctest -j"$test_jobs" --output-on-failure --timeout 600 "$@") | tee "$log"
  if [ "${CI:-}" = true ] && grep -q '(Skipped)$' "$log"; then
    echo "test.sh: tests were skipped in CI (CI=true); each names its reason above" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

suite() {  # suite BUILD-DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  tests "$dir"
}

echo "== build and test (top tier, @scalar, and @sse2 for the kernel, encoder and preview cases)"
# Without debug information: on two processors it takes the build from about five minutes to
# three, and -g changes no generated instruction, so what is tested is what run.sh runs.
suite build -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG"

if [ "$sanitizers" -eq 1 ]; then
  echo "== ThreadSanitizer"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    suite build-tsan -DLUMO_SANITIZE=thread -DLUMO_BUILD_BENCH=OFF
  echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
  ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    suite build-asan -DLUMO_SANITIZE=address -DLUMO_BUILD_BENCH=OFF
  echo "== clang: AddressSanitizer, UndefinedBehaviorSanitizer and -fsanitize=function"
  ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" \
    suite build-clang-ubsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DLUMO_SANITIZE=function -DLUMO_BUILD_BENCH=OFF
fi
echo "== all tests passed"
