// The Backend as QML sees it: its meta-object, the read and write rules of its properties, the preset
// bound and the shutdown.
#include <QDir>
#include <QFileInfo>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QStandardPaths>

#include "BackendRig.h"

namespace {

struct PropertyRow {
    const char *name;
    const char *type;
    const char *notify;
    bool writable;
};

const PropertyRow kProperties[] = {
    {"connectedSerialName", "QString", "motorConnectedChanged(bool)", true},
    {"connectedSerialAlias", "QString", "deviceAliasChanged()", true},
    {"visibleSerialPortNames", "QStringListModel*", "visibleSerialPortNamesChanged()", false},
    {"currentIndexOfVisibleSerialPortNames", "int", "currentIndexOfVisibleSerialPortNamesChanged()", false},
    {"presetListModel", "QAbstractListModel*", "presetListModelChanged()", false},
    {"transmittance", "float", "motorTransmittanceChanged()", true},
    {"degree", "float", "motorDegreeChanged()", true},
    {"step", "int", "motorStepChanged()", true},
    {"offsetDegree", "double", "offsetDegreeChanged()", true},
    {"motorConnected", "bool", "motorConnectedChanged(bool)", false},
    {"busy", "bool", "busyChanged()", true},
    {"autoConnectPossibleSerial", "bool", "autoConnectPossibleSerialChanged()", true},
    {"initTransmittanceZero", "bool", "initTransmittanceZeroChanged()", true},
    {"terminateTransmittanceZero", "bool", "terminateTransmittanceZeroChanged()", true},
    {"mechanicalCalibrationTransmittanceZero", "bool", "mechanicalCalibrationTransmittanceZeroChanged()", true},
    {"darkMode", "bool", "darkModeChanged()", true},
    {"motorStatusDescription", "QString", "motorErrorCodeChanged()", false},
    {"transmittanceRangeMin", "float", "transmittanceRangeMinChanged()", true},
    {"transmittanceRangeMax", "float", "transmittanceRangeMaxChanged()", true},
};

const char *const kSignals[] = {
    "visibleSerialPortNamesChanged()",
    "currentIndexOfVisibleSerialPortNamesChanged()",
    "presetListModelChanged()",
    "motorTransmittanceChanged()",
    "motorDegreeChanged()",
    "motorStepChanged()",
    "offsetDegreeChanged()",
    "resolutionRangeDegreeChanged()",
    "motorConnectedChanged(bool)",
    "busyChanged()",
    "autoConnectPossibleSerialChanged()",
    "initTransmittanceZeroChanged()",
    "terminateTransmittanceZeroChanged()",
    "mechanicalCalibrationTransmittanceZeroChanged()",
    "darkModeChanged()",
    "motorErrorCodeChanged()",
    "deviceAliasChanged()",
    "transmittanceRangeMinChanged()",
    "transmittanceRangeMaxChanged()",
};

struct MethodRow {
    const char *signature;
    const char *returnType;
    QList<QByteArray> parameterNames;
    QMetaMethod::MethodType kind;
};

const MethodRow kMethods[] = {
    {"UpdateVisibleSerialPortNames()", "void", {}, QMetaMethod::Slot},
    {"ConnectMotorViaSerial(int)", "void", {"visible_serial_port_index"}, QMetaMethod::Method},
    {"Init()", "void", {}, QMetaMethod::Method},
    {"DisconnectMotor()", "void", {}, QMetaMethod::Method},
    {"PushPreset(float)", "bool", {"transmittance"}, QMetaMethod::Method},
    {"RemovePreset(int)", "void", {"index"}, QMetaMethod::Method},
    {"StartMotorOptimization()", "void", {}, QMetaMethod::Method},
    {"StartMotorCleaningMechanics()", "void", {}, QMetaMethod::Method},
    {"EmergencyStop()", "void", {}, QMetaMethod::Method},
    {"StartScanningSerialPort()", "void", {}, QMetaMethod::Method},
    {"StopScanningSerialPort()", "void", {}, QMetaMethod::Method},
    {"MechanicalCalibration()", "void", {}, QMetaMethod::Method},
};

} // namespace

class BackendInterfaceTest : public QObject {
    Q_OBJECT

private slots:
    void metaObjectIsExactlyTheInterfaceQmlUses() {
        Rig rig;
        rig.start(); // registers the model pointer types
        const QMetaObject &meta = Backend::staticMetaObject;
        QCOMPARE(meta.superClass(), &QObject::staticMetaObject);

        QCOMPARE(meta.propertyCount() - meta.propertyOffset(), int(std::size(kProperties)));
        for (int i = 0; i < int(std::size(kProperties)); ++i) {
            const QMetaProperty property = meta.property(meta.propertyOffset() + i);
            const PropertyRow &row = kProperties[i];
            QCOMPARE(property.name(), row.name);
            QCOMPARE(property.typeName(), row.type);
            QVERIFY2(QMetaType::type(row.type) != QMetaType::UnknownType, row.type);
            QCOMPARE(property.notifySignal().methodSignature(), QByteArray(row.notify));
            QCOMPARE(property.isWritable(), row.writable);
            QVERIFY(!property.isConstant());
            QVERIFY(!property.isFinal());
        }

        const int signalCount = int(std::size(kSignals));
        QCOMPARE(meta.methodCount() - meta.methodOffset(), signalCount + int(std::size(kMethods)));
        for (int i = 0; i < signalCount; ++i) {
            const QMetaMethod method = meta.method(meta.methodOffset() + i);
            QCOMPARE(method.methodType(), QMetaMethod::Signal);
            QCOMPARE(method.methodSignature(), QByteArray(kSignals[i]));
            QCOMPARE(method.access(), QMetaMethod::Public);
        }
        QCOMPARE(meta.method(meta.indexOfSignal("motorConnectedChanged(bool)")).parameterNames(),
                 QList<QByteArray>{"connected"});
        for (int i = 0; i < int(std::size(kMethods)); ++i) {
            const QMetaMethod method = meta.method(meta.methodOffset() + signalCount + i);
            const MethodRow &row = kMethods[i];
            QCOMPARE(method.methodSignature(), QByteArray(row.signature));
            QCOMPARE(method.typeName(), row.returnType);
            QCOMPARE(method.parameterNames(), row.parameterNames);
            QCOMPARE(method.methodType(), row.kind);
            QCOMPARE(method.access(), QMetaMethod::Public);
        }
    }

    void modelPropertiesHandOutTheModels() {
        Rig rig;
        Backend &backend = rig.start();
        QCOMPARE(backend.property("visibleSerialPortNames").value<QStringListModel *>(),
                 backend.getVisibleSerialPortNames());
        QCOMPARE(backend.property("presetListModel").value<QAbstractListModel *>(), backend.getPresetListModel());
        QCOMPARE(backend.getVisibleSerialPortNames()->stringList(), QStringList{"No connection"});
    }

    void storedPropertiesEmitOnlyOnChange() {
        Rig rig;
        Backend &backend = rig.start();
        QSignalSpy busy(&backend, &Backend::busyChanged);
        QSignalSpy dark(&backend, &Backend::darkModeChanged);
        QSignalSpy alias(&backend, &Backend::deviceAliasChanged);
        QSignalSpy link(&backend, &Backend::motorConnectedChanged);

        QVERIFY(backend.setProperty("busy", false));
        QVERIFY(backend.setProperty("darkMode", false));
        QVERIFY(backend.setProperty("connectedSerialAlias", ""));
        QCOMPARE(busy.count() + dark.count() + alias.count(), 0);

        QVERIFY(backend.setProperty("busy", true));
        QVERIFY(backend.setProperty("busy", true));
        QVERIFY(backend.setProperty("darkMode", true));
        QVERIFY(backend.setProperty("darkMode", true));
        QVERIFY(backend.setProperty("connectedSerialAlias", "Bench"));
        QVERIFY(backend.setProperty("connectedSerialAlias", "Bench"));
        QCOMPARE(busy.count(), 1);
        QCOMPARE(dark.count(), 1);
        QCOMPARE(alias.count(), 1);
        QCOMPARE(backend.property("darkMode").toBool(), true);
        QCOMPARE(backend.property("connectedSerialAlias").toString(), QString("Bench"));

        QVERIFY(backend.setProperty("connectedSerialName", "COM3"));
        QCOMPARE(backend.property("connectedSerialName").toString(), QString("COM3"));
        QCOMPARE(link.count(), 0);
        QCOMPARE(backend.property("motorConnected").toBool(), false);
    }

    void currentIndexIsZeroWhileNothingIsConnected() {
        Rig rig;
        rig.addSimulator("COM3");
        Backend &backend = rig.start();
        backend.setConnectedSerialName("COM3");
        QCOMPARE(backend.getVisibleSerialPortNames()->stringList(), (QStringList{"No connection", "COM3"}));
        QCOMPARE(backend.property("currentIndexOfVisibleSerialPortNames").toInt(), 0);
    }

    void readsWhileBusyGiveZeroWithoutADeviceExchange() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setProperty("step", 20000);
        backend.setProperty("offsetDegree", 10.0);

        backend.setBusy(true);
        const int commands = Commands(simulator).size();
        QCOMPARE(backend.property("transmittance").toFloat(), 0.0f);
        QCOMPARE(backend.property("degree").toFloat(), 0.0f);
        QCOMPARE(backend.property("step").toInt(), 0);
        QCOMPARE(backend.property("offsetDegree").toDouble(), 0.0);
        QCOMPARE(Commands(simulator).size(), commands);

        backend.setBusy(false);
        QCOMPARE(backend.property("step").toInt(), 20000);
        QCOMPARE(backend.property("offsetDegree").toDouble(), 10.0);
        QVERIFY(backend.property("degree").toFloat() > 50.0f);
        QCOMPARE(Commands(simulator).mid(commands), (QStringList{"0gp", "0gp"}));
    }

    void pushPresetStopsAtFortyEntries() {
        Rig rig;
        Backend &backend = rig.start();
        QAbstractListModel *presets = backend.getPresetListModel();
        for (int i = 0; i < 39; ++i) {
            QVERIFY(backend.PushPreset(float(i)));
        }
        QVERIFY(backend.PushPreset(5.0f)); // already there: accepted, nothing changes
        QCOMPARE(presets->rowCount(), 39);

        bool accepted = false;
        QVERIFY(QMetaObject::invokeMethod(&backend, "PushPreset", Q_RETURN_ARG(bool, accepted), Q_ARG(float, 99.5f)));
        QVERIFY(accepted);
        QCOMPARE(presets->rowCount(), 40);

        QSignalSpy resets(presets, &QAbstractItemModel::modelReset);
        QVERIFY(!backend.PushPreset(50.0f));
        QCOMPARE(presets->rowCount(), 40);
        QCOMPARE(resets.count(), 0);

        backend.RemovePreset(0);
        QCOMPARE(presets->rowCount(), 39);
        QCOMPARE(presets->data(presets->index(0), SortedFloatingListModel::TransmittanceRole).toFloat(), 1.0f);
    }

    void shutdownWithoutADeviceSendsNothingAndWritesNoFile() {
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        backend.Shutdown();
        QCOMPARE(Commands(simulator), QStringList());
        QVERIFY(simulator.requests().empty());
        QVERIFY(!QFileInfo::exists(Rig::configPath("COM3")));
        QCOMPARE(backend.getVisibleSerialPortNames(), nullptr);
        QCOMPARE(backend.property("currentIndexOfVisibleSerialPortNames").toInt(), 0);
        backend.UpdateVisibleSerialPortNames();
        const QStringList records = rig.records();
        QCOMPARE(records.first(), QString("INFO: App start"));
        QCOMPARE(records.last(), QString("INFO: App end"));
    }

    void shutdownWithADeviceSavesStopsAndZeroes_data() {
        QTest::addColumn<bool>("toZero");
        QTest::newRow("transmittance to zero") << true;
        QTest::newRow("left where it is") << false;
    }

    void shutdownWithADeviceSavesStopsAndZeroes() {
        QFETCH(bool, toZero);
        Rig rig;
        Simulator &simulator = rig.addSimulator("COM3");
        Backend &backend = rig.start();
        QVERIFY(rig.connectRow(1));
        backend.setTerminateTransmittanceZero(toZero);
        backend.setProperty("transmittance", 0.5f);
        QVERIFY(simulator.control("get position") != "ok 0");

        backend.Shutdown();
        const QStringList expected = toZero ? QStringList{"0st", "0ma00000000"} : QStringList{"0st"};
        QCOMPARE(Commands(simulator).mid(Commands(simulator).size() - expected.size()), expected);
        QCOMPARE(simulator.control("get position") == "ok 0", toZero);
        const QJsonObject saved = Rig::readConfig("COM3");
        QCOMPARE(saved.value("terminate_transmittance_zero").toBool(), toZero);
        QCOMPARE(float(saved.value("last_user_transmittance").toDouble()), 0.5f);
    }

    void shutdownWaitsForAConnectAttemptAndLeavesThePortFree() {
        Rig rig;
        // Silent ports first, so that the sweep outlasts the monitor's end.
        for (const char *port : {"COM2", "COM3", "COM4", "COM5"}) {
            rig.addSimulator(port, {"--silent"});
        }
        Simulator &simulator = rig.addSimulator("COM6");
        Backend &backend = rig.start();
        backend.Init();
        backend.Shutdown();
        // The sweep ends before the release, so the release reaches the port it opened.
        const QStringList sent = Commands(simulator);
        QVERIFY(sent.contains("0in"));
        QCOMPARE(sent.mid(sent.size() - 2), (QStringList{"0st", "0ma00000000"}));
        KORVAN::Optivane other;
        QVERIFY(other.Connect("COM6"));
    }

    void onlyACOMPortNameFormsTheSettingsFileName() {
        Rig rig;
        Backend &backend = rig.start();
        const QByteArray before = ConfigFileName();
        backend.setConnectedSerialName("../../outside");
        backend.LoadDeviceConfig();
        QCOMPARE(ConfigFileName(), before);
        QVERIFY(
            rig.records().contains("ERROR: Settings not loaded: port name \"../../outside\" is not a COM port name"));
        backend.SaveDeviceConfig();
        QVERIFY(QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                    .entryList({"*.json"}, QDir::Files)
                    .isEmpty());

        backend.setConnectedSerialName("COM7");
        backend.LoadDeviceConfig();
        QCOMPARE(ConfigFileName(), QByteArray("cfg_COM7.json"));
        backend.SaveDeviceConfig();
        QVERIFY(QFileInfo::exists(Rig::configPath("COM7")));
    }
};

BACKEND_TEST_MAIN(BackendInterfaceTest)
#include "BackendInterfaceTest.moc"
