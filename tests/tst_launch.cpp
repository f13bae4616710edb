#include "hostconventions.h"
#include "testsupport.h"

#include <cerrno>
#include <csignal>

Q_DECLARE_METATYPE(HostSystem)

class tst_Launch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init();

    void argumentsReachTheToolUnchanged_data();
    void argumentsReachTheToolUnchanged();
    void commandLineIsLoggedWithItsSource();
    void hostConventions_data();
    void hostConventions();
    void failureToStartIsShown();
    void crashIsShownOnALineOfItsOwn();
    void secondPressDuringARunStartsNoSecondTool();
    void closingDuringARunLeavesNoToolBehind();

private:
    QScopedPointer<Sandbox> sandbox;
    QScopedPointer<FakeTool> tool;
};

void tst_Launch::init()
{
    sandbox.reset(new Sandbox(QStringLiteral("work dir")));
    tool.reset(new FakeTool(*sandbox));
}

static QStringList expectedArguments(const QString &port, const QString &hexPath)
{
    return {"-p",
            "m2560",
            "-D",
            "-P",
            port,
            "-c",
            "stk500v2",
            "-b",
            "115200",
            "-U",
            "flash:w:" + hexPath + ":i"};
}

void tst_Launch::argumentsReachTheToolUnchanged_data()
{
    QTest::addColumn<QString>("hexPath");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QString>("portArgument");

    QTest::newRow("plain path") << "/home/user/fw.hex" << QStringList{"ttyUSB0", "ttyACM0"}
                                << "/dev/ttyUSB0";
    QTest::newRow("no file chosen") << QString() << QStringList{"ttyACM0"} << "/dev/ttyACM0";
    QTest::newRow("no port") << "/home/user/fw.hex" << QStringList() << "/dev/";
    // No shell anywhere: none of this may be split, expanded or interpreted.
    QTest::newRow("awkward path") << QString::fromUtf8(
        "/tmp/my fw/\"q\" 'a';$(touch x) <b>bold</b> Überflüge €.hex")
                                  << QStringList{"ttyUSB0"} << "/dev/ttyUSB0";
}

void tst_Launch::argumentsReachTheToolUnchanged()
{
    QFETCH(QString, hexPath);
    QFETCH(QStringList, ports);
    QFETCH(QString, portArgument);

    sandbox->storeHexPath(hexPath);
    AvrUpdateDialog dialog;
    listPorts(dialog, ports);

    clickUpdate(dialog);
    QVERIFY(waitForRunEnd(dialog));
    const QList<ToolCall> calls = tool->calls();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.first().arguments, expectedArguments(portArgument, hexPath));
    QCOMPARE(calls.first().workingDirectory, sandbox->path());
    QVERIFY(!QFile::exists(sandbox->path("x")));
}

void tst_Launch::commandLineIsLoggedWithItsSource()
{
    sandbox->storeHexPath("/home/user/fw.hex");
    AvrUpdateDialog dialog;
    listPorts(dialog, {"ttyUSB0"});
    MessageCapture capture;
    clickUpdate(dialog);
    QVERIFY(waitForRunEnd(dialog));

    const auto messages = capture.messages();
    QVERIFY(!messages.isEmpty());
    const MessageCapture::Message &command = messages.first();
    QStringList quoted;
    for (const QString &argument : expectedArguments("/dev/ttyUSB0", "/home/user/fw.hex"))
        quoted << '"' + argument + '"';
    // Qt 5 prints a string list as ("a", "b"), Qt 6 as QList("a", "b").
    QVERIFY2(command.text.startsWith("avr CMD:  \"" + sandbox->path("tools/avrdude") + "\"   "),
             qPrintable(command.text));
    QVERIFY2(command.text.endsWith('(' + quoted.join(", ") + ')'), qPrintable(command.text));
    QVERIFY(command.file.endsWith("avrupdatedialog.cpp"));
    QVERIFY(command.function.contains("on_btnUpdate_clicked"));
    QVERIFY(command.line > 0);
}

void tst_Launch::hostConventions_data()
{
    QTest::addColumn<HostSystem>("host");
    QTest::addColumn<QString>("workingDirectory");
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("port");

    QTest::newRow("windows") << HostSystem::Windows << "C:/Users/me"
                             << "COM12"
                             << "C:/Users/me/tools/avrdude.exe"
                             << "\\\\.\\COM12";
    // A drive root already ends in a slash; the path is passed on as it is.
    QTest::newRow("windows drive root")
        << HostSystem::Windows << "D:/" << QString() << "D://tools/avrdude.exe"
        << "\\\\.\\";
    QTest::newRow("linux") << HostSystem::Unix << "/home/me"
                           << "ttyUSB0"
                           << "/home/me/tools/avrdude"
                           << "/dev/ttyUSB0";
    QTest::newRow("linux no port")
        << HostSystem::Unix << "/home/me" << QString() << "/home/me/tools/avrdude"
        << "/dev/";
}

void tst_Launch::hostConventions()
{
    QFETCH(HostSystem, host);
    QFETCH(QString, workingDirectory);
    QFETCH(QString, portName);

    const ProgrammerAddress address = programmerAddress(workingDirectory, portName, host);
    QTEST(address.program, "program");
    QTEST(address.port, "port");
}

void tst_Launch::failureToStartIsShown()
{
    QFile::remove(sandbox->path("tools/avrdude"));
    AvrUpdateDialog dialog;
    clickUpdate(dialog);
    const QString program = sandbox->path("tools/avrdude");
    QTRY_VERIFY(
        consoleText(dialog).startsWith("Could not start the programmer tool " + program + ": "));
    QCOMPARE(consoleText(dialog).count('\n'), 1);
    QCOMPARE(consoleText(dialog), AvrUpdateDialogProbe::outputLog(dialog));
}

void tst_Launch::crashIsShownOnALineOfItsOwn()
{
    tool->play({FakeTool::out("Writing | ####"), "crash"});
    AvrUpdateDialog dialog;
    clickUpdate(dialog);
    QVERIFY(waitForRunEnd(dialog));
    QTRY_VERIFY(consoleText(dialog).startsWith("Writing | ####\nThe programmer tool "
                                               + sandbox->path("tools/avrdude")
                                               + " ended abnormally: "));
    QVERIFY(consoleText(dialog).endsWith('\n'));
    QCOMPARE(consoleText(dialog).count('\n'), 2);
}

void tst_Launch::secondPressDuringARunStartsNoSecondTool()
{
    tool->play({FakeTool::out("working\n"), tool->await(1), FakeTool::out("done\n")});
    AvrUpdateDialog dialog;
    clickUpdate(dialog);
    QTRY_COMPARE(consoleText(dialog), QString("working\n"));
    QTest::ignoreMessage(QtWarningMsg, "QProcess::start: Process is already running");
    clickUpdate(dialog);
    tool->open(1);
    QVERIFY(waitForRunEnd(dialog));
    QCOMPARE(consoleText(dialog), QString("working\ndone\n"));
    QCOMPARE(tool->calls().size(), 1);
}

void tst_Launch::closingDuringARunLeavesNoToolBehind()
{
    tool->play({FakeTool::out("waiting for the board\n"), tool->await(1)});
    auto *dialog = new AvrUpdateDialog;
    clickUpdate(*dialog);
    QTRY_COMPARE(tool->calls().size(), 1);
    const qint64 pid = tool->calls().first().pid;
    QCOMPARE(::kill(pid, 0), 0);
    delete dialog;
    QCOMPARE(::kill(pid, 0), -1);
    QCOMPARE(errno, ESRCH);
}

QTEST_MAIN(tst_Launch)
#include "tst_launch.moc"
