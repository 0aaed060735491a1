// Port discovery against registered simulators: the list's order and bounds, rescans while the
// selector is open, and links for the machine's own serial devices.
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <sys/stat.h>

#include "BackendRig.h"

namespace {

QStringList Listed(Backend &backend) {
    return backend.getVisibleSerialPortNames()->stringList();
}

} // namespace

class BackendPortsTest : public QObject {
    Q_OBJECT

private slots:
    void portsAreListedInNumericOrderWithinTheNameRange() {
        Rig rig;
        rig.addSimulator("COM10");
        rig.addSimulator("COM3");
        const QString folder = QString::fromStdString(rig.portFolder());
        QVERIFY(QFile::link("/dev/null", folder + "/COM0"));
        QVERIFY(QFile::link("/dev/null", folder + "/COM256"));
        QVERIFY(QFile::link(folder + "/gone", folder + "/COM4"));
        Backend &backend = rig.start();
        QCOMPARE(Listed(backend), (QStringList{"No connection", "COM0", "COM3", "COM10"}));
    }

    void withoutPortsOnlyTheNoConnectionRowRemains() {
        Rig rig;
        Backend &backend = rig.start();
        QCOMPARE(Listed(backend), QStringList{"No connection"});
        backend.Init();
        QVERIFY(rig.waitForIdle());
        QTRY_COMPARE(rig.signalLog().count("busyChanged"), 2);
        QCOMPARE(rig.countContaining("Trying to connect device"), 0);
    }

    void scanningFollowsPortsThatComeAndGo() {
        Rig rig;
        rig.addSimulator("COM3");
        rig.addSimulator("COM10");
        Backend &backend = rig.start();
        backend.StartScanningSerialPort();

        rig.removeSimulator("COM3");
        QTRY_COMPARE_WITH_TIMEOUT(Listed(backend), (QStringList{"No connection", "COM10"}), 1500);
        rig.addSimulator("COM5");
        QTRY_COMPARE_WITH_TIMEOUT(Listed(backend), (QStringList{"No connection", "COM5", "COM10"}), 1500);

        backend.StopScanningSerialPort();
        QSignalSpy resets(backend.getVisibleSerialPortNames(), &QAbstractItemModel::modelReset);
        rig.addSimulator("COM7");
        QVERIFY(!resets.wait(1200));
        backend.UpdateVisibleSerialPortNames();
        QCOMPARE(Listed(backend), (QStringList{"No connection", "COM5", "COM7", "COM10"}));
        QCOMPARE(resets.count(), 1);
    }

    void anUnchangedRescanLeavesTheModelAlone() {
        Rig rig;
        rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QStringListModel *model = backend.getVisibleSerialPortNames();
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);
        QSignalSpy changes(model, &QAbstractItemModel::dataChanged);

        backend.UpdateVisibleSerialPortNames();
        backend.StartScanningSerialPort();
        QVERIFY(!resets.wait(1200));
        backend.StopScanningSerialPort();
        backend.StopScanningSerialPort();
        QCOMPARE(resets.count(), 0);
        QCOMPARE(changes.count(), 0);
        QCOMPARE(Listed(backend), (QStringList{"No connection", "COM3"}));
    }

    void theMachinesSerialDevicesGetLinksOnce() {
        const QList<QSerialPortInfo> devices = QSerialPortInfo::availablePorts();
        if (devices.isEmpty()) {
            QSKIP("this machine has no serial devices");
        }
        Rig rig;
        rig.parkPorts = false;
        Backend &backend = rig.start();
        const QDir folder(QString::fromStdString(rig.portFolder()));
        struct stat info {};
        QCOMPARE(::stat(folder.path().toLocal8Bit().constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);

        const QStringList entries = folder.entryList(QDir::System | QDir::Files);
        QCOMPARE(entries.size(), devices.size());
        for (const QSerialPortInfo &device : devices) {
            const QString node = QFileInfo(device.systemLocation()).canonicalFilePath();
            bool linked = false;
            for (const QString &entry : entries) {
                if (QFileInfo(folder.filePath(entry)).canonicalFilePath() == node) {
                    linked = true;
                    QVERIFY(Listed(backend).contains(entry));
                }
            }
            QVERIFY2(linked, qPrintable(node));
        }
        backend.UpdateVisibleSerialPortNames();
        QCOMPARE(folder.entryList(QDir::System | QDir::Files), entries);
    }
};

BACKEND_TEST_MAIN(BackendPortsTest)
#include "BackendPortsTest.moc"
