// The start-up steps that the program and its end-to-end tests share, so that both set the program up
// the same way.
#pragma once

#include <thread>

class Backend;
class LogEmitter;
class QQmlApplicationEngine;
class QQmlEngine;
class QUrl;

namespace startup {

inline constexpr char kApplicationVersion[] = "1.3.1";

// What has to be set before the application object exists.
void PrepareApplication();

// Style, organisation, domain, application name, window icon and version. Runs before the LogManager is
// made, because the organisation and application names decide where the log folder is.
void ApplyIdentity();

// Loads the graphics driver on a thread of its own, from construction, while the screens load: the window
// needs it for its first frame, and loading it (a driver and its shader compiler, to be mapped and relocated)
// would otherwise wait until the window is made. Waits for that thread when destroyed. Does nothing where Qt
// Quick is told to draw without OpenGL. Made after the application object, and gone before it.
class GraphicsPreload {
public:
    GraphicsPreload();
    ~GraphicsPreload();
    GraphicsPreload(const GraphicsPreload &) = delete;
    GraphicsPreload &operator=(const GraphicsPreload &) = delete;

private:
    std::thread thread_;
};

// Hands the Backend to the screens as "backend" and the log emitter as "log"; the screens reach the program
// only through these two, so this runs before any QML is loaded.
void PublishObjects(QQmlEngine &engine, Backend &backend, LogEmitter &log);

// Where the main window is loaded from.
QUrl MainWindowUrl();

// Opt-in start-up diagnostic, off by default: when LUXORA_FIRST_FRAME_FILE names a file, the CLOCK_MONOTONIC
// time in nanoseconds of the loaded window's first frame is written to it, so that a benchmark can time the
// start from outside the process.
void RecordFirstFrame(const QQmlApplicationEngine &engine);

} // namespace startup
