#!/usr/bin/env bash
# One command for the end-to-end benchmark: builds kvelv (Release) in build-bench/ unless KVELV
# names a program already built, then runs bench/run.py, which writes docs/BENCHMARKS.md.
#   bash bench/run.sh            full corpus (512 MB text, 256 MB random, 2,000 small files, tree)
#   bash bench/run.sh --quick    small corpus, for a check in a minute or two
# Other options go to run.py (--runs N, --work DIR, --cases large-text,random, --no-7z, --output FILE,
# --baseline PATH --baseline-label TEXT for another kvelv build measured side by side, --one-core for
# the efficiency of the second core).
# Needs: cmake, a C++20 compiler, zip, unzip, openssl, time (/usr/bin/time), python3; 7z and pigz
# if present, taskset for --one-core.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
if [[ -z "${KVELV:-}" ]]; then
  build="$repo/build-bench"
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKVELV_BUILD_GUI=OFF -DKVELV_BUILD_TESTS=OFF \
    -DKVELV_BUILD_BENCH=ON >/dev/null
  cmake --build "$build" --target kvelv kvelv_codec_bench -j"$(nproc)" >/dev/null
  KVELV="$build/app/kvelv"
  echo "micro-benchmarks: $build/bench/kvelv_codec_bench" >&2
fi
exec python3 "$here/run.py" --kvelv "$KVELV" "$@"
