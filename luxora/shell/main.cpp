// The luxora program: identity, logging, the Backend, the update step, the user interface, and the
// shutdown in its fixed order.
#include <memory>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QStandardPaths>

#include "backend/Backend.h"
#include "core/Platform.h"
#include "shell/LogManager.h"
#include "shell/Startup.h"
#include "shell/Updater.h"

namespace {

// The maker's update server.
constexpr const char *kVersionFileUrl = "https://update.korvan.example/att/.version.json";

} // namespace

int main(int argc, char *argv[]) {
    startup::PrepareApplication();
    QGuiApplication app(argc, argv);
    startup::ApplyIdentity();
    const startup::GraphicsPreload graphics;

    // A log-out, kill or Ctrl-C ends the event loop like closing the window, so Shutdown still runs.
    const std::unique_ptr<QObject> terminationSignals = platform::QuitOnTerminationSignals();

    auto logManager = std::make_unique<LogManager>();
    LogEmitter *log = LogManager::emitter();
    auto backend = std::make_unique<Backend>();

    int result = 0;
    {
        QQmlApplicationEngine engine;
        startup::PublishObjects(engine, *backend, *log);

        const QString downloadPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        const bool updateEndsRun = RunUpdater(kVersionFileUrl, startup::kApplicationVersion, downloadPath.toUtf8(),
                                              QCoreApplication::applicationFilePath().toUtf8());
        if (!updateEndsRun) {
            engine.load(startup::MainWindowUrl());
            startup::RecordFirstFrame(engine);
            result = QGuiApplication::exec();
            backend->Shutdown();
            // After Shutdown the Backend stays in place until the process ends, as its design expects. It is
            // held from a static rather than dropped, so that it stays reachable, kept on purpose rather than
            // lost; volatile, so that the compiler keeps a store that nothing reads.
            [[maybe_unused]] static Backend *volatile keptUntilExit = nullptr;
            keptUntilExit = backend.release();
        }
    }
    // Only after an update run does main still own the Backend; its destructor ends the monitor first.
    backend.reset();
    logManager.reset();
    return result;
}
