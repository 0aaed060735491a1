// Every Backend command that reaches the device, against every fault the simulator can inject, aimed at
// the command's first exchange: the command returns within that exchange's limit, the Backend shows the
// status the rules give, and the device is connected, idle and obeying again once the fault clears.
#include <cstdio>

#include "BackendRig.h"
#include "FaultDrill.h"

class BackendFaultMatrixTest : public QObject {
    Q_OBJECT

private slots:
    void everyCommandAgainstTheFault_data() {
        QTest::addColumn<int>("fault");
        for (std::size_t i = 0; i < DrillFaults().size(); ++i) {
            QTest::newRow(DrillFaults()[i].name) << int(i);
        }
    }

    void everyCommandAgainstTheFault() {
        QFETCH(int, fault);
        const DrillFault &injected = DrillFaults().at(static_cast<std::size_t>(fault));
        DrillRig rig;
        int pairs = 0;
        int held = 0;
        int retried = 0;
        for (const DrillCommand &command : DrillCommands()) {
            ++pairs;
            const PairResult result = RunPair(rig, command, &injected);
            if (result.retried) {
                ++retried;
                std::fprintf(stderr, "tried twice: %s / %s (first attempt %lld ms)\n", command.name, injected.name,
                             result.firstMs);
            }
            if (result.held()) {
                ++held;
            } else {
                // The log's message handler keeps only its own record types; this goes to the console.
                std::fprintf(stderr, "not held: %s / %s: %s\n", command.name, injected.name, qPrintable(result.detail));
            }
        }
        std::printf("backend fault matrix, %s: %d command/fault pairs, %d held (%d tried twice)\n", injected.name,
                    pairs, held, retried);
        std::fflush(stdout);
        QCOMPARE(held, pairs);
    }
};

BACKEND_TEST_MAIN(BackendFaultMatrixTest)
#include "BackendFaultMatrixTest.moc"
