// The COMn links given to serial devices: numbering, reserved numbers, stable paths, the private folder.
#include "backend/PortLinks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

using portlinks::LinkUnlinkedDevices;
using portlinks::SerialDevice;
using portlinks::StablePathOf;

class PortLinksTest : public QObject {
    Q_OBJECT

    QTemporaryDir scratch;

    QString path(const QString &name) const { return scratch.filePath(name); }

private slots:
    void unlinkedDevicesTakeTheLowestFreeNumbers() {
        QDir().mkpath(path("ports"));
        QDir().mkpath(path("by-id"));
        QVERIFY(QFile::link("/dev/null", path("ports/COM1")));
        // A dangling link keeps its number for the adapter it belonged to.
        QVERIFY(QFile::link(path("unplugged"), path("ports/COM2")));
        QVERIFY(QFile::link("/dev/zero", path("by-id/usb-FTDI_FT232R_A1B2-if00-port0")));

        const QString stable = StablePathOf("/dev/zero", path("by-id"));
        QCOMPARE(stable, path("by-id/usb-FTDI_FT232R_A1B2-if00-port0"));
        QCOMPARE(StablePathOf("/dev/full", path("by-id")), QString());

        const QVector<SerialDevice> devices = {{"/dev/null", {}}, {"/dev/zero", stable}, {"/dev/full", {}}};
        QCOMPARE(LinkUnlinkedDevices(path("ports"), devices), (QStringList{"COM3", "COM4"}));
        QCOMPARE(QFileInfo(path("ports/COM3")).symLinkTarget(), stable);
        QCOMPARE(QFileInfo(path("ports/COM4")).symLinkTarget(), QString("/dev/full"));
        QCOMPARE(LinkUnlinkedDevices(path("ports"), devices), QStringList());
    }

    void aLinkOfAnyNameCounts() {
        QDir().mkpath(path("named"));
        QVERIFY(QFile::link("/dev/zero", path("named/bench-laser")));
        QCOMPARE(LinkUnlinkedDevices(path("named"), {{"/dev/zero", {}}}), QStringList());
        QVERIFY(!QFileInfo(path("named/COM1")).isSymLink());
    }

    void theFolderIsCreatedForTheUserAlone() {
        const QString folder = path("new/ports");
        QCOMPARE(LinkUnlinkedDevices(folder, {}), QStringList());
        QVERIFY(!QFileInfo::exists(folder));

        QCOMPARE(LinkUnlinkedDevices(folder, {{"/dev/zero", {}}, {path("no-such-device"), {}}}), QStringList{"COM1"});
        struct stat info {};
        QCOMPARE(::stat(folder.toLocal8Bit().constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
    }
};

QTEST_GUILESS_MAIN(PortLinksTest)
#include "PortLinksTest.moc"
