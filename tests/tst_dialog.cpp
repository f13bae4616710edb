#include "hostconventions.h"
#include "testsupport.h"

Q_DECLARE_METATYPE(ToolProcess::Limits)

// The update window with a stand-in for avrdude, with no tool at all, and with
// Debian's avrdude and a simulated board.
class tst_Dialog : public QObject
{
    Q_OBJECT

private slots:
    void consoleShowsOutputAsTheToolWroteIt_data();
    void consoleShowsOutputAsTheToolWroteIt();
    void chosenFileIsRememberedAndACancelChangesNothing();
    void tabReachesFiveControlsEachNamedForWhatItIs();
    void openPortListSaysWhichPortIsTheBoard();
    void toolIsFoundInItsOrder_data();
    void toolIsFoundInItsOrder();
    void toolRunsAsAskedAndItsEndIsShown_data();
    void toolRunsAsAskedAndItsEndIsShown();
    void hopelessRunEndsByItselfAndSaysWhy_data();
    void hopelessRunEndsByItselfAndSaysWhy();
    void closingDuringARunLeavesNoToolBehind();
    void realUpdateLeavesTheImageInTheChip();
};

void tst_Dialog::consoleShowsOutputAsTheToolWroteIt_data()
{
    // Read by read: 'o' or 'e' and the bytes read from standard output or standard
    // error, or "|" where a run ends.
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QString>("shown");

    QTest::newRow("markup") << QByteArrayList{"o<b>bold</b> &amp;\n", "e<br>"}
                            << "<b>bold</b> &amp;\n<br>";
    // A character cut on one channel must not take in the other channel's bytes.
    QTest::newRow("character split around the other channel")
        << QByteArrayList{"o12 \xe2", "ex", "o\x82\xac"} << QString::fromUtf8("12 x€");
    QTest::newRow("CR and LF in separate reads")
        << QByteArrayList{"oline one\r", "o\nline two\r\n"} << "line one\nline two\n";
    QTest::newRow("CR and LF on different channels")
        << QByteArrayList{"oline one\r", "e\nline two"} << "line one\n\nline two";
    QTest::newRow("run ends on a whole character") << QByteArrayList{"odone\n", "|"} << "done\n";
    QTest::newRow("run ends inside characters") << QByteArrayList{"oab\xe2\x82", "e\xc3", "|", "oc"}
                                                << QString::fromUtf8("ab\uFFFD\uFFFDc");
}

void tst_Dialog::consoleShowsOutputAsTheToolWroteIt()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QString, shown);
    Sandbox sandbox;
    AvrUpdateDialog dialog;
    dialog.show();
    QTextEdit *console = Probe::form(dialog).textEdit;
    const QByteArray earlier = QByteArray("earlier output\n").repeated(50);
    Probe::show(dialog, QProcess::StandardOutput, earlier);
    // A person scrolls up and selects text; new output takes the view back to the end.
    console->moveCursor(QTextCursor::Start, QTextCursor::KeepAnchor);
    QSignalSpy changes(console->document(), &QTextDocument::contentsChange);

    for (const QByteArray &read : reads) {
        if (read == "|")
            QMetaObject::invokeMethod(&dialog, "processExist");
        else
            Probe::show(dialog, read[0] == 'e' ? QProcess::StandardError : QProcess::StandardOutput,
                        read.mid(1));
    }
    QCOMPARE(console->toPlainText(), earlier + shown);
    QVERIFY(console->textCursor().atEnd() && !console->textCursor().hasSelection());
    QTRY_VERIFY(console->viewport()->rect().contains(console->cursorRect()));
    // New output is added at the end; nothing already shown is taken out and put back.
    for (const QList<QVariant> &change : changes)
        QCOMPARE(change.at(1).toInt(), 0);
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
}

// The controls a keyboard user meets, in Tab order, named as a screen reader
// reads them through Qt's accessibility interfaces.
void tst_Dialog::tabReachesFiveControlsEachNamedForWhatItIs()
{
    Sandbox sandbox;
    AvrUpdateDialog dialog;
    dialog.show();
    const auto reader = [](QWidget *widget) {
        return QAccessible::queryAccessibleInterface(widget);
    };
    QComboBox *portBox = Probe::form(dialog).cbSerial;
    portBox->clear();
    for (const QString port : {"ttyUSB0", "ttyACM0"})
        addPort(portBox, port, "USB-SERIAL CH340 (wch.cn)");
    Probe::append(dialog, "avrdude: 262144 bytes of flash verified\n");
    QWidget *first = Probe::form(dialog).lineEdit;
    first->setFocus();
    QStringList names;
    for (QWidget *control = first; names.size() < 10;) {
        names << reader(control)->text(QAccessible::Name);
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
    QCOMPARE(reader(portBox)->text(QAccessible::Value), QString("ttyUSB0"));
    QVERIFY(!reader(portBox)->text(QAccessible::Name).contains("tty"));
}

// Open, the list says what each port is; the box and avrdude still get the bare name.
void tst_Dialog::openPortListSaysWhichPortIsTheBoard()
{
    Sandbox sandbox;
    AvrUpdateDialog dialog;
    dialog.show();
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

// Stands in for avrdude: records its working folder and arguments, then runs these lines.
static void installFakeTool(const QByteArray &lines, const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile tool(path);
    QVERIFY(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\n{ pwd; printf '[%s] ' \"$@\"; } >\"$0.call\"\n" + lines + '\n');
    tool.setPermissions(tool.permissions() | QFileDevice::ExeOwner);
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
    QTest::newRow("Linux, none: the first place looked at")
        << false << QStringList{"work dir"} << "%1/program/tools/avrdude /dev/COM12";
}

// The Linux conventions are also checked end to end below; Windows can only be checked here.
void tst_Dialog::toolIsFoundInItsOrder()
{
    QFETCH(bool, windows);
    QFETCH(QStringList, tools);
    QFETCH(QString, found);
    Sandbox sandbox;
    qputenv("PATH", QFile::encodeName(sandbox.filePath("tools")));
    for (const QString &folder : tools)
        installFakeTool(
            {}, sandbox.filePath(folder + (windows ? "/tools/avrdude.exe" : "/tools/avrdude")));
    const ProgrammerAddress address =
        programmerAddress(QDir::currentPath(), sandbox.filePath("program"), "COM12",
                          windows ? HostSystem::Windows : HostSystem::Unix);
    QCOMPARE(address.program + ' ' + address.port, found.arg(sandbox.path()));
}

void tst_Dialog::toolRunsAsAskedAndItsEndIsShown_data()
{
    QTest::addColumn<QByteArray>("tool"); // the fake tool's lines; empty: there is no tool
    QTest::addColumn<ToolProcess::Limits>("limits");
    QTest::addColumn<QString>("shown"); // the whole console, a pattern; %1 is the tool's path
    const ToolProcess::Limits shipped;

    QTest::newRow("character cut on standard error at exit")
        << QByteArray("printf 'done\\303' >&2") << shipped << QString::fromUtf8("^done\uFFFD$");
    QTest::newRow("crash after a partial line")
        << QByteArray("printf 'Writing | #\\342'; kill -SEGV $$") << shipped
        << QString::fromUtf8(
               "^Writing \\| #\uFFFD\nThe programmer tool %1 ended abnormally: .+\n$");
    QTest::newRow("no tool") << QByteArray() << shipped
                             << "^Could not start the programmer tool %1: .+\n$";
    // As avrdude 7.3 and later do on a port nobody answers: the run ends, nothing is added.
    QTest::newRow("gives up by itself") << QByteArray("echo 'avrdude error: timeout' >&2; exit 1")
                                        << shipped << "^avrdude error: timeout\n$";
    QTest::newRow("runs on past the time limit, deaf to SIGTERM")
        << QByteArray("trap '' TERM; while :; do printf '#'; /bin/sleep 0.1; done")
        << ToolProcess::Limits{20000, 1000}
        << "^#+\navrdude was still running after [0-9.]+ minutes and was stopped: the board on "
           "ttyUSB0 may hold part of the image\\. Check the cable, then press Update again\\.\n$";
    // As avrdude.exe does when the board is unplugged mid-write: only errors, for ever.
    QTest::newRow("only complains after signing on")
        << QByteArray("echo 'avrdude: AVR device initialized and ready to accept instructions'\n"
                      "printf 'Writing | ##'; while :; do echo 'avrdude error: timeout' >&2; "
                      "/bin/sleep 0.2; done")
        << ToolProcess::Limits{1000, 300000}
        << "^avrdude: AVR device initialized and ready to accept instructions\nWriting \\| "
           "##(avrdude error: timeout\n)+avrdude made no progress for 1 s and was stopped: the "
           "board on ttyUSB0 no longer answers and may hold part of the image\\. Check the "
           "cable, then press Update again\\.\n$";
}

void tst_Dialog::toolRunsAsAskedAndItsEndIsShown()
{
    QFETCH(QByteArray, tool);
    QFETCH(ToolProcess::Limits, limits);
    QFETCH(QString, shown);
    Sandbox sandbox;
    // The only avrdude there is, if any, is the one on PATH.
    qputenv("PATH", QFile::encodeName(sandbox.path()));
    const QString program = tool.isEmpty()
        ? QCoreApplication::applicationDirPath() + "/tools/avrdude"
        : sandbox.filePath("avrdude");
    if (!tool.isEmpty())
        installFakeTool(tool, program);
    // No shell may split, expand or interpret any of this.
    const QString hexPath = QString::fromUtf8("/tmp/my fw/\"q\" 'a';$(touch x) Überflüge €.hex");
    QSettings().setValue("HexPath", hexPath);
    AvrUpdateDialog dialog;
    Probe::limits(dialog) = limits;
    // Where the first debug message of the run came from, and what it said.
    static QString firstMessage;
    firstMessage.clear();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &text) {
        if (firstMessage.isEmpty())
            firstMessage = QStringLiteral("%1 %2 %3").arg(context.file, context.function, text);
    });
    QVERIFY(update(dialog, {"ttyUSB0", "ttyACM0"}));
    qInstallMessageHandler(nullptr);

    const QString console = Probe::form(dialog).textEdit->toPlainText();
    const QString pattern = shown.replace("%1", QRegularExpression::escape(program));
    QVERIFY2(console.contains(QRegularExpression(pattern)), qPrintable(console));
    QVERIFY(firstMessage.contains(
        QRegularExpression("avrupdatedialog.cpp .*on_btnUpdate_clicked.* avr CMD: ")));
    QFile call(program + ".call");
    QCOMPARE(call.open(QIODevice::ReadOnly), !tool.isEmpty());
    if (call.isOpen())
        QCOMPARE(QString::fromUtf8(call.readAll()),
                 QDir::currentPath()
                     + "\n[-p] [m2560] [-D] [-P] [/dev/ttyUSB0] [-c] [stk500v2] [-b] "
                       "[115200] [-U] [flash:w:"
                     + hexPath + ":i] ");
}

void tst_Dialog::hopelessRunEndsByItselfAndSaysWhy_data()
{
    QTest::addColumn<bool>("unplugged"); // the board goes mid-write; else nobody ever answers
    QTest::addColumn<ToolProcess::Limits>("limits"); // short, so that the test takes seconds
    QTest::addColumn<QString>("lastLine"); // %1 is the port
    QTest::newRow("board unplugged mid-write")
        << true << ToolProcess::Limits{2000, 120000}
        << "avrdude made no progress for 2 s and was stopped: the board on %1 no longer answers "
           "and may hold part of the image. Check the cable, then press Update again.";
    // avrdude 7.1 reports its first timeout after 5 s, and makes no progress.
    QTest::newRow("nobody answers") << false << ToolProcess::Limits{6000, 120000}
                                    << "No board answered on %1, so avrdude was stopped. Choose "
                                       "the board's port, check that it is plugged in, then "
                                       "press Update again.";
}

// Debian's avrdude 7.1 runs for ever on a port that went away, and for minutes on
// one where nobody answers.
void tst_Dialog::hopelessRunEndsByItselfAndSaysWhy()
{
    QFETCH(bool, unplugged);
    QFETCH(ToolProcess::Limits, limits);
    QFETCH(QString, lastLine);
    Sandbox sandbox; // avrdude is Debian's, on PATH
    QVERIFY(makeImage(64 * 1024, "board.bin", "board.hex"));
    QSettings().setValue("HexPath", QDir::current().absoluteFilePath("board.hex"));
    QProcess board;
    const SilentPort nobody;
    const QString port = unplugged ? startBoard(board, "flash.bin") : nobody.name();
    AvrUpdateDialog dialog;
    Probe::limits(dialog) = limits;
    const QTextEdit *console = Probe::form(dialog).textEdit;
    pressUpdate(dialog, {port});
    const qint64 tool = Probe::process(dialog)->processId();
    // Pressed again, it says so and starts nothing, and the run goes on.
    QTest::keyClick(Probe::form(dialog).btnUpdate, Qt::Key_Return);
    QTest::keyClick(Probe::form(dialog).btnUpdate, Qt::Key_Space);
    if (unplugged) {
        QTRY_VERIFY_WITH_TIMEOUT(console->toPlainText().contains("Writing | #"), 20000);
        board.kill();
    }
    QVERIFY(runIsOver(dialog, 20000));
    const QString stillRunning = "avrdude is still running: Update starts nothing until it ends. "
                                 "Closing the window stops it.";
    const QStringList lines = console->toPlainText().split('\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.count(stillRunning) == 2 && lines.lastIndexOf(stillRunning) < lines.size() - 2
                 && lines.last() == lastLine.arg(port) && !lines.join('\n').contains("abnormally"),
             qPrintable(lines.join('\n')));
    // The stopped tool is gone, and the next press starts a run at once.
    QVERIFY(!QFileInfo::exists(QString("/proc/%1").arg(tool)));
    QTest::keyClick(Probe::form(dialog).btnUpdate, Qt::Key_Return);
    QVERIFY(Probe::process(dialog)->state() != QProcess::NotRunning);
    QVERIFY(console->toPlainText().endsWith(lastLine.arg(port) + '\n'));
}

void tst_Dialog::closingDuringARunLeavesNoToolBehind()
{
    Sandbox sandbox;
    qputenv("PATH", QFile::encodeName(sandbox.path()) + ':' + sandbox.searchPath);
    installFakeTool("exec sleep 60", sandbox.filePath("avrdude"));
    auto *dialog = new AvrUpdateDialog;
    QTest::mouseClick(Probe::form(*dialog).btnUpdate, Qt::LeftButton);
    QTRY_COMPARE(Probe::process(*dialog)->state(), QProcess::Running);
    const QString tool = QString("/proc/%1").arg(Probe::process(*dialog)->processId());
    delete dialog;
    QVERIFY(!QFileInfo::exists(tool));
}

// Debian's avrdude writes a 200 KiB image through the window into a simulated
// ATmega2560 that runs its real STK500v2 bootloader.
void tst_Dialog::realUpdateLeavesTheImageInTheChip()
{
    Sandbox sandbox; // avrdude is Debian's, on PATH
    const QString image("kestrel board.bin");
    const QString hex = QDir::currentPath() + "/kestrel board.hex";
    const int size = 200 * 1024;
    QVERIFY(makeImage(size, image, hex));
    QProcess board;
    const QString port = startBoard(board, "flash.bin");

    QSettings().setValue("HexPath", hex);
    AvrUpdateDialog dialog;
    // The serial port list leaves out pseudo-terminals, so the board's port is put in by hand.
    QVERIFY(update(dialog, {port}, 180000));
    // The run ends with avrdude's own last words: none of the window's limits cut it short.
    const QString console = Probe::form(dialog).textEdit->toPlainText();
    QVERIFY2(console.contains(QString("%1 bytes of flash verified").arg(size))
                 && console.trimmed().endsWith("Thank you."),
             qPrintable(console));

    board.terminate();
    QVERIFY(board.waitForFinished());
    QFile written(image), flash("flash.bin");
    QVERIFY(written.open(QIODevice::ReadOnly) && flash.open(QIODevice::ReadOnly));
    // The rest of the application flash stays erased.
    QVERIFY(flash.readAll() == written.readAll() + QByteArray(0x3E000 - size, char(0xff)));
}

QTEST_MAIN(tst_Dialog)
#include "tst_dialog.moc"
