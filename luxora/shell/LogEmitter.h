// Carries each log record to the user interface, which reaches it as the context property "log".
#pragma once

#include <deque>

#include <QObject>
#include <QString>
#include <QVariantList>

class LogEmitter : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString time READ time WRITE setTime NOTIFY changed)
    Q_PROPERTY(QString type READ type WRITE setType NOTIFY changed)
    Q_PROPERTY(QString message READ message WRITE setMessage NOTIFY changed)
    Q_PROPERTY(QString saveDir READ saveDir WRITE setSaveDir NOTIFY saveDirChanged)
    Q_PROPERTY(QString saveFile READ saveFile WRITE setSaveFile NOTIFY saveFileChanged)

public:
    explicit LogEmitter(QObject *parent = nullptr);
    ~LogEmitter() override;

    QString time() const;
    QString type() const;
    QString message() const;
    // The latest record as one line: time, a space, type, ": ", message.
    QString line() const;
    QString saveDir() const;
    QString saveFile() const;

    // Property writes: each emits its notify signal only when the value changes.
    void setTime(const QString &value);
    void setType(const QString &value);
    void setMessage(const QString &value);
    void setSaveDir(const QString &value);
    void setSaveFile(const QString &value);

    // Makes one record the latest and emits changed once, also when it equals the previous one.
    // Runs on the emitter's own (GUI) thread; the message handler delivers each record here as a queued call.
    void Publish(const QString &time, const QString &type, const QString &message);

    // The latest records, oldest first, each a map of "time", "type" and "message": the log viewer starts
    // with them, so that it also shows what was logged before the screens existed ("App start", the update
    // step). As many as the viewer shows.
    Q_INVOKABLE QVariantList recent() const;
    static constexpr int kRecentRecords = 100;

signals:
    void changed();
    void saveDirChanged();
    void saveFileChanged();

private:
    QString m_time;
    QString m_type;
    QString m_message;
    QString m_line;
    QString m_saveDir;
    QString m_saveFile;
    struct Record {
        QString time;
        QString type;
        QString message;
    };
    std::deque<Record> m_recent;
};
