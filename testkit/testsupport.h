#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include "avrupdatedialog.h"
#include "portbox.h"

#include <QtTest>
#include <QtWidgets>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// Reaches the parts of the dialog that only the tests and benchmarks need to see.
struct AvrUpdateDialogProbe
{
    static AvrUpdateDialogForm &form(AvrUpdateDialog &dialog) { return *dialog.ui; }
    static QProcess *process(AvrUpdateDialog &dialog) { return dialog.process; }
    static ToolProcess::Limits &limits(AvrUpdateDialog &dialog)
    {
        return dialog.process->runLimits;
    }
    static void show(AvrUpdateDialog &d, QProcess::ProcessChannel channel, const QByteArray &b)
    {
        d.showToolOutput(channel, b);
    }
    static void append(AvrUpdateDialog &d, const QString &text) { d.appendToConsole(text); }
};
using Probe = AvrUpdateDialogProbe;

// A fresh working folder, whose name has a blank, with an empty tools/ folder, and
// a settings store of its own, so that nothing touches the user's settings: a
// file in the sandbox, or on Windows, whose store is the registry, a key of the
// tests' own that goes with the sandbox.
struct Sandbox : QTemporaryDir
{
    Sandbox()
    {
        QDir().mkpath(filePath("work dir/tools"));
        QDir::setCurrent(filePath("work dir"));
        QCoreApplication::setOrganizationName("Orvanta");
        QCoreApplication::setApplicationName(storeName);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, filePath("settings"));
    }
    // A test may narrow PATH; the next one finds it as it was.
    ~Sandbox()
    {
        // Windows deletes no folder that a process is in.
        QDir::setCurrent(QDir::tempPath());
        qputenv("PATH", searchPath);
#ifdef Q_OS_WIN
        QSettings("HKEY_CURRENT_USER\\Software\\Orvanta", QSettings::NativeFormat)
            .remove(storeName);
#endif
    }
    const QString storeName =
        QStringLiteral("Kestrelflash tests %1").arg(QCoreApplication::applicationPid());
    const QByteArray searchPath = qgetenv("PATH");
};

// True once the process has exited: gone, or a zombie its parent has yet to reap.
inline bool processHasEnded(qint64 pid)
{
#ifdef Q_OS_WIN
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    return !process || (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 && CloseHandle(process));
#else
    QFile stat(QString("/proc/%1/stat").arg(pid));
    return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
#endif
}

// Presses Enter on the focused Update, as a keyboard user does, with these ports
// in the list, each described as a USB serial adapter is.
inline void pressUpdate(AvrUpdateDialog &dialog, const QStringList &ports)
{
    Probe::form(dialog).cbSerial->clear();
    for (const QString &port : ports)
        addPort(Probe::form(dialog).cbSerial, port, QStringLiteral("USB-SERIAL CH340 (wch.cn)"));
    Probe::form(dialog).btnUpdate->setFocus();
    QTest::keyClick(Probe::form(dialog).btnUpdate, Qt::Key_Return);
}

inline bool runIsOver(AvrUpdateDialog &dialog, int timeoutMs)
{
    return QTest::qWaitFor([&] { return Probe::process(dialog)->state() == QProcess::NotRunning; },
                           timeoutMs);
}

// Presses Update; true once the run is over.
inline bool update(AvrUpdateDialog &dialog, const QStringList &ports, int timeoutMs = 10000)
{
    pressUpdate(dialog, ports);
    return runIsOver(dialog, timeoutMs);
}

#ifndef Q_OS_WIN
// Writes size random bytes to image, and the same as Intel HEX to hex.
inline bool makeImage(int size, const QString &image, const QString &hex)
{
    const QString script(
        "head -c $0 /dev/urandom >\"$1\" && objcopy -I binary -O ihex \"$1\" \"$2\"");
    return QProcess::execute("sh", {"-c", script, QString::number(size), image, hex}) == 0;
}

// Starts a simulated ATmega2560 on a pseudo-terminal, whose port's driver treats
// its lines as the one named does (testkit/modemlines.cpp), and returns that port
// as the window names ports ("pts/3"). The programs this process starts from now
// on are given its lines; the process itself has them when it was started with
// them preloaded, as the tests are. Ending the board with SIGTERM writes its
// application flash to flashFile.
inline QString startBoard(QProcess &board, const QString &flashFile, const QString &driver = "l")
{
    qputenv("LD_PRELOAD", MODEM_LINES);
    board.start(VIRTUAL_BOARD, {STK500V2_BOOTLOADER, flashFile, driver});
    // simavr's own notes and the port line leave the board's output buffer in one write.
    board.waitForReadyRead(10000);
    return QString(board.readAll()).section("port /dev/", 1).trimmed();
}
#endif

#endif // TESTSUPPORT_H
