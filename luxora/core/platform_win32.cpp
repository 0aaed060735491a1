// Windows side of the platform layer: folders under the user's profile. Starting the updater is in
// process_win32.cpp, which calls nothing of Qt, so that a test program without Qt for Windows runs it.
#include <QDir>

#include "core/Platform.h"

namespace platform {

bool MakePrivateDirectory(const QString &path) {
    // The per-user application data folder already admits only its user; new folders inherit that.
    return !path.isEmpty() && QDir().mkpath(path);
}

std::unique_ptr<QObject> QuitOnTerminationSignals() {
    // A GUI program has no console, so there is no console control event to catch. At log-off Windows sends
    // its end-of-session messages to the windows, and Qt's Windows plugin ends the event loop on them.
    return nullptr;
}

} // namespace platform
