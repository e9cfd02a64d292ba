#!/usr/bin/env bash
# The Windows interactive build in real windows: kvelv-gui.exe under Wine on a virtual display
# (Xvfb) with a window manager (openbox), driven by real key presses (xdotool). It logs in with
# the password from the settings file beside the executable, is given a container on its command
# line and decrypts it at once into a folder that already holds an older copy of the file: the
# system's message box asks about overwriting (answered No), and the shell opens the folder.
# Then another folder is typed into the window, which the settings file must hold when the
# window closes. Pictures of the windows go to the picture folder. (The round trip through the
# window is WinGuiTest's: here the job's busy indicator would come up over the closing message.)
#
#   bash scripts/windows-window-run.sh <Windows build folder> [<picture folder>]
#
# Exits non-zero when a window does not come or the decrypted file differs.
set -euo pipefail

BUILD=$(cd "$1" && pwd)
SHOTS=$(mkdir -p "${2:-$BUILD/window-run/pictures}" && cd "${2:-$BUILD/window-run/pictures}" && pwd)
WORK=$BUILD/window-run
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=nb_NO.UTF-8 LC_ALL=nb_NO.UTF-8 XDG_DATA_HOME=$WORK/xdg
WINE=/usr/lib/wine/wine64
DRIVE=$WINEPREFIX/drive_c

log() { printf 'window-run: %s\n' "$*"; }
# On failure the whole screen is kept for a look ($WORK/failure.png).
fail() {
  log "$*" >&2
  [[ -n ${DISPLAY:-} ]] && import -window root "$WORK/failure.png" 2>/dev/null
  exit 1
}

# A free display number, the server, and a window manager that gives focus as a desktop does.
display=90
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
export DISPLAY=:$display
# No auto-repeat: a key release that comes late on a busy machine must not repeat the key.
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp -r -ardelay 30000 >/dev/null 2>&1 &
xvfb=$!
openbox_pid=
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [[ -n $openbox_pid ]] && kill "$openbox_pid" 2>/dev/null
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
openbox_pid=$!

# The first window whose title contains the text, waited for up to a minute.
wait_window() {
  local id
  for _ in $(seq 120); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.5
  done
  fail "no window \"$1\" after a minute"
}
# Makes the window active and waits until the input lands there.
activate() { xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1"; sleep 0.5; }
picture() { import -window "$1" "$SHOTS/$2.png"; log "picture $2.png"; }

rm -rf "$WORK/prefix" "$WORK/xdg"
mkdir -p "$WORK"
"$WINE" wineboot -i >/dev/null 2>&1
# Wine draws the Windows captions and frames itself; the window manager only places and focuses.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1

# The program in its own folder with its settings file, as unpacked from the ZIP package.
mkdir -p "$DRIVE/Orv Kvelv" "$DRIVE/Data/Kryptert" "$DRIVE/Data/Dekryptert"
cp "$BUILD/app/kvelv-gui.exe" "$BUILD/app/kvelv.exe" "$DRIVE/Orv Kvelv/"
printf '%s\r\n' '[Password]' 'hash=kAFQmDzST7DWlj99KOF/cg==' '[Placement]' 'Top=60' 'Left=80' \
  '[LastUsedPaths]' 'FileToEncrypt=C:\Data\Årsrapport.txt' 'EncryptToFolder=C:\Data\Kryptert' \
  'EncryptedFile=' 'DecryptToFolder=C:\Data\Dekryptert' |
  iconv -f UTF-8 -t UTF-16 >"$DRIVE/Orv Kvelv/kvelv-gui.ini"  # with a byte-order mark: Unicode values
printf 'Årsrapport 2012\r\n%.0s' $(seq 2000) >"$DRIVE/Data/Årsrapport.txt"
echo "eldre utgave" >"$DRIVE/Data/Dekryptert/Årsrapport.txt"
container='C:\Data\Kryptert\Årsrapport.txt_2012.03.07.09.05.03.orvkvelv'
"$WINE" "C:\\Orv Kvelv\\kvelv.exe" -encrypt -password=abc '-files=C:\Data\Årsrapport.txt' \
  "-to_file=$container" >/dev/null || fail "kvelv.exe could not make the container"

log "kvelv-gui.exe on $DISPLAY"
(cd "$DRIVE/Orv Kvelv" && "$WINE" "C:\\Orv Kvelv\\kvelv-gui.exe" "$container" >"$WORK/gui.log" 2>&1) &
gui=$!

dialog=$(wait_window "Oppgi passord")
activate "$dialog"
xdotool type --delay 50 abc
picture "$dialog" windows-password-dialog
xdotool key Return

# The first activation decrypts the parameter; the file exists, so the system's box asks.
question=$(wait_window "Filen\\(e\\) finnes fra")
import -window root "$SHOTS/windows-overwrite-question.png"
log "picture windows-overwrite-question.png"
# Buttons are clicked with the mouse at their centre, in per cent of the window's size.
click() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --sync $((X + $2 * WIDTH / 100)) $((Y + $3 * HEIGHT / 100)) click 1
  sleep 1
}
# A control of the main window by its designed place in the client area, which Wine's frame
# (4 pixels) and caption (20) push down and right.
click_main() {
  eval "$(xdotool getwindowgeometry --shell "$main")"
  xdotool mousemove --sync $((X + 4 + $1)) $((Y + 24 + $2)) click 1
  sleep 0.5
}
close_shell_window() {
  local shell
  shell=$(wait_window "$1")
  xdotool windowclose "$shell" 2>/dev/null || xdotool windowkill "$shell"
}
# "Nei": the job ends without a further message, the older copy stays, and the shell opens
# the folder.
click "$question" 68 73
close_shell_window "Dekryptert"
[[ $(cat "$DRIVE/Data/Dekryptert/Årsrapport.txt") == "eldre utgave" ]] || fail "the older copy was replaced"

# The main window: the job's busy indicator has the same caption, but not the width.
main=
for id in $(xdotool search --onlyvisible --name "^Orv Kvelv$" 2>/dev/null); do
  eval "$(xdotool getwindowgeometry --shell "$id")"
  [[ $WIDTH -gt 600 ]] && main=$id
done
[[ -n $main ]] || fail "no main window"

# Real typing: another target folder, kept in the settings file when the window closes.
click_main $((4 + 128 + 200)) $((6 + 42 + 10))  # txtDecryptToFolder
xdotool key ctrl+a
xdotool type --delay 30 'C:\Data\Ny mappe'
activate "$main"
picture "$main" windows-main-window

activate "$main"
xdotool key alt+F4
for _ in $(seq 60); do kill -0 "$gui" 2>/dev/null || break; sleep 0.5; done
kill -0 "$gui" 2>/dev/null && fail "kvelv-gui.exe did not end when its window was closed"
iconv -f UTF-16 -t UTF-8 "$DRIVE/Orv Kvelv/kvelv-gui.ini" | grep -q "DecryptToFolder=C:.Data.Ny mappe" ||
  fail "the settings file did not get the paths"
log "done"
