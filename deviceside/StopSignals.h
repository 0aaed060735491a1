// Turns SIGINT, SIGTERM and SIGHUP into a readable descriptor for the event loop (a signalfd), so
// that a program ends through its normal clean-up; SIGPIPE is ignored.
#pragma once

namespace deviceside {

class StopSignals {
public:
    // Blocks the stop signals for the process and opens the descriptor; throws std::runtime_error.
    StopSignals();
    // Leaves the signals blocked: one that comes during the clean-up must not cut it short.
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    int fd() const { return fd_; }
    // The signal that is waiting, 0 when none.
    int take();

private:
    int fd_ = -1;
};

} // namespace deviceside
