#!/bin/bash
# Installs what is missing, builds Kestrelflash and runs every test.
#   scripts/test.sh [5|6]    against Qt 5 (default) or Qt 6
set -eu
qt=${1:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$qt"
ctest --test-dir "$root/build/qt$qt" --output-on-failure
