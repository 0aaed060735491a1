// The update step of the start-up: hands the version check to the external updater and waits for its answer.
#pragma once

#include <QByteArray>

// Logs the four values and the command line, starts the updater and waits for it without a time limit.
// Every value is 8-bit (UTF-8) text and reaches the updater as one argument.
// Returns true when the updater ran and ended with exit code 0: the application must then end at once.
// False (it could not be started, crashed or answered anything else): the application continues to start.
[[nodiscard]] bool RunUpdater(const QByteArray &versionFileUrl, const QByteArray &currentVersion,
                              const QByteArray &downloadPath, const QByteArray &applicationPath);
