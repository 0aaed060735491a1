// Saves killed at random moments: a program that saves settings and is killed with SIGKILL, hundreds of
// times, must always leave a settings file that parses and holds one whole record, the old or the new.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <random>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QtTest>
#include <sys/wait.h>

#include "TempXdg.h"
#include "settings/DeviceConfig.h"

namespace {

constexpr int kKills = 300;

// Two records that differ in every stored value; the second is long enough that a save takes a while.
DeviceConfig Record(int which) {
    DeviceConfig record;
    if (which == 0) {
        record.alias = QStringLiteral("alpha");
        record.offsetDegree = -3.25f;
        record.presets = {55.0f};
        record.lastUserTransmittance = 0.25f;
        record.transmittanceRangeMin = 0.1f;
        record.transmittanceRangeMax = 0.9f;
        return record;
    }
    record.alias = QStringLiteral("beta line \u00b5 \"quoted\"");
    record.offsetDegree = 12.5f;
    for (int i = 0; i < 40; ++i) {
        record.presets.append(2.5f * static_cast<float>(i));
    }
    record.autoConnectPossibleSerial = false;
    record.initTransmittanceZero = false;
    record.terminateTransmittanceZero = true;
    record.darkMode = true;
    record.lastUserTransmittance = 0.75f;
    record.transmittanceRangeMin = 0.2f;
    record.transmittanceRangeMax = 0.8f;
    return record;
}

bool Same(const DeviceConfig &a, const DeviceConfig &b) {
    return a.alias == b.alias && a.offsetDegree == b.offsetDegree && a.presets == b.presets &&
           a.autoConnectPossibleSerial == b.autoConnectPossibleSerial &&
           a.initTransmittanceZero == b.initTransmittanceZero &&
           a.terminateTransmittanceZero == b.terminateTransmittanceZero && a.darkMode == b.darkMode &&
           a.lastUserTransmittance == b.lastUserTransmittance && a.transmittanceRangeMin == b.transmittanceRangeMin &&
           a.transmittanceRangeMax == b.transmittanceRangeMax;
}

void SetIdentity() {
    QCoreApplication::setOrganizationName(QStringLiteral("Korvan. Inc"));
    QCoreApplication::setApplicationName(QStringLiteral("Luxora"));
}

// The program being killed: saves the two records in turn, for ever, and says so after the first save.
int SaveUntilKilled(int readyFd) {
    SetIdentity();
    SetConfigFileName(QStringLiteral("COM3.json"));
    for (long i = 0;; ++i) {
        SaveConfig(Record(static_cast<int>(i % 2)));
        if (i == 0) {
            const char ready = 'r';
            if (::write(readyFd, &ready, 1) != 1) {
                return 1;
            }
            ::close(readyFd);
        }
    }
}

} // namespace

class SaveDurabilityTest : public QObject {
    Q_OBJECT

private slots:
    void killedSavesLeaveOneWholeRecord() {
        TempXdg xdg;
        SetConfigFileName(QStringLiteral("COM3.json"));
        SaveConfig(Record(0));
        const QString path = ConfigFilePath();
        const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> pauseUs(0, 3000);
        int killedMidRun = 0;
        int seen[2] = {0, 0};

        for (int kill = 0; kill < kKills; ++kill) {
            int ready[2];
            QVERIFY(::pipe(ready) == 0);
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(ready[0]);
                const std::string fd = std::to_string(ready[1]);
                ::execl("/proc/self/exe", "settings-save-durability-tests", "--save-until-killed", fd.c_str(),
                        static_cast<char *>(nullptr));
                ::_exit(127);
            }
            ::close(ready[1]);
            pollfd started{ready[0], POLLIN, 0};
            char byte = 0;
            const bool running = ::poll(&started, 1, 10000) == 1 && ::read(ready[0], &byte, 1) == 1;
            ::close(ready[0]);
            if (running) {
                ::usleep(static_cast<useconds_t>(pauseUs(random)));
            }
            ::kill(pid, SIGKILL);
            int status = 0;
            ::waitpid(pid, &status, 0);
            QVERIFY2(running, "the saving program did not start");
            killedMidRun += WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? 1 : 0;

            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(QString("kill %1: no settings file").arg(kill)));
            QJsonParseError error{};
            QJsonDocument::fromJson(file.readAll(), &error);
            QVERIFY2(error.error == QJsonParseError::NoError,
                     qPrintable(QString("kill %1 (seed %2): %3").arg(kill).arg(seed).arg(error.errorString())));
            DeviceConfig loaded;
            LoadConfig(loaded);
            const int which = Same(loaded, Record(0)) ? 0 : Same(loaded, Record(1)) ? 1 : -1;
            QVERIFY2(which >= 0,
                     qPrintable(QString("kill %1 (seed %2): a record of neither save").arg(kill).arg(seed)));
            ++seen[which];
        }
        // A save killed before its rename leaves its unfinished copy beside the file; counted, not judged.
        const int unfinished = QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size() - 1;
        std::printf("save durability: %d kills, %d mid-run, old %d, new %d, unfinished copies left %d\n", kKills,
                    killedMidRun, seen[0], seen[1], unfinished);
        // Killed while running, not after it gave up; both records were caught as the last complete one.
        QCOMPARE(killedMidRun, kKills);
        QVERIFY(seen[0] > 0 && seen[1] > 0);
    }
};

int main(int argc, char **argv) {
    if (argc == 3 && qstrcmp(argv[1], "--save-until-killed") == 0) {
        return SaveUntilKilled(std::atoi(argv[2]));
    }
    QCoreApplication app(argc, argv);
    SetIdentity();
    SaveDurabilityTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SaveDurabilityTest.moc"
