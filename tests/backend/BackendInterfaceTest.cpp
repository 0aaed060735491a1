// The Backend as QML sees it: its meta-object against the screen tests' fake, the read and write rules of
// its properties, the preset bound and the shutdown.
#include <QDir>
#include <QFileInfo>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QStandardPaths>

#include "BackendRig.h"
#include "FakeBackend.h"

namespace {

// Everything of a meta-object that QML relies on, one line per member, in the class's own order.
QStringList Interface(const QMetaObject &meta) {
    QStringList lines;
    lines << QString("base %1").arg(meta.superClass()->className());
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        lines << QString("property %1 %2 notify %3%4%5%6%7")
                     .arg(property.typeName(), property.name(), QString(property.notifySignal().methodSignature()),
                          property.isWritable() ? " writable" : "", property.isResettable() ? " resettable" : "",
                          property.isConstant() ? " constant" : "", property.isFinal() ? " final" : "");
    }
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        static const char *const kinds[] = {"method", "signal", "slot", "constructor"};
        static const char *const access[] = {"private", "protected", "public"};
        lines << QString("%1 %2 %3 %4(%5)")
                     .arg(access[method.access()], kinds[method.methodType()], method.typeName(),
                          QString(method.methodSignature()), QString(method.parameterNames().join(", ")));
    }
    return lines;
}

} // namespace

class BackendInterfaceTest : public QObject {
    Q_OBJECT

private slots:
    // The screen tests run against the fake; any difference from the program's Backend, down to a type, an
    // argument name or the order QML sees, fails here rather than passing there.
    void screensFakeHasExactlyTheBackendsInterface() {
        Rig rig;
        rig.start(); // registers the model pointer types
        const QStringList real = Interface(Backend::staticMetaObject);
        QCOMPARE(Interface(FakeBackendInterface::staticMetaObject), real);
        QCOMPARE(real.first(), QString("base QObject"));
        for (int i = Backend::staticMetaObject.propertyOffset(); i < Backend::staticMetaObject.propertyCount(); ++i) {
            const char *type = Backend::staticMetaObject.property(i).typeName();
            QVERIFY2(QMetaType::type(type) != QMetaType::UnknownType, type);
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
