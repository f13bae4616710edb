#ifndef BOARDSUPPORT_H
#define BOARDSUPPORT_H

#include "testsupport.h"

#include <QProcess>

// Debian's avrdude.
QString realAvrdude();

// size pseudo-random bytes, the same for the same seed.
QByteArray randomImage(int size, quint32 seed);
// The image in Intel HEX from address 0: 16 bytes a record, and an extended
// linear address record at the start of every 64 KiB.
QByteArray intelHex(const QByteArray &image);
bool writeFile(const QString &path, const QByteArray &bytes);

// A simulated ATmega2560 running the STK500v2 bootloader, its UART0 on a
// pseudo-terminal. Opening the port resets the chip, as DTR does on a real board.
class VirtualBoard
{
public:
    explicit VirtualBoard(const QString &folder);
    ~VirtualBoard();

    bool start();
    // The port as the window's list names it, such as "pts/3".
    QString portName() const { return port.mid(5); }
    QString portPath() const { return port; }
    // The application flash as the chip holds it now.
    QByteArray flash();

    static constexpr int applicationFlashSize = 0x3E000;

private:
    QByteArray waitForLine(const QByteArray &prefix);

    QProcess process;
    QString flashFile;
    QString port;
};

// Presses Update with this file and port chosen, waits for the run to end and
// returns what the console gained.
QString updateThroughTheWindow(AvrUpdateDialog &dialog, const QString &hexPath,
                               const QString &portName);

#endif // BOARDSUPPORT_H
