// The three transports, and the line reading that serial, TCP and a terminal standing in for usbtmc share.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "powermeter/PowerMeter.h"

namespace powermeter {

std::unique_ptr<Transport> OpenUsbtmc(const std::string &address, const std::string &path);
std::unique_ptr<Transport> OpenSerial(const std::string &address, const std::string &port, int baud);
std::unique_ptr<Transport> OpenTcp(const std::string &address, const std::string &host, int port,
                                   std::chrono::milliseconds connectLimit);

// Lines on a non-blocking descriptor, every wait bounded by poll(). Owns the descriptor.
class FdLines {
public:
    // A socket's writes must not raise SIGPIPE when the peer has gone.
    FdLines(int fd, std::string address, bool socket = false)
        : fd_(fd), address_(std::move(address)), socket_(socket) {}
    ~FdLines();
    FdLines(const FdLines &) = delete;
    FdLines &operator=(const FdLines &) = delete;

    int fd() const { return fd_; }
    // Drops what has arrived unasked, then writes the request and its "\n" within the limit.
    void WriteRequest(const std::string &request, std::chrono::milliseconds limit);
    std::string ReadLine(std::chrono::milliseconds limit);
    [[noreturn]] void Fail(const std::string &reason) const;

private:
    int fd_;
    std::string address_;
    bool socket_;
    std::string pending_;
};

// Strips one trailing "\n" or "\r\n".
std::string WithoutTerminator(std::string line);

} // namespace powermeter
