#!/bin/bash
# Builds what the Windows program is made with into a cache outside the
# repository: Qt and avrdude cross-built from source for x86_64 Windows (how
# long: docs/windows-build.md), each with the source packages it was built from. Qt's base and
# avrdude come from this Debian release's source packages, Qt Serial Port from
# the matching release tarball in thirdparty/, which the package archive does
# not serve.
#   packaging/windows-cache.sh           builds what is missing or out of date
#   packaging/windows-cache.sh --check   builds nothing, and says whether the cache is current;
#                                        it may still install the kit and add a deb-src entry
# Each part has a key: the full Debian versions of all that is baked into it and
# a digest of each file of this tree that its build reads. A part whose key
# changed is built again, and replaces the old one once it is complete. Tells
# what it does on standard error; on standard output, for the packing script,
# the parts' folders as shell assignments. What reads the cache holds a shared
# lock on it (use_windows_cache in common.sh), and a build waits for them all.
. "$(dirname "$0")/common.sh"
exec 3>&1 1>&2
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kestrelflash
qt=$cache/qt-mingw64
avrdude=$cache/avrdude-mingw64
cross=x86_64-w64-mingw32
jobs=$(nproc)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

"$root/scripts/setup.sh" windows

# Runs a long step with its output in a log, and says what it builds and where the
# log is. A step that fails shows the log's end and leaves it; the logs of a part
# that is built go with its work folder.
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

# The full version of the source package apt-get source would fetch, such as
# 5.15.8+dfsg-11+deb12u3 for qtbase-opensource-src.
source_version() {
    local dsc
    dsc=$(apt-get source --print-uris -qq "$1" | awk '$2 ~ /\.dsc$/ { print $2 }')
    [ -n "$dsc" ] || { echo "the package archive has no source package $1" >&2; exit 1; }
    dsc=${dsc%.dsc}
    echo "${dsc#"$1"_}"
}
# 5.15.8 for 5.15.8+dfsg-11+deb12u3.
upstream() { local version=${1#*:}; echo "${version%%[-+~]*}"; }

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
    echo "$actual"
}

enable_source_packages
qtbase_version=$(source_version qtbase-opensource-src)
avrdude_debian_version=$(source_version avrdude)
qt_version=$(upstream "$qtbase_version")
avrdude_version=$(upstream "$avrdude_debian_version")
serialport_tarball=$root/thirdparty/qtserialport-$qt_version.tar.xz
serialport_sha256=$(check_thirdparty "${serialport_tarball##*/}")
toolchain=$(for package in g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix-runtime \
                           mingw-w64-x86-64-dev binutils-mingw-w64-x86-64; do
                echo "$package $(dpkg-query -W -f='${Version}' "$package")"; done)
# The files of this tree that a part's build reads, each with its digest: a
# change to any of them builds the part again.
recipe() {
    local file
    for file in "$@"; do
        echo "$file sha256 $(sha256sum <"$root/$file" | cut -d' ' -f1)"
    done
}
qt_key="qtbase-opensource-src $qtbase_version
qtserialport $qt_version sha256 $serialport_sha256
$(recipe packaging/windows-cache.sh)
$toolchain"
avrdude_key="avrdude $avrdude_debian_version
$(recipe packaging/windows-cache.sh packaging/mingw-w64.cmake packaging/avrdude.exe.manifest)
$toolchain"

# True when the part in the folder was built from what its key names; says why not.
current() {
    [ -e "$1/KEY" ] || { echo "${1##*/}: not built yet"; return 1; }
    diff --label "${1##*/} was built from" --label "it is to be built from" -u "$1/KEY" - <<<"$2" \
        >&2 || { echo "${1##*/} is out of date"; return 1; }
}
if [ "${1:-}" = --check ]; then
    status=0
    current "$qt" "$qt_key" || status=1
    current "$avrdude" "$avrdude_key" || status=1
    exit $status
fi

# Readers share the lock; a build holds it alone, so it neither races a second
# build nor replaces a part while another run reads it. A reader passes its own
# descriptor of the lock, held until it ends; its lock is raised for a build and
# lowered again once the parts are current.
mkdir -p "$cache"
lock=${KESTRELFLASH_CACHE_LOCK:-9}
[[ $lock =~ ^[0-9]+$ ]] || { echo "KESTRELFLASH_CACHE_LOCK is not a file descriptor: $lock"; exit 2; }
[ -n "${KESTRELFLASH_CACHE_LOCK:-}" ] || exec 9>>"$cache/.lock"
hold() {
    flock -n "$1" "$lock" && return
    echo "--- waiting for another run's use of the Windows cache in $cache"
    flock "$1" "$lock"
}
tell_folders() { printf 'qt=%q avrdude=%q\n' "$qt" "$avrdude" >&3; }
hold -s
if current "$qt" "$qt_key" >/dev/null 2>&1 && current "$avrdude" "$avrdude_key" >/dev/null 2>&1; then
    tell_folders
    exit 0
fi
hold -x

# The caches are built the same way on every machine: the same time stamps
# and no path of the machine's own in what is built. Qt and avrdude are
# configured for fixed prefixes and installed into the cache.
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
export PATH=$cache/bin:$PATH SOURCE_DATE_EPOCH=$cache_epoch QT_RCC_SOURCE_DATE_OVERRIDE=$cache_epoch \
    TZ=UTC LC_ALL=C

# Puts a part that is complete in place of the old one.
replace() { echo "$2" >"$1.new/KEY" && rm -rf "$1" && mv "$1.new" "$1"; }

build_serialport() {
    "$qt.new/bin/syncqt.pl" -version "$qt_version" && "$qt.new/bin/qmake" \
        && make -j"$jobs" && make install
}

build_qt() {
    local work=$cache/qt-build
    rm -rf "$qt.new" "$work"
    mkdir -p "$work" "$qt.new/source" && cd "$work"
    step "Qt $qtbase_version source" "$work/source.log" apt-get source qtbase-opensource-src
    # The .dsc and the files it lists, as the licence asks, kept with what they built.
    cp qtbase-opensource-src_* "$qt.new/source/"
    mkdir build && cd build
    step "Qt $qt_version configure for Windows" "$work/configure.log" \
        ../qtbase-opensource-src-*/configure -prefix "/usr/local/Qt-$qt_version" -extprefix "$qt.new" \
        -opensource -confirm-license \
        -xplatform win32-g++ -device-option CROSS_COMPILE=$cross- -release -shared \
        -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -no-freetype -qt-zlib \
        -qt-pcre -qt-libpng -qt-libjpeg -qt-harfbuzz -no-openssl -no-vulkan -no-direct2d \
        -no-feature-network -no-feature-sql -no-feature-concurrent -no-feature-xml \
        -no-feature-printer -no-feature-tabletevent
    step "Qt $qt_version Core, Gui, Widgets and the Windows plugins (the long step)" \
        "$work/make.log" make -j"$jobs"
    step "Qt $qt_version install" "$work/install.log" make install
    mkdir -p "$qt.new/licenses"
    cp ../qtbase-opensource-src-*/LICENSE.LGPL3 ../qtbase-opensource-src-*/LICENSE.GPL3 "$qt.new/licenses/"

    cd "$work"
    tar -xf "$serialport_tarball"
    cd "qtserialport-$qt_version"
    step "Qt Serial Port $qt_version" "$work/serialport.log" build_serialport
    cd "$cache" && rm -rf "$work"
    replace "$qt" "$qt_key"
}

# In the work folder of build_avrdude, whose prefix it installs for.
build_avrdude_here() {
    cmake -S avrdude*-*/ -B build -DCMAKE_TOOLCHAIN_FILE="$root/packaging/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_C_FLAGS="$(printf %q "$path_map")" -DCMAKE_EXE_LINKER_FLAGS="$(printf %q "$work/manifest.o")" \
        && cmake --build build --parallel "$jobs" && DESTDIR="$work/staged" cmake --install build
}

# avrdude is an ANSI program: its manifest makes UTF-8 its code page, so that a
# file name or an install folder in any script reaches it whole.
build_avrdude() {
    local work=$cache/avrdude-build prefix=/usr/local/avrdude-$avrdude_version
    rm -rf "$avrdude.new" "$work"
    mkdir -p "$work" "$avrdude.new/source" && cd "$work"
    # The build takes the upstream tarball alone; the Debian part is kept too
    # when the archive serves it.
    apt-get source --download-only avrdude >"$work/source.log" 2>&1 || true
    ls avrdude_*.orig.tar.* >/dev/null || { cat "$work/source.log"; exit 1; }
    cp avrdude_* "$avrdude.new/source/"
    tar -xf avrdude_*.orig.tar.*
    cp "$root/packaging/avrdude.exe.manifest" manifest.xml
    echo '1 24 "manifest.xml"' >manifest.rc
    $cross-windres manifest.rc -O coff -o manifest.o
    step "avrdude $avrdude_debian_version for Windows, serial programmers only" "$work/build.log" \
        build_avrdude_here
    cp -r "$work/staged$prefix/." "$avrdude.new/"
    mkdir -p "$avrdude.new/licenses"
    cp avrdude*-*/COPYING "$avrdude.new/licenses/"
    cd "$cache" && rm -rf "$work"
    replace "$avrdude" "$avrdude_key"
}

current "$qt" "$qt_key" || build_qt
current "$avrdude" "$avrdude_key" || build_avrdude
hold -s
tell_folders
