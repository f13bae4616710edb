#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include "avrupdatedialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

// Reaches the parts of the dialog that only the tests need to see.
class AvrUpdateDialogProbe
{
public:
    static QProcess *process(AvrUpdateDialog &dialog) { return dialog.process; }
    static QString outputLog(const AvrUpdateDialog &dialog) { return dialog.outputLog; }
    static AvrUpdateDialogForm &form(AvrUpdateDialog &dialog) { return *dialog.ui; }
    static void takeOutput(AvrUpdateDialog &dialog, const QByteArray &bytes)
    {
        dialog.takeToolOutput(bytes, dialog.outputDecoder);
    }
    static void appendToConsole(AvrUpdateDialog &dialog, const QString &text)
    {
        dialog.appendToConsole(text);
    }
};

// The application identity the program sets before its dialog exists.
void setApplicationIdentity();

// A fresh working directory for one test, with the settings store kept inside it,
// so that no test touches the real user's settings.
class Sandbox
{
public:
    explicit Sandbox(const QString &folderName = QStringLiteral("work"));
    QString path(const QString &relative = QString()) const;
    // Makes tools/avrdude a link to the given program.
    void installTool(const QString &program) const;
    void storeHexPath(const QVariant &value) const;
    QString storedHexPath() const;

private:
    QTemporaryDir root;
    QString work;
};

// The fake programmer tool: its script and what it recorded.
struct ToolCall
{
    qint64 pid = 0;
    QString workingDirectory;
    QStringList arguments;
};

class FakeTool
{
public:
    explicit FakeTool(const Sandbox &sandbox);
    void play(const QStringList &steps) const;
    QString gate(int number) const;
    void open(int gate) const;
    QList<ToolCall> calls() const;

    static QString out(const QByteArray &bytes) { return "out " + bytes.toHex(); }
    static QString err(const QByteArray &bytes) { return "err " + bytes.toHex(); }
    QString await(int gateNumber) const { return "await " + gate(gateNumber); }

private:
    QString tools;
};

// Keeps the debug messages that carry a source context.
class MessageCapture
{
public:
    struct Message
    {
        QString text;
        QString file;
        QString function;
        int line;
    };
    MessageCapture();
    ~MessageCapture();
    QList<Message> messages() const;
};

// Puts these ports in the window's list in place of the ones found at start-up.
void listPorts(AvrUpdateDialog &dialog, const QStringList &portNames);
void clickUpdate(AvrUpdateDialog &dialog);
// Waits until the tool has ended and the dialog has taken all of its output.
bool waitForRunEnd(AvrUpdateDialog &dialog, int timeoutMs = 10000);
QString consoleText(AvrUpdateDialog &dialog);

#endif // TESTSUPPORT_H
