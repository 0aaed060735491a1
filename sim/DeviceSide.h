// The simulator's own names for the pieces it shares with the port sharer (the deviceside library).
#pragma once

#include "Clock.h"
#include "PortLink.h"
#include "RequestParser.h"
#include "StopSignals.h"
#include "Text.h"

namespace sim {

using deviceside::Clock;
using deviceside::Command;
using deviceside::Duration;
using deviceside::escapeBytes;
using deviceside::isHexDigit;
using deviceside::isPortName;
using deviceside::kByteTime;
using deviceside::parseInteger;
using deviceside::parseNumber;
using deviceside::PortLink;
using deviceside::Request;
using deviceside::RequestParser;
using deviceside::seconds;
using deviceside::StopSignals;
using deviceside::TimePoint;
using deviceside::unescapeText;

} // namespace sim
