// luxora-screenshots OUTDIR: renders the program, set up as main sets it up and connected to the simulator,
// and writes one PNG per tab in the light and the dark theme, plus the flat monitor of a low window.
#include <cstdio>
#include <stdexcept>

#include <QDir>
#include <QGuiApplication>
#include <QTest>

#include "ProgramRig.h"
#include "shell/Startup.h"

namespace {

const QString kPort = QStringLiteral("COM3");
// Tall enough for the circular monitor on both tabs that show it.
constexpr int kTallHeight = 760;
// The height the window opens with, where the monitor has room for its flat form only.
constexpr int kOpeningHeight = 585;
constexpr int kSettleTimeoutMs = 5000;

void Require(bool condition, const char *what) {
    if (!condition)
        throw std::runtime_error(what);
}

// Animations (tab highlight, the readouts' pulse, fades) have ended once two frames in a row are equal.
QImage StillImage(ProgramRig &rig) {
    QImage previous = rig.grab();
    QImage still;
    ProgramRig::waitFor(
        [&] {
            QTest::qWait(100);
            QImage next = rig.grab();
            const bool same = next == previous;
            previous = next;
            if (same)
                still = next;
            return same;
        },
        kSettleTimeoutMs);
    return still.isNull() ? previous : still;
}

// A grab of one colour throughout is a window that was not drawn.
bool Drawn(const QImage &image) {
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != first)
                return true;
        }
    }
    return false;
}

void Shoot(ProgramRig &rig, const QDir &out, const QString &name) {
    const QImage image = StillImage(rig);
    Require(!image.isNull() && Drawn(image), "the window grab is empty");
    const QString path = out.absoluteFilePath(name + QStringLiteral(".png"));
    Require(image.save(path), "the window grab could not be saved");
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
}

void SetUp(ProgramRig &rig) {
    rig.addSimulator(kPort);
    Require(rig.startConnected(kPort), "the main window did not appear or the simulator did not connect");
    rig.window()->resize(rig.window()->width(), kTallHeight);
    Require(rig.enter(QStringLiteral("aliasEditor"), QStringLiteral("Bench A")), "no alias editor");

    Require(rig.showTab(QStringLiteral("controlTab")), "no Control tab");
    for (const char *preset : {"10", "25", "50", "75", "90"}) {
        Require(rig.click(QStringLiteral("addPresetButton")), "no add button");
        Require(ProgramRig::waitFor([&] { return rig.property("addPresetPopup", "opened").toBool(); }),
                "the add popup did not open");
        QQuickItem *field = rig.item(QStringLiteral("field"), rig.item(QStringLiteral("addPresetField")));
        Require(ProgramRig::waitFor([&] { return field->hasActiveFocus(); }), "the add field has no focus");
        rig.typeText(QString::fromLatin1(preset));
        rig.pressKey(Qt::Key_Return);
        Require(ProgramRig::waitFor([&] { return !rig.property("addPresetPopup", "visible").toBool(); }),
                "the add popup did not close");
    }
    Require(rig.enter(QStringLiteral("minRangeField"), QStringLiteral("20")), "no Min Range field");
    Require(rig.enter(QStringLiteral("maxRangeField"), QStringLiteral("80")), "no Max Range field");
    Require(rig.enter(QStringLiteral("changeTcField"), QStringLiteral("42.5")), "no Change TC field");
    Require(ProgramRig::waitFor([&] { return rig.text(QStringLiteral("circularTransmittanceText")) == "42.5%"; }),
            "the monitor did not show the new transmittance");
}

void ShootTabs(ProgramRig &rig, const QDir &out, const QString &theme) {
    for (const char *tab : {"control", "calibration", "system", "about"}) {
        Require(rig.showTab(QString::fromLatin1(tab) + QStringLiteral("Tab")), "a tab is missing");
        Shoot(rig, out, QString::fromLatin1(tab) + QLatin1Char('-') + theme);
    }
}

void SetDarkMode(ProgramRig &rig, bool dark) {
    Require(rig.showTab(QStringLiteral("systemTab")), "no System tab");
    QQuickItem *box = nullptr;
    Require(ProgramRig::waitFor([&] { return (box = rig.item(QStringLiteral("darkModeCheckBox"))) != nullptr; }),
            "no dark mode check box");
    Require(rig.click(box), "the dark mode check box cannot be clicked");
    Require(ProgramRig::waitFor([&] { return rig.backend().getDarkMode() == dark; }), "the theme did not change");
}

void ShootFlatMonitor(ProgramRig &rig, const QDir &out, const QString &theme) {
    rig.window()->resize(rig.window()->width(), kOpeningHeight);
    Require(rig.showTab(QStringLiteral("controlTab")), "no Control tab");
    Require(ProgramRig::waitFor([&] { return rig.item(QStringLiteral("flatGauge"))->isVisible(); }),
            "the monitor kept its circular form");
    Shoot(rig, out, QStringLiteral("control-flat-") + theme);
    rig.window()->resize(rig.window()->width(), kTallHeight);
}

} // namespace

int main(int argc, char *argv[]) {
    startup::PrepareApplication();
    QGuiApplication app(argc, argv);
    startup::ApplyIdentity();
    if (argc != 2) {
        std::fprintf(stderr, "usage: luxora-screenshots OUTDIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.absolutePath())) {
        std::fprintf(stderr, "luxora-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }
    try {
        ProgramRig rig;
        SetUp(rig);
        ShootTabs(rig, out, QStringLiteral("light"));
        ShootFlatMonitor(rig, out, QStringLiteral("light"));
        SetDarkMode(rig, true);
        ShootTabs(rig, out, QStringLiteral("dark"));
        ShootFlatMonitor(rig, out, QStringLiteral("dark"));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "luxora-screenshots: %s\n", error.what());
        return 1;
    }
    return 0;
}
