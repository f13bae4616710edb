#ifndef HEXIMAGE_H
#define HEXIMAGE_H

#include <QString>

// Whether a file is a whole Intel HEX image for the board, read before the board
// is touched: avrdude writes a file cut short, or one that overwrites the
// bootloader, and still says it went well.
class HexImage
{
public:
    enum class Verdict {
        Whole,
        // No file to read: avrdude is left to refuse it, which it does before it opens the port.
        NoFileChosen,
        Unreadable,
        // No image: the board must not be touched.
        NotAFile,
        TooLarge,
        NotARecord,
        BadChecksum,
        UnknownRecord,
        NoEndRecord,
        AfterEndRecord,
        NoData,
        IntoBootloader,
    };

    // The application flash ends where the board's 8 KiB bootloader starts.
    static constexpr qint64 bootloaderStart = 0x3E000;
    // A whole image is about 700 KB of text; a file far larger is some other file.
    static constexpr qint64 largestFile = 4 * 1024 * 1024;

    static HexImage check(const QString &path);

    bool isWhole() const { return verdict == Verdict::Whole; }
    // True where the file is no image; false where it is one, or where avrdude
    // is to say that it cannot read it.
    bool isRefused() const;
    // What is wrong, in a user's words, as the rest of a sentence that starts
    // with the file's name.
    QString problem() const;

    Verdict verdict = Verdict::Whole;
    int line = 0; // the line at fault, from 1; 0 where no one line is
    qint64 dataBytes = 0; // in a whole image

private:
    static HexImage parse(const QByteArray &text);
    static HexImage fault(Verdict verdict, int line = 0);
};

#endif // HEXIMAGE_H
