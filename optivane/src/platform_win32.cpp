// Windows side of the platform layer: COM names are the system's own.
#include "Platform.h"

// After Asio's headers, which include winsock2.h: windows.h first would bring in the older winsock.h.
#include <windows.h>

namespace KORVAN::platform {

bool IsSerialDevice(asio::serial_port &port) {
    return ::GetFileType(port.native_handle()) == FILE_TYPE_CHAR;
}

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
    // Only success counts, the target path is not used; a buffer too small for it would fail the call.
    char target[5000];
    return ::QueryDosDeviceA(portName.c_str(), target, sizeof target) != 0;
}

} // namespace KORVAN::platform
