// Windows names its COM ports itself: Ports::Exists asks QueryDosDeviceA. Under Wine a port is known to it
// only when the prefix's registry named the port as Wine started (a link in dosdevices alone opens, but is
// not listed); wine-sim-broker names such ports and passes them in OPTIVANE_LISTED_PORTS.
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "TempXdg.h"
#include "optivane/optivane.h"

using namespace KORVAN;

namespace {

std::set<int> ListedPorts() {
    std::set<int> numbers;
    const char *listed = std::getenv("OPTIVANE_LISTED_PORTS");
    std::istringstream names(listed ? listed : "");
    for (std::string name; names >> name;)
        numbers.insert(Ports::ComNumber(name));
    return numbers;
}

TEST(WindowsPorts, TheMappedPortsAreListedAndAnswer) {
    const std::set<int> mapped = ListedPorts();
    ASSERT_FALSE(mapped.empty()) << "OPTIVANE_LISTED_PORTS names no COM port (wine-sim-broker --listed N)";
    std::set<int> listed;
    for (int n = 0; n <= Ports::kMaxComNumber; ++n) {
        if (Ports::Exists(n))
            listed.insert(n);
    }
    for (const int n : mapped) {
        EXPECT_EQ(listed.count(n), 1u) << "COM" << n;
        Optivane handle;
        ASSERT_TRUE(handle.Connect("COM" + std::to_string(n))) << "COM" << n;
        EXPECT_EQ(handle.GetCurrentStatus(1000), Ok) << "COM" << n;
    }
    // Nothing maps the numbers above the broker's range.
    for (int n = 100; n <= Ports::kMaxComNumber; ++n)
        EXPECT_EQ(listed.count(n), 0u) << "COM" << n;
    EXPECT_FALSE(Ports::Exists(-1));
    EXPECT_FALSE(Ports::Exists(256));
    EXPECT_EQ(Ports::Folder(), "");
    EXPECT_EQ(Ports::DevicePath("COM7"), "COM7");
}

TEST(WindowsPorts, OnlyCharacterDevicesArePorts) {
    TempXdg folder;
    const std::string file = folder.root() + "\\plain-file";
    std::ofstream(file) << "not a device";
    Optivane handle;
    EXPECT_FALSE(handle.Connect(file));
    EXPECT_EQ(handle.GetCurrentStatus(1000), SerialClosed);
    std::ifstream back(file);
    std::string content;
    std::getline(back, content);
    EXPECT_EQ(content, "not a device");
}

} // namespace
