// The Tango server's cost over the library, at 9600 baud against the simulator: a Transmittance read
// through Tango beside GetTransmittance on a handle of its own, and the time from a Transmittance write
// to the State event ON beside the library's own SetTransmittance of the same move.
//
//   bench-tango [read rounds, default 200] [move rounds, default 20]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <tango.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

#include "ChildProcess.h"
#include "Simulator.h"
#include "TempXdg.h"
#include "optivane/optivane.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    double min, median, p90, max;
};

Figures Summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms.front(), ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back()};
}

void Print(const char *what, const Figures &f) {
    std::printf("  %-44s min %7.3f  median %7.3f  p90 %7.3f  max %7.3f ms\n", what, f.min, f.median, f.p90, f.max);
}

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t size = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &size);
    ::close(s);
    return ntohs(a.sin_port);
}

// optivane-tango with one device on the port, in file-database mode; ended with the object.
class Server {
public:
    Server(const std::string &folder, const std::string &port, int pollPeriodMs)
        : port_(FreePort()), process_(args(folder, port, pollPeriodMs)) {}
    std::string device() const { return "tango://127.0.0.1:" + std::to_string(port_) + "/bench/optivane/1#dbase=no"; }

private:
    std::vector<std::string> args(const std::string &folder, const std::string &port, int pollPeriodMs) const {
        const std::string file = folder + "/bench-" + std::to_string(port_) + ".db";
        std::ofstream(file) << "optivane-tango/bench/DEVICE/Optivane: \"bench/optivane/1\"\n"
                            << "bench/optivane/1->Port: " << port << "\n"
                            << "bench/optivane/1->PollPeriodMs: " << pollPeriodMs << "\n";
        return {OPTIVANE_TANGO_PATH, "bench", "-file=" + file, "-ORBendPoint",
                "giop:tcp:127.0.0.1:" + std::to_string(port_)};
    }

    int port_;
    ChildProcess process_;
};

std::unique_ptr<Tango::DeviceProxy> Connect(const Server &server) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    for (;;) {
        try {
            std::string name = server.device();
            auto proxy = std::make_unique<Tango::DeviceProxy>(name);
            proxy->ping();
            while (proxy->state() != Tango::ON) {
                if (Clock::now() > deadline)
                    throw std::runtime_error("the device did not come ON");
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            return proxy;
        } catch (const Tango::DevFailed &) {
            if (Clock::now() > deadline)
                throw std::runtime_error("optivane-tango did not start");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

// The State events of one device, with the time each arrived.
class StateEvents : public Tango::CallBack {
public:
    void push_event(Tango::EventData *event) override {
        if (event->err)
            return;
        Tango::DevState state;
        *event->attr_value >> state;
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back({Clock::now(), state});
        changed_.notify_all();
    }
    // When ON arrived after a MOVING that arrived after start.
    Clock::time_point waitForOnAfterMoving(Clock::time_point start) {
        std::unique_lock<std::mutex> lock(mutex_);
        Clock::time_point on{};
        const bool done = changed_.wait_for(lock, std::chrono::seconds(20), [&] {
            bool moving = false;
            for (const auto &e : events_) {
                if (e.at < start)
                    continue;
                if (e.state == Tango::MOVING)
                    moving = true;
                else if (moving && e.state == Tango::ON) {
                    on = e.at;
                    return true;
                }
            }
            return false;
        });
        if (!done)
            throw std::runtime_error("no ON after the move");
        return on;
    }

private:
    struct Event {
        Clock::time_point at;
        Tango::DevState state;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

void Reads(const std::string &folder, int rounds, int pollPeriodMs) {
    // Each side its own simulator at 9600 baud; rounds alternate so that the machine's load weighs alike.
    Simulator tangoSim({"--position", "12942"}, true);
    Simulator librarySim({"--position", "12942"}, true);
    Server server(folder, tangoSim.ptyPath(), pollPeriodMs);
    auto proxy = Connect(server);
    KORVAN::Optivane handle;
    if (!handle.Connect(librarySim.ptyPath()))
        throw std::runtime_error("the library did not connect");

    std::vector<double> viaTango;
    std::vector<double> viaLibrary;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        Tango::DeviceAttribute attribute = proxy->read_attribute("Transmittance");
        viaTango.push_back(Ms(Clock::now() - start));
        if (attribute.get_quality() != Tango::ATTR_VALID)
            throw std::runtime_error("a Tango read was not valid");
        float transmittance = 0.0f;
        start = Clock::now();
        if (handle.GetTransmittance(&transmittance, 0.0, 45.0, 3500) != KORVAN::Ok)
            throw std::runtime_error("a library read failed");
        viaLibrary.push_back(Ms(Clock::now() - start));
    }
    const Figures tango = Summarise(viaTango);
    const Figures library = Summarise(viaLibrary);
    Print("Tango read_attribute(\"Transmittance\")", tango);
    Print("library GetTransmittance", library);
    std::printf("  %-44s median %+.3f ms (target at most +1 ms)\n", "Tango over library",
                tango.median - library.median);
}

void Moves(const std::string &folder, int rounds) {
    Simulator tangoSim({}, true);
    Simulator librarySim({}, true);
    Server server(folder, tangoSim.ptyPath(), 250);
    auto proxy = Connect(server);
    KORVAN::Optivane handle;
    if (!handle.Connect(librarySim.ptyPath()))
        throw std::runtime_error("the library did not connect");
    // Between 0.2 and 0.8: 18.4 degrees each way at the simulator's 90 degrees per second.
    const double targets[] = {0.2, 0.8};
    handle.SetTransmittance(0.8f, 0.0, 45.0, 3500);
    {
        // The write leaves the device MOVING before it returns.
        Tango::DeviceAttribute attribute("Transmittance", 0.8);
        proxy->write_attribute(attribute);
        while (proxy->state() != Tango::ON)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<double> viaTango;
    std::vector<double> viaLibrary;
    // Debian's Tango 9.3.4 client crashes when an event subscription to a server without a database
    // outlives its first keep-alive check (about 10 s), so each subscription serves a few moves only.
    constexpr int kMovesPerSubscription = 4;
    for (int done = 0; done < rounds;) {
        StateEvents events;
        const int subscription = proxy->subscribe_event("State", Tango::CHANGE_EVENT, &events);
        for (int i = 0; i < kMovesPerSubscription && done < rounds; ++i, ++done) {
            const double target = targets[done % 2];
            // Wait out the poll that follows every move, so each write meets the device idle.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            auto start = Clock::now();
            Tango::DeviceAttribute attribute("Transmittance", target);
            proxy->write_attribute(attribute);
            viaTango.push_back(Ms(events.waitForOnAfterMoving(start) - start));
            start = Clock::now();
            if (handle.SetTransmittance(static_cast<float>(target), 0.0, 45.0, 3500) != KORVAN::Ok)
                throw std::runtime_error("a library move failed");
            viaLibrary.push_back(Ms(Clock::now() - start));
        }
        proxy->unsubscribe_event(subscription);
    }
    const Figures tango = Summarise(viaTango);
    const Figures library = Summarise(viaLibrary);
    Print("Tango write to State event ON", tango);
    Print("library SetTransmittance", library);
    std::printf("  %-44s median %+.3f ms (target at most +1 ms)\n", "Tango over library",
                tango.median - library.median);
}

} // namespace

int main(int argc, char **argv) {
    const int readRounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    const int moveRounds = argc > 2 ? std::max(4, std::atoi(argv[2])) : 20;
    try {
        TempXdg xdg;
        std::printf("(a) Transmittance read, 9600 baud, %d rounds each, device polled every 250 ms\n", readRounds);
        Reads(xdg.root(), readRounds, 250);
        std::printf("(b) the same with the device's polls 60 s apart: the server's own cost alone\n");
        Reads(xdg.root(), readRounds, 60000);
        std::printf("(c) move of 18.4 degrees, 9600 baud, 90 degrees/s, %d rounds each\n", moveRounds);
        Moves(xdg.root(), moveRounds);
    } catch (const Tango::DevFailed &e) {
        Tango::Except::print_exception(e);
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench-tango: %s\n", e.what());
        return 1;
    }
    return 0;
}
