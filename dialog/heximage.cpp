#include "heximage.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A record's bytes after its colon, or none where the line is no record:
// pairs of hex digits, as many as its length field says.
QByteArray recordBytes(const char *line, int length)
{
    if (length < 11 || line[0] != ':' || length % 2 == 0)
        return {};
    QByteArray bytes((length - 1) / 2, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i) {
        const int high = hexDigit(line[1 + 2 * i]), low = hexDigit(line[2 + 2 * i]);
        if (high < 0 || low < 0)
            return {};
        bytes[i] = char(high << 4 | low);
    }
    return quint8(bytes[0]) + 5 == bytes.size() ? bytes : QByteArray();
}

bool isBlank(const char *line, int length)
{
    return std::all_of(line, line + length, [](char c) { return c == ' ' || c == '\t'; });
}

// Opens a regular file of an image's size for reading, told from what the
// system knows of it before anything is read. Nothing waits: a FIFO or a device
// chosen by mistake must not hang the window.
HexImage::Verdict openImageFile(QFile &file)
{
#ifdef Q_OS_UNIX
    const int fd =
        ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return HexImage::Verdict::Unreadable;
    struct stat status;
    const HexImage::Verdict verdict = fstat(fd, &status) != 0 ? HexImage::Verdict::Unreadable
        : !S_ISREG(status.st_mode)                            ? HexImage::Verdict::NotAFile
        : status.st_size > HexImage::largestFile              ? HexImage::Verdict::TooLarge
                                                              : HexImage::Verdict::Whole;
    if (verdict == HexImage::Verdict::Whole
        && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return verdict;
    ::close(fd);
    return verdict == HexImage::Verdict::Whole ? HexImage::Verdict::Unreadable : verdict;
#else
    const QFileInfo info(file.fileName());
    if (!info.exists())
        return HexImage::Verdict::Unreadable;
    if (!info.isFile())
        return HexImage::Verdict::NotAFile;
    if (info.size() > HexImage::largestFile)
        return HexImage::Verdict::TooLarge;
    return file.open(QIODevice::ReadOnly) ? HexImage::Verdict::Whole
                                          : HexImage::Verdict::Unreadable;
#endif
}

} // namespace

HexImage HexImage::check(const QString &path)
{
    if (path.isEmpty())
        return fault(Verdict::NoFileChosen);
    QFile file(path);
    const Verdict opened = openImageFile(file);
    if (opened != Verdict::Whole)
        return fault(opened);
    // A file that grows while it is read is read no further than a whole image can be.
    const QByteArray text = file.read(largestFile + 1);
    if (text.size() > largestFile)
        return fault(Verdict::TooLarge);
    return parse(text);
}

HexImage HexImage::parse(const QByteArray &text)
{
    HexImage image;
    qint64 base = 0; // from the last extended segment or linear address record
    bool ended = false, anyRecord = false;
    int number = 0;
    for (int start = 0; start < text.size();) {
        int end = text.indexOf('\n', start);
        const int next = end < 0 ? text.size() : end + 1;
        end = end < 0 ? text.size() : end;
        const int length = end - start - (end > start && text.at(end - 1) == '\r' ? 1 : 0);
        const char *line = text.constData() + start;
        start = next;
        ++number;
        if (isBlank(line, length))
            continue;
        if (ended)
            return fault(Verdict::AfterEndRecord, number);
        const QByteArray record = recordBytes(line, length);
        if (record.isEmpty())
            return fault(Verdict::NotARecord, number);
        const auto byte = [&record](int i) { return qint64(quint8(record.at(i))); };
        qint64 sum = 0;
        for (int i = 0; i < record.size(); ++i)
            sum += byte(i);
        if (sum % 256 != 0)
            return fault(Verdict::BadChecksum, number);
        anyRecord = true;
        const qint64 size = byte(0), address = byte(1) << 8 | byte(2);
        switch (byte(3)) {
        case 0:
            if (size > 0 && base + address + size > bootloaderStart)
                return fault(Verdict::IntoBootloader, number);
            image.dataBytes += size;
            break;
        case 1:
            ended = true;
            break;
        case 2:
        case 4:
            if (size != 2)
                return fault(Verdict::NotARecord, number);
            base = (byte(4) << 8 | byte(5)) << (byte(3) == 2 ? 4 : 16);
            break;
        case 3:
        case 5:
            break; // where the program starts: nothing is written
        default:
            return fault(Verdict::UnknownRecord, number);
        }
    }
    if (!anyRecord || (ended && image.dataBytes == 0))
        return fault(Verdict::NoData);
    if (!ended)
        return fault(Verdict::NoEndRecord);
    return image;
}

HexImage HexImage::fault(Verdict verdict, int line)
{
    HexImage image;
    image.verdict = verdict;
    image.line = line;
    return image;
}

bool HexImage::isRefused() const
{
    return verdict != Verdict::Whole && verdict != Verdict::NoFileChosen
        && verdict != Verdict::Unreadable;
}

QString HexImage::problem() const
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("HexImage", text); };
    switch (verdict) {
    case Verdict::NotAFile:
        return tr("is a folder or a device, not a file; choose the hex file itself");
    case Verdict::TooLarge:
        return tr("is far larger than any image for this board, so it is some other file; "
                  "choose the hex image");
    case Verdict::NotARecord:
        return tr("is no Intel HEX image: line %1 is not a record. It is damaged, or another "
                  "kind of file named .hex, such as a saved web page; get it again")
            .arg(line);
    case Verdict::BadChecksum:
        return tr("is damaged: line %1 fails its checksum; get it again").arg(line);
    case Verdict::UnknownRecord:
        return tr("is damaged: line %1 is a record of no known type; get it again").arg(line);
    case Verdict::NoEndRecord:
        return tr("ends without its end record: it may be cut short; get it again");
    case Verdict::AfterEndRecord:
        return tr("goes on after its end record, at line %1: it is damaged, or two files are "
                  "joined; get it again")
            .arg(line);
    case Verdict::NoData:
        return tr("holds nothing to write; choose the image built for the board");
    case Verdict::IntoBootloader:
        return tr("reaches into the board's bootloader at 0x3E000, at line %1: it is likely the "
                  "image exported with the bootloader; choose the one without it")
            .arg(line);
    case Verdict::Whole:
    case Verdict::NoFileChosen:
    case Verdict::Unreadable:
        break;
    }
    return QString();
}
