#!/bin/bash
# Installs the Debian packages Kestrelflash needs.
#   scripts/setup.sh [5|6] [app|all]
#     5 or 6   the Qt major version to build against (default 5)
#     app      what building and running the program needs
#     all      that and the test kit: X server tools, the AVR simulator and the
#              Arduino bootloaders (the default)
set -eu
qt=${1:-5}
kit=${2:-all}

packages=(cmake g++ make avrdude)
case "$qt" in
    5) packages+=(qtbase5-dev libqt5serialport5-dev) ;;
    6) packages+=(qt6-base-dev qt6-serialport-dev) ;;
    *) echo "usage: $0 [5|6] [app|all]" >&2; exit 2 ;;
esac
case "$kit" in
    app) ;;
    all) packages+=(xvfb xauth xdotool libsimavr-dev libsimavrparts1 arduino-core-avr) ;;
    *) echo "usage: $0 [5|6] [app|all]" >&2; exit 2 ;;
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
