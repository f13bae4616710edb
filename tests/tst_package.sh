#!/bin/bash
# The Debian package made from this build: the program, its menu entry, icon,
# manual page and metainfo at their places, avrdude among its dependencies; the
# metainfo valid, with every release of the changelog, each with its date; the
# program unpacked from it, started from a folder without tools/, opens its
# window in a real X server, where a screen reader finds every button, box and
# text field named, and Escape ends it with exit code 0. A run that ends
# behind another window asks for attention. Killed with SIGKILL
# mid-run, it takes avrdude with it within 2 s. Run under xvfb-run and
# dbus-run-session.
#   tst_package.sh BUILD_FOLDER SOURCE_FOLDER
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cpack --config "$1/CPackConfig.cmake" -B "$tmp" >/dev/null
dpkg-deb -f "$tmp"/kestrelflash_*_amd64.deb Depends | grep -w avrdude
dpkg-deb -x "$tmp"/kestrelflash_*_amd64.deb "$tmp/root"
ls "$tmp"/root/usr/share/{icons/hicolor/scalable/apps/kestrelflash.svg,man/man1/kestrelflash.1.gz}
desktop-file-validate "$tmp/root/usr/share/applications/com.orvanta.Kestrelflash.desktop"

# What software centres read: valid metainfo whose menu entry the package holds
# (validate-tree fails on errors and warnings, and on a missing .desktop file),
# with the changelog's newest version among its releases.
appstreamcli validate-tree --no-net "$tmp/root"
metainfo=$tmp/root/usr/share/metainfo/com.orvanta.Kestrelflash.metainfo.xml
newest=$(sed -n '1s/^kestrelflash (\([^)]*\)).*/\1/p' "$2/app/changelog")
grep "<release version=\"$newest\"" "$metainfo"
# Each release of the changelog, with its date, from a scratch configure: a
# one-digit day is Debian's too. A date it cannot read stops it.
mkdir "$tmp/source" && cp -r "$2"/{CMakeLists.txt,app,dialog} "$tmp/source/"
configure_with_release() {
    printf '\nkestrelflash (%s) stable; urgency=medium\n\n  * An older release.\n\n -- %s\n' \
        "$1" "Orvanta <support@orvanta.com>  $2 12:00:00 +0000" >>"$tmp/source/app/changelog"
    cmake -S "$tmp/source" -B "$tmp/source/build" -DKESTRELFLASH_BUILD_TESTS=OFF \
          -DKESTRELFLASH_QT_MAJOR="$(sed -n 's/^KESTRELFLASH_QT_MAJOR:STRING=//p' "$3/CMakeCache.txt")" >/dev/null
}
configure_with_release 0.9 "Mon, 2 Nov 2026" "$1"
releases=$tmp/source/build/app/com.orvanta.Kestrelflash.metainfo.xml
diff <(sed -n 's/^kestrelflash (\([^)]*\)).*/\1/p' "$tmp/source/app/changelog") \
     <(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$releases")
grep -F '"0.9" date="2026-11-02"' "$releases"
! configure_with_release 0.7 "Tue, 01 Spe 2026" "$1" 2>"$tmp/configure.log" || false
grep -q "no such date: .*Spe" "$tmp/configure.log"
export XDG_RUNTIME_DIR=$tmp QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 XDG_CONFIG_HOME=$tmp/config
# Starts the program from a folder without tools/ and waits for its window, one
# other than the window behind.
start() {
    (cd "$tmp" && exec "$tmp/root/usr/bin/kestrelflash") &
    program=$!
    window=$(timeout 20 sh -c 'until xdotool search --onlyvisible --name "^AvrUpdateDialog\$" | grep -vx "$0"
        do sleep 0.1; done' "${behind:-none}" | head -n 1)
}
start
# The window as Orca reads it: over the AT-SPI bus, with the names it announces.
# What the open port list says is tst_dialog's.
/usr/bin/python3 - <<'READER'
import sys, time, pyatspi
for _ in range(100):
    apps = [app for app in pyatspi.Registry.getDesktop(0) if app and app.name == "Kestrelflash"]
    if apps: break
    time.sleep(0.1)
def show(node, roles, depth=0):
    print("  " * depth + "%s: %r" % (node.getRoleName(), node.name))
    names = [node.name] if node.getRole() in roles else []
    return names + [name for child in node for name in show(child, roles, depth + 1)]
controls = show((apps or sys.exit("the program is not on the AT-SPI bus"))[0][0],
                (pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TEXT))
sys.exit(0 if len(controls) == 5 and all(controls) else "a control above has no name")
READER
xdotool windowfocus --sync "${window:?no window}" key Escape Escape
wait $program

# A run that ends behind another window asks for attention, which the window
# manager shows; killed outright, the program takes avrdude with it. The stand-in
# runs until it is told to fail.
tool=$tmp/root/usr/bin/tools/avrdude
mkdir "${tool%/*}" && printf '#!/bin/sh\necho $$ >"$0.pid"\nuntil [ -e "$0.end" ]; do sleep 0.05; done\nexit 1\n' >"$tool" && chmod +x "$tool"
press_update() { xdotool windowactivate --sync "${window:?no window}" key Tab Tab Tab space
                 timeout 10 sh -c 'until [ -s "$0.pid" ]; do sleep 0.1; done' "$tool"; }
openbox & wm=$!
timeout 10 sh -c 'until xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"; do sleep 0.1; done'
start && press_update && behind=$window first=$program
start && xdotool windowactivate --sync "$window"
! xprop -id "$behind" _NET_WM_STATE | grep DEMANDS_ATTENTION || false
touch "$tool.end"
timeout 10 sh -c 'until xprop -id "$0" _NET_WM_STATE | grep DEMANDS_ATTENTION; do sleep 0.1; done' "$behind"
rm "$tool.end" "$tool.pid"
press_update
pid=$(cat "$tool.pid") && kill -0 "$pid"
kill -KILL $program
# Exited: gone, or a zombie that its new parent has yet to reap.
timeout 2 bash -c 'while [ -e /proc/$0 ] && [[ $(</proc/$0/stat) != *") Z "* ]]; do sleep 0.05; done' "$pid"
kill $first $wm
