// How readings look: for people, as JSON for programs, and as CSV rows.
#pragma once

#include <chrono>
#include <string>

#include <nlohmann/json.hpp>

#include "Session.h"

namespace cli {

// printf formatting of one number.
std::string Format(const char *format, double value);
// The number, or null for one that is not finite (JSON has no infinity).
nlohmann::json Finite(double value);

// One "name  value unit" line per quantity.
std::string ReadingLines(const Reading &reading);
// transmittance, percent, attenuation_db (null for a closed beam), angle_deg, steps.
nlohmann::json ReadingJson(const Reading &reading);
// One line: transmittance, percent, dB, angle and steps with their units.
std::string ReadingRow(const Reading &reading);
std::string ReadingCsv(const Reading &reading);
const char *ReadingCsvHeader();

// Local time, ISO 8601 with milliseconds and the zone's offset: 2024-05-01T12:00:00.250+0200.
std::string Timestamp(std::chrono::system_clock::time_point when);

// Writes text to standard output and flushes it; false when the reader has gone (a closed pipe).
bool Emit(const std::string &text);

} // namespace cli
