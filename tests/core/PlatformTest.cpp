// Termination requests of the session or terminal end the event loop, so that the normal shutdown runs.
#include "core/Platform.h"

#include <csignal>

#include <QtTest>

class PlatformTest : public QObject {
    Q_OBJECT

private slots:
    void terminationSignalEndsTheEventLoop_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void terminationSignalEndsTheEventLoop() {
        QFETCH(int, signalNumber);
        struct sigaction before {};
        sigaction(signalNumber, nullptr, &before);
        std::unique_ptr<QObject> watcher = platform::QuitOnTerminationSignals();
        QVERIFY(watcher);
        // Raised before the loop runs, as during the wait for the updater: the loop still ends at once.
        raise(signalNumber);
        QTimer::singleShot(10000, watcher.get(), [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);

        watcher.reset();
        struct sigaction after {};
        sigaction(signalNumber, nullptr, &after);
        QVERIFY(after.sa_handler == before.sa_handler);
    }
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "PlatformTest.moc"
