#!/bin/bash
# Signs Windows programs, libraries and packages with Authenticode (SHA-256), in
# place, when a certificate is given, and verifies each against its chain.
#   packaging/sign.sh check          checks the signing variables, builds nothing
#   packaging/sign.sh FILE...        signs and verifies each file
#   packaging/sign.sh verify FILE... verifies each file
#   packaging/sign.sh summary        one line: who signs, and whether with a time stamp
# A key in a file:
#   KESTRELFLASH_SIGN_PKCS12          the certificate chain and its key, a .p12 or .pfx file
#   KESTRELFLASH_SIGN_PASSWORD_FILE   a file holding its password
# A key on a token or HSM, through PKCS#11 (OpenSSL's pkcs11 engine):
#   KESTRELFLASH_SIGN_PKCS11_MODULE   the token's PKCS#11 module, a .so file
#   KESTRELFLASH_SIGN_PKCS11_KEY      the key's pkcs11: URI, without the PIN
#   KESTRELFLASH_SIGN_CERT            the certificate chain, PEM, signer first, up to the root
#   KESTRELFLASH_SIGN_PIN_FILE        a file holding the PIN
# Either way:
#   KESTRELFLASH_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamping service (optional);
#                                     without one the signing time is SOURCE_DATE_EPOCH,
#                                     so a signed release is the same every time too
# With none of these set nothing is signed. With any set, every fault stops the
# script with its reason: a name that is none of these, a file missing, a wrong
# password or PIN, a token not found, a file that does not verify.
. "$(dirname "$0")/common.sh"
use_commit_time
family=KESTRELFLASH_SIGN_
known=(PKCS12 PASSWORD_FILE PKCS11_MODULE PKCS11_KEY CERT PIN_FILE TIMESTAMP_URL)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "signing: $*" >&2; exit 1; }
given() { [ -n "$(printenv "$family$1")" ]; }
# The file a variable names, from the folder the script was started in.
file_of() {
    local name=$family$1 path
    given "$1" || fail "$name is needed too"
    path=$(realpath -m -- "$(printenv "$name")")
    [ -f "$path" ] && [ -r "$path" ] || fail "$name: no readable file $path"
    echo "$path"
}

names=$(compgen -e | sed -n "s/^$family//p")
for name in $names; do
    [[ " ${known[*]} " == *" $name "* ]] \
        || fail "unknown variable $family$name; the signing variables are ${known[*]/#/$family}"
done
if [ -z "$names" ]; then
    [ "${1:-}" = summary ] && echo "UNSIGNED: no code-signing certificate given"
    exit 0
fi
"$root/scripts/setup.sh" sign

if given PKCS12; then
    for name in PKCS11_MODULE PKCS11_KEY CERT PIN_FILE; do
        ! given $name || fail "give either ${family}PKCS12 or the token's variables, not both ($family$name)"
    done
    p12=$(file_of PKCS12)
    password=$(file_of PASSWORD_FILE)
    key=(-pkcs12 "$p12" -readpass "$password")
    chain=$tmp/chain.pem signer=$tmp/signer.pem
    openssl pkcs12 -in "$p12" -passin "file:$password" -nokeys -out "$chain" 2>"$tmp/log" \
        && openssl pkcs12 -in "$p12" -passin "file:$password" -nokeys -clcerts -out "$signer" 2>"$tmp/log" \
        || fail "cannot open $p12 with the password in $password (wrong password?): $(cat "$tmp/log")"
elif given PKCS11_MODULE || given PKCS11_KEY || given CERT || given PIN_FILE; then
    module=$(file_of PKCS11_MODULE)
    chain=$(file_of CERT) signer=$(file_of CERT)
    pin=$(file_of PIN_FILE)
    uri=$(printenv ${family}PKCS11_KEY) || fail "${family}PKCS11_KEY is needed too"
    [[ $uri == pkcs11:* ]] || fail "${family}PKCS11_KEY is no pkcs11: URI: $uri"
    [[ $uri != *pin-* ]] || fail "the PIN belongs in ${family}PIN_FILE, not in ${family}PKCS11_KEY"
    key=(-pkcs11module "$module" -certs "$chain" -key "$uri" -readpass "$pin")
else
    fail "no key: give ${family}PKCS12, or ${family}PKCS11_MODULE with its key, certificate and PIN"
fi
if given TIMESTAMP_URL; then
    when=(-ts "$(printenv ${family}TIMESTAMP_URL)")
    # A time-stamping authority's certificate comes from a public root.
    trusted=(-CAfile "$chain" -TSA-CAfile /etc/ssl/certs/ca-certificates.crt)
else
    when=(-time "$SOURCE_DATE_EPOCH")
    trusted=(-CAfile "$chain")
fi

verify() {
    local file
    for file in "$@"; do
        osslsigncode verify "${trusted[@]}" -in "$file" >"$tmp/log" 2>&1 \
            || { cat "$tmp/log" >&2; fail "$file does not verify against $chain (osslsigncode's words above)"; }
    done
}

case "${1:-}" in
    check) ;;
    verify) shift && verify "$@" ;;
    summary)
        echo "Authenticode-signed by $(openssl x509 -in "$signer" -noout -subject -nameopt RFC2253 \
            | sed 's/^subject=//'), serial $(openssl x509 -in "$signer" -noout -serial \
            | sed 's/^serial=//'), $(given TIMESTAMP_URL && echo "timestamped by ${when[1]}" \
            || echo "not timestamped")" ;;
    *)
        for file in "$@"; do
            osslsigncode sign "${key[@]}" -h sha256 -n Kestrelflash -i https://orvanta.com \
                "${when[@]}" -in "$file" -out "$file.signed" >"$tmp/log" 2>&1 || {
                cat "$tmp/log" >&2
                rm -f "$file.signed"
                fail "could not sign $file (osslsigncode's words above)"
            }
            mv "$file.signed" "$file"
        done
        verify "$@"
        echo "signed and verified $# file(s)" ;;
esac
