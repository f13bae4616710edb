// What one small chunk of programmer output costs the window, with 10 KB,
// 100 KB and 1 MB of output already in the console. avrdude's progress marks
// arrive one byte at a time, so this is the cost of every mark.
//
// Two designs side by side, in CPU time per chunk:
//   whole text  the console's whole document replaced by the log on every chunk
//   append      the dialog's own path: decode, log, append to the console,
//               cursor to the end, whole-log debug message
// and the console part of "append" alone.
//
// Debug messages are formatted but not written out, so the terminal's speed
// does not count. Run offscreen: QT_QPA_PLATFORM=offscreen console_bench
#include "testsupport.h"

#include <ctime>

namespace {

double cpuMilliseconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

template<typename Chunk> double millisecondsPerChunk(int chunks, Chunk chunk)
{
    const double start = cpuMilliseconds();
    for (int i = 0; i < chunks; ++i) {
        chunk();
        QCoreApplication::processEvents(); // layout and paint, as the event loop would
    }
    return (cpuMilliseconds() - start) / chunks;
}

QByteArray avrdudeHistory(int size)
{
    const QByteArray line = "avrdude: 1000 bytes of flash written, verifying flash memory\n";
    QByteArray history;
    while (history.size() < size)
        history += line;
    history.truncate(size);
    return history;
}

struct Figures
{
    double wholeText;
    double append;
    double consoleOnly;
};

Figures measure(int historySize, int chunks)
{
    const QByteArray history = avrdudeHistory(historySize);

    QTextEdit wholeTextConsole;
    wholeTextConsole.resize(519, 300);
    wholeTextConsole.show();
    QString wholeTextLog = QString::fromLocal8Bit(history);
    wholeTextConsole.setText(wholeTextLog);

    AvrUpdateDialog dialog;
    dialog.show();
    AvrUpdateDialogProbe::takeOutput(dialog, history);
    QCoreApplication::processEvents();

    Figures figures;
    figures.wholeText = millisecondsPerChunk(chunks, [&] {
        wholeTextLog += QString::fromLocal8Bit("#");
        wholeTextConsole.setText(wholeTextLog);
        QTextCursor cursor = wholeTextConsole.textCursor();
        cursor.movePosition(QTextCursor::End, QTextCursor::MoveAnchor, 1);
        wholeTextConsole.setTextCursor(cursor);
        qDebug() << wholeTextLog;
    });
    figures.append =
        millisecondsPerChunk(chunks, [&] { AvrUpdateDialogProbe::takeOutput(dialog, "#"); });
    figures.consoleOnly = millisecondsPerChunk(
        chunks, [&] { AvrUpdateDialogProbe::appendToConsole(dialog, QStringLiteral("#")); });
    return figures;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    struct Row
    {
        const char *label;
        int size;
        int chunks;
    };
    const Row rows[] = {
        {"10 KB", 10 * 1024, 400}, {"100 KB", 100 * 1024, 100}, {"1 MB", 1024 * 1024, 40}};
    QList<Figures> results;
    std::printf("%-8s %16s %12s %14s %18s\n", "history", "whole text ms", "append ms",
                "append/whole", "console only ms");
    for (const Row &row : rows) {
        const Figures f = measure(row.size, row.chunks);
        results << f;
        std::printf("%-8s %16.3f %12.3f %14.2f %18.3f\n", row.label, f.wholeText, f.append,
                    f.append / f.wholeText, f.consoleOnly);
    }
    const Figures &small = results.first();
    const Figures &large = results.last();
    const bool appendGoal = large.append <= large.wholeText / 3;
    const bool consoleGoal = large.consoleOnly <= 2 * small.consoleOnly;
    std::printf("at 1 MB, append <= 1/3 of whole text: %s\n", appendGoal ? "met" : "MISSED");
    std::printf("console only at 1 MB <= 2x at 10 KB: %s\n", consoleGoal ? "met" : "MISSED");
    return appendGoal && consoleGoal ? 0 : 1;
}
