# What the Wine test and the Wine benchmark share: a private Wine prefix, home
# and X display's program, simulated ATmega2560 boards on COM ports, the image
# the program remembers, and the program's window. Sourced by bash; sets tmp,
# WINEPREFIX, board, program and window, and cleans up when the script ends.
#   . testkit/wine.sh
#   wine_board VIRTUALBOARD BOOTLOADER HEX_PATH_AS_WINDOWS_NAMES_IT [PORT DRIVER]
#   wine_start FOLDER WINE64_ARGUMENTS...   ...   wine_close
tmp=$(mktemp -d)
# A board stopped on purpose is woken, so that it can end; what the clean-up does
# is no check of the script that sourced this.
trap 'set +e; trap - ERR; wineserver -k; kill -CONT ${boards:-} 2>/dev/null; kill ${boards:-} 2>/dev/null; rm -rf "$tmp"' EXIT
# An English Windows, whose ANSI code page (1252) has no Cyrillic and no CJK letters.
export LC_ALL=C.UTF-8 PATH=/usr/lib/wine:$PATH HOME=$tmp WINEPREFIX=$tmp/w WINEDEBUG=-all \
    WINEDLLOVERRIDES=mscoree,mshtml=d
wine64 wineboot -i 2>/dev/null

# The pids of this prefix's processes whose command line matches the pattern:
# another run's Wine on the same machine is not this one's to wait for or kill.
wine_pids() {
    for pid in $(pgrep -f "$1"); do
        grep -qxzF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && echo "$pid"
    done; return 0
}

# Starts a board on PORT (COM12), which writes its flash to $tmp/flash-PORT.bin
# when it is ended, and whose port's driver treats DTR and RTS as DRIVER does (u,
# Windows' usbser.sys: see testkit/modemlines.cpp, which every Wine process from
# now on is given); maps the port, and remembers the image as the program's
# HexPath. board is the first board's pid.
wine_board() {
    local port=${4:-COM12} out=$tmp/board-${4:-COM12}
    "$1" "$2" "$tmp/flash-$port.bin" "${5:-u}" >"$out" &
    board=${board:-$!} boards="${boards:-} $!"
    timeout 10 sh -c 'until grep -q "^port " "$0"; do sleep 0.1; done' "$out"
    export LD_PRELOAD=$(cd "${1%/*}" && pwd)/libmodemlines.so
    wine64 reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$(sed -n 's/^port //p' "$out")" /f >/dev/null
    wine64 reg add 'HKCU\Software\Orvanta\Kestrelflash' /v HexPath /d "$3" /f >/dev/null
    wineserver -w # Wine maps its ports when a session starts
}

# Starts the program from a folder, waits for its window, and clicks in its path
# field to give it the keyboard (there is no window manager).
wine_start() {
    (cd "$1" && shift && exec wine64 "$@" 2>/dev/null) &
    program=$! launcher=$2
    # xdotool dies when a window it inspects vanishes meanwhile, as Wine's start-up
    # windows do, so it looks again; a loaded machine may take two minutes.
    window=$(timeout 120 sh -c 'until xdotool search --onlyvisible --name "^AvrUpdateDialog$"; do
        sleep 0.1; done' 2>/dev/null | head -n 1)
    xdotool mousemove --window "${window:?no window}" 100 36 click 1
}

# Closes the window with Escape, pressed again while a run still ends (avrdude
# has printed its last line, and has yet to exit); true when the program ended
# with exit code 0. Wine 10's start returns at once, with status 4, for a shortcut.
wine_close() {
    until [ -z "$(wine_pids 'kestrelflash\.exe')" ]; do xdotool key Escape sleep 0.5; done
    wait $program || [ $? = 4 -a "$launcher" = start ]
}
