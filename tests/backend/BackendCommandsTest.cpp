// Motion and maintenance commands against the simulator: clamping, the range limits, the emergency
// stop, maintenance and calibration, the behaviour switches and contained library exceptions.
#include <cmath>
#include <limits>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSignalSpy>

#include "BackendRig.h"
#include "Timing.h"

namespace {

// The commands a simulator received from position `from` on, without status polls.
QStringList CommandsSince(const Simulator &simulator, int from) {
    return Commands(simulator).mid(from);
}

// The read-back after a transmittance command: " => tr,deg,stp= 0.500000 , 32.499443 , 12942".
struct ReadBack {
    bool found = false;
    double transmittance = 0;
    double degree = 0;
    int steps = 0;
};

ReadBack LastReadBack(const QStringList &records) {
    static const QRegularExpression line(
        QStringLiteral("^INFO:  => tr,deg,stp= (-?\\d+\\.\\d{6}) , (-?\\d+\\.\\d{6}) , (-?\\d+)$"));
    ReadBack readBack;
    for (const QString &record : records) {
        const QRegularExpressionMatch match = line.match(record);
        if (match.hasMatch()) {
            readBack = {true, match.captured(1).toDouble(), match.captured(2).toDouble(), match.captured(3).toInt()};
        }
    }
    return readBack;
}

} // namespace

class BackendCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void transmittanceIsClampedIntoTheRange_data() {
        QTest::addColumn<float>("written");
        QTest::addColumn<float>("commanded");
        QTest::addColumn<QString>("logged");
        QTest::newRow("above") << 0.9f << 0.8f << "0.8";
        QTest::newRow("below") << 0.1f << 0.2f << "0.2";
        QTest::newRow("inside") << 0.5f << 0.5f << "0.5";
    }

    void transmittanceIsClampedIntoTheRange() {
        QFETCH(float, written);
        QFETCH(float, commanded);
        QFETCH(QString, logged);
        Rig rig;
        rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setProperty("transmittanceRangeMax", 0.8f);
        backend.setProperty("transmittanceRangeMin", 0.2f);
        const int mark = rig.signalLog().size();

        QVERIFY(backend.setProperty("transmittance", written));
        const QStringList records = rig.records();
        const int set = records.lastIndexOf("INFO: Set transmittance to " + logged);
        QVERIFY(set >= 0);
        QCOMPARE(records.at(set + 1), QString("INFO:  => \"Ok\""));
        const ReadBack readBack = LastReadBack(records);
        QVERIFY(readBack.found);
        QVERIFY(std::abs(readBack.transmittance - commanded) < 0.001);
        QCOMPARE(readBack.steps, backend.getStep());
        QVERIFY(std::abs(readBack.degree - backend.getDegree()) < 1e-5);
        QVERIFY(std::abs(backend.getTransmittance() - commanded) < 0.001f);
        QCOMPARE(rig.signalLog().since(mark).mid(0, 3),
                 (QStringList{"motorTransmittanceChanged", "motorDegreeChanged", "motorStepChanged"}));

        backend.DisconnectMotor();
        QVERIFY(rig.waitForDisconnection(1));
        QCOMPARE(float(Rig::readConfig("COM3").value("last_user_transmittance").toDouble()), commanded);
    }

    void rangeLimitsRejectInvalidValues_data() {
        QTest::addColumn<bool>("max");
        QTest::addColumn<float>("value");
        QTest::addColumn<bool>("signalled");
        QTest::addColumn<bool>("stored");
        const float nan = std::nanf("");
        QTest::newRow("max unchanged") << true << 0.7f << false << false;
        QTest::newRow("max at min") << true << 0.3f << true << false;
        QTest::newRow("max below min") << true << 0.2f << true << false;
        QTest::newRow("max above 1") << true << 1.2f << true << false;
        QTest::newRow("max negative") << true << -0.1f << true << false;
        QTest::newRow("max not a number") << true << nan << true << false;
        QTest::newRow("max 1") << true << 1.0f << true << true;
        QTest::newRow("min unchanged") << false << 0.3f << false << false;
        QTest::newRow("min at max") << false << 0.7f << true << false;
        QTest::newRow("min above 1") << false << 1.2f << true << false;
        QTest::newRow("min negative") << false << -0.1f << true << false;
        QTest::newRow("min not a number") << false << nan << true << false;
        QTest::newRow("min 0") << false << 0.0f << true << true;
    }

    void rangeLimitsRejectInvalidValues() {
        QFETCH(bool, max);
        QFETCH(float, value);
        QFETCH(bool, signalled);
        QFETCH(bool, stored);
        Rig rig;
        Backend &backend = rig.start();
        backend.ApplyTransmittanceRangeMax(0.7f);
        backend.ApplyTransmittanceRangeMin(0.3f);
        QSignalSpy maxChanged(&backend, &Backend::transmittanceRangeMaxChanged);
        QSignalSpy minChanged(&backend, &Backend::transmittanceRangeMinChanged);
        const int records = rig.records().size();

        backend.setProperty(max ? "transmittanceRangeMax" : "transmittanceRangeMin", value);
        QCOMPARE((max ? maxChanged : minChanged).count(), signalled ? 1 : 0);
        QCOMPARE((max ? minChanged : maxChanged).count(), 0);
        const float now = max ? backend.getTransmittanceRangeMax() : backend.getTransmittanceRangeMin();
        QCOMPARE(now, stored ? value : (max ? 0.7f : 0.3f));
        const QStringList logged = rig.records().mid(records);
        if (stored) {
            QCOMPARE(logged.first(), QString("INFO: Set transmittance range %1 to %2")
                                         .arg(max ? "max" : "min", QString::number(value, 'f', 6)));
        } else {
            QCOMPARE(logged, QStringList());
        }
    }

    void rangeChangesPullTheAttenuatorIntoTheRange() {
        Rig rig;
        rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setProperty("transmittance", 0.6f);

        backend.setProperty("transmittanceRangeMax", 0.5f);
        QStringList records = rig.records();
        QCOMPARE(records.at(records.indexOf("INFO: Set transmittance range max to 0.500000") + 1),
                 QString("INFO: Set transmittance to 0.5"));
        QVERIFY(std::abs(backend.getTransmittance() - 0.5f) < 0.001f);

        backend.setProperty("transmittanceRangeMax", 0.7f);
        QCOMPARE(rig.records().last(), QString("INFO: Set transmittance range max to 0.700000"));

        // While busy the transmittance reads as 0, so a raised minimum always drives the attenuator.
        backend.setBusy(true);
        backend.setProperty("transmittanceRangeMin", 0.3f);
        records = rig.records();
        QVERIFY(records.contains("INFO: Set transmittance to 0.3"));
        QCOMPARE(records.last(), QString("INFO:  => tr,deg,stp= 0.000000 , 0.000000 , 0"));
        backend.setBusy(false);
        QVERIFY(std::abs(backend.getTransmittance() - 0.3f) < 0.001f);
    }

    void degreeAndStepWritesMoveTheMotor() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        const int mark = rig.signalLog().size();
        const int commands = Commands(simulator).size();

        backend.setProperty("degree", 30.0f);
        QCOMPARE(CommandsSince(simulator, commands), QStringList{"0ma00002EAA"});
        QCOMPARE(rig.records().mid(rig.records().size() - 2),
                 (QStringList{"INFO: Set absolute degree to 30", "INFO:  => \"Ok\""}));
        QCOMPARE(rig.signalLog().since(mark).mid(0, 3),
                 (QStringList{"motorTransmittanceChanged", "motorDegreeChanged", "motorStepChanged"}));

        backend.setProperty("step", -1234);
        QCOMPARE(rig.records().mid(rig.records().size() - 2),
                 (QStringList{"INFO: Set steps to -1234", "INFO:  => \"Ok\""}));
        QCOMPARE(backend.property("step").toInt(), -1234);

        backend.setProperty("degree", 400.0f);
        QCOMPARE(backend.getMotorStatusDescription(), QString("Parameter out of range"));
        QCOMPARE(rig.records().last(), QString("INFO:  => \"Parameter out of range\""));
    }

    void offsetWriteLogsAndRefreshesTheReadouts() {
        Rig rig;
        Backend &backend = rig.start();
        const int mark = rig.signalLog().size();
        backend.setProperty("offsetDegree", 400.0);
        QCOMPARE(backend.getOffsetDegree(), 400.0);
        QCOMPARE(rig.records().mid(rig.records().size() - 2),
                 (QStringList{"INFO: Set transmittance offset degree to 400", "INFO:  => \"Ok\""}));
        // The refresh runs inside the emission, before this log's own slot hears it.
        QCOMPARE(rig.signalLog().since(mark).mid(0, 4), (QStringList{"motorTransmittanceChanged", "motorDegreeChanged",
                                                                     "motorStepChanged", "offsetDegreeChanged"}));
    }

    void routineStartedOnAClosedLineLeavesTheProgramFreeToConnect() {
        Rig rig;
        rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        const int changes = rig.signalLog().connectedValues().size();
        backend.DisconnectMotor();
        QVERIFY(rig.waitForDisconnection(changes));

        // Nothing can run on a closed line; a busy state here would drop every connection attempt.
        backend.StartMotorOptimization();
        backend.StartMotorCleaningMechanics();
        backend.MechanicalCalibration();
        QCOMPARE(backend.getMotorStatusDescription(), QString("Serial closed"));
        QVERIFY(!backend.getBusy());
        QVERIFY(rig.connectRow(1));
    }

    void nonNumbersMoveNothingAndAreNotStored() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setProperty("offsetDegree", 5.0);
        backend.setProperty("transmittance", 0.4f);
        const int commands = Commands(simulator).size();

        backend.ApplyTransmittance(std::numeric_limits<float>::quiet_NaN());
        backend.ApplyOffsetDegree(std::numeric_limits<double>::infinity());
        backend.ApplyOffsetDegree(std::numeric_limits<double>::quiet_NaN());
        QCOMPARE(backend.getMotorStatusDescription(), QString("Parameter out of range"));
        QCOMPARE(backend.getOffsetDegree(), 5.0);
        QVERIFY(CommandsSince(simulator, commands).filter(QRegularExpression("^0ma")).isEmpty());

        // The next connection restores what was stored: the last real value.
        const int changes = rig.signalLog().connectedValues().size();
        backend.ConnectMotorViaSerial(0);
        QVERIFY(rig.waitForDisconnection(changes));
        const QJsonObject saved = Rig::readConfig("COM3");
        QVERIFY(std::abs(saved.value("last_user_transmittance").toDouble() - 0.4) < 1e-6);
        QCOMPARE(saved.value("offset_degree").toDouble(), 5.0);
    }

    void emergencyStopWithoutBusySendsNoStop() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setProperty("transmittance", 0.5f);
        const int commands = Commands(simulator).size();
        const int records = rig.records().size();
        QSignalSpy busy(&backend, &Backend::busyChanged);

        backend.EmergencyStop();
        QCOMPARE(CommandsSince(simulator, commands), (QStringList{"0ma00000000", "0gp"}));
        QCOMPARE(rig.records().mid(records),
                 (QStringList{"INFO: Stop motor", "INFO:  => set transmittance to 0, current transmittance offset= 0",
                              "INFO: STOP done", "INFO:  => \"Ok\""}));
        QCOMPARE(busy.count(), 0);
        QCOMPARE(backend.getTransmittance(), 0.0f);
    }

    void maintenanceAnsweredBusyStaysBusyUntilTheStop() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3", {"--maintenance-seconds", "60"});
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));

        QSignalSpy busy(&backend, &Backend::busyChanged);
        backend.StartMotorCleaningMechanics();
        QCOMPARE(rig.records().mid(rig.records().size() - 2),
                 (QStringList{"INFO: Start motor cleaning", "INFO:  => \"Busy\""}));
        QCOMPARE(simulator.control("get maintenance"), std::string("ok 1"));
        QVERIFY(backend.getBusy());
        QCOMPARE(busy.count(), 1);
        QCOMPARE(backend.getMotorStatusDescription(), QString("Busy"));
        // The polls neither clear busy nor overwrite the status.
        const int polls = rig.signalLog().count("motorErrorCodeChanged");
        QTRY_VERIFY(rig.signalLog().count("motorErrorCodeChanged") > polls + 2);
        QVERIFY(backend.getBusy());
        QCOMPARE(backend.getMotorStatusDescription(), QString("Busy"));

        // A screen reads the angle on each notification; the last one must show the device, not the 0 of busy.
        backend.setProperty("offsetDegree", 20.0);
        QList<float> shown;
        QObject::connect(&backend, &Backend::motorDegreeChanged, [&] { shown.append(backend.getDegree()); });
        const int commands = Commands(simulator).size();
        backend.EmergencyStop();
        QCOMPARE(CommandsSince(simulator, commands).first(), QString("0st"));
        QCOMPARE(simulator.control("get maintenance"), std::string("ok 0"));
        QVERIFY(!backend.getBusy());
        QCOMPARE(busy.count(), 2);
        QCOMPARE(rig.records().last(), QString("INFO:  => \"Ok\""));
        QVERIFY(!shown.isEmpty());
        QVERIFY(qAbs(shown.last() - 20.0f) < 0.01f);
    }

    void emergencyStopEndsWhenZeroIsNeverConfirmed() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3", {"--maintenance-seconds", "60"});
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        // Neither busy nor the last status asks for a Stop; the device then answers Busy to every move,
        // and the read-back of a position it never sent is not zero with this offset.
        QCOMPARE(simulator.control("force-status 9"), std::string("ok"));
        backend.setProperty("offsetDegree", 20.0);
        const int commands = Commands(simulator).size();

        backend.EmergencyStop();
        const QStringList sent = CommandsSince(simulator, commands);
        QCOMPARE(sent.filter(QRegularExpression("^0ma")).size(), 10);
        QVERIFY(!sent.contains("0st"));
        QCOMPARE(rig.records().mid(rig.records().size() - 3),
                 (QStringList{"ERROR: STOP could not confirm transmittance 0", "INFO: STOP done",
                              "INFO:  => \"Busy\""}));
    }

    void emergencyStopEndsAgainstASilentDevice() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setBusy(true);
        QCOMPARE(simulator.control("silent on"), std::string("ok"));

        QElapsedTimer elapsed;
        elapsed.start();
        backend.EmergencyStop();
        // One missed reply does not end the stop; a second one does. The Stop, the move to zero, the
        // closing status poll and the monitor's polls between them each run to their limit.
        QVERIFY2(timing::WithinBound(elapsed.elapsed(), 19999), qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(!backend.getBusy());
        const QStringList records = rig.records();
        const int unconfirmed = records.indexOf("ERROR: STOP could not confirm transmittance 0");
        QVERIFY(unconfirmed >= 0);
        QVERIFY(unconfirmed < records.indexOf("INFO: STOP done"));
        QCOMPARE(records.filter("set transmittance to 0").size(), 1);
    }

    void calibrationRestoresTheLastValueWithinTheRange() {
        Rig rig;
        Rig::writeConfig("COM3", QJsonObject{{"init_transmittance_zero", false},
                                             {"last_user_transmittance", 0.9},
                                             {"transmittance_range_min", 0.0},
                                             {"transmittance_range_max", 0.6}});
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        QVERIFY(!backend.getMechanicalCalibrationTransmittanceZero());

        int commands = Commands(simulator).size();
        backend.MechanicalCalibration();
        QCOMPARE(CommandsSince(simulator, commands).first(), QString("0ho0"));
        QStringList records = rig.records();
        const int calibration = records.lastIndexOf("INFO: Mechanical calibration");
        QCOMPARE(records.mid(calibration + 1, 2), (QStringList{"INFO:  => \"Ok\"", "INFO: Set transmittance to 0.6"}));
        QVERIFY(std::abs(backend.getTransmittance() - 0.6f) < 0.001f);

        backend.setMechanicalCalibrationTransmittanceZero(true);
        backend.MechanicalCalibration();
        QVERIFY(rig.records().mid(calibration + 2).contains("INFO: Set transmittance to 0"));
        QCOMPARE(backend.getTransmittance(), 0.0f);

        QCOMPARE(simulator.control("force-status 2"), std::string("ok"));
        QSignalSpy busy(&backend, &Backend::busyChanged);
        commands = Commands(simulator).size();
        const int before = rig.records().size();
        backend.MechanicalCalibration();
        QCOMPARE(rig.records().mid(before),
                 (QStringList{"INFO: Mechanical calibration", "INFO:  => \"Mechanical timeout\""}));
        QVERIFY(backend.getBusy());
        QCOMPARE(busy.count(), 1);
    }

    void calibrationConfirmedByStatusZeroRestoresAndLeavesTheProgramFree() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setMechanicalCalibrationTransmittanceZero(true);
        // The calibration request alone gets status 0; the monitor's polls and the restoring move do not.
        QCOMPARE(simulator.control("spare-status on"), std::string("ok"));
        QCOMPARE(simulator.control("force-status 0"), std::string("ok"));
        QCOMPARE(simulator.control("once on"), std::string("ok"));
        const int before = rig.records().size();
        backend.MechanicalCalibration();
        QCOMPARE(rig.records().mid(before, 3),
                 (QStringList{"INFO: Mechanical calibration", "INFO:  => \"Ok\"", "INFO: Set transmittance to 0"}));
        QVERIFY(!backend.getBusy());
    }

    void switchesLogOnlyChanges_data() {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("text");
        QTest::newRow("auto connect") << QByteArray("autoConnectPossibleSerial") << "Change system-Init; auto connect:";
        QTest::newRow("init") << QByteArray("initTransmittanceZero") << "Change system-Init; tr to zero:";
        QTest::newRow("terminate") << QByteArray("terminateTransmittanceZero")
                                   << "Change system-Terminate; tr to zero:";
        QTest::newRow("calibration") << QByteArray("mechanicalCalibrationTransmittanceZero")
                                     << "Change system-Mechanical calib; tr to zero:";
    }

    void switchesLogOnlyChanges() {
        QFETCH(QByteArray, property);
        QFETCH(QString, text);
        Rig rig;
        Backend &backend = rig.start();
        const QMetaProperty meta = backend.metaObject()->property(backend.metaObject()->indexOfProperty(property));
        QSignalSpy changed(&backend, meta.notifySignal());

        QVERIFY(backend.setProperty(property, true));
        QCOMPARE(changed.count(), 0);
        QVERIFY(backend.setProperty(property, false));
        QVERIFY(backend.setProperty(property, false));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(rig.countRecords("INFO: " + text + " false"), 1);
        QVERIFY(backend.setProperty(property, true));
        QCOMPARE(rig.records().last(), "INFO: " + text + " true");
        QCOMPARE(changed.count(), 2);
    }

    void anUnreadableReplyToACommandIsContained() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setProperty("step", 500);

        QCOMPARE(simulator.control("malformed digits"), std::string("ok"));
        const QString failure = "ERROR: Device call failed: invalid stoul argument";
        const int failures = rig.countRecords(failure);
        QCOMPARE(backend.property("step").toInt(), 0);
        QVERIFY(rig.countRecords(failure) > failures);

        backend.EmergencyStop();
        QCOMPARE(backend.getMotorStatusDescription(), QString("Serial undefined error"));
        // The monitor's polls fail the same way meanwhile; their records may come between.
        QStringList records = rig.records();
        records = records.mid(records.lastIndexOf("INFO: STOP done") + 1);
        records.removeAll(failure);
        QCOMPARE(records.first(), QString("INFO:  => \"Serial undefined error\""));

        QCOMPARE(simulator.control("malformed off"), std::string("ok"));
        QCOMPARE(backend.property("step").toInt(), 0);
        backend.setProperty("step", 700);
        QCOMPARE(backend.getMotorStatusDescription(), QString("Ok"));
        QCOMPARE(backend.property("step").toInt(), 700);
    }
};

BACKEND_TEST_MAIN(BackendCommandsTest)
#include "BackendCommandsTest.moc"
