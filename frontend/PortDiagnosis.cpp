// The ports that exist now, and why a port did not open.
#include "frontend/PortDiagnosis.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <unistd.h>

#include <sys/file.h>
#include <sys/stat.h>

#include "optivane/optivane.h"

namespace frontend {

namespace {

std::string GroupName(gid_t gid) {
    if (const group *entry = ::getgrgid(gid))
        return entry->gr_name;
    return std::to_string(gid);
}

Diagnosis PermissionDenied(const std::string &port, const std::string &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {ConnectFailure::PermissionDenied, port + ": permission denied on " + path};
    const std::string group = GroupName(info.st_gid);
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
        return {ConnectFailure::PermissionDenied, port + ": permission denied on " + path + "; join the group '" +
                                                      group + "' (sudo usermod -aG " + group +
                                                      " $USER) and log in again"};
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return {ConnectFailure::PermissionDenied,
            port + ": permission denied on " + path + " (group '" + group + "', mode " + mode + ")"};
}

std::string LinkTarget(const std::string &path) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : path;
}

} // namespace

std::vector<std::string> ExistingPorts() {
    std::vector<std::string> ports;
    for (int number = 0; number <= KORVAN::Ports::kMaxComNumber; ++number) {
        if (KORVAN::Ports::Exists(number))
            ports.push_back("COM" + std::to_string(number));
    }
    return ports;
}

Diagnosis DiagnoseConnectFailure(const std::string &port) {
    const std::string path = KORVAN::Ports::DevicePath(port);
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) {
        if (errno == EACCES)
            return PermissionDenied(port, path);
        if (path != port)
            return {ConnectFailure::NoSuchPort, port + ": no such port (no entry in " + KORVAN::Ports::Folder() + ")"};
        return {ConnectFailure::NoSuchPort, port + ": no such port"};
    }
    struct stat device {};
    if (::stat(path.c_str(), &device) != 0) {
        if (errno == EACCES)
            return PermissionDenied(port, path);
        return {ConnectFailure::NoSuchPort, port + ": no such port (" + LinkTarget(path) + " is not there)"};
    }
    if (!S_ISCHR(device.st_mode))
        return {ConnectFailure::NoSuchPort, port + ": no such port (" + LinkTarget(path) + " is no serial device)"};

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            return PermissionDenied(port, path);
        // A terminal set for exclusive use refuses every other opener but root.
        if (error == EBUSY)
            return {ConnectFailure::InUse, port + ": in use by another program"};
        return {ConnectFailure::NoSuchPort, port + ": cannot be opened: " + std::strerror(error)};
    }
    // The library's claim on a port is an advisory lock on its device; it is let go again at once.
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    if (locked)
        return {ConnectFailure::InUse, port + ": in use by another program"};
    return {ConnectFailure::NoAnswer, port + ": no answer from the device (is it switched on and connected?)"};
}

const char *ReasonName(ConnectFailure reason) {
    switch (reason) {
    case ConnectFailure::NoSuchPort:
        return "no-such-port";
    case ConnectFailure::PermissionDenied:
        return "permission-denied";
    case ConnectFailure::InUse:
        return "in-use";
    case ConnectFailure::NoAnswer:
        return "no-answer";
    }
    return "no-answer";
}

} // namespace frontend
