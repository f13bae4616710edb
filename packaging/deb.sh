#!/bin/bash
# Makes the Debian package dist/kestrelflash_<version>_amd64.deb from a Qt 5
# build of the program alone, and checks it with lintian.
#   scripts/deb.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" deb
"$root/scripts/build.sh" 5 app
package=$root/build/qt5/package
rm -rf "$package"
cpack --config "$root/build/qt5/CPackConfig.cmake" -B "$package"
deb=$(cd "$package" && echo kestrelflash_*_amd64.deb)
mkdir -p "$root/dist"
cp "$package/$deb" "$root/dist/"
lintian "$root/dist/$deb"
echo "wrote dist/$deb ($(du -k "$root/dist/$deb" | cut -f1) KiB)"
