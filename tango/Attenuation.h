// Attenuation in decibels, as optical benches quote it: a presentation of the transmittance, which
// stays the one quantity the library converts.
#pragma once

#include <cmath>
#include <limits>

namespace optivane_tango {

// 0 dB at full transmittance; no transmittance is an infinite attenuation.
inline double DecibelsFromTransmittance(double transmittance) {
    if (!(transmittance > 0.0))
        return std::numeric_limits<double>::infinity();
    return 0.0 - 10.0 * std::log10(transmittance);
}

inline double TransmittanceFromDecibels(double decibels) {
    return std::pow(10.0, -decibels / 10.0);
}

} // namespace optivane_tango
