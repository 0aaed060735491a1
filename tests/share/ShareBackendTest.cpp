// luxora's own Backend on a shared port while a script moves the device through the other name.
#include <memory>

#include "BackendRig.h"
#include "SharedPort.h"
#include "optivane/optivane.h"

class ShareBackendTest : public QObject {
    Q_OBJECT

private slots:
    void theBackendReadsWhereAnotherProgramMovedTheDevice() {
        Rig rig;
        rig.addSimulator("COM5", {"--speed", "0"});
        SharedPort share("COM5", {"COM50", "COM51"});
        Backend &backend = rig.start();
        const int row = backend.getVisibleSerialPortNames()->stringList().indexOf("COM50");
        QVERIFY(row > 0);
        QVERIFY(rig.connectRow(row));
        QCOMPARE(backend.getConnectedSerialName(), QString("COM50"));

        KORVAN::Optivane script;
        QVERIFY(script.Connect("COM51"));
        QCOMPARE(script.SetMotorSteps(4321, 3500), KORVAN::Ok);
        QCOMPARE(backend.getStep(), 4321);
        // The Backend's status polls went on beside the script and kept the link up.
        QVERIFY(backend.getMotorConnected());
        QVERIFY(share.waitForLog("COM51 < 0PO000010E1\\r\\n"));
    }
};

BACKEND_TEST_MAIN(ShareBackendTest)
#include "ShareBackendTest.moc"
