// What the loop's own files share and the front ends do not need.
#pragma once

#include <string>

#include "powerloop/PowerLoop.h"

namespace powerloop::detail {

// ApproachFromBelow from a known angle, without reading it again.
void Approach(calibration::Motor &motor, const Plan &plan, double fromDeg, double angleDeg, double backlashDeg);

// The model's power at an angle; 0 while the full beam is unknown.
double PredictedW(const Plan &plan, const BeamModel &model, double angleDeg);
// The angle where the model passes powerW, kept inside the plan's angles. model.fullPowerW must be above 0.
double AngleForPower(const Plan &plan, const BeamModel &model, double powerW);
// The full beam that makes the model pass powerW at angleDeg; 0 when the curve there is too low to say.
double FullPowerFrom(const Plan &plan, double shiftDeg, double angleDeg, double powerW);

// "1.2 mW": a power for messages.
std::string Watts(double watts);
std::string Percent(double relative); // "+1.23 %"
std::string Degrees(double angleDeg); // "12.345 deg"
std::string Figure(double value);     // "0.8"

} // namespace powerloop::detail
