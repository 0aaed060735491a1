// Each dialect's commands, as one table row, and the reading of its replies.
#pragma once

#include <string>

#include "powermeter/PowerMeter.h"

namespace powermeter {

// A command the dialect lacks is nullptr.
struct Dialect {
    Kind kind;
    const char *name;
    const char *identity;
    const char *sensorIdentity;
    const char *power;
    const char *setWavelength; // followed by " NM"
    const char *wavelength;
    const char *wavelengthMin;
    const char *wavelengthMax;
    const char *autoRange;
    const char *average; // followed by " COUNT"
    const char *zero;
    const char *error; // asked after every setting
};

const Dialect &DialectOf(Kind kind);

// A plain number reply (a wavelength, an error code's text aside): finite, or MeterError naming the meter.
double ParseNumberReply(const std::string &reply, const std::string &name, const char *what);
// An identity line as the meter sent it, without the dialect's reply marker.
std::string IdentityText(Kind kind, const std::string &reply);
// Whether an error query's reply says "no error"; the reply is the message otherwise.
bool NoErrorReply(const std::string &reply);

} // namespace powermeter
