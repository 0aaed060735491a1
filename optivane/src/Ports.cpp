// Port names: the COMn rule and where each name leads.
#include "Platform.h"
#include "optivane/optivane.h"

namespace KORVAN::Ports {

int ComNumber(const std::string &name) {
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0)
        return -1;
    const std::string digits = name.substr(3);
    if (digits.size() > 1 && digits[0] == '0')
        return -1;
    int number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        number = number * 10 + (c - '0');
    }
    return number <= kMaxComNumber ? number : -1;
}

std::string Folder() {
    return platform::PortFolder();
}

std::string DevicePath(const std::string &name) {
    return platform::DevicePath(name);
}

bool Exists(int comNumber) {
    if (comNumber < 0 || comNumber > kMaxComNumber)
        return false;
    return platform::PortExists("COM" + std::to_string(comNumber));
}

} // namespace KORVAN::Ports
