// The program end to end, from the port selector to the Control page: what the window shows after each
// click and key, and what the simulated attenuator received.
#include <QtTest>

#include "E2eMain.h"
#include "ProgramRig.h"

namespace {

const QString kPort = QStringLiteral("COM3");
const QString kTitle = QStringLiteral("[COM3] - KORVAN Luxora");

} // namespace

class ControlTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramRig> rig;

    // Starts with the simulator already registered, so that the start-up auto-connection finds it.
    bool StartConnected() {
        rig->addSimulator(kPort);
        return rig->startConnected(kPort) && rig->showTab(QStringLiteral("controlTab"));
    }

private slots:
    void init() { rig = std::make_unique<ProgramRig>(); }
    void cleanup() { rig.reset(); }

    void choosingThePortConnectsTheDevice() {
        QVERIFY(rig->start());
        QCOMPARE(rig->window()->title(), QString("KORVAN Luxora"));
        QVERIFY(!rig->item("stopButton")->isVisible());
        QVERIFY(!rig->item("aliasEditor")->isVisible());
        QVERIFY(!rig->item("controlPanel")->isEnabled());

        // Plugged in after start-up: only a scan of the open selector finds it.
        Simulator &simulator = rig->addSimulator(kPort);
        QVERIFY(rig->choosePort(kPort));
        QVERIFY(rig->waitForConnection(kPort));
        QCOMPARE(rig->window()->title(), kTitle);
        QCOMPARE(rig->text("statusText"), QString("Ok"));
        QCOMPARE(rig->property("portSelector", "currentText").toString(), kPort);
        QVERIFY(rig->item("stopButton")->isVisible());
        QVERIFY(rig->item("aliasEditor")->isVisible());
        // The handshake, the identity read for the report and the polls all reached the device.
        QVERIFY(ContainsRequest(simulator, "0in"));
        QVERIFY(ContainsRequest(simulator, "0go"));
        QVERIFY(ContainsRequest(simulator, "0gs"));
    }

    void changeTcDrivesTheMotorAndTheMonitorShowsIt() {
        QVERIFY(StartConnected());
        Simulator &simulator = rig->simulator(kPort);

        QVERIFY(rig->enter("changeTcField", "50"));
        // 50 % lies half-way along the 45 degrees, at 22.5 degrees: 8960 steps.
        QTRY_COMPARE(SimulatorPosition(simulator), 8960LL);
        QVERIFY(ContainsRequest(simulator, "0ma00002300"));
        QTRY_COMPARE(rig->text("flatMainText"), QString("50%"));
        QCOMPARE(rig->text("flatSecondText"), QString("deg: 22.5°"));
        QCOMPARE(rig->text("flatStepsText"), QString("STEPS: 8960"));
        // The field empties and hints the new value.
        QQuickItem *field = rig->item("field", rig->item("changeTcField"));
        QCOMPARE(field->property("text").toString(), QString());
        QCOMPARE(field->property("placeholderText").toString(), QString("50"));

        // A taller window has room for the circular instrument, which shows the same reading.
        rig->window()->resize(rig->window()->width(), 900);
        QTRY_VERIFY(rig->item("degreeDial")->isVisible());
        QVERIFY(!rig->item("flatGauge")->isVisible());
        QCOMPARE(rig->text("circularTransmittanceText"), QString("50%"));
        QCOMPARE(rig->text("circularStepsText"), QString("STEPS: 8960"));

        // Out of the validator's range: the field clears itself and nothing is sent.
        const std::size_t moves = CountRequests(simulator, "0ma");
        QVERIFY(rig->enter("changeTcField", "150"));
        QCOMPARE(field->property("text").toString(), QString());
        QVERIFY(rig->enter("changeTcField", "0"));
        QTRY_COMPARE(SimulatorPosition(simulator), 0LL);
        QCOMPARE(CountRequests(simulator, "0ma"), moves + 1);
    }

    void presetsAreAddedAppliedAndLimitedByTheRange() {
        QVERIFY(StartConnected());
        Simulator &simulator = rig->simulator(kPort);

        QVERIFY(rig->click("addPresetButton"));
        QTRY_VERIFY(rig->property("addPresetPopup", "opened").toBool());
        QQuickItem *addField = rig->item("field", rig->item("addPresetField"));
        QTRY_VERIFY(addField->hasActiveFocus());
        rig->typeText("25");
        QVERIFY(rig->click("addPresetConfirm"));
        QTRY_VERIFY(!rig->property("addPresetPopup", "visible").toBool());
        QTRY_COMPARE(rig->text("preset_0"), QString("25%"));

        // Return in the popup's field adds as well; the grid keeps its presets in ascending order.
        QVERIFY(rig->click("addPresetButton"));
        QTRY_VERIFY(rig->property("addPresetPopup", "opened").toBool());
        QTRY_VERIFY(addField->hasActiveFocus());
        rig->typeText("60");
        rig->pressKey(Qt::Key_Return);
        QTRY_VERIFY(!rig->property("addPresetPopup", "visible").toBool());
        QTRY_COMPARE(rig->text("preset_1"), QString("60%"));
        QCOMPARE(rig->text("preset_0"), QString("25%"));

        QVERIFY(rig->click("preset_0"));
        QTRY_VERIFY(WithinAStep(SimulatorPosition(simulator), StepsForPercent(25)));
        QTRY_COMPARE(rig->text("flatMainText"), QString("25%"));

        // A minimum above the present transmittance pulls the attenuator up to it and disables the preset
        // below it.
        QVERIFY(rig->enter("minRangeField", "30"));
        QTRY_VERIFY(WithinAStep(SimulatorPosition(simulator), StepsForPercent(30)));
        QTRY_COMPARE(rig->text("flatMainText"), QString("30%"));
        QCOMPARE(rig->property("field", "placeholderText", rig->item("minRangeField")).toString(), QString("30"));
        QQuickItem *low = rig->item("preset_0");
        QQuickItem *high = rig->item("preset_1");
        QVERIFY(!low->isEnabled());
        QVERIFY(!low->property("highlighted").toBool());
        QVERIFY(high->isEnabled());
        QVERIFY(high->property("highlighted").toBool());

        // A click on the disabled preset sends nothing: the next move the device sees is the 60 % preset's.
        const std::size_t moves = CountRequests(simulator, "0ma");
        rig->clickRegardless(low);
        QVERIFY(rig->click(high));
        QTRY_VERIFY(WithinAStep(SimulatorPosition(simulator), StepsForPercent(60)));
        QCOMPARE(CountRequests(simulator, "0ma"), moves + 1);

        // A maximum below the present transmittance pulls it down, and now both presets are outside.
        QVERIFY(rig->enter("maxRangeField", "50"));
        QTRY_COMPARE(SimulatorPosition(simulator), 8960LL);
        QTRY_COMPARE(rig->text("flatMainText"), QString("50%"));
        QCOMPARE(rig->property("field", "placeholderText", rig->item("maxRangeField")).toString(), QString("50"));
        QVERIFY(!high->isEnabled());
        QVERIFY(!low->isEnabled());
    }

    void pullingTheCableReturnsTheWindowToItsPlainTitle() {
        QVERIFY(StartConnected());
        QCOMPARE(rig->window()->title(), kTitle);
        QVERIFY(rig->item("controlPanel")->isEnabled());

        QCOMPARE(rig->simulator(kPort).control("hangup"), std::string("ok"));
        QTRY_COMPARE(rig->window()->title(), QString("KORVAN Luxora"));
        QTRY_VERIFY(!rig->item("stopButton")->isVisible());
        QVERIFY(!rig->item("statusLine")->isVisible());
        QVERIFY(!rig->item("aliasEditor")->isVisible());
        QVERIFY(!rig->item("controlPanel")->isEnabled());
        QVERIFY(!rig->item("flatMainText")->isVisible());
        QTRY_COMPARE(rig->property("portSelector", "currentText").toString(), QString("No connection"));
    }
};

LUXORA_E2E_MAIN(ControlTest)
#include "ControlTest.moc"
