// The fixture of the Backend tests: fresh XDG folders, the run's log, simulators registered as COM
// ports, and a Backend with a record of its signals as the user interface receives them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QVector>
#include <QtTest>

#include "Simulator.h"
#include "TempXdg.h"
#include "backend/Backend.h"
#include "shell/LogManager.h"

// Every signal of a Backend, recorded on the GUI thread in the order it is delivered there: signals
// from the monitor and the workers arrive as queued calls, as they do in QML.
class SignalLog : public QObject {
    Q_OBJECT

public:
    explicit SignalLog(Backend &backend);

    QStringList names() const { return names_; }
    int count(const QString &name) const { return names_.count(name); }
    // The arguments of motorConnectedChanged, in order.
    QVector<bool> connectedValues() const { return connectedValues_; }
    // The names recorded from position `from` on.
    QStringList since(int from) const { return names_.mid(from); }
    int size() const { return names_.size(); }

private slots:
    void record();

private:
    QStringList names_;
    QVector<bool> connectedValues_;
};

// True when every entry of `sequence` occurs in `names`, in this order (others may come between).
bool InOrder(const QStringList &names, const QStringList &sequence);

class Rig {
public:
    Rig();
    ~Rig();
    Rig(const Rig &) = delete;
    Rig &operator=(const Rig &) = delete;

    // A simulator registered as `port`, moving at once unless extraArgs say otherwise. Call before start()
    // for the port to be in the Backend's first list.
    Simulator &addSimulator(const QString &port, std::vector<std::string> extraArgs = {});
    Simulator &simulator(const QString &port) { return *simulators.at(port); }
    void removeSimulator(const QString &port) { simulators.erase(port); }

    // Starts the Backend. The machine's own serial ports are kept out of its list first (a link of another
    // name counts as theirs), so that the list holds the simulators alone, unless parkPorts is false.
    Backend &start();
    bool parkPorts = true;
    Backend &backend() { return *backend_; }
    SignalLog &signalLog() { return *signals_; }

    // The run's log records as "INFO: message" or "ERROR: message", oldest first.
    QStringList records() const;
    int countRecords(const QString &record) const { return records().count(record); }
    int countContaining(const QString &text) const;
    bool waitForRecordContaining(const QString &text, int occurrences = 1, int timeoutMs = 10000) const;

    // Selects the row and waits until the connection steps are through and their values applied.
    bool connectRow(int row, int timeoutMs = 10000);
    // Waits for the next motorConnectedChanged(true) after `since` changes of the link, which the GUI thread
    // receives after the loaded settings are applied.
    bool waitForConnection(int since, int timeoutMs = 10000);
    // Waits for the next motorConnectedChanged(false) after `since` changes of the link.
    bool waitForDisconnection(int since, int timeoutMs = 15000);
    bool waitForIdle(int timeoutMs = 10000);

    // The settings file of a port, as the Backend names it.
    static QString configPath(const QString &port);
    static QJsonObject readConfig(const QString &port);
    static void writeConfig(const QString &port, const QJsonObject &object);

    std::string portFolder() const { return xdg.portFolder(); }

private:
    // Whether a motorConnectedChanged(true) came after `since` changes of the link and the worker is done.
    bool connectedSince(int since) const;

    TempXdg xdg;
    std::unique_ptr<LogManager> logs;
    std::map<QString, std::unique_ptr<Simulator>> simulators;
    std::unique_ptr<Backend> backend_;
    std::unique_ptr<SignalLog> signals_;
};

// Keeps the machine's own serial ports out of a Backend's list: a link of another name in the port folder
// counts as theirs.
void ParkMachinePorts(const std::string &portFolder);

// The requests a simulator received, without the monitor's status polls.
QStringList Commands(const Simulator &simulator);

// The application identity decides where settings and logs go.
#define BACKEND_TEST_MAIN(TestClass)                                                                                   \
    int main(int argc, char **argv) {                                                                                  \
        QCoreApplication app(argc, argv);                                                                              \
        QCoreApplication::setOrganizationName(QStringLiteral("Korvan. Inc"));                                          \
        QCoreApplication::setApplicationName(QStringLiteral("Luxora"));                                                \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
