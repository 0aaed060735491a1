// Bringing a device up and down: the workers, the monitor's connection and disconnection steps, the
// connection report, lost links, auto-connect, per-port presets and the library's exceptions.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include "BackendRig.h"

namespace {

QJsonObject BenchConfig() {
    return QJsonObject{
        {"device_alias", "Bench A"},
        {"offset_degree", 10.5},
        {"presets", QJsonArray{20, 5, 150, 20}},
        {"auto_connect_possible_serial", true},
        {"init_transmittance_zero", false},
        {"terminate_transmittance_zero", false},
        {"last_user_transmittance", 0.25},
        {"dark_mode", true},
        {"transmittance_range_min", 0.1},
        {"transmittance_range_max", 0.9},
    };
}

QVector<float> Presets(Backend &backend) {
    QVector<float> values;
    QAbstractListModel *model = backend.getPresetListModel();
    for (int row = 0; row < model->rowCount(); ++row) {
        values.append(model->data(model->index(row), SortedFloatingListModel::TransmittanceRole).toFloat());
    }
    return values;
}

QVector<float> SavedPresets(const QString &port) {
    QVector<float> values;
    for (const QJsonValue &value : Rig::readConfig(port).value("presets").toArray()) {
        values.append(float(value.toDouble()));
    }
    return values;
}

// Every settings save takes this long, as on a slow or network disk. The link of this test wraps the
// settings store's SaveConfig (CMakeLists.txt), so the Backend's own saves pass through here.
std::atomic<int> saveDelayMs{0};

} // namespace

extern "C" void __real__Z10SaveConfigRK12DeviceConfig(const DeviceConfig &record);
extern "C" void __wrap__Z10SaveConfigRK12DeviceConfig(const DeviceConfig &record) {
    std::this_thread::sleep_for(std::chrono::milliseconds(saveDelayMs.load()));
    __real__Z10SaveConfigRK12DeviceConfig(record);
}

class BackendConnectionTest : public QObject {
    Q_OBJECT

private slots:
    void connectionAppliesTheFileAndWritesTheReport() {
        Rig rig;
        Rig::writeConfig("COM3", BenchConfig());
        rig.addSimulator("COM3", {"--serial", "AB123456", "--year", "2023", "--fr", "0A", "--hr", "0B", "--ppd",
                                  "144000", "--offset-steps", "2000"});
        Backend &backend = rig.start();
        backend.setMechanicalCalibrationTransmittanceZero(true);

        QVERIFY(rig.connectRow(1));
        QVERIFY(rig.records().contains("INFO: Trying to connect device \"COM3\""));
        QCOMPARE(backend.getConnectedSerialName(), QString("COM3"));
        QCOMPARE(backend.getCurrentIndexOfVisibleSerialPortNames(), 1);
        QCOMPARE(backend.getConnectedSerialAlias(), QString("Bench A"));
        QCOMPARE(backend.getOffsetDegree(), 10.5);
        QCOMPARE(Presets(backend), (QVector<float>{5, 20}));
        QVERIFY(backend.getAutoConnectPossibleSerial());
        QVERIFY(!backend.getInitTransmittanceZero());
        QVERIFY(!backend.getTerminateTransmittanceZero());
        QVERIFY(!backend.getMechanicalCalibrationTransmittanceZero());
        QVERIFY(backend.getDarkMode());
        QCOMPARE(backend.getTransmittanceRangeMin(), 0.1f);
        QCOMPARE(backend.getTransmittanceRangeMax(), 0.9f);

        // The start value is the file's last transmittance, since the file turns the zero start off.
        const float transmittance = backend.getTransmittance();
        QVERIFY(qAbs(transmittance - 0.25f) < 0.001f);
        const QString report = QStringLiteral("INFO: Device \"COM3\" is connected successfully\n"
                                              " ============================\n"
                                              "   Device alias:  \"Bench A\" \n"
                                              "   Motor S/N:  AB123456 \n"
                                              "   Motor YOM:  2023 \n"
                                              "   Motor F/R:  0A \n"
                                              "   Motor H/R:  0B \n"
                                              "   Motor td:  360 \n"
                                              "   Motor ppd:  144000 \n"
                                              "   Motor mechanical offset:  5.000000 \n"
                                              " ============================\n"
                                              "   Transmittance offset:  10.5 \n"
                                              "   Transmittance range min:  0.1 \n"
                                              "   Transmittance range max:  0.9 \n"
                                              "   Last transmittance:  %1 \n"
                                              " ============================\n"
                                              "   System-Init; auto connect:  true \n"
                                              "   System-Init; tr to zero:  false \n"
                                              "   System-Terminate; tr to zero:  false \n"
                                              "   System-Mechanical calib; tr to zero:  false \n"
                                              " ============================")
                                   .arg(QString::number(transmittance, 'f', 6));
        QCOMPARE(rig.countRecords(report), 1);

        const QStringList names = rig.signalLog().names();
        QVERIFY(InOrder(names, {"busyChanged", "deviceAliasChanged", "presetListModelChanged",
                                "autoConnectPossibleSerialChanged", "initTransmittanceZeroChanged",
                                "terminateTransmittanceZeroChanged", "mechanicalCalibrationTransmittanceZeroChanged",
                                "darkModeChanged", "transmittanceRangeMinChanged", "transmittanceRangeMaxChanged",
                                "motorConnectedChanged", "currentIndexOfVisibleSerialPortNamesChanged",
                                "offsetDegreeChanged", "resolutionRangeDegreeChanged"}));
        // Both refresh connections make the readouts be read again.
        QTRY_VERIFY(rig.signalLog().count("motorStepChanged") >= 2);
        QTRY_VERIFY(rig.signalLog().count("motorErrorCodeChanged") >= 2);
        QCOMPARE(rig.signalLog().connectedValues(), QVector<bool>{true});
    }

    void firstConnectionWithoutAFileUsesTheDefaults() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3", {"--position", "30000"});
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        QVERIFY(backend.getInitTransmittanceZero());
        QVERIFY(!backend.getTerminateTransmittanceZero());
        QCOMPARE(backend.getTransmittanceRangeMax(), 1.0f);
        QCOMPARE(simulator.control("get position"), std::string("ok 0"));
        QVERIFY(!QFileInfo::exists(Rig::configPath("COM3")));

        backend.DisconnectMotor();
        QVERIFY(rig.waitForDisconnection(1));
        const QJsonObject saved = Rig::readConfig("COM3");
        QCOMPARE(saved.keys().size(), 10);
        QCOMPARE(saved.value("transmittance_range_max").toDouble(), 1.0);
        QCOMPARE(saved.value("init_transmittance_zero").toBool(), true);
    }

    void deselectingReleasesAndTheMonitorReportsTheLoss_data() {
        QTest::addColumn<bool>("byRowZero");
        QTest::newRow("row 0") << true;
        QTest::newRow("DisconnectMotor") << false;
    }

    void deselectingReleasesAndTheMonitorReportsTheLoss() {
        QFETCH(bool, byRowZero);
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setTerminateTransmittanceZero(true);
        backend.setDarkMode(true);
        const int busyChanges = rig.signalLog().count("busyChanged");

        if (byRowZero) {
            backend.ConnectMotorViaSerial(0);
        } else {
            backend.DisconnectMotor();
        }
        QCOMPARE(Commands(simulator).mid(Commands(simulator).size() - 2), (QStringList{"0st", "0ma00000000"}));
        QVERIFY(rig.waitForDisconnection(1));
        QCOMPARE(rig.countRecords("INFO: Device \"COM3\" was disconnected\n"), 1);
        QCOMPARE(backend.getConnectedSerialName(), QString());
        QCOMPARE(backend.getCurrentIndexOfVisibleSerialPortNames(), 0);
        QVERIFY(rig.signalLog().count("currentIndexOfVisibleSerialPortNamesChanged") >= 2);
        QCOMPARE(rig.signalLog().count("busyChanged"), busyChanges);
        QCOMPARE(Rig::readConfig("COM3").value("dark_mode").toBool(), true);
    }

    void reselectingTheConnectedPortConnectsItAgain() {
        Rig rig;
        rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        QVERIFY(rig.connectRow(1));
        QCOMPARE(rig.signalLog().connectedValues(), (QVector<bool>{true, false, true}));
        QCOMPARE(backend.getCurrentIndexOfVisibleSerialPortNames(), 1);

        QStringList steps;
        for (const QString &record : rig.records()) {
            if (record.contains("was disconnected")) {
                steps.append("lost");
            } else if (record.contains("Trying to connect")) {
                steps.append("try");
            } else if (record.contains("is connected successfully")) {
                steps.append("report");
            }
        }
        QCOMPARE(steps, (QStringList{"try", "report", "lost", "try", "report"}));
    }

    void switchingPortsWaitsForTheOldPortsSlowSave() {
        Rig rig;
        Rig::writeConfig("COM3", BenchConfig());
        QJsonObject other = BenchConfig();
        other["offset_degree"] = -4.0;
        other["transmittance_range_max"] = 0.7;
        Rig::writeConfig("COM4", other);
        rig.addSimulator("COM3");
        rig.addSimulator("COM4");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));

        // Far longer than the release pause: a worker that opened the new port after the pause alone would
        // have its port released by the old port's disconnection steps, or its name cleared by them.
        saveDelayMs = 1500;
        const bool switched = rig.connectRow(2, 20000);
        saveDelayMs = 0;
        QVERIFY(switched);
        QCOMPARE(rig.signalLog().connectedValues(), (QVector<bool>{true, false, true}));
        QCOMPARE(backend.getConnectedSerialName(), QString("COM4"));
        QCOMPARE(backend.getOffsetDegree(), -4.0);
        QCOMPARE(backend.getTransmittanceRangeMax(), 0.7f);
        QCOMPARE(Rig::readConfig("COM3").value("offset_degree").toDouble(), 10.5);
        const QStringList records = rig.records();
        const auto first = [&](const QString &text) {
            return std::find_if(records.begin(), records.end(), [&](const QString &r) { return r.contains(text); });
        };
        QVERIFY(first("\"COM3\" was disconnected") < first("Trying to connect device \"COM4\""));
        // The new link outlives the monitor's next polls.
        const std::size_t polls = rig.simulator("COM4").requests().size();
        QVERIFY(QTest::qWaitFor([&] { return rig.simulator("COM4").requests().size() > polls + 2; }, 10000));
        QVERIFY(backend.getMotorConnected());
    }

    void requestsWhileBusyAreDropped() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();

        backend.ConnectMotorViaSerial(1);
        backend.ConnectMotorViaSerial(1);
        QVERIFY(rig.waitForIdle());
        QTRY_VERIFY(backend.getMotorConnected());
        QCOMPARE(rig.countContaining("Trying to connect device"), 1);

        backend.setBusy(true);
        const int commands = Commands(simulator).size();
        backend.ConnectMotorViaSerial(0);
        backend.ConnectMotorViaSerial(1);
        backend.Init();
        QCOMPARE(Commands(simulator).size(), commands);
        QCOMPARE(rig.countContaining("Trying to connect device"), 1);
        QVERIFY(backend.getMotorConnected());
        QVERIFY(backend.getBusy());
    }

    void aDeviceThatDoesNotAnswerIsReported() {
        Rig rig;
        rig.addSimulator("COM3", {"--silent"});
        Backend &backend = rig.start();
        backend.ConnectMotorViaSerial(1);
        QVERIFY(rig.waitForRecordContaining("Failed to connect device"));
        QCOMPARE(rig.countRecords("ERROR: Failed to connect device \"COM3\" \n"), 1);
        QTRY_COMPARE(rig.signalLog().count("currentIndexOfVisibleSerialPortNamesChanged"), 1);
        QTRY_COMPARE(rig.signalLog().count("busyChanged"), 2);
        QVERIFY(!backend.getMotorConnected());
    }

    void aRowOutsideTheListIsRejected_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("connectedBefore");
        QTest::newRow("negative") << -1 << false;
        QTest::newRow("past the end") << 2 << false;
        QTest::newRow("past the end, connected") << 7 << true;
    }

    void aRowOutsideTheListIsRejected() {
        QFETCH(int, row);
        QFETCH(bool, connectedBefore);
        Rig rig;
        rig.addSimulator("COM3");
        Backend &backend = rig.start();
        if (connectedBefore) {
            QVERIFY(rig.connectRow(1));
        }
        backend.ConnectMotorViaSerial(row);
        QVERIFY(rig.waitForRecordContaining("Index is not recognized"));
        QCOMPARE(rig.countRecords("ERROR: ConnectMotorViaSerial failed: Index is not recognized"), 1);
        QVERIFY(rig.waitForIdle());
        QCOMPARE(rig.countContaining("Trying to connect device"), connectedBefore ? 1 : 0);
        if (connectedBefore) {
            // The device released first stays released.
            QVERIFY(rig.waitForDisconnection(1));
        }
    }

    void aDeviceErrorStillCountsAsConnected() {
        Rig rig;
        rig.addSimulator("COM3", {"--status", "11"});
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        QTRY_COMPARE(backend.getMotorStatusDescription(), QString("Motor error"));
        const int polls = rig.signalLog().count("motorErrorCodeChanged");
        QTRY_VERIFY(rig.signalLog().count("motorErrorCodeChanged") > polls + 2);
        QVERIFY(backend.getMotorConnected());
    }

    void aLostLinkRunsTheDisconnectionSteps_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("hang-up") << "hangup";
        QTest::newRow("silent device") << "silent on";
    }

    void aLostLinkRunsTheDisconnectionSteps() {
        QFETCH(QString, fault);
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setProperty("connectedSerialAlias", "Left bench");
        backend.setBusy(true);
        const int mark = rig.signalLog().size();

        QCOMPARE(simulator.control(fault.toStdString()), std::string("ok"));
        QVERIFY(rig.waitForDisconnection(1, 20000));
        QCOMPARE(rig.countRecords("INFO: Device \"COM3\" was disconnected\n"), 1);
        QVERIFY(!backend.getBusy());
        QTRY_VERIFY(InOrder(rig.signalLog().since(mark),
                            {"motorConnectedChanged", "currentIndexOfVisibleSerialPortNamesChanged", "busyChanged"}));
        QCOMPARE(backend.getConnectedSerialName(), QString());
        QCOMPARE(Rig::readConfig("COM3").value("device_alias").toString(), QString("Left bench"));
    }

    void autoConnectTriesTheRowsInOrderAndKeepsTheFirstThatAnswers() {
        Rig rig;
        rig.addSimulator("COM2", {"--silent"});
        rig.addSimulator("COM4", {"--silent"});
        rig.addSimulator("COM6");
        rig.addSimulator("COM8");
        Backend &backend = rig.start();
        backend.Init();
        QVERIFY(rig.waitForConnection(0));
        QCOMPARE(backend.getConnectedSerialName(), QString("COM6"));
        QCOMPARE(backend.getCurrentIndexOfVisibleSerialPortNames(), 3);

        QStringList attempts;
        for (const QString &record : rig.records()) {
            if (record.contains("connect device")) {
                attempts.append(record);
            }
        }
        QCOMPARE(attempts,
                 (QStringList{"INFO: Trying to connect device \"COM2\"", "ERROR: Failed to connect device \"COM2\"",
                              "INFO: Trying to connect device \"COM4\"", "ERROR: Failed to connect device \"COM4\"",
                              "INFO: Trying to connect device \"COM6\""}));
    }

    void autoConnectSwitchedOffMakesNoAttempt() {
        Rig rig;
        rig.addSimulator("COM3");
        Backend &backend = rig.start();
        backend.setAutoConnectPossibleSerial(false);
        backend.Init();
        QVERIFY(rig.waitForIdle());
        QTRY_COMPARE(rig.signalLog().count("busyChanged"), 2);
        QCOMPARE(rig.countContaining("Trying to connect device"), 0);
        QVERIFY(!backend.getMotorConnected());
    }

    void presetsStayWithTheirPort() {
        Rig rig;
        QJsonObject first = BenchConfig();
        first["presets"] = QJsonArray{10, 20};
        Rig::writeConfig("COM3", first);
        QJsonObject second = BenchConfig();
        second["presets"] = QJsonArray{30};
        Rig::writeConfig("COM4", second);
        rig.addSimulator("COM3");
        rig.addSimulator("COM4");
        Backend &backend = rig.start();

        QVERIFY(rig.connectRow(1));
        QCOMPARE(Presets(backend), (QVector<float>{10, 20}));
        QVERIFY(rig.connectRow(2));
        QCOMPARE(Presets(backend), QVector<float>{30});
        QCOMPARE(SavedPresets("COM3"), (QVector<float>{10, 20}));

        backend.DisconnectMotor();
        QVERIFY(rig.waitForDisconnection(3));
        QCOMPARE(SavedPresets("COM4"), QVector<float>{30});
    }

    void anUnreadableHandshakeIsContained() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3", {"--malformed", "digits"});
        Backend &backend = rig.start();
        backend.ConnectMotorViaSerial(1);
        QVERIFY(rig.waitForRecordContaining("Failed to connect device"));
        QVERIFY(rig.waitForIdle());
        QCOMPARE(rig.countContaining("ERROR: Device call failed: invalid sto"), 1);
        // The port the library kept open is closed again, so the monitor never sees a link.
        QVERIFY(!QTest::qWaitFor([&] { return backend.getMotorConnected(); }, 1000));

        QCOMPARE(simulator.control("malformed off"), std::string("ok"));
        QVERIFY(rig.connectRow(1));
    }

    void anUnreadablePollKeepsTheMonitorRunning() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));

        QCOMPARE(simulator.control("malformed digits"), std::string("ok"));
        QVERIFY(rig.waitForRecordContaining("Device call failed: invalid stoul argument", 3));
        QVERIFY(backend.getMotorConnected());
        QCOMPARE(simulator.control("malformed off"), std::string("ok"));
        const int polls = rig.signalLog().count("motorErrorCodeChanged");
        QTRY_VERIFY(rig.signalLog().count("motorErrorCodeChanged") > polls + 2);
        QCOMPARE(rig.signalLog().connectedValues(), QVector<bool>{true});
    }

    void aDeniedDeviceTellsHowToGetAccess() {
        if (geteuid() == 0) {
            QSKIP("root may open every device");
        }
        // A character device that this user may not open.
        QString denied;
        for (const char *candidate : {"/dev/ttyS0", "/dev/ttyS1", "/dev/tty1", "/dev/console", "/dev/mem"}) {
            const QFileInfo info(candidate);
            if (info.exists() && !(info.isReadable() && info.isWritable())) {
                denied = QString::fromLatin1(candidate);
                break;
            }
        }
        if (denied.isEmpty()) {
            QSKIP("no character device here is closed to this user");
        }
        Rig rig;
        QDir().mkpath(QString::fromStdString(rig.portFolder()));
        QVERIFY(QFile::link(denied, QString::fromStdString(rig.portFolder()) + "/COM9"));
        rig.parkPorts = false;
        Backend &backend = rig.start();
        const int row = backend.getVisibleSerialPortNames()->stringList().indexOf("COM9");
        QVERIFY(row > 0);
        backend.ConnectMotorViaSerial(row);
        QVERIFY(rig.waitForRecordContaining("No permission to open COM9"));
        const QStringList records = rig.records();
        const int failed = records.indexOf("ERROR: Failed to connect device \"COM9\" \n");
        QVERIFY(failed >= 0);
        QVERIFY(records.at(failed + 1).startsWith("ERROR: No permission to open COM9"));
        QVERIFY(records.at(failed + 1).contains(QString("\"%1\"").arg(QFileInfo(denied).group())));
        QVERIFY(records.at(failed + 1).contains("log in again"));
    }
};

BACKEND_TEST_MAIN(BackendConnectionTest)
#include "BackendConnectionTest.moc"
