// Time from a click on STOP to the stop or move request reaching the device, with the click landing while
// the monitor's status poll is on the wire. The whole program runs in this process in a real window (run it
// under xvfb-run), against a simulator with 9600-baud byte timing; the click is a real mouse click on the
// button, the arrival the simulator's transcript stamp on the same monotonic clock.
//
//   bench-luxora-stop [presses]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <QGuiApplication>
#include <QTest>

#include "Figures.h"
#include "ProgramRig.h"
#include "shell/Startup.h"

namespace {

// Time to aim ahead, so that the wait before a click is never cut short by event processing.
constexpr double kLeadSeconds = 0.080;

bool IsStopOrMove(const bench::WireLine &line) {
    return line.direction == '>' && (line.text == "0st" || line.text.rfind("0ma", 0) == 0);
}

} // namespace

int main(int argc, char **argv) {
    startup::PrepareApplication();
    QGuiApplication app(argc, argv);
    startup::ApplyIdentity();
    std::FILE *errors = bench::DivertProgramLog();
    const int presses = argc > 1 ? std::atoi(argv[1]) : 30;
    if (presses <= 0) {
        std::fprintf(errors, "usage: xvfb-run -a bench-luxora-stop [presses]\n");
        return 2;
    }

    try {
        ProgramRig rig;
        Simulator &simulator = rig.addSimulator(QStringLiteral("COM1"), {}, true);
        if (!rig.start() || !rig.waitForConnection(QStringLiteral("COM1"))) {
            std::fprintf(errors, "bench-luxora-stop: the program did not connect to the simulator\n");
            return 1;
        }
        const bench::WireClock clock(simulator);
        QQuickItem *stop = rig.item(QStringLiteral("stopButton"));
        if (!rig.usable(stop)) {
            std::fprintf(errors, "bench-luxora-stop: no usable STOP button\n");
            return 1;
        }
        rig.waitForFrame();
        const QPoint centre = stop->mapToScene(QPointF(stop->width() / 2, stop->height() / 2)).toPoint();
        QTest::mouseMove(rig.window(), centre);
        QTest::qWait(1000);

        std::mt19937 random(20240117);
        std::vector<double> latencyMs;
        std::vector<double> pollLeftMs;
        std::vector<double> beyondLineMs;
        std::vector<double> exchangeMs;
        int attempts = 0;
        while (static_cast<int>(latencyMs.size()) < presses && attempts < presses * 4) {
            const std::optional<bench::Cycle> cycle = bench::MonitorCycle(clock.read(), bench::Now() + kLeadSeconds);
            if (!cycle) {
                QTest::qWait(100);
                continue;
            }
            const double aim =
                cycle->nextPollAt + std::uniform_real_distribution<double>(0.1, 0.9)(random) * cycle->exchange;

            ++attempts;
            bench::WaitUntil(aim);
            const double pressed = bench::Now();
            // Button's clicked comes with the release; EmergencyStop has run on this thread when this returns.
            QTest::mouseClick(rig.window(), Qt::LeftButton, Qt::NoModifier, centre);
            QTest::qWait(20);

            const std::vector<bench::WireLine> lines = clock.read();
            const std::vector<bench::Poll> polls = bench::StatusPolls(lines);
            const auto inFlight = std::find_if(polls.begin(), polls.end(), [&](const bench::Poll &poll) {
                return poll.writtenAt <= pressed && pressed < poll.answeredAt;
            });
            const auto request = std::find_if(lines.begin(), lines.end(), [&](const bench::WireLine &line) {
                return line.at > pressed && IsStopOrMove(line);
            });
            if (inFlight == polls.end() || request == lines.end())
                continue;
            latencyMs.push_back((request->at - pressed) * 1000.0);
            pollLeftMs.push_back((inFlight->answeredAt - pressed) * 1000.0);
            beyondLineMs.push_back(latencyMs.back() - pollLeftMs.back() - bench::WireSeconds(11) * 1000.0);
            exchangeMs.push_back((inFlight->answeredAt - inFlight->writtenAt) * 1000.0);
        }

        const double exchange = bench::Median(exchangeMs);
        std::printf("STOP click to the first stop/move request complete at the simulator, 9600 baud, "
                    "QT_QPA_PLATFORM=%s; %zu clicks during a status poll (%d tried), clock offset +-%.3f ms; %s\n",
                    qPrintable(QGuiApplication::platformName()), latencyMs.size(), attempts,
                    clock.uncertainty() * 1000.0, bench::LoadNote().c_str());
        bench::PrintFigures("status poll exchange", exchangeMs, "ms", "-");
        bench::PrintFigures("poll still on the wire at the click", pollLeftMs, "ms", "-");
        char target[64];
        std::snprintf(target, sizeof target, "< %.1f ms: one exchange + 20 ms", exchange + 20.0);
        bench::PrintFigures("click to request", latencyMs, "ms", target);
        // What the line itself demands: the rest of the poll, then the request, "0ma" and 8 digits.
        bench::PrintFigures("click to request, beyond the poll's rest and the request's 11.5 ms on the line",
                            beyondLineMs, "ms", "-");
        if (static_cast<int>(latencyMs.size()) < presses) {
            std::fprintf(errors, "bench-luxora-stop: only %zu of %d clicks landed during a poll\n", latencyMs.size(),
                         presses);
            return 1;
        }
    } catch (const std::exception &e) {
        std::fprintf(errors, "bench-luxora-stop: %s\n", e.what());
        return 1;
    }
    return 0;
}
