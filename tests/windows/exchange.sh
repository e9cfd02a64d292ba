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
checks=9

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
checks=$((checks + 6))

# Every kind of name a Linux user has that Windows cannot hold as it is, in a container made by
# the Linux build (and two names that differ in letter case only, which only another tool
# stores together: zip, then openssl enc). Windows writes each under the name in the second
# column and says so; no data is lost. (Wine keeps the names in this file system, where 255
# bytes is the most, so no name here is longer in UTF-8.)
latin=$(printf 'caf\xe9%.0s' {1..30})  # 120 bytes that are not UTF-8
names=("log 10:30.txt" "log 11:30.txt" "notat.txt" "notat.txt." "notat.txt " "aux.txt" "CON" "NUL" "COM1.log"
  "LPT1" "Hva?.txt" "a<b>.txt" 'p|q*r.txt' "ok.txt" "$latin" "$(printf 'x%.0s' {1..251}).txt")
written=("log 10_30.txt" "log 11_30.txt" "notat.txt" "notat.txt_" "notat (2).txt_" "_aux.txt" "_CON" "_NUL"
  "_COM1.log" "_LPT1" "Hva_.txt" "a_b_.txt" "p_q_r.txt" "ok.txt" "$(printf 'café%.0s' {1..30})"
  "$(printf 'x%.0s' {1..251}).txt")
mkdir classes
list=
for i in "${!names[@]}"; do
  printf 'file %s\n' "$i" > "classes/${names[$i]}"
  list+="${list:+;}classes/${names[$i]}"
done
"$linux" -encrypt "-password=$password" "-files=$list" -to_file=classes.kvl
win -decrypt "-password=$password" -file=classes.kvl -to_folder=classes-win 2> classes.err
check "Windows takes every name class of a Linux container" test "$(ls -A classes-win | wc -l)" -eq "${#names[@]}"
for i in "${!names[@]}"; do
  check "  \"${names[$i]:0:40}\" as \"${written[$i]:0:40}\"" cmp "classes/${names[$i]}" "classes-win/${written[$i]}"
  checks=$((checks + 1))
done
check "  one notice for each changed name" test "$(grep -c '^Renamed' classes.err)" -eq 12
mkdir twins
printf 'upper\n' > twins/Rapport.txt
printf 'lower\n' > twins/rapport.txt
(cd twins && zip -q ../twins.zip Rapport.txt rapport.txt)
openssl enc -aes-256-cbc -K "$key" -iv "$iv" -in twins.zip -out twins.kvl
win -decrypt "-password=$password" -file=twins.kvl -to_folder=twins-win 2>/dev/null
check "names that differ in letter case both come out" cmp twins/rapport.txt "twins-win/rapport (2).txt"
check "  the first under its own name" cmp twins/Rapport.txt twins-win/Rapport.txt

# The other way: a container made by the Windows build from names of 255 UTF-16 units (and one
# of 254 characters in 255 bytes) opens on Linux with every file.
mkdir long
long255=$(printf 'y%.0s' {1..251}).txt
norsk="Årsrapport $(printf 'z%.0s' {1..239}).txt"
printf 'long\n' > "long/$long255"
printf 'norsk\n' > "long/$norsk"
(cd long && win -encrypt "-password=$password" "-files=$long255;$norsk" -to_file=../long.kvl)
"$linux" -decrypt "-password=$password" -file=long.kvl -to_folder=long-linux
check "Linux reads a Windows container of 255-unit names" cmp "long/$long255" "long-linux/$long255"
check "  and the Norwegian one" cmp "long/$norsk" "long-linux/$norsk"
checks=$((checks + 6))

echo "$((checks - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
