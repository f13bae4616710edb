#ifndef BOARDRESET_H
#define BOARDRESET_H

#include <QString>

// Starts the board's bootloader, which then waits about a second for avrdude.
// The board's USB serial chip turns DTR (and on many boards RTS) into a reset,
// through a capacitor. avrdude's stk500v2 never touches those lines, and on
// Windows a driver such as usbser.sys raises none of them when a port is opened,
// so the board would still run its application when avrdude signs on.
struct BoardReset
{
    enum class Trouble { None, Busy, NoAccess, Gone };

    // Opens the port, pulses DTR and RTS, and closes it again, so that avrdude can
    // open it at once. A port without those lines, such as a pseudo-terminal or a
    // Bluetooth port, is no trouble: there is nothing to pulse, and avrdude runs
    // as it would without the pulse.
    static BoardReset pulse(const QString &portName);

    Trouble trouble = Trouble::None;
};

#endif // BOARDRESET_H
