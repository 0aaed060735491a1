// The optics on the bench: laser, the attenuator's real curve and the meter's noise.
#include "Beam.h"

#include <algorithm>
#include <cmath>

namespace sim {

Beam::Beam(const BeamConfig &config, TimePoint start)
    : config_(config), laserSince_(start), tMax_(std::pow(10.0, -config.insertionLossDb / 10.0)),
      tMin_(tMax_ * std::pow(10.0, -config.extinctionDb / 10.0)),
      random_(config.seed ? *config.seed : std::random_device{}()) {}

double Beam::laserW(TimePoint now) const {
    if (blocked_)
        return 0.0;
    const double minutes = std::chrono::duration<double>(now - laserSince_).count() / 60.0;
    return std::max(0.0, config_.laserMw * 1e-3 * (1.0 + config_.driftPerMin * minutes));
}

double Beam::transmittance(double angleDeg) const {
    constexpr double kPi = 3.14159265358979323846;
    const double s = std::sin(kPi / 2.0 * (angleDeg - config_.trueOffsetDeg) / kSpanDeg);
    return tMin_ + (tMax_ - tMin_) * s * s;
}

double Beam::measuredW(double angleDeg, TimePoint now, int samples) {
    const double power = trueW(angleDeg, now);
    if (config_.noise <= 0.0)
        return power;
    const double sigma = config_.noise / std::sqrt(static_cast<double>(std::max(1, samples)));
    return std::max(0.0, power * (1.0 + sigma * gauss_(random_)));
}

void Beam::setLaserMw(double mw, TimePoint now) {
    config_.laserMw = mw;
    laserSince_ = now;
}

} // namespace sim
