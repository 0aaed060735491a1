// Each transport end to end against the simulator's bench: readings that follow the motor, the settings of
// the dialects that have them, and every failure an error naming the meter, never a number.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Simulator.h"
#include "TempXdg.h"
#include "optivane/optivane.h"
#include "powermeter/PowerMeter.h"

namespace {

using namespace std::chrono_literals;
using powermeter::Kind;
using powermeter::MeterError;
using powermeter::PowerMeter;

struct Path {
    const char *transport;
    Kind kind;
};

std::string PrintPath(const testing::TestParamInfo<Path> &info) {
    return std::string(info.param.transport) + "_" + powermeter::KindName(info.param.kind);
}

class MeterPath : public testing::TestWithParam<Path> {};

TEST_P(MeterPath, ReadingsFollowTheMotor) {
    TempXdg xdg;
    Simulator sim(Simulator::Meter{powermeter::KindName(GetParam().kind)}, {"--speed", "0"});
    KORVAN::Optivane attenuator;
    ASSERT_TRUE(attenuator.Connect(sim.ptyPath()));
    const auto meter = PowerMeter::Open(sim.meterAddress(GetParam().transport), GetParam().kind);

    EXPECT_FALSE(meter->Identity().empty());
    meter->SetAutoRange();
    meter->SetAveraging(4);
    const double dark = meter->ReadPowerW();
    EXPECT_NEAR(dark, sim.truePowerW(), 1e-3 * dark);
    ASSERT_EQ(attenuator.SetMotorDegree(45.0f, 2000), KORVAN::Ok);
    const double bright = meter->ReadPowerW();
    EXPECT_NEAR(bright, sim.truePowerW(), 1e-3 * bright);
    EXPECT_GT(bright, 500 * dark); // 30 dB of extinction

    if (meter->HasWavelength()) {
        meter->SetWavelengthNm(1064);
        EXPECT_EQ(meter->WavelengthNm(), 1064);
        EXPECT_THROW(meter->SetWavelengthNm(100), MeterError); // the meter refuses it
    } else {
        EXPECT_THROW(meter->SetWavelengthNm(1064), MeterError);
    }
    // The meter's lines are marked apart from the device's.
    EXPECT_GE(sim.meterQueries().size(), 3u);
    for (const std::string &request : sim.requests())
        EXPECT_EQ(request.rfind("0", 0), 0u) << request;
}

INSTANTIATE_TEST_SUITE_P(Transports, MeterPath,
                         testing::Values(Path{"usbtmc", Kind::Thorlabs}, Path{"serial", Kind::Newport},
                                         Path{"serial", Kind::Ophir}, Path{"serial", Kind::Gentec},
                                         Path{"tcp", Kind::Thorlabs}),
                         PrintPath);

class MeterFaults : public testing::TestWithParam<const char *> {};

TEST_P(MeterFaults, EveryFaultIsAnErrorNamingTheMeter) {
    TempXdg xdg;
    Simulator sim(Simulator::Meter{"thorlabs"}, {});
    const std::string address = sim.meterAddress(GetParam());
    const struct {
        const char *on;
        const char *off;
        const char *reason;
    } faults[] = {
        {"silent on", "silent off", "no reply within 300 ms"},
        {"garbage on", "garbage off", "is no number"},
        {"over on", "over off", "over range"},
        {"hangup next", "reopen", "closed"},
    };
    for (const auto &fault : faults) {
        auto meter = PowerMeter::Open(address, Kind::Thorlabs, 300ms);
        ASSERT_EQ(sim.meter(fault.on), "ok");
        try {
            const double watts = meter->ReadPowerW();
            ADD_FAILURE() << fault.on << ": read " << watts;
        } catch (const MeterError &error) {
            const std::string what = error.what();
            EXPECT_EQ(what.rfind("thorlabs meter at " + address + ": ", 0), 0u) << what;
            EXPECT_NE(what.find(fault.reason), std::string::npos) << what;
        }
        EXPECT_EQ(sim.meter(fault.off).substr(0, 2), "ok");
        // After the fault, a meter opened afresh reads again.
        meter.reset();
        EXPECT_GE(PowerMeter::Open(address, Kind::Thorlabs, 300ms)->ReadPowerW(), 0.0) << fault.off;
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, MeterFaults, testing::Values("usbtmc", "serial", "tcp"));

TEST(MeterBench, ReadingDuringAMoveIsAtTheMotorsAngleThen) {
    TempXdg xdg;
    Simulator sim(Simulator::Meter{"thorlabs"}, {"--speed", "30"});
    KORVAN::Optivane attenuator;
    ASSERT_TRUE(attenuator.Connect(sim.ptyPath()));
    const auto meter = PowerMeter::Open(sim.meterAddress("tcp"), Kind::Thorlabs);
    const double dark = meter->ReadPowerW();

    std::atomic<bool> moved{false};
    std::thread move([&] {
        EXPECT_EQ(attenuator.SetMotorDegree(45.0f, 5000), KORVAN::Ok);
        moved = true;
    });
    std::vector<double> readings;
    while (!moved) {
        readings.push_back(meter->ReadPowerW());
        std::this_thread::sleep_for(100ms);
    }
    move.join();
    const double bright = meter->ReadPowerW();
    EXPECT_TRUE(std::is_sorted(readings.begin(), readings.end()));
    const auto between =
        std::count_if(readings.begin(), readings.end(), [&](double w) { return w > 2 * dark && w < bright / 2; });
    EXPECT_GE(between, 3); // 1.5 s of travel, a reading every 0.1 s or so
}

double Value(const std::string &answer) {
    EXPECT_EQ(answer.substr(0, 3), "ok ") << answer;
    return std::stod(answer.substr(3));
}

TEST(MeterBench, PowerFollowsTheRealCurveTheLaserAndTheBeam) {
    TempXdg xdg;
    Simulator sim(Simulator::Meter{"thorlabs"}, {"--laser-mw", "5", "--true-offset-deg", "-3.7", "--extinction-db",
                                                 "20", "--insertion-loss-db", "1"});
    const double tMax = std::pow(10.0, -0.1);
    const double tMin = tMax * 0.01;
    for (const char *steps : {"-1473", "0", "3000", "16446", "-19393", "50000"}) {
        ASSERT_EQ(sim.control(std::string("set position ") + steps), "ok");
        const double angle = Value(sim.control("get angle"));
        const double s = std::sin(M_PI / 2 * (angle + 3.7) / 45.0);
        const double expected = 5e-3 * (tMin + (tMax - tMin) * s * s);
        EXPECT_NEAR(sim.truePowerW(), expected, 1e-6 * expected) << angle; // as far as the numbers' digits go
    }
    ASSERT_EQ(sim.control("set position 16446"), "ok"); // 41.3°, the curve's top
    ASSERT_EQ(sim.control("laser 2"), "ok");
    EXPECT_NEAR(sim.truePowerW(), 2e-3 * tMax, 1e-9);
    ASSERT_EQ(sim.control("beam block"), "ok");
    EXPECT_EQ(sim.truePowerW(), 0.0);
    EXPECT_EQ(PowerMeter::Open(sim.meterAddress("tcp"), Kind::Thorlabs)->ReadPowerW(), 0.0);
    ASSERT_EQ(sim.control("beam unblock"), "ok");
    EXPECT_NEAR(sim.truePowerW(), 2e-3 * tMax, 1e-9);
}

TEST(MeterBench, LaserDriftsFromItsLastSetting) {
    TempXdg xdg;
    Simulator sim(Simulator::Meter{"thorlabs"}, {"--drift-per-min", "-6", "--speed", "0"});
    ASSERT_EQ(sim.control("laser 10"), "ok");
    const auto start = std::chrono::steady_clock::now();
    const double first = sim.truePowerW();
    std::this_thread::sleep_for(600ms);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_NEAR(sim.truePowerW() / first, 1.0 - 0.1 * seconds, 0.01); // -6 per minute: -10 % a second
}

TEST(MeterBench, NoiseHasItsDeviationAndRepeatsWithItsSeed) {
    TempXdg xdg;
    const std::vector<std::string> args = {"--noise", "0.01", "--seed", "7", "--meter-delay", "0"};
    std::vector<double> runs[2];
    for (auto &readings : runs) {
        Simulator sim(Simulator::Meter{"thorlabs"}, args);
        const auto meter = PowerMeter::Open(sim.meterAddress("tcp"), Kind::Thorlabs);
        const double truth = sim.truePowerW();
        for (int i = 0; i < 200; ++i)
            readings.push_back(meter->ReadPowerW() / truth - 1.0);
    }
    EXPECT_EQ(runs[0], runs[1]);
    double sum = 0;
    for (double deviation : runs[0])
        sum += deviation * deviation;
    EXPECT_NEAR(std::sqrt(sum / 200), 0.01, 0.002);
}

TEST(MeterBench, ScpiInLongAndShortFormsAnyCase) {
    TempXdg xdg;
    Simulator sim(Simulator::Meter{"thorlabs"}, {});
    const auto line = powermeter::OpenTransport(sim.meterAddress("tcp"));
    const struct {
        const char *request;
        const char *reply; // nullptr: none
    } exchanges[] = {
        {"sense:correction:wavelength?", "1.550000E+03"},
        {"SENSE:CORR:WAVELENGTH? maximum", "1.800000E+03"},
        {"Sens:Corr:Wav 1064", nullptr},
        {"CORR:WAV?", "1.064000E+03"},
        {"SENS:CORR:WAVX?", nullptr},
        {"system:error?", "-113,\"Undefined header\""},
        {"SYST:ERR:NEXT?", "+0,\"No error\""},
        {":syst:sensor:idn?", "S122C,12345,12-Jan-2026,1,18,289"},
        {"power:rang:auto on", nullptr},
        {"SENSE:POWER:DC:RANGE:AUTO?", "1"},
    };
    for (const auto &exchange : exchanges) {
        line->Write(exchange.request);
        if (exchange.reply) {
            EXPECT_EQ(line->ReadLine(1000ms), exchange.reply) << exchange.request;
        }
    }
    EXPECT_THROW(line->ReadLine(100ms), MeterError); // nothing was left unread
}

} // namespace
