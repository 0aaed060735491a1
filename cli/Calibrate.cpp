// calibrate: the attenuator swept against a power meter and its real curve fitted; calibration: the
// records kept.
#include <cmath>
#include <cstdio>
#include <unistd.h>

#include "Commands.h"
#include "Output.h"
#include "Session.h"
#include "calibration/Files.h"
#include "calibration/Plot.h"
#include "calibration/Records.h"
#include "calibration/Settings.h"
#include "calibration/Sweep.h"
#include "powermeter/PowerMeter.h"
#if defined(OPTIVANE_PLOT_PNG)
#include "calibration/PlotPng.h"
#endif

namespace cli {

namespace {

// Within this, the attenuator is where it started (a step is 0.0025°).
constexpr double kSamePlaceDeg = 0.01;

std::string Watts(double watts) {
    return Format("%.4e W", watts) + " (" + Format("%.6g mW", watts * 1e3) + ")";
}

std::string Extinction(double db) {
    return std::isfinite(db) ? Format("%.2f dB", db) : std::string("inf (Pmin at or below 0 W)");
}

std::string Wavelength(double nm) {
    return nm > 0 ? Format("%g nm", nm) : std::string("unknown");
}

calibration::PngRenderer Renderer() {
#if defined(OPTIVANE_PLOT_PNG)
    return &calibration::RenderPng;
#else
    return nullptr;
#endif
}

// Refused before anything is opened, so that a typo costs no sweep.
void CheckFileNames(const Options &options) {
    if (options.plotPath.empty())
        return;
    std::string extension = options.plotPath.size() >= 4 ? options.plotPath.substr(options.plotPath.size() - 4) : "";
    for (char &c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".svg" && extension != ".png")
        throw Failure(kExitUsage, "--plot: the file's name must end in .svg or .png, got '" + options.plotPath + "'");
    if (extension == ".png" && Renderer() == nullptr)
        throw Failure(kExitUsage, "--plot: this build draws no PNG (it was built without Qt's SVG module); name the "
                                  "plot .svg");
}

// "[######......]  23/46" on standard error, redrawn in place.
class ProgressBar {
public:
    explicit ProgressBar(bool shown) : shown_(shown) {}
    ~ProgressBar() { Clear(); }
    void Show(int done, int total) {
        if (!shown_)
            return;
        constexpr int kWidth = 30;
        const int filled = total > 0 ? done * kWidth / total : 0;
        std::fprintf(stderr, "\rcalibrating [%s%s] %d/%d", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(kWidth - filled), '.').c_str(), done, total);
        std::fflush(stderr);
        drawn_ = true;
    }
    void Clear() {
        if (drawn_)
            std::fprintf(stderr, "\r\033[K");
        drawn_ = false;
    }

private:
    bool shown_;
    bool drawn_ = false;
};

void WriteCsv(const std::string &path, const std::vector<calibration::Sample> &samples,
              const calibration::CurveFit *fit) {
    std::string text = fit ? "angle_deg,power_w,fit_w,residual_w\n" : "angle_deg,power_w\n";
    for (const calibration::Sample &sample : samples) {
        text += Format("%.4f", sample.angleDeg) + "," + Format("%.9g", sample.powerW);
        if (fit) {
            const double fitted = fit->PowerAt(sample.angleDeg);
            text += "," + Format("%.9g", fitted) + "," + Format("%.6g", sample.powerW - fitted);
        }
        text += "\n";
    }
    try {
        calibration::WriteFileAtomically(path, text, 0644);
    } catch (const std::runtime_error &error) {
        throw Failure(kExitDeviceStatus, std::string("--csv: ") + error.what());
    }
}

// Where the attenuator is after the sweep, said in the words of the message that ends the command.
std::string ReturnNote(calibration::Motor &motor, double startDeg) {
    try {
        const double now = motor.AngleDeg();
        if (std::fabs(now - startDeg) <= kSamePlaceDeg)
            return "the attenuator is back where it was (" + Format("%.4f deg", startDeg) + ")";
        return "the attenuator is at " + Format("%.4f deg", now) + ", not back at " + Format("%.4f deg", startDeg);
    } catch (const std::exception &error) {
        return "whether the attenuator is back at " + Format("%.4f deg", startDeg) + " is unknown (" + error.what() +
               ")";
    }
}

} // namespace

int Calibrate(const Options &options) {
    if (options.meter.empty())
        throw Failure(kExitUsage, "calibrate needs the power meter: --meter ADDRESS (usbtmc:/dev/usbtmc0, "
                                  "serial:/dev/ttyUSB1:115200 or tcp:HOST:PORT)");
    const std::optional<powermeter::Kind> kind = powermeter::KindFromName(options.meterKind);
    if (!kind)
        throw Failure(kExitUsage,
                      "--meter-kind: expected thorlabs, newport, ophir or gentec, got '" + options.meterKind + "'");
    CheckFileNames(options);
    CatchStopSignals();

    Session session(options.operands[0], options);
    const frontend::PortProfile &profile = session.profile();
    if ((profile.rangeMin > 0.0 || profile.rangeMax < 1.0) && !options.fullRange)
        throw Failure(kExitUsage, session.port() + ": the permitted range is " + Format("%g", profile.rangeMin) +
                                      " to " + Format("%g", profile.rangeMax) +
                                      (profile.settingsPath.empty() ? "" : " (from " + profile.settingsPath + ")") +
                                      ", and a calibration opens the beam fully; give --full-range to sweep anyway");

    std::unique_ptr<powermeter::PowerMeter> meter;
    std::string identity;
    double wavelengthNm = options.wavelengthNm.value_or(0.0);
    try {
        meter = powermeter::PowerMeter::Open(options.meter, *kind);
        identity = meter->Identity();
        if (meter->HasWavelength()) {
            if (options.wavelengthNm)
                meter->SetWavelengthNm(*options.wavelengthNm);
            wavelengthNm = meter->WavelengthNm();
        } else if (options.wavelengthNm && !options.json) {
            std::fprintf(stderr, "optivane: the %s meter has no wavelength setting; set %g nm on the meter itself\n",
                         powermeter::KindName(*kind), *options.wavelengthNm);
        }
        meter->SetAutoRange();
    } catch (const powermeter::MeterError &error) {
        throw Failure(kExitLink, error.what());
    }

    session.Open();
    KORVAN::MotorInfo info;
    session.Check(session.Guarded([&] { return session.handle().GetMotorInfo(&info, 2 * session.timeoutMs()); }),
                  "reading the identity");
    calibration::OptivaneMotor motor(session.handle(), session.port(), session.timeoutMs());

    calibration::SweepOptions sweep;
    sweep.points = options.points;
    sweep.settleSeconds = options.settleSeconds;
    sweep.average = options.average;
    sweep.spanDeg = profile.spanDeg;
    sweep.centreDeg = profile.offsetDeg;

    double startDeg = 0.0;
    calibration::SweepResult result;
    {
        ProgressBar bar(!options.json && ::isatty(STDERR_FILENO) == 1);
        try {
            startDeg = motor.AngleDeg();
            result = calibration::Sweep(
                motor, [&] { return meter->ReadPowerW(); }, sweep, [&](int done, int total) { bar.Show(done, total); },
                [] { return StopSignalled(); });
        } catch (const calibration::SweepCancelled &) {
            bar.Clear();
            throw Failure(kExitCancelled, session.port() + ": calibration cancelled; " + ReturnNote(motor, startDeg));
        } catch (const calibration::SweepRefused &refusal) {
            bar.Clear();
            std::string readings;
            if (!options.csvPath.empty()) {
                try {
                    WriteCsv(options.csvPath, refusal.samples, nullptr);
                    readings = " (the readings are in " + options.csvPath + ")";
                } catch (const Failure &failure) {
                    readings = " (" + std::string(failure.what()) + ")";
                }
            }
            throw Failure(kExitRefused, session.port() + ": calibration refused: " + refusal.what() + readings + "; " +
                                            ReturnNote(motor, startDeg));
        } catch (const calibration::MotorError &error) {
            bar.Clear();
            throw Failure(ExitStatusOf(error.status), std::string(error.what()) + "; " + ReturnNote(motor, startDeg));
        } catch (const powermeter::MeterError &error) {
            bar.Clear();
            throw Failure(kExitLink, std::string(error.what()) + "; " + ReturnNote(motor, startDeg));
        }
    }
    const calibration::CurveFit &fit = result.fit;

    calibration::Entry entry;
    entry.wavelengthNm = wavelengthNm;
    entry.date = calibration::NowUtc();
    entry.meter = identity;
    entry.samples = result.samples;
    entry.fit = fit;
    // The figures are printed even when a file cannot be written, so that the sweep is not lost.
    std::vector<std::string> problems;
    std::string recordPath;
    try {
        calibration::SaveEntry(info.serialNumber, entry);
        recordPath = calibration::RecordPath(info.serialNumber);
    } catch (const calibration::RecordError &error) {
        problems.push_back(error.what());
    }
    if (!options.csvPath.empty()) {
        try {
            WriteCsv(options.csvPath, result.samples, &fit);
        } catch (const Failure &failure) {
            problems.push_back(failure.what());
        }
    }
    if (!options.plotPath.empty()) {
        calibration::PlotLabels labels;
        labels.device = info.serialNumber + " on " + session.port();
        labels.meter = identity;
        labels.wavelengthNm = wavelengthNm;
        labels.date = entry.date;
        labels.average = options.average;
        try {
            calibration::WritePlot(options.plotPath, result.samples, fit, labels, Renderer());
        } catch (const calibration::PlotError &error) {
            problems.push_back("--plot: " + std::string(error.what()));
        }
    }
    std::string appliedPath;
    if (options.apply) {
        try {
            appliedPath = calibration::ApplyOffset(session.port(), fit.offsetDeg);
        } catch (const calibration::SettingsError &error) {
            problems.push_back("--apply: " + std::string(error.what()));
        }
    }

    const auto optionalPath = [](const std::string &path) {
        return path.empty() ? nlohmann::json(nullptr) : nlohmann::json(path);
    };
    if (options.json) {
        const nlohmann::json out = {
            {"port", session.port()},
            {"serial_number", info.serialNumber},
            {"offset_deg", fit.offsetDeg},
            {"offset_uncertainty_deg", fit.offsetUncertaintyDeg},
            {"previous_offset_deg", profile.offsetDeg},
            {"span_deg", fit.spanDeg},
            {"pmin_w", fit.pminW},
            {"pmax_w", fit.pmaxW},
            {"extinction_db", Finite(fit.extinctionDb)},
            {"residual_rms", fit.residualRmsRelative},
            {"meter", identity},
            {"meter_kind", powermeter::KindName(*kind)},
            {"wavelength_nm", wavelengthNm},
            {"points", fit.points},
            {"record", optionalPath(recordPath)},
            {"applied", optionalPath(appliedPath)},
        };
        Emit(out.dump() + "\n");
    } else {
        std::string text =
            "port           " + session.port() + " (serial number " + info.serialNumber + ")\n" + "offset         " +
            Format("%.4f", fit.offsetDeg) + " +/- " + Format("%.4f deg", fit.offsetUncertaintyDeg) +
            " (the port's was " + Format("%g deg", profile.offsetDeg) + ")\n" + //
            "Pmin           " + Watts(fit.pminW) + "\n" +                       //
            "Pmax           " + Watts(fit.pmaxW) + "\n" +                       //
            "extinction     " + Extinction(fit.extinctionDb) + "\n" + "residual RMS   " +
            Format("%.3f %% of Pmax", fit.residualRmsRelative * 100.0) + "\n" + "meter          " + identity + "\n" + //
            "wavelength     " + Wavelength(wavelengthNm) + "\n" + "points         " + std::to_string(fit.points) +
            " (" + std::to_string(options.average) + " readings each, settle " + Format("%g s", options.settleSeconds) +
            ")\n";
        if (!recordPath.empty())
            text += "record         " + recordPath + "\n";
        if (!appliedPath.empty())
            text += "applied        offset_degree written to " + appliedPath + "; luxora takes it at its next " +
                    "connection to " + session.port() + "\n";
        Emit(text);
    }
    if (!problems.empty()) {
        for (std::size_t i = 0; i + 1 < problems.size(); ++i)
            std::fprintf(stderr, "optivane: %s\n", problems[i].c_str());
        throw Failure(kExitDeviceStatus, problems.back());
    }
    return kExitOk;
}

int Calibrations(const Options &options) {
    std::vector<std::string> serials =
        options.operands.empty() ? calibration::ListSerials() : std::vector<std::string>{options.operands[0]};
    nlohmann::json list = nlohmann::json::array();
    std::string text;
    for (const std::string &serial : serials) {
        calibration::Record record;
        try {
            record = calibration::LoadRecord(serial);
        } catch (const calibration::RecordError &error) {
            throw Failure(kExitUsage, error.what());
        }
        if (record.entries.empty() && !options.operands.empty())
            throw Failure(kExitUsage, "no calibration for " + serial + " in " + calibration::RecordsFolder());
        for (const calibration::Entry &entry : record.entries) {
            const calibration::CurveFit &fit = entry.fit;
            list.push_back({
                {"serial_number", serial},
                {"wavelength_nm", entry.wavelengthNm},
                {"date", entry.date},
                {"meter", entry.meter},
                {"offset_deg", fit.offsetDeg},
                {"offset_uncertainty_deg", fit.offsetUncertaintyDeg},
                {"pmin_w", fit.pminW},
                {"pmax_w", fit.pmaxW},
                {"extinction_db", Finite(fit.extinctionDb)},
                {"residual_rms", fit.residualRmsRelative},
                {"points", fit.points},
            });
            text += serial + "  " + Wavelength(entry.wavelengthNm) + "  " + entry.date + "  offset " +
                    Format("%.4f", fit.offsetDeg) + " +/- " + Format("%.4f deg", fit.offsetUncertaintyDeg) +
                    "  extinction " + (std::isfinite(fit.extinctionDb) ? Format("%.2f dB", fit.extinctionDb) : "inf") +
                    "  meter " + entry.meter + "\n";
        }
    }
    if (options.json) {
        Emit(list.dump() + "\n");
    } else {
        if (list.empty())
            std::fprintf(stderr, "optivane: no calibrations in %s\n", calibration::RecordsFolder().c_str());
        Emit(text);
    }
    return kExitOk;
}

} // namespace cli
