// Injected faults: what they are, how they are set from text, and how they reshape a reply.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class Malformed { Off, Short, Digits };

struct Faults {
    bool silent = false;
    int delayMs = 0;
    std::optional<int> forceStatus;
    Malformed malformed = Malformed::Off;
    int splitPieces = 0; // 0: one piece
    std::string stray;
    bool doubled = false;
};

// Sets one fault by its name ("silent", "delay", "force-status", "malformed", "split", "stray",
// "double") from the text that follows it; returns an error text, empty on success.
std::string setFault(Faults &faults, std::string_view name, std::string_view value);

// The bytes one reply puts on the line: malformed, then doubled, then followed by the stray text.
std::string shapeReply(const std::string &reply, const Faults &faults);

// A reply whose payload digits became 'G' (same length and tag), or which lost the character
// before its CR LF.
std::string malform(const std::string &reply, Malformed how);

// Nearly equal consecutive pieces; fewer than asked when there are fewer bytes.
std::vector<std::string> splitInto(const std::string &bytes, int pieces);

} // namespace sim
