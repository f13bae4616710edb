#!/bin/bash
# Makes what a Windows user installs, both with the same files:
#   dist/Kestrelflash-<version>-win64.msi, the per-user installer, and
#   dist/Kestrelflash-<version>-win64.zip, the portable folder.
#   packaging/windows.sh
# Qt and avrdude come from the cache that packaging/windows-cache.sh builds
# (the first time takes a while: docs/windows-build.md); the program is built, staged with the
# libraries it loads, signed when a certificate is given, and packed.
. "$(dirname "$0")/common.sh"
use_commit_time
cross=x86_64-w64-mingw32
use_windows_cache

echo "--- Kestrelflash $version for Windows"
# The program names no folder of the machine that built it.
build=$root/build/windows
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/packaging/mingw-w64.cmake" \
      -DCMAKE_PREFIX_PATH="$qt" -DCMAKE_BUILD_TYPE=Release -DKESTRELFLASH_BUILD_TESTS=OFF \
      -DKESTRELFLASH_RELATIVE_SOURCE_PATHS=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"

stage=$build/zip/Kestrelflash
rm -rf "$build/zip"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/tools" "$stage/licenses"
cp "$build/app/kestrelflash.exe" "$stage/"
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
cp "$avrdude/bin/avrdude.exe" "$avrdude/etc/avrdude.conf" "$stage/tools/"

# Every DLL that a program or plugin loads, and the DLLs those load, from Qt
# or the MinGW runtime; what neither has is Windows' own.
add_loaded_dlls() {
    local dlls dll found
    dlls=$($cross-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p')
    for dll in $dlls; do
        [ -e "$stage/$dll" ] && continue
        found=$qt/bin/$dll
        [ -e "$found" ] || found=$($cross-g++-posix -print-file-name="$dll")
        [ -e "$found" ] || continue
        cp "$found" "$stage/"
        add_loaded_dlls "$stage/$dll"
    done
}
for program in "$stage"/*.exe "$stage"/*/*.dll "$stage"/tools/*.exe; do
    add_loaded_dlls "$program"
done
# strip stamps each header with SOURCE_DATE_EPOCH. With a certificate given,
# every program and library is signed before it is packed.
binaries=$(find "$stage" -name '*.exe' -o -name '*.dll' | LC_ALL=C sort)
mapfile -t binaries <<<"$binaries"
$cross-strip --strip-unneeded "${binaries[@]}"
"$root/packaging/sign.sh" "${binaries[@]}"

cp "$qt/licenses/LICENSE.LGPL3" "$stage/licenses/Qt-LGPL-3.txt"
cp "$qt/licenses/LICENSE.GPL3" "$stage/licenses/Qt-GPL-3.txt"
cp "$avrdude/licenses/COPYING" "$stage/licenses/avrdude-GPL-2.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/gcc-runtime-copyright.txt"
cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licenses/mingw-w64-copyright.txt"
# The versions as the cache's keys name them.
built_from() { awk -v package="$2" '$1 == package { print $2 }' "$1/KEY"; }
qtbase_version=$(built_from "$qt" qtbase-opensource-src)
qt_version=$(built_from "$qt" qtserialport)
avrdude_version=$(built_from "$avrdude" avrdude)
gcc_version=$(built_from "$qt" gcc-mingw-w64-x86-64-posix-runtime)
mingw_version=$(built_from "$qt" mingw-w64-x86-64-dev)
# The runtime's binary packages carry versions of their own, such as ...+25.2+b1.
source_of() { dpkg-query -W -f='${source:Package} ${source:Version}' "$1"; }
gcc_source=$(source_of gcc-mingw-w64-x86-64-posix-runtime)
mingw_source=$(source_of mingw-w64-x86-64-dev)
debian=$(. /etc/os-release && echo "$NAME $VERSION_ID")
sed 's/$/\r/' >"$stage/licenses/README.txt" <<TEXT
Kestrelflash $version by Orvanta, and the components it ships with.

Qt $qt_version (Core, Gui, Widgets, Serial Port, the Windows platform and style plugins)
  License: GNU LGPL version 3 (Qt-LGPL-3.txt, with Qt-GPL-3.txt, which it supplements).
  Built from: $debian source package qtbase-opensource-src $qtbase_version,
  with Debian's patches, and Qt's own release of qtserialport $qt_version
  (git tag v$qt_version-lts-lgpl).

avrdude ${avrdude_version%%+*} (tools\\avrdude.exe, tools\\avrdude.conf)
  License: GNU GPL version 2 (avrdude-GPL-2.txt).
  Built from: the upstream tarball of $debian source package avrdude $avrdude_version.

MinGW-w64 runtime: libgcc_s_seh-1.dll and libstdc++-6.dll (GCC, from $debian
binary package gcc-mingw-w64-x86-64-posix-runtime $gcc_version) and
libwinpthread-1.dll (from binary package mingw-w64-x86-64-dev $mingw_version)
  License: GCC's under the GPL version 3 with the GCC Runtime Library Exception
  (gcc-runtime-copyright.txt); winpthreads under its MIT-style license
  (mingw-w64-copyright.txt).
  Source: $debian source packages $gcc_source and $mingw_source.

Source code
  Kestrelflash-$version-source.tar.xz is published beside every release of
  Kestrelflash $version, with its checksum in SHA256SUMS. It holds the complete
  corresponding source of what is shipped here: Kestrelflash's own source, the
  source packages of Qt and avrdude named above as they were built, the Qt
  Serial Port release tarball, and the scripts that build and pack them.

  Written offer: for at least three years from the date of this release,
  Orvanta will give any third party, for a charge no more than its cost of
  physically performing source distribution, a complete machine-readable copy
  of the corresponding source code of the programs and libraries above that
  are licensed under the GNU GPL or LGPL, on a medium customarily used for
  software interchange. Write to Orvanta, support@orvanta.com, naming
  Kestrelflash $version.
TEXT

# Names in one order, times and modes that are the commit's and not this
# machine's, and no owner: the zip is the same wherever it is made.
chmod -R u=rwX,go=rX "$stage"
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
zip=$root/dist/Kestrelflash-$version-win64.zip
mkdir -p "$root/dist"
rm -f "$zip"
(cd "$build/zip" && find Kestrelflash | LC_ALL=C sort | TZ=UTC zip -q -X -9 -@ "$zip")
echo "wrote dist/${zip##*/} ($(du -k "$zip" | cut -f1) KiB)"
msi=$root/dist/Kestrelflash-$version-win64.msi
"$root/packaging/msi.sh" "$stage" "$version" "$msi"
"$root/packaging/sign.sh" "$msi"
echo "wrote dist/${msi##*/} ($(du -k "$msi" | cut -f1) KiB)"
