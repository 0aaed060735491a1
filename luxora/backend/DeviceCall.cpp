// Containment of the library's exceptions at the Backend's call sites.
#include "backend/DeviceCall.h"

#include <QDebug>

namespace devicecall {

void ReportException(const char *what) {
    qCritical() << "Device call failed:" << what;
}

bool Connect(KORVAN::Optivane &device, const std::string &portName) noexcept {
    try {
        return device.Connect(portName);
    } catch (const std::exception &e) {
        ReportException(e.what());
    } catch (...) {
        ReportException("unknown exception");
    }
    Disconnect(device);
    return false;
}

void Disconnect(KORVAN::Optivane &device) noexcept {
    try {
        device.Disconnect();
    } catch (const std::exception &e) {
        ReportException(e.what());
    } catch (...) {
        ReportException("unknown exception");
    }
}

} // namespace devicecall
