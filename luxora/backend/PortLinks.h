// Where the platform has no COM names of its own, every serial device gets a COMn link in the port
// folder, so that it can be listed, connected and given a settings file like a Windows COM port.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace portlinks {

struct SerialDevice {
    QString node;       // the device node, e.g. /dev/ttyUSB0
    QString stablePath; // its /dev/serial/by-id/... link, empty when it has none
};

// The entry of byIdFolder that resolves to node, empty when there is none.
QString StablePathOf(const QString &node, const QString &byIdFolder);

// Gives each device that no entry of the folder resolves to the lowest free COMn from COM1 up, linked
// to its stable path when it has one (that survives re-plugging), else to its node. A dangling link
// keeps its number reserved for the adapter it belonged to. Creates the folder, readable by the user
// alone, when a link is needed. Returns the names created.
QStringList LinkUnlinkedDevices(const QString &folder, const QVector<SerialDevice> &devices);

} // namespace portlinks
