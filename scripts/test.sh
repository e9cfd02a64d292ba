#!/usr/bin/env bash
# Builds and tests Orv Kvelv in stages; .ci/run runs them all.
#
#   scripts/test.sh [linux] [hardening] [windows]     (no stage named: all three, in this order)
#
#   linux      the packages, the format check of the last commit's changed lines, the default
#              build (tests and interactive build included), the programs' hardening, the suite
#   hardening  the suite under AddressSanitizer and UBSan, the threaded tests under
#              ThreadSanitizer, the fuzz harnesses' regression inputs and short runs
#              (scripts/ci-hardening.sh; sanitizer settings in the test presets)
#   windows    the Windows builds under Wine and the packages (scripts/ci-windows.sh; the static
#              Qt for Windows is built into a cache outside the repository on first use, about
#              20 minutes); it reuses the linux stage's build for the package and the exchange
#
# Exits non-zero when any step or any test fails.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${KVELV_BUILD_DIR:-"$ROOT/build"}
JOBS=$(nproc 2>/dev/null || echo 2)
source "$ROOT/scripts/steps.sh"
# Every Qt program the stages start without a display of its own runs offscreen.
export QT_QPA_PLATFORM=offscreen

stages=("$@")
[[ ${#stages[@]} -gt 0 ]] || stages=(linux hardening windows)
for stage in "${stages[@]}"; do
  case $stage in
    linux | hardening | windows) ;;
    *) echo "usage: scripts/test.sh [linux] [hardening] [windows]" >&2; exit 2 ;;
  esac
done

stage_linux() {
  step "packages"
  bash "$ROOT/scripts/install-deps.sh"

  step "format of the lines the last commit changed"
  bash "$ROOT/scripts/check-format.sh"

  step "build (default preset)"
  cmake --preset default -S "$ROOT" -B "$BUILD"
  cmake --build "$BUILD" -j "$JOBS"

  step "hardening of the programs"
  bash "$ROOT/scripts/check-hardening.sh" "$BUILD/app/kvelv" "$BUILD/app/kvelv-gui"

  step "tests"
  (cd "$ROOT" && ctest --preset default --test-dir "$BUILD" -j "$JOBS" </dev/null)
}

# The sanitizer builds with the suite under them, and the fuzz harnesses (replay + short runs).
stage_hardening() {
  KVELV_SKIP_INSTALL=${KVELV_SKIP_INSTALL:-0} bash "$ROOT/scripts/ci-hardening.sh"
}

# The Windows builds under Wine, and the Debian package installed and run.
stage_windows() {
  KVELV_WINHOST_BUILD_DIR="$BUILD" bash "$ROOT/scripts/ci-windows.sh"
}

for stage in "${stages[@]}"; do
  "stage_$stage"
done
step "done (${stages[*]})"
