#!/usr/bin/env bash
# Quick start: installs the dependencies, builds a Release build, then encrypts a few sample files
# with the console program, checks the container with openssl, decrypts it again and compares.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${KVELV_BUILD_DIR:-"$ROOT/build-release"}
JOBS=$(nproc 2>/dev/null || echo 2)
IV_HEX=35313730383236343339393135303632   # the ASCII text 5170826439915062
PASSWORD='Hemmelig-passord-123'

step() { printf '\n==> %s\n' "$*"; }
fail() { printf '\nquickstart: FAILED: %s\n' "$*" >&2; exit 1; }

step "Installing dependencies"
bash "$ROOT/scripts/install-deps.sh"

step "Building Release in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DKVELV_BUILD_TESTS=OFF -DKVELV_BUILD_GUI=ON
cmake --build "$BUILD" -j "$JOBS"
KVELV="$BUILD/app/kvelv"
[[ -x "$KVELV" ]] || fail "the console program was not built ($KVELV missing)"
echo "Built: $KVELV"
[[ -x "$BUILD/app/kvelv-gui" ]] && echo "Built: $BUILD/app/kvelv-gui"
bash "$ROOT/scripts/check-hardening.sh" "$KVELV" || fail "the console program is built without its hardening flags"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/kvelv-quickstart-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/in" "$WORK/out"

step "Making sample files in $WORK/in"
printf 'Hei!\r\nDette er en hemmelig tekst.\r\n' >"$WORK/in/notat.txt"
printf 'Årsrapport med æøå\n' >"$WORK/in/Årsrapport.txt"
head -c 1048576 /dev/urandom >"$WORK/in/tilfeldig.bin"
: >"$WORK/in/tom.txt"
ls -l "$WORK/in"

# Runs kvelv, shows the command and its exit code; stops the script on an unexpected code.
run_kvelv() {
  local expected=$1
  shift
  echo "\$ kvelv $*"
  set +e
  "$KVELV" "$@" </dev/null
  local code=$?
  set -e
  echo "(exit code $code)"
  if [[ $code -ne $expected ]]; then
    if [[ $code -eq 1 ]]; then
      fail "kvelv ended with exit code 1: an unhandled error (see the message above); a job that is not built yet reports itself this way"
    fi
    fail "kvelv ended with exit code $code, expected $expected"
  fi
}

FILES="$WORK/in/notat.txt;$WORK/in/Årsrapport.txt;$WORK/in/tilfeldig.bin;$WORK/in/tom.txt"
CONTAINER="$WORK/samples.orvkvelv"

step "Encrypting the four files into one container"
run_kvelv 0 -encrypt "-password=$PASSWORD" "-files=$FILES" "-to_file=$CONTAINER"
[[ -f "$CONTAINER" ]] || fail "no container was written"
echo "Container: $(stat -c %s "$CONTAINER") bytes"

step "Checking the container with openssl (AES-256-CBC, key = SHA-256 of the password)"
KEY_HEX=$(printf '%s' "$PASSWORD" | openssl dgst -sha256 -r | cut -c1-64)
openssl enc -d -aes-256-cbc -K "$KEY_HEX" -iv "$IV_HEX" -in "$CONTAINER" -out "$WORK/plain.zip" ||
  fail "openssl could not decrypt the container"
unzip -l "$WORK/plain.zip" || fail "the decrypted container is not a readable ZIP archive"

step "Decrypting the container into $WORK/out"
run_kvelv 0 -decrypt "-password=$PASSWORD" "-file=$CONTAINER" "-to_folder=$WORK/out"

step "Comparing"
for file in "$WORK"/in/*; do
  name=$(basename "$file")
  cmp "$file" "$WORK/out/$name" || fail "$name differs after the round trip"
  echo "same: $name"
done

step "A wrong password is refused"
run_kvelv 2 -decrypt "-password=feil" "-file=$CONTAINER" "-to_folder=$WORK/out"

printf '\nquickstart: all good. Run "bash scripts/test.sh" for the full test suite.\n'
