#!/bin/bash
# Makes the Debian package dist/kestrelflash_<version>_amd64.deb from a Qt 5
# build of the program alone, hardened with Debian's flags, and checks it with lintian
# and its metainfo with appstreamcli.
#   packaging/deb.sh
. "$(dirname "$0")/common.sh"
use_commit_time
"$root/scripts/setup.sh" 5 app
"$root/scripts/setup.sh" deb
# Debian's hardening: PIE, stack protector, fortified sources, format checks,
# read-only relocations bound at start. The build names source files relative
# to the tree, so the same commit makes the same package in any folder; Debian's
# own mapping of the working folder is left out, as it would split at a blank.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all reproducible=-fixfilepath,-fixdebugpath"
build=$root/build/deb
flags() { dpkg-buildflags --get "$1"; }
cmake -S "$root" -B "$build" -DKESTRELFLASH_QT_MAJOR=5 -DKESTRELFLASH_BUILD_TESTS=OFF \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DKESTRELFLASH_RELATIVE_SOURCE_PATHS=ON -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "$build" --parallel "$(nproc)"
package=$build/package
rm -rf "$package"
cpack --config "$build/CPackConfig.cmake" -B "$package"
deb=$(cd "$package" && echo kestrelflash_*_amd64.deb)
mkdir -p "$root/dist"
cp "$package/$deb" "$root/dist/"
lintian "$root/dist/$deb"
appstreamcli validate --no-net "$build/app/com.orvanta.Kestrelflash.metainfo.xml"
echo "wrote dist/$deb ($(du -k "$root/dist/$deb" | cut -f1) KiB)"
