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
