#!/usr/bin/env bash
# Builds the Qt 6 that kvelv-gui.exe is cross-built against: Debian's own qt6-base source, the
# same version as the host's Qt tools (moc, uic and rcc come from the host), static, for 64-bit
# Windows with mingw-w64, with only Core, Gui, Widgets, Test and the windows, offscreen and
# minimal platform plugins. The result goes into a cache outside the repository, in a folder
# named after the Qt version and a digest of the build options, and is reused when present.
#
#   bash scripts/build-qt-windows.sh    # prints the Qt prefix as its last line
#
# KVELV_QT_CACHE_DIR moves the cache (default ~/.cache/orvkvelv/qt). A build takes about 20
# minutes on two idle cores; it runs niced. Only a finished build counts as the cache; an
# interrupted or failed one leaves its work folder, and the next run carries on with it.
set -euo pipefail

CACHE=${KVELV_QT_CACHE_DIR:-"${XDG_CACHE_HOME:-$HOME/.cache}/orvkvelv/qt"}
JOBS=${KVELV_QT_JOBS:-$(nproc 2>/dev/null || echo 2)}
TRIPLE=x86_64-w64-mingw32

log() { printf 'build-qt-windows: %s\n' "$*" >&2; }
source "$(dirname "${BASH_SOURCE[0]}")/windows-cache.sh"

# The host's tools generate code for this Qt, so the source must be the very same version.
VERSION=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null) ||
  { log "qt6-base-dev-tools is not installed"; exit 1; }

# Qt's own build gets a toolchain of its own so that edits to the project's toolchain file do
# not throw the cache away. Static runtime: nothing but system DLLs at run time.
TOOLCHAIN=$(cat <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $TRIPLE-gcc-posix)
set(CMAKE_CXX_COMPILER $TRIPLE-g++-posix)
set(CMAKE_RC_COMPILER $TRIPLE-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$TRIPLE)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
EOF
)

OPTIONS=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
  -DFEATURE_vulkan=OFF -DFEATURE_pkg_config=OFF
  # Debian's source leaves out wintab.h; the Direct2D plugin and DirectWrite 3 do not link
  # statically (QWindowsDirectWriteFontDatabase).
  -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF
  -DFEATURE_gif=OFF -DFEATURE_jpeg=OFF -DFEATURE_zstd=OFF
  -DFEATURE_androiddeployqt=OFF -DFEATURE_windeployqt=OFF -DFEATURE_qmake=OFF
  # Qt's own zlib (its symbols are prefixed), so Qt never asks for zlib1.dll.
  -DFEATURE_system_zlib=OFF
)

use_cache_or_lock "${OPTIONS[@]}" "$TOOLCHAIN"

WORK=$PREFIX.work
start=$(date +%s)
rm -rf "$PREFIX"
SRC=$(find "$WORK/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' 2>/dev/null | head -1 || true)
if [[ -n $SRC && -f "$WORK/build/build.ninja" ]]; then
  log "carrying on with the build in $WORK"
else
  rm -rf "$WORK"
  fetch_debian_source qt6-base "$WORK"
fi

# Qt 6.4 compiles its software-OpenGL check in the windows plugin whenever dynamic OpenGL is
# configured, even with OpenGL itself off; later Qt versions ask for both.
sed -i '/^static inline bool isSoftwareGl()/,/^}/ s/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
  "$SRC/src/plugins/platforms/windows/qwindowswindow.cpp"

[[ -f "$WORK/toolchain.cmake" ]] || printf '%s\n' "$TOOLCHAIN" >"$WORK/toolchain.cmake"
log "configuring ($SRC)"
cmake -S "$SRC" -B "$WORK/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$WORK/toolchain.cmake" \
  -DCMAKE_INSTALL_PREFIX="$PREFIX" "${OPTIONS[@]}" >"$WORK/configure.log" 2>&1 ||
  { tail -40 "$WORK/configure.log" >&2; exit 1; }
log "building with $JOBS jobs (log: $WORK/build.log)"
nice -n 19 cmake --build "$WORK/build" --parallel "$JOBS" >"$WORK/build.log" 2>&1 ||
  { tail -40 "$WORK/build.log" >&2; exit 1; }
cmake --install "$WORK/build" >"$WORK/install.log" 2>&1 || { tail -20 "$WORK/install.log" >&2; exit 1; }

printf 'qt6-base %s\nbuilt in %s s\n' "$VERSION" "$(( $(date +%s) - start ))" >"$PREFIX/.complete"
rm -rf "$WORK"
log "Qt ready in $PREFIX after $(( $(date +%s) - start )) s"
echo "$PREFIX"
