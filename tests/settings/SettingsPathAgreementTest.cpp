// luxora and the scripting front ends name the same settings file for a port: the program set up by its
// own start-up steps on one side, the front ends' reader on the other.
#include <QtTest>

#include "TempXdg.h"
#include "frontend/PortProfile.h"
#include "settings/DeviceConfig.h"
#include "shell/Startup.h"

class SettingsPathAgreementTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { startup::ApplyIdentity(); }

    void bothNameTheSameFile_data() {
        QTest::addColumn<bool>("dataHomeSet");
        QTest::newRow("XDG_DATA_HOME") << true;
        QTest::newRow("home folder") << false;
    }

    void bothNameTheSameFile() {
        QFETCH(bool, dataHomeSet);
        TempXdg xdg;
        const QByteArray home = qgetenv("HOME");
        if (!dataHomeSet) {
            qunsetenv("XDG_DATA_HOME");
            qputenv("HOME", QByteArray::fromStdString(xdg.root()));
        }
        SetConfigFileName(QStringLiteral("COM5.json"));
        const std::string luxora = ConfigFilePath().toStdString();
        const std::string frontEnd = frontend::SettingsPath("COM5");
        qputenv("HOME", home);
        QCOMPARE(QString::fromStdString(frontEnd), QString::fromStdString(luxora));
        QVERIFY(frontEnd.rfind(xdg.root(), 0) == 0);
    }
};

QTEST_MAIN(SettingsPathAgreementTest)
#include "SettingsPathAgreementTest.moc"
