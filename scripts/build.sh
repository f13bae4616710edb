#!/bin/bash
# Installs what is missing and builds Kestrelflash into build/qt5 or build/qt6.
#   scripts/build.sh [5|6] [app|all]
#     app   the program alone
#     all   the program, its tests and benchmarks (the default)
set -eu
qt=${1:-5}
kit=${2:-all}
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" "$qt" "$kit"
tests=ON
[ "$kit" = app ] && tests=OFF
cmake -S "$root" -B "$root/build/qt$qt" -DKESTRELFLASH_QT_MAJOR="$qt" \
      -DKESTRELFLASH_BUILD_TESTS=$tests >/dev/null
cmake --build "$root/build/qt$qt" --parallel "$(nproc)"
