// Runs optivane-sim as a child process for one test: its pseudo-terminal path, its control socket
// and its transcript, in a private temporary folder that goes away with the object.
#include "Simulator.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStartTimeout = std::chrono::seconds(5);
constexpr auto kExitTimeout = std::chrono::seconds(5);
constexpr int kControlTimeoutMs = 5000;
// Output beyond the first line is only kept for error messages.
constexpr std::size_t kMaxKeptOutput = 64 * 1024;

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
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        const auto error = systemError("pipe2");
        std::filesystem::remove_all(folder_);
        throw error;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        const auto error = systemError("pipe2");
        ::close(out[0]);
        ::close(out[1]);
        std::filesystem::remove_all(folder_);
        throw error;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const int spawned = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
        ::close(out[0]);
        ::close(err[0]);
        pid_ = -1;
        std::filesystem::remove_all(folder_);
        throw std::runtime_error(std::string("cannot start ") + OPTIVANE_SIM_PATH + ": " + std::strerror(spawned));
    }
    reader_ = std::thread([this, o = out[0], e = err[0]] { readOutput(o, e); });

    std::unique_lock<std::mutex> lock(mutex_);
    const bool started = outputChanged_.wait_for(
        lock, kStartTimeout, [this] { return stdout_.find('\n') != std::string::npos || outputClosed_; });
    const std::size_t newline = stdout_.find('\n');
    if (started && newline != std::string::npos) {
        ptyPath_ = stdout_.substr(0, newline);
        return;
    }
    lock.unlock();
    stop();
    const std::string message = "optivane-sim did not start: " + stderr_;
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    throw std::runtime_error(message);
}

Simulator::~Simulator() {
    try {
        stop();
    } catch (...) {
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void Simulator::readOutput(int out, int err) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            std::lock_guard<std::mutex> lock(mutex_);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                std::string &kept = i == 0 ? stdout_ : stderr_;
                if (kept.size() < kMaxKeptOutput)
                    kept.append(buffer, static_cast<std::size_t>(n));
            }
            outputChanged_.notify_all();
        }
    }
    for (const pollfd &fd : fds) {
        if (fd.fd >= 0)
            ::close(fd.fd);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    outputClosed_ = true;
    outputChanged_.notify_all();
}

void Simulator::terminate() {
    stop();
}

void Simulator::stop() {
    if (pid_ > 0 && !waitStatus_) {
        ::kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + kExitTimeout;
        int status = 0;
        pid_t done = 0;
        while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (done == 0) {
            ::kill(pid_, SIGKILL);
            done = ::waitpid(pid_, &status, 0);
        }
        if (done == pid_)
            waitStatus_ = status;
        else
            waitStatus_ = -1;
    }
    // The pipes reach their end once the simulator is gone.
    if (reader_.joinable())
        reader_.join();
}

int Simulator::exitStatus() const {
    if (!waitStatus_)
        return -1;
    if (WIFEXITED(*waitStatus_))
        return WEXITSTATUS(*waitStatus_);
    if (WIFSIGNALED(*waitStatus_))
        return 128 + WTERMSIG(*waitStatus_);
    return -1;
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

std::string Simulator::transcript() const {
    std::ifstream file(transcriptPath_, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> Simulator::transcriptLines(char direction) const {
    // "<seconds> <direction> <bytes>"; the bytes may hold spaces of their own.
    std::vector<std::string> lines;
    std::istringstream text(transcript());
    for (std::string line; std::getline(text, line);) {
        const std::size_t space = line.find(' ');
        if (space != std::string::npos && line.size() >= space + 3 && line[space + 1] == direction &&
            line[space + 2] == ' ')
            lines.push_back(line.substr(space + 3));
    }
    return lines;
}

std::vector<std::string> Simulator::requests() const {
    return transcriptLines('>');
}

std::vector<std::string> Simulator::replies() const {
    return transcriptLines('<');
}

bool Simulator::waitForRequests(std::size_t count, int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (requests().size() >= count)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
