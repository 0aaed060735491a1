// The luxora program as a whole process: the update step's answer decides whether the user interface
// starts, the log file of the run begins with the start-up lines, and a termination signal ends the
// run through the normal shutdown.
#include <csignal>

#include <QtTest>

#include "TempXdg.h"

namespace {

// Saves its arguments one a line beside itself, then ends with the code in FAKE_UPDATER_END.
const char kFakeUpdater[] = "#!/bin/sh\n"
                            "printf '%s\\n' \"$@\" > \"${0%/*}/argv\"\n"
                            "exit \"$FAKE_UPDATER_END\"\n";

} // namespace

class ProgramTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempXdg> xdg;
    QTemporaryDir bin;

    QString LogFolder() const { return QString::fromStdString(xdg->data()) + "/Korvan. Inc/Luxora/logs"; }

    QStringList LogLines() const {
        const QStringList files = QDir(LogFolder()).entryList({"*.log"}, QDir::Files);
        if (files.size() != 1)
            return {};
        QFile file(LogFolder() + "/" + files.first());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (!line.isEmpty())
                lines.append(QString::fromUtf8(line).section(' ', 1)); // without the time stamp
        }
        return lines;
    }

    void Start(QProcess &program, const QByteArray &updaterEnd, bool withUpdater = true) {
        QFile::remove(bin.filePath("updater"));
        if (withUpdater) {
            QFile file(bin.filePath("updater"));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kFakeUpdater) > 0);
            file.close();
            QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", bin.path() + ":" + env.value("PATH"));
        env.insert("FAKE_UPDATER_END", QString::fromLatin1(updaterEnd));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_QUICK_BACKEND", "software");
        QFile::remove(FirstFramePath());
        env.insert("LUXORA_FIRST_FRAME_FILE", FirstFramePath());
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(LUXORA_PATH, QStringList{});
        QVERIFY(program.waitForStarted());
    }

    // Waits until the log holds a line, polling with a deadline.
    bool WaitForLogLine(const QString &line, int timeoutMs = 10000) const {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (LogLines().contains(line))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // Where the program notes its window's first frame.
    QString FirstFramePath() const { return bin.filePath("first-frame"); }

    // Waits until the user interface has drawn its first frame.
    bool WaitForFirstFrame(int timeoutMs = 15000) const {
        return QTest::qWaitFor([&] { return QFileInfo(FirstFramePath()).size() > 0; }, timeoutMs);
    }

    void EndBySignal(QProcess &program) {
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(15000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    QStringList StartUpLines(const QString &downloadPath) const {
        return {"INFO: App start",
                "INFO: Update check url: https://update.korvan.example/att/.version.json",
                "INFO: Current app version: 1.3.1",
                "INFO: Download path: " + downloadPath,
                "INFO: App path: " + QString(LUXORA_PATH),
                "INFO: cmd: updater \"https://update.korvan.example/att/.version.json\" \"1.3.1\" \"" + downloadPath +
                    "\" \"" + QString(LUXORA_PATH) + "\""};
    }

    QString DownloadPath() const { return QString::fromStdString(xdg->data()) + "/Korvan. Inc/Luxora"; }

private slots:
    void init() { xdg = std::make_unique<TempXdg>(); }
    void cleanup() { xdg.reset(); }

    void anUpdaterAnsweringZeroEndsTheRunWithoutAWindow() {
        QProcess program;
        Start(program, "0");
        // The normal run only ends when told to; this one must end by itself.
        QVERIFY(program.waitForFinished(15000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(LogLines(), StartUpLines(DownloadPath()));
        QVERIFY(!QFileInfo::exists(FirstFramePath()));
    }

    void anyOtherAnswerStartsTheProgramAndASignalEndsItInOrder() {
        QProcess program;
        Start(program, "1");
        QVERIFY(WaitForLogLine("INFO: cmd: updater \"https://update.korvan.example/att/.version.json\" \"1.3.1\" \"" +
                               DownloadPath() + "\" \"" + QString(LUXORA_PATH) + "\""));
        QVERIFY(WaitForFirstFrame());
        QCOMPARE(program.state(), QProcess::Running);
        EndBySignal(program);
        const QStringList lines = LogLines();
        QCOMPARE(lines.mid(0, 6), StartUpLines(DownloadPath()));
        QCOMPARE(lines.last(), QString("INFO: App end"));
    }

    void aMissingUpdaterIsLoggedAndTheProgramStarts() {
        QProcess program;
        Start(program, "0", false);
        QVERIFY(WaitForLogLine("ERROR: Failed to create process. Error code:  2"));
        QVERIFY(WaitForFirstFrame());
        QCOMPARE(program.state(), QProcess::Running);
        EndBySignal(program);
    }

    void pathsWithSpacesReachTheUpdaterAsOneArgumentEach() {
        QProcess program;
        Start(program, "0");
        QVERIFY(program.waitForFinished(15000));
        QFile argv(bin.filePath("argv"));
        QVERIFY(argv.open(QIODevice::ReadOnly));
        const QStringList arguments = QString::fromUtf8(argv.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(arguments, (QStringList{"https://update.korvan.example/att/.version.json", "1.3.1", DownloadPath(),
                                         QString(LUXORA_PATH)}));
        QVERIFY(DownloadPath().contains(' '));
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "ProgramTest.moc"
