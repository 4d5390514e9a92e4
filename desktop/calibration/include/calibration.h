#pragma once

#include "calibrationdesign.h"

#include <QString>
#include <QStringList>

#include <array>

// The built-in calibration jobs: the two models of calibrationdesign.h sliced by the build
// for both printers at the three layer thicknesses, compiled in as resources under
// :/stl_ssj/. "75Q" jobs are sliced for the 75-micron printer, "100P" jobs for the
// 100-micron one.
namespace Calibration {

// Makes the calibration resources (:/stl_ssj/...) available; call once before use (further
// calls do nothing).
void initResources();

enum class Print { Tolerance, DimensionalAccuracy };

constexpr std::array<int, 3> kLayerThicknesses = {20, 50, 100}; // microns

// ":/stl_ssj/calibration_50layer_75Q.ssj" and the like; empty for a thickness other than
// 20, 50 or 100 microns.
QString jobResourcePath(Print print, bool printerIs75Microns, int layerThickness);
// All twelve.
QStringList jobResourcePaths();

} // namespace Calibration
