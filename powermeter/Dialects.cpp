// The four dialects' command strings.
#include "powermeter/Dialects.h"

#include <algorithm>
#include <cctype>

namespace powermeter {

namespace {

// clang-format off
const Dialect kDialects[] = {
    // kind            name        identity  sensorIdentity    power        setWavelength     wavelength
    //   wavelengthMin         wavelengthMax         autoRange               average            zero
    //   error
    {Kind::Thorlabs, "thorlabs", "*IDN?", "SYST:SENS:IDN?", "MEAS:POW?", "SENS:CORR:WAV", "SENS:CORR:WAV?",
        "SENS:CORR:WAV? MIN", "SENS:CORR:WAV? MAX", "SENS:POW:RANG:AUTO 1", "SENS:AVER:COUN", "SENS:CORR:COLL:ZERO",
        "SYST:ERR?"},
    {Kind::Newport, "newport", "*IDN?", nullptr, "PM:P?", "PM:Lambda", "PM:L?",
        nullptr, nullptr, "PM:AUTO 1", nullptr, nullptr,
        "ERR?"},
    {Kind::Ophir, "ophir", "$II", nullptr, "$SP", nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr},
    {Kind::Gentec, "gentec", "*VER", nullptr, "*CVU", nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr},
};
// clang-format on

} // namespace

const Dialect &DialectOf(Kind kind) {
    for (const Dialect &dialect : kDialects) {
        if (dialect.kind == kind)
            return dialect;
    }
    return kDialects[0];
}

const char *KindName(Kind kind) {
    return DialectOf(kind).name;
}

std::optional<Kind> KindFromName(const std::string &name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const Dialect &dialect : kDialects) {
        if (lower == dialect.name)
            return dialect.kind;
    }
    return std::nullopt;
}

} // namespace powermeter
