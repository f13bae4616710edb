# How avrdude for Windows is built: the upstream tarball of this Debian
# release's source package, serial programmers only. Sourced by
# windows-cache.sh, which digests this file into avrdude's key.
#   build_avrdude   builds $avrdude.new, with the source it was built from

# In the work folder of build_avrdude, whose prefix it installs for.
build_avrdude_here() {
    cmake -S avrdude*-*/ -B build -DCMAKE_TOOLCHAIN_FILE="$root/packaging/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_C_FLAGS="$(printf %q "$path_map")" -DCMAKE_EXE_LINKER_FLAGS="$(printf %q "$work/manifest.o")" \
        && cmake --build build --parallel "$jobs" && DESTDIR="$work/staged" cmake --install build
}

# avrdude is an ANSI program: its manifest makes UTF-8 its code page, so that a
# file name or an install folder in any script reaches it whole.
build_avrdude() {
    local work=$cache/avrdude-build prefix=/usr/local/avrdude-$avrdude_version
    rm -rf "$avrdude.new" "$work"
    mkdir -p "$work" "$avrdude.new/source" && cd "$work"
    # The build takes the upstream tarball alone; the Debian part is kept too
    # when the archive serves it.
    apt-get source --download-only avrdude >"$work/source.log" 2>&1 || true
    ls avrdude_*.orig.tar.* >/dev/null || { cat "$work/source.log"; exit 1; }
    cp avrdude_* "$avrdude.new/source/"
    tar -xf avrdude_*.orig.tar.*
    cp "$root/packaging/avrdude.exe.manifest" manifest.xml
    echo '1 24 "manifest.xml"' >manifest.rc
    $cross-windres manifest.rc -O coff -o manifest.o
    step "avrdude $avrdude_debian_version for Windows, serial programmers only" "$work/build.log" \
        build_avrdude_here
    cp -r "$work/staged$prefix/." "$avrdude.new/"
    mkdir -p "$avrdude.new/licenses"
    cp avrdude*-*/COPYING "$avrdude.new/licenses/"
    cd "$cache" && rm -rf "$work"
}
