// Presentation units of a transmittance: percent and attenuation in decibels. The device rules
// (transmittance, angle, steps) stay in the library.
#pragma once

namespace frontend {

double PercentFromTransmittance(double transmittance);
double TransmittanceFromPercent(double percent);
// -10 log10 T: 3.0103 dB for 0.5; infinite for 0.
double DecibelsFromTransmittance(double transmittance);
double TransmittanceFromDecibels(double decibels);

} // namespace frontend
