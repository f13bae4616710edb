#!/bin/bash
# Remakes the README's pictures of the window after a real update of the
# simulated board, in a private X server. Installs and builds what is missing first.
#   scripts/screenshot.sh [5|6]     docs/kestrelflash.png, the Linux program
#   scripts/screenshot.sh windows   docs/kestrelflash-windows.png, the Windows zip under Wine
set -eu
qt=${1:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$qt" = windows ]; then
    # The cache, built first when out of date, stays as it is until the picture is taken.
    . "$root/packaging/common.sh"
    use_windows_cache
    "$root/scripts/setup.sh" wine
    "$root/scripts/build.sh" 5 all
    KESTRELFLASH_WINDOWS_PICTURE="$root/docs/kestrelflash-windows.png" \
        ctest --test-dir "$root/build/qt5" --no-tests=error -L windows --output-on-failure
    echo "wrote docs/kestrelflash-windows.png"
    exit
fi
"$root/scripts/build.sh" "$qt" all
# The image lies in a home folder, as a user's would, in a /home of this command's
# own, and the board's port gets a board's name in a /dev of its own.
unshare --map-root-user --mount sh -c 'mount -t tmpfs tmpfs /home && mkdir -p "$2" /home/.dev \
    && mount --rbind /dev /home/.dev && mount -t tmpfs -o mode=755 tmpfs /dev \
    && for node in null zero full random urandom tty; do
           touch /dev/$node && mount --bind /home/.dev/$node /dev/$node || exit; done \
    && mkdir /dev/pts /dev/shm && mount --rbind /home/.dev/pts /dev/pts \
    && mount --rbind /home/.dev/shm /dev/shm && ln -s pts/ptmx /dev/ptmx \
    && exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$1" "$2"' \
    "$root/build/qt$qt/docs/screenshot" "$root/docs/kestrelflash.png" /home/sam/Firmware
echo "wrote docs/kestrelflash.png"
