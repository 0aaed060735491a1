// What each dialect's replies and each address mean: a number in watts or an error naming the meter.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "powermeter/PowerMeter.h"

namespace {

using powermeter::Kind;
using powermeter::MeterAddress;
using powermeter::MeterError;

const std::string kName = "thorlabs meter at usbtmc:/dev/usbtmc0";

TEST(PowerReply, GoodRepliesGiveWatts) {
    const struct {
        Kind kind;
        const char *reply;
        double watts;
    } cases[] = {
        {Kind::Thorlabs, "1.234567E-03", 1.234567e-3},
        {Kind::Thorlabs, "+9.095332E-06\r", 9.095332e-6},
        {Kind::Thorlabs, "0.000000E+00", 0.0},
        {Kind::Newport, "1.2450E-03", 1.245e-3},
        {Kind::Ophir, "*1.234E-3", 1.234e-3},
        {Kind::Ophir, "* 5.000E0", 5.0},
        {Kind::Gentec, "Current Value : 0.00500095", 0.00500095},
        {Kind::Gentec, "1e-08", 1e-8},
    };
    for (const auto &c : cases)
        EXPECT_DOUBLE_EQ(powermeter::ParsePowerReply(c.kind, c.reply, kName), c.watts) << c.reply;
}

TEST(PowerReply, BadRepliesAreErrorsNamingTheMeter) {
    const struct {
        Kind kind;
        const char *reply;
        const char *reason;
    } cases[] = {
        {Kind::Thorlabs, "", "empty reply"},
        {Kind::Thorlabs, "#\x7f?E+", "is no number"},
        {Kind::Thorlabs, "1.2E-3 W", "is no number"},
        {Kind::Thorlabs, "0x1p-3", "is no number"},
        {Kind::Thorlabs, "9.900000E+37", "over range"},
        {Kind::Thorlabs, "9.910000E+37", "not a number"},
        {Kind::Thorlabs, "-1.5E-06", "negative"},
        {Kind::Thorlabs, "NaN", "not a number"},
        {Kind::Newport, "inf", "infinite"},
        {Kind::Newport, "OVER RANGE", "over range"},
        {Kind::Ophir, "*OVER", "over range"},
        {Kind::Ophir, "1.234E-3", "is no number"}, // the reply marker is missing
        {Kind::Ophir, "?BAD COMMAND", "is no number"},
        {Kind::Gentec, "Current Value : -0.001", "negative"},
        {Kind::Gentec, "Current Value : nan", "not a number"},
        {Kind::Gentec, "Command error", "is no number"},
    };
    for (const auto &c : cases) {
        try {
            const double watts = powermeter::ParsePowerReply(c.kind, c.reply, kName);
            ADD_FAILURE() << "'" << c.reply << "' gave " << watts;
        } catch (const MeterError &error) {
            const std::string what = error.what();
            EXPECT_EQ(what.rfind(kName + ": ", 0), 0u) << what;
            EXPECT_NE(what.find(c.reason), std::string::npos) << what;
        }
    }
}

TEST(MeterKind, NamesBothWays) {
    for (Kind kind : {Kind::Thorlabs, Kind::Newport, Kind::Ophir, Kind::Gentec})
        EXPECT_EQ(powermeter::KindFromName(powermeter::KindName(kind)), kind);
    EXPECT_EQ(powermeter::KindFromName("Ophir"), Kind::Ophir);
    EXPECT_FALSE(powermeter::KindFromName("keysight"));
}

TEST(MeterAddress, GoodAddressesTakenApart) {
    using Scheme = MeterAddress::Scheme;
    const struct {
        const char *text;
        Scheme scheme;
        const char *where; // path or host
        int number;        // baud or port
    } cases[] = {
        {"usbtmc:/dev/usbtmc0", Scheme::Usbtmc, "/dev/usbtmc0", 0},
        {"serial:/dev/ttyUSB1:115200", Scheme::Serial, "/dev/ttyUSB1", 115200},
        {"serial:COM7:9600", Scheme::Serial, "COM7", 9600},
        {"serial:/dev/ttyS0", Scheme::Serial, "/dev/ttyS0", MeterAddress::kDefaultBaud},
        {"tcp:192.168.1.20:5025", Scheme::Tcp, "192.168.1.20", 5025},
        {"TCP:meter.lab", Scheme::Tcp, "meter.lab", MeterAddress::kDefaultTcpPort},
        {"tcp:[::1]:6000", Scheme::Tcp, "::1", 6000},
    };
    for (const auto &c : cases) {
        const MeterAddress address = powermeter::ParseAddress(c.text);
        EXPECT_EQ(address.scheme, c.scheme) << c.text;
        const bool tcp = c.scheme == Scheme::Tcp;
        EXPECT_EQ(tcp ? address.host : address.path, c.where) << c.text;
        EXPECT_EQ(tcp ? address.port : address.baud, c.number) << c.text;
    }
}

TEST(MeterAddress, BadAddressesRefusedWithTheReason) {
    const struct {
        const char *text;
        const char *reason;
    } cases[] = {
        {"/dev/usbtmc0", "no transport"},
        {"usb:/dev/usbtmc0", "unknown transport"},
        {"usbtmc:", "no device"},
        {"serial::9600", "no port"},
        {"serial:/dev/ttyUSB0:12345", "baud"},
        {"serial:/dev/ttyUSB0:fast", "baud"},
        {"tcp:", "no host"},
        {"tcp:host:", "no port"},
        {"tcp:host:70000", "not 1..65535"},
        {"tcp:host:0", "not 1..65535"},
        {"tcp:[::1", "']'"},
        {"tcp:::1:5025", "no host"},
    };
    for (const auto &c : cases) {
        try {
            powermeter::ParseAddress(c.text);
            ADD_FAILURE() << c.text << " parsed";
        } catch (const MeterError &error) {
            const std::string what = error.what();
            EXPECT_EQ(what.rfind(std::string(c.text) + ": ", 0), 0u) << what;
            EXPECT_NE(what.find(c.reason), std::string::npos) << what;
        }
    }
}

} // namespace
