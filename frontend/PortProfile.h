// Where a port's transmittance curve lies and which transmittances are permitted, as luxora keeps them
// per port in its settings file; read-only, so that a script means by "50 %" the beam the program sets.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace frontend {

// The span luxora always passes with every transmittance call.
inline constexpr double kDefaultSpanDeg = 45.0;

struct PortProfile {
    double offsetDeg = 0.0;           // angle of zero transmittance
    double spanDeg = kDefaultSpanDeg; // angle from zero to full transmittance
    double rangeMin = 0.0;            // permitted transmittance, fraction 0-1
    double rangeMax = 1.0;
    std::string settingsPath; // the file the values came from; empty when none was read
};

// luxora's application data folder: Qt's AppDataLocation for the organisation "Korvan. Inc" and the
// application "Luxora" ($XDG_DATA_HOME/Korvan. Inc/Luxora, by default under ~/.local/share).
std::string SettingsFolder();
// The settings file luxora keeps for a port ("cfg_COM5.json"); empty for a name that is no COM name,
// for which luxora keeps none.
std::string SettingsPath(const std::string &port);

// The port's profile. The file is read as luxora reads it: a file that is missing, cannot be opened or is
// not a JSON object gives the defaults (offset 0, span 45, range 0-1); in a file that is one, a member that
// is absent or not a number reads as 0. Numbers are narrowed to float, as luxora holds them.
PortProfile LoadPortProfile(const std::string &port);

// Thrown for a transmittance outside the permitted range; what() says the value and the range.
struct RangeRefused : std::domain_error {
    using std::domain_error::domain_error;
};

// The transmittance to send: the value itself when it lies in the profile's range; with clamp, the
// nearer end of the range. Throws RangeRefused otherwise, and for a value that is not a number.
double AdmitTransmittance(const PortProfile &profile, double transmittance, bool clamp);

} // namespace frontend
