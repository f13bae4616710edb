#include "avrupdatedialog.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The settings store is scoped by these names, and the dialog reads it on construction.
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("orvanta.com"));
    QCoreApplication::setApplicationName(QStringLiteral("Kestrelflash"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.4"));

    AvrUpdateDialog dialog;
    dialog.show();
    return app.exec();
}
