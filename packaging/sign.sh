#!/bin/bash
# Signs Windows programs, libraries and packages in place with Authenticode
# (SHA-256) when a certificate is given; without one, leaves them as they are.
#   packaging/sign.sh FILE...
# KESTRELFLASH_SIGN_PKCS12          the certificate and its key, a .p12 or .pfx file
# KESTRELFLASH_SIGN_PASSWORD_FILE   a file holding its password
# KESTRELFLASH_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamping service (optional);
#                                   without one the signing time is SOURCE_DATE_EPOCH,
#                                   so a signed release is the same every time too
set -eu
[ -n "${KESTRELFLASH_SIGN_PKCS12:-}" ] || exit 0
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" sign
if [ -n "${KESTRELFLASH_SIGN_TIMESTAMP_URL:-}" ]; then
    when=(-ts "$KESTRELFLASH_SIGN_TIMESTAMP_URL")
else
    when=(-time "${SOURCE_DATE_EPOCH:?}")
fi
for file in "$@"; do
    osslsigncode sign -pkcs12 "$KESTRELFLASH_SIGN_PKCS12" \
        -readpass "${KESTRELFLASH_SIGN_PASSWORD_FILE:?needs KESTRELFLASH_SIGN_PASSWORD_FILE too}" \
        -h sha256 -n Kestrelflash -i https://orvanta.com "${when[@]}" \
        -in "$file" -out "$file.signed" >/dev/null
    mv "$file.signed" "$file"
done
echo "signed $# file(s) with $KESTRELFLASH_SIGN_PKCS12"
