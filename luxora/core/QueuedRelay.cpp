#include "core/QueuedRelay.h"

#include <QMetaObject>

void QueuedRelay::Post(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        pending.push_back(std::move(work));
    }
    QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
}

void QueuedRelay::Drain() {
    std::deque<std::function<void()>> ready;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ready.swap(pending);
    }
    // Outside the lock: the work may post again (a receiver that logs, say).
    for (auto &work : ready)
        work();
}
