// The reading of replies: a number in watts, or an error that says what came instead.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "powermeter/Dialects.h"

namespace powermeter {

namespace {

// SCPI instruments answer 9.9E37 for a value beyond their range and 9.91E37 for one they could not take.
constexpr double kScpiOverflow = 9.9e37;

std::string Trimmed(const std::string &text) {
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    const auto begin = std::find_if_not(text.begin(), text.end(), space);
    const auto end = std::find_if_not(text.rbegin(), text.rend(), space).base();
    return begin < end ? std::string(begin, end) : std::string();
}

// The reply as it can be shown in a message: control bytes escaped, long garbage cut.
std::string Shown(const std::string &reply) {
    constexpr std::size_t kLongest = 60;
    std::string shown;
    for (std::size_t i = 0; i < reply.size() && i < kLongest; ++i) {
        const auto c = static_cast<unsigned char>(reply[i]);
        if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        }
    }
    if (reply.size() > kLongest)
        shown += "...";
    return "'" + shown + "'";
}

bool ContainsOver(const std::string &text) {
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper.find("OVER") != std::string::npos;
}

// The whole text as one decimal number (std::from_chars: no locale, no hexadecimal); nullopt otherwise.
std::optional<double> Number(const std::string &text) {
    const std::size_t start = !text.empty() && text[0] == '+' ? 1 : 0;
    if (start == 1 && text.size() > 1 && text[1] == '-')
        return std::nullopt;
    double value = 0;
    const char *first = text.data() + start;
    const char *last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (first == last || error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

// The number's text within a power reply of the dialect; nullopt when the dialect's frame is missing.
std::optional<std::string> PowerText(Kind kind, const std::string &reply) {
    switch (kind) {
    case Kind::Ophir:
        if (reply.empty() || reply[0] != '*')
            return std::nullopt;
        return Trimmed(reply.substr(1));
    case Kind::Gentec: {
        // "Current Value : 0.00500095"; a label of letters and blanks before the colon.
        const std::size_t colon = reply.find(':');
        if (colon == std::string::npos)
            return reply;
        const std::string label = reply.substr(0, colon);
        if (!std::all_of(label.begin(), label.end(), [](unsigned char c) { return std::isalpha(c) != 0 || c == ' '; }))
            return std::nullopt;
        return Trimmed(reply.substr(colon + 1));
    }
    case Kind::Thorlabs:
    case Kind::Newport:
        break;
    }
    return reply;
}

} // namespace

double ParsePowerReply(Kind kind, const std::string &reply, const std::string &name) {
    const std::string text = Trimmed(reply);
    if (text.empty())
        throw MeterError(name + ": empty reply to a power reading");
    if (ContainsOver(text))
        throw MeterError(name + ": over range (reply " + Shown(text) + ")");
    const std::optional<std::string> number = PowerText(kind, text);
    const std::optional<double> value = number ? Number(*number) : std::nullopt;
    if (!value)
        throw MeterError(name + ": reply " + Shown(text) + " is no number");
    if (std::isnan(*value) || (*value >= kScpiOverflow * 1.0005 && *value < kScpiOverflow * 1.002))
        throw MeterError(name + ": reading is not a number (reply " + Shown(text) + ")");
    if (std::isinf(*value))
        throw MeterError(name + ": reading is infinite (reply " + Shown(text) + ")");
    if (*value >= kScpiOverflow)
        throw MeterError(name + ": over range (reply " + Shown(text) + ")");
    if (*value < 0)
        throw MeterError(name + ": negative reading (reply " + Shown(text) + "); zero the meter in the dark");
    return *value;
}

double ParseNumberReply(const std::string &reply, const std::string &name, const char *what) {
    const std::optional<double> value = Number(Trimmed(reply));
    if (!value || !std::isfinite(*value))
        throw MeterError(name + ": " + what + ": reply " + Shown(Trimmed(reply)) + " is no number");
    return *value;
}

std::string IdentityText(Kind kind, const std::string &reply) {
    std::string text = Trimmed(reply);
    if (kind == Kind::Ophir && !text.empty() && text[0] == '*')
        text = Trimmed(text.substr(1));
    return text;
}

bool NoErrorReply(const std::string &reply) {
    // "+0,"No error"" (SCPI), "0" or "0, ..." (Newport).
    const std::string text = Trimmed(reply);
    const std::size_t comma = text.find(',');
    const std::optional<double> code = Number(Trimmed(text.substr(0, comma)));
    return code && *code == 0;
}

} // namespace powermeter
