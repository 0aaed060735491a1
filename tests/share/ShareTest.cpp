// optivane-share between the simulator and programs using the library: each program gets its own
// answers, a stop goes ahead, a late reply is dropped, a hang-up reaches every program, and a program
// that misbehaves disturbs no other.
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <sys/file.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include "SharedPort.h"
#include "Simulator.h"
#include "TempXdg.h"
#include "optivane/optivane.h"

namespace {

constexpr int kLimitMs = 3500;
constexpr int kNoValue = -99999;
constexpr int kStartSteps = 1234;

// A thread that is joined however the test leaves its scope.
class Joined {
public:
    template <typename F> explicit Joined(F &&body) : thread_(std::forward<F>(body)) {}
    ~Joined() { join(); }
    void join() {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
};

// The ports of the link log's forwarded requests, in order.
std::vector<std::string> RequestPorts(const std::string &log) {
    std::vector<std::string> ports;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        // "date time PORT > bytes"
        std::istringstream fields(line);
        std::string date, time, port, direction;
        if (fields >> date >> time >> port >> direction && direction == ">")
            ports.push_back(port);
    }
    return ports;
}

} // namespace

class ShareTest : public ::testing::Test {
protected:
    // The simulator as COM5, at kStartSteps, shared under names.
    void Start(const std::vector<std::string> &names = {"COM50", "COM51"}, std::vector<std::string> simArgs = {}) {
        const std::vector<std::string> args = {"--port", "COM5",       "--speed",
                                               "0",      "--position", std::to_string(kStartSteps)};
        simArgs.insert(simArgs.begin(), args.begin(), args.end());
        sim = std::make_unique<Simulator>(simArgs);
        share = std::make_unique<SharedPort>("COM5", names);
    }

    std::vector<std::string> RequestsSince(std::size_t from) const {
        const std::vector<std::string> all = sim->requests();
        return {all.begin() + static_cast<long>(std::min(from, all.size())), all.end()};
    }

    TempXdg xdg;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<SharedPort> share;
};

TEST_F(ShareTest, TwoProgramsInterleaveMovesAndReadsEachGettingItsOwnAnswers) {
    // Every reply followed by bytes that answer no one: they reach neither program.
    Start({"COM50", "COM51"}, {"--stray", "zz"});
    KORVAN::Optivane mover;
    KORVAN::Optivane reader;
    ASSERT_TRUE(mover.Connect("COM50"));
    ASSERT_TRUE(reader.Connect("COM51"));
    ASSERT_TRUE(share->waitForLine("COM50: a program connected"));
    ASSERT_TRUE(share->waitForLine("COM51: a program connected"));

    constexpr int kRounds = 15;
    {
        Joined moving([&] {
            for (int i = 1; i <= kRounds; ++i) {
                EXPECT_EQ(mover.SetMotorSteps(100 * i, kLimitMs), KORVAN::Ok);
                int steps = kNoValue;
                EXPECT_EQ(mover.GetMotorSteps(&steps, kLimitMs), KORVAN::Ok);
                // Only this program moves, so the position is the one it asked for.
                EXPECT_EQ(steps, 100 * i);
            }
        });
        for (int i = 0; i < kRounds; ++i) {
            KORVAN::MotorInfo info;
            EXPECT_EQ(reader.GetMotorInfo(&info, kLimitMs), KORVAN::Ok);
            EXPECT_EQ(info.serialNumber, "OV240117");
            EXPECT_EQ(reader.GetCurrentStatus(kLimitMs), KORVAN::Ok);
        }
    }
    const std::vector<std::string> ports = RequestPorts(share->log());
    int changes = 0;
    for (std::size_t i = 1; i < ports.size(); ++i)
        changes += ports[i] != ports[i - 1] ? 1 : 0;
    EXPECT_GE(changes, 2) << share->log();

    // Ending takes the names out of the port folder again.
    share->process().stop();
    EXPECT_EQ(share->process().exitStatus(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(xdg.portFolder() + "/COM50")));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(xdg.portFolder() + "/COM51")));
}

TEST_F(ShareTest, StopGoesAheadOfTheQueuedRequests) {
    Start({"COM50", "COM51", "COM52"});
    KORVAN::Optivane slow;
    KORVAN::Optivane queued;
    KORVAN::Optivane stopper;
    ASSERT_TRUE(slow.Connect("COM50"));
    ASSERT_TRUE(queued.Connect("COM51"));
    ASSERT_TRUE(stopper.Connect("COM52"));
    ASSERT_EQ(sim->control("delay 300"), "ok");
    const std::size_t before = sim->requests().size();

    Joined onTheLine([&] { EXPECT_EQ(slow.GetCurrentStatus(kLimitMs), KORVAN::Ok); });
    ASSERT_TRUE(sim->waitForRequests(before + 1, 5000));
    int steps = kNoValue;
    Joined waiting([&] { EXPECT_EQ(queued.GetMotorSteps(&steps, kLimitMs), KORVAN::Ok); });
    ASSERT_TRUE(share->waitForLog("COM51 ! queued 0gp"));
    EXPECT_EQ(stopper.Stop(kLimitMs), KORVAN::Ok);
    waiting.join();
    onTheLine.join();

    EXPECT_EQ(steps, kStartSteps);
    EXPECT_EQ(RequestsSince(before), (std::vector<std::string>{"0gs", "0st", "0gp"}));
}

TEST_F(ShareTest, AReplyThatComesAfterItsProgramGaveUpIsDropped) {
    Start();
    KORVAN::Optivane asker;
    KORVAN::Optivane other;
    ASSERT_TRUE(asker.Connect("COM50"));
    ASSERT_TRUE(other.Connect("COM51"));
    ASSERT_EQ(sim->control("delay 400"), "ok");

    EXPECT_EQ(asker.GetCurrentStatus(100), KORVAN::SerialTimeout);
    // The status reply comes while the next request waits; taken for its answer, it would leave the
    // position unread.
    int steps = kNoValue;
    EXPECT_EQ(asker.GetMotorSteps(&steps, kLimitMs), KORVAN::Ok);
    EXPECT_EQ(steps, kStartSteps);
    EXPECT_NE(share->log().find("COM50 ! late reply, dropped: 0GS00\\r\\n"), std::string::npos) << share->log();

    ASSERT_EQ(sim->control("delay 0"), "ok");
    steps = kNoValue;
    EXPECT_EQ(other.GetMotorSteps(&steps, kLimitMs), KORVAN::Ok);
    EXPECT_EQ(steps, kStartSteps);
}

TEST_F(ShareTest, ADeviceHangUpReachesEveryProgramAndTheNamesReturnWithTheDevice) {
    Start();
    KORVAN::Optivane first;
    KORVAN::Optivane second;
    ASSERT_TRUE(first.Connect("COM50"));
    ASSERT_TRUE(second.Connect("COM51"));

    ASSERT_EQ(sim->control("hangup"), "ok");
    ASSERT_TRUE(share->waitForLine("COM5 hung up"));
    EXPECT_EQ(first.GetCurrentStatus(kLimitMs), KORVAN::SerialClosed);
    EXPECT_EQ(second.GetCurrentStatus(kLimitMs), KORVAN::SerialClosed);
    EXPECT_FALSE(KORVAN::Ports::Exists(50));
    EXPECT_FALSE(first.Connect("COM50"));

    ASSERT_EQ(sim->control("reopen").rfind("ok ", 0), 0u);
    ASSERT_TRUE(share->waitForLine("COM5 is back"));
    ASSERT_TRUE(first.Connect("COM50"));
    ASSERT_TRUE(second.Connect("COM51"));
    int steps = kNoValue;
    EXPECT_EQ(first.GetMotorSteps(&steps, kLimitMs), KORVAN::Ok);
    EXPECT_EQ(steps, kStartSteps);
    EXPECT_EQ(second.GetCurrentStatus(kLimitMs), KORVAN::Ok);

    const std::string output = share->process().output();
    EXPECT_EQ(output.find("hung up"), output.rfind("hung up")) << output;
}

TEST_F(ShareTest, AProgramThatSendsGarbageAndDiesMidRequestDisturbsNoOther) {
    Start();
    KORVAN::Optivane other;
    ASSERT_TRUE(other.Connect("COM51"));
    ASSERT_EQ(sim->control("delay 300"), "ok");
    const std::size_t before = sim->requests().size();
    {
        // What a killed program leaves behind: the port claimed, garbage and a request written, and the
        // descriptor closed by the kernel without a word.
        const int fd = ::open(KORVAN::Ports::DevicePath("COM50").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::ioctl(fd, TIOCEXCL);
        const std::string bytes = "\x7fzz0gs";
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        EXPECT_TRUE(sim->waitForRequests(before + 1, 5000));
        ::close(fd);
    }
    int steps = kNoValue;
    EXPECT_EQ(other.GetMotorSteps(&steps, kLimitMs), KORVAN::Ok);
    EXPECT_EQ(steps, kStartSteps);
    EXPECT_EQ(RequestsSince(before), (std::vector<std::string>{"0gs", "0gp"}));

    // The name takes the next program.
    ASSERT_EQ(sim->control("delay 0"), "ok");
    KORVAN::Optivane next;
    ASSERT_TRUE(next.Connect("COM50"));
    EXPECT_EQ(next.GetCurrentStatus(kLimitMs), KORVAN::Ok);
}

TEST(ShareNames, ANameIsTakenOnlyWhenFreeOrLeftByAGoneTerminal) {
    struct Case {
        const char *target; // what COM7 points at before
        int exitStatus;
    };
    const Case cases[] = {
        {"/dev/null", 2},                  // a device that is there: in use
        {"/dev/serial/by-id/usb-gone", 2}, // an adapter that is unplugged keeps its number
        {"/dev/pts/999999", 0},            // a terminal that is gone: left by a killed sharer
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.target);
        TempXdg xdg;
        Simulator sim({"--port", "COM5"});
        std::filesystem::create_directories(xdg.portFolder());
        const std::string link = xdg.portFolder() + "/COM7";
        std::filesystem::create_symlink(c.target, link);

        ChildProcess share({SharedPort::program(), "COM5", "--as", "COM7"});
        share.waitForOutput([](const std::string &output) { return output.find("Sharing") != std::string::npos; },
                            std::chrono::seconds(5));
        share.stop();
        if (c.exitStatus == 0) {
            EXPECT_EQ(share.exitStatus(), 0) << share.errors();
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
        } else {
            EXPECT_EQ(share.exitStatus(), c.exitStatus);
            EXPECT_EQ(std::filesystem::read_symlink(link), c.target);
        }
    }
}
