// The few operations on a serial device that differ between platforms.
#pragma once

#include <string>

#include <asio/serial_port.hpp>

namespace KORVAN::platform {

// Whether the freshly opened port is a character device; anything else is no serial port and is let go.
bool IsSerialDevice(asio::serial_port &port);

// Claims the freshly opened port for this handle alone, as COM ports are on Windows.
// False when another program already holds it.
bool ClaimExclusive(asio::serial_port &port);

// Gives up the claim before the port is closed.
void ReleaseExclusive(asio::serial_port &port);

// Drops bytes waiting in the port's input, such as a late reply to a request that timed out.
void DiscardInput(asio::serial_port &port);

// The folder of COMn links, or empty where the platform names COM ports itself.
std::string PortFolder();

// The path that opening a port name uses.
std::string DevicePath(const std::string &portName);

// Whether the port name resolves to a serial device.
bool PortExists(const std::string &portName);

} // namespace KORVAN::platform
