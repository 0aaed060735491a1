// luxora's per-port settings file, read without Qt and never written.
#include "frontend/PortProfile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "optivane/optivane.h"

namespace frontend {

namespace {

// luxora's organisation and application names, which place its data folder.
constexpr char kOrganisation[] = "Korvan. Inc";
constexpr char kApplication[] = "Luxora";

constexpr char kOffsetKey[] = "offset_degree";
constexpr char kRangeMinKey[] = "transmittance_range_min";
constexpr char kRangeMaxKey[] = "transmittance_range_max";

std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

// As luxora reads a member: a number narrowed to float, anything else 0.
double MemberNumber(const nlohmann::json &object, const char *key) {
    const auto member = object.find(key);
    if (member == object.end() || !member->is_number())
        return 0.0;
    return static_cast<float>(member->get<double>());
}

std::string Format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

std::string SettingsFolder() {
    // Qt's rule: XDG_DATA_HOME when set at all, otherwise the home folder's .local/share.
    std::string base = Environment("XDG_DATA_HOME");
    if (base.empty()) {
        std::string home = Environment("HOME");
        base = (home.empty() ? std::string("/") : home) + "/.local/share";
        if (base.compare(0, 2, "//") == 0)
            base.erase(0, 1);
    }
    return base + "/" + kOrganisation + "/" + kApplication;
}

std::string SettingsPath(const std::string &port) {
    if (KORVAN::Ports::ComNumber(port) < 0)
        return {};
    return SettingsFolder() + "/cfg_" + port + ".json";
}

PortProfile LoadPortProfile(const std::string &port) {
    PortProfile profile;
    const std::string path = SettingsPath(port);
    if (path.empty())
        return profile;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return profile;
    const std::string contents{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const nlohmann::json document = nlohmann::json::parse(contents, nullptr, false);
    if (!document.is_object())
        return profile;
    profile.offsetDeg = MemberNumber(document, kOffsetKey);
    profile.rangeMin = MemberNumber(document, kRangeMinKey);
    profile.rangeMax = MemberNumber(document, kRangeMaxKey);
    profile.settingsPath = path;
    return profile;
}

double AdmitTransmittance(const PortProfile &profile, double transmittance, bool clamp) {
    if (std::isnan(transmittance))
        throw RangeRefused("transmittance is not a number");
    if (transmittance >= profile.rangeMin && transmittance <= profile.rangeMax)
        return transmittance;
    // The same order as luxora's clamp: below the minimum gives the minimum, above the maximum the maximum.
    if (clamp)
        return transmittance < profile.rangeMin ? profile.rangeMin : profile.rangeMax;
    throw RangeRefused("transmittance " + Format(transmittance) + " is outside the permitted range " +
                       Format(profile.rangeMin) + " to " + Format(profile.rangeMax) +
                       (profile.settingsPath.empty() ? std::string() : " (from " + profile.settingsPath + ")") +
                       "; clamp to move to the nearest permitted value");
}

} // namespace frontend
