// The calibration as a picture for a lab notebook: the measured points, the fitted curve, the residuals
// below, and the figures of the fit.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "calibration/Curve.h"

namespace calibration {

struct PlotError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What the legend says besides the fit.
struct PlotLabels {
    std::string device;      // "OV240117 on COM5"
    std::string meter;       // the meter's identity
    double wavelengthNm = 0; // 0 when unknown
    std::string date;        // ISO 8601
    int average = 0;         // readings a point; 0 leaves it out
};

// The SVG document, drawn by hand so that it needs no library.
std::string PlotSvg(const std::vector<Sample> &samples, const CurveFit &fit, const PlotLabels &labels);

// An SVG renderer into PNG: Qt's, where the command is built with it. Takes the SVG, returns the PNG's
// bytes; throws PlotError.
using PngRenderer = std::string (*)(const std::string &svg);

// Writes the plot to path, SVG or PNG by its name (.svg, .png, any case), atomically. A PNG needs
// renderer; without one, or for another name, throws PlotError with the reason.
void WritePlot(const std::string &path, const std::vector<Sample> &samples, const CurveFit &fit,
               const PlotLabels &labels, PngRenderer renderer = nullptr);

} // namespace calibration
