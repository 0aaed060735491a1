// Settings files against JSON text written or read here: format, fallbacks, unreadable files, failed saves.
#include "settings/DeviceConfig.h"

#include <csignal>

#include <QtTest>
#include <sys/resource.h>

#include "TempXdg.h"

namespace {

QString DataDir() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QByteArray Read(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void Write(const QByteArray &contents) {
    QDir().mkpath(DataDir());
    QFile file(ConfigFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
}

constexpr QFile::Permissions kUserOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;

// Every field in one comparable value.
QVariantList Fields(const DeviceConfig &r) {
    QVariantList presets;
    for (const float preset : r.presets) {
        presets.append(preset);
    }
    return {r.alias,
            r.offsetDegree,
            presets,
            r.autoConnectPossibleSerial,
            r.initTransmittanceZero,
            r.terminateTransmittanceZero,
            r.mechanicalCalibrationTransmittanceZero,
            r.darkMode,
            r.lastUserTransmittance,
            r.transmittanceRangeMin,
            r.transmittanceRangeMax};
}

DeviceConfig Sample() {
    return {"Bench A\\1", 1.3f, {50.0f, 0.1f, 12.5f}, false, true, true, true, true, 0.25f, 0.05f, 0.9f};
}

// Sample() as Qt's indented layout writes it: keys in order, each float as the double it widens to.
const char kSampleFile[] = R"({
    "auto_connect_possible_serial": false,
    "dark_mode": true,
    "device_alias": "Bench A\\1",
    "init_transmittance_zero": true,
    "last_user_transmittance": 0.25,
    "offset_degree": 1.2999999523162842,
    "presets": [
        50,
        0.10000000149011612,
        12.5
    ],
    "terminate_transmittance_zero": true,
    "transmittance_range_max": 0.8999999761581421,
    "transmittance_range_min": 0.05000000074505806
}
)";

} // namespace

class DeviceConfigTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(ConfigFileName(), QByteArray("default.json")); }

    void init() {
        QDir(DataDir()).removeRecursively();
        SetConfigFileName(QStringLiteral("COM3.json"));
    }

    void saveWritesTheTenMembersInQtsIndentedLayout() {
        QCOMPARE(ConfigFilePath(), DataDir() + "/cfg_COM3.json");
        SaveConfig(Sample());
        QCOMPARE(Read(ConfigFilePath()), QByteArray(kSampleFile));
        QCOMPARE(QFile::permissions(ConfigFilePath()), kUserOnly);
        QCOMPARE(QFile::permissions(DataDir()), kUserOnly | QFile::ExeOwner | QFile::ExeUser);

        DeviceConfig reloaded; // the calibration switch is not stored
        LoadConfig(reloaded);
        DeviceConfig expected = Sample();
        expected.mechanicalCalibrationTransmittanceZero = false;
        QCOMPARE(Fields(reloaded), Fields(expected));
    }

    void emptyObjectReadsAsZeroFalseOrEmpty() {
        Write("{}");
        DeviceConfig record = Sample();
        LoadConfig(record);
        DeviceConfig zeroed;
        zeroed.autoConnectPossibleSerial = zeroed.initTransmittanceZero = false;
        zeroed.transmittanceRangeMax = 0.0f;
        zeroed.mechanicalCalibrationTransmittanceZero = true; // not read: the record's own value stays
        QCOMPARE(Fields(record), Fields(zeroed));
    }

    void unreadableFileIsKeptAsideAndTheRecordKeepsItsValues_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("not JSON") << QByteArray("device_alias=Bench");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("array at the top") << QByteArray("[1, 2]");
    }

    void unreadableFileIsKeptAsideAndTheRecordKeepsItsValues() {
        QFETCH(QByteArray, contents);
        DeviceConfig record = Sample();
        LoadConfig(record); // no file yet
        Write(contents);
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("kept as .*/cfg_COM3\\.json\\.corrupt"));
        LoadConfig(record);
        QCOMPARE(Fields(record), Fields(Sample()));
        SaveConfig(record);
        QCOMPARE(Read(ConfigFilePath() + ".corrupt"), contents);
        QCOMPARE(Read(ConfigFilePath()), QByteArray(kSampleFile));
    }

    void failedSaveLeavesThePreviousFileWhole() {
        SaveConfig(Sample());
        // A file size limit makes the write fail part way through, as a full disk does.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit original{};
        getrlimit(RLIMIT_FSIZE, &original);
        rlimit tight = original;
        tight.rlim_cur = 64;
        setrlimit(RLIMIT_FSIZE, &tight);
        SaveConfig(DeviceConfig());
        setrlimit(RLIMIT_FSIZE, &original);
        QCOMPARE(Read(ConfigFilePath()), QByteArray(kSampleFile));
        QCOMPARE(QDir(DataDir()).entryList(QDir::Files | QDir::Hidden), QStringList{"cfg_COM3.json"});
    }
};

int main(int argc, char **argv) {
    TempXdg xdg; // before anything asks QStandardPaths: the user's own folders stay untouched
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Korvan. Inc");
    QCoreApplication::setApplicationName("Luxora");
    DeviceConfigTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DeviceConfigTest.moc"
