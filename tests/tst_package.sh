#!/bin/bash
# The Debian package made from this build: the program, its menu entry, icon,
# manual page and metainfo at their places, avrdude among its dependencies; the
# metainfo valid, found as a software centre finds it (where a mount namespace
# can be had), with every release of the changelog, each with its date; the
# program unpacked from it, started from a folder without tools/, opens its
# window in a real X server, where a screen reader finds every button, box, text
# field and port named, and Escape ends it with exit code 0. A run that ends
# behind another window asks for attention. Killed with SIGKILL
# mid-run, it takes avrdude with it within 2 s. Run under xvfb-run and
# dbus-run-session.
# No test run that the scripts or the docs give can pass with no test found.
#   tst_package.sh BUILD_FOLDER SOURCE_FOLDER
set -eu
blind=$(grep -rn 'ctest --test-dir [^ ]' "$2"/{README.md,docs,scripts,.ci} | grep -v -e --no-tests=error
        grep -n 'cmake -S \. -B' "$2/docs/development.md" | grep -v KESTRELFLASH_BUILD_TESTS=ON) || :
[ -z "$blind" ] || { printf 'may pass with no test run:\n%s\n' "$blind" >&2; exit 1; }
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
# Found as a software centre finds it once the package's files are where the
# system looks: in a mount namespace of this test's own (one that is not root
# maps itself to root in a user namespace). A plain chroot or an unprivileged
# container, as Debian's package builders give, has none to offer.
userns=$([ "$(id -u)" = 0 ] || echo --map-root-user)
if unshare $userns --mount true 2>"$tmp/unshare.log"; then
    component=$(unshare $userns --mount sh -c 'for dir in metainfo applications; do
            mount --bind "$0/root/usr/share/$dir" "/usr/share/$dir" || exit; done
        appstreamcli refresh-cache --force --cachepath "$0/cache" >/dev/null
        exec appstreamcli dump --cachepath "$0/cache" com.orvanta.Kestrelflash' "$tmp")
    grep -x '  <name>Kestrelflash</name>' <<<"$component"
    launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>|\1|p' <<<"$component")
    ls "$tmp/root/usr/share/applications/${launchable:?no launchable}"
    grep "<release .*version=\"$newest\"" <<<"$component"
else
    echo "SKIP: the metainfo as a software centre finds it: no mount namespace here: $(cat "$tmp/unshare.log")"
fi
# Each release of a changelog with more than one, with its date, from a scratch
# configure: a one-digit day is Debian's too. A date it cannot read stops it.
mkdir "$tmp/source" && cp -r "$2"/{CMakeLists.txt,app,dialog} "$tmp/source/"
older() {
    printf '\nkestrelflash (%s) stable; urgency=medium\n\n  * An older release.\n\n -- %s\n' \
        "$1" "Orvanta <support@orvanta.com>  $2 12:00:00 +0000" >>"$tmp/source/app/changelog"
}
configure() {
    cmake -S "$tmp/source" -B "$tmp/source/build" -DKESTRELFLASH_BUILD_TESTS=OFF \
          -DKESTRELFLASH_QT_MAJOR="$(sed -n 's/^KESTRELFLASH_QT_MAJOR:STRING=//p' "$1/CMakeCache.txt")" >/dev/null
}
older 0.9 "Mon, 2 Nov 2026"
older 0.8 "Thu, 01 Oct 2026"
configure "$1"
releases=$(grep '<release ' "$tmp/source/build/app/com.orvanta.Kestrelflash.metainfo.xml")
diff <(sed -n 's/^kestrelflash (\([^)]*\)).*/\1/p' "$tmp/source/app/changelog") \
     <(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' <<<"$releases")
[ "$(grep -cFe '"0.9" date="2026-11-02"' -e '"0.8" date="2026-10-01"' <<<"$releases")" = 2 ]
older 0.7 "Tue, 01 Spe 2026"
! configure "$1" 2>"$tmp/configure.log" || false
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
# The window as Orca reads it: over the AT-SPI bus, with the names it announces,
# then the port list as it opens.
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
if len(controls) != 5 or not all(controls): sys.exit("a control above has no name")
box = pyatspi.findDescendant(apps[0], lambda node: node.getRole() == pyatspi.ROLE_COMBO_BOX)
box.queryAction().doAction(0)
for _ in range(100):
    if box.getState().contains(pyatspi.STATE_EXPANDED): break
    time.sleep(0.1)
else: sys.exit("the port list does not open")
print("the port list, opened:")
entries = show(box, (pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_ITEM))
sys.exit(0 if len(entries) > 1 and all(entries) else "the port list or a port in it has no name")
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
