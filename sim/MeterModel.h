// The meter on the bench: what each of the four dialects answers to a request line. Knows no line or
// socket; MeterLine carries the bytes.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

enum class MeterKind { Thorlabs, Newport, Ophir, Gentec };

// "thorlabs", "newport", "ophir", "gentec"; nullopt for another name.
std::optional<MeterKind> meterKindFromName(std::string_view name);

class MeterModel {
public:
    // The power reaching the sensor at this moment, W, as a reading averaged over samples gives it.
    using Reading = std::function<double(int samples)>;

    explicit MeterModel(MeterKind kind) : kind_(kind) {}

    // The reply to one request line (its "\n" or "\r\n" already gone), without a terminator; nullopt when
    // the meter answers nothing (a setting, or a request it refuses).
    std::optional<std::string> answer(std::string_view request, const Reading &reading);
    // What ends the dialect's replies.
    const char *terminator() const;

    // Power readings answered as over range.
    bool over = false;

private:
    std::optional<std::string> thorlabs(std::string_view request, const Reading &reading);
    std::optional<std::string> newport(std::string_view request, const Reading &reading);
    std::optional<std::string> ophir(std::string_view request, const Reading &reading);
    std::optional<std::string> gentec(std::string_view request, const Reading &reading);
    // Sets the wavelength, or queues "data out of range" for one outside the sensor's span.
    void setWavelength(std::string_view value);
    std::string nextError();

    MeterKind kind_;
    double wavelengthNm_ = 1550.0;
    int averaging_ = 1;
    bool autoRange_ = false;
    std::deque<std::string> errors_;
};

} // namespace sim
