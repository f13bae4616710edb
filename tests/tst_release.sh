#!/bin/bash
# A release made twice is the same to the byte, signs and verifies, and is refused
# when it should be: the list is docs/releasing.md, "What the release test proves".
#   tst_release.sh SOURCE_FOLDER OUTPUT_FOLDER   (leaves the release in OUTPUT_FOLDER/a/dist)
# One check a line: set -e does not stop at a failure before the last && of a line.
set -eEuo pipefail
trap 'echo "tst_release.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
source=$1 out=$2 b="$2/other place"
. "$source/packaging/common.sh" # version, as the release reads it
rm -rf "$out"
mkdir -p "$out/keys/tokens"
cd "$out/keys"
export GNUPGHOME=$PWD SOFTHSM2_CONF=$PWD/softhsm2.conf KESTRELFLASH_GPG_KEY=releases@kestrelflash.test
echo "directories.tokendir = $PWD/tokens" >"$SOFTHSM2_CONF"
echo throwaway >password
echo 1234 >pin
echo 4321 >wrong-pin
openssl req -x509 -newkey rsa:3072 -nodes -days 2 -subj "/CN=Kestrelflash test signer" \
    -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout file:password -out code.p12
softhsm2-util --init-token --free --label release --pin 1234 --so-pin 5678 >/dev/null
softhsm2-util --import key.pem --token release --label signer --id 01 --pin 1234 >/dev/null
gpg --batch --passphrase '' --quick-gen-key "$KESTRELFLASH_GPG_KEY" rsa3072 sign never 2>/dev/null
p12=(KESTRELFLASH_SIGN_PKCS12=code.p12 KESTRELFLASH_SIGN_PASSWORD_FILE=password)
token=(KESTRELFLASH_SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so KESTRELFLASH_SIGN_CERT=cert.pem
       "KESTRELFLASH_SIGN_PKCS11_KEY=pkcs11:token=release;object=signer;type=private" KESTRELFLASH_SIGN_PIN_FILE=pin)

# The tree under test, committed as HEAD's twin (the same time) when it has changes, and tagged.
copy() {
    mkdir "$1"
    tar -C "$source" --exclude=./build --exclude=./dist -c . | tar -C "$1" -x
    local when
    when=$(git -C "$1" log -1 --format=%cd --date=raw)
    git -C "$1" add -A
    git -C "$1" diff --cached --quiet || GIT_AUTHOR_DATE=$when GIT_COMMITTER_DATE=$when git -C "$1" \
        -c user.name=test -c user.email=test@kestrelflash.test commit -qm "the tree under test"
    git -C "$1" tag -f "v$version" >/dev/null
}
# Releases a copy with the signing variables given, which name files in keys/.
release() { env "${@:2}" "$1/packaging/release.sh" >"$out/release.log" 2>&1; }
copy "$out/a"
copy "$b"
release "$out/a" "${p12[@]}" || { tail -n 30 "$out/release.log"; false; }
release "$b" "${token[@]}" || { tail -n 30 "$out/release.log"; false; }
diff "$out/a/dist/SHA256SUMS" "$b/dist/SHA256SUMS"

cd "$out/a/dist"
gpg --verify SHA256SUMS.asc SHA256SUMS 2>/dev/null
zipinfo -1 Kestrelflash-*-win64.zip | LC_ALL=C sort -c # in one order, whatever the folder's
unzip -q Kestrelflash-*-win64.zip -d "$out/zip"
for file in $(find "$out/zip" -name '*.exe' -o -name '*.dll') Kestrelflash-*-win64.msi; do
    osslsigncode verify -CAfile "$out/keys/cert.pem" -in "$file" >"$out/verify.log" \
        || { echo "$file is not signed:"; cat "$out/verify.log"; false; } >&2
done
python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(4096); b = f.read(1)[0]; f.seek(4096); f.write(bytes([b ^ 1]))' \
    "$out/zip/Kestrelflash/kestrelflash.exe"
! osslsigncode verify -CAfile "$out/keys/cert.pem" -in "$out/zip/Kestrelflash/kestrelflash.exe" >/dev/null 2>&1 \
    || { echo "kestrelflash.exe with a byte changed still verifies" >&2; false; }
dpkg-deb -x kestrelflash_*_amd64.deb "$out/deb"
readelf -d "$out/deb/usr/bin/kestrelflash" | grep -q BIND_NOW

use_windows_cache 2>/dev/null # qt=... avrdude=..., read under the cache's shared lock
! grep -rlaF "${qt%/*}" "$out/zip" "$out/deb" || false # as any user would build them
for part in "$qt" "$avrdude"; do
    mkdir -p "$out/stale/kestrelflash/${part##*/}"
    sed 's/^qtbase-opensource-src .*/& but older/' "$part/KEY" >"$out/stale/kestrelflash/${part##*/}/KEY"
done
! XDG_CACHE_HOME=$out/stale "$source/packaging/windows-cache.sh" --check 2>"$out/check.log" || false
grep -q '^-qtbase-opensource-src .* but older$' "$out/check.log"
# A change to a file that a part is built from makes that part out of date, and
# no other; the script that decides when to build makes none.
git clone -q "$out/a" "$out/recipe"
while read -r file stale; do
    echo >>"$out/recipe/$file"
    "$out/recipe/packaging/windows-cache.sh" --check </dev/null 2>"$out/check.log" && found= || found=out
    [ "${found:+out}" = "${stale:+out}" ] || { cat "$out/check.log"; false; }
    [ "$(sed -n 's/ is out of date$//p' "$out/check.log" | xargs)" = "$stale" ] || { cat "$out/check.log"; false; }
    [ -z "$stale" ] || grep -q "^+$file sha256 " "$out/check.log"
    git -C "$out/recipe" checkout -q -- "$file"
done <<'RECIPES'
packaging/windows-cache.sh
packaging/windows-cache/qt.sh qt-mingw64
packaging/windows-cache/toolchain.sh qt-mingw64 avrdude-mingw64
packaging/avrdude.exe.manifest avrdude-mingw64
RECIPES
grep -q ' Kestrelflash-.*-source\.tar\.xz$' SHA256SUMS
tar -xf Kestrelflash-*-source.tar.xz -C "$out"
sources=$(echo "$out"/Kestrelflash-*-source/debian-sources)
[ "$(ls "$sources"/*.dsc | wc -l)" = 2 ]
for dsc in "$sources"/*.dsc; do # whole, with its upstream tarball, as the cache and licences name it
    awk '/^Checksums-Sha256:/ { f = 1; next } /^[^ ]/ { f = 0 } f { print $1 "  " $3 }' "$dsc" \
        | (cd "$sources" && sha256sum --quiet --ignore-missing -c)
    ls "${dsc%%_*}"_*.orig.tar.* >/dev/null
    grep -qx "${dsc##*/}" <<<"$(sed 's/ /_/; s/$/.dsc/' "$qt/KEY" "$avrdude/KEY")"
    version=${dsc##*_}
    grep -q "${version%.dsc}" "$out/zip/Kestrelflash/licenses/README.txt"
done

# Each fault stops a signed release with its reason.
refused() {
    ! release "$b" "${@:2}" || { echo "not refused: $1" >&2; false; }
    grep -q -- "$1" "$out/release.log" || { tail -n 20 "$out/release.log"; false; }
}
cd "$out/keys"
refused "Login failed" "${token[@]}" KESTRELFLASH_SIGN_PIN_FILE=wrong-pin
refused "unknown variable KESTRELFLASH_SIGN_PKCS11_MODUL" "${token[@]}" \
    KESTRELFLASH_SIGN_PKCS11_MODUL=/usr/lib/softhsm/libsofthsm2.so
touch "$b/notes.txt"
refused "notes.txt" "${p12[@]}"
rm "$b/notes.txt"
git -C "$b" tag --points-at HEAD | xargs git -C "$b" tag -d >/dev/null
git -C "$b" tag v0 # a tag of another version only
refused "has no tag v" "${p12[@]}"
