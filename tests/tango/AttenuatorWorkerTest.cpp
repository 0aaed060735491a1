// The worker that drives one attenuator for the Tango server, against the simulator: moves in the
// background, refusals that send nothing, Stop ahead of everything queued, a lost link and its return,
// and a hold that ends with the link.
#include "AttenuatorWorker.h"

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Simulator.h"
#include "TempXdg.h"

using optivane_tango::AttenuatorWorker;
using optivane_tango::Readings;
using optivane_tango::Refused;
using optivane_tango::Settings;
using optivane_tango::State;

namespace {

constexpr int kWaitMs = 10000;

class WorkerTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> simArgs, Settings settings = {}, calibration::PowerSource meter = {}) {
        simArgs.insert(simArgs.end(), {"--port", "COM5"});
        sim = std::make_unique<Simulator>(simArgs);
        settings.port = "COM5";
        settings.pollPeriodMs = 50;
        settings.reconnectPeriodMs = 100;
        worker = std::make_unique<AttenuatorWorker>(
            settings,
            [this](const Readings &r) {
                std::lock_guard<std::mutex> lock(mutex);
                states.push_back(r.state);
            },
            std::move(meter));
        ASSERT_TRUE(WaitFor([](const Readings &r) { return r.state == State::On && r.positionValid; }));
    }

    bool WaitFor(const std::function<bool(const Readings &)> &done) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (!done(worker->readings())) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    std::vector<std::string> MoveRequests() const {
        std::vector<std::string> moves;
        for (const std::string &request : sim->requests()) {
            if (request.rfind("0ma", 0) == 0)
                moves.push_back(request);
        }
        return moves;
    }

    std::vector<State> States() {
        std::lock_guard<std::mutex> lock(mutex);
        return states;
    }

    TempXdg xdg;
    std::unique_ptr<Simulator> sim;
    std::mutex mutex;
    std::vector<State> states;
    std::unique_ptr<AttenuatorWorker> worker; // last: goes before what its listener touches
};

TEST_F(WorkerTest, AMoveRunsInTheBackgroundAndASecondOneIsRefusedMeanwhile) {
    Start({"--speed", "40"});
    worker->moveToAngle(20.0);
    EXPECT_EQ(worker->readings().state, State::Moving);
    EXPECT_THROW(worker->moveToAngle(5.0), Refused);

    ASSERT_TRUE(WaitFor([](const Readings &r) { return r.state == State::On && std::fabs(r.angle - 20.0) < 0.01; }));
    // 20 degrees at the default 398.22 steps per degree.
    EXPECT_EQ(MoveRequests(), std::vector<std::string>{"0ma00001F1C"});
    const std::vector<State> seen = States();
    const auto moving = std::find(seen.begin(), seen.end(), State::Moving);
    ASSERT_NE(moving, seen.end());
    EXPECT_NE(std::find(moving, seen.end(), State::On), seen.end());
}

TEST_F(WorkerTest, ValuesThatMayNotBeSentAreRefusedAndNothingMoves) {
    Settings settings;
    settings.rangeMin = 0.1;
    settings.rangeMax = 0.8;
    Start({"--speed", "0"}, settings);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::pair<std::string, std::function<void()>>> refused = {
        {"transmittance above the permitted range", [&] { worker->moveToTransmittance(0.9); }},
        {"transmittance below the permitted range", [&] { worker->moveToTransmittance(0.05); }},
        {"transmittance not a number", [&] { worker->moveToTransmittance(nan); }},
        {"angle the library refuses", [&] { worker->moveToAngle(360.0); }},
        {"angle not a number", [&] { worker->moveToAngle(nan); }},
        {"steps the library refuses", [&] { worker->moveToSteps(143361); }},
    };
    for (const auto &[what, call] : refused) {
        EXPECT_THROW(call(), Refused) << what;
        EXPECT_EQ(worker->readings().state, State::On) << what;
    }
    // A poll more, to be sure nothing was on its way.
    const std::size_t before = sim->requests().size();
    ASSERT_TRUE(sim->waitForRequests(before + 2, kWaitMs));
    EXPECT_TRUE(MoveRequests().empty());
}

TEST_F(WorkerTest, StopReachesTheDeviceRightAfterTheMoveOnTheLine) {
    // The device answers a move when it ends; this one outlasts the time limit by far.
    Settings settings;
    settings.timeoutMs = 400;
    Start({"--speed", "5"}, settings);
    worker->moveToAngle(30.0);
    ASSERT_TRUE(WaitFor([this](const Readings &) { return !MoveRequests().empty(); }));
    worker->stop();

    ASSERT_TRUE(WaitFor([](const Readings &r) { return r.state == State::On && r.positionValid; }));
    const std::vector<std::string> requests = sim->requests();
    const auto move =
        std::find_if(requests.begin(), requests.end(), [](const std::string &r) { return r.rfind("0ma", 0) == 0; });
    ASSERT_NE(move, requests.end());
    ASSERT_NE(move + 1, requests.end());
    EXPECT_EQ(*(move + 1), "0st");
    EXPECT_EQ(sim->control("get moving"), "ok 0");
    EXPECT_LT(worker->readings().angle, 29.0);
}

TEST_F(WorkerTest, ALostLinkIsAFaultUntilTheDeviceIsBack) {
    Start({"--speed", "0"});
    ASSERT_EQ(sim->control("hangup"), "ok");
    ASSERT_TRUE(WaitFor([](const Readings &r) { return r.state == State::Fault; }));
    EXPECT_NE(worker->readings().status.find("COM5 lost"), std::string::npos) << worker->readings().status;
    EXPECT_THROW(worker->moveToTransmittance(0.5), Refused);

    ASSERT_EQ(sim->control("reopen").rfind("ok ", 0), 0u);
    ASSERT_TRUE(WaitFor([](const Readings &r) { return r.state == State::On && r.positionValid; }));
    EXPECT_TRUE(MoveRequests().empty());
}

TEST_F(WorkerTest, AHoldEndsWithALostLinkAndDoesNotResumeWhenItReturns) {
    Settings settings;
    settings.holdIntervalMs = 100;
    // The bench's power at the meter without its noise: a meter on this beam. Called on the worker's thread.
    Start({"--speed", "0", "--laser-mw", "10"}, settings,
          [this] { return std::stod(sim->control("get power").substr(3)); });
    worker->hold(1e-3, powerloop::MakePlan(optivane_tango::Profile(settings), nullptr));
    EXPECT_THROW(worker->moveToAngle(5.0), Refused);
    ASSERT_TRUE(WaitFor([](const Readings &r) { return r.status.rfind("Holding 1 mW", 0) == 0; }))
        << worker->readings().status;
    EXPECT_EQ(worker->readings().state, State::Running);
    EXPECT_NEAR(std::stod(sim->control("get power").substr(3)), 1e-3, 2e-5);

    ASSERT_EQ(sim->control("hangup"), "ok");
    ASSERT_TRUE(WaitFor([](const Readings &r) { return r.state == State::Fault; }));
    EXPECT_NE(worker->readings().status.find("hold at 1 mW ended"), std::string::npos) << worker->readings().status;
    const std::size_t moves = MoveRequests().size();
    ASSERT_EQ(sim->control("reopen").rfind("ok ", 0), 0u);
    ASSERT_TRUE(WaitFor([](const Readings &r) { return r.state == State::On && r.positionValid; }));
    // Several hold intervals on the line that came back, and nothing moves.
    ASSERT_TRUE(sim->waitForRequests(sim->requests().size() + 20, kWaitMs));
    EXPECT_EQ(MoveRequests().size(), moves);
    EXPECT_EQ(worker->readings().state, State::On);
}

} // namespace
