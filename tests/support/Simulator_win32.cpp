// A simulator for a Windows test process under Wine. The simulator is a Linux program on a pseudo-terminal,
// so wine-sim-broker (tests/wine), which started this process, starts it, links the terminal to a COM port
// of the Wine prefix and relays the control commands. One TCP connection to the broker per simulator, on
// 127.0.0.1 at the port in OPTIVANE_SIM_BROKER; closing it ends the simulator. The transcript is read
// directly, through Wine's drive for the Linux file system.
#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include <winsock2.h>
#include <ws2tcpip.h>

#include "Simulator.h"

namespace {

constexpr DWORD kAnswerTimeoutMs = 10000;

std::string socketError(const std::string &what) {
    return what + ": Winsock error " + std::to_string(::WSAGetLastError());
}

// Winsock for the whole process, from the first simulator on.
void startWinsock() {
    static const int started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0)
        throw std::runtime_error("WSAStartup failed: " + std::to_string(started));
}

SOCKET connectToBroker() {
    startWinsock();
    const char *port = std::getenv("OPTIVANE_SIM_BROKER");
    if (port == nullptr || *port == '\0')
        throw std::runtime_error("OPTIVANE_SIM_BROKER is not set: the Windows tests run under Wine through "
                                 "wine-sim-broker (scripts/test-wine)");
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        throw std::runtime_error(socketError("socket"));
    // Each answer waits for the simulator at most a few seconds; a broker that stops answering fails the
    // test instead of hanging it.
    const DWORD timeout = kAnswerTimeoutMs;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout), sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const std::string error = socketError("connect to the broker at 127.0.0.1:" + std::string(port));
        ::closesocket(s);
        throw std::runtime_error(error);
    }
    return s;
}

// "ok REST" gives REST; anything else is the broker's error.
std::string expectOk(const std::string &answer, const std::string &request) {
    if (answer.rfind("ok", 0) != 0)
        throw std::runtime_error("broker refused '" + request + "': " + answer);
    return answer.size() > 3 ? answer.substr(3) : std::string();
}

} // namespace

Simulator::Simulator(std::vector<std::string> extraArgs, bool baudDelay) : broker_(connectToBroker()) {
    std::string request = baudDelay ? "start 1" : "start 0";
    for (const std::string &arg : extraArgs)
        request += "\t" + arg;
    try {
        // "COMn PATH": the port that Connect opens and the transcript as a Windows path.
        const std::string started = expectOk(ask(request), request);
        const std::size_t space = started.find(' ');
        if (space == std::string::npos)
            throw std::runtime_error("broker answered without a transcript: " + started);
        ptyPath_ = started.substr(0, space);
        transcriptPath_ = started.substr(space + 1);
    } catch (...) {
        ::closesocket(static_cast<SOCKET>(broker_));
        throw;
    }
}

Simulator::~Simulator() {
    try {
        terminate();
    } catch (...) {
    }
    ::closesocket(static_cast<SOCKET>(broker_));
}

std::string Simulator::ask(const std::string &line) {
    std::lock_guard<std::mutex> lock(mutex_);
    const SOCKET s = static_cast<SOCKET>(broker_);
    const std::string request = line + "\n";
    if (::send(s, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size()))
        throw std::runtime_error(socketError("send to the broker"));
    std::string answer;
    while (answer.find('\n') == std::string::npos) {
        char buffer[512];
        const int n = ::recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            throw std::runtime_error(n == 0 ? "broker closed the connection: " + line
                                            : socketError("no answer from the broker to " + line));
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    return answer.substr(0, answer.find('\n'));
}

std::string Simulator::control(const std::string &line) {
    return ask("control " + line);
}

void Simulator::terminate() {
    if (!exitStatus_)
        exitStatus_ = std::stoi(expectOk(ask("stop"), "stop"));
}

int Simulator::exitStatus() const {
    return exitStatus_ ? *exitStatus_ : -1;
}
