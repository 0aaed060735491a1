// Time limits, damaged and stray replies, concurrent callers and a pulled cable.
#include <atomic>
#include <stdexcept>
#include <thread>

#include "DeviceFixture.h"
#include "Timing.h"

using namespace KORVAN;

namespace {

// Slack for process scheduling on a loaded machine on top of a call's own time limit; far below any
// limit that a call could wrongly wait out instead.
const long long kSlackMs = 250 + WineWaitMs();

class ExchangeTest : public DeviceTest {
protected:
    void SetUp() override { StartDevice({"--speed", "0", "--position", "12942"}); }

    void ExpectPositionIsReadCorrectly() {
        int steps = 0;
        EXPECT_EQ(handle.GetMotorSteps(&steps, 1000), Ok);
        EXPECT_EQ(steps, 12942);
    }
};

TEST_F(ExchangeTest, AZeroLimitTimesOutEvenAgainstAFastDevice) {
    const std::size_t replies = sim->replies().size();
    EXPECT_EQ(handle.GetCurrentStatus(0), SerialTimeout);
    EXPECT_EQ(handle.GetCurrentStatus(-5), SerialTimeout);
    // The request went out; its answer, arriving later, must not confuse the next exchange.
    WaitForRequestsAfterConnect(2);
    ASSERT_TRUE(sim->waitForReplies(replies + 2, 2000));
    ExpectPositionIsReadCorrectly();
}

TEST_F(ExchangeTest, ASilentDeviceTimesOutWithinTheLimit) {
    sim->control("silent on");
    for (const int limit : {1, 50, 300}) {
        AttenuatorStatus result = Ok;
        const auto ms = ElapsedMs([&] { result = handle.GetCurrentStatus(limit); });
        EXPECT_EQ(result, SerialTimeout) << limit;
        EXPECT_GE(ms, limit - 1) << limit;
        EXPECT_TRUE(timing::WithinBound(ms, limit + kSlackMs)) << ms << " ms, limit " << limit;
    }
    sim->control("silent off");
    ExpectPositionIsReadCorrectly();
}

TEST_F(ExchangeTest, ALateReplyIsDiscardedBeforeTheNextRequest) {
    sim->control("delay 150");
    const std::size_t replies = sim->replies().size();
    int steps = 0;
    EXPECT_EQ(handle.GetMotorSteps(&steps, 50), SerialTimeout);
    sim->control("delay 0");
    // The late position reply arrives and sits in the input.
    ASSERT_TRUE(sim->waitForReplies(replies + 1, 2000));
    EXPECT_EQ(handle.GetCurrentStatus(1000), Ok);
    ExpectPositionIsReadCorrectly();
}

TEST_F(ExchangeTest, AReplyDelayedWithinTheLimitIsAnswered) {
    sim->control("delay 100");
    AttenuatorStatus result = SerialClosed;
    const auto ms = ElapsedMs([&] { result = handle.GetCurrentStatus(1000); });
    EXPECT_EQ(result, Ok);
    EXPECT_GE(ms, 100);
}

TEST_F(ExchangeTest, DamagedRepliesAreNotTakenAsAnswers) {
    int steps = 0;
    sim->control("malformed short");
    EXPECT_EQ(handle.GetMotorSteps(&steps, 1000), SerialUndefinedError);
    EXPECT_EQ(handle.GetCurrentStatus(1000), SerialUndefinedError);
    sim->control("malformed off");
    sim->control("stray xy");
    EXPECT_EQ(handle.GetMotorSteps(&steps, 1000), SerialUndefinedError);
    sim->control("stray off");
    sim->control("double on");
    EXPECT_EQ(handle.GetCurrentStatus(1000), SerialUndefinedError);
    sim->control("double off");
    ExpectPositionIsReadCorrectly();
}

TEST_F(ExchangeTest, ARepliesInPiecesIsReassembled) {
    sim->control("split 3");
    ExpectPositionIsReadCorrectly();
    EXPECT_EQ(handle.GetCurrentStatus(1000), Ok);
    MotorInfo info;
    EXPECT_EQ(handle.GetMotorInfo(&info, 7000), Ok);
    EXPECT_EQ(info.ppd, "143360");
}

TEST_F(ExchangeTest, UnreadableNumbersLeaveAsExceptionsWithTheLockReleased) {
    sim->control("malformed digits");
    int steps = 0;
    EXPECT_THROW(handle.GetMotorSteps(&steps, 1000), std::invalid_argument);
    EXPECT_THROW(handle.GetCurrentStatus(1000), std::invalid_argument);
    MotorInfo info;
    EXPECT_THROW(handle.GetMotorInfo(&info, 1000), std::invalid_argument);
    // A data reply that has nowhere to go is not parsed, so it cannot throw.
    EXPECT_EQ(handle.SetMotorSteps(10, 1000), Ok);
    sim->control("malformed off");
    // The handle is still usable from another thread, so the lock was released.
    std::thread([&] { EXPECT_EQ(handle.Stop(1000), Ok); }).join();
}

TEST_F(ExchangeTest, TwoThreadsNeverInterleaveOnTheLine) {
    constexpr int kRounds = 40;
    std::atomic<int> failures{0};
    std::thread reader([&] {
        for (int i = 0; i < kRounds; ++i) {
            int steps = 0;
            if (handle.GetMotorSteps(&steps, 1000) != Ok || steps != 12942)
                ++failures;
        }
    });
    for (int i = 0; i < kRounds; ++i) {
        if (handle.GetCurrentStatus(1000) != Ok)
            ++failures;
    }
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    const auto sent = RequestsAfterConnect();
    EXPECT_EQ(sent.size(), 2u * kRounds);
    for (const auto &request : sent)
        EXPECT_TRUE(request == "0gp" || request == "0gs") << request;
}

TEST_F(ExchangeTest, APulledCableClosesTheLinkWithinTheLimit) {
    sim->control("hangup");
    AttenuatorStatus result = Ok;
    const auto ms = ElapsedMs([&] { result = handle.GetCurrentStatus(1000); });
    EXPECT_EQ(result, SerialClosed);
    EXPECT_TRUE(timing::WithinBound(ms, 1000 + kSlackMs)) << ms;
    EXPECT_EQ(handle.GetCurrentStatus(1000), SerialClosed);
    EXPECT_NO_THROW(handle.Disconnect());
    EXPECT_EQ(handle.GetCurrentStatus(1000), SerialClosed);
}

TEST_F(ExchangeTest, AHangUpInTheMiddleOfAReplyEndsTheExchange) {
    sim->control("hangup next");
    int steps = 0;
    AttenuatorStatus result = Ok;
    const auto ms = ElapsedMs([&] { result = handle.GetMotorSteps(&steps, 2000); });
    EXPECT_EQ(result, SerialClosed);
    EXPECT_TRUE(timing::WithinBound(ms, 1999)) << ms;
    // After re-plugging, a new connection gets correct answers again.
    const std::string reply = sim->control("reopen");
    ASSERT_EQ(reply.rfind("ok ", 0), 0u) << reply;
    ASSERT_TRUE(handle.Connect(reply.substr(3)));
    ExpectPositionIsReadCorrectly();
}

TEST_F(ExchangeTest, TheByteTimingOfTheLineIsRespected) {
    // Recreate the device with the 9600-baud timing: 3 request bytes and 13 reply bytes take ~17 ms.
    sim.reset();
    StartDevice({"--position", "12942"}, true);
    AttenuatorStatus result = SerialClosed;
    const auto ms = ElapsedMs([&] { result = handle.GetMotorSteps(nullptr, 1000); });
    EXPECT_EQ(result, Ok);
    EXPECT_GE(ms, 13);
}

} // namespace
