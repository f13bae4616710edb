#ifndef LOCALTEXTDECODER_H
#define LOCALTEXTDECODER_H

#include <QByteArray>
#include <QScopedPointer>
#include <QString>

// Turns a byte stream in the local 8-bit encoding into text, one read at a time.
// A character whose bytes arrive in two reads is kept back until it is whole.
class LocalTextDecoder
{
public:
    LocalTextDecoder();
    ~LocalTextDecoder();

    QString decode(const QByteArray &bytes);
    // Ends the stream: bytes still waiting for the rest of their character come
    // out as one replacement character, and the decoder starts afresh.
    QString finish();

private:
    Q_DISABLE_COPY(LocalTextDecoder)
    struct State;
    QScopedPointer<State> state;
};

#endif // LOCALTEXTDECODER_H
