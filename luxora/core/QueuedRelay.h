// Hands work from any thread to the thread the relay lives in, in order, without waiting for it.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include <QObject>

// The work itself travels through a queue under a standard mutex; Qt's event queue only carries the
// wake-up. So the hand-over is ordered by a lock that every tool can see, ThreadSanitizer included,
// and no data is copied by an uninstrumented Qt.
class QueuedRelay : public QObject {
    Q_OBJECT

public:
    QueuedRelay() = default;

    // Runs work later on this object's thread, after everything posted before it.
    void Post(std::function<void()> work);

private slots:
    void Drain();

private:
    std::mutex mutex;
    std::deque<std::function<void()>> pending;
};
