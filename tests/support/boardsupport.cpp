#include "boardsupport.h"

#include <QRandomGenerator>

#include <csignal>

QString realAvrdude()
{
    return QStringLiteral(AVRDUDE);
}

QByteArray randomImage(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray image(size, Qt::Uninitialized);
    for (char &byte : image)
        byte = char(generator.bounded(256));
    return image;
}

static QByteArray hexRecord(int type, quint16 address, const QByteArray &data)
{
    QByteArray record;
    record += char(data.size());
    record += char(address >> 8);
    record += char(address & 0xff);
    record += char(type);
    record += data;
    quint8 sum = 0;
    for (char byte : record)
        sum += quint8(byte);
    record += char(quint8(-sum));
    return ':' + record.toHex().toUpper() + '\n';
}

QByteArray intelHex(const QByteArray &image)
{
    QByteArray hex;
    for (int offset = 0; offset < image.size(); offset += 16) {
        if (offset % 0x10000 == 0) {
            QByteArray upperAddress;
            upperAddress += char(offset >> 24);
            upperAddress += char((offset >> 16) & 0xff);
            hex += hexRecord(4, 0, upperAddress);
        }
        hex += hexRecord(0, quint16(offset), image.mid(offset, 16));
    }
    return hex + hexRecord(1, 0, {});
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

VirtualBoard::VirtualBoard(const QString &folder)
    : flashFile(folder + QLatin1String("/board-flash.bin"))
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

VirtualBoard::~VirtualBoard()
{
    if (process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(5000))
        process.kill();
}

bool VirtualBoard::start()
{
    process.start(QStringLiteral(VIRTUAL_BOARD), {QStringLiteral(STK500V2_BOOTLOADER), flashFile});
    port = QString::fromLocal8Bit(waitForLine("port ").mid(5).trimmed());
    return port.startsWith(QLatin1String("/dev/"));
}

QByteArray VirtualBoard::flash()
{
    ::kill(pid_t(process.processId()), SIGUSR1);
    if (waitForLine("flash saved").isEmpty())
        return {};
    QFile file(flashFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray VirtualBoard::waitForLine(const QByteArray &prefix)
{
    for (;;) {
        while (process.canReadLine()) {
            const QByteArray line = process.readLine();
            if (line.startsWith(prefix))
                return line;
        }
        if (!process.waitForReadyRead(10000))
            return {};
    }
}

QString updateThroughTheWindow(AvrUpdateDialog &dialog, const QString &hexPath,
                               const QString &portName)
{
    AvrUpdateDialogProbe::form(dialog).lineEdit->setText(hexPath);
    // The serial enumeration does not list pseudo-terminals.
    listPorts(dialog, {portName});
    const int before = AvrUpdateDialogProbe::outputLog(dialog).size();
    clickUpdate(dialog);
    if (!waitForRunEnd(dialog, 120000))
        return {};
    return AvrUpdateDialogProbe::outputLog(dialog).mid(before);
}
