#include "hostconventions.h"

#include <QFileInfo>
#include <QStandardPaths>

ProgrammerAddress programmerAddress(const QString &workingDirectory,
                                    const QString &programDirectory, const QString &portName,
                                    HostSystem host)
{
    const bool windows = host == HostSystem::Windows;
    // Windows reaches COM10 and above only through the device namespace.
    const QString port = (windows ? QLatin1String("\\\\.\\") : QLatin1String("/dev/")) + portName;
    const QLatin1String toolPath(windows ? "/tools/avrdude.exe" : "/tools/avrdude");
    // A tool in the folder the user started from comes first; a shortcut or a
    // command prompt elsewhere still finds the one shipped beside the program.
    for (const QString &folder : {workingDirectory, programDirectory}) {
        if (QFileInfo(folder + toolPath).isFile())
            return {folder + toolPath, port};
    }
    // An installed Linux program uses the system's avrdude.
    const QString onPath =
        windows ? QString() : QStandardPaths::findExecutable(QStringLiteral("avrdude"));
    return {onPath.isEmpty() ? workingDirectory + toolPath : onPath, port};
}
