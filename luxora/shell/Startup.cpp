// The start-up steps that the program and its end-to-end tests share.
#include "shell/Startup.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QOpenGLContext>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QUrl>

#include "backend/Backend.h"
#include "qml/Resources.h"
#include "shell/LogEmitter.h"

namespace startup {

namespace {

// The maker's internet domain.
constexpr char kOrganisationDomain[] = "korvan.example";

} // namespace

void PrepareApplication() {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
}

void ApplyIdentity() {
    // The window icon below is read from the compiled-in resources.
    InitLuxoraResources();
    QQuickStyle::setStyle("Material");
    QCoreApplication::setOrganizationName("Korvan. Inc");
    QCoreApplication::setOrganizationDomain(kOrganisationDomain);
    QCoreApplication::setApplicationName("Luxora");
    QGuiApplication::setWindowIcon(QIcon(":/assets/icon.ico"));
    QCoreApplication::setApplicationVersion(kApplicationVersion);
}

GraphicsPreload::GraphicsPreload() {
    if (qgetenv("QT_QUICK_BACKEND") == "software") {
        return;
    }
    // A context of the default format loads what the window's own will use. It is made and dropped here;
    // the driver stays loaded for the window.
    thread_ = std::thread([] {
        QOpenGLContext context;
        context.create();
    });
}

GraphicsPreload::~GraphicsPreload() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void PublishObjects(QQmlEngine &engine, Backend &backend, LogEmitter &log) {
    engine.rootContext()->setContextProperty("backend", &backend);
    engine.rootContext()->setContextProperty("log", &log);
}

QUrl MainWindowUrl() {
    return QUrl(QStringLiteral("qrc:/main.qml"));
}

void RecordFirstFrame(const QQmlApplicationEngine &engine) {
    const QByteArray path = qgetenv("LUXORA_FIRST_FRAME_FILE");
    if (path.isEmpty() || engine.rootObjects().isEmpty()) {
        return;
    }
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    if (!window) {
        return;
    }
    auto written = std::make_shared<std::atomic<bool>>(false);
    // With a render thread the signal comes from it: a direct call takes the time as the frame is swapped.
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [path, written] {
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            if (written->exchange(true)) {
                return;
            }
            if (std::FILE *file = std::fopen(path.constData(), "we")) {
                std::fprintf(file, "%lld\n",
                             static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
                std::fclose(file);
            }
        },
        Qt::DirectConnection);
}

} // namespace startup
