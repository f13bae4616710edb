#include "localtextdecoder.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

// The program's manifest makes UTF-8 the process code page on Windows 10 1903
// and later, where a character takes up to four bytes. Qt's decoder for the
// Windows code page keeps at most one byte back between reads, as a double-byte
// code page needs, and loses a longer character split between two; its own
// UTF-8 decoder keeps them all.
bool localEncodingIsUtf8()
{
#ifdef Q_OS_WIN
    return GetACP() == CP_UTF8;
#else
    return false; // the locale's decoder is UTF-8's own there
#endif
}

} // namespace

// Qt 6 dropped the text-codec classes from its core; both toolkits have a
// stateful decoder for the system's own encoding.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QStringDecoder>

struct LocalTextDecoder::State
{
    QStringDecoder decoder{localEncodingIsUtf8() ? QStringDecoder::Utf8 : QStringDecoder::System};
};

QString LocalTextDecoder::decode(const QByteArray &bytes)
{
    return state->decoder.decode(bytes);
}
#else
#include <QTextCodec>
#include <QTextDecoder>

struct LocalTextDecoder::State
{
    QScopedPointer<QTextDecoder> decoder{
        (localEncodingIsUtf8() ? QTextCodec::codecForMib(106) : QTextCodec::codecForLocale())
            ->makeDecoder()};
};

QString LocalTextDecoder::decode(const QByteArray &bytes)
{
    return state->decoder->toUnicode(bytes);
}
#endif

LocalTextDecoder::LocalTextDecoder()
    : state(new State)
{
}

LocalTextDecoder::~LocalTextDecoder() = default;

QString LocalTextDecoder::finish()
{
    // A line break continues no character, so bytes held back come out with it
    // as something more than the bare line break.
    const bool heldBytes = decode(QByteArrayLiteral("\n")) != QLatin1String("\n");
    state.reset(new State);
    return heldBytes ? QString(QChar::ReplacementCharacter) : QString();
}
