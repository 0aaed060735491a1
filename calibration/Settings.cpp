// luxora's settings file written without Qt, byte for byte as QJsonDocument::toJson(Indented) writes it.
#include "calibration/Settings.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "calibration/Files.h"
#include "frontend/PortProfile.h"

namespace calibration {

namespace {

using nlohmann::json;

// Qt's QByteArray::number(value, 'f' or 'g', QLocale::FloatingPointShortest), as its JSON writer calls it:
// 'f' for whole numbers below 2^64, 'g' otherwise, where 'g' takes the exponent form below 1e-4 and, above
// 1, whenever that form is shorter.
std::string QtNumber(double value) {
    if (!std::isfinite(value))
        return "null";
    if (value == 0.0)
        return "0";
    // The shortest digits that read back as the value, and the decimal point's place.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    const std::string scientific(buffer, result.ptr);
    const std::size_t e = scientific.find('e');
    std::string digits = scientific.substr(0, e);
    if (digits.size() > 1)
        digits.erase(1, 1); // the point after the first digit
    const int decpt = std::atoi(scientific.c_str() + e + 1) + 1;
    const int count = static_cast<int>(digits.size());

    const double magnitude = std::fabs(value);
    const bool whole = magnitude == std::floor(magnitude) && magnitude < 18446744073709551616.0;
    bool exponent = false;
    if (!whole) {
        int cutoff = 6;
        if (decpt > 0) {
            cutoff = count + 4 + (decpt <= 10 ? 1 : (decpt > 100 ? 2 : 1));
            if (count > decpt)
                ++cutoff;
        }
        exponent = decpt - 1 < -4 || decpt - 1 > cutoff - 1;
    }
    std::string text = value < 0 ? "-" : "";
    if (exponent) {
        text += digits.substr(0, 1);
        if (count > 1)
            text += "." + digits.substr(1);
        const int power = decpt - 1;
        const std::string powerDigits = std::to_string(std::abs(power));
        text += std::string(power < 0 ? "e-" : "e+") + (powerDigits.size() < 2 ? "0" : "") + powerDigits;
    } else if (decpt <= 0) {
        text += "0." + std::string(static_cast<std::size_t>(-decpt), '0') + digits;
    } else if (decpt < count) {
        text +=
            digits.substr(0, static_cast<std::size_t>(decpt)) + "." + digits.substr(static_cast<std::size_t>(decpt));
    } else {
        text += digits + std::string(static_cast<std::size_t>(decpt - count), '0');
    }
    return text;
}

std::string QtString(const std::string &text) {
    // Qt escapes the same characters: the quote, the backslash and the controls, \u00xx in lower case.
    return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

// QJsonDocument's indented form: four spaces a level, members in key order (QJsonObject keeps them
// sorted, as does nlohmann's object), an empty container still opened and closed on two lines.
void QtValue(const json &value, int indent, std::string &out) {
    const std::string inner(static_cast<std::size_t>(4 * (indent + 1)), ' ');
    switch (value.type()) {
    case json::value_t::object: {
        out += "{\n";
        bool first = true;
        for (const auto &[key, member] : value.items()) {
            out += first ? "" : ",\n";
            first = false;
            out += inner + QtString(key) + ": ";
            QtValue(member, indent + 1, out);
        }
        out += (first ? "" : "\n") + std::string(static_cast<std::size_t>(4 * indent), ' ') + "}";
        break;
    }
    case json::value_t::array: {
        out += "[\n";
        bool first = true;
        for (const json &element : value) {
            out += first ? "" : ",\n";
            first = false;
            out += inner;
            QtValue(element, indent + 1, out);
        }
        out += (first ? "" : "\n") + std::string(static_cast<std::size_t>(4 * indent), ' ') + "]";
        break;
    }
    case json::value_t::string:
        out += QtString(value.get<std::string>());
        break;
    case json::value_t::boolean:
        out += value.get<bool>() ? "true" : "false";
        break;
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float:
        // Qt reads every number as a double.
        out += QtNumber(value.get<double>());
        break;
    default:
        out += "null";
        break;
    }
}

// What luxora writes for a port it has no file for: its record's defaults.
json LuxoraDefaults() {
    return {
        {"device_alias", ""},
        {"offset_degree", 0.0},
        {"presets", json::array()},
        {"auto_connect_possible_serial", true},
        {"init_transmittance_zero", true},
        {"terminate_transmittance_zero", false},
        {"last_user_transmittance", 0.0},
        {"dark_mode", false},
        {"transmittance_range_min", 0.0},
        {"transmittance_range_max", 1.0},
    };
}

} // namespace

std::string ApplyOffset(const std::string &port, double offsetDeg) {
    const std::string path = frontend::SettingsPath(port);
    if (path.empty())
        throw SettingsError("'" + port + "' is no COM name, and luxora keeps settings for COM ports only");
    if (!std::isfinite(offsetDeg))
        throw SettingsError("the offset is not a number; " + path + " is left as it was");
    json document;
    try {
        const std::optional<std::string> contents = ReadFileIfAny(path);
        document = contents ? json::parse(*contents, nullptr, false) : LuxoraDefaults();
    } catch (const std::runtime_error &error) {
        throw SettingsError(std::string(error.what()) + "; nothing was written");
    }
    if (!document.is_object())
        throw SettingsError(path + " is no JSON object; luxora would set it aside as unreadable. Nothing was "
                                   "written: mend or remove the file, then apply the offset again");
    document["offset_degree"] = static_cast<double>(static_cast<float>(offsetDeg));
    std::string text;
    QtValue(document, 0, text);
    text += "\n";
    try {
        // luxora makes its folder private and its files readable by their owner only.
        MakeFolders(frontend::SettingsFolder(), 0700);
        WriteFileAtomically(path, text, 0600);
    } catch (const std::runtime_error &error) {
        throw SettingsError(std::string(error.what()) + "; the settings file is as it was");
    }
    return path;
}

} // namespace calibration
