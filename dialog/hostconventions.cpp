#include "hostconventions.h"

#include <QFileInfo>
#include <QStandardPaths>

ProgrammerAddress programmerAddress(const QString &workingDirectory, const QString &portName,
                                    HostSystem host)
{
    // Windows reaches COM10 and above only through the device namespace.
    if (host == HostSystem::Windows)
        return {workingDirectory + QLatin1String("/tools/avrdude.exe"),
                QLatin1String("\\\\.\\") + portName};
    // A tool put beside the working folder comes first; an installed program
    // started from the desktop's menu uses the system's avrdude.
    const QString port = QLatin1String("/dev/") + portName;
    const QString bundled = workingDirectory + QLatin1String("/tools/avrdude");
    if (QFileInfo::exists(bundled))
        return {bundled, port};
    const QString installed = QStandardPaths::findExecutable(QStringLiteral("avrdude"));
    return {installed.isEmpty() ? bundled : installed, port};
}
