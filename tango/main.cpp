// optivane-tango: the Tango device server of Optivane attenuators, one device per serial port.
//
//   optivane-tango INSTANCE [-file=PROPERTY_FILE] [-ORBendPoint giop:tcp:127.0.0.1:PORT] [--network]
//
// It listens on the loopback address unless told otherwise: moving a laser attenuator from the
// network is an explicit choice (--network, with an endpoint beyond loopback), never a default.
#include <cstdio>
#include <cstring>
#include <string>
#include <tango.h>
#include <vector>

#include "OptivaneClass.h"

namespace {

constexpr int kExitUsage = 2;

const char kUsage[] = R"(Usage: optivane-tango INSTANCE [Tango options] [--network]
Serves the Optivane attenuators of the server INSTANCE, one Tango device of class Optivane per
serial port (device property Port).

  -file=PATH                  device properties from a Tango property file, without a database
  -ORBendPoint giop:tcp:HOST:PORT
                              where to listen; by default 127.0.0.1 on a port the system picks
  --network                   allow an endpoint beyond the loopback address (see Tango's access
                              control before you do)
  -v[1-5]                     Tango's trace level
)";

// The host of an omniORB endpoint such as giop:tcp:127.0.0.1:10000 or giop:tcp:[::1]:10000;
// a Unix socket endpoint has none and stays on this machine.
bool IsLocalEndpoint(const std::string &endpoint) {
    const std::string tcp = "giop:tcp:";
    if (endpoint.rfind("giop:unix:", 0) == 0)
        return true;
    if (endpoint.rfind(tcp, 0) != 0)
        return false;
    std::string host = endpoint.substr(tcp.size());
    if (!host.empty() && host.front() == '[') {
        host = host.substr(1, host.find(']') == std::string::npos ? std::string::npos : host.find(']') - 1);
    } else {
        host = host.substr(0, host.rfind(':'));
    }
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

} // namespace

// Tango asks the program for its device classes.
void Tango::DServer::class_factory() {
    std::string name = "Optivane";
    add_class(std::make_unique<optivane_tango::OptivaneClass>(name).release());
}

int main(int argc, char *argv[]) {
    std::vector<std::string> args;
    bool network = false;
    bool endpointGiven = false;
    std::vector<std::string> remote;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--network") {
            network = true;
            continue;
        }
        if (arg == "-ORBendPoint" && i + 1 < argc) {
            endpointGiven = true;
            if (!IsLocalEndpoint(argv[i + 1]))
                remote.push_back(argv[i + 1]);
        }
        args.push_back(arg);
    }
    if (!remote.empty() && !network) {
        std::fprintf(stderr,
                     "optivane-tango: the endpoint %s reaches beyond this machine; add --network to allow "
                     "clients on the network to move the attenuator\n",
                     remote.front().c_str());
        return kExitUsage;
    }
    if (!endpointGiven) {
        args.push_back("-ORBendPoint");
        args.push_back("giop:tcp:127.0.0.1:");
    }

    std::vector<char *> argvTango;
    for (std::string &arg : args)
        argvTango.push_back(arg.data());
    argvTango.push_back(nullptr);
    int argcTango = static_cast<int>(args.size());
    char **argvPointer = argvTango.data();

    try {
        Tango::Util *util = Tango::Util::init(argcTango, argvPointer);
        util->server_init(false);
        std::printf("Ready to accept request\n");
        std::fflush(stdout);
        util->server_run();
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "optivane-tango: out of memory\n");
        return 1;
    } catch (const CORBA::Exception &e) {
        Tango::Except::print_exception(e);
        return 1;
    }
    Tango::Util::instance()->server_cleanup();
    return 0;
}
