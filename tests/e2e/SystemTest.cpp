// The program end to end on the System page: a maintenance routine behind its warning, the emergency stop
// that ends it, and the dark theme.
#include <QtTest>

#include "E2eMain.h"
#include "ProgramRig.h"

namespace {

const QString kPort = QStringLiteral("COM3");

} // namespace

class SystemTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramRig> rig;

    bool StartOnSystemPage(std::vector<std::string> simulatorArgs = {}) {
        rig->addSimulator(kPort, std::move(simulatorArgs));
        return rig->startConnected(kPort) && rig->showTab(QStringLiteral("systemTab"));
    }

    // Opens the warning of a routine's button and answers it with the named button.
    bool AnswerMaintenance(const QString &routineButton, const QString &answer) {
        if (!rig->click(routineButton) ||
            !ProgramRig::waitFor([&] { return rig->property("maintenancePopup", "opened").toBool(); }))
            return false;
        return rig->click(answer) &&
               ProgramRig::waitFor([&] { return !rig->property("maintenancePopup", "visible").toBool(); });
    }

    bool PagesEnabled() const {
        return rig->item("maintenanceRow")->isEnabled() && rig->item("controlPanel")->isEnabled() &&
               rig->item("calibrationPage")->isEnabled();
    }

    bool PagesDisabled() const {
        return !rig->item("maintenanceRow")->isEnabled() && !rig->item("controlPanel")->isEnabled() &&
               !rig->item("calibrationPage")->isEnabled();
    }

private slots:
    void init() { rig = std::make_unique<ProgramRig>(); }
    void cleanup() { rig.reset(); }

    void aRoutineRunsBehindItsWarningAndStopEndsIt() {
        QVERIFY(StartOnSystemPage({"--maintenance-seconds", "600"}));
        Simulator &simulator = rig->simulator(kPort);
        QVERIFY(PagesEnabled());

        QVERIFY(AnswerMaintenance("startCleaningButton", "maintenanceCancel"));
        QVERIFY(!ContainsRequest(simulator, "0cm"));
        QCOMPARE(simulator.control("get maintenance"), std::string("ok 0"));

        QVERIFY(rig->click("startCleaningButton"));
        QTRY_VERIFY(rig->property("maintenancePopup", "opened").toBool());
        QVERIFY(rig->text("maintenanceMessage").contains("Press STOP button above"));
        QVERIFY(rig->click("maintenanceStart"));
        QTRY_VERIFY(ContainsRequest(simulator, "0cm"));
        QCOMPARE(simulator.control("get maintenance"), std::string("ok 1"));
        // A popup that is still fading out would take the next click.
        QTRY_VERIFY(!rig->property("maintenancePopup", "visible").toBool());

        // The device answers the start with Busy while the routine runs: from then on the program takes no
        // command but STOP.
        QTRY_VERIFY(PagesDisabled());
        QCOMPARE(rig->text("statusText"), QString("Busy"));
        QCOMPARE(rig->property("statusText", "color").value<QColor>(), QColor("#CE2029"));
        QVERIFY(!ContainsRequest(simulator, "0st"));
        const std::size_t movesToZero = CountRequests(simulator, "0ma00000000");

        // STOP stops the device and drives the transmittance to zero.
        QVERIFY(rig->click("stopButton"));
        QTRY_VERIFY(PagesEnabled());
        QVERIFY(ContainsRequest(simulator, "0st"));
        QCOMPARE(simulator.control("get maintenance"), std::string("ok 0"));
        QVERIFY(CountRequests(simulator, "0ma00000000") > movesToZero);
        QTRY_COMPARE(rig->text("statusText"), QString("Ok"));
    }

    void darkModeRecoloursTheWindow() {
        QVERIFY(StartOnSystemPage());
        QQuickItem *box = nullptr;
        // The list builds its rows once it has been laid out.
        QTRY_VERIFY((box = rig->item("darkModeCheckBox")) != nullptr);
        QVERIFY(!box->property("checked").toBool());
        // Blank places: right of the short "Dark mode" text, and left of the first tab's label.
        const QPointF besideText(0.85, 0.5);
        const QPointF tabBarEdge(0.02, 0.5);
        const QColor lightWindow = rig->window()->color();
        const QColor lightPane = rig->colourAt(box, besideText);
        QVERIFY(lightPane.lightness() > 200);

        QVERIFY(rig->click(box));
        QTRY_VERIFY(rig->backend().getDarkMode());
        QTRY_VERIFY(rig->colourAt(box, besideText).lightness() < 80);
        QVERIFY(rig->window()->color().lightness() < lightWindow.lightness());
        QVERIFY(box->property("checked").toBool());
        // The tab bar follows the theme as well.
        QVERIFY(rig->colourAt(rig->item("tabBar"), tabBarEdge).lightness() < 80);
        QVERIFY(rig->showTab("aboutTab"));
        QTRY_COMPARE(rig->property("logo", "source").toUrl(), QUrl("qrc:/assets/logo-white.png"));

        QVERIFY(rig->showTab("systemTab"));
        box = rig->item("darkModeCheckBox");
        QVERIFY(rig->click(box));
        QTRY_VERIFY(!rig->backend().getDarkMode());
        QTRY_COMPARE(rig->colourAt(box, besideText), lightPane);
        QCOMPARE(rig->window()->color(), lightWindow);
    }
};

LUXORA_E2E_MAIN(SystemTest)
#include "SystemTest.moc"
