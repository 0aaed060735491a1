// Runs optivane-sim as a child process for one test: its pseudo-terminal path, its control socket
// and its transcript, in a private temporary folder that goes away with the object.
#include "Simulator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

#include <sys/socket.h>
#include <sys/un.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(5);
constexpr int kControlTimeoutMs = 5000;

std::runtime_error systemError(const std::string &what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

std::string makeFolder() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/optivane-sim-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw systemError("mkdtemp " + pattern);
    return pattern;
}

} // namespace

Simulator::Simulator(std::vector<std::string> extraArgs, bool baudDelay)
    : folder_(makeFolder()), controlPath_(folder_ + "/control.sock"), transcriptPath_(folder_ + "/transcript.log") {
    std::vector<std::string> args = {OPTIVANE_SIM_PATH, "--control", controlPath_, "--transcript", transcriptPath_};
    if (!baudDelay)
        args.push_back("--no-baud-delay");
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    start(std::move(args), 1);
}

Simulator::Simulator(const Meter &meter, std::vector<std::string> extraArgs, bool baudDelay)
    : folder_(makeFolder()), controlPath_(folder_ + "/control.sock"), transcriptPath_(folder_ + "/transcript.log"),
      meterPath_(folder_ + "/meter") {
    std::vector<std::string> args = {OPTIVANE_SIM_PATH, "--control",      controlPath_, "--transcript",
                                     transcriptPath_,   "--meter-port",   meterPath_,   "--meter-kind",
                                     meter.kind,        "--meter-listen", "127.0.0.1:0"};
    if (!baudDelay)
        args.push_back("--no-baud-delay");
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    // The terminal's line, then "meter PATH" and "meter-tcp 127.0.0.1:PORT".
    start(std::move(args), 3);
    const std::string out = process_->output();
    const std::size_t tcp = out.find("\nmeter-tcp ");
    meterTcp_ = out.substr(tcp + 11, out.find('\n', tcp + 1) - tcp - 11);
}

void Simulator::start(std::vector<std::string> args, std::size_t lines) {
    try {
        process_ = std::make_unique<ChildProcess>(args);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        throw;
    }
    // The first line is the terminal's path, printed once everything is ready.
    if (process_->waitForOutput(
            [lines](const std::string &out) {
                return static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= lines;
            },
            kStartTimeout)) {
        const std::string out = process_->output();
        ptyPath_ = out.substr(0, out.find('\n'));
        return;
    }
    process_->stop();
    const std::string message = "optivane-sim did not start: " + process_->errors();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    throw std::runtime_error(message);
}

std::string Simulator::meterAddress(const std::string &transport) const {
    if (transport == "usbtmc")
        return "usbtmc:" + meterPath_;
    if (transport == "serial")
        return "serial:" + meterPath_ + ":115200";
    return "tcp:" + meterTcp_;
}

double Simulator::truePowerW() {
    const std::string answer = control("get power");
    if (answer.rfind("ok ", 0) != 0)
        throw std::runtime_error("get power: " + answer);
    return std::stod(answer.substr(3));
}

Simulator::~Simulator() {
    process_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void Simulator::terminate() {
    process_->stop();
}

int Simulator::exitStatus() const {
    return process_->exitStatus();
}

std::string Simulator::control(const std::string &line) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw systemError("socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, controlPath_.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const auto error = systemError("connect " + controlPath_);
        ::close(fd);
        throw error;
    }
    const std::string request = line + "\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        const auto error = systemError("send to " + controlPath_);
        ::close(fd);
        throw error;
    }
    std::string answer;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kControlTimeoutMs);
    while (answer.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd pfd{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&pfd, 1, static_cast<int>(left)) <= 0) {
            ::close(fd);
            throw std::runtime_error("no answer to control command: " + line);
        }
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("control socket closed before answering: " + line);
        }
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer.substr(0, answer.find('\n'));
}
