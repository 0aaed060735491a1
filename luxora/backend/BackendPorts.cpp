// Serial port discovery: the list of COM0 ... COM255 that exist, and its rescan while the selector is open.
#include <QSerialPortInfo>

#include "backend/Backend.h"
#include "backend/PortLinks.h"

namespace {

constexpr int kScanIntervalMs = 500;
const char *const kNoConnection = "No connection";
const char *const kStableLinkFolder = "/dev/serial/by-id";

} // namespace

void Backend::UpdateVisibleSerialPortNames() {
    if (!visibleSerialPortNames) {
        return;
    }
    EnsurePortLinks();

    const QStringList old = visibleSerialPortNames->stringList();
    QStringList found;
    bool changed = false;
    int k = 1;
    for (int number = 0; number <= KORVAN::Ports::kMaxComNumber; ++number) {
        const QString name = QStringLiteral("COM") + QString::number(number);
        if (!KORVAN::Ports::Exists(number)) {
            continue;
        }
        found.append(name);
        if (!changed && k < old.size()) {
            changed = old.at(k).toUtf8() != name.toUtf8();
            ++k;
        }
    }
    // Left untouched when nothing changed, so that views keep their selection.
    if (old.size() != found.size() + 1 || changed) {
        visibleSerialPortNames->setStringList(QStringList(QString::fromLatin1(kNoConnection)) + found);
    }
}

void Backend::EnsurePortLinks() {
    const QString folder = QString::fromStdString(KORVAN::Ports::Folder());
    if (folder.isEmpty()) {
        return;
    }
    QVector<portlinks::SerialDevice> devices;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        devices.append({info.systemLocation(),
                        portlinks::StablePathOf(info.systemLocation(), QString::fromLatin1(kStableLinkFolder))});
    }
    portlinks::LinkUnlinkedDevices(folder, devices);
}

void Backend::StartScanningSerialPort() {
    UpdateVisibleSerialPortNames();
    scanTimer.setSingleShot(false);
    scanTimer.setInterval(kScanIntervalMs);
    scanConnection = connect(&scanTimer, &QTimer::timeout, this, &Backend::UpdateVisibleSerialPortNames);
    scanTimer.start();
}

void Backend::StopScanningSerialPort() {
    scanTimer.stop();
    disconnect(scanConnection);
}
