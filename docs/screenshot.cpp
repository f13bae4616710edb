// Makes the README's picture: the update window at its own size after a real
// update of a simulated ATmega2560, the image in FOLDER.
//   xvfb-run -a screenshot OUTPUT.png FOLDER      (scripts/screenshot.sh does this)
#include "testsupport.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QString output =
        QFileInfo(app.arguments().value(1, "kestrelflash.png")).absoluteFilePath();
    Sandbox sandbox;
    const QString folder = app.arguments().value(2, QDir::currentPath());
    const QString hex = folder + QLatin1String("/kestrel-board.hex");
    QProcess board;
    QString port = startBoard(board, QStringLiteral("flash.bin"));
    // Named as a user's board is, where /dev is the caller's to write in.
    if (QFile::link(QLatin1String("/dev/") + port, QStringLiteral("/dev/ttyACM0")))
        port = QStringLiteral("ttyACM0");
    if (!makeImage(16 * 1024, QStringLiteral("kestrel-board.bin"), hex) || port.isEmpty())
        return 1;
    QSettings().setValue(QStringLiteral("HexPath"), hex);

    AvrUpdateDialog dialog;
    dialog.show();
    const bool updated = update(dialog, {port}, 60000);
    board.kill();
    board.waitForFinished();
    return updated && dialog.grab().save(output) ? 0 : 1;
}
