// The wire log: every request received, every reply sent and every injected event, one line each,
// written through at once so that a test can read it while the simulator runs.
#include "Transcript.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "DeviceSide.h"

namespace sim {

Transcript::~Transcript() {
    if (file_)
        std::fclose(file_);
}

void Transcript::open(const std::string &path) {
    file_ = std::fopen(path.c_str(), "we");
    if (!file_)
        throw std::runtime_error("transcript " + path + ": " + std::strerror(errno));
}

void Transcript::write(std::string_view mark, std::string_view bytes, TimePoint at) {
    if (!file_)
        return;
    const std::string text = escapeBytes(bytes);
    const double elapsed = std::chrono::duration<double>(at - start_).count();
    std::fprintf(file_, "%.6f %.*s %.*s\n", elapsed, static_cast<int>(mark.size()), mark.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(file_);
}

} // namespace sim
