// What one small chunk of programmer output costs the window, with 10 KB,
// 100 KB and 1 MB of output already in the console. avrdude's progress marks
// arrive one byte at a time, so this is the cost of every mark.
//
// In CPU milliseconds per chunk:
//   whole text  the console's whole document replaced by the log on every chunk
//   append      the dialog's own path: decode, log, append to the console,
//               cursor to the end, whole-log debug message
//   console     the console part of "append" alone
//
// Then the CPU milliseconds of the image check that Update makes first.
//
// Debug messages are formatted but not written out, so the terminal's speed
// does not count. Run offscreen: QT_QPA_PLATFORM=offscreen console_bench
#include "testsupport.h"

#include <ctime>

namespace {

template<typename Chunk> double millisecondsPerChunk(int chunks, Chunk chunk)
{
    const std::clock_t start = std::clock(); // the process's CPU time
    for (int i = 0; i < chunks; ++i) {
        chunk();
        QCoreApplication::processEvents(); // layout and paint, as the event loop would
    }
    return (std::clock() - start) * 1e3 / CLOCKS_PER_SEC / chunks;
}

struct Figures
{
    double wholeText, append, console;
};

Figures measure(int historySize, int chunks)
{
    QByteArray history =
        QByteArray("avrdude: 1000 bytes of flash written, verifying flash memory\n")
            .repeated(historySize / 61 + 1);
    history.truncate(historySize);

    QTextEdit wholeTextConsole;
    wholeTextConsole.resize(519, 300);
    wholeTextConsole.show();
    QString wholeTextLog = QString::fromLocal8Bit(history);
    AvrUpdateDialog dialog;
    dialog.show();
    Probe::show(dialog, QProcess::StandardOutput, history);
    QCoreApplication::processEvents();

    Figures figures;
    figures.wholeText = millisecondsPerChunk(chunks, [&] {
        wholeTextLog += QString::fromLocal8Bit("#");
        wholeTextConsole.setText(wholeTextLog);
        QTextCursor cursor = wholeTextConsole.textCursor();
        cursor.movePosition(QTextCursor::End);
        wholeTextConsole.setTextCursor(cursor);
        qDebug() << wholeTextLog;
    });
    figures.append =
        millisecondsPerChunk(chunks, [&] { Probe::show(dialog, QProcess::StandardOutput, "#"); });
    figures.console =
        millisecondsPerChunk(chunks, [&] { Probe::append(dialog, QStringLiteral("#")); });
    return figures;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    std::printf("%-8s %14s %10s %14s %11s\n", "history", "whole text ms", "append ms",
                "append/whole", "console ms");
    QList<Figures> results;
    for (const int kilobytes : {10, 100, 1024}) {
        const Figures f = measure(kilobytes * 1024, 4000 / std::min(kilobytes, 100));
        results << f;
        std::printf("%5d KB %14.3f %10.3f %14.2f %11.3f\n", kilobytes, f.wholeText, f.append,
                    f.append / f.wholeText, f.console);
    }
    const bool appendGoal = results.last().append <= results.last().wholeText / 3;
    const bool consoleGoal = results.last().console <= 2 * results.first().console;
    std::printf("at 1 MB, append <= 1/3 of whole text: %s\n", appendGoal ? "met" : "MISSED");
    std::printf("console at 1 MB <= 2x at 10 KB: %s\n", consoleGoal ? "met" : "MISSED");
    Sandbox sandbox; // the check Update makes first, of an image that fills the flash
    makeImage(HexImage::bootloaderStart, QStringLiteral("full.bin"), QStringLiteral("full.hex"));
    const double checkMs = millisecondsPerChunk(200, [] { HexImage::check("full.hex"); });
    const bool checkGoal = HexImage::check("full.hex").isWhole() && checkMs <= 10;
    std::printf("check of a 253952-byte image: %.2f ms, <= 10 ms: %s\n", checkMs,
                checkGoal ? "met" : "MISSED");
    return appendGoal && consoleGoal && checkGoal ? 0 : 1;
}
