// The meter on the bench: the four dialects' answers. SCPI mnemonics (Thorlabs) are taken case-insensitively
// in their long and short forms, with their optional nodes, as the meters take them.
#include "MeterModel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "DeviceSide.h"

namespace sim {

namespace {

// The simulated sensors' correctable spans, nm.
constexpr double kThorlabsMinNm = 700.0;
constexpr double kThorlabsMaxNm = 1800.0;
constexpr double kNewportMinNm = 400.0;
constexpr double kNewportMaxNm = 1700.0;
constexpr std::size_t kErrorQueue = 10;

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t next = text.find(separator, at);
        parts.push_back(text.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
        if (next == std::string_view::npos)
            return parts;
        at = next + 1;
    }
}

// A mnemonic such as "WAVelength" matches its short form (the capitals, "WAV") and its long form.
bool nodeMatches(std::string_view node, std::string_view token) {
    std::size_t capitals = 0;
    while (capitals < node.size() && !std::islower(static_cast<unsigned char>(node[capitals])))
        ++capitals;
    return sameText(token, node.substr(0, capitals)) || sameText(token, node);
}

// pattern: nodes separated by ':', an optional one in brackets ("[SENSe]:CORRection:WAVelength").
bool headerMatches(const std::vector<std::string_view> &pattern, std::size_t p,
                   const std::vector<std::string_view> &tokens, std::size_t t) {
    if (p == pattern.size())
        return t == tokens.size();
    std::string_view node = pattern[p];
    const bool optional = node.front() == '[';
    if (optional)
        node = node.substr(1, node.size() - 2);
    if (t < tokens.size() && nodeMatches(node, tokens[t]) && headerMatches(pattern, p + 1, tokens, t + 1))
        return true;
    return optional && headerMatches(pattern, p + 1, tokens, t);
}

bool headerMatches(std::string_view pattern, const std::vector<std::string_view> &tokens) {
    return headerMatches(split(pattern, ':'), 0, tokens, 0);
}

std::string formatted(const char *format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// "1.234E-3": Ophir writes its exponent without padding.
std::string ophirNumber(double value) {
    std::string text = formatted("%.3E", value);
    const std::size_t e = text.find('E');
    std::string exponent = text.substr(e + 1);
    const char sign = exponent[0];
    exponent = exponent.substr(1);
    exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
    return text.substr(0, e + 1) + (sign == '-' ? "-" : "") + exponent;
}

std::optional<bool> onOff(std::string_view value) {
    if (value == "1" || sameText(value, "ON"))
        return true;
    if (value == "0" || sameText(value, "OFF"))
        return false;
    return std::nullopt;
}

struct ScpiLine {
    std::string_view header; // without a trailing '?'
    std::string_view value;
    bool query = false;
};

ScpiLine cut(std::string_view line) {
    line = trimmed(line);
    ScpiLine request;
    const std::size_t space = line.find_first_of(" \t");
    request.header = line.substr(0, space);
    if (space != std::string_view::npos)
        request.value = trimmed(line.substr(space));
    if (!request.header.empty() && request.header.back() == '?') {
        request.query = true;
        request.header.remove_suffix(1);
    }
    return request;
}

} // namespace

std::optional<MeterKind> meterKindFromName(std::string_view name) {
    if (name == "thorlabs")
        return MeterKind::Thorlabs;
    if (name == "newport")
        return MeterKind::Newport;
    if (name == "ophir")
        return MeterKind::Ophir;
    if (name == "gentec")
        return MeterKind::Gentec;
    return std::nullopt;
}

const char *MeterModel::terminator() const {
    return kind_ == MeterKind::Thorlabs ? "\n" : "\r\n";
}

std::optional<std::string> MeterModel::answer(std::string_view request, const Reading &reading) {
    switch (kind_) {
    case MeterKind::Thorlabs:
        return thorlabs(request, reading);
    case MeterKind::Newport:
        return newport(request, reading);
    case MeterKind::Ophir:
        return ophir(request, reading);
    case MeterKind::Gentec:
        return gentec(request, reading);
    }
    return std::nullopt;
}

void MeterModel::setWavelength(std::string_view value) {
    const double low = kind_ == MeterKind::Thorlabs ? kThorlabsMinNm : kNewportMinNm;
    const double high = kind_ == MeterKind::Thorlabs ? kThorlabsMaxNm : kNewportMaxNm;
    const auto nm = parseNumber(value);
    if (!nm) {
        errors_.push_back(kind_ == MeterKind::Thorlabs ? "-224,\"Illegal parameter value\"" : "224,\"ILLEGAL VALUE\"");
    } else if (*nm < low || *nm > high) {
        errors_.push_back(kind_ == MeterKind::Thorlabs ? "-222,\"Data out of range\"" : "222,\"OUT OF RANGE\"");
    } else {
        wavelengthNm_ = *nm;
    }
}

std::string MeterModel::nextError() {
    if (errors_.empty())
        return kind_ == MeterKind::Thorlabs ? "+0,\"No error\"" : "0,\"NO ERROR\"";
    std::string error = errors_.front();
    errors_.pop_front();
    return error;
}

std::optional<std::string> MeterModel::thorlabs(std::string_view line, const Reading &reading) {
    const ScpiLine request = cut(line);
    if (errors_.size() > kErrorQueue)
        errors_.resize(kErrorQueue);
    if (sameText(request.header, "*IDN") && request.query)
        return std::string("THORLABS,PM100D,P0012345,2.7.0");
    if (sameText(request.header, "*CLS") && !request.query) {
        errors_.clear();
        return std::nullopt;
    }
    std::string_view header = request.header;
    if (!header.empty() && header.front() == ':')
        header.remove_prefix(1);
    const std::vector<std::string_view> tokens = split(header, ':');
    const bool query = request.query;
    if (headerMatches("MEASure:[SCALar]:[POWer]", tokens) && query && request.value.empty()) {
        if (over)
            return std::string("9.900000E+37");
        return formatted("%.6E", reading(averaging_));
    }
    if (headerMatches("[SENSe]:CORRection:WAVelength", tokens)) {
        if (!query) {
            setWavelength(request.value);
            return std::nullopt;
        }
        if (request.value.empty())
            return formatted("%.6E", wavelengthNm_);
        if (sameText(request.value, "MIN") || sameText(request.value, "MINIMUM"))
            return formatted("%.6E", kThorlabsMinNm);
        if (sameText(request.value, "MAX") || sameText(request.value, "MAXIMUM"))
            return formatted("%.6E", kThorlabsMaxNm);
    } else if (headerMatches("[SENSe]:POWer:[DC]:RANGe:AUTO", tokens)) {
        if (query)
            return std::string(autoRange_ ? "1" : "0");
        if (const auto on = onOff(request.value)) {
            autoRange_ = *on;
            return std::nullopt;
        }
    } else if (headerMatches("[SENSe]:AVERage:[COUNt]", tokens)) {
        if (query)
            return std::to_string(averaging_);
        if (const auto count = parseInteger(request.value, 1, 1000000)) {
            averaging_ = static_cast<int>(*count);
            return std::nullopt;
        }
    } else if (headerMatches("[SENSe]:CORRection:COLLect:ZERO:[INITiate]", tokens) && !query) {
        return std::nullopt;
    } else if (headerMatches("SYSTem:SENSor:IDN", tokens) && query) {
        return std::string("S122C,12345,12-Jan-2026,1,18,289");
    } else if (headerMatches("SYSTem:ERRor:[NEXT]", tokens) && query) {
        return nextError();
    } else {
        errors_.push_back("-113,\"Undefined header\"");
        return std::nullopt;
    }
    errors_.push_back("-224,\"Illegal parameter value\"");
    return std::nullopt;
}

std::optional<std::string> MeterModel::newport(std::string_view line, const Reading &reading) {
    const ScpiLine request = cut(line);
    const std::string_view header = request.header;
    if (sameText(header, "*IDN") && request.query)
        return std::string("NEWPORT 2936-R v1.2.4 01/12/25 SN 10517");
    if ((sameText(header, "PM:P") || sameText(header, "PM:POWER")) && request.query)
        return over ? std::string("OVER RANGE") : formatted("%.4E", reading(1));
    if (sameText(header, "PM:L") || sameText(header, "PM:LAMBDA")) {
        if (request.query)
            return formatted("%g", wavelengthNm_);
        setWavelength(request.value);
        return std::nullopt;
    }
    if (sameText(header, "PM:AUTO")) {
        if (request.query)
            return std::string(autoRange_ ? "1" : "0");
        if (const auto on = onOff(request.value))
            autoRange_ = *on;
        else
            errors_.push_back("224,\"ILLEGAL VALUE\"");
        return std::nullopt;
    }
    if (sameText(header, "ERR") && request.query)
        return nextError();
    errors_.push_back("113,\"UNDEFINED HEADER\"");
    return std::nullopt;
}

std::optional<std::string> MeterModel::ophir(std::string_view line, const Reading &reading) {
    const std::string_view request = trimmed(line);
    if (sameText(request, "$SP"))
        return over ? std::string("*OVER") : "*" + ophirNumber(reading(1));
    if (sameText(request, "$II"))
        return std::string("*NOVA 654321 PD300-IR");
    return std::string("?BAD COMMAND");
}

std::optional<std::string> MeterModel::gentec(std::string_view line, const Reading &reading) {
    const std::string_view request = trimmed(line);
    if (sameText(request, "*CVU"))
        return over ? std::string("Current Value : OVER") : "Current Value : " + formatted("%.6g", reading(1));
    if (sameText(request, "*VER"))
        return std::string("Maestro Version 1.00.08");
    return std::string("Command error");
}

} // namespace sim
