// The start-up steps that the program and its end-to-end tests share.
#include "shell/Startup.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
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

void PublishObjects(QQmlEngine &engine, Backend &backend, LogEmitter &log) {
    engine.rootContext()->setContextProperty("backend", &backend);
    engine.rootContext()->setContextProperty("log", &log);
}

QUrl MainWindowUrl() {
    return QUrl(QStringLiteral("qrc:/main.qml"));
}

} // namespace startup
