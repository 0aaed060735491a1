// Wires the device, the terminal, the faults, the control socket and the transcript together and
// runs them in one poll loop, with timers for motion, maintenance, line timing and delays.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "Beam.h"
#include "Control.h"
#include "Device.h"
#include "DeviceSide.h"
#include "Faults.h"
#include "MeterLine.h"
#include "Options.h"
#include "Terminal.h"
#include "Transcript.h"

namespace sim {

class Simulation {
public:
    // Opens everything the run needs: transcript, terminal, port link, control socket.
    // Throws std::runtime_error; what was opened is closed again.
    explicit Simulation(const Options &options);
    ~Simulation();

    const std::string &slavePath() const { return terminal_.slavePath(); }
    // The meter's terminal and socket ("127.0.0.1:NNNNN"); empty when there are none.
    std::string meterPath() const { return meter_ ? meter_->ptyPath() : std::string(); }
    std::string meterTcpAddress() const { return meter_ ? meter_->tcpAddress() : std::string(); }
    // Until a stop signal or the "quit" command; returns the exit code.
    int run();

private:
    void onRequest(Request request);
    void onReply(const std::string &reply, std::uint64_t requestId);
    std::string onControl(const std::string &line);
    std::string onGet(const std::string &what);
    std::string onSet(const std::string &what, const std::string &value);
    std::string onHangUp(const std::string &argument);
    std::string onReopen();
    std::string onOnOff(const std::string &command, const std::string &argument, bool &flag);
    std::string onBench(const std::string &command, const std::string &argument);
    // The motor's actual angle at that moment, during a move too.
    double angleDeg(TimePoint at) const;
    const Faults &faultsFor(std::uint64_t requestId) const;
    void hangUp();
    void runTimers();

    // In start-up order; torn down in reverse, so the control socket and the port link go first.
    TimePoint now_;
    StopSignals signals_;
    Transcript transcript_;
    Faults faults_;
    RequestParser parser_;
    Device device_;
    Terminal terminal_;
    std::unique_ptr<PortLink> link_;
    std::unique_ptr<Control> control_;
    Beam beam_;
    double degreesPerStep_;
    std::unique_ptr<MeterLine> meter_;

    std::uint64_t serial_ = 0;       // every request, garbage included, for matching replies
    std::uint64_t requestCount_ = 0; // complete, well-formed requests
    bool hangUpOnNextRequest_ = false;
    // "spare-status on": status polls are answered as if no fault were set, so that a fault reaches the
    // command under test rather than a concurrent poll. "once on": the faults set apply to the next
    // request they reach and are then cleared.
    bool spareStatus_ = false;
    bool once_ = false;
    // Faults fixed for a request when it arrived (spared or one-shot), in force for its reply.
    std::unordered_map<std::uint64_t, Faults> pinned_;
    static const Faults kNoFaults;
    std::uint64_t hangUpRequestId_ = 0; // 0: none
    bool quit_ = false;
};

} // namespace sim
