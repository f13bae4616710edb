#!/bin/bash
# The Windows zip as a Windows user runs it, under Wine in a private prefix and
# X server: unpacked into a folder with a blank, it is a GUI program with its
# manifest, writes a real image through COM12 into a simulated board, says so in
# its window when its tool is missing, and closes with exit code 0 each time.
#   xvfb-run tst_windows.sh ZIP VIRTUALBOARD BOOTLOADER
# With KESTRELFLASH_WINDOWS_PICTURE set, it saves the window after the update there.
set -eu
tmp=$(mktemp -d)
trap 'set +e; wineserver -k; kill ${board:-} 2>/dev/null; rm -rf "$tmp"' EXIT
export PATH=/usr/lib/wine:$PATH HOME=$tmp WINEPREFIX=$tmp/w WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=d
folder="$WINEPREFIX/drive_c/Program Files/Kestrelflash"
firmware="$WINEPREFIX/drive_c/users/$(id -un)/Documents/Kestrel firmware"
wine64 wineboot -i
unzip -q "$1" -d "${folder%/*}"
x86_64-w64-mingw32-objdump -p "$folder/kestrelflash.exe" | grep "^Subsystem.*(Windows GUI)"
grep -c 'level="asInvoker"' "$folder/kestrelflash.exe"

# Starts the program in its folder; once a click in the path field has given it the
# keyboard (there is no window manager), presses these keys in its window.
run() {
    (cd "$folder" && exec wine64 kestrelflash.exe 2>/dev/null) & program=$!
    window=$(timeout 60 xdotool search --sync --onlyvisible --name '^AvrUpdateDialog$' | head -n 1)
    xdotool mousemove --window "${window:?no window}" 100 36 click 1 key "$@"
}
# Waits up to two minutes for the console to show the text.
console_shows() {
    for _ in $(seq 120); do
        xdotool mousemove --window "$window" 100 200 click 1 key ctrl+a ctrl+c
        xclip -o -selection clipboard 2>/dev/null | grep -q "$1" && return || sleep 1
    done; xclip -o -selection clipboard; false
}
close() { xdotool key Escape && wait $program; }

coproc BOARD { exec "$2" "$3" "$tmp/flash.bin"; }
board=$BOARD_PID
while read -r -t 10 word port <&"${BOARD[0]}" && [ "$word" != port ]; do :; done
mkdir -p "$firmware" && head -c 65536 /dev/urandom >"$firmware/board.bin"
objcopy -I binary -O ihex "$firmware/board.bin" "$firmware/board.hex"
wine64 reg add 'HKLM\Software\Wine\Ports' /v COM12 /d "$port" /f
wine64 reg add 'HKCU\Software\Orvanta\Kestrelflash' /v HexPath /f /d "C:/${firmware#*/drive_c/}/board.hex"
wineserver -w # Wine maps its ports when a session starts

time run Tab Tab # to a visible window
xdotool type COM12 # the port list may hold others, such as COM1
xdotool key Tab space
console_shows "65536 bytes of flash verified"
[ -z "${KESTRELFLASH_WINDOWS_PICTURE:-}" ] \
    || { xdotool click 1 sleep 1; import -window "$window" "$KESTRELFLASH_WINDOWS_PICTURE"; }
close
kill $board && wait $board
cmp -n 65536 "$firmware/board.bin" "$tmp/flash.bin"

rm "$folder/tools/avrdude.exe"
run Tab Tab Tab space
console_shows "Could not start the programmer tool"
close
