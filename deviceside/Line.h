// Serial line settings and pseudo-terminals, for the programs that stand on the device's side of a
// line: the simulator's terminal, the real port that is shared and the terminals that share it.
#pragma once

#include <string>

namespace deviceside {

// Raw bytes at 9600 baud, 8 data bits, no parity, one stop bit, no flow control, no modem control
// lines. Throws std::runtime_error.
void setLine(int fd);

struct PseudoTerminal {
    int master = -1; // non-blocking, closed on exec
    std::string slavePath;
};

// A fresh pseudo-terminal whose slave side may be opened at once. Throws std::runtime_error.
PseudoTerminal openPseudoTerminal();

} // namespace deviceside
