// The whole program in this process, driven through its window.
#include "ProgramRig.h"

#include <cmath>
#include <cstdio>
#include <set>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTest>

#include "shell/Startup.h"

namespace {

constexpr int kWindowTimeoutMs = 10000;
constexpr int kPollMs = 10;

// Depth-first through children and child items alike; an item of a popup hangs in the visual tree under
// the window's overlay, while a closed popup's items are reachable only as objects.
QObject *Search(QObject *node, const std::function<bool(QObject *)> &match, std::set<QObject *> &seen) {
    if (!node || !seen.insert(node).second)
        return nullptr;
    if (match(node))
        return node;
    for (QObject *child : node->children()) {
        if (QObject *found = Search(child, match, seen))
            return found;
    }
    if (auto *item = qobject_cast<QQuickItem *>(node)) {
        for (QQuickItem *child : item->childItems()) {
            if (QObject *found = Search(child, match, seen))
                return found;
        }
    }
    return nullptr;
}

// Whether a popup other than the one holding `target` lies over the point.
bool CoveredByPopup(QQuickWindow *window, QQuickItem *target, const QPoint &point) {
    for (QQuickItem *layer : window->contentItem()->childItems()) {
        if (!layer->inherits("QQuickOverlay"))
            continue;
        for (QQuickItem *popup : layer->childItems()) {
            if (!popup->isVisible() || !popup->inherits("QQuickPopupItem") || popup->isAncestorOf(target))
                continue;
            if (popup->contains(popup->mapFromScene(QPointF(point))))
                return true;
        }
    }
    return false;
}

} // namespace

ProgramRig::ProgramRig() : xdg_(std::make_unique<TempXdg>()), logs_(std::make_unique<LogManager>()) {}

ProgramRig::~ProgramRig() {
    // main's order once its event loop has returned; main then leaves the Backend in place until the process
    // ends, where the next test needs it gone.
    if (backend_) {
        backend_->Shutdown();
        // A signal that the monitor or a worker emitted reaches the screens as a queued call through an
        // object that Qt frees on delivery only while the Backend is still there; the program's event loop
        // would deliver it, and the Backend outlives it there, so it is delivered here before the Backend
        // goes.
        QCoreApplication::sendPostedEvents();
    }
    engine_.reset();
    backend_.reset();
    simulators_.clear();
    logs_.reset();
    xdg_.reset();
}

Simulator &ProgramRig::addSimulator(const QString &port, std::vector<std::string> extraArgs, bool baudDelay) {
    std::vector<std::string> args = {"--port", port.toStdString(), "--speed", "0"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    auto simulator = std::make_unique<Simulator>(args, baudDelay);
    Simulator &added = *simulator;
    simulators_[port] = std::move(simulator);
    return added;
}

// The machine's own serial devices would get COM numbers of their own; links of another name already
// count as theirs, so the port list holds the simulators alone.
void ProgramRig::parkMachinePorts() const {
    const QString folder = QString::fromStdString(xdg_->portFolder());
    QDir().mkpath(folder);
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        QFile::link(info.systemLocation(), folder + QStringLiteral("/parked-") + info.portName());
}

bool ProgramRig::start() {
    parkMachinePorts();
    backend_ = std::make_unique<Backend>();
    engine_ = std::make_unique<QQmlApplicationEngine>();
    startup::PublishObjects(*engine_, *backend_, *LogManager::emitter());
    engine_->load(startup::MainWindowUrl());
    if (engine_->rootObjects().isEmpty())
        return false;
    window_ = qobject_cast<QQuickWindow *>(engine_->rootObjects().first());
    if (!window_ || !QTest::qWaitForWindowExposed(window_, kWindowTimeoutMs))
        return false;
    window_->requestActivate();
    if (!QTest::qWaitForWindowActive(window_, kWindowTimeoutMs))
        return false;
    // The window builds its other pages and the dial right after its first frame, before it takes input.
    if (!waitFor([this] { return window_->property("laterPartsWanted").toBool(); }, kWindowTimeoutMs))
        return false;
    // Init has started the auto-connection; nothing is to be clicked while it runs.
    return waitForIdle();
}

bool ProgramRig::startConnected(const QString &port) {
    if (!start())
        return false;
    if (backend_->getConnectedSerialName() == port)
        return waitForConnection(port);
    // A simulator that was slow to answer may also be slow to record the request.
    if (!waitFor([&] { return CountRequests(simulator(port), "0in") > 0; }, 2000))
        return false; // the start-up connection never tried this port
    // The machine that made the start-up attempt miss can make the next one miss too; the tests that start
    // this way are about what follows, so the port is chosen again, as an operator would. A late reply is
    // discarded by the next exchange.
    constexpr int kAttempts = 3;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        // Printed past the program's own log handler, so that the test's output shows it.
        std::fprintf(stderr, "The connection to %s missed its handshake; choosing the port (attempt %d of %d).\n",
                     qPrintable(port), attempt, kAttempts);
        const std::size_t tried = CountRequests(simulator(port), "0in");
        if (!choosePort(port))
            return false;
        if (!waitFor([&] { return CountRequests(simulator(port), "0in") > tried; }, 5000) || !waitForIdle())
            return false;
        if (backend_->getConnectedSerialName() == port)
            return waitForConnection(port);
    }
    return false;
}

QObject *ProgramRig::find(const QString &objectName, QObject *within) const {
    std::set<QObject *> seen;
    QObject *root = within ? within : window_;
    const auto named = [&](QObject *node) { return node != root && node->objectName() == objectName; };
    if (QObject *found = Search(root, named, seen))
        return found;
    // Popups of the window live in its overlay under the content item, outside the object tree of the root.
    if (!within && window_)
        return Search(window_->contentItem(), named, seen);
    return nullptr;
}

QQuickItem *ProgramRig::item(const QString &objectName, QObject *within) const {
    return qobject_cast<QQuickItem *>(find(objectName, within));
}

QQuickItem *ProgramRig::itemWithText(const QString &text) const {
    std::set<QObject *> seen;
    return qobject_cast<QQuickItem *>(Search(
        window_->contentItem(),
        [&](QObject *node) {
            auto *item = qobject_cast<QQuickItem *>(node);
            return item && item->isVisible() && item->property("text").toString() == text;
        },
        seen));
}

QVariant ProgramRig::property(const QString &objectName, const char *name, QObject *within) const {
    QObject *object = find(objectName, within);
    return object ? object->property(name) : QVariant();
}

QString ProgramRig::text(const QString &objectName, QObject *within) const {
    return property(objectName, "text", within).toString();
}

bool ProgramRig::usable(QQuickItem *item) const {
    if (!item || !item->isVisible() || !item->isEnabled() || item->window() != window_)
        return false;
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    return centre.x() >= 0 && centre.y() >= 0 && centre.x() < window_->width() && centre.y() < window_->height();
}

bool ProgramRig::click(QQuickItem *item) {
    waitForFrame();
    if (!usable(item))
        return false;
    clickRegardless(item);
    return true;
}

void ProgramRig::clickRegardless(QQuickItem *item) {
    waitForFrame();
    const QPoint centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
    // The pointer travels there first, as a user's does; what it leaves stops being hovered.
    QTest::mouseMove(window_, centre);
    // A tooltip that is still fading out takes the press itself; a user would wait for it to go.
    waitFor([&] { return !CoveredByPopup(window_, item, centre); }, 2000);
    QTest::mouseClick(window_, Qt::LeftButton, Qt::NoModifier, centre);
}

void ProgramRig::waitForFrame() {
    // Layouts settle in the polish step before a frame; positions read before it can be a frame old.
    QSignalSpy animated(window_, &QQuickWindow::afterAnimating);
    window_->update();
    animated.wait(1000);
}

bool ProgramRig::enter(const QString &fieldName, const QString &text) {
    QQuickItem *labelled = item(fieldName);
    QQuickItem *field = labelled ? item(QStringLiteral("field"), labelled) : nullptr;
    if (!click(field) || !waitFor([field] { return field->hasActiveFocus(); }, 2000))
        return false;
    typeText(text);
    pressKey(Qt::Key_Return);
    return true;
}

void ProgramRig::typeText(const QString &text) {
    // QTest's keyClicks takes widgets only; a window gets the characters one at a time.
    for (const QChar character : text)
        QTest::keyClick(window_, character.toLatin1());
}

void ProgramRig::pressKey(Qt::Key key) {
    QTest::keyClick(window_, key);
}

bool ProgramRig::waitFor(const std::function<bool()> &condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(kPollMs);
    }
    return true;
}

bool ProgramRig::waitForIdle(int timeoutMs) {
    return waitFor([this] { return !backend_->getBusy(); }, timeoutMs);
}

bool ProgramRig::waitForConnection(const QString &port, int timeoutMs) {
    const QString title = QStringLiteral("[") + port + QStringLiteral("] - KORVAN Luxora");
    return waitFor(
        [&] {
            return window_->title() == title && text(QStringLiteral("statusText")) == QLatin1String("Ok") &&
                   !backend_->getBusy();
        },
        timeoutMs);
}

bool ProgramRig::choosePort(const QString &port) {
    QQuickItem *selector = item(QStringLiteral("portSelector"));
    if (!click(selector))
        return false;
    QQuickItem *row = nullptr;
    // The open list rescans every 500 ms, so a port that appeared after start-up shows up within a second.
    const bool listed = waitFor([&] {
        row = itemWithText(port);
        return row && usable(row) && row != selector;
    });
    return listed && click(row);
}

bool ProgramRig::showTab(const QString &tabName) {
    QQuickItem *tab = item(tabName);
    if (!click(tab))
        return false;
    return waitFor([tab] { return tab->property("checked").toBool(); }, 2000);
}

QImage ProgramRig::grab() const {
    return window_->grabWindow();
}

QColor ProgramRig::colourAt(QQuickItem *item, QPointF fraction) const {
    const QImage image = grab();
    const QPointF point = item->mapToScene(QPointF(item->width() * fraction.x(), item->height() * fraction.y()));
    // The grab is in device pixels.
    return image.pixelColor((point * window_->effectiveDevicePixelRatio()).toPoint());
}

long long SimulatorPosition(Simulator &simulator) {
    const std::string answer = simulator.control("get position");
    if (answer.rfind("ok ", 0) != 0)
        return -1000000000LL;
    return std::stoll(answer.substr(3));
}

long long StepsForPercent(double percent, double offsetDeg) {
    // The transmittance follows (1 - cos(pi * (angle - offset) / 45)) / 2 over the 45 degrees from zero to
    // full; the default scale has 143360 steps in 360 degrees.
    const double pi = std::acos(-1.0);
    const double angle = offsetDeg + 45.0 / pi * std::acos(1.0 - 2.0 * percent / 100.0);
    return static_cast<long long>(angle * 143360.0 / 360.0);
}

bool ContainsRequest(const Simulator &simulator, const std::string &request) {
    for (const std::string &line : simulator.requests()) {
        if (line == request)
            return true;
    }
    return false;
}

std::size_t CountRequests(const Simulator &simulator, const std::string &prefix) {
    std::size_t count = 0;
    for (const std::string &line : simulator.requests()) {
        if (line.rfind(prefix, 0) == 0)
            ++count;
    }
    return count;
}
