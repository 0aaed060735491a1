// The link log (--log FILE): every forwarded request and reply, and what became of the others, one line
// each with the wall-clock time and the name it belongs to, written through at once so that it can be
// attached to a bug report as it stands.
#include "LinkLog.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "Text.h"

namespace share {

LinkLog::~LinkLog() {
    if (file_)
        std::fclose(file_);
}

void LinkLog::open(const std::string &path) {
    file_ = std::fopen(path.c_str(), "ae");
    if (!file_)
        throw std::runtime_error("log " + path + ": " + std::strerror(errno));
}

void LinkLog::write(std::string_view port, char direction, std::string_view text, bool escape) {
    if (!file_)
        return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::string shown = escape ? deviceside::escapeBytes(text) : std::string(text);
    std::fprintf(file_, "%s.%03d %.*s %c %s\n", stamp, static_cast<int>(millis), static_cast<int>(port.size()),
                 port.data(), direction, shown.c_str());
    std::fflush(file_);
}

} // namespace share
