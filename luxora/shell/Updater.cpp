// The update step: the updater decides by its exit code whether the application may start.
#include "shell/Updater.h"

#include <string>
#include <vector>

#include <QDebug>

#include "core/Platform.h"
#include "shell/UpdaterCommand.h"

bool RunUpdater(const QByteArray &versionFileUrl, const QByteArray &currentVersion, const QByteArray &downloadPath,
                const QByteArray &applicationPath) {
    // Streamed as plain character strings so that the log shows the values bare.
    qInfo() << "Update check url:" << versionFileUrl.constData();
    qInfo() << "Current app version:" << currentVersion.constData();
    qInfo() << "Download path:" << downloadPath.constData();
    qInfo() << "App path:" << applicationPath.constData();

    const std::vector<std::string> argv = {platform::UpdaterProgramName(), versionFileUrl.toStdString(),
                                           currentVersion.toStdString(), downloadPath.toStdString(),
                                           applicationPath.toStdString()};
    const std::string commandLine = UpdaterCommandLine(argv);
    qInfo() << "cmd:" << commandLine.c_str();

    const platform::ProcessEnd end = platform::RunAndWait(argv, commandLine);
    if (!end.started) {
        qCritical() << "Failed to create process. Error code: " << end.startError;
        return false;
    }
    return end.exitedNormally && end.exitCode == 0;
}
