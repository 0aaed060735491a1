// Windows side of the platform layer: COM names are the system's own.
#include <windows.h>

#include "Platform.h"

namespace KORVAN::platform {

bool IsSerialDevice(asio::serial_port &port) { return ::GetFileType(port.native_handle()) == FILE_TYPE_CHAR; }

// CreateFile opens a COM port with no sharing, so the open itself is exclusive.
bool ClaimExclusive(asio::serial_port &) {
    return true;
}

void ReleaseExclusive(asio::serial_port &) {}

void DiscardInput(asio::serial_port &port) {
    ::PurgeComm(port.native_handle(), PURGE_RXCLEAR);
}

std::string PortFolder() {
    return {};
}

std::string DevicePath(const std::string &portName) {
    return portName;
}

bool PortExists(const std::string &portName) {
    char target[512];
    return ::QueryDosDeviceA(portName.c_str(), target, sizeof target) != 0;
}

} // namespace KORVAN::platform
