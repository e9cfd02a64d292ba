#!/usr/bin/env bash
# Installs the Debian package with dpkg, checks what it put in place and runs an installed
# `kvelv` round trip, then removes the package again. Needs root (as CI runs).
# Usage: deb-install-test.sh <package.deb>
set -uo pipefail
deb=${1:?usage: deb-install-test.sh <package.deb>}
[[ $(id -u) -eq 0 ]] || { echo "deb-install-test: SKIPPED: needs root for dpkg -i"; exit 77; }
# The package is installed system-wide: two runs on one machine (two clones) take turns.
exec 9>/tmp/orvkvelv-deb-install-test.lock
flock 9

passed=0
failed=0
check() {  # check <description> <command...>
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "ok: $what"; passed=$((passed + 1)); else echo "FAILED: $what"; failed=$((failed + 1)); fi
}

work=$(mktemp -d)
package=$(dpkg-deb -f "$deb" Package)
cleanup() {
  dpkg -r "$package" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

check "the package depends on the fonts the layout is made for" bash -c "dpkg-deb -f '$deb' Depends | grep -q fonts-liberation"
check "the package depends on Qt's translations" bash -c "dpkg-deb -f '$deb' Depends | grep -q qt6-translations-l10n"
check "the package installs with dpkg -i" env DEBIAN_FRONTEND=noninteractive dpkg -i "$deb"
check "its dependencies are satisfied" dpkg -s "$package"
check "kvelv is installed in /usr/bin" test -x /usr/bin/kvelv
check "kvelv-gui is installed in /usr/bin" test -x /usr/bin/kvelv-gui
check "the man page is installed" test -f /usr/share/man/man1/kvelv.1
check "the man page names every exit code" bash -c 'for c in 0 1 2 3 4 5; do grep -q "^\.B $c\$" /usr/share/man/man1/kvelv.1 || exit 1; done'
apps=/usr/share/applications
check "the desktop entry opens a file with kvelv-gui" grep -qx "Exec=kvelv-gui %f" $apps/kvelv-gui.desktop
check "  its window class is the program's" grep -qx "StartupWMClass=kvelv-gui" $apps/kvelv-gui.desktop
check "  its action fills in a file to encrypt" grep -qx "Exec=kvelv-gui -encrypt %f" $apps/kvelv-gui.desktop
check "  it validates" desktop-file-validate $apps/kvelv-gui.desktop
check "the \"Open With\" entry fills in a file to encrypt, and validates" bash -c \
  "grep -qx 'Exec=kvelv-gui -encrypt %f' $apps/kvelv-gui-encrypt.desktop && desktop-file-validate $apps/kvelv-gui-encrypt.desktop"
check "the icon is installed, scalable and in every size" bash -c \
  'test -f /usr/share/icons/hicolor/scalable/apps/kvelv.svg && for s in 16 22 24 32 48 64 128 256; do test -f /usr/share/icons/hicolor/${s}x$s/apps/kvelv.png || exit 1; done'

mkdir -p "$work/in" "$work/out"
printf 'Orv Kvelv\r\nbrød og ost\n' > "$work/in/brød.txt"
head -c 100000 /dev/urandom > "$work/in/data.bin"
(cd "$work/in" && /usr/bin/kvelv -encrypt -password=blåbær '-files=brød.txt;data.bin' -to_file="$work/c.kvl")
check "the installed kvelv encrypts" test -s "$work/c.kvl"
/usr/bin/kvelv -decrypt -password=blåbær -file="$work/c.kvl" -to_folder="$work/out"
cp "$work/c.kvl" "$work/pakke.orvkvelv"
check "a container's file type resolves" bash -c "[[ \$(xdg-mime query filetype '$work/pakke.orvkvelv') == application/x-orvkvelv ]]"
check "  and opens with kvelv-gui" bash -c "[[ \$(xdg-mime query default application/x-orvkvelv) == kvelv-gui.desktop ]]"
check "the installed kvelv decrypts what it encrypted" cmp "$work/in/data.bin" "$work/out/data.bin"
check "  including the non-ASCII name" cmp "$work/in/brød.txt" "$work/out/brød.txt"
/usr/bin/kvelv >/dev/null
check "no arguments ends with exit code 1" test $? -eq 1

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
