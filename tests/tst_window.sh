#!/bin/bash
# The real program in a real X server: its window appears, and Escape ends the
# program with exit code 0. Run under xvfb-run; the argument is the program.
export XDG_CONFIG_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
"$1" &
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^AvrUpdateDialog$' | head -n 1)
[ -n "$window" ] && xdotool windowfocus --sync "$window" key Escape
timeout 20 tail --pid=$! -f /dev/null || kill $!
wait $!; code=$?
echo "window '$window', exit code $code"
[ -n "$window" ] && [ $code = 0 ]
