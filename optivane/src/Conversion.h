// The sine-squared transmittance curve and the step scale, as pure arithmetic.
#pragma once

#include <cmath>
#include <optional>

namespace KORVAN::conversion {

// Decimal approximations the device family was calibrated with; used as written, not as pi.
constexpr double kHalfPi = 1.57079632679;
constexpr double kPi = 3.14159265359;

// Degrees to steps, truncated toward zero; empty when the count does not fit an int.
inline std::optional<int> DegreeToSteps(double degree, double stepsPerDegree) {
    const double steps = std::trunc(degree * stepsPerDegree);
    if (!(steps >= -2147483648.0 && steps <= 2147483647.0))
        return std::nullopt;
    return static_cast<int>(steps);
}

inline double StepsToDegree(int steps, double stepsPerDegree) {
    return steps / stepsPerDegree;
}

// Transmittance 0 lands on offsetDeg, 1 on offsetDeg + rangeDeg, following the arcsine between.
inline double TransmittanceToDegree(double transmittance, double offsetDeg, double rangeDeg) {
    const double x = (transmittance - 0.5) * 2;
    return (std::asin(x) + kHalfPi) * (rangeDeg / kPi) + offsetDeg;
}

// Not clamped: outside the span the curve continues periodically.
inline double DegreeToTransmittance(double degree, double offsetDeg, double rangeDeg) {
    return std::sin((degree - offsetDeg) * (kPi / rangeDeg) - kHalfPi) * 0.5 + 0.5;
}

} // namespace KORVAN::conversion
