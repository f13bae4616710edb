#!/bin/bash
# Builds Kestrelflash and opens the updater window. The program looks for the
# programmer tool in tools/ beside itself; here that is a link to Debian's
# avrdude, so a board on a serial port can be flashed straight away.
#   scripts/run.sh [5|6] [toolkit options such as -style fusion]
set -eu
qt=5
case "${1:-}" in 5|6) qt=$1; shift ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
# Only what the program needs: no test kit, no tests, no benchmarks.
"$root/scripts/build.sh" "$qt" app
program="$root/build/qt$qt/app"
mkdir -p "$program/tools"
ln -sfn "$(command -v avrdude)" "$program/tools/avrdude"
exec "$program/kestrelflash" "$@"
