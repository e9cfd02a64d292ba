#!/usr/bin/env bash
# kvelv.exe under Wine interrupted while it writes a container over an older one: Ctrl-C (the
# terminal's SIGINT, which Wine delivers as CTRL_C_EVENT), the terminal closed (SIGHUP) and a kill
# (SIGKILL). Each time the old container stays, no partial container is left beside it, and
# Ctrl-C ends the program with STATUS_CONTROL_C_EXIT (0xC000013A, of which a POSIX wait sees 58),
# never with 0. Wine cannot deliver Ctrl-Break or a console's close button from a Unix terminal;
# those are reported as skipped. The sealed format (-format=2) writes through the same partial
# file: Ctrl-C while it seals.
# Usage: console-interrupt.sh <kvelv.exe> <emulator command...>
set -uo pipefail
set -m  # background jobs keep SIGINT, as a terminal's foreground program does
exe=$(realpath "$1")
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Random bytes, so the archive is as large as the file and encrypting it (the only time the partial
# container is there) lasts a good part of a second even on a fast, idle machine.
head -c 48000000 /dev/urandom >big.bin
failures=0
cases=("1 INT" "1 HUP" "1 KILL" "2 INT")
for case in "${cases[@]}"; do
  read -r format signal <<<"$case"
  printf 'old container' >x.kvl
  "$@" "$exe" -encrypt -format="$format" -password=p -files=big.bin -to_file=x.kvl </dev/null >/dev/null 2>&1 &
  pid=$!
  # Until the partial container shows beside the target (the job is encrypting), 2 minutes at most;
  # looked for every 5 ms and the signal sent at once, well within the encryption.
  seen=
  for _ in $(seq 24000); do
    seen=$(compgen -G '~*.tmp') && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.005
  done
  kill -"$signal" "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  code=$?
  # Wine's server closes a dead program's handles (and so deletes its files) on its own time.
  for _ in $(seq 50); do
    compgen -G '~*.tmp' >/dev/null || break
    sleep 0.1
  done
  left=$(compgen -G '~*.tmp' || true)
  if [[ -z "$seen" ]]; then
    echo "FAILED: format $format, SIG$signal: the job never wrote a partial container (exit code $code)"
    failures=$((failures + 1))
  elif [[ -n "$left" || "$(cat x.kvl)" != "old container" ]]; then
    echo "FAILED: format $format, SIG$signal: left [$left], the target holds $(head -c 20 x.kvl | od -An -c | head -1)"
    failures=$((failures + 1))
  elif [[ $signal == INT && $code -ne 58 ]]; then
    echo "FAILED: format $format: Ctrl-C ended the program with $code, not STATUS_CONTROL_C_EXIT"
    failures=$((failures + 1))
  else
    echo "ok: format $format, SIG$signal while encrypting: the old container stays, nothing beside it (exit code $code)"
  fi
done
echo "console-interrupt: Ctrl-Break and the console's close button: SKIPPED (Wine delivers neither from a Unix terminal)"
echo "$((${#cases[@]} - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
