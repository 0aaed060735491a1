// Device calls that never throw into Qt: the few faults the library reports as exceptions (a refused
// serial setting, a reply without a readable number, a refused cancel or close) count as a failed call.
#pragma once

#include <exception>
#include <string>

#include "optivane/optivane.h"

namespace devicecall {

// Logs a contained exception as a critical record with its text.
void ReportException(const char *what);

// The call's status, or SerialUndefinedError when the library threw.
template <typename Call> KORVAN::AttenuatorStatus Guarded(Call &&call) noexcept {
    try {
        return call();
    } catch (const std::exception &e) {
        ReportException(e.what());
    } catch (...) {
        ReportException("unknown exception");
    }
    return KORVAN::SerialUndefinedError;
}

// Connect that answers false when it threw. The library keeps a port whose setting or handshake threw;
// it is closed again, so that a failed attempt leaves the handle closed as any other failed attempt does.
bool Connect(KORVAN::Optivane &device, const std::string &portName) noexcept;
void Disconnect(KORVAN::Optivane &device) noexcept;

} // namespace devicecall
