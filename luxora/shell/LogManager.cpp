// Log folder, per-run log file and the message handler shared by every thread of the program.
#include "shell/LogManager.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QStandardPaths>
#include <QTime>

#include "core/Platform.h"
#include "core/QueuedRelay.h"

namespace {

// Process-wide, created before main: the handler uses them after the manager is deleted.
std::unique_ptr<LogEmitter> logEmitter(new LogEmitter);
// Carries each record to the emitter's (the GUI) thread.
std::unique_ptr<QueuedRelay> logRelay(new QueuedRelay);
QDateTime logStartTime;
QFile logFile;
std::mutex logMutex;

// The objects above go away at process exit; a message issued after that must not reach them.
struct HandlerRemoval {
    ~HandlerRemoval() {
        const QtMessageHandler current = qInstallMessageHandler(nullptr);
        if (current != MessageHandler) {
            qInstallMessageHandler(current);
        }
        // Lets a record that is being written finish before the objects are destroyed.
        std::lock_guard<std::mutex> lock(logMutex);
    }
} handlerRemoval;

const char *OrEmpty(const char *text) {
    return text ? text : "";
}

} // namespace

LogManager::LogManager(QObject *parent) : QObject(parent) {
    logEmitter->setSaveDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/logs"));
    logStartTime = QDateTime::currentDateTime();
    logEmitter->setSaveFile(logStartTime.toString(QStringLiteral("yyyyMMddhhmmss")) + QStringLiteral(".log"));
    if (!QDir(logEmitter->saveDir()).exists()) {
        // A failure shows as records missing from the file; standard error still carries them.
        platform::MakePrivateDirectory(logEmitter->saveDir());
    }
    {
        std::lock_guard<std::mutex> lock(logMutex);
        logFile.setFileName(logEmitter->saveDir() + QDir::separator() + logEmitter->saveFile());
    }
    qInstallMessageHandler(MessageHandler);
}

LogManager::~LogManager() = default;

LogEmitter *LogManager::emitter() {
    return logEmitter.get();
}

void MessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    // Qt and the QML engine issue many of these; they leave no trace.
    if (type == QtDebugMsg || type == QtWarningMsg) {
        return;
    }
    std::lock_guard<std::mutex> lock(logMutex);

    const QByteArray local = text.toLocal8Bit();
    QString typeText;
    // Printed before the file is tried, so that a run whose log folder cannot be written still shows its records.
    switch (type) {
    case QtInfoMsg:
        std::fprintf(stderr, "Info: %s \n", local.constData());
        typeText = QStringLiteral("INFO");
        break;
    case QtCriticalMsg:
        std::fprintf(stderr, "Critical: %s (%s:%u, %s)\n", local.constData(), OrEmpty(context.file),
                     static_cast<unsigned>(context.line), OrEmpty(context.function));
        typeText = QStringLiteral("ERROR");
        break;
    case QtFatalMsg:
        std::fprintf(stderr, "Fatal: %s (%s:%u, %s)\n", local.constData(), OrEmpty(context.file),
                     static_cast<unsigned>(context.line), OrEmpty(context.function));
        std::fflush(stderr);
        std::abort();
    default:
        return;
    }
    std::fflush(stderr);

    // Reopened for every record, so that a record is on disk even if the process dies right after it.
    if (!logFile.isOpen() && !logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        return;
    }
    if (logFile.size() == 0) {
        // A new file: readable by the user alone before its first record is written.
        logFile.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                               QFileDevice::WriteUser);
    }

    const QString time = QTime::currentTime().toString(QStringLiteral("[hh:mm:ss]"));
    // The record travels whole to the GUI thread: a later record cannot overwrite it before the user
    // interface reads it, and no receiver runs while this lock is held.
    LogEmitter *emitter = logEmitter.get();
    logRelay->Post([emitter, time, typeText, text] { emitter->Publish(time, typeText, text); });

    const QString line = time + QStringLiteral(" ") + typeText + QStringLiteral(": ") + text;
    logFile.write((line + QStringLiteral("\n")).toUtf8());
    logFile.close();
}
