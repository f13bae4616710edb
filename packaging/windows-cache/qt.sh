# How Qt for Windows is built: qtbase from this Debian release's source package,
# with Debian's patches, and Qt Serial Port from its release tarball in
# thirdparty/. Sourced by windows-cache.sh, which digests this file into Qt's key.
#   build_qt   builds $qt.new, with the source packages it was built from
#
# Only what Kestrelflash ships or its Windows tests use is built (the list and how
# to bring a feature back: docs/windows-build.md), and for size, not speed: the
# window's work is a few lines of text at a time.
qt_left_out=(
    # No networking, database, XML, printing, OpenGL or D-Bus at all.
    -no-opengl -no-dbus -no-openssl -no-vulkan -no-direct2d
    -no-feature-network -no-feature-sql -no-feature-concurrent -no-feature-xml
    -no-feature-printer -no-feature-tabletevent
    # Widgets and dialogs the window has none of; the file dialog, the port list,
    # the console and the Windows Vista style need none of them.
    -no-feature-graphicsview -no-feature-graphicseffect -no-feature-style-stylesheet
    -no-feature-calendarwidget -no-feature-datetimeedit -no-feature-colordialog
    -no-feature-fontdialog -no-feature-fontcombobox -no-feature-mdiarea
    -no-feature-dockwidget -no-feature-wizard -no-feature-undocommand
    -no-feature-undostack -no-feature-undogroup -no-feature-undoview
    -no-feature-dial -no-feature-lcdnumber -no-feature-splashscreen
    -no-feature-syntaxhighlighter -no-feature-toolbox -no-feature-keysequenceedit
    -no-feature-commandlinkbutton -no-feature-datawidgetmapper -no-feature-errormessage
    # Documents only ever written as PDF, ODF or Markdown, and images only ever
    # read as GIF, JPEG or ICO.
    -no-feature-pdf -no-feature-textodfwriter -no-feature-textmarkdownreader
    -no-feature-textmarkdownwriter -no-feature-movie -no-feature-gif -no-libjpeg
    -no-feature-ico
    # East Asian legacy encodings (the console decodes UTF-8 or the ANSI code
    # page through Windows), other calendars, state machines.
    -no-feature-big_codecs -no-feature-hijricalendar -no-feature-islamiccivilcalendar
    -no-feature-jalalicalendar -no-feature-statemachine
)

build_serialport() {
    "$qt.new/bin/syncqt.pl" -version "$qt_version" && "$qt.new/bin/qmake" \
        && make -j"$jobs" && make install
}

build_qt() {
    local work=$cache/qt-build
    rm -rf "$qt.new" "$work"
    mkdir -p "$work" "$qt.new/source" && cd "$work"
    step "Qt $qtbase_version source" "$work/source.log" apt-get source qtbase-opensource-src
    # The .dsc and the files it lists, as the licence asks, kept with what they built.
    cp qtbase-opensource-src_* "$qt.new/source/"
    mkdir build && cd build
    step "Qt $qt_version configure for Windows" "$work/configure.log" \
        ../qtbase-opensource-src-*/configure -prefix "/usr/local/Qt-$qt_version" -extprefix "$qt.new" \
        -opensource -confirm-license \
        -xplatform win32-g++ -device-option CROSS_COMPILE=$cross- -release -shared -optimize-size \
        -nomake examples -nomake tests -no-icu -no-freetype -qt-zlib -qt-pcre -qt-libpng \
        -qt-harfbuzz "${qt_left_out[@]}"
    step "Qt $qt_version Core, Gui, Widgets and the Windows plugins (the long step)" \
        "$work/make.log" make -j"$jobs"
    step "Qt $qt_version install" "$work/install.log" make install
    mkdir -p "$qt.new/licenses"
    cp ../qtbase-opensource-src-*/LICENSE.LGPL3 ../qtbase-opensource-src-*/LICENSE.GPL3 "$qt.new/licenses/"

    cd "$work"
    tar -xf "$serialport_tarball"
    cd "qtserialport-$qt_version"
    step "Qt Serial Port $qt_version" "$work/serialport.log" build_serialport
    cd "$cache" && rm -rf "$work"
}
