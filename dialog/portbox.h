#ifndef PORTBOX_H
#define PORTBOX_H

#include <QString>

QT_BEGIN_NAMESPACE
class QComboBox;
QT_END_NAMESPACE

// The serial port box. Closed, it shows the chosen port's name, which is what
// avrdude is given; open, each port says what the system knows of it, so that
// the board stands out among built-in and Bluetooth ports. A screen reader
// hears the box's name, the chosen port as its value, and each port as listed.

// Prepares an empty box; done once per box.
void preparePortBox(QComboBox *box);
// What the system knows of a port, such as "USB-SERIAL CH340 (wch.cn)", or nothing.
QString portDetails(const QString &description, const QString &manufacturer);
void addPort(QComboBox *box, const QString &name, const QString &details);

#endif // PORTBOX_H
