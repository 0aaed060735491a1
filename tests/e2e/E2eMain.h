// The entry point of an end-to-end test executable: the application is prepared by the program's own
// start-up steps before the tests run, as main prepares it.
#pragma once

#include <QGuiApplication>
#include <QTest>

#include "shell/Startup.h"

#if defined(__SANITIZE_ADDRESS__)
#define LUXORA_E2E_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUXORA_E2E_LEAK_CHECK 1
#endif
#endif

#ifdef LUXORA_E2E_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace e2e {

// Under AddressSanitizer the leak check runs once every test's objects are gone but before the
// application ends. Ending it closes the display, and Mesa's GL driver is unloaded with it: the blocks
// that the driver still holds in its globals would then show as leaks, from a module that no longer has
// a name to suppress them by. What the tests leaked is unreachable either way.
inline void CheckLeaksWhileTheDriversAreLoaded() {
#ifdef LUXORA_E2E_LEAK_CHECK
    __lsan_do_leak_check();
#endif
}

} // namespace e2e

#define LUXORA_E2E_MAIN(TestObject)                                                                                    \
    int main(int argc, char *argv[]) {                                                                                 \
        startup::PrepareApplication();                                                                                 \
        QGuiApplication app(argc, argv);                                                                               \
        startup::ApplyIdentity();                                                                                      \
        int result = 0;                                                                                                \
        {                                                                                                              \
            const startup::GraphicsPreload graphics;                                                                   \
            TestObject test;                                                                                           \
            result = QTest::qExec(&test, argc, argv);                                                                  \
        }                                                                                                              \
        e2e::CheckLeaksWhileTheDriversAreLoaded();                                                                     \
        return result;                                                                                                 \
    }
