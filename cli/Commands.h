// The subcommands of the optivane command.
#pragma once

#include "Arguments.h"

namespace cli {

// Runs the parsed command; returns its exit status or throws Failure.
int RunCommand(const Options &options);

// watch (Watch.cpp).
int Watch(const Options &options);
// From here on Ctrl-C and SIGTERM only set a flag that StopSignalled() reads (Watch.cpp); once a process.
void CatchStopSignals();
bool StopSignalled();

// calibrate and calibration (Calibrate.cpp).
int Calibrate(const Options &options);
int Calibrations(const Options &options);

// set POWER and set --calibrated (Power.cpp); target is the parsed VALUE.
int SetPower(const Options &options, const Target &target);
int GetCalibrated(const Options &options);
// hold (Hold.cpp).
int Hold(const Options &options);

// share: replaces this process with optivane-share (Share.cpp). Returns only on failure.
int Share(const Options &options);

} // namespace cli
