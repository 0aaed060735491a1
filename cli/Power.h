// What set POWER, set/get --calibrated and hold share: the meter, the device's calibration and the plan of
// the angles the loop may use.
#pragma once

#include <memory>
#include <optional>

#include "Session.h"
#include "calibration/Records.h"
#include "powerloop/PowerLoop.h"
#include "powermeter/PowerMeter.h"

namespace cli {

// The meter of --meter and --meter-kind, its wavelength set when --wavelength is given and it has the
// setting. Throws Failure: kExitUsage without --meter or for an unknown kind, kExitLink when it does not open.
std::unique_ptr<powermeter::PowerMeter> OpenMeter(const Options &options, const std::string &purpose);

// The calibration of the open device at --wavelength (or its only one). Without one: empty, or, when
// required, Failure(kExitUsage) that says how to make one.
std::optional<calibration::Entry> FindCalibration(Session &session, const Options &options, bool required);

// The angles and curve for the loop. Throws Failure(kExitUsage) for a maximum or range that leaves nothing.
powerloop::Plan PlanFor(const Session &session, const Options &options, const calibration::Entry *entry);

// "1.2 mW".
std::string PowerText(double watts);

} // namespace cli
