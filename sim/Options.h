// Everything the command line decides, handed from main to the simulation.
#pragma once

#include <string>

#include "Beam.h"
#include "Device.h"
#include "Faults.h"
#include "MeterLine.h"

namespace sim {

struct Options {
    DeviceConfig device;
    Faults faults;
    bool baudDelay = true;
    std::string port;       // COMn to register, empty for none
    std::string control;    // control socket path, empty for none
    std::string transcript; // transcript file, empty for none
    BeamConfig beam;
    MeterOptions meter;
};

} // namespace sim
