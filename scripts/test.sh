#!/bin/bash
# Installs what is missing, builds Kestrelflash and runs its tests.
#   scripts/test.sh            everything: Qt 5, Qt 6, then the releases and Wine tests;
#                              fails if any fails
#   scripts/test.sh 5|6        the Linux tests against one toolkit (a minute or two)
#   scripts/test.sh windows    builds the Windows cache (packaging/windows-cache.sh;
#                              the first time takes a while: docs/windows-build.md)
#                              and the Qt 5 tree, makes a signed release twice and
#                              compares, and runs its MSI and zip under Wine
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for target in ${1:-5 6 windows}; do
    echo "=== $target"
    case "$target" in
        5|6) "$root/scripts/build.sh" "$target" all \
                 && ctest --test-dir "$root/build/qt$target" --no-tests=error --output-on-failure -LE windows ;;
        # The Wine test uses the simulated board of the Qt 5 build.
        windows) "$root/packaging/windows-cache.sh" >/dev/null && "$root/scripts/setup.sh" wine \
                     && "$root/scripts/build.sh" 5 all \
                     && ctest --test-dir "$root/build/qt5" --no-tests=error --output-on-failure -L windows ;;
        *) echo "usage: $0 [5|6|windows]" >&2; false ;;
    esac || status=1
done
exit $status
