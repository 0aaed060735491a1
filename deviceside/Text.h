// Strict number parsing and byte escaping, shared by the options, the control commands and the transcript.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace deviceside {

// Whole-text decimal integer with an optional leading '-', within [min, max]; nothing else accepted.
std::optional<std::int64_t> parseInteger(std::string_view text, std::int64_t min, std::int64_t max);

// Whole-text decimal number with an optional sign and fraction ("0.25", "-3", "120").
std::optional<double> parseNumber(std::string_view text);

// Bytes as one printable line: \r, \n, \\ and \xHH for the other non-printables.
std::string escapeBytes(std::string_view bytes);

// The inverse for user-given text: \r, \n, \\ and \xHH; any other escape is refused.
std::optional<std::string> unescapeText(std::string_view text);

bool isHexDigit(char c);

} // namespace deviceside
