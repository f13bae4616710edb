#!/bin/bash
# Builds what the Windows program is made with, once, into a cache outside the
# repository: Qt and avrdude cross-built from source for x86_64 Windows (about
# half an hour); later runs take seconds. Qt's base and avrdude come from this
# Debian release's source packages, Qt Serial Port from the matching release
# tarball in thirdparty/, which the package archive does not serve.
#   packaging/windows-cache.sh
# Says what it builds on standard error; on standard output, for the packing
# script to read, the folders and versions as shell assignments:
#   qt=... avrdude=... qt_version=... avrdude_version=...
set -eu
exec 3>&1 1>&2
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kestrelflash
cross=x86_64-w64-mingw32
toolchain=$root/packaging/mingw-w64.cmake
jobs=$(nproc)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

"$root/scripts/setup.sh" windows

# Runs a long step with its output in a log, and says what it builds and where the log is.
step() {
    local what=$1 log=$2
    shift 2
    echo "--- $what (log: $log)"
    if ! "$@" >"$log" 2>&1; then
        tail -n 30 "$log"
        echo "--- failed: $what (log: $log)" >&2
        exit 1
    fi
}

# apt-get source needs source entries for the archives the binary packages come from.
enable_source_packages() {
    apt-cache showsrc qtbase-opensource-src 2>/dev/null | grep -q '^Package:' && return
    local list=/etc/apt/sources.list.d/kestrelflash-deb-src
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            | $sudo tee "$list.sources" >/dev/null
    else
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee "$list.list" >/dev/null
    fi
    $sudo apt-get update -q >/dev/null
}

# The upstream version of the source package apt-get source would fetch:
# 5.15.8 for qtbase-opensource-src 5.15.8+dfsg-11+deb12u3.
upstream_version() {
    local dsc
    dsc=$(apt-get source --print-uris -qq "$1" | awk '$2 ~ /\.dsc$/ { print $2 }')
    dsc=${dsc#"$1"_}
    dsc=${dsc#*:}
    echo "${dsc%%[-+~]*}"
}

# Stops at once, before anything is built, when a file in thirdparty/ is not
# the one its checksum list names.
check_thirdparty() {
    local file=$1 expected actual
    [ -f "$root/thirdparty/$file" ] || {
        echo "thirdparty/$file is missing: Qt $qt_version has no Serial Port tarball here" \
             "(see thirdparty/README.md)" >&2
        exit 1
    }
    expected=$(awk -v f="$file" '$2 == f { print $1 }' "$root/thirdparty/SHA256SUMS")
    actual=$(sha256sum <"$root/thirdparty/$file" | cut -d' ' -f1)
    [ -n "$expected" ] && [ "$expected" = "$actual" ] || {
        echo "thirdparty/$file is damaged or not the release it should be:" \
             "expected sha256 ${expected:-(none listed)}, actual $actual" >&2
        exit 1
    }
}

enable_source_packages
qt_version=$(upstream_version qtbase-opensource-src)
avrdude_version=$(upstream_version avrdude)
serialport_tarball=$root/thirdparty/qtserialport-$qt_version.tar.xz
check_thirdparty "${serialport_tarball##*/}"
# Named by version and recipe: change a recipe below, raise its number.
qt=$cache/qt-$qt_version-mingw64-2
avrdude=$cache/avrdude-$avrdude_version-mingw64-2
# The caches are built the same way on every machine: the same time stamps
# and no path of the machine's own in what is built. Qt's libraries are
# configured for a fixed prefix and installed into the cache.
cache_epoch=1764547200
path_map=-ffile-prefix-map=$cache=/kestrelflash-cache

# The cross compilers as Qt's mkspec names them, with the POSIX thread model.
mkdir -p "$cache/bin"
for tool in gcc g++; do
    rm -f "$cache/bin/$cross-$tool"
    printf '#!/bin/sh\nexec %q %q "$@"\n' "$(command -v $cross-$tool-posix)" "$path_map" \
        >"$cache/bin/$cross-$tool"
    chmod +x "$cache/bin/$cross-$tool"
done
export PATH=$cache/bin:$PATH

build_qt() {
    local work=$cache/qt-build
    local -x SOURCE_DATE_EPOCH=$cache_epoch QT_RCC_SOURCE_DATE_OVERRIDE=$cache_epoch TZ=UTC LC_ALL=C
    rm -rf "$qt" "$work"
    mkdir -p "$work" && cd "$work"
    step "Qt $qt_version source" "$work/source.log" apt-get source qtbase-opensource-src
    mkdir build && cd build
    step "Qt $qt_version configure for Windows" "$work/configure.log" \
        ../qtbase-opensource-src-*/configure -prefix "/usr/local/Qt-$qt_version" -extprefix "$qt" \
        -opensource -confirm-license \
        -xplatform win32-g++ -device-option CROSS_COMPILE=$cross- -release -shared \
        -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -no-freetype -qt-zlib \
        -qt-pcre -qt-libpng -qt-libjpeg -qt-harfbuzz -no-openssl -no-vulkan -no-direct2d \
        -no-feature-network -no-feature-sql -no-feature-concurrent -no-feature-xml \
        -no-feature-printer -no-feature-tabletevent
    step "Qt $qt_version Core, Gui, Widgets and the Windows plugins (about 25 minutes)" \
        "$work/make.log" make -j"$jobs"
    step "Qt $qt_version install into $qt" "$work/install.log" make install
    mkdir -p "$qt/licenses"
    cp ../qtbase-opensource-src-*/LICENSE.LGPL3 ../qtbase-opensource-src-*/LICENSE.GPL3 "$qt/licenses/"

    cd "$work"
    tar -xf "$serialport_tarball"
    cd qtserialport-$qt_version
    step "Qt Serial Port $qt_version forwarding headers" "$work/syncqt.log" \
        "$qt/bin/syncqt.pl" -version $qt_version
    step "Qt Serial Port $qt_version build" "$work/serialport.log" \
        sh -c "'$qt/bin/qmake' && make -j$jobs && make install"
    cd "$cache" && rm -rf "$work"
    touch "$qt/.complete"
}

# avrdude is an ANSI program: its manifest makes UTF-8 its code page, so that a
# file name or an install folder in any script reaches it whole.
build_avrdude() {
    local work=$cache/avrdude-build
    local -x SOURCE_DATE_EPOCH=$cache_epoch QT_RCC_SOURCE_DATE_OVERRIDE=$cache_epoch TZ=UTC LC_ALL=C
    rm -rf "$avrdude" "$work"
    mkdir -p "$work" && cd "$work"
    # The archive lacks the Debian part of this source package; the upstream tarball is all it takes.
    apt-get source --download-only avrdude >"$work/source.log" 2>&1 || true
    tar -xf avrdude_$avrdude_version*.orig.tar.*
    cp "$root/packaging/avrdude.exe.manifest" manifest.xml
    echo '1 24 "manifest.xml"' >manifest.rc
    $cross-windres manifest.rc -O coff -o manifest.o
    step "avrdude $avrdude_version for Windows, serial programmers only" "$work/build.log" \
        sh -c "cmake -S avrdude*-*/ -B build -DCMAKE_TOOLCHAIN_FILE='$toolchain' \
               -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX='$avrdude' \
               -DCMAKE_C_FLAGS='$path_map' -DCMAKE_EXE_LINKER_FLAGS='$work/manifest.o' \
               && cmake --build build --parallel $jobs && cmake --install build"
    mkdir -p "$avrdude/licenses"
    cp avrdude*-*/COPYING "$avrdude/licenses/"
    cd "$cache" && rm -rf "$work"
    touch "$avrdude/.complete"
}

[ -e "$qt/.complete" ] || build_qt
[ -e "$avrdude/.complete" ] || build_avrdude
printf 'qt=%q avrdude=%q qt_version=%q avrdude_version=%q\n' \
    "$qt" "$avrdude" "$qt_version" "$avrdude_version" >&3
