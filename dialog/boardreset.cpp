#include "boardreset.h"
#include "hostconventions.h"

#include <QFile>
#include <QSerialPort>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// Long enough for the reset capacitor to recharge after a line that was
// raised, and for the board to see the raised line as one edge.
const unsigned long settleMs = 50;

// Lowered first, so that raising them is an edge even where they were up.
template<typename SetLines> void pulseLines(SetLines setLines)
{
    if (setLines(false)) {
        QThread::msleep(settleMs);
        setLines(true);
        QThread::msleep(settleMs);
        setLines(false);
    }
}

} // namespace

#ifdef Q_OS_WIN
// Windows' own calls, as a program that resets boards on Windows makes them.
BoardReset BoardReset::pulse(const QString &portName)
{
    const HANDLE port =
        CreateFileW(reinterpret_cast<const wchar_t *>(portDevice(portName).utf16()),
                    GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A Windows port has one owner at a time.
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            return {Trouble::Busy};
        return {error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Trouble::Gone
                                                                               : Trouble::None};
    }
    pulseLines([port](bool raised) {
        return EscapeCommFunction(port, raised ? SETDTR : CLRDTR)
            && EscapeCommFunction(port, raised ? SETRTS : CLRRTS);
    });
    CloseHandle(port);
    return {};
}
#else
BoardReset BoardReset::pulse(const QString &portName)
{
    // Qt's open honours the lock another program holds on the port.
    QSerialPort port(portName);
    if (!port.open(QIODevice::ReadWrite)) {
        if (port.error() == QSerialPort::DeviceNotFoundError)
            return {Trouble::Gone};
        if (port.error() != QSerialPort::PermissionError)
            return {}; // such as a port whose driver knows no modem lines: avrdude may still use it
        // Said for a device another program has locked and for one the user may
        // not open alike; the device's own permissions tell them apart.
        const QByteArray device = QFile::encodeName(portDevice(portName));
        return {access(device.constData(), R_OK | W_OK) == 0 ? Trouble::Busy : Trouble::NoAccess};
    }
    pulseLines([&port](bool raised) {
        return port.setDataTerminalReady(raised) && port.setRequestToSend(raised);
    });
    return {};
}
#endif
