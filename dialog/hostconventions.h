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
struct ProgrammerAddress
{
    QString program;
    QString port;
};

ProgrammerAddress programmerAddress(const QString &workingDirectory, const QString &portName,
                                    HostSystem host = currentHostSystem());

#endif // HOSTCONVENTIONS_H
