#!/bin/bash
# The Debian package made from this build: the program, its menu entry, icon and manual page
# at their places, avrdude among its dependencies; the program unpacked from it,
# started from a folder without tools/, opens its window in a real X server, where
# a screen reader finds every button, box and text field named, and Escape ends
# it with exit code 0. Run under xvfb-run and dbus-run-session.
#   tst_package.sh BUILD_FOLDER
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cpack --config "$1/CPackConfig.cmake" -B "$tmp" >/dev/null
dpkg-deb -f "$tmp"/kestrelflash_*_amd64.deb Depends | grep -w avrdude
dpkg-deb -x "$tmp"/kestrelflash_*_amd64.deb "$tmp/root"
ls "$tmp"/root/usr/share/{icons/hicolor/scalable/apps/kestrelflash.svg,man/man1/kestrelflash.1.gz}
desktop-file-validate "$tmp/root/usr/share/applications/kestrelflash.desktop"
export XDG_RUNTIME_DIR=$tmp QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
(cd "$tmp" && XDG_CONFIG_HOME=$tmp/config exec "$tmp/root/usr/bin/kestrelflash") &
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^AvrUpdateDialog$' | head -n 1)
# The window as Orca reads it: over the AT-SPI bus, with the names it announces.
/usr/bin/python3 - <<'READER'
import sys, time, pyatspi
for _ in range(100):
    apps = [app for app in pyatspi.Registry.getDesktop(0) if app and app.name == "Kestrelflash"]
    if apps: break
    time.sleep(0.1)
controls = []
def show(node, depth=0):
    print("  " * depth + "%s: %r" % (node.getRoleName(), node.name))
    if node.getRole() in (pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TEXT):
        controls.append(node.name)
    for child in node: show(child, depth + 1)
for window in (apps or sys.exit("the program is not on the AT-SPI bus"))[0]: show(window)
sys.exit(0 if len(controls) == 5 and all(controls) else "a control above has no name")
READER
xdotool windowfocus --sync "${window:?no window}" key Escape
wait $!
