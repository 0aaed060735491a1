// The update step against a fake updater on PATH: its answer, its arguments and the log lines of the step.
#include "shell/Updater.h"

#include <QtTest>

namespace {

QStringList records;

void Capture(QtMsgType type, const QMessageLogContext &, const QString &text) {
    records.append((type == QtCriticalMsg ? "ERROR: " : "INFO: ") + text);
}

// Saves its arguments NUL-separated beside itself, then ends as FAKE_UPDATER_END says.
const char kFakeUpdater[] = "#!/bin/sh\n"
                            "printf '%s\\0' \"$@\" > \"${0%/*}/argv\"\n"
                            "[ \"$FAKE_UPDATER_END\" = crash ] && kill -KILL $$\n"
                            "exit \"$FAKE_UPDATER_END\"\n";

const QByteArrayList kValues = {"https://updates.example/att/.version.json", "1.3.1",
                                "/home/ada/.local/share/Korvan. Inc/Luxora", "/opt/my \"lux\" $HOME;ls/luxora"};

bool Run() {
    return RunUpdater(kValues[0], kValues[1], kValues[2], kValues[3]);
}

} // namespace

class UpdaterTest : public QObject {
    Q_OBJECT

    QTemporaryDir bin;
    QtMessageHandler previousHandler = nullptr;

    void InstallUpdater(QFile::Permissions permissions) {
        QFile file(bin.filePath("updater"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kFakeUpdater) > 0);
        QVERIFY(file.setPermissions(permissions));
    }

private slots:
    void initTestCase() { qputenv("PATH", QFile::encodeName(bin.path()) + ":" + qgetenv("PATH")); }

    void init() {
        InstallUpdater(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        records.clear();
        previousHandler = qInstallMessageHandler(Capture);
    }

    void cleanup() { qInstallMessageHandler(previousHandler); }

    void exitCodeDecidesWhetherTheApplicationEnds_data() {
        QTest::addColumn<QByteArray>("end");
        QTest::addColumn<bool>("ends");
        QTest::newRow("exit code 0") << QByteArray("0") << true;
        QTest::newRow("exit code 1") << QByteArray("1") << false;
        QTest::newRow("crash") << QByteArray("crash") << false;
    }

    void exitCodeDecidesWhetherTheApplicationEnds() {
        QFETCH(QByteArray, end);
        QFETCH(bool, ends);
        qputenv("FAKE_UPDATER_END", end);
        QCOMPARE(Run(), ends);
        // Each value is one argument, passed without a shell.
        QFile argv(bin.filePath("argv"));
        QVERIFY(argv.open(QIODevice::ReadOnly));
        QCOMPARE(argv.readAll(), kValues.join('\0') + '\0');
        QCOMPARE(records, (QStringList{"INFO: Update check url: https://updates.example/att/.version.json",
                                       "INFO: Current app version: 1.3.1",
                                       "INFO: Download path: /home/ada/.local/share/Korvan. Inc/Luxora",
                                       "INFO: App path: /opt/my \"lux\" $HOME;ls/luxora",
                                       "INFO: cmd: updater \"https://updates.example/att/.version.json\" \"1.3.1\" "
                                       "\"/home/ada/.local/share/Korvan. Inc/Luxora\" "
                                       "\"/opt/my \"lux\" $HOME;ls/luxora\""}));
    }

    void updaterThatCannotStartIsLoggedAndTheApplicationContinues_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("error");
        QTest::newRow("missing") << false << "ERROR: Failed to create process. Error code:  2";
        QTest::newRow("not executable") << true << "ERROR: Failed to create process. Error code:  13";
    }

    void updaterThatCannotStartIsLoggedAndTheApplicationContinues() {
        QFETCH(bool, present);
        QFETCH(QString, error);
        const QByteArray path = qgetenv("PATH");
        QFile::remove(bin.filePath("updater"));
        if (present) {
            InstallUpdater(QFile::ReadOwner | QFile::WriteOwner);
        }
        qputenv("PATH", QFile::encodeName(bin.path()));
        qputenv("FAKE_UPDATER_END", "0");
        const bool ends = Run();
        qputenv("PATH", path);
        QVERIFY(!ends);
        QCOMPARE(records.size(), 6);
        QVERIFY(records[4].startsWith("INFO: cmd: updater "));
        QCOMPARE(records[5], error);
    }
};

QTEST_GUILESS_MAIN(UpdaterTest)
#include "UpdaterTest.moc"
