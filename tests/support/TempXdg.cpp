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

#if defined(_WIN32)
#include <direct.h>
#include <random>
#endif

namespace {

#if defined(_WIN32)
// Windows has no XDG folders; a test there still gets a private temporary root of its own.
std::string temporaryBase() {
    return std::filesystem::temp_directory_path().string();
}

char *makeUniqueFolder(char *pattern) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    char *const suffix = pattern + std::strlen(pattern) - 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (int i = 0; i < 6; ++i)
            suffix[i] = kLetters[random() % (sizeof kLetters - 1)];
        if (::_mkdir(pattern) == 0)
            return pattern;
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

int makeFolder(const char *path) {
    return ::_mkdir(path);
}

void setVariable(const char *name, const char *value) {
    ::_putenv_s(name, value);
}

void unsetVariable(const char *name) {
    ::_putenv_s(name, "");
}
#else
std::string temporaryBase() {
    const char *tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

char *makeUniqueFolder(char *pattern) {
    return ::mkdtemp(pattern);
}

int makeFolder(const char *path) {
    return ::mkdir(path, 0700);
}

void setVariable(const char *name, const char *value) {
    ::setenv(name, value, 1);
}

void unsetVariable(const char *name) {
    ::unsetenv(name);
}
#endif

} // namespace

TempXdg::TempXdg() : saved_{{"XDG_DATA_HOME", {}}, {"XDG_CONFIG_HOME", {}}, {"XDG_RUNTIME_DIR", {}}} {
    std::string pattern = temporaryBase() + "/optivane-xdg-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!makeUniqueFolder(buffer.data()))
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    root_ = buffer.data();

    const std::string folders[] = {data(), config(), runtime()};
    for (const std::string &folder : folders) {
        // The runtime folder must be private to the user; the others may as well be.
        if (makeFolder(folder.c_str()) != 0) {
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
        setVariable(saved.name, folders[i].c_str());
    }
}

TempXdg::~TempXdg() {
    for (const Saved &saved : saved_) {
        if (saved.value)
            setVariable(saved.name, saved.value->c_str());
        else
            unsetVariable(saved.name);
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}
