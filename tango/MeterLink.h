// The power meter of one device, by its address: opened at its first use and again after any failure, so
// that a meter switched on or plugged in after the server started is found without Init, and a reply
// half-read when the line broke is never taken for the next one.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "powermeter/PowerMeter.h"

namespace optivane_tango {

class MeterLink {
public:
    // wavelengthNm 0: the meter's own. Nothing is opened here.
    MeterLink(std::string address, powermeter::Kind kind, double wavelengthNm);

    // One reading in watts. Throws powermeter::MeterError, whose message names the meter.
    double ReadPowerW();
    // The wavelength the readings are corrected for: the configured one, else the meter's own when its
    // dialect has one; nullopt when neither is known (or the meter does not answer).
    std::optional<double> WavelengthNm();

private:
    // With mutex_ held.
    powermeter::PowerMeter &open();

    const std::string address_;
    const powermeter::Kind kind_;
    const double wavelengthNm_;
    std::mutex mutex_;
    std::unique_ptr<powermeter::PowerMeter> meter_;
};

} // namespace optivane_tango
