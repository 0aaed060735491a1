// Time from a hang-up of the device's line to the window's title saying the program is not connected.
// The whole program runs in this process in a real window (run it under xvfb-run), against a simulator with
// 9600-baud byte timing; each hang-up comes at a random point of the monitor's poll cycle, and the port is
// chosen again in the header's selector afterwards, as a user would.
//
//   bench-luxora-hangup [hang-ups]
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <QGuiApplication>
#include <QTest>

#include "Figures.h"
#include "ProgramRig.h"
#include "shell/Startup.h"

namespace {

const QString kPort = QStringLiteral("COM1");
const QString kUnconnectedTitle = QStringLiteral("KORVAN Luxora");
constexpr int kChoices = 3;

} // namespace

int main(int argc, char **argv) {
    startup::PrepareApplication();
    QGuiApplication app(argc, argv);
    startup::ApplyIdentity();
    std::FILE *errors = bench::DivertProgramLog();
    const int hangUps = argc > 1 ? std::atoi(argv[1]) : 20;
    if (hangUps <= 0) {
        std::fprintf(errors, "usage: xvfb-run -a bench-luxora-hangup [hang-ups]\n");
        return 2;
    }

    try {
        ProgramRig rig;
        Simulator &simulator = rig.addSimulator(kPort, {}, true);
        if (!rig.start() || !rig.waitForConnection(kPort)) {
            std::fprintf(errors, "bench-luxora-hangup: the program did not connect to the simulator\n");
            return 1;
        }
        const bench::WireClock clock(simulator);
        double titled = -1.0;
        QObject::connect(rig.window(), &QWindow::windowTitleChanged, [&titled](const QString &title) {
            if (title == kUnconnectedTitle && titled < 0)
                titled = bench::Now();
        });

        std::mt19937 random(20240117);
        std::vector<double> latencyMs;
        std::vector<double> sincePollMs;
        int reconnectRetries = 0;
        for (int round = 0; round < hangUps; ++round) {
            // Anywhere in the monitor's poll cycle, evenly.
            std::optional<bench::Cycle> cycle;
            if (!ProgramRig::waitFor([&] {
                    cycle = bench::MonitorCycle(clock.read(), bench::Now() + 0.05);
                    return cycle.has_value();
                }))
                throw std::runtime_error("the monitor does not poll");
            bench::WaitUntil(cycle->nextPollAt +
                             std::uniform_real_distribution<double>(0.0, 1.0)(random) * cycle->period);
            titled = -1.0;
            const double hungUp = bench::Now();
            if (simulator.control("hangup") != "ok")
                throw std::runtime_error("the simulator did not hang up");
            if (!ProgramRig::waitFor([&titled] { return titled >= 0; }, 10000)) {
                std::fprintf(errors, "bench-luxora-hangup: the title did not change within 10 s\n");
                return 1;
            }
            latencyMs.push_back((titled - hungUp) * 1000.0);
            double lastPoll = -1.0;
            for (const bench::Poll &poll : bench::StatusPolls(clock.read())) {
                if (poll.writtenAt < hungUp)
                    lastPoll = poll.writtenAt;
            }
            if (lastPoll >= 0)
                sincePollMs.push_back((hungUp - lastPoll) * 1000.0);

            if (simulator.control("reopen").rfind("ok ", 0) != 0)
                throw std::runtime_error("the simulator did not reopen its line");
            // The handshake has 100 ms; a simulator starved by other work on the machine can miss it, and
            // the port is then chosen again, as a user would.
            bool idle = false;
            bool chosen = false;
            bool connected = false;
            for (int attempt = 0; attempt < kChoices && !connected; ++attempt) {
                reconnectRetries += attempt > 0;
                idle = rig.waitForIdle();
                chosen = idle && rig.choosePort(kPort);
                // A failed attempt ends the busy state at once; a good one is seen by the next monitor poll.
                connected = chosen && rig.waitForIdle() && rig.waitForConnection(kPort, 3000);
            }
            if (!connected) {
                std::fprintf(errors,
                             "bench-luxora-hangup: the program did not connect again (%s; title \"%s\", status "
                             "\"%s\")\n",
                             !idle     ? "still busy"
                             : !chosen ? "the port could not be chosen"
                                       : "no connection",
                             qPrintable(rig.window()->title()), qPrintable(rig.text(QStringLiteral("statusText"))));
                const std::vector<bench::WireLine> lines = clock.read();
                std::fprintf(errors, "the simulator's last transcript lines:\n");
                for (std::size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i)
                    std::fprintf(errors, "  %.4f %c %s\n", lines[i].at - hungUp, lines[i].direction,
                                 lines[i].text.c_str());
                return 1;
            }
        }

        std::printf("hang-up to the title \"KORVAN Luxora\", 9600 baud, QT_QPA_PLATFORM=%s; %d hang-ups; %s\n",
                    qPrintable(QGuiApplication::platformName()), hangUps, bench::LoadNote().c_str());
        bench::PrintFigures("start of the last status poll before the hang-up", sincePollMs, "ms earlier", "-");
        bench::PrintFigures("hang-up to title", latencyMs, "ms", "< 300 ms");
        if (reconnectRetries > 0)
            std::printf("  the port was chosen again %d times before the program connected after a reopen\n",
                        reconnectRetries);
    } catch (const std::exception &e) {
        std::fprintf(errors, "bench-luxora-hangup: %s\n", e.what());
        return 1;
    }
    return 0;
}
