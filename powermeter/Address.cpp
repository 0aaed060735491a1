// Meter addresses: one string names the transport and where the meter is.
#include <algorithm>
#include <cctype>

#include "powermeter/Transports.h"

namespace powermeter {

namespace {

const int kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

[[noreturn]] void Bad(const std::string &address, const std::string &reason) {
    throw MeterError(address + ": " + reason + " (addresses: usbtmc:DEVICE, serial:PORT[:BAUD], tcp:HOST[:PORT])");
}

// Decimal digits only, within 1..most; -1 otherwise.
int Decimal(const std::string &text, int most) {
    if (text.empty() || text.size() > 7 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return -1;
    const int value = std::stoi(text);
    return value >= 1 && value <= most ? value : -1;
}

bool AllDigits(const std::string &text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

} // namespace

MeterAddress ParseAddress(const std::string &address) {
    const std::size_t colon = address.find(':');
    if (colon == std::string::npos)
        Bad(address, "no transport named");
    std::string scheme = address.substr(0, colon);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string rest = address.substr(colon + 1);
    MeterAddress parsed;
    if (scheme == "usbtmc") {
        if (rest.empty())
            Bad(address, "no device");
        parsed.scheme = MeterAddress::Scheme::Usbtmc;
        parsed.path = rest;
    } else if (scheme == "serial") {
        parsed.scheme = MeterAddress::Scheme::Serial;
        parsed.path = rest;
        parsed.baud = MeterAddress::kDefaultBaud;
        const std::size_t last = rest.rfind(':');
        if (last != std::string::npos) {
            if (!AllDigits(rest.substr(last + 1)))
                Bad(address, "baud rate '" + rest.substr(last + 1) + "' is no number");
            parsed.path = rest.substr(0, last);
            parsed.baud = Decimal(rest.substr(last + 1), 10000000);
            if (std::find(std::begin(kBaudRates), std::end(kBaudRates), parsed.baud) == std::end(kBaudRates))
                Bad(address, "unsupported baud rate " + rest.substr(last + 1));
        }
        if (parsed.path.empty())
            Bad(address, "no port");
    } else if (scheme == "tcp") {
        parsed.scheme = MeterAddress::Scheme::Tcp;
        std::string portText;
        if (!rest.empty() && rest[0] == '[') {
            const std::size_t close = rest.find(']');
            if (close == std::string::npos)
                Bad(address, "no ']' after the IPv6 host");
            parsed.host = rest.substr(1, close - 1);
            const std::string after = rest.substr(close + 1);
            if (!after.empty() && after[0] != ':')
                Bad(address, "text after the host");
            portText = after.empty() ? "" : after.substr(1);
            if (after == ":")
                Bad(address, "no port after ':'");
        } else {
            const std::size_t portColon = rest.find(':');
            parsed.host = rest.substr(0, portColon);
            if (portColon != std::string::npos) {
                portText = rest.substr(portColon + 1);
                if (portText.empty())
                    Bad(address, "no port after ':'");
            }
        }
        if (parsed.host.empty())
            Bad(address, "no host");
        parsed.port = MeterAddress::kDefaultTcpPort;
        if (!portText.empty()) {
            parsed.port = Decimal(portText, 65535);
            if (parsed.port < 0)
                Bad(address, "port '" + portText + "' is not 1..65535");
        }
    } else {
        Bad(address, "unknown transport '" + address.substr(0, colon) + "'");
    }
    return parsed;
}

std::unique_ptr<Transport> OpenTransport(const std::string &address, std::chrono::milliseconds connectLimit) {
    const MeterAddress parsed = ParseAddress(address);
    switch (parsed.scheme) {
    case MeterAddress::Scheme::Usbtmc:
        return OpenUsbtmc(address, parsed.path);
    case MeterAddress::Scheme::Serial:
        return OpenSerial(address, parsed.path, parsed.baud);
    case MeterAddress::Scheme::Tcp:
        return OpenTcp(address, parsed.host, parsed.port, connectLimit);
    }
    Bad(address, "unknown transport");
}

} // namespace powermeter
