#!/bin/bash
# Installs what is missing and builds Kestrelflash, its tests and benchmarks.
#   scripts/build.sh [5|6]    builds against Qt 5 (default) or Qt 6 into build/qt5 or build/qt6
set -eu
qt=${1:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" "$qt"
cmake -S "$root" -B "$root/build/qt$qt" -DKESTRELFLASH_QT_MAJOR="$qt" >/dev/null
cmake --build "$root/build/qt$qt" --parallel "$(nproc)"
