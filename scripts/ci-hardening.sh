#!/usr/bin/env bash
# Hardening checks for CI, on top of the normal build (scripts/test.sh):
#  1. builds everything (tests, interactive build and the libFuzzer harnesses) with clang,
#     AddressSanitizer and UndefinedBehaviorSanitizer (preset asan) and runs the whole test suite
#     under them;
#  2. builds the tests of the multi-threaded parts (CTest label threaded: parallel deflate, files
#     deflated ahead, entries decoded ahead, the extraction output thread, and the writer and
#     extractor passes that use them) with ThreadSanitizer (preset tsan) and runs them;
#  3. replays the harnesses' seed corpora and regression inputs, and runs each harness for a
#     short time, as many at once as there are cores.
# Exits non-zero when any step, test, replay or fuzz run fails.
# Environment: KVELV_ASAN_BUILD_DIR, KVELV_TSAN_BUILD_DIR (build folders), KVELV_FUZZ_SECONDS
# (seconds per harness, default 8), KVELV_SKIP_INSTALL=1 (no apt-get).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ASAN_BUILD=${KVELV_ASAN_BUILD_DIR:-"$ROOT/build-ci-asan"}
TSAN_BUILD=${KVELV_TSAN_BUILD_DIR:-"$ROOT/build-ci-tsan"}
FUZZ_SECONDS=${KVELV_FUZZ_SECONDS:-8}
JOBS=$(nproc 2>/dev/null || echo 2)
step() { printf '\n== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }

# --- Packages: the project's own plus clang and its sanitizer/libFuzzer runtimes (idempotent).
if [ "${KVELV_SKIP_INSTALL:-0}" != 1 ]; then
  bash "$ROOT/scripts/install-deps.sh"
  source "$ROOT/scripts/packages.sh"
  kvelv_install_packages ci-hardening "${KVELV_PACKAGES_HARDENING[@]}"
fi

# --- 1. Sanitizer build (the fuzz harnesses with it) and the whole suite under it.
step "AddressSanitizer and UBSan build (clang, with the fuzz harnesses)"
cmake --preset asan -S "$ROOT" -B "$ASAN_BUILD"
cmake --build "$ASAN_BUILD" -j "$JOBS"

step "the suite under AddressSanitizer and UBSan"
export QT_QPA_PLATFORM=offscreen
# Leaks are reported, except the ones Qt and its plug-ins keep on purpose (suppression file).
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$ROOT/scripts/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$ASAN_BUILD" --output-on-failure -j "$JOBS" --timeout 900 </dev/null

# --- 2. Data races and lock misuse in the threaded parts: the tests labelled threaded, and
# only the programs they need.
step "ThreadSanitizer build and the tests labelled threaded"
cmake --preset tsan -S "$ROOT" -B "$TSAN_BUILD"
cmake --build "$TSAN_BUILD" -j "$JOBS" --target kvelv_threaded_tests
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
  ctest --test-dir "$TSAN_BUILD" -L threaded --no-tests=error --output-on-failure -j "$JOBS" --timeout 900 </dev/null

# --- 3. Fuzz harnesses of the sanitizer build: replay, then a short run each.
step "fuzz harnesses: replay and short runs"
unset LSAN_OPTIONS
export ASAN_OPTIONS="detect_leaks=1"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export ROOT WORK FUZZ_SECONDS ASAN_BUILD

# One harness: every regression input and seed once (libFuzzer runs files given by name), then
# fuzzing from the seeds. Its report goes to $WORK/<harness>/report, printed when all are done.
fuzz_one() {
  local harness=$1 binary="$ASAN_BUILD/fuzz/fuzz_$1" dict="$ROOT/fuzz/zip.dict" dir="$WORK/$1"
  case $harness in
    settings) dict="$ROOT/fuzz/settings.dict" ;;
    command_line) dict="$ROOT/fuzz/command_line.dict" ;;
    container_source) dict="" ;;  # ciphertext has no words
  esac
  mkdir -p "$dir/corpus" "$dir/tmp"
  local regressions="$ROOT/tests/data/fuzz-regressions/$harness" inputs=()
  [ -d "$regressions" ] && while IFS= read -r -d '' f; do inputs+=("$f"); done < <(find "$regressions" -type f ! -name '.*' -print0)
  while IFS= read -r -d '' f; do inputs+=("$f"); done < <(find "$ROOT/fuzz/corpus/$harness" -type f -print0)
  {
    echo "== $harness: replayed ${#inputs[@]} inputs, fuzzed for $FUZZ_SECONDS s"
    if ! TMPDIR="$dir/tmp" "$binary" -rss_limit_mb=2048 -timeout=10 "${inputs[@]}" >"$dir/replay.log" 2>&1; then
      echo "replay of $harness failed:"; tail -50 "$dir/replay.log"; return 1
    fi
    if ! (cd "$dir" && TMPDIR="$dir/tmp" "$binary" -max_total_time="$FUZZ_SECONDS" \
          -rss_limit_mb=2048 -timeout=10 ${dict:+-dict="$dict"} -artifact_prefix="$dir/" \
          "$dir/corpus" "$ROOT/fuzz/corpus/$harness" >"$dir/fuzz.log" 2>&1); then
      echo "fuzzing $harness found a problem:"; tail -60 "$dir/fuzz.log"
      ls "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-* 2>/dev/null || true
      return 1
    fi
  } >"$dir/report" 2>&1
}
export -f fuzz_one

harnesses=$(ls "$ASAN_BUILD"/fuzz/ | sed -n 's/^fuzz_\([a-z_]*\)$/\1/p' | grep -v '^replay_')
[ -n "$harnesses" ] || { echo "no fuzz harnesses in $ASAN_BUILD/fuzz" >&2; exit 1; }
status=0
printf '%s\n' $harnesses | xargs -P "$JOBS" -I{} bash -c 'fuzz_one "$1"' _ {} || status=1
for harness in $harnesses; do cat "$WORK/$harness/report"; done
exit $status
