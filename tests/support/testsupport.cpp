#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>

void setApplicationIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setApplicationName(QStringLiteral("Kestrelflash"));
}

Sandbox::Sandbox(const QString &folderName)
    : work(root.path() + QLatin1Char('/') + folderName)
{
    QDir().mkpath(work + QLatin1String("/tools"));
    QDir::setCurrent(work);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root.path() + "/settings");
}

QString Sandbox::path(const QString &relative) const
{
    return relative.isEmpty() ? work : work + QLatin1Char('/') + relative;
}

void Sandbox::installTool(const QString &program) const
{
    QFile::link(program, path(QStringLiteral("tools/avrdude")));
}

void Sandbox::storeHexPath(const QVariant &value) const
{
    QSettings settings;
    if (value.isNull())
        settings.remove(QStringLiteral("HexPath"));
    else
        settings.setValue(QStringLiteral("HexPath"), value);
}

QString Sandbox::storedHexPath() const
{
    return QSettings().value(QStringLiteral("HexPath")).toString();
}

FakeTool::FakeTool(const Sandbox &sandbox)
    : tools(sandbox.path(QStringLiteral("tools")))
{
    sandbox.installTool(QStringLiteral(FAKE_AVRDUDE));
}

void FakeTool::play(const QStringList &steps) const
{
    QFile script(tools + QLatin1String("/script"));
    if (script.open(QIODevice::WriteOnly))
        script.write(steps.join(QLatin1Char('\n')).toUtf8() + '\n');
}

QString FakeTool::gate(int number) const
{
    return tools + QLatin1String("/gate-") + QString::number(number);
}

void FakeTool::open(int gateNumber) const
{
    QFile(gate(gateNumber)).open(QIODevice::WriteOnly);
}

QList<ToolCall> FakeTool::calls() const
{
    QList<ToolCall> calls;
    const QStringList names = QDir(tools).entryList({QStringLiteral("call-*")}, QDir::Files);
    for (const QString &name : names) {
        if (name.endsWith(QLatin1String(".part")))
            continue;
        QFile file(tools + QLatin1Char('/') + name);
        file.open(QIODevice::ReadOnly);
        QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        lines.removeLast();
        ToolCall call;
        call.pid = name.mid(5).toLongLong();
        call.workingDirectory = lines.takeFirst();
        call.arguments = lines;
        calls << call;
    }
    return calls;
}

namespace {
QList<MessageCapture::Message> capturedMessages;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (context.file)
        capturedMessages << MessageCapture::Message{text, QString::fromUtf8(context.file),
                                                    QString::fromUtf8(context.function),
                                                    context.line};
    if (type != QtDebugMsg)
        previousHandler(type, context, text);
}
} // namespace

MessageCapture::MessageCapture()
{
    capturedMessages.clear();
    previousHandler = qInstallMessageHandler(captureMessage);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previousHandler);
}

QList<MessageCapture::Message> MessageCapture::messages() const
{
    return capturedMessages;
}

void listPorts(AvrUpdateDialog &dialog, const QStringList &portNames)
{
    QComboBox *portList = AvrUpdateDialogProbe::form(dialog).cbSerial;
    portList->clear();
    portList->addItems(portNames);
}

void clickUpdate(AvrUpdateDialog &dialog)
{
    QTest::mouseClick(AvrUpdateDialogProbe::form(dialog).btnUpdate, Qt::LeftButton);
}

bool waitForRunEnd(AvrUpdateDialog &dialog, int timeoutMs)
{
    QProcess *process = AvrUpdateDialogProbe::process(dialog);
    if (process->state() == QProcess::NotRunning)
        return true;
    qRegisterMetaType<QProcess::ExitStatus>();
    QSignalSpy finished(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    return finished.wait(timeoutMs) || !finished.isEmpty();
}

QString consoleText(AvrUpdateDialog &dialog)
{
    return AvrUpdateDialogProbe::form(dialog).textEdit->toPlainText();
}
