#!/usr/bin/env bash
# Installs the dependencies, builds everything (tests and interactive build included) and runs
# every test: the normal build's suite, the same suite under AddressSanitizer and UBSan, the fuzz
# harnesses' regression inputs and short runs, and the Windows builds under Wine (the static Qt
# for Windows is built into a cache outside the repository on first use) with the packages. Exits non-zero when any step or any test fails.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${KVELV_BUILD_DIR:-"$ROOT/build"}
JOBS=$(nproc 2>/dev/null || echo 2)
step() { printf '\n== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }

step "packages"
bash "$ROOT/scripts/install-deps.sh"

step "build (default preset)"
cmake --preset default -S "$ROOT" -B "$BUILD"
cmake --build "$BUILD" -j "$JOBS"

step "hardening of the programs"
bash "$ROOT/scripts/check-hardening.sh" "$BUILD/app/kvelv" "$BUILD/app/kvelv-gui"

step "tests"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" </dev/null

# The sanitizer build with the whole suite under it, and the fuzz harnesses (replay + short runs).
step "sanitizers and fuzzing"
KVELV_SKIP_INSTALL=${KVELV_SKIP_INSTALL:-0} bash "$ROOT/scripts/ci-hardening.sh"

# The Windows builds under Wine, and the Debian package installed and run. It reuses the Linux
# build above for the package and the exchange tests.
KVELV_WINHOST_BUILD_DIR="$BUILD" bash "$ROOT/scripts/ci-windows.sh"
step "done"
