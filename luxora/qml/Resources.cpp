// Registration of the resources that rcc compiles from luxora.qrc.
#include "qml/Resources.h"

#include <QtGlobal>

void InitLuxoraResources() {
    Q_INIT_RESOURCE(luxora_qml);
}
