#!/bin/bash
# Makes a release into dist/: the Windows zip and MSI, the Debian package for the
# Debian this runs on, the source the licences ask for, and SHA256SUMS, the same
# bytes from the same commit.
#   packaging/release.sh
# With a code-signing key (KESTRELFLASH_SIGN_*, see packaging/sign.sh) the Windows
# files are signed; with KESTRELFLASH_GPG_KEY, SHA256SUMS.asc is its detached
# OpenPGP signature. Either makes a release only of a clean tree whose commit
# is tagged v<version>; without them any tree builds, unsigned.
. "$(dirname "$0")/common.sh"
unset SOURCE_DATE_EPOCH # a release's time is its commit's, whatever was set
use_commit_time
commit=$(git -C "$root" rev-parse HEAD)
dist=$root/dist
refuse() { printf 'REFUSED, nothing was built: %s\n' "$*" >&2; exit 1; }

# What the tree holds that the commit does not, outside build/ and dist/.
status=$(git -C "$root" status --porcelain --untracked-files=all --ignored)
changes=$(grep -vE '^.. (build|dist)/' <<<"$status" || true)
keys=$(compgen -e | grep -E '^KESTRELFLASH_(SIGN_|GPG_KEY$)' || true)
if [ -n "$keys" ]; then
    "$root/packaging/sign.sh" check || refuse "the signing variables above are wrong"
    [ -z "$changes" ] || refuse "signing keys are given, and the tree is not the commit's:
$changes"
    tags=$(git -C "$root" tag --points-at HEAD)
    grep -qx "v$version" <<<"$tags" \
        || refuse "signing keys are given, and HEAD ($commit) has no tag v$version, the version in CMakeLists.txt"
    if [ -n "${KESTRELFLASH_GPG_KEY:-}" ]; then
        "$root/scripts/setup.sh" sign
        gpg --batch --list-secret-keys "$KESTRELFLASH_GPG_KEY" >/dev/null 2>&1 \
            || refuse "no OpenPGP secret key $KESTRELFLASH_GPG_KEY"
    fi
fi

# The source of everything shipped: the project's own at the commit, and the
# source packages, as they were fetched, that the Windows cache was built from.
source_bundle() {
    local name=Kestrelflash-$version-source work=$root/build/source
    rm -rf "$work" && mkdir -p "$work/$name/debian-sources"
    git -C "$root" archive --prefix="$name/kestrelflash/" HEAD | tar -x -C "$work"
    cp "$qt"/source/* "$avrdude"/source/* "$work/$name/debian-sources/"
    cat "$qt/KEY" "$avrdude/KEY" | LC_ALL=C sort -u >"$work/$name/debian-sources/BUILT-FROM"
    cat >"$work/$name/README.txt" <<TEXT
Kestrelflash $version: the complete source of its release files.

kestrelflash/     Kestrelflash's own source at commit $commit, with the Qt Serial Port
                  release tarball (thirdparty/), avrdude's Windows manifest, and the
                  scripts that build it all: packaging/windows-cache.sh builds Qt and
                  avrdude for Windows from debian-sources/, packaging/windows.sh the
                  program, the zip and the MSI, packaging/deb.sh the Debian package.
debian-sources/   the Debian source packages the Windows files were built from: each .dsc
                  with the files it lists, as apt-get source fetched them (qtbase with
                  Debian's patches; avrdude from its upstream tarball), and BUILT-FROM,
                  the versions of these and of the MinGW-w64 compiler used.

Outside a git checkout the scripts need the commit's time, which every file
made carries: SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH packaging/windows.sh
TEXT
    chmod -R u=rwX,go=rX "$work"
    tar -C "$work" --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
        --format=gnu -c "$name" | xz -T1 -6 >"$dist/$name.tar.xz"
    echo "wrote dist/$name.tar.xz ($(du -k "$dist/$name.tar.xz" | cut -f1) KiB)"
}

# One hold on the Windows cache for the whole release: the zip, the MSI and the
# source bundle are made from the same parts.
use_windows_cache
rm -rf "$dist"
"$root/packaging/windows.sh"
"$root/packaging/deb.sh"
source_bundle
made=(Kestrelflash-$version-win64.msi Kestrelflash-$version-win64.zip
      "kestrelflash_${version}_$(dpkg --print-architecture).deb" Kestrelflash-$version-source.tar.xz)
[ "$(ls "$dist")" = "$(printf '%s\n' "${made[@]}" | LC_ALL=C sort)" ] \
    || { echo "dist/ should hold ${made[*]}, and holds:" $(ls "$dist") >&2; exit 1; }
(cd "$dist" && sha256sum -- "${made[@]}" | LC_ALL=C sort -k 2 >SHA256SUMS)

# Every program and library in the zip, and the MSI, carry a signature that verifies.
authenticode=$("$root/packaging/sign.sh" summary)
if [[ $authenticode != UNSIGNED* ]]; then
    rm -rf "$root/build/verify" && unzip -q "$dist/Kestrelflash-$version-win64.zip" -d "$root/build/verify"
    files=$(find "$root/build/verify" -name '*.exe' -o -name '*.dll')
    mapfile -t files <<<"$files"
    "$root/packaging/sign.sh" verify "${files[@]}" "$dist/Kestrelflash-$version-win64.msi"
fi
openpgp="SHA256SUMS UNSIGNED"
if [ -n "${KESTRELFLASH_GPG_KEY:-}" ]; then
    gpg --batch --yes --armor --local-user "$KESTRELFLASH_GPG_KEY" --detach-sign "$dist/SHA256SUMS"
    gpg --batch --verify "$dist/SHA256SUMS.asc" "$dist/SHA256SUMS" 2>/dev/null
    fingerprint=$(gpg --batch --with-colons --fingerprint "$KESTRELFLASH_GPG_KEY" \
        | awk -F: '$1 == "fpr" && !found { print $10; found = 1 }')
    openpgp="SHA256SUMS OpenPGP-signed by $fingerprint"
fi
(cd "$dist" && sha256sum --strict --quiet -c SHA256SUMS)
cat "$dist/SHA256SUMS"
if [ -n "$changes" ]; then
    echo "NOT A RELEASE: built from $commit with changes the commit does not hold:" >&2
    echo "$changes" >&2
fi
if [ -z "$keys" ]; then
    echo "UNSIGNED: Kestrelflash $version from $commit in dist/, with no code-signing certificate and no OpenPGP key"
else
    echo "Kestrelflash $version, v$version at $commit, in dist/: $authenticode; $openpgp"
fi
