// The entry point of an end-to-end test executable: the application is prepared by the program's own
// start-up steps before the tests run, as main prepares it.
#pragma once

#include <QGuiApplication>
#include <QTest>

#include "shell/Startup.h"

#define LUXORA_E2E_MAIN(TestObject)                                                                                    \
    int main(int argc, char *argv[]) {                                                                                 \
        startup::PrepareApplication();                                                                                 \
        QGuiApplication app(argc, argv);                                                                               \
        startup::ApplyIdentity();                                                                                      \
        TestObject test;                                                                                               \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
