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

// Where the programmer tool lives and how it names a serial port on one host:
// the first place that holds the tool, in the order the README gives under "How
// it finds the programmer tool", or else the first place looked at, so that a
// failure names it.
struct ProgrammerAddress
{
    QString program;
    QString port;
};

// How the system names a port's device: \\.\COM12, /dev/ttyUSB0.
QString portDevice(const QString &portName, HostSystem host = currentHostSystem());

ProgrammerAddress programmerAddress(const QString &workingDirectory,
                                    const QString &programDirectory, const QString &portName,
                                    HostSystem host = currentHostSystem());

#endif // HOSTCONVENTIONS_H
