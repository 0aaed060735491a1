// The power meter of one device; see MeterLink.h.
#include "MeterLink.h"

#include <utility>

namespace optivane_tango {

MeterLink::MeterLink(std::string address, powermeter::Kind kind, double wavelengthNm)
    : address_(std::move(address)), kind_(kind), wavelengthNm_(wavelengthNm) {}

powermeter::PowerMeter &MeterLink::open() {
    if (!meter_) {
        auto meter = powermeter::PowerMeter::Open(address_, kind_);
        // A meter that cannot take the configured wavelength would read for another one: no meter.
        if (wavelengthNm_ > 0 && meter->HasWavelength())
            meter->SetWavelengthNm(wavelengthNm_);
        meter_ = std::move(meter);
    }
    return *meter_;
}

double MeterLink::ReadPowerW() {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        return open().ReadPowerW();
    } catch (const powermeter::MeterError &) {
        meter_.reset();
        throw;
    }
}

std::optional<double> MeterLink::WavelengthNm() {
    if (wavelengthNm_ > 0)
        return wavelengthNm_;
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        powermeter::PowerMeter &meter = open();
        if (meter.HasWavelength())
            return meter.WavelengthNm();
    } catch (const powermeter::MeterError &) {
        meter_.reset();
    }
    return std::nullopt;
}

} // namespace optivane_tango
