// The calibration plot as PNG: the same SVG, rendered by Qt.
#pragma once

#include <string>

namespace calibration {

// Renders the SVG at twice its size on white; a QGuiApplication on the offscreen platform is made for it
// when the process has none. Throws PlotError.
std::string RenderPng(const std::string &svg);

} // namespace calibration
