// Does the window slow a real update down? A 200 KiB image is flashed into a
// fresh simulated ATmega2560 (a) by avrdude alone and (b) through the window,
// interleaved, five runs each; prints both medians and the ratio b/a.
// Run offscreen: QT_QPA_PLATFORM=offscreen flash_bench
//   flash_bench --windows-command PORT HEX_PATH   prints the window's avrdude arguments
//   on Windows instead, one a line, for bench/wine_bench.sh
#include "hostconventions.h"
#include "testsupport.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

namespace {

// Flashes the image into a fresh board, the given way; the seconds it took, or -1
// when avrdude did not verify the image.
template<typename Update> double secondsToFlash(Update update)
{
    QProcess board;
    const QString port = startBoard(board, QStringLiteral("flash.bin"));
    QElapsedTimer timer;
    timer.start();
    const QString said = update(port);
    const double seconds = timer.nsecsElapsed() / 1e9;
    board.kill();
    board.waitForFinished();
    return said.contains(QLatin1String("bytes of flash verified")) ? seconds : -1;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && argv[1] == QLatin1String("--windows-command")) {
        const QString port = programmerAddress({}, {}, argv[2], HostSystem::Windows).port;
        for (const QString &argument : AvrUpdateDialog::toolArguments(port, argv[3]))
            std::printf("%s\n", qPrintable(argument));
        return 0;
    }
    QApplication app(argc, argv);
    // The window writes every chunk's whole log to the debug channel; keep that
    // cost without flooding the terminal.
    static FILE *const sink = std::fopen("/dev/null", "w");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
        std::fprintf(sink, "%s\n", qPrintable(message));
    });
    Sandbox sandbox;
    const QString hex = QDir::current().absoluteFilePath(QStringLiteral("image.hex"));
    makeImage(200 * 1024, QStringLiteral("image.bin"), hex);
    QSettings().setValue(QStringLiteral("HexPath"), hex);

    const auto alone = [&](const QString &port) {
        QProcess avrdude;
        avrdude.setProcessChannelMode(QProcess::MergedChannels);
        // The window's own command, so that a change to it changes the baseline too.
        const QString device = programmerAddress({}, {}, port, HostSystem::Unix).port;
        avrdude.start(AVRDUDE, AvrUpdateDialog::toolArguments(device, hex));
        avrdude.waitForFinished(180000);
        return QString::fromLocal8Bit(avrdude.readAll());
    };
    const auto throughTheWindow = [](const QString &port) {
        AvrUpdateDialog dialog;
        dialog.show();
        update(dialog, {port}, 180000);
        return Probe::form(dialog).textEdit->toPlainText();
    };
    QList<double> aloneSeconds, windowSeconds;
    for (int run = 1; run <= 5; ++run) {
        aloneSeconds << secondsToFlash(alone);
        windowSeconds << secondsToFlash(throughTheWindow);
        std::printf("run %d: avrdude alone %.2f s, through the window %.2f s\n", run,
                    aloneSeconds.last(), windowSeconds.last());
        std::fflush(stdout);
    }
    const bool allVerified = !aloneSeconds.contains(-1) && !windowSeconds.contains(-1);
    const double ratio = median(windowSeconds) / median(aloneSeconds);
    std::printf("median: avrdude alone %.2f s, through the window %.2f s, ratio %.3f "
                "(goal <= 1.05: %s)%s\n",
                median(aloneSeconds), median(windowSeconds), ratio,
                ratio <= 1.05 ? "met" : "MISSED", allVerified ? "" : "; some runs did not verify");
    return allVerified && ratio <= 1.05 ? 0 : 1;
}
