#!/usr/bin/env bash
# kvelv.exe writing to a real console (Wine's console on a pseudo-terminal) shows non-ASCII
# text correctly: the echoed file name comes out as the same characters, not as code-page bytes.
# Usage: console-tty.sh <kvelv.exe> <emulator command...>
set -uo pipefail
exe=$1
shift
command -v script >/dev/null || { echo "console-tty: SKIPPED: script (bsdutils) missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
name='mangler-ø€漢.txt'
printf -v command '%q ' "$@" "$exe" -encrypt -password=p "-files=$name" -to_file=x.kvl
timeout 120 script -qec "$command" /dev/null </dev/null >screen.txt
code=$?
shown=$(tr -d '\r' <screen.txt)
if [[ "$shown" == *"Wrong parameter: -files=$name"*"File does not exist."* && $code -eq 5 ]]; then
  echo "ok: the console shows \"$name\" and the exit code is 5"
  echo "1 passed, 0 failed"
else
  echo "FAILED: exit code $code, the console showed:"
  printf '%s\n' "$shown" | od -c | head -20
  echo "0 passed, 1 failed"
  exit 1
fi
