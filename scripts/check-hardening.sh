#!/usr/bin/env bash
# Checks built programs for the hardening every build gets (cmake/Hardening.cmake), so that a
# flag lost from the build fails CI. ELF (Linux): a position-independent executable, read-only
# relocations bound at start-up (RELRO, BIND_NOW), the stack protector and the checked functions
# of _FORTIFY_SOURCE in use. PE (Windows): ASLR with high entropy (DYNAMIC_BASE,
# HIGH_ENTROPY_VA), DEP (NX_COMPAT), the stack protector and the checked functions linked in.
# Usage: check-hardening.sh <program>...   Exits non-zero naming what is missing.
set -euo pipefail

status=0
failed=0
missing() { echo "$1: $2" >&2; failed=1; status=1; }

check_elf() {
  local program=$1 header dynamic symbols
  header=$(readelf -hW "$program")
  dynamic=$(readelf -dW "$program")
  symbols=$(readelf --dyn-syms -W "$program")
  grep -q 'Type:.*DYN' <<<"$header" || missing "$program" "not a position-independent executable (PIE)"
  readelf -lW "$program" | grep -q 'GNU_RELRO' || missing "$program" "no RELRO segment (-z relro)"
  grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' <<<"$dynamic" || missing "$program" "symbols not bound at start-up (-z now)"
  grep -Eq '\(FLAGS_1\).*PIE' <<<"$dynamic" || missing "$program" "not flagged PIE"
  grep -q '__stack_chk_fail' <<<"$symbols" || missing "$program" "no stack protector (-fstack-protector-strong)"
  grep -Eq '__[a-z0-9_]+_chk(@|$| )' <<<"$(grep -v __stack_chk_fail <<<"$symbols")" ||
    missing "$program" "no checked functions (_FORTIFY_SOURCE)"
}

check_pe() {
  local program=$1 headers symbols flag
  headers=$(objdump -p "$program")
  for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    grep -qw "$flag" <<<"$headers" || missing "$program" "DllCharacteristics lacks $flag"
  done
  symbols=$(objdump -t "$program")
  grep -q '__stack_chk_fail' <<<"$symbols" || missing "$program" "no stack protector (-fstack-protector-strong)"
  grep -q '__chk_fail' <<<"$symbols" || missing "$program" "no checked functions (_FORTIFY_SOURCE)"
}

[[ $# -gt 0 ]] || { echo "usage: $0 <program>..." >&2; exit 2; }
for program in "$@"; do
  failed=0
  [[ -f "$program" ]] || { missing "$program" "no such file"; continue; }
  case $(head -c 4 "$program" | od -An -c | tr -d ' ') in
    177ELF) check_elf "$program" ;;
    MZ*) check_pe "$program" ;;
    *) missing "$program" "neither an ELF nor a PE executable" ;;
  esac
  [[ $failed -ne 0 ]] || echo "$program: hardened"
done
exit $status
