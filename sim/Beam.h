// The optics on the bench: a laser whose power may drift, the attenuator's real sine-squared curve (its own
// offset, extinction and insertion loss, which the software does not know) and the meter's noise.
#pragma once

#include <cstdint>
#include <optional>
#include <random>

#include "DeviceSide.h"

namespace sim {

struct BeamConfig {
    double laserMw = 10.0;
    double trueOffsetDeg = 0.0;        // angle of least transmittance
    double extinctionDb = 30.0;        // Tmax / Tmin
    double insertionLossDb = 0.4;      // 1 / Tmax
    double noise = 0.0;                // relative standard deviation of one reading
    double driftPerMin = 0.0;          // relative change of the laser's power per minute
    std::optional<std::uint64_t> seed; // none: a fresh one each run
};

class Beam {
public:
    // The span from least to most transmittance, in the motor's degrees.
    static constexpr double kSpanDeg = 45.0;

    Beam(const BeamConfig &config, TimePoint start);

    // The laser's power now (drift included), W; 0 while the beam is blocked.
    double laserW(TimePoint now) const;
    double transmittance(double angleDeg) const;
    // What reaches the meter at that motor angle, W, without noise.
    double trueW(double angleDeg, TimePoint now) const { return laserW(now) * transmittance(angleDeg); }
    // One reading: the true power with the meter's noise, averaged over samples; never below 0.
    double measuredW(double angleDeg, TimePoint now, int samples);

    // A new laser power from now on; the drift counts from here.
    void setLaserMw(double mw, TimePoint now);
    void setBlocked(bool blocked) { blocked_ = blocked; }

private:
    BeamConfig config_;
    TimePoint laserSince_;
    double tMax_;
    double tMin_;
    bool blocked_ = false;
    std::mt19937_64 random_;
    std::normal_distribution<double> gauss_{0.0, 1.0};
};

} // namespace sim
