// Registers the pseudo-terminal under a COM name in the user's port folder, as a symbolic link
// that the library and the program resolve like any serial adapter's.
#include "PortLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <stdexcept>
#include <unistd.h>

#include <sys/stat.h>

#include "Text.h"

namespace deviceside {

namespace {

[[noreturn]] void fail(const std::string &what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// mkdir -p; folders that it creates are private to the user, as the port folder must be.
void makeFolders(const std::string &path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            fail("mkdir " + prefix);
        if (slash == std::string::npos)
            break;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw std::runtime_error("not a folder: " + path);
}

std::string readLink(const std::string &path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

} // namespace

bool isPortName(std::string_view name) {
    if (name.size() < 4 || name.substr(0, 3) != "COM")
        return false;
    const std::string_view number = name.substr(3);
    if (number.size() > 1 && number.front() == '0')
        return false;
    return number.front() != '-' && parseInteger(number, 0, 255).has_value();
}

std::string portFolder() {
    const char *data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data && *data) {
        base = data;
    } else {
        const char *home = std::getenv("HOME");
        if (!home || !*home)
            throw std::runtime_error("neither XDG_DATA_HOME nor HOME is set");
        base = std::string(home) + "/.local/share";
    }
    return base + "/optivane/ports";
}

PortLink::PortLink(const std::string &name, const std::string &target) {
    const std::string folder = portFolder();
    makeFolders(folder);
    path_ = folder + "/" + name;
    repoint(target);
}

PortLink::~PortLink() {
    if (!target_.empty() && readLink(path_) == target_)
        ::unlink(path_.c_str());
}

void ReplaceLink(const std::string &path, const std::string &target) {
    // A new link renamed over the old one: a reader never finds the name missing.
    const std::string temporary = path + ".new." + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0)
        fail("symlink " + temporary);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        fail("rename to " + path);
    }
}

void PortLink::repoint(const std::string &target) {
    ReplaceLink(path_, target);
    target_ = target;
}

} // namespace deviceside
