// The floor under luxora's first frame: the program's own start-up (Material style, resources, identity)
// with an empty window of the same size instead of its screens, no Backend and no update step. Started by
// bench-luxora-first-frame exactly as it starts luxora, so that the difference is what the screens cost.
#include <QGuiApplication>
#include <QQmlApplicationEngine>

#include "shell/Startup.h"

int main(int argc, char *argv[]) {
    startup::PrepareApplication();
    QGuiApplication app(argc, argv);
    startup::ApplyIdentity();
    const startup::GraphicsPreload graphics;
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick.Controls 2.15\n"
                    "ApplicationWindow { visible: true; width: 423; height: 585; font.family: \"Arial\" }\n");
    if (engine.rootObjects().isEmpty())
        return 1;
    startup::RecordFirstFrame(engine);
    return QGuiApplication::exec();
}
