#!/bin/bash
# The Windows program as a Windows user gets it, under Wine in a private prefix
# and X server. The MSI installs per user, with the zip's files, a Start-menu
# entry that starts the program in its folder, and an entry in Settings -> Apps.
# The program carries its icon and version, writes a real image through COM12
# into a simulated board from folders named in scripts outside the system's
# code page, and shows the path as written; finds its tool beside itself when
# started elsewhere, scales with the display, and closes with exit code 0 each time. On a port nobody answers it stops avrdude.exe and says so;
# killed, it takes avrdude.exe with it. Uninstalling leaves only the user's setting.
#   xvfb-run tst_windows.sh DIST VERSION VIRTUALBOARD BOOTLOADER
# With KESTRELFLASH_WINDOWS_PICTURE set, it saves the window after the update there.
set -eEu
. "$(dirname "$0")/../testkit/wine.sh"
# A check that fails names itself; one that reads text shows what it saw.
trap 'echo "tst_windows.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
expect() { grep -Eqa -e "$2" <<<"$3" || { printf '%s: expected /%s/ in:\n%s\n' "$1" "$2" "$3" >&2; false; }; }
user=$WINEPREFIX/drive_c/users/$(id -un)
installed=$user/AppData/Local/Programs/Kestrelflash
entry="$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Kestrelflash.lnk"
portable="$WINEPREFIX/drive_c/Программы 程序/Kestrelflash"
firmware="$user/Documents/Прошивка 固件"
unzip -q "$1/Kestrelflash-$2-win64.zip" -d "${portable%/*}"
(cd "$1" && time wine64 msiexec /i Kestrelflash-$2-win64.msi /qn)
diff -r "$portable" "$installed"
expect "a GUI program" '^Subsystem.*\(Windows GUI\)' "$(x86_64-w64-mingw32-objdump -p "$installed/kestrelflash.exe")"
for program in kestrelflash.exe tools/avrdude.exe; do # ASLR, all of the address space, DEP
    expect "$program's hardening" '^3$' "$(x86_64-w64-mingw32-objdump -p "$installed/$program" \
        | grep -cE '^\s+(HIGH_ENTROPY_VA|DYNAMIC_BASE|NX_COMPAT)$')"
done
# The icon, and the manifest that asks for no administrator rights.
resources=$(wrestool -l "$installed/kestrelflash.exe")
expect "the icon" "name='IDI_ICON1'.*group_icon" "$resources"
expect "the manifest" "type=24" "$resources"
expect "the version" "FileVersion$2.*ProductVersion$2" \
    "$(wrestool -x --raw --type=16 "$installed/kestrelflash.exe" | tr -d '\0')"
# lnkinfo 20240423 doubles each backslash, 20181227 does not.
expect "the shortcut's working folder" \
    'Working directory.*(\\+)AppData\1Local\1Programs\1Kestrelflash\1$' "$(lnkinfo "$entry")"
# Wine keeps a per-user package's entry in Apps under HKLM, Windows under HKCU.
apps_entry() { wineserver -w; awk -v RS= 'index($1, "\\Uninstall\\") && /"DisplayName"="Kestrelflash"/' "$WINEPREFIX"/*.reg; }
expect "the Apps entry's version" "DisplayVersion\"=\"$2\"" "$(apps_entry)"
expect "the Apps entry's publisher" 'Publisher"="Orvanta"' "$(apps_entry)"

# Waits up to two minutes for the console to show the text (a pattern). Output
# that arrives drops the selection before it is copied, so the clipboard is
# emptied first: an earlier window's text must not pass for this one's.
console_shows() {
    for _ in $(seq 120); do
        xclip -selection clipboard -i /dev/null
        xdotool mousemove --window "$window" 100 200 click 1 key ctrl+a ctrl+c
        xclip -o -selection clipboard 2>/dev/null | grep -Eq "$1" && return || sleep 1
    done; expect "the console" "$1" "$(xclip -o -selection clipboard)"
}
# Picks COM12 by typing it in the port list (which may hold others, such as COM1),
# and presses Enter on Update; the window's last line says the image is written
# and verified. avrdude names the image's folder as it is written.
update() {
    xdotool key Tab Tab type COM12 && xdotool key Tab Return
    console_shows "^Done: 65,536 bytes of board\.hex are written to the board on COM12 and verified\.$"
    console_shows "input file C:/users/$(id -un)/Documents/Прошивка 固件/board.hex"
}
# True when the window is W x H pixels, give or take 3; shows its size.
size_is() { xdotool getwindowgeometry "$window" | sed -n 's/ *Geometry: //p' | tee /dev/stderr \
    | awk -Fx -v w="$1" -v h="$2" '{ exit ($1 - w)^2 > 9 || ($2 - h)^2 > 9 }'; }

mkdir -p "$firmware" && head -c 65536 /dev/urandom >"$firmware/board.bin"
objcopy -I binary -O ihex "$firmware/board.bin" "$firmware/board.hex"
wine_board "$3" "$4" "C:/${firmware#*/drive_c/}/board.hex"

# Started from another folder, the zip's program uses the tool beside itself.
wine_start "$tmp" "$portable/kestrelflash.exe"; update; wine_close
time wine_start "$tmp" start /wait /unix "$entry" # to a visible window
size_is 541 368
update
[ -z "${KESTRELFLASH_WINDOWS_PICTURE:-}" ] \
    || { xdotool click 1 sleep 1; import -window "$window" "$KESTRELFLASH_WINDOWS_PICTURE"; }
wine_close

# The pid of a running avrdude.exe, once there is one; and whether a process has
# exited within some seconds (init may reap it later).
running_tool() {
    for _ in $(seq 300); do
        for pid in $(wine_pids 'avrdude\.exe'); do
            [[ $(<"/proc/$pid/stat") != *") Z "* ]] && echo "$pid" && return
        done 2>/dev/null; sleep 0.2
    done; false
}
exits_within() { timeout "$2" bash -c 'while [ -e "/proc/$0" ] && [[ $(<"/proc/$0/stat") != *") Z "* ]]; do sleep 0.05; done' "$1" 2>/dev/null; }
# With the board stopped nobody answers on COM12: the window stops avrdude.exe
# and says so. Killed, the program takes the next avrdude.exe with it.
kill -STOP $board
wine_start "$tmp" "$portable/kestrelflash.exe"
xdotool key Tab Tab type COM12 && xdotool key Tab Return
console_shows "^No board answered on COM12, so avrdude was stopped\. "
xdotool key shift+Tab Return
tool=$(running_tool)
kill -KILL $(wine_pids 'kestrelflash\.exe')
exits_within "$tool" 2
kill -CONT $board && kill $board && wait $board; cmp -n 65536 "$firmware/board.bin" "$tmp/flash-COM12.bin"

# At 150 % the window is drawn 1.5 times as large.
wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f && wineserver -w
wine_start "$portable" kestrelflash.exe
size_is 812 552
wine_close

(cd "$1" && time wine64 msiexec /x Kestrelflash-$2-win64.msi /qn)
[ ! -e "$installed" ] && [ ! -e "$entry" ] && [ -z "$(apps_entry)" ] || false # names this line
wine64 reg query 'HKCU\Software\Orvanta\Kestrelflash' /v HexPath
