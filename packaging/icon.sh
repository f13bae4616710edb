#!/bin/bash
# Remakes app/kestrelflash.ico, the Windows program's icon, from the drawing in
# app/kestrelflash.svg: 16, 24, 32 and 48 px as bitmaps, 256 px as PNG, as
# Explorer expects them.
#   packaging/icon.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" icon
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 16 24 32 48 256; do
    rsvg-convert -w $size -h $size "$root/app/kestrelflash.svg" -o "$tmp/$size.png"
done
icotool -c -o "$root/app/kestrelflash.ico" "$tmp"/{16,24,32,48}.png -r "$tmp/256.png"
icotool -l "$root/app/kestrelflash.ico"
