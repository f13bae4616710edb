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
# Each part has a recipe of its own in windows-cache/, and a key: the full
# Debian versions of all that is baked into it and a digest of each file of this
# tree that its build reads, its recipe among them. A part whose key changed is
# built again, and replaces the old one once it is complete; this script alone
# decides when, so a change to it rebuilds nothing. Tells
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
. "$root/packaging/windows-cache/toolchain.sh"
. "$root/packaging/windows-cache/qt.sh"
. "$root/packaging/windows-cache/avrdude.sh"
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
$(recipe packaging/windows-cache/qt.sh packaging/windows-cache/toolchain.sh)
$toolchain"
avrdude_key="avrdude $avrdude_debian_version
$(recipe packaging/windows-cache/avrdude.sh packaging/windows-cache/toolchain.sh \
         packaging/mingw-w64.cmake packaging/avrdude.exe.manifest)
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
both_current() { current "$qt" "$qt_key" >/dev/null 2>&1 && current "$avrdude" "$avrdude_key" >/dev/null 2>&1; }
# Puts a part that is complete in place of the old one.
replace() { echo "$2" >"$1.new/KEY" && rm -rf "$1" && mv "$1.new" "$1"; }

# flock changes a lock by letting it go and taking it anew, so another run may
# have rebuilt a part from a recipe of its own in between: the parts are checked
# each time the lock is held, and built again until they are this tree's.
hold -s
until both_current; do
    hold -x
    use_cross_toolchain
    if ! current "$qt" "$qt_key"; then build_qt; replace "$qt" "$qt_key"; fi
    if ! current "$avrdude" "$avrdude_key"; then build_avrdude; replace "$avrdude" "$avrdude_key"; fi
    hold -s
done
tell_folders
