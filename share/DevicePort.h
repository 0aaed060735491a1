// The real port that is shared: opened for exclusive use at 9600 8N1, as the library opens it, so that
// no other program reaches the device past the sharer.
#pragma once

#include <string>
#include <utility>

namespace share {

class DevicePort {
public:
    explicit DevicePort(std::string name) : name_(std::move(name)) {}
    ~DevicePort() { close(); }
    DevicePort(const DevicePort &) = delete;
    DevicePort &operator=(const DevicePort &) = delete;

    // Opens the port (COMn through the port folder, any other name as a path). Empty on success,
    // otherwise why it could not be opened.
    std::string open();
    // Gives up the exclusive claim and closes; nothing when closed.
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string &name() const { return name_; }

    // Drops what the device sent that no one has asked for yet.
    void discardInput();
    // Writes the whole request; false when the line is gone.
    bool write(const std::string &bytes);

private:
    std::string name_;
    int fd_ = -1;
};

} // namespace share
