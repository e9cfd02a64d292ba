#!/usr/bin/env bash
# Hardening checks for CI, on top of the normal build (scripts/test.sh):
#  1. builds everything (tests and interactive build) with AddressSanitizer and
#     UndefinedBehaviorSanitizer (KVELV_SANITIZE=ON) and runs the whole test suite under them;
#  2. builds the tests of the multi-threaded parts (CTest label threaded: parallel deflate, files
#     deflated ahead, entries decoded ahead, the extraction output thread, and the writer and
#     extractor passes that use them) with ThreadSanitizer (KVELV_TSAN=ON) and runs them;
#  3. builds the libFuzzer harnesses with clang (KVELV_BUILD_FUZZERS=ON), replays the seed
#     corpora and the regression inputs, and runs each harness for a short time.
# The build folders are configured from the presets asan, tsan and fuzz (CMakePresets.json).
# Exits non-zero when any step, test, replay or fuzz run fails.
# Environment: KVELV_ASAN_BUILD_DIR, KVELV_TSAN_BUILD_DIR, KVELV_FUZZ_BUILD_DIR (build folders),
# KVELV_FUZZ_SECONDS (seconds per harness, default 8), KVELV_SKIP_INSTALL=1 (no apt-get).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ASAN_BUILD=${KVELV_ASAN_BUILD_DIR:-"$ROOT/build-ci-asan"}
TSAN_BUILD=${KVELV_TSAN_BUILD_DIR:-"$ROOT/build-ci-tsan"}
FUZZ_BUILD=${KVELV_FUZZ_BUILD_DIR:-"$ROOT/build-ci-fuzz"}
FUZZ_SECONDS=${KVELV_FUZZ_SECONDS:-8}
JOBS=$(nproc 2>/dev/null || echo 2)

# --- Packages: the project's own plus clang and its sanitizer/libFuzzer runtimes (idempotent).
if [ "${KVELV_SKIP_INSTALL:-0}" != 1 ]; then
  bash "$ROOT/scripts/install-deps.sh"
  source "$ROOT/scripts/packages.sh"
  kvelv_install_packages ci-hardening "${KVELV_PACKAGES_HARDENING[@]}"
fi

# --- 1. Sanitizer build and the whole suite under it.
cmake --preset asan -S "$ROOT" -B "$ASAN_BUILD"
cmake --build "$ASAN_BUILD" -j "$JOBS"

export QT_QPA_PLATFORM=offscreen
# Leaks are reported, except the ones Qt and its plug-ins keep on purpose (suppression file).
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$ROOT/scripts/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$ASAN_BUILD" --output-on-failure -j "$JOBS" --timeout 900 </dev/null

# --- 2. Data races and lock misuse in the threaded parts: the tests labelled threaded, and
# only the programs they need.
cmake --preset tsan -S "$ROOT" -B "$TSAN_BUILD"
cmake --build "$TSAN_BUILD" -j "$JOBS" --target kvelv_threaded_tests
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
  ctest --test-dir "$TSAN_BUILD" -L threaded --no-tests=error --output-on-failure -j "$JOBS" --timeout 900 </dev/null

# --- 3. Fuzz harnesses: replay, then a short run each.
cmake --preset fuzz -S "$ROOT" -B "$FUZZ_BUILD"
cmake --build "$FUZZ_BUILD" -j "$JOBS"

unset LSAN_OPTIONS
export ASAN_OPTIONS="detect_leaks=1"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
status=0
for harness in zip_verify zip_extract unshrink unreduce explode inflate settings command_line; do
  binary="$FUZZ_BUILD/fuzz/fuzz_$harness"
  dict="$ROOT/fuzz/zip.dict"
  case $harness in
    settings) dict="$ROOT/fuzz/settings.dict" ;;
    command_line) dict="$ROOT/fuzz/command_line.dict" ;;
  esac
  mkdir -p "$WORK/$harness/corpus" "$WORK/$harness/tmp"
  regressions="$ROOT/tests/data/fuzz-regressions/$harness"
  # Replay: every regression input and seed once (libFuzzer runs files given by name).
  inputs=()
  [ -d "$regressions" ] && while IFS= read -r -d '' f; do inputs+=("$f"); done < <(find "$regressions" -type f ! -name '.*' -print0)
  while IFS= read -r -d '' f; do inputs+=("$f"); done < <(find "$ROOT/fuzz/corpus/$harness" -type f -print0)
  echo "== $harness: replaying ${#inputs[@]} inputs"
  if ! TMPDIR="$WORK/$harness/tmp" "$binary" -rss_limit_mb=2048 -timeout=10 "${inputs[@]}" >"$WORK/$harness/replay.log" 2>&1; then
    echo "replay of $harness failed:"; tail -50 "$WORK/$harness/replay.log"; status=1; continue
  fi
  echo "== $harness: fuzzing for $FUZZ_SECONDS s"
  if ! (cd "$WORK/$harness" && TMPDIR="$WORK/$harness/tmp" "$binary" -max_total_time="$FUZZ_SECONDS" \
        -rss_limit_mb=2048 -timeout=10 -dict="$dict" -artifact_prefix="$WORK/$harness/" \
        "$WORK/$harness/corpus" "$ROOT/fuzz/corpus/$harness" >"$WORK/$harness/fuzz.log" 2>&1); then
    echo "fuzzing $harness found a problem:"; tail -60 "$WORK/$harness/fuzz.log"
    ls "$WORK/$harness"/crash-* "$WORK/$harness"/leak-* "$WORK/$harness"/timeout-* "$WORK/$harness"/oom-* 2>/dev/null || true
    status=1
  fi
done
exit $status
