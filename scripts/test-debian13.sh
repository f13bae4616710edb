#!/bin/bash
# Runs the whole scripts/test.sh on Debian 13 as CI runs it (as root, with no
# standard input), in a minimal root of its own, from a plain clone of HEAD.
#   scripts/test-debian13.sh
# The root (debootstrap --variant=minbase trixie), and the Windows cache inside
# it, stay in ~/.cache/kestrelflash/debian13 between runs, so only the first run
# is long (docs/testing.md). Packages come from the mirrors this machine's apt
# reads. Needs root; asks sudo otherwise.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
"$root/scripts/setup.sh" debian13
debian=${XDG_CACHE_HOME:-$HOME/.cache}/kestrelflash/debian13
started=$SECONDS

# The URI of this machine's archive with the given label (Debian, Debian-Security).
archive() {
    apt-get indextargets --format '$(LABEL) $(REPO_URI)' 'Created-By: Packages' \
        | awk -v label="$1" '$1 == label { print $2; exit }'
}
# Writes the root's apt sources, in the form Debian 13 itself writes them.
sources() {
    local uri suites
    while read -r uri suites; do
        [ -n "$uri" ] && printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n\n' \
            "$uri" "$suites" /usr/share/keyrings/debian-archive-keyring.gpg
    done <<<"$1 trixie trixie-updates
$2 trixie-security"
}

if [ ! -e "$debian/.made" ]; then
    mirror=$(archive Debian) security=$(archive Debian-Security)
    rm -rf "$debian"
    debootstrap --variant=minbase trixie "$debian" "${mirror:?no Debian archive in the apt sources here}" \
        >"$debian.log" 2>&1 || { tail -n 20 "$debian.log"; exit 1; }
    rm -f "$debian/etc/apt/sources.list" "$debian.log"
    sources "$mirror" "$security" >"$debian/etc/apt/sources.list.d/debian.sources"
    touch "$debian/.made"
fi
rm -rf "$debian/work"
git clone -q --no-hardlinks "$root" "$debian/work/kestrelflash"
echo "=== scripts/test.sh on Debian 13 ($(git -C "$root" log -1 --format=%h) in $debian)"
# Mounts made in a namespace of this command's own go with it, however it ends.
# The root itself is no mount, as in a plain chroot or Debian's package builders:
# no test may need a mount namespace of its own.
status=0
unshare --mount --propagation private sh -c '
    mount -t proc proc "$0/proc" && mount --rbind /sys "$0/sys" && mount --rbind /dev "$0/dev" \
        && mount -t tmpfs tmpfs "$0/tmp" && exec chroot "$0" /usr/bin/env -i HOME=/root TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        sh -c "cd /work/kestrelflash && exec scripts/test.sh"' "$debian" </dev/null || status=$?
echo "=== Debian 13: $([ $status -eq 0 ] && echo passed || echo FAILED) in $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
exit $status
