// Wires the device, the terminal, the faults, the control socket and the transcript together and
// runs them in one poll loop, with timers for motion, maintenance, line timing and delays.
#include "Simulation.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <utility>

#include "DeviceSide.h"

namespace sim {

namespace {

std::pair<std::string, std::string> splitWord(const std::string &line) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos)
        return {line, {}};
    return {line.substr(0, space), line.substr(space + 1)};
}

// Enough digits for a reading of a few nanowatts beside one of watts.
std::string formatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

void earliest(std::optional<TimePoint> &next, std::optional<TimePoint> candidate) {
    if (candidate && (!next || *candidate < *next))
        next = candidate;
}

} // namespace

Simulation::Simulation(const Options &options)
    : now_(Clock::now()), transcript_(now_), faults_(options.faults),
      parser_([this](Request request) { onRequest(std::move(request)); }),
      device_(options.device, [this](const std::string &reply, std::uint64_t id) { onReply(reply, id); }),
      terminal_(options.baudDelay, Terminal::Listener{
                                       [this](char byte, TimePoint arrival) { parser_.feed(byte, arrival); },
                                       [this](const std::string &bytes) { transcript_.reply(bytes, now_); },
                                       [this] {
                                           parser_.reset();
                                           transcript_.event("hangup", now_);
                                       },
                                   }),
      beam_(options.beam, now_),
      degreesPerStep_(options.device.ppd == 0 ? 0.0 : static_cast<double>(options.device.td) / options.device.ppd) {
    if (!options.transcript.empty())
        transcript_.open(options.transcript);
    terminal_.open();
    if (!options.port.empty())
        link_ = std::make_unique<PortLink>(options.port, terminal_.slavePath());
    if (options.meter.enabled())
        meter_ = std::make_unique<MeterLine>(options.meter, transcript_, [this](TimePoint at, int samples) {
            return beam_.measuredW(angleDeg(at), at, samples);
        });
    if (!options.control.empty())
        control_ =
            std::make_unique<Control>(options.control, [this](const std::string &line) { return onControl(line); });
}

Simulation::~Simulation() = default;

int Simulation::run() {
    std::vector<pollfd> fds;
    for (;;) {
        std::optional<TimePoint> next = terminal_.nextDeadline();
        earliest(next, parser_.nextDeadline());
        earliest(next, device_.nextDeadline());
        if (meter_)
            earliest(next, meter_->nextDeadline());

        fds.clear();
        fds.push_back({signals_.fd(), POLLIN, 0});
        terminal_.addPollFds(fds);
        if (control_)
            control_->addPollFds(fds);
        if (meter_)
            meter_->addPollFds(fds);

        timespec timeout{};
        if (next) {
            const auto wait = std::max<Duration>(Duration::zero(), *next - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        }
        if (::ppoll(fds.data(), fds.size(), next ? &timeout : nullptr, nullptr) < 0 && errno != EINTR)
            throw std::runtime_error(std::string("ppoll: ") + std::strerror(errno));

        now_ = Clock::now();
        runTimers();
        if (fds[0].revents & POLLIN) {
            transcript_.event("signal " + std::to_string(signals_.take()), now_);
            return 0;
        }
        terminal_.handlePoll(fds, now_);
        if (control_)
            control_->handlePoll(fds);
        if (meter_)
            meter_->handlePoll(fds, now_);
        if (quit_) {
            transcript_.event("quit", now_);
            return 0;
        }
    }
}

void Simulation::runTimers() {
    // Input first: bytes that arrived before a pause deadline must be seen before the pause is.
    terminal_.onTime(now_);
    parser_.onTime(now_);
    device_.onTime(now_);
    if (meter_)
        meter_->onTime(now_);
}

double Simulation::angleDeg(TimePoint at) const {
    return device_.position(at) * degreesPerStep_;
}

const Faults Simulation::kNoFaults{};

const Faults &Simulation::faultsFor(std::uint64_t requestId) const {
    const auto pinned = pinned_.find(requestId);
    return pinned == pinned_.end() ? faults_ : pinned->second;
}

void Simulation::onRequest(Request request) {
    transcript_.request(request.text, now_);
    const std::uint64_t id = ++serial_;
    const bool spared = spareStatus_ && request.command == Command::Status;
    if (request.command != Command::Invalid) {
        ++requestCount_;
        if (hangUpOnNextRequest_ && !spared) {
            hangUpOnNextRequest_ = false;
            hangUpRequestId_ = id;
        }
    }
    // A request whose reply never came (the line dropped it) must not keep its entry for ever.
    if (pinned_.size() > 1000)
        pinned_.clear();
    if (spared) {
        pinned_[id] = kNoFaults;
    } else if (once_ && request.command != Command::Invalid) {
        once_ = false;
        pinned_[id] = faults_;
        faults_ = Faults{};
        transcript_.event("once spent", now_);
    }
    // A forced status stands in for whatever the device would have done.
    if (const auto &forced = faultsFor(id).forceStatus)
        return onReply(statusReply(static_cast<std::uint8_t>(*forced)), id);
    device_.handle(request, id, now_);
}

void Simulation::onReply(const std::string &reply, std::uint64_t requestId) {
    const bool hangUpAfter = requestId == hangUpRequestId_;
    if (hangUpAfter)
        hangUpRequestId_ = 0;
    Faults faults = faultsFor(requestId);
    pinned_.erase(requestId);
    if (!terminal_.isOpen())
        return transcript_.event("dropped " + reply, now_);
    if (faults.silent) {
        transcript_.event("silent " + reply, now_);
        if (hangUpAfter)
            hangUp();
        return;
    }
    std::string bytes = shapeReply(reply, faults);
    Terminal::Outgoing unit;
    if (hangUpAfter) {
        bytes.resize(bytes.size() / 2);
        unit.hangUpAfter = true;
    }
    unit.pieces = splitInto(bytes, faults.splitPieces);
    unit.notBefore = now_ + std::chrono::milliseconds(faults.delayMs);
    terminal_.send(std::move(unit), now_);
}

void Simulation::hangUp() {
    transcript_.event("hangup", now_);
    terminal_.hangUp();
    parser_.reset();
}

std::string Simulation::onControl(const std::string &line) {
    const auto [command, argument] = splitWord(line);
    if (command == "silent" || command == "delay" || command == "force-status" || command == "malformed" ||
        command == "split" || command == "stray" || command == "double") {
        const std::string error = setFault(faults_, command, argument);
        if (!error.empty())
            return "error " + command + ": " + error;
        transcript_.event(line, now_);
        return "ok";
    }
    if (command == "spare-status")
        return onOnOff(command, argument, spareStatus_);
    if (command == "once")
        return onOnOff(command, argument, once_);
    if (command == "clear" && argument.empty()) {
        faults_ = Faults{};
        once_ = false;
        hangUpOnNextRequest_ = false;
        transcript_.event(line, now_);
        return "ok";
    }
    if (command == "hangup")
        return onHangUp(argument);
    if (command == "reopen" && argument.empty())
        return onReopen();
    if (command == "get")
        return onGet(argument);
    if (command == "set") {
        const auto [what, value] = splitWord(argument);
        return onSet(what, value);
    }
    if (command == "laser" || command == "beam" || command == "meter")
        return onBench(command, argument);
    if (command == "quit" && argument.empty()) {
        quit_ = true;
        return "ok";
    }
    return "error unknown command: " + line;
}

std::string Simulation::onOnOff(const std::string &command, const std::string &argument, bool &flag) {
    if (argument != "on" && argument != "off")
        return "error " + command + ": expected on or off";
    flag = argument == "on";
    transcript_.event(command + " " + argument, now_);
    return "ok";
}

std::string Simulation::onGet(const std::string &what) {
    if (what == "position")
        return "ok " + std::to_string(device_.position(now_));
    if (what == "maintenance")
        return device_.inMaintenance(now_) ? "ok 1" : "ok 0";
    if (what == "moving")
        return device_.moving() ? "ok 1" : "ok 0";
    if (what == "pty")
        return "ok " + terminal_.slavePath();
    if (what == "requests")
        return "ok " + std::to_string(requestCount_);
    if (what == "unsent")
        return "ok " + std::to_string(terminal_.unsentReplies());
    if (what == "power")
        return "ok " + formatNumber(beam_.trueW(angleDeg(now_), now_));
    if (what == "angle")
        return "ok " + formatNumber(angleDeg(now_));
    if (what == "meter-pty") {
        const std::string path = meterPath();
        return path.empty() ? "error no meter terminal" : "ok " + path;
    }
    if (what == "meter-tcp") {
        const std::string address = meterTcpAddress();
        return address.empty() ? "error no meter socket" : "ok " + address;
    }
    if (what == "meter-queries")
        return meter_ ? "ok " + std::to_string(meter_->queries()) : "error no meter";
    return "error unknown value: " + what;
}

std::string Simulation::onSet(const std::string &what, const std::string &value) {
    if (what == "position") {
        const auto steps = parseInteger(value, INT32_MIN, INT32_MAX);
        if (!steps)
            return "error set position: expected steps";
        device_.setPosition(static_cast<std::int32_t>(*steps), now_);
    } else if (what == "status") {
        const auto status = parseInteger(value, 0, 255);
        if (!status)
            return "error set status: expected 0..255";
        device_.setStatus(static_cast<std::uint8_t>(*status));
    } else {
        return "error unknown value: " + what;
    }
    transcript_.event("set " + what + " " + value, now_);
    return "ok";
}

std::string Simulation::onBench(const std::string &command, const std::string &argument) {
    if (command == "laser") {
        const auto mw = parseNumber(argument);
        if (!mw || *mw < 0)
            return "error laser: expected a power in mW, 0 or more";
        beam_.setLaserMw(*mw, now_);
    } else if (command == "beam") {
        if (argument != "block" && argument != "unblock")
            return "error beam: expected block or unblock";
        beam_.setBlocked(argument == "block");
    } else {
        if (!meter_)
            return "error meter: the simulator runs without a meter (--meter-port, --meter-listen)";
        const auto [what, value] = splitWord(argument);
        return meter_->control(what, value, now_);
    }
    transcript_.event(command + " " + argument, now_);
    return "ok";
}

std::string Simulation::onHangUp(const std::string &argument) {
    if (argument != "" && argument != "next")
        return "error hangup: expected nothing or next";
    if (!terminal_.isOpen())
        return "error hangup: terminal already closed";
    if (argument == "next") {
        hangUpOnNextRequest_ = true;
        transcript_.event("hangup next", now_);
    } else {
        hangUp();
    }
    return "ok";
}

std::string Simulation::onReopen() {
    try {
        if (terminal_.isOpen())
            hangUp();
        terminal_.open();
        if (link_)
            link_->repoint(terminal_.slavePath());
    } catch (const std::exception &e) {
        return std::string("error reopen: ") + e.what();
    }
    transcript_.event("reopen " + terminal_.slavePath(), now_);
    return "ok " + terminal_.slavePath();
}

} // namespace sim
