// Argument checks, result rules, the requests on the wire and the conversions, against the simulator.
#include <cmath>
#include <functional>
#include <limits>

#include "DeviceFixture.h"

using namespace KORVAN;

namespace {

constexpr int kLimitMs = 1000;

// Every device operation of the handle, with arguments that pass the checks.
const std::vector<std::pair<const char *, std::function<AttenuatorStatus(Optivane &)>>> &AllOperations() {
    static float f = 0;
    static int i = 0;
    static MotorInfo info;
    static const std::vector<std::pair<const char *, std::function<AttenuatorStatus(Optivane &)>>> ops = {
        {"GetCurrentStatus", [](Optivane &h) { return h.GetCurrentStatus(kLimitMs); }},
        {"GetMotorInfo", [](Optivane &h) { return h.GetMotorInfo(&info, kLimitMs); }},
        {"MechanicalCalibration", [](Optivane &h) { return h.MechanicalCalibration(kLimitMs); }},
        {"SetTransmittance", [](Optivane &h) { return h.SetTransmittance(0.5f, 10, 45, kLimitMs); }},
        {"GetTransmittance", [](Optivane &h) { return h.GetTransmittance(&f, 10, 45, kLimitMs); }},
        {"SetMotorSteps", [](Optivane &h) { return h.SetMotorSteps(100, kLimitMs); }},
        {"GetMotorSteps", [](Optivane &h) { return h.GetMotorSteps(&i, kLimitMs); }},
        {"SetMotorDegree", [](Optivane &h) { return h.SetMotorDegree(10, kLimitMs); }},
        {"GetMotorDegree", [](Optivane &h) { return h.GetMotorDegree(&f, kLimitMs); }},
        {"StartOptimization", [](Optivane &h) { return h.StartOptimization(kLimitMs); }},
        {"StartCleaningMechanics", [](Optivane &h) { return h.StartCleaningMechanics(kLimitMs); }},
        {"Stop", [](Optivane &h) { return h.Stop(kLimitMs); }},
    };
    return ops;
}

TEST(FreshHandle, EveryOperationReportsAClosedPortAndChecksArgumentsFirst) {
    Optivane handle;
    for (const auto &[name, op] : AllOperations())
        EXPECT_EQ(op(handle), SerialClosed) << name;
    EXPECT_EQ(handle.SetMotorDegree(400, kLimitMs), ParameterOutOfRange);
    EXPECT_EQ(handle.SetMotorSteps(143361, kLimitMs), ParameterOutOfRange);
    EXPECT_EQ(handle.SetTransmittance(2, 0, 45, kLimitMs), ParameterOutOfRange);
    EXPECT_EQ(handle.GetTransmittance(nullptr, 0, 45, kLimitMs), ParameterOutOfRange);
    handle.Disconnect(); // closed: nothing to do
    EXPECT_EQ(handle.GetCurrentStatus(kLimitMs), SerialClosed);
}

class HandleTest : public DeviceTest {
protected:
    void SetUp() override { StartDevice({"--speed", "0"}); }

    // The requests that one operation put on the wire, bracketed by a status request so that a
    // rejected call provably sent nothing.
    std::vector<std::string> Sent(const std::function<AttenuatorStatus()> &op, AttenuatorStatus expected) {
        const std::size_t before = sim->requests().size();
        EXPECT_EQ(op(), expected);
        handle.GetCurrentStatus(kLimitMs);
        auto all = sim->requests();
        std::vector<std::string> sent(all.begin() + static_cast<std::ptrdiff_t>(before), all.end() - 1);
        EXPECT_EQ(all.back(), "0gs");
        return sent;
    }
    using Wire = std::vector<std::string>;
};

TEST_F(HandleTest, EachOperationSendsItsRequest) {
    MotorInfo info;
    int steps = 0;
    float value = 0;
    EXPECT_EQ(Sent([&] { return handle.GetMotorInfo(&info, 7000); }, Ok), (Wire{"0in", "0go"}));
    EXPECT_EQ(Sent([&] { return handle.GetMotorInfo(nullptr, 7000); }, Ok), (Wire{"0in", "0go"}));
    EXPECT_EQ(Sent([&] { return handle.MechanicalCalibration(kLimitMs); }, Ok), Wire{"0ho0"});
    EXPECT_EQ(Sent([&] { return handle.GetMotorSteps(&steps, kLimitMs); }, Ok), Wire{"0gp"});
    EXPECT_EQ(Sent([&] { return handle.GetMotorDegree(&value, kLimitMs); }, Ok), Wire{"0gp"});
    EXPECT_EQ(Sent([&] { return handle.GetTransmittance(&value, 0, 45, kLimitMs); }, Ok), Wire{"0gp"});
    EXPECT_EQ(Sent([&] { return handle.StartOptimization(kLimitMs); }, Busy), Wire{"0om"});
    EXPECT_EQ(Sent([&] { return handle.Stop(kLimitMs); }, Ok), Wire{"0st"});
    EXPECT_EQ(Sent([&] { return handle.StartCleaningMechanics(kLimitMs); }, Busy), Wire{"0cm"});
    EXPECT_EQ(Sent([&] { return handle.Stop(kLimitMs); }, Ok), Wire{"0st"});
}

TEST_F(HandleTest, MovesWriteHexadecimalOrDecimalTargets) {
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(0, 10, 45, kLimitMs); }, Ok), Wire{"0ma00000F8E"});
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(0.5f, 10, 45, kLimitMs); }, Ok), Wire{"0ma0000328E"});
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(1, 10, 45, kLimitMs); }, Ok), Wire{"0ma0000558E"});
    EXPECT_EQ(Sent([&] { return handle.SetMotorDegree(32.5f, kLimitMs); }, Ok), Wire{"0ma0000328E"});
    EXPECT_EQ(Sent([&] { return handle.SetMotorDegree(-32.5f, kLimitMs); }, Ok), Wire{"0maFFFFCD72"});
    EXPECT_EQ(Sent([&] { return handle.SetMotorSteps(12942, kLimitMs); }, Ok), Wire{"0ma12942"});
    EXPECT_EQ(Sent([&] { return handle.SetMotorSteps(-5, kLimitMs); }, Ok), Wire{"0ma-5"});
    EXPECT_EQ(sim->control("get position"), "ok -5");
}

TEST_F(HandleTest, ArgumentBoundsAreCheckedBeforeAnythingIsSent) {
    const Wire none;
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(1.0001f, 0, 45, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(-0.0001f, 0, 45, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(0.5f, -360, 45, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(0.5f, 300, 60, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(1.0f, -359.9, 45, kLimitMs); }, Ok).size(), 1u);
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(0.5f, 300, 59.9, kLimitMs); }, Ok).size(), 1u);
    EXPECT_EQ(Sent([&] { return handle.SetMotorSteps(143360, kLimitMs); }, Ok), Wire{"0ma143360"});
    EXPECT_EQ(Sent([&] { return handle.SetMotorSteps(-143360, kLimitMs); }, Ok), Wire{"0ma-143360"});
    EXPECT_EQ(Sent([&] { return handle.SetMotorSteps(143361, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.SetMotorSteps(-143361, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.SetMotorDegree(360, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.SetMotorDegree(-360, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.SetMotorDegree(359.9f, kLimitMs); }, Ok).size(), 1u);
    float t = 0;
    EXPECT_EQ(Sent([&] { return handle.GetTransmittance(&t, -360, 45, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.GetTransmittance(&t, 315, 45, kLimitMs); }, ParameterOutOfRange), none);
}

TEST_F(HandleTest, NotANumberNeverReachesTheWire) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Wire none;
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(nan, 0, 45, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.SetTransmittance(0.5f, nan, 45, kLimitMs); }, ParameterOutOfRange), none);
    EXPECT_EQ(Sent([&] { return handle.SetMotorDegree(nan, kLimitMs); }, ParameterOutOfRange), none);
}

TEST_F(HandleTest, ReadsPositionsDegreesAndTransmittance) {
    int steps = 0;
    float degree = 0;
    float t = 0;
    sim->control("set position 12942");
    EXPECT_EQ(handle.GetMotorSteps(&steps, kLimitMs), Ok);
    EXPECT_EQ(steps, 12942);
    EXPECT_EQ(handle.GetMotorSteps(nullptr, kLimitMs), Ok);
    EXPECT_EQ(handle.GetMotorDegree(&degree, kLimitMs), Ok);
    EXPECT_NEAR(degree, 32.49944, 1e-5);
    EXPECT_EQ(handle.GetTransmittance(&t, 10, 45, kLimitMs), Ok);
    EXPECT_NEAR(t, 0.49998, 1e-5);

    sim->control("set position -5");
    EXPECT_EQ(handle.GetMotorSteps(&steps, kLimitMs), Ok);
    EXPECT_EQ(steps, -5);

    sim->control("set position 0");
    EXPECT_EQ(handle.GetTransmittance(&t, 0, 45, kLimitMs), Ok);
    EXPECT_NEAR(t, 0.0, 1e-6);
    // The curve continues beyond the span: half a span below the offset reads as one half.
    sim->control("set position -8960"); // -22.5 degrees
    EXPECT_EQ(handle.GetTransmittance(&t, 0, 45, kLimitMs), Ok);
    EXPECT_NEAR(t, 0.5, 1e-4);
    EXPECT_EQ(handle.GetTransmittance(&t, 0, 0, kLimitMs), Ok);
    EXPECT_TRUE(std::isnan(t));
}

TEST_F(HandleTest, MovesLandWhereTheyReadBack) {
    float t = 0;
    ASSERT_EQ(handle.SetTransmittance(0.25f, 10, 45, kLimitMs), Ok);
    ASSERT_EQ(handle.GetTransmittance(&t, 10, 45, kLimitMs), Ok);
    EXPECT_NEAR(t, 0.25, 1e-4);
    int steps = 0;
    ASSERT_EQ(handle.MechanicalCalibration(kLimitMs), Ok);
    ASSERT_EQ(handle.GetMotorSteps(&steps, kLimitMs), Ok);
    EXPECT_EQ(steps, 0);
}

TEST_F(HandleTest, DeviceStatusesPassThroughUnchanged) {
    sim->control("force-status 9");
    EXPECT_EQ(handle.GetCurrentStatus(kLimitMs), Busy);
    sim->control("force-status 42");
    EXPECT_EQ(handle.GetCurrentStatus(kLimitMs), 42);
    sim->control("force-status 3");
    int steps = 777;
    EXPECT_EQ(handle.GetMotorSteps(&steps, kLimitMs), CommandError);
    EXPECT_EQ(handle.SetMotorSteps(5, kLimitMs), CommandError);
    EXPECT_EQ(handle.MechanicalCalibration(kLimitMs), CommandError);
    sim->control("force-status off");
    EXPECT_EQ(handle.GetCurrentStatus(kLimitMs), Ok);
}

TEST_F(HandleTest, AStatusOfZeroConfirmsAMoveButAnswersNoRead) {
    sim->control("force-status 0");
    int steps = 0;
    float value = 0;
    MotorInfo info;
    EXPECT_EQ(handle.GetMotorSteps(&steps, kLimitMs), SerialUndefinedError);
    EXPECT_EQ(handle.GetMotorDegree(&value, kLimitMs), SerialUndefinedError);
    EXPECT_EQ(handle.GetTransmittance(&value, 0, 45, kLimitMs), SerialUndefinedError);
    EXPECT_EQ(handle.GetMotorInfo(&info, kLimitMs), SerialUndefinedError);
    EXPECT_EQ(info.serialNumber, "");
    // Moves, the calibration and commands take status 0 as success.
    EXPECT_EQ(handle.SetTransmittance(0.5f, 0, 45, kLimitMs), Ok);
    EXPECT_EQ(handle.SetMotorDegree(10, kLimitMs), Ok);
    EXPECT_EQ(handle.SetMotorSteps(100, kLimitMs), Ok);
    EXPECT_EQ(handle.MechanicalCalibration(kLimitMs), Ok);
    EXPECT_EQ(handle.GetCurrentStatus(kLimitMs), Ok);
    EXPECT_EQ(handle.Stop(kLimitMs), Ok);
}

TEST_F(HandleTest, MaintenanceKeepsTheDeviceBusyUntilStopped) {
    EXPECT_EQ(handle.StartOptimization(kLimitMs), Busy); // the routine runs from here on
    EXPECT_EQ(handle.GetCurrentStatus(kLimitMs), Busy);
    int steps = 0;
    EXPECT_EQ(handle.GetMotorSteps(&steps, kLimitMs), Busy);
    EXPECT_EQ(handle.Stop(kLimitMs), Ok);
    EXPECT_EQ(handle.GetCurrentStatus(kLimitMs), Ok);
}

class IdentityTest : public DeviceTest {};

TEST_F(IdentityTest, InformationAndOffsetFillTheRecord) {
    StartDevice({"--serial", "AB123456", "--year", "2023", "--fr", "F1", "--hr", "H2", "--offset-steps", "4916"});
    MotorInfo info;
    ASSERT_EQ(handle.GetMotorInfo(&info, 7000), Ok);
    EXPECT_EQ(info.serialNumber, "AB123456");
    EXPECT_EQ(info.yearOfManufacture, "2023");
    EXPECT_EQ(info.fr, "F1");
    EXPECT_EQ(info.hr, "H2");
    EXPECT_EQ(info.td, "360");
    EXPECT_EQ(info.ppd, "143360");
    EXPECT_EQ(info.mechanicalOffset, std::to_string(static_cast<float>(4916 / (143360.0 / 360))));
    EXPECT_EQ(info.mechanicalOffset, "12.344866");
}

TEST_F(IdentityTest, ADeviceErrorIsNotReportedAsSuccess) {
    StartDevice();
    sim->control("force-status 9");
    MotorInfo info;
    info.serialNumber = "untouched";
    EXPECT_EQ(handle.GetMotorInfo(&info, 7000), Busy);
    EXPECT_EQ(info.serialNumber, "untouched");
    EXPECT_EQ(sim->requests().back(), "0go");
}

TEST_F(IdentityTest, OfTwoDeviceStatusesTheSmallerIsReported) {
    StartDevice({"--maintenance-seconds", "60"});
    ASSERT_EQ(handle.StartOptimization(kLimitMs), Busy); // from here on every request is answered Busy
    sim->control("force-status 3");
    sim->control("once on"); // ... except "0in", which gets CommandError
    EXPECT_EQ(handle.GetMotorInfo(nullptr, 7000), CommandError);
    EXPECT_EQ(sim->requests().back(), "0go");
    EXPECT_EQ(handle.Stop(kLimitMs), Ok);
}

TEST_F(IdentityTest, EachExchangeGetsHalfTheLimit) {
    StartDevice();
    MotorInfo info;
    EXPECT_EQ(handle.GetMotorInfo(&info, 1), SerialTimeout);
    // 400 ms each is plenty for the device, 150 ms each is not once replies are delayed by 200 ms.
    sim->control("delay 200");
    EXPECT_EQ(handle.GetMotorInfo(&info, 800), Ok);
    EXPECT_EQ(handle.GetMotorInfo(&info, 300), SerialTimeout);
}

TEST_F(IdentityTest, TheDevicesScaleReplacesTheDefault) {
    StartDevice({"--td", "360", "--ppd", "72000", "--speed", "0"});
    const std::size_t before = sim->requests().size();
    ASSERT_EQ(handle.SetMotorDegree(32.5f, 1000), Ok);
    EXPECT_EQ(sim->requests().at(before), "0ma00001964"); // 6500 steps
    // The steps bound does not follow the scale.
    EXPECT_EQ(handle.SetMotorSteps(143360, 1000), Ok);
    // A scale read at connection survives the disconnection.
    handle.Disconnect();
    ASSERT_TRUE(handle.Connect(sim->ptyPath()));
    ASSERT_EQ(handle.SetMotorDegree(1.0f, 1000), Ok);
    EXPECT_EQ(sim->requests().back(), "0ma000000C8");
}

TEST_F(IdentityTest, AHugeRangeThatOverflowsTheStepCountSendsNothing) {
    StartDevice({"--speed", "0"});
    const std::size_t before = sim->requests().size();
    EXPECT_EQ(handle.SetTransmittance(1, 0, -1e9, 1000), ParameterOutOfRange);
    EXPECT_EQ(handle.GetCurrentStatus(1000), Ok);
    EXPECT_EQ(sim->requests().size(), before + 1);
}

} // namespace
