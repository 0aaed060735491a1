// Making sure every serial device of the machine has a COMn link in the port folder.
#include "backend/PortLinks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/Platform.h"
#include "optivane/optivane.h"

namespace portlinks {

namespace {

QString ComName(int number) {
    return QStringLiteral("COM") + QString::number(number);
}

// lstat semantics: a dangling link is an entry too.
bool EntryExists(const QString &path) {
    const QFileInfo entry(path);
    return entry.isSymLink() || entry.exists();
}

} // namespace

QString StablePathOf(const QString &node, const QString &byIdFolder) {
    const QString device = QFileInfo(node).canonicalFilePath();
    if (device.isEmpty()) {
        return {};
    }
    const QDir folder(byIdFolder);
    for (const QString &name : folder.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString path = folder.absoluteFilePath(name);
        if (QFileInfo(path).canonicalFilePath() == device) {
            return path;
        }
    }
    return {};
}

QStringList LinkUnlinkedDevices(const QString &folder, const QVector<SerialDevice> &devices) {
    QStringList linked;
    const QDir ports(folder);
    for (const SerialDevice &serial : devices) {
        const QString device = QFileInfo(serial.node).canonicalFilePath();
        if (device.isEmpty()) {
            continue;
        }
        // A link of any name counts, so that a user can keep a device out of the list by renaming its link.
        bool hasLink = false;
        const QDir::Filters entries = QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot;
        for (const QString &name : QDir(folder).entryList(entries)) {
            hasLink = hasLink || QFileInfo(ports.filePath(name)).canonicalFilePath() == device;
        }
        int freeNumber = 1;
        while (freeNumber <= KORVAN::Ports::kMaxComNumber && EntryExists(ports.filePath(ComName(freeNumber)))) {
            ++freeNumber;
        }
        if (hasLink || freeNumber > KORVAN::Ports::kMaxComNumber) {
            continue;
        }
        if (!ports.exists() && !platform::MakePrivateDirectory(folder)) {
            return linked;
        }
        const QString target = serial.stablePath.isEmpty() ? serial.node : serial.stablePath;
        if (QFile::link(target, ports.filePath(ComName(freeNumber)))) {
            linked.append(ComName(freeNumber));
        }
    }
    return linked;
}

} // namespace portlinks
