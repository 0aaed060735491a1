// The process's one Qt message handler: each kept record goes to standard error, the run's log file
// and the user interface.
#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>

#include "shell/LogEmitter.h"

class LogManager : public QObject {
    Q_OBJECT

public:
    // Fixes the log folder and this run's file name, creates the folder and installs MessageHandler.
    // Needs the application's organisation and name set, since they decide the folder.
    explicit LogManager(QObject *parent = nullptr);
    // The handler stays installed and keeps working after the manager is gone.
    ~LogManager() override;

    // The process-wide emitter, published to the user interface as "log". It lives until process exit.
    static LogEmitter *emitter();
};

// Drops debug and warning messages. Information and critical messages are printed to standard error,
// appended to the log file and handed to the emitter; a fatal message is printed and aborts the process.
void MessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);
