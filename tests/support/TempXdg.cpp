// Fresh per-test XDG folders (data, config, runtime) under a temporary root, set in this process's
// environment for as long as the object lives, so that tests never touch the user's own files.
#include "TempXdg.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include <sys/stat.h>

namespace {

std::string temporaryBase() {
    const char *tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

} // namespace

TempXdg::TempXdg() : saved_{{"XDG_DATA_HOME", {}}, {"XDG_CONFIG_HOME", {}}, {"XDG_RUNTIME_DIR", {}}} {
    std::string pattern = temporaryBase() + "/optivane-xdg-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    root_ = buffer.data();

    const std::string folders[] = {data(), config(), runtime()};
    for (const std::string &folder : folders) {
        // The runtime folder must be private to the user; the others may as well be.
        if (::mkdir(folder.c_str(), 0700) != 0) {
            const int error = errno;
            std::error_code ignored;
            std::filesystem::remove_all(root_, ignored);
            throw std::runtime_error("mkdir " + folder + ": " + std::strerror(error));
        }
    }

    for (std::size_t i = 0; i < 3; ++i) {
        Saved &saved = saved_[i];
        if (const char *old = std::getenv(saved.name))
            saved.value = old;
        ::setenv(saved.name, folders[i].c_str(), 1);
    }
}

TempXdg::~TempXdg() {
    for (const Saved &saved : saved_) {
        if (saved.value)
            ::setenv(saved.name, saved.value->c_str(), 1);
        else
            ::unsetenv(saved.name);
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}
