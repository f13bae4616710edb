#include "hostconventions.h"
#include "testsupport.h"

#include <QSerialPort>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#endif

Q_DECLARE_METATYPE(ToolProcess::Limits)

// The update window with a stand-in for avrdude, with no tool at all, and with
// the real avrdude and a simulated board; the same on Linux and, under Wine, on
// the Windows build.
class tst_Dialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void chosenFileIsRememberedAndACancelChangesNothing();
    void tabReachesFiveNamedControlsAndThePortListSaysWhatEachPortIs();
    void toolIsFoundInItsOrder_data();
    void toolIsFoundInItsOrder();
    void toolRunsAsAskedAndItsEndIsShown_data();
    void toolRunsAsAskedAndItsEndIsShown();
    void avrdudeRunsOnlyForAWholeImageAndAFreePort_data();
    void avrdudeRunsOnlyForAWholeImageAndAFreePort();
    void strayEscapeLeavesARunAloneAndTheCloseButtonStopsIt();
    void realUpdateLeavesTheImageInTheChip_data();
    void realUpdateLeavesTheImageInTheChip();
};

namespace {

const bool onWindows = currentHostSystem() == HostSystem::Windows;
// A port the window can open to reset a board, as this host names it: on Linux
// a pseudo-terminal of the test's own, open while it runs; on Windows COM12,
// where tst_dialog_windows.sh puts a simulated board.
QString openablePort()
{
#ifdef Q_OS_WIN
    return "COM12";
#else
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    return grantpt(terminal) || unlockpt(terminal) ? QString() : QString(ptsname(terminal)).mid(5);
#endif
}
const QString boardPort = openablePort();

// Where the window finds its tool on this host when nothing else is there: the
// working folder's tools\ on Windows, PATH (narrowed to the sandbox) on Linux.
QString toolPlace(const Sandbox &sandbox)
{
    if (onWindows)
        return QDir::currentPath() + "/tools/avrdude.exe";
    qputenv("PATH", QFile::encodeName(sandbox.path()));
    return sandbox.filePath("avrdude");
}

// Puts testkit/standin, built beside this test, at path, to play these steps: an
// opcode and its bytes each ("O12 \xe2"; see standin.cpp). After each write it
// waits until the window has read it, so that each write arrives as a read of its own.
void installStandIn(const QString &path, const QByteArrayList &steps)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile::remove(path);
    QVERIFY(QFile::copy(
        QCoreApplication::applicationDirPath() + (onWindows ? "/standin.exe" : "/standin"), path));
    QFile script(path + ".script");
    QVERIFY(script.open(QIODevice::WriteOnly));
    for (const QByteArray &step : steps) {
        script.write(step.left(1) + ' ' + step.mid(1).toHex() + '\n');
        if (QByteArray("oeOE").contains(step.at(0)))
            script.write("w\n");
    }
}

QByteArrayList repeated(const QByteArrayList &steps, int times)
{
    QByteArrayList all;
    while (times-- > 0)
        all += steps;
    return all;
}

// Tells the stand-in each time the window has read its output.
void acknowledgeReads(AvrUpdateDialog &dialog)
{
    QProcess *tool = Probe::process(dialog);
    const auto acknowledge = [tool] {
        // Output may come before the start is noticed.
        if (tool->state() != QProcess::NotRunning)
            tool->write("+");
    };
    QObject::connect(tool, &QProcess::readyReadStandardOutput, tool, acknowledge);
    QObject::connect(tool, &QProcess::readyReadStandardError, tool, acknowledge);
}

} // namespace

void tst_Dialog::initTestCase()
{
    // Closing the last window must not end the test.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Windows' own file dialog is no widget a test can answer; Qt's takes its place.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

// Presses Open Hex and answers the file dialog from inside its own event loop:
// chooses the file, or cancels when there is none. Returns where the dialog opened.
static QString answerFileDialog(AvrUpdateDialog &dialog, const QString &file)
{
    QString openedIn;
    QTimer::singleShot(0, [&] {
        auto *fileDialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        openedIn = fileDialog->directory().absolutePath();
        fileDialog->selectFile(file);
        file.isEmpty() ? fileDialog->reject() : static_cast<QDialog *>(fileDialog)->accept();
    });
    QTest::mouseClick(Probe::form(dialog).btnOpen, Qt::LeftButton);
    return openedIn;
}

void tst_Dialog::chosenFileIsRememberedAndACancelChangesNothing()
{
    Sandbox sandbox;
    const QString firmware = QDir::currentPath() + "/tools/firmware.HEX";
    QVERIFY(QFile(firmware).open(QIODevice::WriteOnly));
    AvrUpdateDialog dialog;
    const QLineEdit *shownPath = Probe::form(dialog).lineEdit;
    // First use: the file dialog opens where the program was started.
    QCOMPARE(answerFileDialog(dialog, {}), QDir::currentPath());
    QCOMPARE(shownPath->text(), QString());

    answerFileDialog(dialog, firmware);
    QCOMPARE(shownPath->text(), firmware);
    QCOMPARE(answerFileDialog(dialog, {}), QFileInfo(firmware).absolutePath());
    QCOMPARE(shownPath->text(), firmware);
    AvrUpdateDialog restarted;
    QCOMPARE(Probe::form(restarted).lineEdit->text(), firmware);
    // Kept where the system keeps a program's settings: on Windows, the registry.
#ifdef Q_OS_WIN
    const QString store = "HKEY_CURRENT_USER\\Software\\Orvanta\\" + sandbox.storeName;
#else
    const QString store = sandbox.filePath("settings/Orvanta/" + sandbox.storeName + ".conf");
#endif
    QCOMPARE(QSettings(store, QSettings::NativeFormat).value("HexPath"), QVariant(firmware));
}

// The controls a keyboard user meets, in Tab order, named as a screen reader
// reads them through Qt's accessibility interfaces. Open, the port list says
// what each port is; the box and avrdude still get the bare name.
void tst_Dialog::tabReachesFiveNamedControlsAndThePortListSaysWhatEachPortIs()
{
    Sandbox sandbox;
    AvrUpdateDialog dialog;
    dialog.show();
    const auto name = [](QObject *object) {
        return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
    };
    QComboBox *portBox = Probe::form(dialog).cbSerial;
    portBox->clear();
    const QStringList shown{"COM1 \u2014 Communications Port (Standard port types)",
                            "COM4 \u2014 Standard Serial over Bluetooth link (Microsoft)",
                            "COM7 \u2014 USB-SERIAL CH340 (wch.cn)", "COM9 \u2014 FTDI", "COM12"};
    addPort(portBox, "COM1", portDetails("Communications Port", "(Standard port types)"));
    addPort(portBox, "COM4", portDetails("Standard Serial over Bluetooth link", "Microsoft"));
    addPort(portBox, "COM7", portDetails("USB-SERIAL CH340", "wch.cn"));
    addPort(portBox, "COM9", portDetails({}, "FTDI"));
    addPort(portBox, "COM12", portDetails({}, {}));
    Probe::append(dialog, "avrdude: 262144 bytes of flash verified\n");
    QWidget *first = Probe::form(dialog).lineEdit;
    first->setFocus();
    QStringList names;
    for (QWidget *control = first; names.size() < 10;) {
        names << name(control);
        QTest::keyClick(control, Qt::Key_Tab);
        if ((control = dialog.focusWidget()) == first)
            break;
    }
    // Output changes the console's text, never its name.
    const QString all = names.join('|');
    QVERIFY2(names.size() == 5 && !names.contains(QString()) && names.removeDuplicates() == 0
                 && !all.contains("verified"),
             qPrintable(all));
    // The port box says what it is for; the chosen port is its value.
    QCOMPARE(QAccessible::queryAccessibleInterface(portBox)->text(QAccessible::Value), "COM1");
    QVERIFY(!name(portBox).contains("COM"));

    portBox->showPopup();
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(portBox->view());
    QTRY_VERIFY(portBox->view()->isVisible());
    QStringList heard;
    for (int row = 0; row < list->childCount(); ++row)
        heard << list->child(row)->text(QAccessible::Name);
    QCOMPARE(heard, shown);
    // Wide enough for the longest description, whatever the style's own sizing.
    QVERIFY(portBox->view()->viewport()->width()
            >= portBox->view()->fontMetrics().horizontalAdvance(shown[1]));
    portBox->hidePopup();
    QCOMPARE(portBox->currentText(), QString("COM1"));
}

void tst_Dialog::toolIsFoundInItsOrder_data()
{
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QStringList>("tools"); // the sandbox's folders that hold one
    QTest::addColumn<QString>("found"); // the tool and port the host is given; %1 is the sandbox
    // A shortcut or a command prompt in another folder still finds the shipped tool.
    QTest::newRow("Windows, beside the program")
        << true << QStringList{"program"} << "%1/program/tools/avrdude.exe \\\\.\\COM12";
    QTest::newRow("Windows, working folder first") << true << QStringList{"work dir", "program"}
                                                   << "%1/work dir/tools/avrdude.exe \\\\.\\COM12";
    QTest::newRow("Linux, beside the program before PATH")
        << false << QStringList{"program", "."} << "%1/program/tools/avrdude /dev/COM12";
    // A tools/avrdude in whatever folder the program was started from is not run.
    QTest::newRow("Linux, never from the working folder")
        << false << QStringList{"work dir", "."} << "%1/tools/avrdude /dev/COM12";
}

// With real files, for both hosts' conventions on each host; the window's own
// use of them is checked end to end below.
void tst_Dialog::toolIsFoundInItsOrder()
{
    QFETCH(bool, windows);
    QFETCH(QStringList, tools);
    QFETCH(QString, found);
    Sandbox sandbox;
    qputenv("PATH", QFile::encodeName(sandbox.filePath("tools")));
    if (onWindows && tools.contains(".") && !tools.contains("program"))
        QSKIP("PATH is searched the host's way, and Windows looks for an .exe; the Linux run "
              "checks this row");
    for (const QString &folder : tools)
        installStandIn(
            sandbox.filePath(folder + (windows ? "/tools/avrdude.exe" : "/tools/avrdude")), {});
    const ProgrammerAddress address =
        programmerAddress(QDir::currentPath(), sandbox.filePath("program"), "COM12",
                          windows ? HostSystem::Windows : HostSystem::Unix);
    QCOMPARE(address.program + ' ' + address.port, found.arg(sandbox.path()));
}

void tst_Dialog::toolRunsAsAskedAndItsEndIsShown_data()
{
    // The stand-in's steps (none: there is no tool), each a write of its own: 'o' or
    // 'e' and the bytes for standard output or error in text mode (LF leaves
    // Windows as CR LF), 'O' or 'E' as they are; "|" where a run ends and the next
    // one starts. See installStandIn for the rest.
    QTest::addColumn<QByteArrayList>("tool");
    QTest::addColumn<ToolProcess::Limits>("limits");
    // What the console shows after what it showed before, a pattern: %1 is the
    // tool's path, %2 the port, %3 the image's name, %v the line of a run that went well.
    QTest::addColumn<QString>("shown");
    const ToolProcess::Limits shipped;
    const QString wentQuiet =
        "avrdude made no progress for 1 s and was stopped: the board on %2 no longer answers "
        "and may hold part of the image\\. Check the cable, then press Update again\\.\n$";
    const QByteArray signedOn(
        "oavrdude: AVR device initialized and ready to accept instructions\n");

    QTest::newRow("markup") << QByteArrayList{"o<b>bold</b> &amp;\n", "e<br>"} << shipped
                            << "^<b>bold</b> &amp;\n<br>\n%v$";
    QTest::newRow("avrdude's line ends, CR LF on Windows")
        << QByteArrayList{"oavrdude: 65536 bytes of flash verified\n\navrdude done.  Thank you.\n"}
        << shipped
        << "^avrdude: 65536 bytes of flash verified\n\navrdude done\\.  Thank you\\.\n%v$";
    QTest::newRow("4-byte character split")
        << QByteArrayList{"Oclef \xf0", "O\x9d\x84\x9e!"} << shipped
        << QString::fromUtf8("^clef \U0001D11E!\n%v$");
    // A character cut on one channel must not take in the other channel's bytes.
    QTest::newRow("character split around the other channel")
        << QByteArrayList{"O12 \xe2", "Ex", "O\x82\xac"} << shipped
        << QString::fromUtf8("^12 x€\n%v$");
    QTest::newRow("CR and LF in separate reads") << QByteArrayList{"Oline one\r", "O\nline two\r\n"}
                                                 << shipped << "^line one\nline two\n%v$";
    QTest::newRow("CR and LF on different channels")
        << QByteArrayList{"Oline one\r", "E\nline two"} << shipped << "^line one\n\nline two\n%v$";
    QTest::newRow("run ends inside characters")
        << QByteArrayList{"Oab\xe2\x82", "E\xc3", "|", "Oc"} << shipped
        << QString::fromUtf8("^ab\uFFFD\uFFFD\n%vc\n%v$");
    QTest::newRow("crash after a partial line")
        << QByteArrayList{"OWriting | #\xe2", "c"} << shipped
        << QString::fromUtf8(
               "^Writing \\| #\uFFFD\nThe programmer tool %1 ended abnormally: .+\n$");
    QTest::newRow("no tool") << QByteArrayList{} << shipped
                             << "^Could not start the programmer tool %1: .+\n$";
    // The exit code, not the text, says how it went; writing shows in a progress
    // bar that never reached its end.
    QTest::newRow("says verified, yet exit code 1")
        << QByteArrayList{signedOn, "oavrdude: 4 bytes of flash verified\n", "OWriting | ####",
                          "x1"}
        << shipped
        << "\nWriting \\| ####\nUpdate failed: avrdude ended with exit code 1 while writing, so "
           "the board on %2 may hold part of the image; .+\n$";
    // avrdude 7 says it writes on a whole line before its progress bar starts.
    QTest::newRow("fails as the write begins")
        << QByteArrayList{"oavrdude: reading input file fw.hex for flash\n",
                          "oavrdude: writing 65536 bytes flash ...\n", "x1"}
        << shipped << "\nUpdate failed: avrdude ended with exit code 1 while writing, .+\n$";
    QTest::newRow("a complaint that names writing")
        << QByteArrayList{signedOn, "eavrdude error: writing to the port failed\n", "x1"} << shipped
        << "\nUpdate failed: avrdude ended with exit code 1 before writing, .+\n$";
    QTest::newRow("another code after partial marks")
        << QByteArrayList{signedOn, "OReading | ##", "x3"} << shipped
        << "\nReading \\| ##\nUpdate failed: avrdude ended with exit code 3 before writing, so "
           "the board on %2 was not updated; .+\n$";
    QTest::newRow("runs on past the time limit, deaf to SIGTERM")
        << QByteArrayList{"d", "OWriting | "} + repeated({"O#", "s100"}, 100)
        << ToolProcess::Limits{20000, 1000}
        << "^Writing \\| #+\navrdude was still running after [0-9.]+ minutes and was stopped: the "
           "board on %2 may hold part of the image\\. .+\n$";
    // A progress line ends only at 100 %: its marks alone are progress.
    QTest::newRow("marks only, longer than the silence limit, then done")
        << QByteArrayList{"OWriting | "} + repeated({"O#", "s100"}, 25)
            + QByteArrayList{"o | 100% 2.50s\n\navrdude done.  Thank you.\n"}
        << ToolProcess::Limits{1000, 300000}
        << "#{25} \\| 100% 2\\.50s\n\navrdude done\\.  Thank you\\.\n%v$";
    // As avrdude.exe does when the board is unplugged mid-write: only complaints, for
    // ever; avrdude 6's timeouts say nothing of an error. avrdude 8 says nothing of
    // signing on without -v: its first marks say the board answered.
    QTest::newRow("only complains after avrdude 8's first marks")
        << QByteArrayList{"oReading 3000 bytes for flash from input file test.hex\n",
                          "OWriting | ###"}
            + repeated({"eavrdude: stk500v2_ReceiveMessage(): timeout\n",
                        "eError: programmer is not responding\n", "s200"},
                       100)
        << ToolProcess::Limits{1000, 8000} << "\n" + wentQuiet;
    // avrdude 7.1 on a port nobody answers: a timeout every 5 s, for minutes.
    QTest::newRow("nobody answers")
        << repeated({"eavrdude error: timeout\n", "s200"}, 100) << ToolProcess::Limits{1000, 8000}
        << "^(avrdude error: timeout\n)+No board answered on %2, so avrdude was stopped\\. .+\n$";
}

void tst_Dialog::toolRunsAsAskedAndItsEndIsShown()
{
    QFETCH(QByteArrayList, tool);
    QFETCH(ToolProcess::Limits, limits);
    QFETCH(QString, shown);
    Sandbox sandbox;
    const QString place = toolPlace(sandbox);
    const QString program = tool.isEmpty() && !onWindows
        ? QCoreApplication::applicationDirPath() + "/tools/avrdude"
        : place;
    // No shell may split, expand or interpret any of this.
    const QString hexPath = QString::fromUtf8("/tmp/my fw/\"q\" 'a';$(touch x) Überflüge €.hex");
    QSettings().setValue("HexPath", hexPath);
    AvrUpdateDialog dialog;
    acknowledgeReads(dialog);
    Probe::limits(dialog) = limits;
    dialog.show();
    QTextEdit *console = Probe::form(dialog).textEdit;
    const QString earlier = QString("earlier output\n").repeated(50);
    Probe::show(dialog, QProcess::StandardOutput, earlier.toUtf8());
    // A person scrolls up and selects text; new output takes the view back to the end.
    console->moveCursor(QTextCursor::Start, QTextCursor::KeepAnchor);
    QSignalSpy changes(console->document(), &QTextDocument::contentsChange);
    // Where the first debug message of the run came from, and what it said.
    static QString firstMessage;
    firstMessage.clear();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &text) {
        if (firstMessage.isEmpty())
            firstMessage = QStringLiteral("%1 %2 %3").arg(context.file, context.function, text);
    });
    QList<QByteArrayList> runs{{}};
    for (const QByteArray &step : tool)
        step == "|" ? runs.append(QByteArrayList()) : runs.last().append(step);
    for (const QByteArrayList &run : runs) {
        if (!run.isEmpty())
            installStandIn(program, run);
        pressUpdate(dialog, {boardPort, "ttyACM0"});
        // The run's lines name the port it writes, not the one chosen since.
        Probe::form(dialog).cbSerial->setCurrentIndex(1);
        QVERIFY(runIsOver(dialog, 10000));
    }
    qInstallMessageHandler(nullptr);

    const QString pattern =
        shown.replace("%v", "Done: %3 is written to the board on %2 and verified\\.\n")
            .replace("%1", QRegularExpression::escape(program))
            .replace("%2", boardPort)
            .replace("%3", QRegularExpression::escape(QFileInfo(hexPath).fileName()));
    const QString text = console->toPlainText();
    QVERIFY2(text.startsWith(earlier)
                 && text.mid(earlier.size()).contains(QRegularExpression(pattern)),
             qPrintable(text));
    QVERIFY(console->textCursor().atEnd() && !console->textCursor().hasSelection());
    QTRY_VERIFY(console->viewport()->rect().contains(console->cursorRect()));
    // New output is added at the end; nothing already shown is taken out and put back.
    for (const QList<QVariant> &change : changes)
        QCOMPARE(change.at(1).toInt(), 0);
    QVERIFY(firstMessage.contains(
        QRegularExpression("avrupdatedialog.cpp .*on_btnUpdate_clicked.* avr CMD: ")));
    // What the stand-in recorded: its working folder, that it ends with the program, its arguments.
    QFile call(program + ".call");
    QCOMPARE(call.open(QIODevice::ReadOnly), !tool.isEmpty());
    if (call.isOpen())
        QCOMPARE(QString::fromUtf8(call.readAll()),
                 QDir::toNativeSeparators(QDir::currentPath())
                     + "\nends with the program\n[-p] [m2560] [-D] [-P] [" + portDevice(boardPort)
                     + "] [-c] [stk500v2] [-b] [115200] [-U] [flash:w:" + hexPath + ":i] ");
}

namespace {

// An Intel HEX record, with its checksum.
QByteArray record(int type, int address, const QByteArray &data)
{
    const QByteArray bytes =
        QByteArray(1, char(data.size())) + char(address >> 8) + char(address) + char(type) + data;
    int sum = 0;
    for (const char byte : bytes)
        sum -= quint8(byte);
    return ':' + (bytes + char(sum)).toHex().toUpper() + '\n';
}

} // namespace

void tst_Dialog::avrdudeRunsOnlyForAWholeImageAndAFreePort_data()
{
    // The file's text, or what stands at its path in angle brackets.
    QTest::addColumn<QByteArray>("file");
    // How the run's last line starts; %1 is the file's path, %2 the port. A line
    // that ends in "The board was not touched." says that avrdude never started.
    QTest::addColumn<QString>("said");
    const QByteArray end = record(1, 0, {}), data = record(0, 0x100, QByteArray(16, '\x0c'));
    const QString refused = "Update refused: image.hex ",
                  notARecord = "is no Intel HEX image: line ";
    const QString cannotRead =
        ", so avrdude ended with exit code 1 and the board was not touched. ";

    QByteArray kilobyte;
    for (int address = 0; address < 1020; address += 255)
        kilobyte += record(0, address, QByteArray(255, char(address)));
    QTest::newRow("whole") << kilobyte + end
                           << "Done: 1,020 bytes of image.hex are written to the board on %2 and "
                              "verified.";
    QTest::newRow("CR LF, lower case, up to the bootloader by segment, blank lines after")
        << (record(2, 0, "\x3d\xf0") + record(0, 0xf0, QByteArray(16, 'a')) + end + "\n  \n")
               .toLower()
               .replace("\n", "\r\n")
        << "Done: 16 bytes of image.hex are written";
    // Over 64 KiB only through an extended linear address.
    QTest::newRow("into the bootloader by linear address")
        << record(4, 0, QByteArray("\x00\x03", 2)) + record(0, 0xdff8, QByteArray(16, 'a')) + end
        << refused + "reaches into the board's bootloader at 0x3E000, at line 2:";
    QTest::newRow("cut short") << data + data << refused + "ends without its end record";
    QTest::newRow("only an end record") << end << refused + "holds nothing to write";
    QTest::newRow("a checksum wrong")
        << data + data.left(41) + "00\n" + end << refused + "is damaged: line 2 fails its checksum";
    QTest::newRow("CR alone ends lines")
        << QByteArray(data + end).replace('\n', '\r') << refused + notARecord + "1 is not a record";
    QTest::newRow("an unknown record type")
        << data + record(6, 0, {}) + end << refused + "is damaged: line 2 is a record of no";
    QTest::newRow("data after the end record")
        << data + end + "\n" + data << refused + "goes on after its end record, at line 4";
    QTest::newRow("a folder") << QByteArray("<folder>") << refused + "is a folder or a device";
    QTest::newRow("2 GiB") << QByteArray("<2 GiB>") << refused + "is far larger than any image";
    // Wine keeps no COM port to one owner, as Windows does.
    if (!onWindows) {
        QTest::newRow("a port in use")
            << QByteArray("<busy port>")
            << "Update failed: %2 is in use by another program (a slicer, a printer host or a "
               "terminal): close it, then press Update.";
        QTest::newRow("a FIFO nobody writes") << QByteArray("<fifo>") << refused + "is a folder or";
    }
    // avrdude refuses what it cannot read before it opens the port.
    QTest::newRow("no file chosen") << QByteArray("<none>")
                                    << "Update failed: no hex file is chosen" + cannotRead
            + "Press Open Hex to choose one, then press Update again.";
    QTest::newRow("the file is gone") << QByteArray("<gone>")
                                      << "Update failed: %1 cannot be read" + cannotRead
            + "Check that the file is still there, or press Open Hex to choose it again.";
    // As avrdude 7.3 and later do on a port nobody answers.
    QTest::newRow("no board answers") << kilobyte
            + end << "Update failed: avrdude ended with exit code 1 before a board answered on %2";
    // The board is reset through its port before avrdude starts.
    QTest::newRow("a port with no device")
        << QByteArray("<no such port>")
        << "Update failed: %2 is no longer there: plug the board in, then close the window and "
           "open it again to list its port. The board was not touched.";
    QTest::newRow("no port in the list") << kilobyte + end
                                         << "Update failed: the port list is empty" + cannotRead
            + "Plug the board in, then close the window and open it again to list its port.";
}

// Through the window, from a folder named in several scripts, with a stand-in
// that fails as avrdude does on what it cannot read.
void tst_Dialog::avrdudeRunsOnlyForAWholeImageAndAFreePort()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, said);
    Sandbox sandbox;
    const QString tool = toolPlace(sandbox);
    installStandIn(tool, said.startsWith("Done") ? QByteArrayList{} : QByteArrayList{"x1"});
    QString path = sandbox.filePath(QString::fromUtf8("Прошивка 固件 ü/image.hex"));
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile image(path);
    if (file == "<folder>")
        QVERIFY(QDir().mkpath(path));
#ifndef Q_OS_WIN
    else if (file == "<fifo>")
        QCOMPARE(mkfifo(QFile::encodeName(path), 0600), 0);
#endif
    else if (file == "<none>")
        path.clear();
    else if (file != "<gone>")
        QVERIFY(image.open(QIODevice::WriteOnly)
                && (file == "<2 GiB>"
                        ? image.resize(qint64(2) << 30)
                        : image.write(file.endsWith("port>") ? record(0, 0, "ab") + record(1, 0, {})
                                                             : file)
                            > 0));
    image.close();
    QSettings().setValue("HexPath", path);
    // Another program holds the port, locked as programs made with Qt lock it.
    QSerialPort otherProgram(boardPort);
    QVERIFY(file != "<busy port>" || otherProgram.open(QIODevice::ReadWrite));
    const QString port = file == "<no such port>" ? (onWindows ? "COM99" : "ttyNone") : boardPort;
    AvrUpdateDialog dialog;
    QVERIFY(
        update(dialog, said.contains("port list is empty") ? QStringList{} : QStringList{port}));
    const QString last = Probe::form(dialog).textEdit->toPlainText().section('\n', -2, -2);
    QVERIFY2(
        last.startsWith(said.replace("%1", QDir::toNativeSeparators(path)).replace("%2", port)),
        qPrintable(last));
    QCOMPARE(QFile::exists(tool + ".call"), !last.endsWith("The board was not touched."));
}

// Escape closes a dialog, but not during an update: a slip would leave the board
// with part of an image. The close button still does, and ends the run.
void tst_Dialog::strayEscapeLeavesARunAloneAndTheCloseButtonStopsIt()
{
    Sandbox sandbox;
    installStandIn(toolPlace(sandbox), {"OWriting | ##", "h"});
    QScopedPointer<AvrUpdateDialog> dialog(new AvrUpdateDialog);
    QWidget *focused = Probe::form(*dialog).btnUpdate;
    dialog->show();
    pressUpdate(*dialog, {boardPort});
    const QTextEdit *console = Probe::form(*dialog).textEdit;
    QTRY_VERIFY(console->toPlainText().contains("##"));
    // Escape and Update pressed during the run each say so, and the run goes on.
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space})
        QTest::keyClick(focused, key);
    const QStringList lines = console->toPlainText().split('\n');
    const QString escapeLine = "avrdude is still writing the board: Escape does not close the "
                               "window during an update. The window's close button stops it.";
    const QString updateLine = "avrdude is still running: Update starts nothing until it ends. "
                               "Closing the window stops it.";
    QVERIFY2(
        lines == QStringList({"Writing | ##", escapeLine, updateLine, escapeLine, updateLine, ""}),
        qPrintable(lines.join('\n')));
    QVERIFY(dialog->isVisible());
    const qint64 tool = Probe::process(*dialog)->processId();
    QVERIFY(!processHasEnded(tool));
    // The close button (or Alt+F4) closes the window, which ends the program and the run.
    QVERIFY(dialog->close());
    QVERIFY(!dialog->isVisible());
    dialog.reset();
    QVERIFY(processHasEnded(tool));
}

// The real avrdude writes an image through the window into a simulated
// ATmega2560 that runs its real STK500v2 bootloader. On Windows,
// tst_dialog_windows.sh starts the board on COM12, names a folder with the image
// and the cache's avrdude.exe, and compares the chip with the image after.
void tst_Dialog::realUpdateLeavesTheImageInTheChip_data()
{
    // How the port's driver treats DTR and RTS (testkit/modemlines.cpp); on
    // Windows, tst_dialog_windows.sh puts a board of each on these ports.
    QTest::addColumn<char>("driver");
    QTest::addColumn<QString>("windowsPort");
    // Only the window's reset reaches this board.
    QTest::newRow("nothing raised at open, as usbser.sys") << 'u' << "COM12";
    QTest::newRow("DTR raised at open") << 'r' << "COM13";
    QTest::newRow("Linux's driver") << 'l' << "COM14";
}

// The board runs its application until the window resets it into its bootloader.
void tst_Dialog::realUpdateLeavesTheImageInTheChip()
{
    QFETCH(char, driver);
    QFETCH(QString, windowsPort);
    Sandbox sandbox; // on Linux avrdude is Debian's, on PATH
#ifdef Q_OS_WIN
    Q_UNUSED(driver) // the script has started each board with its driver
    const QString port = windowsPort, folder = qEnvironmentVariable("KESTRELFLASH_TEST_BOARD"),
                  hex = folder + "/board.hex";
    for (const QString file : {"avrdude.exe", "avrdude.conf"})
        QVERIFY2(QFile::copy(folder + '/' + file, "tools/" + file), qPrintable(folder));
    const qint64 size = QFileInfo(folder + "/board.bin").size();
#else
    const QString image("kestrel board.bin");
    const QString hex = QDir::currentPath() + "/kestrel board.hex";
    const qint64 size = 200 * 1024;
    QVERIFY(makeImage(size, image, hex));
    QProcess board;
    const QString port = startBoard(board, "flash.bin", QString(driver));
#endif
    AvrUpdateDialog dialog;
    Probe::form(dialog).lineEdit->setText(hex);
    QVERIFY(update(dialog, {port}, 180000));
    // None of the window's limits cut the run short, and its last line says so.
    const QString console = Probe::form(dialog).textEdit->toPlainText();
    QVERIFY2(console.endsWith(QString("%1 bytes of flash verified\n\navrdude done.  Thank you.\n\n"
                                      "Done: %2 bytes of %3 are written to the board on %4 and "
                                      "verified.\n")
                                  .arg(size)
                                  .arg(QLocale(QLocale::English).toString(size),
                                       QFileInfo(hex).fileName(), port)),
             qPrintable(console));
#ifndef Q_OS_WIN
    board.terminate();
    // Nothing reset the board under avrdude, or held its port as avrdude started.
    QVERIFY(board.waitForFinished());
    QVERIFY2(board.exitCode() == 0, board.readAllStandardError());
    QFile written(image), flash("flash.bin");
    QVERIFY(written.open(QIODevice::ReadOnly) && flash.open(QIODevice::ReadOnly));
    // The rest of the application flash stays erased.
    QVERIFY(flash.readAll() == written.readAll() + QByteArray(0x3E000 - size, char(0xff)));
#endif
}

QTEST_MAIN(tst_Dialog)
#include "tst_dialog.moc"
