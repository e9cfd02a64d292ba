#!/usr/bin/env bash
# Containers exchanged between the Windows build (under Wine), the Linux build and the openssl
# command, both ways, with the same password; the archives inside must be the same bytes. Sealed
# containers (-format=2) too: each build reads the other's, and the golden container.
# Usage: exchange.sh <kvelv.exe> <linux kvelv or ""> <emulator command...>
set -euo pipefail
exe=$1
linux=$2
shift 2
wine=("$@")
[[ ${#wine[@]} -gt 0 ]] || { echo "exchange: no emulator given"; exit 2; }
if [[ -z "$linux" || ! -x "$linux" ]]; then
  echo "exchange: SKIPPED: no Linux build given (configure with -DKVELV_HOST_BINARY=<path of kvelv>)"
  exit 77
fi
command -v openssl >/dev/null || { echo "exchange: SKIPPED: openssl missing"; exit 77; }

golden=$(cd "$(dirname "${BASH_SOURCE[0]}")/../data/sealed" && pwd)/golden.orvkvelv
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
password='blåbær€'
failures=0
check() {  # check <description> <command...>
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
win() { "${wine[@]}" "$exe" "$@"; }
# The key is SHA-256 of the password's windows-1252 bytes; the vector is fixed.
key=$(printf '%s' "$password" | iconv -f UTF-8 -t WINDOWS-1252 | sha256sum | cut -c1-64)
iv=35313730383236343339393135303632

mkdir in
printf 'Orv Kvelv\r\nbrød og ost\n' > in/brød.txt
head -c 300000 /dev/urandom > in/data.bin
touch -d '2024-05-17 12:34:56' in/brød.txt in/data.bin
cd in

win -encrypt "-password=$password" '-files=brød.txt;data.bin' -to_file=../win.kvl
"$linux" -encrypt "-password=$password" '-files=brød.txt;data.bin' -to_file=../linux.kvl
cd ..
openssl enc -d -aes-256-cbc -K "$key" -iv "$iv" -in win.kvl -out win.zip
openssl enc -d -aes-256-cbc -K "$key" -iv "$iv" -in linux.kvl -out linux.zip
check "the Windows and the Linux build write the same archive bytes" cmp win.zip linux.zip
check "so the same container bytes" cmp win.kvl linux.kvl

mkdir from-win from-linux from-openssl
"$linux" -decrypt "-password=$password" -file=win.kvl -to_folder=from-win
check "Linux reads the Windows container" cmp in/data.bin from-win/data.bin
check "  with the non-ASCII name" cmp in/brød.txt from-win/brød.txt
win -decrypt "-password=$password" -file=linux.kvl -to_folder=from-linux
check "Windows reads the Linux container" cmp in/data.bin from-linux/data.bin
check "  with the non-ASCII name" cmp in/brød.txt from-linux/brød.txt

openssl enc -aes-256-cbc -K "$key" -iv "$iv" -in linux.zip -out openssl.kvl
check "openssl enc writes the same container bytes" cmp openssl.kvl win.kvl
win -decrypt "-password=$password" -file=openssl.kvl -to_folder=from-openssl
check "Windows reads the openssl container" cmp in/data.bin from-openssl/data.bin

set +e
win -decrypt -password=wrong -file=linux.kvl -to_folder=from-openssl >/dev/null
code=$?
set -e
check "a wrong password ends with exit code 2" test "$code" -eq 2

# The sealed format: random salt and nonces, so the containers differ; each build reads both.
cd in
win -encrypt -format=2 "-password=$password" '-files=brød.txt;data.bin' -to_file=../win2.kvl
"$linux" -encrypt -format=2 "-password=$password" '-files=brød.txt;data.bin' -to_file=../linux2.kvl
cd ..
mkdir from-win2 from-linux2 golden-win
check "the Windows build writes the sealed format" test "$(head -c 8 win2.kvl | od -An -tx1 | tr -d ' ')" = 894b564c000d0a1a
"$linux" -decrypt -format=2 "-password=$password" -file=win2.kvl -to_folder=from-win2
check "Linux reads the Windows sealed container" cmp in/data.bin from-win2/data.bin
check "  with the non-ASCII name" cmp in/brød.txt from-win2/brød.txt
win -decrypt -format=2 "-password=$password" -file=linux2.kvl -to_folder=from-linux2
check "Windows reads the Linux sealed container" cmp in/data.bin from-linux2/data.bin
cp "$golden" golden.kvl
win -decrypt '-password=gyllen nøkkel' -file=golden.kvl -to_folder=golden-win
check "Windows reads the golden sealed container" test "$(md5sum <golden-win/linjer.txt | cut -c1-32)" = \
  "$(python3 -c 'import sys; sys.stdout.write("".join("linje %05d: Orv Kvelv forsegler dette arkivet.\n" % i for i in range(1600)))' | md5sum | cut -c1-32)"
set +e
win -decrypt -format=2 "-password=$password" -file=linux.kvl -to_folder=from-openssl >/dev/null 2>&1
code=$?
set -e
check "Windows with -format=2 refuses a classic container (exit code 2)" test "$code" -eq 2

echo "$((16 - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
