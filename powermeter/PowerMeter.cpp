// One meter: the dialect's commands over a transport, every reply read within the meter's time limit.
#include <charconv>
#include <cmath>

#include "powermeter/Dialects.h"

namespace powermeter {

namespace {

std::string NumberText(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

PowerMeter::PowerMeter(std::unique_ptr<Transport> transport, Kind kind, std::chrono::milliseconds timeout)
    : transport_(std::move(transport)), kind_(kind), timeout_(timeout) {}

std::unique_ptr<PowerMeter> PowerMeter::Open(const std::string &address, Kind kind, std::chrono::milliseconds timeout) {
    try {
        return std::make_unique<PowerMeter>(OpenTransport(address, timeout), kind, timeout);
    } catch (const MeterError &error) {
        throw MeterError(std::string(KindName(kind)) + " meter at " + error.what());
    }
}

std::string PowerMeter::Name() const {
    return std::string(KindName(kind_)) + " meter at " + transport_->Address();
}

void PowerMeter::Send(const std::string &request) {
    try {
        transport_->Write(request);
    } catch (const MeterError &error) {
        throw MeterError(std::string(KindName(kind_)) + " meter at " + error.what());
    }
}

std::string PowerMeter::Query(const std::string &request) {
    Send(request);
    try {
        return transport_->ReadLine(timeout_);
    } catch (const MeterError &error) {
        throw MeterError(std::string(KindName(kind_)) + " meter at " + error.what() + " (to " + request + ")");
    }
}

void PowerMeter::Command(const std::string &request) {
    Send(request);
    if (const char *error = DialectOf(kind_).error) {
        const std::string reply = Query(error);
        if (!NoErrorReply(reply))
            throw MeterError(Name() + ": refused " + request + ": " + reply);
    }
}

double PowerMeter::QueryNumber(const std::string &request, const char *what) {
    return ParseNumberReply(Query(request), Name(), what);
}

std::string PowerMeter::Identity() {
    std::lock_guard<std::mutex> lock(mutex_);
    const Dialect &dialect = DialectOf(kind_);
    std::string identity = IdentityText(kind_, Query(dialect.identity));
    if (identity.empty())
        throw MeterError(Name() + ": empty reply to " + dialect.identity);
    if (dialect.sensorIdentity != nullptr)
        identity += " / " + IdentityText(kind_, Query(dialect.sensorIdentity));
    return identity;
}

double PowerMeter::ReadPowerW() {
    std::lock_guard<std::mutex> lock(mutex_);
    return ParsePowerReply(kind_, Query(DialectOf(kind_).power), Name());
}

bool PowerMeter::HasWavelength() const {
    return DialectOf(kind_).wavelength != nullptr;
}

void PowerMeter::SetWavelengthNm(double nm) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Dialect &dialect = DialectOf(kind_);
    if (dialect.setWavelength == nullptr)
        throw MeterError(Name() + ": this dialect sets no wavelength; set it on the meter");
    if (!std::isfinite(nm) || nm <= 0)
        throw MeterError(Name() + ": wavelength " + NumberText(nm) + " nm is not a wavelength");
    Command(std::string(dialect.setWavelength) + " " + NumberText(nm));
}

double PowerMeter::WavelengthNm() {
    std::lock_guard<std::mutex> lock(mutex_);
    const Dialect &dialect = DialectOf(kind_);
    if (dialect.wavelength == nullptr)
        throw MeterError(Name() + ": this dialect reports no wavelength");
    return QueryNumber(dialect.wavelength, "wavelength");
}

std::pair<double, double> PowerMeter::WavelengthRangeNm() {
    std::lock_guard<std::mutex> lock(mutex_);
    const Dialect &dialect = DialectOf(kind_);
    if (dialect.wavelengthMin == nullptr || dialect.wavelengthMax == nullptr)
        throw MeterError(Name() + ": this dialect reports no wavelength range");
    const double low = QueryNumber(dialect.wavelengthMin, "shortest wavelength");
    const double high = QueryNumber(dialect.wavelengthMax, "longest wavelength");
    return {low, high};
}

void PowerMeter::SetAutoRange() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const char *autoRange = DialectOf(kind_).autoRange)
        Command(autoRange);
}

void PowerMeter::SetAveraging(int samples) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (samples < 1)
        throw MeterError(Name() + ": averaging over " + std::to_string(samples) + " samples");
    if (const char *average = DialectOf(kind_).average)
        Command(std::string(average) + " " + std::to_string(samples));
}

void PowerMeter::Zero() {
    std::lock_guard<std::mutex> lock(mutex_);
    const char *zero = DialectOf(kind_).zero;
    if (zero == nullptr)
        throw MeterError(Name() + ": this dialect cannot zero the meter; zero it on the meter");
    Command(zero);
}

} // namespace powermeter
