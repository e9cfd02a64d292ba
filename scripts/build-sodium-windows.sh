#!/usr/bin/env bash
# Builds the libsodium that kvelv.exe and kvelv-gui.exe link for the strong container format:
# Debian's own libsodium source, the same version as the host's libsodium-dev, static, for
# 64-bit Windows with mingw-w64. The result goes into a cache outside the repository, in a folder
# named after the version and a digest of the build options, and is reused when present.
#
#   bash scripts/build-sodium-windows.sh    # prints the libsodium prefix as its last line
#
# KVELV_SODIUM_CACHE_DIR moves the cache (default ~/.cache/orvkvelv/sodium). A build takes about
# two minutes on two cores. Only a finished build counts (a `.complete` mark); another run
# building the same version waits on its lock and reuses the result.
set -euo pipefail

CACHE=${KVELV_SODIUM_CACHE_DIR:-"${XDG_CACHE_HOME:-$HOME/.cache}/orvkvelv/sodium"}
JOBS=${KVELV_SODIUM_JOBS:-$(nproc 2>/dev/null || echo 2)}
TRIPLE=x86_64-w64-mingw32

log() { printf 'build-sodium-windows: %s\n' "$*" >&2; }
source "$(dirname "${BASH_SOURCE[0]}")/windows-cache.sh"

# The Windows build uses the very version the Linux build links.
VERSION=$(dpkg-query -W -f='${Version}' libsodium-dev 2>/dev/null) ||
  { log "libsodium-dev is not installed"; exit 1; }

OPTIONS=(
  --host=$TRIPLE --disable-shared --enable-static --disable-pie
  --with-pic=no --disable-ssp --enable-opt=no --enable-minimal=no
  "CC=$TRIPLE-gcc-posix" "CFLAGS=-O2 -g0"
)

use_cache_or_lock "${OPTIONS[@]}"

WORK=$PREFIX.work
start=$(date +%s)
rm -rf "$PREFIX" "$WORK"
fetch_debian_source libsodium "$WORK"

# Debian's source carries no generated configure script: make it as Debian's build does.
log "generating the configure script"
(cd "$SRC" && autoreconf -fi) >"$WORK/autoreconf.log" 2>&1 || { tail -40 "$WORK/autoreconf.log" >&2; exit 1; }
log "configuring ($SRC)"
mkdir -p "$WORK/build"
(cd "$WORK/build" && "$SRC/configure" --prefix="$PREFIX" "${OPTIONS[@]}") >"$WORK/configure.log" 2>&1 ||
  { tail -40 "$WORK/configure.log" >&2; exit 1; }
log "building with $JOBS jobs (log: $WORK/build.log)"
nice -n 19 make -C "$WORK/build" -j "$JOBS" >"$WORK/build.log" 2>&1 ||
  { tail -40 "$WORK/build.log" >&2; exit 1; }
make -C "$WORK/build" install >"$WORK/install.log" 2>&1 || { tail -20 "$WORK/install.log" >&2; exit 1; }

printf 'libsodium %s\nbuilt in %s s\n' "$VERSION" "$(( $(date +%s) - start ))" >"$PREFIX/.complete"
rm -rf "$WORK"
log "libsodium ready in $PREFIX after $(( $(date +%s) - start )) s"
echo "$PREFIX"
