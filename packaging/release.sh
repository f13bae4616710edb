#!/bin/bash
# Makes a release into dist/: the Windows zip and MSI, the Debian package for the
# Debian this runs on, and SHA256SUMS, the same bytes from the same commit.
#   packaging/release.sh
# With KESTRELFLASH_SIGN_PKCS12 and KESTRELFLASH_SIGN_PASSWORD_FILE the Windows
# files are signed (packaging/sign.sh); with KESTRELFLASH_GPG_KEY, SHA256SUMS.asc
# is its detached OpenPGP signature.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
commit=$(git rev-parse HEAD)
dirty=$(git status --porcelain --untracked-files=no)
rm -rf dist
packaging/windows.sh
packaging/deb.sh
cd dist
files=(*)
sha256sum -- "${files[@]}" | LC_ALL=C sort -k 2 >SHA256SUMS
if [ -n "${KESTRELFLASH_GPG_KEY:-}" ]; then
    "$root/scripts/setup.sh" sign
    gpg --batch --yes --armor --local-user "$KESTRELFLASH_GPG_KEY" --detach-sign SHA256SUMS
fi
cat SHA256SUMS
if [ -n "$dirty" ]; then
    echo "NOT A RELEASE: built from $commit with uncommitted changes:" >&2
    echo "$dirty" >&2
else
    echo "release of $commit in dist/"
fi
