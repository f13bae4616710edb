# What every packaging script starts with: a failure anywhere, in a pipeline
# too, stops it; the tree and its version. Sourced.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
version=$(sed -n 's/^project(Kestrelflash VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

# Every time stamp in what is made is the commit's, so that the same commit makes
# the same files. A value already given is kept (release.sh unsets it first), as
# a builder without git gives it; outside a git checkout, without one, the script stops.
use_commit_time() {
    if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
        SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) || {
            echo "$root has no commit to take the files' time from (SOURCE_DATE_EPOCH)" >&2
            exit 1
        }
    fi
    export SOURCE_DATE_EPOCH
}

# Sets qt and avrdude to the Windows cache's folders, built first when missing
# or out of date, and holds a shared lock on the cache until this script ends:
# a rebuild by another run waits rather than replace a folder this one reads.
# A script started by one that holds it shares its hold.
use_windows_cache() {
    local kit cache=${XDG_CACHE_HOME:-$HOME/.cache}/kestrelflash
    if [ -z "${KESTRELFLASH_CACHE_LOCK:-}" ]; then
        mkdir -p "$cache"
        exec 8>>"$cache/.lock"
        export KESTRELFLASH_CACHE_LOCK=8
    fi
    kit=$("$root/packaging/windows-cache.sh")
    eval "$kit"
}
