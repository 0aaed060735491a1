// The offset that the calibration writes into luxora's settings file gives the bytes luxora's own save
// writes for the same settings, so that the program reads the file as its own and writes it back unchanged.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "TempXdg.h"
#include "calibration/Settings.h"
#include "frontend/PortProfile.h"
#include "settings/DeviceConfig.h"

Q_DECLARE_METATYPE(DeviceConfig)

namespace {

QByteArray Contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class LuxoraLayoutTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // luxora's identity, which places its data folder (settings-path-agreement-tests holds the two equal).
        QCoreApplication::setOrganizationName(QStringLiteral("Korvan. Inc"));
        QCoreApplication::setApplicationName(QStringLiteral("Luxora"));
        SetConfigFileName(QStringLiteral("COM5.json"));
    }

    void sameBytesAsSaveConfig_data() {
        QTest::addColumn<DeviceConfig>("record");
        QTest::addColumn<bool>("fileBefore");
        QTest::addColumn<double>("offset");
        DeviceConfig defaults;
        QTest::newRow("no file yet") << defaults << false << -3.7;
        QTest::newRow("defaults") << defaults << true << 0.0;
        DeviceConfig used;
        used.alias = QStringLiteral("Bench \"B\" \u00b5-line\t2");
        used.offsetDegree = 1.25f;
        used.presets = {0.1f, 33.333f, 50.0f, 100.0f};
        used.autoConnectPossibleSerial = false;
        used.initTransmittanceZero = false;
        used.terminateTransmittanceZero = true;
        used.darkMode = true;
        used.lastUserTransmittance = 0.123456f;
        used.transmittanceRangeMin = 0.05f;
        used.transmittanceRangeMax = 0.95f;
        QTest::newRow("a used file") << used << true << 12.3456789;
        QTest::newRow("a tiny offset") << used << true << 1e-7;
        QTest::newRow("far round") << used << true << -359.99;
    }

    void sameBytesAsSaveConfig() {
        QFETCH(DeviceConfig, record);
        QFETCH(bool, fileBefore);
        QFETCH(double, offset);
        TempXdg xdg;
        QCOMPARE(ConfigFilePath(), QString::fromStdString(frontend::SettingsPath("COM5")));
        if (fileBefore)
            SaveConfig(record);
        calibration::ApplyOffset("COM5", offset);
        const QByteArray applied = Contents(ConfigFilePath());
        record.offsetDegree = static_cast<float>(offset);
        SaveConfig(record);
        QCOMPARE(applied, Contents(ConfigFilePath()));
        DeviceConfig loaded;
        LoadConfig(loaded);
        QCOMPARE(loaded.offsetDegree, static_cast<float>(offset));
    }

    // Members luxora does not know (a later version's) keep Qt's layout too, numbers of every form included.
    void unknownMembersInQtLayout() {
        TempXdg xdg;
        SaveConfig(DeviceConfig{});
        QJsonObject object = QJsonDocument::fromJson(Contents(ConfigFilePath())).object();
        object.insert(QStringLiteral("later_numbers"),
                      QJsonArray{1e-5, 0.0001, 123456.7, 1e15, 1e21, -2.5e-300, 18446744073709551616.0, 3});
        object.insert(QStringLiteral("later_object"), QJsonObject{{QStringLiteral("empty"), QJsonObject{}}});
        QFile file(ConfigFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(object).toJson(QJsonDocument::Compact));
        file.close();
        calibration::ApplyOffset("COM5", 4.5);
        object.insert(QStringLiteral("offset_degree"), 4.5);
        QCOMPARE(Contents(ConfigFilePath()), QJsonDocument(object).toJson(QJsonDocument::Indented));
    }
};

QTEST_GUILESS_MAIN(LuxoraLayoutTest)
#include "LuxoraLayoutTest.moc"
