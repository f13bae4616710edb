#!/bin/bash
# The real program in a real X server, as a person starts it: the window appears
# at its initial size, Escape closes it and the program ends with exit code 0.
# Run under xvfb-run; the argument is the program.
set -u
program=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config
passed=0 failed=0

check() { # name, then the program's extra arguments
    local name=$1 window geometry code
    shift
    "$program" "$@" &
    local pid=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^AvrUpdateDialog$' | head -n 1)
    geometry=$(xdotool getwindowgeometry "$window" 2>/dev/null | awk '/Geometry:/ { print $2 }')
    xdotool windowfocus --sync "$window" key Escape 2>/dev/null
    timeout 20 tail --pid="$pid" -f /dev/null
    wait "$pid"
    code=$?
    if [ -n "$window" ] && [ "$geometry" = 541x368 ] && [ "$code" = 0 ]; then
        echo "PASS   : $name"
        passed=$((passed + 1))
    else
        echo "FAIL!  : $name (window '$window', geometry '$geometry', exit code $code)"
        kill "$pid" 2>/dev/null
        failed=$((failed + 1))
    fi
}

check "window opens at 541x368 and Escape ends the program"
check "toolkit style option is honoured" -style fusion
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
