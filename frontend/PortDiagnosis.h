// The ports that exist now, and why a port did not open, in words a user can act on.
#pragma once

#include <string>
#include <vector>

namespace frontend {

// The COM names whose entries lead to a serial device, in number order.
std::vector<std::string> ExistingPorts();

enum class ConnectFailure {
    NoSuchPort,       // no entry, or its device is not there
    PermissionDenied, // the user may not open the device
    InUse,            // another program holds the port
    NoAnswer,         // the port opened but no attenuator answered
};

struct Diagnosis {
    ConnectFailure reason;
    std::string message; // one line, starting with the port's name
};

// Called after KORVAN::Optivane::Connect returned false: looks at the port again to tell the reasons
// apart, without keeping it open. Connect itself only says whether it succeeded.
Diagnosis DiagnoseConnectFailure(const std::string &port);

// "no-such-port", "permission-denied", "in-use", "no-answer".
const char *ReasonName(ConnectFailure reason);

} // namespace frontend
