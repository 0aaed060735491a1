// Opening, configuring and closing the port, with the handshake that proves a device answers.
#include "Member.h"

#include <chrono>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "Platform.h"
#include "Reply.h"

namespace KORVAN {

namespace {

// The device needs a moment after the line settings change before it listens.
constexpr auto kSettleAfterOpen = std::chrono::milliseconds(100);
constexpr int kHandshakeTimeoutMs = 100;
constexpr unsigned kBaudRate = 9600;
constexpr unsigned kCharacterSizeBits = 8;

int ScaleNumber(const std::string &text) {
    try {
        return std::stoi(text);
    } catch (const std::invalid_argument &) {
        throw std::invalid_argument("invalid stoi argument");
    } catch (const std::out_of_range &) {
        throw std::out_of_range("stoi argument out of range");
    }
}

} // namespace

Optivane::__Member__::~__Member__() {
    // The port's service lives in ioContext, which is destroyed first (reverse declaration order).
    try {
        if (port)
            platform::ReleaseExclusive(*port);
        port.reset();
    } catch (...) {
    }
}

bool Optivane::__Member__::__Open_(const std::string &portName) {
    // A port-folder entry that does not lead to a character device is not opened at all. Where the system
    // names COM ports itself there is no folder to ask: opening the name is the test (Wine, for one, opens
    // ports that its QueryDosDeviceA does not know).
    if (!platform::PortFolder().empty() && Ports::ComNumber(portName) >= 0 && !platform::PortExists(portName))
        return false;
    auto opened = std::make_unique<asio::serial_port>(ioContext);
    asio::error_code openError;
    opened->open(platform::DevicePath(portName), openError);
    if (openError)
        return false;
    // Checked again on what was opened, in case the entry changed in between, and for plain paths.
    if (!platform::IsSerialDevice(*opened))
        return false;
    if (!platform::ClaimExclusive(*opened))
        return false; // held by another program; the handle keeps the port it had

    if (port)
        platform::ReleaseExclusive(*port);
    port = std::move(opened);

    using asio::serial_port_base;
    port->set_option(serial_port_base::baud_rate(kBaudRate));
    port->set_option(serial_port_base::character_size(kCharacterSizeBits));
    port->set_option(serial_port_base::stop_bits(serial_port_base::stop_bits::one));
    port->set_option(serial_port_base::parity(serial_port_base::parity::none));

    std::this_thread::sleep_for(kSettleAfterOpen);

    MotorInfo handshake;
    if (__ExpectInfo_(wire::kGetInfo, &handshake, kHandshakeTimeoutMs) != Ok) {
        __Close_();
        return false;
    }

    const int newTd = ScaleNumber(handshake.td);
    const int newPpd = ScaleNumber(handshake.ppd);
    // A zero or negative scale would make every later conversion infinite or undefined.
    if (newTd <= 0 || newPpd <= 0) {
        __Close_();
        return false;
    }
    td = newTd;
    ppd = newPpd;
    stepsPerDegree = static_cast<double>(ppd) / td;
    return true;
}

void Optivane::__Member__::__Close_() {
    if (!port)
        return;
    platform::ReleaseExclusive(*port);
    asio::error_code ec;
    port->cancel(ec);
    if (ec)
        throw std::system_error(ec, "cancel");
    port->close(ec);
    if (ec)
        throw std::system_error(ec, "close");
    port.reset();
}

} // namespace KORVAN
