// Fresh per-test XDG folders (data, config, runtime) under a temporary root, set in this process's
// environment for as long as the object lives, so that tests never touch the user's own files.
#pragma once

#include <optional>
#include <string>

class TempXdg {
public:
    // Throws std::runtime_error when the folders cannot be made.
    TempXdg();
    // Restores the previous variables and removes the whole tree; never throws.
    ~TempXdg();
    TempXdg(const TempXdg &) = delete;
    TempXdg &operator=(const TempXdg &) = delete;

    const std::string &root() const { return root_; }
    std::string data() const { return root_ + "/data"; }
    std::string config() const { return root_ + "/config"; }
    std::string runtime() const { return root_ + "/runtime"; }
    // Where COMn links live for the library, the program and the simulator.
    std::string portFolder() const { return data() + "/optivane/ports"; }

private:
    struct Saved {
        const char *name;
        std::optional<std::string> value;
    };

    std::string root_;
    Saved saved_[3];
};
