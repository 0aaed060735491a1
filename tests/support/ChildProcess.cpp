// A program run as a child process for one test: its output read on a thread of its own, so that it
// never blocks on a full pipe, and its end made sure of, also when the test fails.
#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <unistd.h>

#include <sys/wait.h>

extern char **environ;

namespace {

constexpr auto kExitTimeout = std::chrono::seconds(5);
// Output is kept for waiting and error messages; a chatty program must not grow memory without end.
constexpr std::size_t kMaxKeptOutput = 64 * 1024;

std::runtime_error systemError(const std::string &what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw systemError("pipe2");
    if (::pipe2(err, O_CLOEXEC) != 0) {
        const auto error = systemError("pipe2");
        ::close(out[0]);
        ::close(out[1]);
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
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(spawned));
    }
    reader_ = std::thread([this, o = out[0], e = err[0]] { readOutput(o, e); });
}

ChildProcess::~ChildProcess() {
    try {
        stop();
    } catch (...) {
    }
}

void ChildProcess::readOutput(int out, int err) {
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

bool ChildProcess::waitForOutput(const std::function<bool(const std::string &)> &done,
                                 std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    outputChanged_.wait_for(lock, limit, [&] { return done(stdout_) || outputClosed_; });
    return done(stdout_);
}

bool ChildProcess::waitForLine(const std::string &text, std::chrono::milliseconds limit) {
    return waitForOutput(
        [&](const std::string &output) {
            const std::size_t at = output.find(text);
            return at != std::string::npos && output.find('\n', at) != std::string::npos;
        },
        limit);
}

std::string ChildProcess::output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stdout_;
}

std::string ChildProcess::errors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stderr_;
}

void ChildProcess::stop() {
    if (pid_ > 0 && !waitStatus_) {
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + kExitTimeout;
        int status = 0;
        pid_t done = 0;
        while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (done == 0) {
            ::kill(pid_, SIGKILL);
            done = ::waitpid(pid_, &status, 0);
        }
        waitStatus_ = done == pid_ ? status : -1;
    }
    // The pipes reach their end once the program is gone.
    if (reader_.joinable())
        reader_.join();
}

int ChildProcess::exitStatus() const {
    if (!waitStatus_ || *waitStatus_ == -1)
        return -1;
    if (WIFEXITED(*waitStatus_))
        return WEXITSTATUS(*waitStatus_);
    if (WIFSIGNALED(*waitStatus_))
        return 128 + WTERMSIG(*waitStatus_);
    return -1;
}
