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
// On Windows the tool is the first of tools\avrdude.exe under the working
// folder and the same beside the program; on Linux, tools/avrdude beside the
// program, then avrdude on PATH. When none exists, the first place looked at,
// so that a failure names it.
struct ProgrammerAddress
{
    QString program;
    QString port;
};

ProgrammerAddress programmerAddress(const QString &workingDirectory,
                                    const QString &programDirectory, const QString &portName,
                                    HostSystem host = currentHostSystem());

#endif // HOSTCONVENTIONS_H
