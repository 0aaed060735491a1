// The Backend tests' fixture: simulators on COM ports, the run's log file and the signal record.
#include "BackendRig.h"

#include <cstdio>

#include <QFile>
#include <QJsonDocument>
#include <QMetaMethod>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QStandardPaths>

SignalLog::SignalLog(Backend &backend) {
    const QMetaObject &meta = Backend::staticMetaObject;
    const QMetaMethod slot = staticMetaObject.method(staticMetaObject.indexOfSlot("record()"));
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        if (meta.method(i).methodType() == QMetaMethod::Signal) {
            connect(&backend, meta.method(i), this, slot);
        }
    }
    connect(&backend, &Backend::motorConnectedChanged, this,
            [this](bool connected) { connectedValues_.append(connected); });
}

void SignalLog::record() {
    names_.append(QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name()));
}

bool InOrder(const QStringList &names, const QStringList &sequence) {
    int at = 0;
    for (const QString &name : sequence) {
        at = names.indexOf(name, at);
        if (at < 0) {
            return false;
        }
        ++at;
    }
    return true;
}

Rig::Rig() : logs(std::make_unique<LogManager>()) {}

Rig::~Rig() = default;

Simulator &Rig::addSimulator(const QString &port, std::vector<std::string> extraArgs) {
    std::vector<std::string> args = {"--port", port.toStdString(), "--speed", "0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    auto simulator = std::make_unique<Simulator>(args);
    Simulator &added = *simulator;
    simulators[port] = std::move(simulator);
    return added;
}

void ParkMachinePorts(const std::string &portFolder) {
    const QString folder = QString::fromStdString(portFolder);
    QDir().mkpath(folder);
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        QFile::link(info.systemLocation(), folder + QStringLiteral("/parked-") + info.portName());
    }
}

Backend &Rig::start() {
    if (parkPorts) {
        ParkMachinePorts(xdg.portFolder());
    }
    backend_ = std::make_unique<Backend>();
    signals_ = std::make_unique<SignalLog>(*backend_);
    return *backend_;
}

QStringList Rig::records() const {
    QFile file(LogManager::emitter()->saveDir() + QStringLiteral("/") + LogManager::emitter()->saveFile());
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1Char('\n'))) {
        text.chop(1);
    }
    // A record's message may hold line breaks of its own; a record starts with its time stamp.
    static const QRegularExpression start(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\] ((INFO|ERROR): .*)$"));
    QStringList records;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = start.match(line);
        if (match.hasMatch()) {
            records.append(match.captured(1));
        } else if (!records.isEmpty()) {
            records.last() += QStringLiteral("\n") + line;
        }
    }
    return records;
}

int Rig::countContaining(const QString &text) const {
    int count = 0;
    for (const QString &record : records()) {
        count += record.contains(text) ? 1 : 0;
    }
    return count;
}

bool Rig::waitForRecordContaining(const QString &text, int occurrences, int timeoutMs) const {
    return QTest::qWaitFor([&] { return countContaining(text) >= occurrences; }, timeoutMs);
}

bool Rig::connectRow(int row, int timeoutMs) {
    // The handshake allows the device 100 ms, which a loaded machine (a sanitizer suite beside a build) can
    // miss. The tests that connect this way are about what follows, so a missed one is tried again, as an
    // operator would; the next exchange discards a late reply.
    constexpr int kAttempts = 3;
    const QString failed = QStringLiteral("Failed to connect device");
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const int before = signals_->connectedValues().size();
        const int failures = countContaining(failed);
        backend_->ConnectMotorViaSerial(row);
        if (!QTest::qWaitFor([&] { return connectedSince(before) || countContaining(failed) > failures; }, timeoutMs))
            return false;
        if (connectedSince(before))
            return true;
        if (!waitForIdle(timeoutMs))
            return false;
        std::fprintf(stderr, "The handshake was missed; connecting again.\n");
    }
    return false;
}

bool Rig::connectedSince(int since) const {
    const QVector<bool> values = signals_->connectedValues();
    return values.size() > since && values.last() && !backend_->getBusy();
}

bool Rig::waitForConnection(int since, int timeoutMs) {
    return QTest::qWaitFor([&] { return connectedSince(since); }, timeoutMs);
}

bool Rig::waitForDisconnection(int since, int timeoutMs) {
    return QTest::qWaitFor(
        [&] {
            const QVector<bool> values = signals_->connectedValues();
            return values.size() > since && !values.last();
        },
        timeoutMs);
}

bool Rig::waitForIdle(int timeoutMs) {
    return QTest::qWaitFor([&] { return !backend_->getBusy(); }, timeoutMs);
}

QString Rig::configPath(const QString &port) {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/cfg_") + port +
           QStringLiteral(".json");
}

QJsonObject Rig::readConfig(const QString &port) {
    QFile file(configPath(port));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QJsonDocument::fromJson(file.readAll()).object();
}

void Rig::writeConfig(const QString &port, const QJsonObject &object) {
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    QFile file(configPath(port));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(QJsonDocument(object).toJson());
    }
}

QStringList Commands(const Simulator &simulator) {
    QStringList commands;
    for (const std::string &request : simulator.requests()) {
        if (request != "0gs") {
            commands.append(QString::fromStdString(request));
        }
    }
    return commands;
}
