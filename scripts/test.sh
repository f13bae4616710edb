#!/bin/bash
# Installs what is missing, builds Kestrelflash and runs every test.
#   scripts/test.sh          against Qt 5 and then Qt 6; fails if either fails
#   scripts/test.sh 5|6      against one of them
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for qt in ${1:-5 6}; do
    echo "=== Qt $qt"
    if "$root/scripts/build.sh" "$qt" all; then
        ctest --test-dir "$root/build/qt$qt" --output-on-failure || status=1
    else
        status=1
    fi
done
exit $status
