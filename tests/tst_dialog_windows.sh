#!/bin/bash
# tst_dialog on the Windows build: cross-built from the same source against the
# Windows cache, run under Wine in a private prefix and X server, with the cache's
# avrdude.exe writing a 64 KiB image through COM12, COM13 and COM14 into simulated
# boards whose ports' drivers treat DTR as usbser.sys does (raised by nobody but
# the window), as one that raises it when the port is opened does, and as
# Linux's does; each holds the image byte for byte after. avrdude.exe alone,
# with the window's command, never reaches the first: its application runs.
# Fails when a row fails, or when a row is skipped that could apply on Windows.
#   xvfb-run tst_dialog_windows.sh SOURCE_FOLDER BUILD_FOLDER VIRTUALBOARD BOOTLOADER [TESTS...]
# TESTS, such as realUpdateLeavesTheImageInTheChip, run those alone.
. "$1/packaging/common.sh"
trap 'echo "tst_dialog_windows.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
build=$2
use_windows_cache
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/packaging/mingw-w64.cmake" \
      -DCMAKE_PREFIX_PATH="$qt" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target tst_dialog standin >"$build/build.log" \
    || { tail -n 30 "$build/build.log"; false; }

. "$root/testkit/wine.sh"
windows_path() { echo "Z:${1//\//\\}"; }
images="$WINEPREFIX/drive_c/users/$(id -un)/Documents/Прошивка 固件"
mkdir -p "$images" && head -c 65536 /dev/urandom >"$images/board.bin"
objcopy -I binary -O ihex "$images/board.bin" "$images/board.hex"
cp "$avrdude/bin/avrdude.exe" "$avrdude/etc/avrdude.conf" "$images/"
for port_and_driver in "COM12 u" "COM13 r" "COM14 l"; do
    wine_board "$3" "$4" "C:/${images#*/drive_c/}/board.hex" $port_and_driver
done
# The window's command, as the benchmarks take it, for avrdude.exe alone.
mapfile -t command < <("${3%/testkit/virtualboard}/bench/flash_bench" --windows-command COM12 \
    "C:/${images#*/drive_c/}/board.hex")
# It is still trying after 15 s, where an update takes 2.
alone=0 && (cd "$images" && timeout 15 wine64 avrdude.exe "${command[@]}" >"$tmp/alone.txt" 2>&1) || alone=$?
[ $alone = 124 ] && ! grep initialized "$tmp/alone.txt" || { cat "$tmp/alone.txt"; false; }

# Qt and the MinGW runtime from where they were built; nothing is installed.
export WINEPATH="$(windows_path "$qt/bin");$(windows_path "$(dirname "$(x86_64-w64-mingw32-g++-posix \
    -print-file-name=libstdc++-6.dll)")");$(windows_path /usr/x86_64-w64-mingw32/lib)" \
    QT_PLUGIN_PATH=$(windows_path "$qt/plugins") KESTRELFLASH_TEST_BOARD="C:/${images#*/drive_c/}"
# Its exit status counts the failed rows; a crash leaves no totals.
wine64 "$build/tests/tst_dialog.exe" -o "$(windows_path "$tmp/tst_dialog.txt"),txt" "${@:5}" 2>/dev/null || :
grep -v '^QDEBUG' "$tmp/tst_dialog.txt"
grep -q '^Totals: [1-9][0-9]* passed, 0 failed' "$tmp/tst_dialog.txt"
# Only Linux's PATH lookup cannot be asked of Windows.
! grep '^SKIP' "$tmp/tst_dialog.txt" | grep -v 'toolIsFoundInItsOrder(Linux, never from the working' || false

# A board ends with exit code 3 when a host reset it under avrdude, or held its
# port as avrdude started.
kill $boards && for board in $boards; do wait $board; done
{ cat "$images/board.bin"; head -c $((0x3E000 - 65536)) /dev/zero | tr '\0' '\377'; } >"$tmp/chip.bin"
for port in COM12 COM13 COM14; do cmp "$tmp/chip.bin" "$tmp/flash-$port.bin"; done
