#!/bin/bash
# Installs the Debian packages Kestrelflash needs.
#   scripts/setup.sh [5|6] [app|all]
#     5 or 6   the Qt major version to build against (default 5)
#     app      what building and running the program needs
#     all      that and the test kit: X server tools, a session bus and the
#              screen readers' AT-SPI bus, the AVR simulator and the Arduino
#              bootloaders (the default)
#   scripts/setup.sh windows
#              what cross-building the Windows cache, zip and MSI needs
#   scripts/setup.sh wine
#              what the Windows tests and benchmark need: Wine, an X server and
#              its tools, a soft token, and what checks signatures, shortcuts and
#              resources
#   scripts/setup.sh msi
#              what packing a staged Windows folder into an MSI needs
#   scripts/setup.sh deb
#              what making and checking the Debian package needs
#   scripts/setup.sh sign
#              what signing Windows files (with a key in a file or on a PKCS#11
#              token) and checksum lists needs
#   scripts/setup.sh icon
#              what drawing the Windows icon from its SVG needs
#   scripts/setup.sh debian13
#              what scripts/test-debian13.sh needs to make its Debian 13 root
set -eu
qt=${1:-5}
kit=${2:-all}
usage() { echo "usage: $0 [5|6] [app|all] | windows | wine | msi | deb | sign | icon | debian13" >&2; exit 2; }
# Making a Debian package: CPack runs file and dpkg-shlibdeps on what it packs;
# the menu entry and the metainfo are validated.
packaging=(dpkg-dev file desktop-file-utils appstream)
# Signing Windows files, with a key in a file or on a PKCS#11 token, and checksum lists.
signing=(osslsigncode openssl libengine-pkcs11-openssl gnupg)

# Every kit that makes or checks shipped files has git: they carry the commit's time.
packages=(cmake g++ make)
case "$qt" in
    5) packages+=(avrdude qtbase5-dev libqt5serialport5-dev) ;;
    6) packages+=(avrdude qt6-base-dev qt6-serialport-dev) ;;
    windows) kit=windows
        packages+=(g++-mingw-w64-x86-64-posix dpkg-dev flex bison perl python3 zip git) ;;
    # The release test makes releases; pgrep finds the Windows programs Wine runs.
    wine) kit=wine
        packages=(wine64 unzip xvfb xauth xdotool xclip imagemagick icoutils liblnk-utils
                  softhsm2 "${signing[@]}" git procps) ;;
    msi) kit=msi; packages=(wixl msitools python3 git) ;;
    sign) kit=sign; packages=("${signing[@]}" git) ;;
    deb) kit=deb; packages+=("${packaging[@]}" lintian git) ;;
    icon) kit=icon; packages=(librsvg2-bin icoutils) ;;
    debian13) kit=debian13; packages=(debootstrap git) ;;
    *) usage ;;
esac
case "$kit" in
    app|windows|wine|msi|deb|sign|icon|debian13) ;;
    all) packages+=(xvfb xauth xdotool x11-utils openbox dbus-daemon at-spi2-core python3-pyatspi
                    libsimavr-dev libsimavrparts1 arduino-core-avr "${packaging[@]}") ;;
    *) usage ;;
esac

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
        || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
