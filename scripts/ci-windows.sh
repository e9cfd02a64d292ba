#!/usr/bin/env bash
# The Windows build and the packages: builds (or reuses) the static Qt for Windows, cross-compiles
# kvelv.exe and kvelv-gui.exe with mingw-w64, runs their tests under Wine through CTest (the Qt
# tests on the offscreen platform, the exchange with the Linux build and openssl included), builds
# the Debian package and the Windows ZIP package, and installs the Debian package in a test.
# Exits non-zero when any step or any test fails. Safe to run again.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WIN_BUILD=${KVELV_WIN_BUILD_DIR:-"$ROOT/build-win"}
HOST_BUILD=${KVELV_WINHOST_BUILD_DIR:-"$ROOT/build-winhost"}  # Linux build: packages, exchange
JOBS=$(nproc 2>/dev/null || echo 2)
WINE_LOCALE=nb_NO.UTF-8  # Wine's ANSI and OEM code pages follow it: 1252 and 850

source "$ROOT/scripts/steps.sh"

step "packages"
source "$ROOT/scripts/packages.sh"
kvelv_install_packages packages "${KVELV_PACKAGES_WINDOWS[@]}"
if ! locale -a 2>/dev/null | grep -qix 'nb_NO.utf8'; then
  echo "generating the locale $WINE_LOCALE"
  localedef -i nb_NO -f UTF-8 "$WINE_LOCALE"
fi

step "Linux build for the Debian package (console and interactive build)"
# Only the two executables are built here; KVELV_WINHOST_BUILD_DIR may name the main build.
# The package takes what is built; installing must not build every test first.
cmake --preset default -S "$ROOT" -B "$HOST_BUILD" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build "$HOST_BUILD" --target kvelv kvelv-gui -j "$JOBS"
bash "$ROOT/scripts/check-hardening.sh" "$HOST_BUILD/app/kvelv" "$HOST_BUILD/app/kvelv-gui"

step "Qt for Windows (static, cached outside the repository)"
# The first run on a machine builds it (about 20 minutes on two cores); later runs reuse it.
QT_PREFIX=$(bash "$ROOT/scripts/build-qt-windows.sh" | tail -1)
cat "$QT_PREFIX/.complete"

step "libsodium for Windows (static, cached outside the repository)"
SODIUM_PREFIX=$(bash "$ROOT/scripts/build-sodium-windows.sh" | tail -1)
cat "$SODIUM_PREFIX/.complete"

step "Windows cross build (mingw-w64, static)"
cmake --preset mingw -S "$ROOT" -B "$WIN_BUILD" -DKVELV_QT_PREFIX="$QT_PREFIX" \
  -DKVELV_SODIUM_PREFIX="$SODIUM_PREFIX" -DKVELV_HOST_BINARY="$HOST_BUILD/app/kvelv"
cmake --build "$WIN_BUILD" -j "$JOBS"
# Both executables must run on a bare Windows: only DLLs that every Windows has.
check_imports() {
  local exe=$1 allowed=$2 dll
  dlls=$(objdump -p "$exe" | awk '/DLL Name/ {print tolower($3)}' | sort | tr '\n' ' ')
  echo "$(basename "$exe") imports: $dlls"
  for dll in $dlls; do
    [[ " $allowed " == *" $dll "* ]] ||
      { echo "$(basename "$exe") needs $dll, which Windows does not ship" >&2; exit 1; }
  done
}
# advapi32: the system's random numbers for the sealed format (libsodium uses RtlGenRandom), and
# the stack protector's runtime (libssp), which draws its guard from CryptGenRandom.
CONSOLE_DLLS="kernel32.dll user32.dll shell32.dll bcrypt.dll msvcrt.dll advapi32.dll"
check_imports "$WIN_BUILD/app/kvelv.exe" "$CONSOLE_DLLS"
# Qt 6 needs Windows 10: its API sets, shcore, Direct3D 11 and DXGI are there.
check_imports "$WIN_BUILD/app/kvelv-gui.exe" "$CONSOLE_DLLS authz.dll comdlg32.dll \
  d3d9.dll d3d11.dll dwmapi.dll dxgi.dll gdi32.dll imm32.dll netapi32.dll ole32.dll oleaut32.dll \
  shcore.dll shlwapi.dll userenv.dll uxtheme.dll version.dll winmm.dll ws2_32.dll wtsapi32.dll \
  api-ms-win-core-synch-l1-2-0.dll api-ms-win-core-winrt-l1-1-0.dll api-ms-win-core-winrt-string-l1-1-0.dll"
# ASLR with high entropy, DEP, the stack protector and the checked functions (cmake/Hardening.cmake).
bash "$ROOT/scripts/check-hardening.sh" "$WIN_BUILD/app/kvelv.exe" "$WIN_BUILD/app/kvelv-gui.exe"

step "Wine prefix"
start=$(date +%s)
sh "$ROOT/cmake/wine-run.sh" "$WIN_BUILD/wineprefix" cmd /c ver
echo "Wine ready after $(( $(date +%s) - start )) s"

step "Windows tests under Wine"
ctest --test-dir "$WIN_BUILD" --output-on-failure -j "$JOBS" </dev/null
# The tests' Wine server stays a minute for the next program (cmake/wine-run.sh); none comes.
WINEPREFIX="$WIN_BUILD/wineprefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true

step "kvelv-gui.exe in real windows under Wine (Xvfb, openbox, key presses)"
bash "$ROOT/scripts/windows-window-run.sh" "$WIN_BUILD"

step "packages: Debian (.deb) and Windows (.zip)"
(cd "$HOST_BUILD" && cpack -G DEB)
(cd "$WIN_BUILD" && cpack -G ZIP)
deb=$(ls -t "$HOST_BUILD"/orv-kvelv_*.deb | head -1)
# The version is the project's (CMakeLists.txt), which the build writes to version.txt.
name=kvelv-$(cat "$WIN_BUILD/version.txt")-win64
zip=$WIN_BUILD/$name.zip
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
unzip -l "$zip"
contents=$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')
files="$name/README.txt $name/kvelv-gui.exe $name/kvelv.exe "
[[ "$contents" == "$files" || "$contents" == "$name/ $files" ]] ||
  { echo "unexpected ZIP package contents: $contents" >&2; exit 1; }

step "Debian package install test"
bash "$ROOT/tests/packaging/deb-install-test.sh" "$deb" || { rc=$?; [[ $rc -eq 77 ]] || exit $rc; }

step "done"
