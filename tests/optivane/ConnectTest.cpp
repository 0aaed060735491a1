// Opening ports: names, handshakes, replacement, exclusive use.
#include <fstream>
#include <stdexcept>
#include <thread>

#if !defined(_WIN32)
#include <unistd.h>

#include <sys/stat.h>
#endif

#include "DeviceFixture.h"
#include "Timing.h"

using namespace KORVAN;

namespace {

class ConnectTest : public DeviceTest {};

TEST_F(ConnectTest, ANameThatDoesNotOpenKeepsTheOpenPort) {
    StartDevice({"--speed", "0"});
    EXPECT_FALSE(handle.Connect(xdg.root() + "/no-such-device"));
    EXPECT_FALSE(handle.Connect("COM200"));
    EXPECT_EQ(handle.GetCurrentStatus(1000), Ok);
}

TEST_F(ConnectTest, ASilentDeviceFailsTheHandshakeAndClosesTheHandle) {
    StartDevice();
    AttenuatorStatus result = Ok;
    bool connected = true;
    // The new port replaces the old one, and fails its handshake: the handle ends up closed.
    Simulator other({"--silent"});
    const auto ms = ElapsedMs([&] { connected = handle.Connect(other.ptyPath()); });
    EXPECT_FALSE(connected);
    EXPECT_TRUE(timing::WithinBound(ms, 100 + 100 + 150 - 1)) << ms;
    result = handle.GetCurrentStatus(1000);
    EXPECT_EQ(result, SerialClosed);
}

TEST_F(ConnectTest, AnUnusableScaleFailsTheHandshake) {
    for (const auto &scale : std::vector<std::vector<std::string>>{{"--td", "0"}, {"--ppd", "0"}}) {
        Simulator device(scale);
        EXPECT_FALSE(handle.Connect(device.ptyPath())) << scale[0];
        EXPECT_EQ(handle.GetCurrentStatus(1000), SerialClosed);
    }
}

TEST_F(ConnectTest, AnUnreadableScaleThrowsAndLeavesThePortHeld) {
    Simulator device({"--malformed", "digits"});
    EXPECT_THROW(handle.Connect(device.ptyPath()), std::invalid_argument);
    device.control("malformed off");
    EXPECT_EQ(handle.GetCurrentStatus(1000), Ok);
}

TEST_F(ConnectTest, ASecondConnectReplacesThePort) {
    StartDevice({"--status", "5"});
    EXPECT_EQ(handle.GetCurrentStatus(1000), ModuleIsolated);
    Simulator second({"--status", "7"});
    ASSERT_TRUE(handle.Connect(second.ptyPath()));
    EXPECT_EQ(handle.GetCurrentStatus(1000), InitializingError);
    // The first port is released: another handle may take it now.
    Optivane other;
    EXPECT_TRUE(other.Connect(sim->ptyPath())) << sim->transcript();
}

TEST_F(ConnectTest, APortIsOpenedForExclusiveUse) {
    // Windows refuses a second CreateFile on an open COM port; Wine does not for a serial device.
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine does not enforce the exclusive share mode of CreateFile on a serial device";
    StartDevice();
    Optivane intruder;
    EXPECT_FALSE(intruder.Connect(sim->ptyPath()));
    EXPECT_EQ(intruder.GetCurrentStatus(1000), SerialClosed);
    EXPECT_EQ(handle.GetCurrentStatus(1000), Ok);
    handle.Disconnect();
    EXPECT_TRUE(intruder.Connect(sim->ptyPath()));
}

// The port folder is the Linux way of naming COM ports; Windows names them itself.
#if !defined(_WIN32)
TEST_F(ConnectTest, ComNamesResolveThroughThePortFolder) {
    sim = std::make_unique<Simulator>(std::vector<std::string>{"--port", "COM7", "--serial", "COM7DEVX"});
    EXPECT_EQ(Ports::Folder(), xdg.portFolder());
    EXPECT_EQ(Ports::DevicePath("COM7"), xdg.portFolder() + "/COM7");
    EXPECT_EQ(Ports::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_TRUE(Ports::Exists(7));
    EXPECT_FALSE(Ports::Exists(8));
    ASSERT_TRUE(handle.Connect("COM7"));
    MotorInfo info;
    ASSERT_EQ(handle.GetMotorInfo(&info, 7000), Ok);
    EXPECT_EQ(info.serialNumber, "COM7DEVX");
}

TEST_F(ConnectTest, OnlyLinksToCharacterDevicesCountAsPorts) {
    ::mkdir((xdg.data() + "/optivane").c_str(), 0700);
    ::mkdir(xdg.portFolder().c_str(), 0700);
    std::ofstream(xdg.root() + "/plain-file") << "not a device";
    ASSERT_EQ(::symlink((xdg.root() + "/plain-file").c_str(), (xdg.portFolder() + "/COM4").c_str()), 0);
    ASSERT_EQ(::symlink((xdg.root() + "/gone").c_str(), (xdg.portFolder() + "/COM5").c_str()), 0);
    EXPECT_FALSE(Ports::Exists(4));
    EXPECT_FALSE(Ports::Exists(5));
    Optivane other;
    EXPECT_FALSE(other.Connect("COM4"));
    EXPECT_FALSE(other.Connect("COM5"));
    // Nor is anything but a character device opened by its path.
    EXPECT_FALSE(other.Connect(xdg.root() + "/plain-file"));
    ASSERT_EQ(::mkfifo((xdg.root() + "/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(other.Connect(xdg.root() + "/fifo"));
    std::ifstream file(xdg.root() + "/plain-file");
    std::string content;
    std::getline(file, content);
    EXPECT_EQ(content, "not a device");
    EXPECT_FALSE(Ports::Exists(-1));
    EXPECT_FALSE(Ports::Exists(256));
}
#endif

TEST(ComNumber, AcceptsOnlyTheCanonicalNames) {
    EXPECT_EQ(Ports::ComNumber("COM0"), 0);
    EXPECT_EQ(Ports::ComNumber("COM3"), 3);
    EXPECT_EQ(Ports::ComNumber("COM255"), 255);
    for (const char *bad : {"COM", "COM256", "COM03", "com3", "COM-1", "COM3 ", "COMx", "COM1000", "/dev/ttyS0", ""})
        EXPECT_EQ(Ports::ComNumber(bad), -1) << bad;
}

TEST_F(ConnectTest, DestroyingAnOpenHandleReleasesThePort) {
    StartDevice();
    {
        Optivane scoped;
        handle.Disconnect();
        ASSERT_TRUE(scoped.Connect(sim->ptyPath()));
    }
    EXPECT_TRUE(handle.Connect(sim->ptyPath()));
}

} // namespace
