#!/usr/bin/env bash
# Installs the dependencies, builds everything (tests and interactive build included) and runs
# the whole test suite. Exits non-zero when any step or any test fails.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${KVELV_BUILD_DIR:-"$ROOT/build"}
JOBS=$(nproc 2>/dev/null || echo 2)

bash "$ROOT/scripts/install-deps.sh"

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKVELV_BUILD_TESTS=ON -DKVELV_BUILD_GUI=ON
cmake --build "$BUILD" -j "$JOBS"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" </dev/null
