#!/bin/bash
# Does the Windows program slow a real update down under Wine? A 64 KiB image is
# flashed into a simulated ATmega2560 on COM12 (a) by the zip's tools\avrdude.exe
# started alone, with the window's own command, and (b) by pressing Update in the
# zip's kestrelflash.exe, interleaved, in one Wine session. Each avrdude.exe is
# timed from the moment its process appears to the moment it has exited. Prints
# both medians and the ratio b/a, with Windows' animations on (the default) and off.
#   xvfb-run -a bench/wine_bench.sh [RUNS] [PROGRAM_FOLDER]
# Needs scripts/setup.sh wine, the zip in dist/ (packaging/windows.sh) and the Qt 5
# build (scripts/build.sh).
# PROGRAM_FOLDER, a folder laid out as the zip's, is measured instead of the zip.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
version=$(sed -n 's/^project(Kestrelflash VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
bootloader=/usr/share/arduino/hardware/arduino/avr/bootloaders/stk500v2/stk500boot_v2_mega2560.hex
. "$root/testkit/wine.sh"
folder=$WINEPREFIX/drive_c/Kestrelflash
if [ -n "${2:-}" ]; then cp -r "$2" "$folder"; else
    unzip -q "$root/dist/Kestrelflash-$version-win64.zip" -d "${folder%/*}"; fi
head -c 65536 /dev/urandom >"$tmp/image.bin"
objcopy -I binary -O ihex "$tmp/image.bin" "$folder/image.hex"
# A board that avrdude.exe alone reaches too: its port's driver raises DTR when opened.
wine_board "$root/build/qt5/testkit/virtualboard" "$bootloader" C:/Kestrelflash/image.hex COM12 r
wineserver -p # one session from here
command=$("$root/build/qt5/bench/flash_bench" --windows-command COM12 C:/Kestrelflash/image.hex)
mapfile -t command <<<"$command"

# Seconds from the moment avrdude.exe appears to the moment it has exited. Wine
# hands a process that a Windows program starts over to init, and some inits
# (a container's) reap it a second or two late: a zombie counts as exited. The
# polling stays in bash builtins so that it takes no CPU from the update.
exec {nap}<> <(:)
time_tool() {
    local pid stat start
    until pid=$(wine_pids 'avrdude\.exe' | head -n 1) && [ -n "$pid" ]; do sleep 0.02; done
    start=$EPOCHREALTIME
    while read -r stat <"/proc/$pid/stat" && [[ $stat != *") Z "* ]]; do read -rt 0.02 -u $nap || :; done 2>/dev/null
    awk -v end="$EPOCHREALTIME" -v start="$start" 'BEGIN { printf "%.2f\n", end - start }'
}
alone() {
    (cd "$folder" && exec wine64 tools/avrdude.exe "${command[@]}" >"$tmp/said" 2>&1) &
    time_tool && wait $!
}
through_the_window() {
    wine_start "$folder" kestrelflash.exe
    xdotool key Tab Tab type COM12
    xdotool key Tab Return && time_tool
    xdotool mousemove --window "$window" 100 200 click 1 key ctrl+a ctrl+c && wine_close
    xclip -o -selection clipboard >"$tmp/said"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Qt's Windows style animates the default button while "Show animations in
# Windows" (client area animation) is on, as it is by default. Wine keeps that
# setting in bit 1 of the fifth byte of UserPreferencesMask.
for animations in 12:on 10:off; do
    wine64 reg add 'HKCU\Control Panel\Desktop' /v UserPreferencesMask /t REG_BINARY \
        /d "30000280${animations%:*}000000" /f >/dev/null
    for run in $(seq "$runs"); do
        for way in alone through_the_window; do
            seconds=$($way)
            grep -q "65536 bytes of flash verified" "$tmp/said" || seconds=failed
            echo "$seconds" >>"$tmp/$way.$animations"
            echo "animations ${animations#*:}, run $run: $way $seconds s"
        done
    done
    a=$(median <"$tmp/alone.$animations") b=$(median <"$tmp/through_the_window.$animations")
    echo "animations ${animations#*:}, median: avrdude.exe alone $a s, through the window $b s," \
        "ratio $(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", b / a }')"
done
