// Does the window slow a real update down? A ~200 KiB image is flashed into a
// fresh simulated ATmega2560 (a) by avrdude alone and (b) through the window,
// interleaved, five runs each; prints both medians and the ratio b/a.
// Run offscreen: QT_QPA_PLATFORM=offscreen flash_bench
#include "boardsupport.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

namespace {

FILE *debugSink = nullptr;

// The window writes every chunk's whole log to the debug channel; keep that cost
// without flooding the terminal.
void writeToSink(QtMsgType, const QMessageLogContext &, const QString &message)
{
    std::fputs(qPrintable(message), debugSink);
    std::fputc('\n', debugSink);
}

double secondsAlone(const QString &hexPath, const VirtualBoard &board, bool *verified)
{
    QProcess avrdude;
    avrdude.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    avrdude.start(realAvrdude(),
                  {"-p", "m2560", "-D", "-P", board.portPath(), "-c", "stk500v2", "-b", "115200",
                   "-U", "flash:w:" + hexPath + ":i"});
    avrdude.waitForFinished(120000);
    const double seconds = timer.nsecsElapsed() / 1e9;
    *verified = avrdude.readAll().contains("bytes of flash verified");
    return seconds;
}

double secondsThroughTheWindow(const QString &hexPath, const VirtualBoard &board, bool *verified)
{
    AvrUpdateDialog dialog;
    dialog.show();
    QElapsedTimer timer;
    timer.start();
    const QString console = updateThroughTheWindow(dialog, hexPath, board.portName());
    const double seconds = timer.nsecsElapsed() / 1e9;
    *verified = console.contains(QLatin1String("bytes of flash verified"));
    return seconds;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    debugSink = std::fopen("/dev/null", "w");
    qInstallMessageHandler(writeToSink);
    setApplicationIdentity();

    Sandbox sandbox(QStringLiteral("flash bench"));
    sandbox.installTool(realAvrdude());
    const QString hexPath = sandbox.path(QStringLiteral("image.hex"));
    writeFile(hexPath, intelHex(randomImage(200 * 1024, 2560)));

    QList<double> alone, window;
    bool allVerified = true;
    for (int run = 1; run <= 5; ++run) {
        bool verified = false;
        {
            VirtualBoard board(sandbox.path());
            board.start();
            alone << secondsAlone(hexPath, board, &verified);
            allVerified = allVerified && verified;
        }
        {
            VirtualBoard board(sandbox.path());
            board.start();
            window << secondsThroughTheWindow(hexPath, board, &verified);
            allVerified = allVerified && verified;
        }
        std::printf("run %d: avrdude alone %.2f s, through the window %.2f s\n", run, alone.last(),
                    window.last());
        std::fflush(stdout);
    }
    const double ratio = median(window) / median(alone);
    std::printf(
        "median: avrdude alone %.2f s, through the window %.2f s, ratio %.3f (goal <= 1.05: %s)\n",
        median(alone), median(window), ratio, ratio <= 1.05 ? "met" : "MISSED");
    if (!allVerified)
        std::printf("some runs did not verify\n");
    return allVerified && ratio <= 1.05 ? 0 : 1;
}
