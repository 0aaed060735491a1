// The program end to end on the Calibration page: the rotation controls behind their warning, the
// transmittance offset, and the mechanical calibration behind its own.
#include <QtTest>

#include "E2eMain.h"
#include "ProgramRig.h"

namespace {

const QString kPort = QStringLiteral("COM3");
// 5 degrees on the default scale of 143360 steps in 360 degrees.
constexpr long long kFiveDegreeSteps = 1991;

} // namespace

class CalibrationTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramRig> rig;

    bool StartConnected() {
        rig->addSimulator(kPort);
        return rig->startConnected(kPort);
    }

    // Turns the switch on and answers its warning with the named button.
    bool AnswerUnlock(const QString &button) {
        if (!rig->click("rotarySwitch") ||
            !ProgramRig::waitFor([&] { return rig->property("unlockPopup", "opened").toBool(); }))
            return false;
        return rig->click(button) &&
               ProgramRig::waitFor([&] { return !rig->property("unlockPopup", "visible").toBool(); });
    }

    bool AnswerCalibration(const QString &button) {
        if (!rig->click("mechanicalCalibrationButton") ||
            !ProgramRig::waitFor([&] { return rig->property("calibrationPopup", "opened").toBool(); }))
            return false;
        return rig->click(button) &&
               ProgramRig::waitFor([&] { return !rig->property("calibrationPopup", "visible").toBool(); });
    }

private slots:
    void init() { rig = std::make_unique<ProgramRig>(); }
    void cleanup() { rig.reset(); }

    void rotationUnlocksBehindItsWarningAndSetsTheOffset() {
        QVERIFY(StartConnected());
        Simulator &simulator = rig->simulator(kPort);
        // The program opens on this page, the angle first.
        QVERIFY(rig->item("calibrationTab")->property("checked").toBool());
        QTRY_COMPARE(rig->text("flatMainText"), QString("0°"));
        QQuickItem *rotationRow = rig->item("rotationRow");
        QVERIFY(!rotationRow->isEnabled());
        QVERIFY(!rig->item("setOffsetButton")->isEnabled());

        QVERIFY(AnswerUnlock("unlockCancel"));
        QVERIFY(!rig->property("rotarySwitch", "checked").toBool());
        QVERIFY(!rotationRow->isEnabled());

        QVERIFY(AnswerUnlock("unlockOk"));
        QVERIFY(rig->property("rotarySwitch", "checked").toBool());
        QVERIFY(rotationRow->isEnabled());

        QVERIFY(rig->click("rotatePlus5Button"));
        QTRY_COMPARE(SimulatorPosition(simulator), kFiveDegreeSteps);
        QVERIFY(ContainsRequest(simulator, "0ma000007C7"));
        QTRY_COMPARE(rig->text("flatMainText"), QString("5°"));
        QCOMPARE(rig->text("flatSecondText"), QString("TC: 3%"));

        // The current angle becomes the angle of zero transmittance.
        QVERIFY(rig->click("setOffsetButton"));
        QTRY_COMPARE(rig->text("offsetText"), QString("Transmittance offset: 5°"));
        QTRY_COMPARE(rig->text("flatSecondText"), QString("TC: 0%"));
        QCOMPARE(SimulatorPosition(simulator), kFiveDegreeSteps);

        // Any angle, typed; a lone minus sign is not a number yet and would clear the field, so the sign goes
        // in front of the digits.
        QQuickItem *degreeField = rig->item("field", rig->item("degreeField"));
        QVERIFY(rig->click(degreeField));
        QTRY_VERIFY(degreeField->hasActiveFocus());
        rig->typeText("45");
        rig->pressKey(Qt::Key_Home);
        rig->typeText("-");
        QCOMPARE(degreeField->property("text").toString(), QString("-45"));
        rig->pressKey(Qt::Key_Return);
        QTRY_COMPARE(SimulatorPosition(simulator), -17920LL);
        QVERIFY(ContainsRequest(simulator, "0maFFFFBA00"));
        QTRY_COMPARE(rig->text("flatMainText"), QString("-45°"));

        // The offset now places every transmittance: 50 % lies 22.5 degrees above 5.
        QVERIFY(rig->showTab("controlTab"));
        QVERIFY(rig->enter("changeTcField", "50"));
        QTRY_VERIFY(
            WithinAStep(SimulatorPosition(simulator), StepsForPercent(50, kFiveDegreeSteps * 360.0 / 143360.0)));
        QTRY_COMPARE(rig->text("flatMainText"), QString("50%"));

        // Leaving the page locks the rotation again.
        QVERIFY(rig->showTab("calibrationTab"));
        QVERIFY(!rig->property("rotarySwitch", "checked").toBool());
        QVERIFY(!rotationRow->isEnabled());
    }

    void mechanicalCalibrationRunsOnlyAfterItsWarning() {
        QVERIFY(StartConnected());
        Simulator &simulator = rig->simulator(kPort);
        QVERIFY(AnswerUnlock("unlockOk"));
        QVERIFY(rig->click("rotatePlus5Button"));
        QTRY_COMPARE(SimulatorPosition(simulator), kFiveDegreeSteps);

        QVERIFY(AnswerCalibration("calibrationCancel"));
        QVERIFY(!ContainsRequest(simulator, "0ho0"));
        QCOMPARE(SimulatorPosition(simulator), kFiveDegreeSteps);

        // The device homes, then the program restores the last transmittance the user set, 0 here.
        const std::size_t movesToZero = CountRequests(simulator, "0ma00000000");
        QVERIFY(AnswerCalibration("calibrationOk"));
        QTRY_VERIFY(ContainsRequest(simulator, "0ho0"));
        QTRY_COMPARE(CountRequests(simulator, "0ma00000000"), movesToZero + 1);
        QTRY_COMPARE(SimulatorPosition(simulator), 0LL);
        QTRY_COMPARE(rig->text("flatMainText"), QString("0°"));
        QCOMPARE(rig->text("statusText"), QString("Ok"));
        QVERIFY(rig->item("calibrationPage")->isEnabled());
    }

    // Drawn through the window's own renderer, which fills paths differently from the software one.
    void dialPointerIsAFilledTriangleInTheAccentColour() {
        QVERIFY(StartConnected());
        rig->window()->resize(rig->window()->width(), 760);
        QTRY_VERIFY(rig->item("degreeDial")->isVisible());
        QQuickItem *pointer = rig->item("dialPointer");
        QVERIFY(pointer);
        const QColor accent = rig->property("degreeDial", "accentColor").value<QColor>();
        // The triangle's centre of area: inside the fill, clear of its 1-pixel outline.
        QTRY_COMPARE(rig->colourAt(pointer, QPointF(0.5, 1.0 / 3.0)), accent);
    }
};

LUXORA_E2E_MAIN(CalibrationTest)
#include "CalibrationTest.moc"
