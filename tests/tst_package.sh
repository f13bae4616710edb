#!/bin/bash
# The Debian package made from this build: the program, its menu entry, icon and manual page
# at their places, avrdude among its dependencies; the program unpacked from it,
# started from a folder without tools/, opens its window in a real X server, and
# Escape ends it with exit code 0. Run under xvfb-run.
#   tst_package.sh BUILD_FOLDER
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cpack --config "$1/CPackConfig.cmake" -B "$tmp" >/dev/null
dpkg-deb -f "$tmp"/kestrelflash_*_amd64.deb Depends | grep -w avrdude
dpkg-deb -x "$tmp"/kestrelflash_*_amd64.deb "$tmp/root"
ls "$tmp"/root/usr/share/{icons/hicolor/scalable/apps/kestrelflash.svg,man/man1/kestrelflash.1.gz}
desktop-file-validate "$tmp/root/usr/share/applications/kestrelflash.desktop"
(cd "$tmp" && XDG_CONFIG_HOME=$tmp/config exec "$tmp/root/usr/bin/kestrelflash") &
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^AvrUpdateDialog$' | head -n 1)
xdotool windowfocus --sync "${window:?no window}" key Escape
wait $!
