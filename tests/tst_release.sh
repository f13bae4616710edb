#!/bin/bash
# A release made twice from one commit, in two folders minutes apart, is the same
# to the byte, and its zip lists its files in name order. Signed with a throwaway
# certificate and OpenPGP key, every shipped program and library and the MSI
# verify, a copy with one byte changed does not, and SHA256SUMS.asc verifies.
# The Linux program is bound at start (bindnow).
#   tst_release.sh SOURCE_FOLDER OUTPUT_FOLDER   (leaves the release in OUTPUT_FOLDER/a/dist)
set -eEu
trap 'echo "tst_release.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
out=$2
rm -rf "$out" && mkdir -p "$out/keys" && cd "$out/keys"
export GNUPGHOME=$PWD KESTRELFLASH_SIGN_PKCS12=$PWD/code.p12 KESTRELFLASH_SIGN_PASSWORD_FILE=$PWD/password \
    KESTRELFLASH_GPG_KEY=releases@kestrelflash.test
echo throwaway >password
openssl req -x509 -newkey rsa:3072 -nodes -days 2 -subj "/CN=Kestrelflash test signer" \
    -addext extendedKeyUsage=codeSigning -keyout key.pem -out cert.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout file:password -out code.p12
gpg --batch --passphrase '' --quick-gen-key "$KESTRELFLASH_GPG_KEY" rsa3072 sign never 2>/dev/null
for copy in a b; do
    mkdir "$out/$copy" && tar -C "$1" --exclude=./build --exclude=./dist -c . | tar -C "$out/$copy" -x
    "$out/$copy/packaging/release.sh" >"$out/$copy.log" 2>&1 || { tail -n 30 "$out/$copy.log"; false; }
done
diff "$out/a/dist/SHA256SUMS" "$out/b/dist/SHA256SUMS"

cd "$out/a/dist" && gpg --verify SHA256SUMS.asc SHA256SUMS 2>/dev/null
zipinfo -1 Kestrelflash-*-win64.zip | LC_ALL=C sort -c # in one order, whatever the folder's
unzip -q Kestrelflash-*-win64.zip -d "$out/zip"
for file in $(find "$out/zip" -name '*.exe' -o -name '*.dll') Kestrelflash-*-win64.msi; do
    osslsigncode verify -CAfile "$out/keys/cert.pem" -in "$file" >"$out/verify.log" \
        || { echo "$file is not signed:"; cat "$out/verify.log"; false; } >&2
done
python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(4096); b = f.read(1)[0]; f.seek(4096); f.write(bytes([b ^ 1]))' \
    "$out/zip/Kestrelflash/kestrelflash.exe"
osslsigncode verify -CAfile "$out/keys/cert.pem" -in "$out/zip/Kestrelflash/kestrelflash.exe" >/dev/null \
    && { echo "kestrelflash.exe with a byte changed still verifies" >&2; false; }
dpkg-deb -x kestrelflash_*_amd64.deb "$out/deb"
readelf -d "$out/deb/usr/bin/kestrelflash" | grep -q BIND_NOW
