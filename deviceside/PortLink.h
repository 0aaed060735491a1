// Registers the pseudo-terminal under a COM name in the user's port folder, as a symbolic link
// that the library and the program resolve like any serial adapter's.
#pragma once

#include <string>
#include <string_view>

namespace deviceside {

// "COM" and a decimal number 0..255 without leading zeros.
bool isPortName(std::string_view name);

// $XDG_DATA_HOME/optivane/ports, or ~/.local/share/optivane/ports when XDG_DATA_HOME is unset or empty.
std::string portFolder();

// Points the link at path to target, atomically, replacing one of that name. Throws std::runtime_error.
void ReplaceLink(const std::string &path, const std::string &target);

class PortLink {
public:
    // Creates the folder as needed and points the link at target, replacing a link of that name.
    // Throws std::runtime_error.
    PortLink(const std::string &name, const std::string &target);
    // Removes the link, unless someone else has re-pointed it since.
    ~PortLink();
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    void repoint(const std::string &target);
    const std::string &path() const { return path_; }

private:
    std::string path_;
    std::string target_;
};

} // namespace deviceside
