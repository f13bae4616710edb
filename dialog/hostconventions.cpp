#include "hostconventions.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

QString portDevice(const QString &portName, HostSystem host)
{
    // Windows reaches COM10 and above only through the device namespace.
    return (host == HostSystem::Windows ? QLatin1String("\\\\.\\") : QLatin1String("/dev/"))
        + portName;
}

ProgrammerAddress programmerAddress(const QString &workingDirectory,
                                    const QString &programDirectory, const QString &portName,
                                    HostSystem host)
{
    const bool windows = host == HostSystem::Windows;
    const QString port = portDevice(portName, host);
    const QLatin1String toolPath(windows ? "/tools/avrdude.exe" : "/tools/avrdude");
    // Windows programs look in the folder they were started in first, and a
    // shortcut or a command prompt elsewhere still finds the tool shipped beside
    // the program. A Linux program never runs a tool from wherever it was started.
    const QStringList folders =
        windows ? QStringList{workingDirectory, programDirectory} : QStringList{programDirectory};
    for (const QString &folder : folders) {
        if (QFileInfo(folder + toolPath).isFile())
            return {folder + toolPath, port};
    }
    // An installed Linux program uses the system's avrdude.
    const QString onPath =
        windows ? QString() : QStandardPaths::findExecutable(QStringLiteral("avrdude"));
    return {onPath.isEmpty() ? folders.first() + toolPath : onPath, port};
}
