// The whole program in this process, set up by the same start-up steps as main: fresh XDG folders, the
// log, the real Backend and the real screens in a real window, with simulators on COM ports and mouse and
// key input sent to the window as a user's would be.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QImage>
#include <QPointF>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QVariant>

#include "Simulator.h"
#include "TempXdg.h"
#include "backend/Backend.h"
#include "shell/LogManager.h"

class ProgramRig {
public:
    ProgramRig();
    // Shuts the Backend down and closes the window, as main does at the end of a run.
    ~ProgramRig();
    ProgramRig(const ProgramRig &) = delete;
    ProgramRig &operator=(const ProgramRig &) = delete;

    // A simulator registered as `port` in this rig's port folder, moving at once unless extraArgs say
    // otherwise, with 9600-baud byte timing when baudDelay. One added before start() is there for the
    // start-up auto-connection.
    Simulator &addSimulator(const QString &port, std::vector<std::string> extraArgs = {}, bool baudDelay = false);

    // Creates the Backend and loads the main window; false when the window did not appear. Waits until the
    // window has built the parts it leaves until after its first frame, and the start-up connection attempt is
    // over.
    bool start();
    // start(), then waits for the start-up connection to `port`. That connection's handshake allows the
    // device 100 ms, which a loaded machine (a sanitizer suite beside a build) can miss; the program then
    // stays unconnected, as it should. When the attempt did reach that port's simulator, the tests that are
    // about something else connect through the port selector instead, as an operator would, up to three times.
    bool startConnected(const QString &port);

    Backend &backend() { return *backend_; }
    QQuickWindow *window() const { return window_; }

    // The first item of that objectName below `within` (the whole window when null), searched through both
    // the object tree and the visual tree, so that items inside popups and list delegates are found too.
    QObject *find(const QString &objectName, QObject *within = nullptr) const;
    QQuickItem *item(const QString &objectName, QObject *within = nullptr) const;
    // The first visible item whose "text" property is `text`, e.g. a row of an open list.
    QQuickItem *itemWithText(const QString &text) const;

    // A property of a named object; an invalid variant when there is no such object.
    QVariant property(const QString &objectName, const char *name, QObject *within = nullptr) const;
    QString text(const QString &objectName, QObject *within = nullptr) const;

    // Whether the item can be seen and used: visible, enabled and inside the window.
    bool usable(QQuickItem *item) const;
    // A left click at the centre of the item, as the window receives it; false when the item is not usable.
    bool click(QQuickItem *item);
    bool click(const QString &objectName, QObject *within = nullptr) { return click(item(objectName, within)); }
    // A click at the centre of the item whatever its state, for the clicks that must have no effect.
    void clickRegardless(QQuickItem *item);
    // Clicks the text field of a labelled field and types `text` into it, then presses Return.
    bool enter(const QString &fieldName, const QString &text);
    void typeText(const QString &text);
    // Waits for the next frame, by which time layouts have settled.
    void waitForFrame();
    void pressKey(Qt::Key key);

    // Polls `condition` while events are processed, until it holds or the time is over.
    static bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000);
    // Waits until no connection attempt or routine keeps the Backend busy.
    bool waitForIdle(int timeoutMs = 10000);
    // Waits for the title and status of a connected port.
    bool waitForConnection(const QString &port, int timeoutMs = 10000);

    // Opens the port selector and chooses the row of `port` once a scan has listed it.
    bool choosePort(const QString &port);
    bool showTab(const QString &tabName);

    // The window as it is drawn now.
    QImage grab() const;
    // The colour drawn at a point of the item, given as fractions of its width and height.
    QColor colourAt(QQuickItem *item, QPointF fraction = QPointF(0.5, 0.5)) const;

    Simulator &simulator(const QString &port) { return *simulators_.at(port); }

private:
    void parkMachinePorts() const;

    std::unique_ptr<TempXdg> xdg_;
    std::unique_ptr<LogManager> logs_;
    std::map<QString, std::unique_ptr<Simulator>> simulators_;
    std::unique_ptr<Backend> backend_;
    std::unique_ptr<QQmlApplicationEngine> engine_;
    QQuickWindow *window_ = nullptr;
};

// The simulator's answer to "get position": the motor position in steps, or a large negative number
// when it cannot be read.
long long SimulatorPosition(Simulator &simulator);
// The step count that a transmittance in percent reaches with the offset angle, on the default scale.
long long StepsForPercent(double percent, double offsetDeg = 0.0);
// The program's arithmetic and the test's may round the last step differently.
inline bool WithinAStep(long long steps, long long expected) {
    return steps - expected <= 1 && expected - steps <= 1;
}
bool ContainsRequest(const Simulator &simulator, const std::string &request);
std::size_t CountRequests(const Simulator &simulator, const std::string &prefix);
