// Whole-file replacement: temporary file, fsync, rename, fsync of the folder.
#include "calibration/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

#include <sys/stat.h>

namespace calibration {

namespace {

std::runtime_error SystemError(const std::string &what, const std::string &path, int error) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

} // namespace

void MakeFolders(const std::string &folder, mode_t mode) {
    for (std::size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        const std::string part = folder.substr(0, at);
        if (!part.empty() && ::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            throw SystemError("cannot make the folder", part, errno);
        if (at == std::string::npos)
            break;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        throw std::runtime_error("cannot make the folder " + folder + ": something else has its name");
}

void WriteFileAtomically(const std::string &path, const std::string &contents, mode_t mode) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(slash, 1));
    std::vector<char> name(path.begin(), path.end());
    const std::string suffix = ".XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back('\0');
    Descriptor file(::mkostemp(name.data(), O_CLOEXEC));
    if (file.get() < 0)
        throw SystemError("cannot write", path, errno);
    const std::string temporary(name.data());
    const auto fail = [&](const char *what) {
        const int error = errno;
        ::close(file.release());
        ::unlink(temporary.c_str());
        return SystemError(what, path, error);
    };
    if (::fchmod(file.get(), mode) != 0)
        throw fail("cannot set the permissions of");
    for (std::size_t written = 0; written < contents.size();) {
        const ssize_t n = ::write(file.get(), contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw fail("cannot write");
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(file.get()) != 0)
        throw fail("cannot flush");
    if (::close(file.release()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw SystemError("cannot write", path, error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw SystemError("cannot replace", path, error);
    }
    // The rename itself lasts a crash only once the folder is on the disk too.
    Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0)
        ::fsync(directory.get());
}

std::optional<std::string> ReadFileIfAny(const std::string &path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw SystemError("cannot read", path, errno);
    }
    std::string contents;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw SystemError("cannot read", path, errno);
        if (n == 0)
            return contents;
        contents.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace calibration
