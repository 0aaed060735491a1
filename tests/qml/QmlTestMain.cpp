// Runs the Qt Quick tests of the screens against the compiled-in resources, with a fake "backend" and the
// real LogEmitter as "log", on the Material style that the program uses.
#include <memory>

#include <QCoreApplication>
#include <QObject>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQuickTest>

#include "FakeBackend.h"
#include "qml/Resources.h"
#include "shell/LogEmitter.h"

// Hands a record to the emitter as the message handler does, so the log viewer sees real `changed` signals.
class LogFeed : public QObject {
    Q_OBJECT

public:
    explicit LogFeed(LogEmitter *emitter) : emitter(emitter) {}

    Q_INVOKABLE void publish(const QString &time, const QString &type, const QString &message) {
        emitter->Publish(time, type, message);
    }

private:
    LogEmitter *emitter;
};

class Setup : public QObject {
    Q_OBJECT

public slots:
    void applicationAvailable() {
        InitLuxoraResources();
        QQuickStyle::setStyle("Material");
        QCoreApplication::setApplicationVersion("1.3.1");
        backend = std::make_unique<FakeBackend>();
        log = std::make_unique<LogEmitter>();
        feed = std::make_unique<LogFeed>(log.get());
    }

    // One engine per test file; they all share the fake, which every test resets first.
    void qmlEngineAvailable(QQmlEngine *engine) {
        engine->rootContext()->setContextProperty("backend", backend.get());
        engine->rootContext()->setContextProperty("log", log.get());
        engine->rootContext()->setContextProperty("logFeed", feed.get());
    }

    void cleanupTestCase() {
        feed.reset();
        log.reset();
        backend.reset();
    }

private:
    std::unique_ptr<FakeBackend> backend;
    std::unique_ptr<LogEmitter> log;
    std::unique_ptr<LogFeed> feed;
};

QUICK_TEST_MAIN_WITH_SETUP(luxora_qml, Setup)

#include "QmlTestMain.moc"
