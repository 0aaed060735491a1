// wine-sim-broker: runs a command (a Windows test program under Wine) and starts simulators for it.
//
// The simulator is a Linux program on a pseudo-terminal, which a Windows process cannot start. The broker
// listens on 127.0.0.1 at a port chosen by the system and hands the port to the command in
// OPTIVANE_SIM_BROKER. Each connection owns one simulator, one request line and one answer line at a time:
//   start B ARG...      (tab-separated; B is 1 for the 9600-baud timing) -> ok COMn TRANSCRIPT
//   control LINE        -> the simulator's answer; a new terminal ("ok /dev/pts/N") is relinked and named
//                          by its COM port instead
//   stop                -> ok EXIT_STATUS
// The simulator's terminal becomes COMn through a link dosdevices/comN of the Wine prefix; Wine opens
// such a port, but lists it only when the prefix's registry names it when Wine starts (the key
// HKLM\Software\Wine\Ports). --listed N therefore starts N simulators before the command, names them in
// the registry with Wine's reg tool and stops the Wine server, so that the command's Wine starts with
// them; their names reach the command in OPTIVANE_LISTED_PORTS ("COM10 COM11").
//
// Usage: wine-sim-broker --prefix WINEPREFIX [--listed N] -- COMMAND [ARG...]
// Exits with the command's status, 125 when the broker itself fails.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include "Simulator.h"

extern char **environ;

namespace {

constexpr int kBrokerFailure = 125;
// The COM numbers handed out; below them Wine maps the machine's own serial ports.
constexpr int kFirstCom = 10;
constexpr int kLastCom = 99;

std::runtime_error systemError(const std::string &what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// Runs a program with the broker's environment plus extra variables; its exit status, 128 + signal
// when a signal ended it.
int run(const std::vector<std::string> &command, const std::vector<std::string> &extraEnvironment = {}) {
    std::vector<std::string> args = command;
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = extraEnvironment;
    std::vector<char *> envp;
    for (std::string &variable : variables)
        envp.push_back(variable.data());
    for (char **e = environ; *e; ++e)
        envp.push_back(*e);
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data());
    if (spawned != 0)
        throw std::runtime_error("cannot start " + command[0] + ": " + std::strerror(spawned));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            throw systemError("waitpid");
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string windowsPath(const std::string &linuxPath) {
    // Wine's drive Z: is the Linux root.
    std::string path = "Z:" + linuxPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The COM ports of the prefix, each a link in dosdevices to a simulator's terminal.
class PortMap {
public:
    explicit PortMap(std::string dosdevices) : dosdevices_(std::move(dosdevices)) {}

    int add(const std::string &terminal) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int n = kFirstCom; n <= kLastCom; ++n) {
            if (used_.count(n) != 0)
                continue;
            if (::symlink(terminal.c_str(), link(n).c_str()) == 0) {
                used_.insert(n);
                return n;
            }
            if (errno != EEXIST)
                throw systemError("symlink " + link(n));
        }
        throw std::runtime_error("no free COM number");
    }

    // Points COMn at a new terminal in one step, so that the port never goes missing in between.
    void move(int n, const std::string &terminal) {
        const std::string fresh = link(n) + ".new";
        ::unlink(fresh.c_str());
        if (::symlink(terminal.c_str(), fresh.c_str()) != 0 || ::rename(fresh.c_str(), link(n).c_str()) != 0)
            throw systemError("relink " + link(n));
    }

    void remove(int n) {
        std::lock_guard<std::mutex> lock(mutex_);
        ::unlink(link(n).c_str());
        used_.erase(n);
    }

private:
    std::string link(int n) const { return dosdevices_ + "/com" + std::to_string(n); }

    std::string dosdevices_;
    std::mutex mutex_;
    std::set<int> used_;
};

// Splits "word rest" at the first separator.
std::pair<std::string, std::string> splitFirst(const std::string &line, char separator) {
    const std::size_t at = line.find(separator);
    if (at == std::string::npos)
        return {line, {}};
    return {line.substr(0, at), line.substr(at + 1)};
}

// One connection: at most one simulator, ended with the connection.
class Session {
public:
    Session(int fd, PortMap &ports) : fd_(fd), ports_(ports) {}
    ~Session() {
        sim_.reset();
        if (com_ >= 0)
            ports_.remove(com_);
    }

    void serve() {
        std::string buffer;
        char chunk[4096];
        for (;;) {
            const std::size_t newline = buffer.find('\n');
            if (newline != std::string::npos) {
                const std::string line = buffer.substr(0, newline);
                buffer.erase(0, newline + 1);
                if (!send(answer(line) + "\n"))
                    return;
                continue;
            }
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    std::string answer(const std::string &line) {
        try {
            const auto [verb, rest] = splitFirst(line, ' ');
            if (verb == "start" && !sim_)
                return start(rest);
            if (verb == "control" && sim_)
                return control(rest);
            if (verb == "stop" && sim_) {
                sim_->terminate();
                return "ok " + std::to_string(sim_->exitStatus());
            }
            return "error unexpected request: " + line;
        } catch (const std::exception &e) {
            return std::string("error ") + e.what();
        }
    }

    std::string start(const std::string &request) {
        auto [baud, rest] = splitFirst(request, '\t');
        std::vector<std::string> args;
        while (!rest.empty()) {
            auto [arg, more] = splitFirst(rest, '\t');
            args.push_back(arg);
            rest = more;
        }
        sim_ = std::make_unique<Simulator>(args, baud == "1");
        com_ = ports_.add(sim_->ptyPath());
        return "ok COM" + std::to_string(com_) + " " + windowsPath(sim_->transcriptPath());
    }

    std::string control(const std::string &command) {
        const std::string reply = sim_->control(command);
        // After a hang-up the simulator answers "reopen" and "get pty" with its new terminal; the Windows
        // side knows it as the same COM port.
        if (reply.rfind("ok /", 0) == 0) {
            ports_.move(com_, reply.substr(3));
            return "ok COM" + std::to_string(com_);
        }
        return reply;
    }

    bool send(const std::string &text) {
        std::size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = ::send(fd_, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    int fd_;
    PortMap &ports_;
    std::unique_ptr<Simulator> sim_;
    int com_ = -1;
};

class Listener {
public:
    explicit Listener(PortMap &ports) : ports_(ports) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw systemError("socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd_, 16) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            throw systemError("listen on 127.0.0.1");
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { acceptAll(); });
    }

    // Ends every session, and with them their simulators.
    ~Listener() {
        ::shutdown(fd_, SHUT_RDWR);
        acceptor_.join();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (const int fd : connections_)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (std::thread &session : sessions_)
            session.join();
        ::close(fd_);
    }

    int port() const { return port_; }

private:
    void acceptAll() {
        for (;;) {
            const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                return; // shut down
            }
            std::lock_guard<std::mutex> lock(mutex_);
            connections_.insert(fd);
            sessions_.emplace_back([this, fd] {
                {
                    Session session(fd, ports_);
                    session.serve();
                }
                std::lock_guard<std::mutex> lock(mutex_);
                connections_.erase(fd);
                ::close(fd);
            });
        }
    }

    PortMap &ports_;
    int fd_ = -1;
    int port_ = 0;
    std::thread acceptor_;
    std::mutex mutex_;
    std::set<int> connections_;
    std::vector<std::thread> sessions_;
};

int brokerMain(int argc, char **argv) {
    std::string prefix;
    int listed = 0;
    int i = 1;
    for (; i < argc && std::string(argv[i]) != "--"; ++i) {
        const std::string option = argv[i];
        if (option == "--prefix" && i + 1 < argc)
            prefix = argv[++i];
        else if (option == "--listed" && i + 1 < argc)
            listed = std::atoi(argv[++i]);
        else
            throw std::runtime_error("unknown option " + option);
    }
    const std::vector<std::string> command(argv + std::min(i + 1, argc), argv + argc);
    if (prefix.empty() || command.empty())
        throw std::runtime_error("usage: wine-sim-broker --prefix WINEPREFIX [--listed N] -- COMMAND [ARG...]");
    if (!std::filesystem::is_directory(prefix + "/dosdevices"))
        throw std::runtime_error(prefix + " is no Wine prefix: it has no dosdevices folder (did wineboot run?)");

    PortMap ports(prefix + "/dosdevices");
    std::vector<std::unique_ptr<Simulator>> listedSims;
    std::string listedNames;
    for (int n = 0; n < listed; ++n) {
        listedSims.push_back(std::make_unique<Simulator>());
        const int com = ports.add(listedSims.back()->ptyPath());
        const std::string name = "COM" + std::to_string(com);
        if (run({"wine", "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", name, "/t", "REG_SZ", "/d",
                 listedSims.back()->ptyPath(), "/f"}) != 0)
            throw std::runtime_error("wine reg add " + name + " failed");
        listedNames += (listedNames.empty() ? "" : " ") + name;
    }
    if (listed > 0 && run({"wineserver", "-k"}) > 1)
        throw std::runtime_error("wineserver -k failed");

    Listener listener(ports);
    return run(command,
               {"OPTIVANE_SIM_BROKER=" + std::to_string(listener.port()), "OPTIVANE_LISTED_PORTS=" + listedNames});
}

} // namespace

int main(int argc, char **argv) {
    try {
        return brokerMain(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "wine-sim-broker: %s\n", e.what());
        return kBrokerFailure;
    }
}
