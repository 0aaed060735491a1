// The calibration plot as SVG.
#include "calibration/Plot.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "calibration/Files.h"

namespace calibration {

namespace {

constexpr double kWidth = 860, kHeight = 640;
// The curve's panel and the residuals' panel below it, in picture coordinates.
constexpr double kLeft = 92, kRight = 828;
constexpr double kTop = 58, kBottom = 398;
constexpr double kResidualTop = 444, kResidualBottom = 560;

const char kPointColour[] = "#1f5fa8";
const char kFitColour[] = "#d2462d";
const char kGridColour[] = "#e3e6ea";
const char kInkColour[] = "#222831";

std::string Format(const char *format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Numbers in the picture use a true minus sign.
std::string Minus(std::string text) {
    if (!text.empty() && text[0] == '-')
        text.replace(0, 1, "\u2212");
    return text;
}

std::string Escape(const std::string &text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20)
                out += c;
        }
    }
    return out;
}

// Ticks at 1, 2 or 5 times a power of ten, about `count` of them over [low, high].
std::vector<double> Ticks(double low, double high, int count, double *step) {
    const double raw = (high - low) / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double nice = power;
    for (const double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        nice = factor * power;
        if (nice >= raw)
            break;
    }
    *step = nice;
    std::vector<double> ticks;
    for (double t = std::ceil(low / nice - 1e-9) * nice; t <= high + nice * 1e-9; t += nice)
        ticks.push_back(std::fabs(t) < nice * 1e-9 ? 0.0 : t);
    return ticks;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

int Decimals(double step) {
    return std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
}

// The unit that shows the largest power with 1 to 3 digits before the point.
struct PowerUnit {
    double scale;
    const char *name;
};
PowerUnit UnitFor(double watts) {
    if (watts >= 1.0)
        return {1.0, "W"};
    if (watts >= 1e-3)
        return {1e3, "mW"};
    if (watts >= 1e-6)
        return {1e6, "\u00b5W"};
    return {1e9, "nW"};
}

std::string Power(double watts) {
    const PowerUnit unit = UnitFor(std::fabs(watts) > 0 ? std::fabs(watts) : 1e-3);
    return Minus(Format("%.4g", watts * unit.scale)) + " " + unit.name;
}

class Svg {
public:
    Svg() {
        out_ += Format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\"", kWidth) +
                Format(" height=\"%.0f\"", kHeight) + Format(" viewBox=\"0 0 %.0f", kWidth) +
                Format(" %.0f\"", kHeight) +
                " font-family=\"DejaVu Sans, Liberation Sans, Arial, sans-serif\" font-size=\"13\">\n";
        out_ += Format("<rect width=\"%.0f\"", kWidth) + Format(" height=\"%.0f\" fill=\"white\"/>\n", kHeight);
    }
    void Line(double x1, double y1, double x2, double y2, const std::string &stroke, double width,
              const std::string &extra = "") {
        out_ += "<line x1=\"" + N(x1) + "\" y1=\"" + N(y1) + "\" x2=\"" + N(x2) + "\" y2=\"" + N(y2) + "\" stroke=\"" +
                stroke + "\" stroke-width=\"" + N(width) + "\"" + extra + "/>\n";
    }
    void Text(double x, double y, const std::string &text, const std::string &anchor = "start",
              const std::string &extra = "") {
        out_ += "<text x=\"" + N(x) + "\" y=\"" + N(y) + "\" text-anchor=\"" + anchor + "\" fill=\"" + kInkColour +
                "\"" + extra + ">" + Escape(text) + "</text>\n";
    }
    void Raw(const std::string &text) { out_ += text; }
    std::string Finish() { return out_ + "</svg>\n"; }
    static std::string N(double value) { return Format("%.2f", value); }

private:
    std::string out_;
};

} // namespace

std::string PlotSvg(const std::vector<Sample> &samples, const CurveFit &fit, const PlotLabels &labels) {
    if (samples.empty())
        throw PlotError("there are no points to plot");
    double xLow = samples.front().angleDeg, xHigh = xLow, pHigh = 0.0;
    for (const Sample &sample : samples) {
        xLow = std::min(xLow, sample.angleDeg);
        xHigh = std::max(xHigh, sample.angleDeg);
        pHigh = std::max(pHigh, sample.powerW);
    }
    pHigh = std::max(pHigh, fit.pmaxW);
    if (!(xHigh > xLow))
        xHigh = xLow + 1.0;
    const PowerUnit unit = UnitFor(pHigh > 0 ? pHigh : 1e-3);
    double yStep = 0;
    std::vector<double> yTicks = Ticks(0.0, pHigh * unit.scale * 1.04, 6, &yStep);
    const double yHigh = std::max(yTicks.back(), pHigh * unit.scale * 1.04);
    double xStep = 0;
    const std::vector<double> xTicks = Ticks(xLow, xHigh, 9, &xStep);

    // Residuals in percent of Pmax, symmetric about zero.
    double worst = 0.0;
    for (const Sample &sample : samples)
        worst = std::max(worst, std::fabs(sample.powerW - fit.PowerAt(sample.angleDeg)) / fit.pmaxW * 100.0);
    double rStep = 0;
    const double rHalf = std::max(worst * 1.15, 0.01);
    const std::vector<double> rTicks = Ticks(-rHalf, rHalf, 4, &rStep);

    const auto X = [&](double deg) { return kLeft + (deg - xLow) / (xHigh - xLow) * (kRight - kLeft); };
    const auto Y = [&](double watts) { return kBottom - watts * unit.scale / yHigh * (kBottom - kTop); };
    const auto R = [&](double percent) {
        return (kResidualTop + kResidualBottom) / 2 - percent / rHalf * (kResidualBottom - kResidualTop) / 2;
    };

    Svg svg;
    std::string title = "Attenuator calibration";
    if (!labels.device.empty())
        title += ": " + labels.device;
    if (labels.wavelengthNm > 0)
        title += Format(" at %g nm", labels.wavelengthNm);
    svg.Text(kLeft, 34, title, "start", " font-size=\"18\" font-weight=\"bold\"");

    // Grids, ticks and their labels.
    const int yDecimals = Decimals(yStep);
    for (const double t : yTicks) {
        const double y = Y(t / unit.scale);
        svg.Line(kLeft, y, kRight, y, kGridColour, 1);
        svg.Line(kLeft - 5, y, kLeft, y, kInkColour, 1);
        svg.Text(kLeft - 9, y + 4.5, Minus(Fixed(t, yDecimals)), "end");
    }
    const int rDecimals = Decimals(rStep);
    for (const double t : rTicks) {
        const double y = R(t);
        svg.Line(kLeft, y, kRight, y, t == 0.0 ? "#9aa3ad" : kGridColour, 1);
        svg.Line(kLeft - 5, y, kLeft, y, kInkColour, 1);
        svg.Text(kLeft - 9, y + 4.5, Minus(Fixed(t, rDecimals)), "end");
    }
    const int xDecimals = Decimals(xStep);
    for (const double t : xTicks) {
        svg.Line(X(t), kTop, X(t), kBottom, kGridColour, 1);
        svg.Line(X(t), kResidualTop, X(t), kResidualBottom, kGridColour, 1);
        svg.Line(X(t), kBottom, X(t), kBottom + 5, kInkColour, 1);
        svg.Line(X(t), kResidualBottom, X(t), kResidualBottom + 5, kInkColour, 1);
        svg.Text(X(t), kBottom + 19, Minus(Fixed(t, xDecimals)), "middle");
        svg.Text(X(t), kResidualBottom + 19, Minus(Fixed(t, xDecimals)), "middle");
    }
    svg.Raw("<rect x=\"" + Svg::N(kLeft) + "\" y=\"" + Svg::N(kTop) + "\" width=\"" + Svg::N(kRight - kLeft) +
            "\" height=\"" + Svg::N(kBottom - kTop) + "\" fill=\"none\" stroke=\"" + kInkColour + "\"/>\n");
    svg.Raw("<rect x=\"" + Svg::N(kLeft) + "\" y=\"" + Svg::N(kResidualTop) + "\" width=\"" + Svg::N(kRight - kLeft) +
            "\" height=\"" + Svg::N(kResidualBottom - kResidualTop) + "\" fill=\"none\" stroke=\"" + kInkColour +
            "\"/>\n");
    svg.Text(24, (kTop + kBottom) / 2, std::string("power (") + unit.name + ")", "middle",
             " transform=\"rotate(-90 24 " + Svg::N((kTop + kBottom) / 2) + ")\"");
    svg.Text(24, (kResidualTop + kResidualBottom) / 2, "residual (% of Pmax)", "middle",
             " font-size=\"12\" transform=\"rotate(-90 24 " + Svg::N((kResidualTop + kResidualBottom) / 2) + ")\"");
    svg.Text((kLeft + kRight) / 2, kResidualBottom + 40, "motor angle (degrees)", "middle");

    // The offset found: a dashed line through both panels.
    if (fit.offsetDeg >= xLow && fit.offsetDeg <= xHigh) {
        const double x = X(fit.offsetDeg);
        svg.Line(x, kTop, x, kBottom, "#6b7785", 1, " stroke-dasharray=\"5 4\"");
        svg.Line(x, kResidualTop, x, kResidualBottom, "#6b7785", 1, " stroke-dasharray=\"5 4\"");
    }

    // The fitted curve, finely sampled.
    std::string path;
    constexpr int kCurveSteps = 400;
    for (int i = 0; i <= kCurveSteps; ++i) {
        const double deg = xLow + (xHigh - xLow) * i / kCurveSteps;
        const double y = std::clamp(Y(fit.PowerAt(deg)), kTop, kBottom);
        path += (i == 0 ? "M" : " L") + Svg::N(X(deg)) + " " + Svg::N(y);
    }
    svg.Raw("<path d=\"" + path + "\" fill=\"none\" stroke=\"" + kFitColour + "\" stroke-width=\"2\"/>\n");

    // The measured points and their residuals.
    for (const Sample &sample : samples) {
        const double x = X(sample.angleDeg);
        svg.Raw("<circle cx=\"" + Svg::N(x) + "\" cy=\"" + Svg::N(std::clamp(Y(sample.powerW), kTop, kBottom)) +
                "\" r=\"3.6\" fill=\"" + kPointColour + "\" fill-opacity=\"0.85\"/>\n");
        const double residual = (sample.powerW - fit.PowerAt(sample.angleDeg)) / fit.pmaxW * 100.0;
        svg.Line(x, R(0.0), x, R(residual), kPointColour, 1.2);
        svg.Raw("<circle cx=\"" + Svg::N(x) + "\" cy=\"" + Svg::N(R(residual)) + "\" r=\"3\" fill=\"" + kPointColour +
                "\"/>\n");
    }

    // The legend, in the empty space above the minimum.
    std::vector<std::string> lines = {
        "offset " + Minus(Format("%.3f", fit.offsetDeg)) + "\u00b0 \u00b1 " + Format("%.3f", fit.offsetUncertaintyDeg) +
            "\u00b0",
        "Pmin " + Power(fit.pminW) + "  \u00b7  Pmax " + Power(fit.pmaxW),
        "extinction " + (std::isfinite(fit.extinctionDb) ? Format("%.1f dB", fit.extinctionDb) : "\u221e") +
            "  \u00b7  residual RMS " + Format("%.2f %%", fit.residualRmsRelative * 100.0),
    };
    const double boxWidth = 300, lineHeight = 19;
    const double boxHeight = 2 * lineHeight + 12 + lineHeight * static_cast<double>(lines.size()) + 6;
    const double boxX = (kLeft + kRight) / 2 - boxWidth / 2, boxY = kTop + 14;
    svg.Raw("<rect x=\"" + Svg::N(boxX) + "\" y=\"" + Svg::N(boxY) + "\" width=\"" + Svg::N(boxWidth) + "\" height=\"" +
            Svg::N(boxHeight) + "\" rx=\"4\" fill=\"white\" fill-opacity=\"0.92\" stroke=\"#c4cad1\"/>\n");
    double y = boxY + 21;
    svg.Raw("<circle cx=\"" + Svg::N(boxX + 20) + "\" cy=\"" + Svg::N(y - 4.5) + "\" r=\"3.6\" fill=\"" + kPointColour +
            "\"/>\n");
    std::string measured = "measured, " + std::to_string(samples.size()) + " points";
    if (labels.average > 0)
        measured += " of " + std::to_string(labels.average) + " readings";
    svg.Text(boxX + 36, y, measured);
    y += lineHeight;
    svg.Line(boxX + 11, y - 4.5, boxX + 29, y - 4.5, kFitColour, 2);
    svg.Text(boxX + 36, y,
             "fit  a + b cos(\u03c0\u03b8/" + Format("%g", fit.spanDeg) + "\u00b0) + c sin(\u03c0\u03b8/" +
                 Format("%g", fit.spanDeg) + "\u00b0)");
    y += lineHeight + 6;
    for (const std::string &line : lines) {
        svg.Text(boxX + 14, y, line);
        y += lineHeight;
    }

    // What was measured with, and when.
    // A long identity is cut so that the line stays inside the picture.
    std::string meter = labels.meter.empty() ? std::string("unknown") : labels.meter;
    constexpr std::size_t kMeterChars = 90;
    if (meter.size() > kMeterChars)
        meter = meter.substr(0, kMeterChars - 3) + "...";
    std::string footer = "meter: " + meter;
    footer += "  \u00b7  wavelength: " +
              (labels.wavelengthNm > 0 ? Format("%g nm", labels.wavelengthNm) : std::string("unknown"));
    if (!labels.date.empty())
        footer += "  \u00b7  " + labels.date;
    svg.Text(kLeft, kHeight - 18, footer, "start", " font-size=\"11.5\" fill-opacity=\"0.8\"");
    return svg.Finish();
}

void WritePlot(const std::string &path, const std::vector<Sample> &samples, const CurveFit &fit,
               const PlotLabels &labels, PngRenderer renderer) {
    std::string extension = path.size() >= 4 ? path.substr(path.size() - 4) : "";
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".svg" && extension != ".png")
        throw PlotError("the plot's file name must end in .svg or .png, got '" + path + "'");
    const std::string svg = PlotSvg(samples, fit, labels);
    if (extension == ".png" && renderer == nullptr)
        throw PlotError("this build draws no PNG (it was built without Qt's SVG module); name the plot .svg");
    try {
        WriteFileAtomically(path, extension == ".png" ? renderer(svg) : svg, 0644);
    } catch (const std::runtime_error &error) {
        throw PlotError(error.what());
    }
}

} // namespace calibration
