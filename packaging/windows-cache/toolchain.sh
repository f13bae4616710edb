# The cross toolchain both parts of the Windows cache are built with. Sourced by
# windows-cache.sh, which digests this file into both parts' keys.
#   use_cross_toolchain
# The caches are built the same way on every machine: the same time stamps and
# no path of the machine's own in what is built. Qt and avrdude are configured
# for fixed prefixes and installed into the cache.
cache_epoch=1764547200
path_map=-ffile-prefix-map=$cache=/kestrelflash-cache

# The cross compilers as Qt's mkspec names them, with the POSIX thread model.
use_cross_toolchain() {
    local tool
    mkdir -p "$cache/bin"
    for tool in gcc g++; do
        rm -f "$cache/bin/$cross-$tool"
        printf '#!/bin/sh\nexec %q %q "$@"\n' "$(command -v $cross-$tool-posix)" "$path_map" \
            >"$cache/bin/$cross-$tool"
        chmod +x "$cache/bin/$cross-$tool"
    done
    export PATH=$cache/bin:$PATH SOURCE_DATE_EPOCH=$cache_epoch \
        QT_RCC_SOURCE_DATE_OVERRIDE=$cache_epoch TZ=UTC LC_ALL=C
}
