#!/usr/bin/env bash
# The Windows build and the packages: cross-compiles kvelv.exe with mingw-w64, runs its tests
# under Wine through CTest (the exchange with the Linux build and openssl included), builds the
# Debian package and the Windows ZIP package, and installs the Debian package in a test.
# Exits non-zero when any step or any test fails. Safe to run again.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WIN_BUILD=${KVELV_WIN_BUILD_DIR:-"$ROOT/build-win"}
HOST_BUILD=${KVELV_WINHOST_BUILD_DIR:-"$ROOT/build-winhost"}  # Linux build: packages, exchange
JOBS=$(nproc 2>/dev/null || echo 2)
WINE_LOCALE=nb_NO.UTF-8  # Wine's ANSI and OEM code pages follow it: 1252 and 850

PACKAGES=(
  build-essential cmake dpkg-dev file locales openssl zip unzip
  zlib1g-dev libssl-dev qt6-base-dev libgl-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 googletest
  libgnutls30  # Wine's bcrypt does AES through it (only recommended by wine64)
)

step() { printf '\n== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }

step "packages"
missing=()
for package in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "installed" ]] || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  as_root=()
  [[ $(id -u) -eq 0 ]] || as_root=(sudo)
  echo "installing ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
else
  echo "all ${#PACKAGES[@]} packages installed"
fi
if ! locale -a 2>/dev/null | grep -qix 'nb_NO.utf8'; then
  echo "generating the locale $WINE_LOCALE"
  localedef -i nb_NO -f UTF-8 "$WINE_LOCALE"
fi

step "Linux build for the Debian package (console and interactive build)"
# Only the two executables are built here; KVELV_WINHOST_BUILD_DIR may name the main build.
# The package takes what is built; installing must not build every test first.
cmake -S "$ROOT" -B "$HOST_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVELV_BUILD_GUI=ON \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build "$HOST_BUILD" --target kvelv kvelv-gui -j "$JOBS"

step "Windows cross build (mingw-w64, static)"
cmake -S "$ROOT" -B "$WIN_BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKVELV_BUILD_GUI=OFF -DKVELV_BUILD_TESTS=ON \
  -DKVELV_HOST_BINARY="$HOST_BUILD/app/kvelv"
cmake --build "$WIN_BUILD" -j "$JOBS"
dlls=$(objdump -p "$WIN_BUILD/app/kvelv.exe" | awk '/DLL Name/ {print tolower($3)}' | sort | tr '\n' ' ')
echo "kvelv.exe imports: $dlls"
for dll in $dlls; do
  case $dll in
    kernel32.dll | user32.dll | shell32.dll | bcrypt.dll | msvcrt.dll) ;;
    *) echo "kvelv.exe needs $dll, which Windows does not ship" >&2; exit 1 ;;
  esac
done

step "Wine prefix"
start=$(date +%s)
sh "$ROOT/cmake/wine-run.sh" "$WIN_BUILD/wineprefix" cmd /c ver
echo "Wine ready after $(( $(date +%s) - start )) s"

step "Windows tests under Wine"
ctest --test-dir "$WIN_BUILD" --output-on-failure -j "$JOBS" </dev/null

step "packages: Debian (.deb) and Windows (.zip)"
(cd "$HOST_BUILD" && cpack -G DEB)
(cd "$WIN_BUILD" && cpack -G ZIP)
deb=$(ls -t "$HOST_BUILD"/orv-kvelv_*.deb | head -1)
zip=$WIN_BUILD/kvelv-1.0.0-win64.zip
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
unzip -l "$zip"
contents=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[[ "$contents" == "kvelv-1.0.0-win64/ kvelv-1.0.0-win64/README.txt kvelv-1.0.0-win64/kvelv.exe " ||
   "$contents" == "kvelv-1.0.0-win64/README.txt kvelv-1.0.0-win64/kvelv.exe " ]] ||
  { echo "unexpected ZIP package contents: $contents" >&2; exit 1; }

step "Debian package install test"
bash "$ROOT/tests/packaging/deb-install-test.sh" "$deb" || { rc=$?; [[ $rc -eq 77 ]] || exit $rc; }

step "done"
