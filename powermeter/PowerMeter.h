// Optical power meters on the bench: one interface over four command dialects and three transports,
// so that every front end reads watts the same way and a bad reading is an error, never a number.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace powermeter {

// Every failure of a meter: what() names the meter (its address and dialect) and the reason.
struct MeterError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The command dialects; names as the command line and the properties spell them.
enum class Kind { Thorlabs, Newport, Ophir, Gentec };
const char *KindName(Kind kind); // "thorlabs", "newport", "ophir", "gentec"
// The dialect for a name (case-insensitive); nullopt for an unknown one.
std::optional<Kind> KindFromName(const std::string &name);

// How the bytes travel: one message out, one reply line back.
class Transport {
public:
    virtual ~Transport() = default;
    // Writes one request; its terminating "\n" is added here. Input still waiting (a late reply to an
    // earlier request) is dropped first, so that it is not taken for this request's reply. Every MeterError of
    // a transport reads "ADDRESS: reason".
    virtual void Write(const std::string &request) = 0;
    // One reply line without its "\n" or "\r\n", within the limit. Throws MeterError on no reply in time,
    // a closed or unplugged line.
    virtual std::string ReadLine(std::chrono::milliseconds limit) = 0;
    // The address it was opened with, for messages.
    virtual std::string Address() const = 0;
};

// A meter's address taken apart: "usbtmc:/dev/usbtmc0", "serial:/dev/ttyUSB1:115200" (or serial:COM7:115200,
// through the port folder; the baud rate may be left out, then kDefaultBaud), "tcp:HOST:PORT" (the port may be
// left out, then 5025; an IPv6 host goes in brackets, tcp:[::1]:5025).
struct MeterAddress {
    static constexpr int kDefaultBaud = 115200;
    static constexpr int kDefaultTcpPort = 5025;
    enum class Scheme { Usbtmc, Serial, Tcp };
    Scheme scheme = Scheme::Usbtmc;
    std::string path; // usbtmc, serial: the device or COM name as written
    int baud = 0;     // serial
    std::string host; // tcp
    int port = 0;     // tcp
};
// Throws MeterError ("ADDRESS: reason") for an address that does not parse.
MeterAddress ParseAddress(const std::string &address);

// Opens the transport of an address (a TCP connection within connectLimit). Throws MeterError ("ADDRESS: reason") for
// an address that does not parse or a device that does not open.
std::unique_ptr<Transport> OpenTransport(const std::string &address,
                                         std::chrono::milliseconds connectLimit = std::chrono::milliseconds(3000));

// One meter. Calls are serialised by a mutex of its own, so one meter may serve several threads.
class PowerMeter {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{1000};

    PowerMeter(std::unique_ptr<Transport> transport, Kind kind, std::chrono::milliseconds timeout = kDefaultTimeout);
    // OpenTransport(address), then the dialect. Throws MeterError.
    static std::unique_ptr<PowerMeter> Open(const std::string &address, Kind kind,
                                            std::chrono::milliseconds timeout = kDefaultTimeout);

    Kind kind() const { return kind_; }
    // "thorlabs meter at usbtmc:/dev/usbtmc0": the prefix of every message.
    std::string Name() const;

    // The meter's identity line (*IDN?, $II, *VER); for Thorlabs also the sensor's (SYST:SENS:IDN?),
    // after " / ". Throws MeterError.
    std::string Identity();
    // One reading in watts: finite and not negative, or MeterError (no number, over range, no reply).
    double ReadPowerW();
    // Whether the dialect sets a wavelength (Thorlabs, Newport).
    bool HasWavelength() const;
    // Nanometres. Throws MeterError, also for a dialect without wavelength.
    void SetWavelengthNm(double nm);
    double WavelengthNm();
    // The meter's correctable span (Thorlabs only; others throw MeterError).
    std::pair<double, double> WavelengthRangeNm();
    // Auto range on (Thorlabs, Newport; others do nothing). Throws MeterError.
    void SetAutoRange();
    // The meter averages this many samples per reading (Thorlabs; others do nothing, their averaging is set
    // on the meter itself). Throws MeterError.
    void SetAveraging(int samples);
    // Zeroes the dark reading (Thorlabs). Throws MeterError for others.
    void Zero();

private:
    // Both expect mutex_ held; they prefix the transport's errors with Name().
    std::string Query(const std::string &request);
    void Send(const std::string &request);
    // Send, then the dialect's error query, so that a setting the meter refused is an error here too.
    void Command(const std::string &request);
    double QueryNumber(const std::string &request, const char *what);

    std::mutex mutex_;
    std::unique_ptr<Transport> transport_;
    Kind kind_;
    std::chrono::milliseconds timeout_;
};

// The number in a power reply of the dialect, in watts. Throws MeterError (with name in the message)
// for text that is no number, "OVER", a negative, NaN or infinite value.
double ParsePowerReply(Kind kind, const std::string &reply, const std::string &name);

} // namespace powermeter
