#ifndef HOSTCONVENTIONS_H
#define HOSTCONVENTIONS_H

#include <QString>

enum class HostSystem { Windows, Unix };

constexpr HostSystem currentHostSystem()
{
#ifdef Q_OS_WIN
    return HostSystem::Windows;
#else
    return HostSystem::Unix;
#endif
}

// Where the programmer tool lives and how it names a serial port on one host.
// On Linux the tool is tools/avrdude under the working folder when that exists,
// else avrdude on PATH; when neither exists, the first, so a failure names it.
struct ProgrammerAddress
{
    QString program;
    QString port;
};

ProgrammerAddress programmerAddress(const QString &workingDirectory, const QString &portName,
                                    HostSystem host = currentHostSystem());

#endif // HOSTCONVENTIONS_H
