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
// The tool is the first of: tools/avrdude(.exe) under the working folder, the
// same beside the program, and on Linux avrdude on PATH. When none exists, the
// first, so that a failure names the folder the user started from.
struct ProgrammerAddress
{
    QString program;
    QString port;
};

ProgrammerAddress programmerAddress(const QString &workingDirectory,
                                    const QString &programDirectory, const QString &portName,
                                    HostSystem host = currentHostSystem());

#endif // HOSTCONVENTIONS_H
