// Presentation units of a transmittance.
#include "frontend/Units.h"

#include <cmath>
#include <limits>

namespace frontend {

double PercentFromTransmittance(double transmittance) {
    return transmittance * 100.0;
}

double TransmittanceFromPercent(double percent) {
    return percent / 100.0;
}

double DecibelsFromTransmittance(double transmittance) {
    // A closed beam has no finite attenuation; log10 of a tiny negative reading would be a NaN instead.
    if (transmittance <= 0.0)
        return std::numeric_limits<double>::infinity();
    return -10.0 * std::log10(transmittance);
}

double TransmittanceFromDecibels(double decibels) {
    return std::pow(10.0, -decibels / 10.0);
}

} // namespace frontend
