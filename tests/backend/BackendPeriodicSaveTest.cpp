// The monitor saves a connected device's settings every 30 s, counted from its own start.
#include <QElapsedTimer>
#include <QFileInfo>

#include "BackendRig.h"

class BackendPeriodicSaveTest : public QObject {
    Q_OBJECT

private slots:
    void aConnectedDeviceIsSavedEveryHalfMinute() {
        Rig rig;
        rig.addSimulator("COM3");
        QElapsedTimer sinceStart;
        sinceStart.start();
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setDarkMode(true);
        QVERIFY(backend.PushPreset(42.5f));
        QVERIFY(!QFileInfo::exists(Rig::configPath("COM3")));

        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(Rig::configPath("COM3")), 40000);
        QVERIFY(sinceStart.elapsed() >= 30000);
        QVERIFY(backend.getMotorConnected());
        QCOMPARE(rig.countContaining("was disconnected"), 0);
        const QJsonObject saved = Rig::readConfig("COM3");
        QCOMPARE(saved.value("dark_mode").toBool(), true);
        QCOMPARE(saved.value("presets").toArray().size(), 1);
        QCOMPARE(saved.value("presets").toArray().at(0).toDouble(), 42.5);
    }
};

BACKEND_TEST_MAIN(BackendPeriodicSaveTest)
#include "BackendPeriodicSaveTest.moc"
