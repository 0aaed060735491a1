// The luxora program: identity, logging, the Backend, the update step, the user interface, and the
// shutdown in its fixed order.
#include <memory>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QStandardPaths>
#include <QUrl>

#include "backend/Backend.h"
#include "qml/Resources.h"
#include "shell/LogManager.h"
#include "shell/Platform.h"
#include "shell/Updater.h"

namespace {

// The maker's internet domain and its update server.
constexpr const char *kOrganisationDomain = "korvan.example";
constexpr const char *kVersionFileUrl = "https://update.korvan.example/att/.version.json";
constexpr const char *kApplicationVersion = "1.3.1";

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication app(argc, argv);
    InitLuxoraResources();
    QQuickStyle::setStyle("Material");
    QCoreApplication::setOrganizationName("Korvan. Inc");
    QCoreApplication::setOrganizationDomain(kOrganisationDomain);
    QCoreApplication::setApplicationName("Luxora");
    QGuiApplication::setWindowIcon(QIcon(":/assets/icon.ico"));
    QCoreApplication::setApplicationVersion(kApplicationVersion);

    // A log-out, kill or Ctrl-C ends the event loop like closing the window, so Shutdown still runs.
    const std::unique_ptr<QObject> terminationSignals = platform::QuitOnTerminationSignals();

    auto logManager = std::make_unique<LogManager>();
    LogEmitter *log = LogManager::emitter();
    auto backend = std::make_unique<Backend>();

    int result = 0;
    {
        QQmlApplicationEngine engine;
        engine.rootContext()->setContextProperty("backend", backend.get());
        engine.rootContext()->setContextProperty("log", log);

        const QString downloadPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        const bool updateEndsRun = RunUpdater(kVersionFileUrl, kApplicationVersion, downloadPath.toUtf8(),
                                              QCoreApplication::applicationFilePath().toUtf8());
        if (!updateEndsRun) {
            engine.load(QUrl("qrc:/main.qml"));
            result = QGuiApplication::exec();
            backend->Shutdown();
            // After Shutdown the Backend stays in place until the process ends, as its design expects.
            backend.release();
        }
    }
    // Only after an update run does main still own the Backend; its destructor ends the monitor first.
    backend.reset();
    logManager.reset();
    return result;
}
