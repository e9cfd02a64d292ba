#!/usr/bin/env bash
# The sealed format against an independent implementation written from docs/FORMAT.md
# (tests/jobs/sealed_reference.py: the reference Argon2id, Python's HMAC, OpenSSL's
# ChaCha20-Poly1305): it reads the golden container and the program's containers, and the
# program reads its containers. Usage: sealed-reference-test.sh <kvelv>
set -euo pipefail
kvelv=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
py=/usr/bin/python3  # Debian's, with python3-argon2 and python3-cryptography
if ! "$py" -c 'import argon2, cryptography' 2>/dev/null; then
  echo "sealed-reference: SKIPPED: python3-argon2 or python3-cryptography missing"
  exit 77
fi
ref() { "$py" "$here/sealed_reference.py" "$@"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
check() {  # check <description> <command...>
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

ref decrypt "$here/../data/sealed/golden.orvkvelv" 'gyllen nøkkel' golden.zip
check "the reference reads the golden container" \
  test "$(unzip -p golden.zip linjer.txt | head -1)" = "linje 00000: Orv Kvelv forsegler dette arkivet."

mkdir in out-kvelv out-ref
printf 'Orv Kvelv\nblåbær\n' > in/notat.txt
head -c 200000 /dev/urandom > in/data.bin
(cd in && "$kvelv" -encrypt -format=2 '-password=blåbær€' '-files=notat.txt;data.bin' -to_file=../k.kvl)
ref decrypt k.kvl 'blåbær€' k.zip
(cd out-ref && unzip -q ../k.zip)
check "the reference reads the program's container" cmp in/data.bin out-ref/data.bin
check "  every file of it" cmp in/notat.txt out-ref/notat.txt
set +e
ref decrypt k.kvl 'blåbær' wrong.zip 2>/dev/null
code=$?
set -e
check "the reference refuses a wrong password" test "$code" -eq 2

ref encrypt k.zip 'fra referansen' r.kvl 256 2 000102030405060708090a0b0c0d0e0f 202122232425262728292a2b2c2d2e2f303132
"$kvelv" -decrypt -format=2 '-password=fra referansen' -file=r.kvl -to_folder=out-kvelv
check "the program reads the reference's container" cmp in/data.bin out-kvelv/data.bin

echo "$((5 - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
