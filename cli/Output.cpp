// How readings look.
#include "Output.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "frontend/Units.h"

namespace cli {

std::string Format(const char *format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

nlohmann::json Finite(double value) {
    return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

namespace {

std::string Decibels(const Reading &reading, const char *format) {
    const double db = frontend::DecibelsFromTransmittance(reading.transmittance);
    return std::isinf(db) ? std::string("inf") : Format(format, db);
}

} // namespace

std::string ReadingLines(const Reading &reading) {
    return "transmittance  " + Format("%.6f", reading.transmittance) + "\n" + //
           "percent        " + Format("%.4f", frontend::PercentFromTransmittance(reading.transmittance)) + " %\n" +
           "attenuation    " + Decibels(reading, "%.4f") + " dB\n" +      //
           "angle          " + Format("%.4f", reading.degree) + " deg\n" + //
           "steps          " + std::to_string(reading.steps) + "\n";
}

nlohmann::json ReadingJson(const Reading &reading) {
    const double db = frontend::DecibelsFromTransmittance(reading.transmittance);
    return {
        {"transmittance", reading.transmittance},
        {"percent", frontend::PercentFromTransmittance(reading.transmittance)},
        {"attenuation_db", std::isinf(db) ? nlohmann::json(nullptr) : nlohmann::json(db)},
        {"angle_deg", reading.degree},
        {"steps", reading.steps},
    };
}

std::string ReadingRow(const Reading &reading) {
    return Format("%.6f", reading.transmittance) + "  " +
           Format("%.4f", frontend::PercentFromTransmittance(reading.transmittance)) + " %  " +
           Decibels(reading, "%.4f") + " dB  " + Format("%.4f", reading.degree) + " deg  " +
           std::to_string(reading.steps) + " steps";
}

const char *ReadingCsvHeader() {
    return "time,transmittance,percent,attenuation_db,angle_deg,steps";
}

std::string ReadingCsv(const Reading &reading) {
    return Format("%.6f", reading.transmittance) + "," +
           Format("%.4f", frontend::PercentFromTransmittance(reading.transmittance)) + "," +
           Decibels(reading, "%.4f") + "," + Format("%.4f", reading.degree) + "," + std::to_string(reading.steps);
}

std::string Timestamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char date[32];
    char zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%s", date, static_cast<int>(milliseconds), zone);
    return text;
}

bool Emit(const std::string &text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

} // namespace cli
