#!/bin/sh
# Runs a Windows program under Wine for CTest: wine-run.sh <prefix> <program> [args...].
# A private prefix (created on first use, serialised by a lock), no display, no debug chatter,
# and a Norwegian locale so that Wine's ANSI and OEM code pages are 1252 and 850.
set -e
prefix=$1
shift
loader=${KVELV_WINE_LOADER:-/usr/lib/wine/wine64}
export WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=nb_NO.UTF-8 LC_ALL=nb_NO.UTF-8
mkdir -p "$prefix"
# One Wine session for the whole run, kept for a minute after its last program: with the default
# of three seconds a program starting just as the server leaves loses its connection ("wine
# client error ... recvmsg"). The session's own processes (services, explorer) are started here
# with their output sent nowhere: started by a test program they would inherit its output, and
# whoever reads that (CTest, its test discovery) would wait until the session ends. wineserver
# exits with 0 only when it started a new server. Serialised by a lock, as is creating the prefix
# (-o: the session's processes must not inherit the lock).
flock -o "$prefix.lock" sh -c '
  if "$1" -p60; then fresh=1; else fresh=0; fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then "$0" wineboot -i
  elif [ $fresh = 1 ]; then "$0" wineboot; fi
' "$loader" "${KVELV_WINESERVER:-/usr/lib/wine/wineserver64}" </dev/null >/dev/null 2>&1 || true
exec "$loader" "$@"
