// The user interface's view of the log: the latest record and where the run's log file lies.
#include "shell/LogEmitter.h"

#include <QVariantMap>

LogEmitter::LogEmitter(QObject *parent) : QObject(parent) {}

LogEmitter::~LogEmitter() = default;

QString LogEmitter::time() const {
    return m_time;
}

QString LogEmitter::type() const {
    return m_type;
}

QString LogEmitter::message() const {
    return m_message;
}

QString LogEmitter::line() const {
    return m_line;
}

QString LogEmitter::saveDir() const {
    return m_saveDir;
}

QString LogEmitter::saveFile() const {
    return m_saveFile;
}

void LogEmitter::setTime(const QString &value) {
    if (m_time != value) {
        m_time = value;
        emit changed();
    }
}

void LogEmitter::setType(const QString &value) {
    if (m_type != value) {
        m_type = value;
        emit changed();
    }
}

void LogEmitter::setMessage(const QString &value) {
    if (m_message != value) {
        m_message = value;
        emit changed();
    }
}

void LogEmitter::setSaveDir(const QString &value) {
    if (m_saveDir != value) {
        m_saveDir = value;
        emit saveDirChanged();
    }
}

void LogEmitter::setSaveFile(const QString &value) {
    if (m_saveFile != value) {
        m_saveFile = value;
        emit saveFileChanged();
    }
}

void LogEmitter::Publish(const QString &time, const QString &type, const QString &message) {
    m_time = time;
    m_type = type;
    m_message = message;
    m_line = time + QStringLiteral(" ") + type + QStringLiteral(": ") + message;
    m_recent.push_back({time, type, message});
    if (m_recent.size() > static_cast<std::size_t>(kRecentRecords)) {
        m_recent.pop_front();
    }
    emit changed();
}

QVariantList LogEmitter::recent() const {
    QVariantList records;
    for (const Record &record : m_recent) {
        records.append(QVariantMap{
            {QStringLiteral("time"), record.time},
            {QStringLiteral("type"), record.type},
            {QStringLiteral("message"), record.message},
        });
    }
    return records;
}
