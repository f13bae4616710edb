#include "hostconventions.h"

ProgrammerAddress programmerAddress(const QString &workingDirectory, const QString &portName,
                                    HostSystem host)
{
    // Windows reaches COM10 and above only through the device namespace.
    if (host == HostSystem::Windows)
        return {workingDirectory + QLatin1String("/tools/avrdude.exe"),
                QLatin1String("\\\\.\\") + portName};
    return {workingDirectory + QLatin1String("/tools/avrdude"), QLatin1String("/dev/") + portName};
}
