// One whole session from start-up to shutdown, with property reads from the GUI thread while the
// monitor and the workers run; it is the test to run under ThreadSanitizer.
#include <QJsonArray>

#include "BackendRig.h"

class BackendCycleTest : public QObject {
    Q_OBJECT

private slots:
    void connectMoveDisconnectAndShutDown() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM4", {"--speed", "360"});
        Backend &backend = rig.start();
        backend.StartScanningSerialPort();
        backend.Init();
        QVERIFY(rig.waitForConnection(0));
        QCOMPARE(backend.getCurrentIndexOfVisibleSerialPortNames(), 1);
        backend.StopScanningSerialPort();

        QVERIFY(backend.PushPreset(25.0f));
        QVERIFY(backend.PushPreset(75.0f));
        backend.RemovePreset(1);
        backend.setProperty("connectedSerialAlias", "Cycle");
        backend.setProperty("transmittanceRangeMax", 0.9f);
        backend.setProperty("transmittance", 0.4f);
        QVERIFY(qAbs(backend.property("transmittance").toFloat() - 0.4f) < 0.001f);
        backend.setProperty("degree", 20.0f);
        backend.setProperty("step", 1000);
        QCOMPARE(backend.property("step").toInt(), 1000);
        backend.EmergencyStop();
        QCOMPARE(backend.property("transmittance").toFloat(), 0.0f);

        backend.ConnectMotorViaSerial(0);
        QVERIFY(rig.waitForDisconnection(1));
        QCOMPARE(Rig::readConfig("COM4").value("device_alias").toString(), QString("Cycle"));
        QCOMPARE(Rig::readConfig("COM4").value("presets").toArray(), QJsonArray{25.0});

        QVERIFY(rig.connectRow(1));
        QCOMPARE(backend.getConnectedSerialAlias(), QString("Cycle"));
        QCOMPARE(backend.getTransmittanceRangeMax(), 0.9f);
        backend.setTerminateTransmittanceZero(true);
        backend.setProperty("transmittance", 0.7f);
        backend.Shutdown();
        QCOMPARE(simulator.control("get position"), std::string("ok 0"));
        QCOMPARE(Rig::readConfig("COM4").value("terminate_transmittance_zero").toBool(), true);
        QCOMPARE(rig.records().last(), QString("INFO: App end"));
        QCOMPARE(rig.signalLog().connectedValues(), (QVector<bool>{true, false, true}));
    }
};

BACKEND_TEST_MAIN(BackendCycleTest)
#include "BackendCycleTest.moc"
