#include "avrupdatedialog.h"

#include <QApplication>

int main(int argc, char *argv[])
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 does this by itself: the window follows the display's scaling, and
    // 150 % is drawn at 150 %, not rounded to 200 %.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
    QApplication app(argc, argv);
    // The settings store is scoped by these names, and the dialog reads it on construction.
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvanta.com"));
    QCoreApplication::setApplicationName(QStringLiteral("Kestrelflash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KESTRELFLASH_VERSION));
    // Wayland docks and task switchers find the window's icon through its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.orvanta.Kestrelflash"));

    AvrUpdateDialog dialog;
    dialog.show();
    return app.exec();
}
