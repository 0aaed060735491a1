// The message handler as the program uses it: formats on every channel, dropped types, the per-run file,
// and records crossing from a worker thread to the user interface.
#include "shell/LogManager.h"

#include <thread>
#include <unistd.h>

#include <QtTest>

#include "TempXdg.h"

namespace {

// What the code prints to this process's standard error.
template <typename Code> QByteArray Stderr(Code code) {
    QTemporaryFile file;
    const int saved = dup(STDERR_FILENO);
    if (file.open() && dup2(file.handle(), STDERR_FILENO) >= 0) {
        code();
        dup2(saved, STDERR_FILENO);
    }
    close(saved);
    file.seek(0);
    return file.readAll();
}

} // namespace

class LogManagerTest : public QObject {
    Q_OBJECT

    QTemporaryDir scratch;
    std::unique_ptr<LogManager> manager;
    QVector<QStringList> published; // time, type and message of each record as read on delivery
    bool allInGuiThread = true;

    static QString FilePath() { return LogManager::emitter()->saveDir() + "/" + LogManager::emitter()->saveFile(); }
    static QStringList FileLines() {
        QFile file(FilePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }
    // The last lines of the file, each as it must be for the records published last.
    void ExpectFileEndsWithPublished() {
        const QStringList lines = FileLines();
        QVERIFY(lines.size() >= published.size());
        for (int i = 0; i < published.size(); ++i) {
            const QStringList &record = published[i];
            QCOMPARE(lines[lines.size() - published.size() + i], record[0] + " " + record[1] + ": " + record[2]);
        }
    }

private slots:
    void initTestCase() {
        manager = std::make_unique<LogManager>(); // after QtTest has installed its own handler
        LogEmitter *emitter = LogManager::emitter();
        QCOMPARE(emitter->saveDir(), QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/logs");
        QVERIFY(QRegularExpression("^\\d{14}\\.log$").match(emitter->saveFile()).hasMatch());
        connect(emitter, &LogEmitter::changed, this, [this, emitter] {
            published.append({emitter->time(), emitter->type(), emitter->message()});
            allInGuiThread = allInGuiThread && QThread::currentThread() == thread();
        });
    }

    void init() { published.clear(); }

    void keptRecordsReachEveryChannelInTheirFormats() {
        const QByteArray printed = Stderr([] {
            qDebug("hidden");
            qInfo("App start");
            qWarning("hidden");
            QMessageLogger("link.cpp", 7, "Poll").critical("Port lost");
        });
        QCOMPARE(printed, QByteArray("Info: App start \nCritical: Port lost (link.cpp:7, Poll)\n"));
        QTRY_COMPARE(published.size(), 2);
        QVERIFY(QRegularExpression("^\\[\\d\\d:\\d\\d:\\d\\d\\]$").match(published[0][0]).hasMatch());
        QCOMPARE(published[0].mid(1), (QStringList{"INFO", "App start"}));
        QCOMPARE(published[1].mid(1), (QStringList{"ERROR", "Port lost"}));
        QCOMPARE(FileLines().size(), 2);
        ExpectFileEndsWithPublished();
        QCOMPARE(QFile::permissions(FilePath()),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    void twoRunsInOneSecondAppendToOneFile() {
        // The file is named to the second: try again when the runs straddle a second boundary.
        for (int attempt = 0; attempt < 5; ++attempt) {
            const QStringList before = FileLines();
            const QString name = LogManager::emitter()->saveFile();
            manager = std::make_unique<LogManager>(); // the next run, as far as the log is concerned
            if (LogManager::emitter()->saveFile() == name) {
                qInfo("second run");
                QTRY_COMPARE(published.size(), 1);
                QCOMPARE(FileLines().mid(0, before.size()), before);
                ExpectFileEndsWithPublished();
                return;
            }
            qInfo("first run");
            QTRY_COMPARE(published.size(), 1);
            published.clear();
        }
        QFAIL("every pair of runs fell into two seconds");
    }

    void unwritableLogFolderStillPrintsToStandardError() {
        // A regular file where the data folder belongs: nothing can be created beneath it, not even by root.
        QFile blocker(scratch.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(blocker.fileName()));
        manager = std::make_unique<LogManager>();
        const QByteArray printed = Stderr([] { qInfo("App start"); });
        qputenv("XDG_DATA_HOME", dataHome);
        manager = std::make_unique<LogManager>();
        QCOMPARE(printed, QByteArray("Info: App start \n"));
        QCoreApplication::processEvents();
        QVERIFY(published.isEmpty()); // the viewer shows only what the file holds
    }

    void recordsFromAnotherThreadArriveWholeAndInOrder() {
        constexpr int kRecords = 100;
        // Every record is issued before the GUI thread looks; each must still show its own text.
        std::thread worker([] {
            for (int i = 0; i < kRecords; ++i) {
                i % 3 ? qInfo("worker %d", i) : qCritical("worker %d", i);
            }
        });
        worker.join();
        QTRY_COMPARE(published.size(), kRecords);
        QVERIFY(allInGuiThread);
        for (int i = 0; i < kRecords; ++i) {
            QCOMPARE(published[i].mid(1), (QStringList{i % 3 ? "INFO" : "ERROR", QString("worker %1").arg(i)}));
        }
        ExpectFileEndsWithPublished();
    }

    void receiverThatLogsKeepsItsRecord() {
        const auto echo = connect(LogManager::emitter(), &LogEmitter::changed, this, [] {
            if (LogManager::emitter()->message() == "ping") {
                qInfo("pong");
            }
        });
        qInfo("ping");
        QTRY_COMPARE(published.size(), 2);
        disconnect(echo);
        QCOMPARE(published[1][2], QString("pong"));
        ExpectFileEndsWithPublished();
    }
};

int main(int argc, char **argv) {
    TempXdg xdg; // before anything asks QStandardPaths: the user's own folders stay untouched
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Korvan. Inc");
    QCoreApplication::setApplicationName("Luxora");
    LogManagerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LogManagerTest.moc"
