#include "localtextdecoder.h"

// Qt 6 dropped the text-codec classes from its core; both toolkits have a
// stateful decoder for the system's own encoding.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QStringDecoder>

struct LocalTextDecoder::State
{
    QStringDecoder decoder{QStringDecoder::System};
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
    QScopedPointer<QTextDecoder> decoder{QTextCodec::codecForLocale()->makeDecoder()};
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
