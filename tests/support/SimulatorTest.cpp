// Checks optivane-sim on the wire, through a raw client on its pseudo-terminal, so that the
// library's tests can trust what it answers.
#include "Simulator.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <gtest/gtest.h>

#include "TempXdg.h"
#include "Timing.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A host on the simulator's terminal, as a serial program would open it: raw, no controlling tty.
class Port {
public:
    explicit Port(const std::string &path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            throw std::runtime_error("open " + path);
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Port() { ::close(fd_); }
    int fd() const { return fd_; }
    Port(const Port &) = delete;
    Port &operator=(const Port &) = delete;

    // True when all bytes went out within a second; false once the line is dead.
    bool write(const std::string &bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            pollfd pfd{fd_, POLLOUT, 0};
            if (errno != EAGAIN || ::poll(&pfd, 1, 1000) <= 0)
                return false;
        }
        return true;
    }

    // Reads until count bytes have come, the line dies or timeoutMs pass. Arrival times of the
    // first and last byte, relative to since, go to firstMs and lastMs.
    std::string read(std::size_t count, int timeoutMs, Clock::time_point since = Clock::now(),
                     double *firstMs = nullptr, double *lastMs = nullptr) {
        std::string got;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && !dead_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd pfd{fd_, POLLIN, 0};
            if (left < 0 || ::poll(&pfd, 1, static_cast<int>(left)) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) {
                if (got.empty() && firstMs)
                    *firstMs = msSince(since);
                got.append(buffer, static_cast<std::size_t>(n));
                if (lastMs)
                    *lastMs = msSince(since);
            } else if (n == 0 || errno != EAGAIN) {
                dead_ = true;
            }
        }
        return got;
    }

    // Everything that arrives within ms.
    std::string readFor(int ms) { return read(SIZE_MAX, ms); }

    std::string ask(const std::string &request, std::size_t replyLength, int timeoutMs = 2000) {
        write(request);
        return read(replyLength, timeoutMs);
    }

    // Waits for the end of the line (EOF or EIO), as after a pulled cable.
    bool hungUp(int timeoutMs) {
        read(SIZE_MAX, timeoutMs);
        return dead_;
    }

private:
    int fd_ = -1;
    bool dead_ = false;
};

std::string readLink(const std::string &path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

bool exists(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

const std::string kInfo = "0IN0EOV24011720240102016800023000\r\n";

class SimulatorTest : public ::testing::Test {
protected:
    TempXdg xdg;
};

// ---- Replies -------------------------------------------------------------------------------

TEST_F(SimulatorTest, EveryCommandAnswersInItsForm) {
    Simulator sim({"--status", "42", "--offset-steps", "-5", "--position", "12942", "--speed", "0"});
    Port port(sim.ptyPath());
    const std::vector<std::pair<std::string, std::string>> exchanges = {
        {"0gs", "0GS2A\r\n"},       {"0in", kInfo},       {"0go", "0HOFFFFFFFB\r\n"}, {"0gp", "0PO0000328E\r\n"},
        {"0st", "0GS00\r\n"},       {"0om", "0GS09\r\n"}, {"0st", "0GS00\r\n"},       {"0ho0", "0PO00000000\r\n"},
        {"0gp", "0PO00000000\r\n"},
    };
    for (const auto &[request, reply] : exchanges)
        EXPECT_EQ(port.ask(request, reply.size()), reply) << request;
    EXPECT_EQ(port.readFor(30), "") << "nothing beyond one reply per request";
    EXPECT_EQ(sim.control("get requests"), "ok " + std::to_string(exchanges.size()));
}

TEST_F(SimulatorTest, InformationReplyCarriesTheConfiguredIdentityAndScale) {
    Simulator sim(
        {"--serial", "AB123456", "--year", "1999", "--fr", "7A", "--hr", "3C", "--td", "180", "--ppd", "1000"});
    Port port(sim.ptyPath());
    EXPECT_EQ(port.ask("0in", 35), "0IN0EAB12345619997A3C00B4000003E8\r\n");
}

TEST_F(SimulatorTest, TranscriptLogsRequestsRepliesAndEventsEscaped) {
    Simulator sim;
    Port port(sim.ptyPath());
    ASSERT_EQ(port.ask("0gs", 7), "0GS00\r\n");
    ASSERT_EQ(sim.control("stray \\x01"), "ok");
    ASSERT_EQ(port.ask("0gp", 14), "0PO00000000\r\n\x01");
    EXPECT_EQ(sim.requests(), (std::vector<std::string>{"0gs", "0gp"}));
    EXPECT_EQ(sim.replies(), (std::vector<std::string>{"0GS00\\r\\n", "0PO00000000\\r\\n\\x01"}));
    EXPECT_NE(sim.transcript().find(" ! stray \\\\x01\n"), std::string::npos) << sim.transcript();
}

// ---- Move targets and motion ---------------------------------------------------------------

TEST_F(SimulatorTest, MoveTargetsInBothForms) {
    Simulator sim({"--speed", "0"});
    Port port(sim.ptyPath());
    EXPECT_EQ(port.ask("0ma0000328E", 13), "0PO0000328E\r\n");
    EXPECT_EQ(sim.control("get position"), "ok 12942");
    EXPECT_EQ(port.ask("0maFFFFFFFB", 13), "0POFFFFFFFB\r\n");
    EXPECT_EQ(sim.control("get position"), "ok -5");
    EXPECT_EQ(port.ask("0ma12942", 13), "0PO0000328E\r\n");
    EXPECT_EQ(port.ask("0ma-5", 13), "0POFFFFFFFB\r\n");
    EXPECT_EQ(sim.control("get position"), "ok -5");
    // Eight digits are always the hexadecimal form, even when they are all decimal digits.
    EXPECT_EQ(port.ask("0ma00000010", 13), "0PO00000010\r\n");
    EXPECT_EQ(sim.control("get position"), "ok 16");
}

TEST_F(SimulatorTest, DecimalTargetIsTakenOnlyAfterTheLineFallsQuiet) {
    Simulator sim({"--speed", "0"});
    Port port(sim.ptyPath());
    const auto start = Clock::now();
    port.write("0ma100");
    double lastMs = 0;
    EXPECT_EQ(port.read(13, 1000, start, nullptr, &lastMs), "0PO00000064\r\n");
    EXPECT_GE(lastMs, 5.0);
}

TEST_F(SimulatorTest, MoveTakesItsTimeAtTheGivenSpeed) {
    // 3584 steps are 9 degrees with the default scale: 500 ms at 18 degrees per second, long enough to
    // catch the motor on its way however slowly this process runs.
    Simulator sim({"--speed", "18"});
    Port port(sim.ptyPath());
    const auto start = Clock::now();
    port.write("0ma00000E00");
    int midway = 0;
    while (midway == 0 && msSince(start) < 2000)
        midway = std::stoi(sim.control("get position").substr(3));
    EXPECT_GT(midway, 0);
    EXPECT_LT(midway, 3584);
    EXPECT_EQ(sim.control("get moving"), "ok 1");
    double lastMs = 0;
    EXPECT_EQ(port.read(13, 2000, start, nullptr, &lastMs), "0PO00000E00\r\n");
    EXPECT_GE(lastMs, 495.0);
    EXPECT_TRUE(timing::WithinBound(static_cast<long long>(lastMs), 799)) << lastMs;
    EXPECT_EQ(sim.control("get moving"), "ok 0");
}

TEST_F(SimulatorTest, RequestsDuringAMoveAreAnsweredInOrderAfterIt) {
    Simulator sim({"--speed", "90"});
    Port port(sim.ptyPath());
    const auto start = Clock::now();
    port.write("0ma00000E00");
    std::this_thread::sleep_for(10ms);
    port.write("0gs");
    std::this_thread::sleep_for(10ms);
    port.write("0gp");
    double firstMs = 0;
    EXPECT_EQ(port.read(33, 2000, start, &firstMs), "0PO00000E00\r\n0GS00\r\n0PO00000E00\r\n");
    EXPECT_GE(firstMs, 95.0);
}

TEST_F(SimulatorTest, StopEndsAMoveWhereItGotThenAnswersOk) {
    // A full turn takes 4 s; the stop comes long before.
    Simulator sim({"--speed", "90"});
    Port port(sim.ptyPath());
    port.write("0ma00023000");
    std::this_thread::sleep_for(60ms);
    const std::string replies = port.ask("0st", 20);
    ASSERT_EQ(replies.size(), 20u) << replies;
    EXPECT_EQ(replies.substr(0, 3), "0PO");
    EXPECT_EQ(replies.substr(11), "\r\n0GS00\r\n");
    const long stoppedAt = std::stol(replies.substr(3, 8), nullptr, 16);
    EXPECT_GT(stoppedAt, 0);
    EXPECT_LT(stoppedAt, 0x23000);
    EXPECT_EQ(sim.control("get moving"), "ok 0");
    EXPECT_EQ(sim.control("get position"), "ok " + std::to_string(stoppedAt));
}

// ---- Maintenance ---------------------------------------------------------------------------

TEST_F(SimulatorTest, MaintenanceAnswersBusyUntilStopped) {
    Simulator sim;
    Port port(sim.ptyPath());
    EXPECT_EQ(port.ask("0om", 7), "0GS09\r\n");
    EXPECT_EQ(sim.control("get maintenance"), "ok 1");
    for (const char *request : {"0gs", "0gp", "0in", "0cm", "0ma00000010"})
        EXPECT_EQ(port.ask(request, 7), "0GS09\r\n") << request;
    EXPECT_EQ(port.ask("0st", 7), "0GS00\r\n");
    EXPECT_EQ(sim.control("get maintenance"), "ok 0");
    EXPECT_EQ(port.ask("0gp", 13), "0PO00000000\r\n");
}

TEST_F(SimulatorTest, MaintenanceEndsByItselfAfterItsTime) {
    Simulator sim({"--maintenance-seconds", "0.15"});
    Port port(sim.ptyPath());
    const auto start = Clock::now();
    EXPECT_EQ(port.ask("0cm", 7), "0GS09\r\n");
    EXPECT_EQ(port.ask("0gs", 7), "0GS09\r\n");
    while (sim.control("get maintenance") == "ok 1" && msSince(start) < 2000)
        std::this_thread::sleep_for(5ms);
    EXPECT_GE(msSince(start), 145.0);
    EXPECT_EQ(port.ask("0gs", 7), "0GS00\r\n");
}

// ---- Faults --------------------------------------------------------------------------------

struct ReplyFault {
    const char *name;
    std::vector<std::string> flags;
    std::string command;
    std::string request;
    std::string reply;
};

TEST_F(SimulatorTest, FaultsReshapeRepliesWhetherSetAtStartOrAtRunTime) {
    const std::vector<ReplyFault> faults = {
        {"force-status", {"--force-status", "5"}, "force-status 5", "0gp", "0GS05\r\n"},
        {"malformed short", {"--malformed", "short"}, "malformed short", "0gp", "0PO0000328\r\n"},
        {"malformed digits", {"--malformed", "digits"}, "malformed digits", "0gp", "0POGGGGGGGG\r\n"},
        {"malformed digits status", {"--malformed", "digits"}, "malformed digits", "0gs", "0GSGG\r\n"},
        {"malformed digits info",
         {"--malformed", "digits"},
         "malformed digits",
         "0in",
         "0IN0EOV24011720240102GGGGGGGGGGGG\r\n"},
        {"stray",
         {"--stray", "\\xFFab\\r\\n"},
         "stray \\xFFab\\r\\n",
         "0gp",
         "0PO0000328E\r\n\xFF"
         "ab\r\n"},
        {"double", {"--double"}, "double on", "0gp", "0PO0000328E\r\n0PO0000328E\r\n"},
    };
    for (const ReplyFault &fault : faults) {
        SCOPED_TRACE(fault.name);
        std::vector<std::string> flags = fault.flags;
        flags.insert(flags.end(), {"--position", "12942"});
        {
            Simulator sim(flags);
            Port port(sim.ptyPath());
            EXPECT_EQ(port.ask(fault.request, fault.reply.size() + 1, 40), fault.reply) << "as a flag";
        }
        {
            Simulator sim({"--position", "12942"});
            Port port(sim.ptyPath());
            ASSERT_EQ(sim.control(fault.command), "ok");
            EXPECT_EQ(port.ask(fault.request, fault.reply.size() + 1, 40), fault.reply) << "at run time";
            ASSERT_EQ(sim.control("clear"), "ok");
            EXPECT_EQ(port.ask("0gp", 14, 40), "0PO0000328E\r\n") << "after clear";
        }
    }
}

TEST_F(SimulatorTest, SilentReadsRequestsButNeverAnswers) {
    Simulator sim({"--silent"});
    Port port(sim.ptyPath());
    port.write("0gs");
    EXPECT_TRUE(sim.waitForRequests(1, 1000));
    EXPECT_EQ(port.readFor(100), "");
    EXPECT_EQ(sim.control("get requests"), "ok 1");
    ASSERT_EQ(sim.control("silent off"), "ok");
    EXPECT_EQ(port.ask("0gs", 7), "0GS00\r\n");
}

TEST_F(SimulatorTest, DelayHoldsRepliesBackAndKeepsReading) {
    Simulator sim;
    Port port(sim.ptyPath());
    ASSERT_EQ(sim.control("delay 80"), "ok");
    const auto start = Clock::now();
    port.write("0gs");
    std::this_thread::sleep_for(20ms);
    port.write("0gp");
    double firstMs = 0;
    EXPECT_EQ(port.read(20, 1000, start, &firstMs), "0GS00\r\n0PO00000000\r\n");
    EXPECT_EQ(sim.control("get unsent"), "ok 0");
    EXPECT_GE(firstMs, 80.0);
    ASSERT_EQ(sim.control("delay 0"), "ok");
    const auto quick = Clock::now();
    EXPECT_EQ(port.ask("0gs", 7), "0GS00\r\n");
    const double quickMs = msSince(quick);
    EXPECT_TRUE(timing::WithinBound(static_cast<long long>(quickMs), 49)) << quickMs;
    // A held reply counts as unsent until it is on the line.
    ASSERT_EQ(sim.control("delay 5000"), "ok");
    port.write("0gs");
    ASSERT_TRUE(sim.waitForRequests(4, 1000));
    EXPECT_EQ(sim.control("get unsent"), "ok 1");
}

TEST_F(SimulatorTest, SplitSendsPiecesFifteenMillisecondsApart) {
    Simulator sim({"--split", "3"});
    Port port(sim.ptyPath());
    double widestSpread = 0;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        port.write("0gp");
        double firstMs = 0;
        double lastMs = 0;
        ASSERT_EQ(port.read(13, 1000, start, &firstMs, &lastMs), "0PO00000000\r\n");
        // Two pauses of 15 ms before the last piece.
        EXPECT_GE(lastMs, 29.0);
        EXPECT_TRUE(timing::WithinBound(static_cast<long long>(lastMs), 499)) << lastMs;
        widestSpread = std::max(widestSpread, lastMs - firstMs);
    }
    // The first piece comes at once, not with the others (best of three, for a busy machine).
    EXPECT_GE(widestSpread, 20.0);
}

TEST_F(SimulatorTest, HangupDropsTheLineUntilReopened) {
    Simulator sim({"--port", "COM3"});
    const std::string link = xdg.portFolder() + "/COM3";
    Port port(sim.ptyPath());
    ASSERT_EQ(port.ask("0gs", 7), "0GS00\r\n");
    ASSERT_EQ(sim.control("hangup"), "ok");
    EXPECT_TRUE(port.hungUp(1000));
    EXPECT_FALSE(port.write("0gs"));
    EXPECT_TRUE(exists(link)) << "the number stays reserved while the cable is out";
    EXPECT_EQ(sim.control("hangup"), "error hangup: terminal already closed");

    const std::string reopened = sim.control("reopen");
    ASSERT_EQ(reopened.substr(0, 3), "ok ");
    const std::string newPath = reopened.substr(3);
    EXPECT_EQ(sim.control("get pty"), "ok " + newPath);
    EXPECT_EQ(readLink(link), newPath);
    Port again(newPath);
    EXPECT_EQ(again.ask("0gs", 7), "0GS00\r\n");
}

TEST_F(SimulatorTest, HangupNextSendsHalfTheNextReplyThenDropsTheLine) {
    Simulator sim;
    Port port(sim.ptyPath());
    ASSERT_EQ(sim.control("hangup next"), "ok");
    EXPECT_EQ(port.ask("0gp", 13, 1000), "0PO000");
    EXPECT_TRUE(port.hungUp(1000));
    EXPECT_TRUE(sim.transcript().find(" ! hangup\n") != std::string::npos) << sim.transcript();
}

// A fault aimed at one command of a host that also polls the status: polls pass untouched, the first
// other request takes the fault, and the faults are gone after it.
TEST_F(SimulatorTest, OnceAndSpareStatusAimAFaultAtTheNextCommand) {
    Simulator sim;
    Port port(sim.ptyPath());
    ASSERT_EQ(sim.control("spare-status on"), "ok");
    ASSERT_EQ(sim.control("force-status 11"), "ok");
    ASSERT_EQ(sim.control("once on"), "ok");
    EXPECT_EQ(port.ask("0gs", 7), "0GS00\r\n");
    EXPECT_EQ(port.ask("0gp", 7), "0GS0B\r\n");
    EXPECT_EQ(port.ask("0gp", 13), "0PO00000000\r\n");

    ASSERT_EQ(sim.control("hangup next"), "ok");
    EXPECT_EQ(port.ask("0gs", 7), "0GS00\r\n");
    EXPECT_EQ(port.ask("0gp", 13, 1000), "0PO000");
    EXPECT_TRUE(port.hungUp(1000));
}

TEST_F(SimulatorTest, ControlRefusesWhatItDoesNotUnderstand) {
    Simulator sim;
    for (const char *line :
         {"", "bogus", "silent maybe", "delay -1", "force-status 256", "malformed wide", "split 1", "stray \\q",
          "stray", "double", "get nothing", "set position x", "set status 300", "hangup later"}) {
        const std::string answer = sim.control(line);
        EXPECT_EQ(answer.substr(0, 6), "error ") << '"' << line << "\" gave " << answer;
    }
    EXPECT_EQ(sim.control("set status 7"), "ok");
    EXPECT_EQ(sim.control("set position -300"), "ok");
    EXPECT_EQ(sim.control("get position"), "ok -300");
    Port port(sim.ptyPath());
    EXPECT_EQ(port.ask("0gs", 7), "0GS07\r\n");
}

TEST_F(SimulatorTest, ControlServesClientsThatAreConnectedAtTheSameTime) {
    Simulator sim;
    auto connectClient = [&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", sim.controlPath().c_str());
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        return fd;
    };
    auto answer = [](int fd) {
        std::string got;
        char c;
        pollfd pfd{fd, POLLIN, 0};
        while (got.find('\n') == std::string::npos && ::poll(&pfd, 1, 2000) > 0 && ::read(fd, &c, 1) == 1)
            got += c;
        return got;
    };
    const int first = connectClient();
    const int second = connectClient();
    ASSERT_EQ(::write(second, "get requests\nget moving\n", 24), 24);
    ASSERT_EQ(::write(first, "set position 5\n", 15), 15);
    EXPECT_EQ(answer(second), "ok 0\n");
    EXPECT_EQ(answer(second), "ok 0\n");
    EXPECT_EQ(answer(first), "ok\n");
    ::close(first);
    ::close(second);
    EXPECT_EQ(sim.control("get position"), "ok 5");
}

// ---- Port folder and the end of the run ----------------------------------------------------

TEST_F(SimulatorTest, PortLinkLivesAsLongAsTheSimulator) {
    const std::string link = xdg.portFolder() + "/COM7";
    Simulator sim({"--port", "COM7"});
    EXPECT_EQ(readLink(link), sim.ptyPath());
    struct stat st {};
    ASSERT_EQ(::stat(xdg.portFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    sim.terminate();
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_FALSE(exists(link));
    EXPECT_FALSE(exists(sim.controlPath()));
}

TEST_F(SimulatorTest, EveryStopSignalRemovesTheLink) {
    for (int signal : {SIGINT, SIGHUP, SIGTERM}) {
        SCOPED_TRACE(signal);
        Simulator sim({"--port", "COM12"});
        const std::string link = xdg.portFolder() + "/COM12";
        ASSERT_TRUE(exists(link));
        ::kill(sim.pid(), signal);
        sim.terminate();
        EXPECT_EQ(sim.exitStatus(), 0);
        EXPECT_FALSE(exists(link));
    }
}

TEST_F(SimulatorTest, PortLinkReplacesAStaleLinkOfThatName) {
    ASSERT_EQ(::mkdir((xdg.data() + "/optivane").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(xdg.portFolder().c_str(), 0700), 0);
    const std::string link = xdg.portFolder() + "/COM9";
    ASSERT_EQ(::symlink("/dev/pts/no-such-terminal", link.c_str()), 0);
    Simulator sim({"--port", "COM9"});
    EXPECT_EQ(readLink(link), sim.ptyPath());
}

TEST_F(SimulatorTest, BadOptionsAreRefusedWithAMessage) {
    const std::vector<std::vector<std::string>> bad = {
        {"--port", "COM256"},    {"--port", "COM07"},  {"--port", "COM"},   {"--port", "com1"},  {"--port", "COM-1"},
        {"--td", "70000"},       {"--serial", "OV24"}, {"--year", "24"},    {"--status", "256"}, {"--split", "1"},
        {"--malformed", "wide"}, {"--bogus"},          {"--speed", "fast"}, {"--position"},
    };
    for (const auto &args : bad) {
        try {
            Simulator sim(args);
            ADD_FAILURE() << "accepted " << args.front();
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find(args.front()), std::string::npos) << e.what();
        }
    }
}

// ---- Line timing and resilience ------------------------------------------------------------

TEST_F(SimulatorTest, BaudDelayPacesRepliesByteByByte) {
    Simulator paced({}, true);
    Port port(paced.ptyPath());
    double widestSpread = 0;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        port.write("0gp");
        double firstMs = 0;
        double lastMs = 0;
        ASSERT_EQ(port.read(13, 1000, start, &firstMs, &lastMs), "0PO00000000\r\n");
        // 13 bytes of 10 bits at 9600 baud take 13.5 ms, after the 3 of the request.
        EXPECT_GE(lastMs, 12.0);
        widestSpread = std::max(widestSpread, lastMs - firstMs);
    }
    // Paced bytes come over that time, not in one block at its end; a busy machine may lump a few
    // of them together in one read, so the best of several rounds is judged.
    EXPECT_GE(widestSpread, 6.0);
}

TEST_F(SimulatorTest, WithoutBaudDelayRepliesComeAtOnce) {
    Simulator sim;
    Port port(sim.ptyPath());
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        ASSERT_EQ(port.ask("0gp", 13), "0PO00000000\r\n");
        best = std::min(best, msSince(start));
    }
    EXPECT_TRUE(timing::WithinBound(static_cast<long long>(best), 4)) << best;
}

TEST_F(SimulatorTest, GarbageCostsOneCommandErrorAndNotTheRequestBehindIt) {
    Simulator sim;
    Port port(sim.ptyPath());
    EXPECT_EQ(port.ask("xyz0gs", 14), "0GS03\r\n0GS00\r\n");
    EXPECT_EQ(port.ask("0zz", 7), "0GS03\r\n");
    port.write("\x01\x02");
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(port.ask("0gp", 20), "0GS03\r\n0PO00000000\r\n");
    EXPECT_EQ(sim.requests(), (std::vector<std::string>{"xyz", "0gs", "0zz", "\\x01\\x02", "0gp"}));
    EXPECT_EQ(sim.control("get requests"), "ok 2");
}

TEST_F(SimulatorTest, NoiseNeverStopsTheDevice) {
    Simulator sim({"--speed", "0", "--maintenance-seconds", "0"});
    Port port(sim.ptyPath());
    std::mt19937 random(7);
    std::string noise;
    for (int i = 0; i < 4000; ++i)
        noise += static_cast<char>(random() & 0xFF);
    port.write(noise);
    // What the noise made the device answer arrives at the machine's pace: drain until the line is quiet.
    for (int round = 0; round < 40 && !port.readFor(300).empty(); ++round) {
    }
    EXPECT_EQ(port.ask("0gs", 7), "0GS00\r\n");
}

TEST_F(SimulatorTest, ClientMayCloseAndReopenThePort) {
    Simulator sim;
    {
        Port first(sim.ptyPath());
        EXPECT_EQ(first.ask("0gs", 7), "0GS00\r\n");
    }
    Port second(sim.ptyPath());
    EXPECT_EQ(second.ask("0gs", 7), "0GS00\r\n");
}

TEST_F(SimulatorTest, ExclusiveUseEndsWhenTheClientCloses) {
    // A serial program takes the port with TIOCEXCL; on a real port the flag goes with its last close.
    Simulator sim;
    {
        Port owner(sim.ptyPath());
        ASSERT_EQ(::ioctl(owner.fd(), TIOCEXCL), 0);
        EXPECT_EQ(owner.ask("0gs", 7), "0GS00\r\n");
    }
    const auto start = Clock::now();
    int exclusive = 1;
    while (exclusive && msSince(start) < 1000) {
        Port probe(sim.ptyPath());
        ASSERT_EQ(::ioctl(probe.fd(), TIOCGEXCL, &exclusive), 0);
    }
    EXPECT_EQ(exclusive, 0);
}

} // namespace
