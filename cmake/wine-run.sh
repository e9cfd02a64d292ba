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
# One server for the whole run, kept for a minute after its last program: with the default of
# three seconds a program starting just as the server leaves loses its connection ("wine client
# error ... recvmsg"). When a server is running already this one just exits.
"${KVELV_WINESERVER:-/usr/lib/wine/wineserver64}" -p60 >/dev/null 2>&1 || true
if [ ! -f "$prefix/system.reg" ]; then
  # First use: create the prefix once, whoever comes first.
  flock "$prefix.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || "$0" wineboot -i >/dev/null 2>&1' "$loader"
fi
exec "$loader" "$@"
