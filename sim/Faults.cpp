// Injected faults: what they are, how they are set from text, and how they reshape a reply.
#include "Faults.h"

#include <algorithm>

#include "DeviceSide.h"

namespace sim {

namespace {

std::optional<bool> onOff(std::string_view value) {
    if (value == "on")
        return true;
    if (value == "off")
        return false;
    return std::nullopt;
}

} // namespace

std::string setFault(Faults &faults, std::string_view name, std::string_view value) {
    if (name == "silent" || name == "double") {
        const auto on = onOff(value);
        if (!on)
            return "expected on or off";
        (name == "silent" ? faults.silent : faults.doubled) = *on;
        return {};
    }
    if (name == "delay") {
        const auto ms = parseInteger(value, 0, 3'600'000);
        if (!ms)
            return "expected milliseconds 0..3600000";
        faults.delayMs = static_cast<int>(*ms);
        return {};
    }
    if (name == "force-status") {
        if (value == "off") {
            faults.forceStatus.reset();
            return {};
        }
        const auto status = parseInteger(value, 0, 255);
        if (!status)
            return "expected a status 0..255 or off";
        faults.forceStatus = static_cast<int>(*status);
        return {};
    }
    if (name == "malformed") {
        if (value == "short")
            faults.malformed = Malformed::Short;
        else if (value == "digits")
            faults.malformed = Malformed::Digits;
        else if (value == "off")
            faults.malformed = Malformed::Off;
        else
            return "expected short, digits or off";
        return {};
    }
    if (name == "split") {
        if (value == "off") {
            faults.splitPieces = 0;
            return {};
        }
        const auto pieces = parseInteger(value, 2, 1000);
        if (!pieces)
            return "expected pieces 2..1000 or off";
        faults.splitPieces = static_cast<int>(*pieces);
        return {};
    }
    if (name == "stray") {
        if (value == "off") {
            faults.stray.clear();
            return {};
        }
        auto text = unescapeText(value);
        if (!text || text->empty())
            return "expected text (escapes \\r \\n \\\\ \\xHH) or off";
        faults.stray = std::move(*text);
        return {};
    }
    return "unknown fault";
}

std::string malform(const std::string &reply, Malformed how) {
    // Every reply ends in CR LF and carries its tag in characters 1-2.
    if (how == Malformed::Off || reply.size() < 5)
        return reply;
    std::string out = reply;
    if (how == Malformed::Short) {
        out.erase(out.size() - 3, 1);
        return out;
    }
    std::size_t first = 3;
    std::size_t last = out.size() - 2;
    if (out.compare(1, 2, "IN") == 0 && out.size() == 35) {
        // Only the scale is read as numbers; the text fields before it stay as they are.
        first = 21;
        last = 33;
    }
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(first), out.begin() + static_cast<std::ptrdiff_t>(last), 'G');
    return out;
}

std::string shapeReply(const std::string &reply, const Faults &faults) {
    std::string bytes = malform(reply, faults.malformed);
    if (faults.doubled)
        bytes += bytes;
    bytes += faults.stray;
    return bytes;
}

std::vector<std::string> splitInto(const std::string &bytes, int pieces) {
    const std::size_t count = std::max<std::size_t>(1, std::min<std::size_t>(bytes.size(), pieces > 1 ? pieces : 1));
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t end = bytes.size() * (i + 1) / count;
        out.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return out;
}

} // namespace sim
