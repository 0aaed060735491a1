// The link log (--log FILE): every forwarded request and reply, and what became of the others, one line
// each with the wall-clock time and the name it belongs to, written through at once so that it can be
// attached to a bug report as it stands.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace share {

class LinkLog {
public:
    LinkLog() = default;
    ~LinkLog();
    LinkLog(const LinkLog &) = delete;
    LinkLog &operator=(const LinkLog &) = delete;

    // Appends to the file; throws std::runtime_error.
    void open(const std::string &path);

    // '>' a request sent to the device, '<' a reply passed back, '!' an event (text as it stands).
    void request(std::string_view port, std::string_view bytes) { write(port, '>', bytes, true); }
    void reply(std::string_view port, std::string_view bytes) { write(port, '<', bytes, true); }
    void event(std::string_view port, std::string_view text) { write(port, '!', text, false); }

private:
    void write(std::string_view port, char direction, std::string_view text, bool escape);

    std::FILE *file_ = nullptr;
};

} // namespace share
