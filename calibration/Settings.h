// The calibration's offset into luxora's settings file for a port, so that the program, the tools,
// Python and Tango all place the curve where the meter found it.
#pragma once

#include <stdexcept>
#include <string>

namespace calibration {

struct SettingsError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Sets the port's offset_degree (narrowed to float, as luxora holds it) and keeps every other member,
// replacing the file atomically in the layout luxora's own save writes. A port without a file gets one with
// luxora's defaults and this offset. Throws SettingsError, and leaves the file as it was, for a name that is
// no COM name, a file that is no JSON object (luxora would set it aside) or one that cannot be written.
// Returns the file's path.
std::string ApplyOffset(const std::string &port, double offsetDeg);

} // namespace calibration
