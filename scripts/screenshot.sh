#!/bin/bash
# Remakes docs/kestrelflash.png: the window after a real update of the simulated
# board, in a private X server. Installs and builds what is missing first.
#   scripts/screenshot.sh [5|6]
set -eu
qt=${1:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" "$qt" all
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/build/qt$qt/docs/screenshot" "$root/docs/kestrelflash.png"
echo "wrote docs/kestrelflash.png"
