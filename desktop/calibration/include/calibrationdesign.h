#pragma once

#include <QList>
#include <QPointF>
#include <QSizeF>

#include <array>

// What the two calibration prints are, and what the user's findings on them mean.
//
// Both models are sliced into the built-in calibration jobs; the fine-tune pages ask the
// user what the print shows and turn the answer into the changes the controller applies
// to the printer's resin profile (a fine-tune change is added to the factor of that layer
// thickness, scale multipliers multiply its scale factors).
//
// Terms used here:
//   model frame  - millimetres, z up, x to the right and y away from the user as the model
//                  stands on the platform; the slicer keeps x as the layer image's columns
//                  (the printer's X, the platform's long side) and y as its rows upwards
//                  (the printer's Y). Positions below are relative to the centre of the
//                  model's footprint, which is where the slicer puts the model.
//   clearance    - the radial gap between a pin and the wall of its hole, per side: the
//                  hole's diameter is the pin's diameter plus twice the clearance.
//   fit          - one pin standing in its hole, printed in place; fits are numbered 1 to
//                  kFitCount in order of growing clearance.
//   bleed        - light scattered sideways in the resin: an overexposed layer grows by a
//                  constant amount around every outline, so outer sizes grow, holes shrink
//                  and small gaps fuse; an underexposed one does the opposite.
//   scale        - the projected image is larger or smaller than intended by a factor per
//                  axis (the printer multiplies every layer's size by the resin's scale
//                  factors); it changes every size in proportion.
namespace Calibration {

// ---- Tolerance print ------------------------------------------------------------------
//
// A plate with two rows of holes; a pin stands in every hole, printed in place with the
// plate. Fits 1 to 4 sit in the back row (+y) from left to right, fits 5 to 8 in the front
// row, and every fit is numbered by as many notches cut into the plate's edge next to it
// (back edge for the back row, front edge for the front row): count the notches.
// After washing and curing the user pushes each pin from the top; a pin that moves is free.
// The answer is the smallest fit number whose pin came free.

constexpr int kFitCount = 8;
// Clearance of fit n: n x 0.05 mm, from 0.05 mm (fit 1) to 0.40 mm (fit 8).
constexpr double kClearanceStep = 0.05;
constexpr std::array<double, kFitCount> kClearances = {0.05, 0.10, 0.15, 0.20, 0.25, 0.30, 0.35, 0.40};

// A correctly exposed resin just frees fit 4 (0.20 mm: two pixels on the 100-micron
// printer, close to three on the 75-micron one) and every larger fit, while fits 1 to 3
// stay fused.
constexpr int kReferenceFit = 4;
// Each fit away from the reference is worth 5 % of exposure time.
constexpr double kFineTuneStepPerFit = 0.05;
// The printer clamps the fine-tune factor to this range when it exposes a layer.
constexpr double kMinFineTuneFactor = 0.7;
constexpr double kMaxFineTuneFactor = 1.3;

// Fit numbers 1..kFitCount, for the pages' choice.
QList<int> fitNumbers();
// Clearance of a fit in millimetres; 0 for a number that is not a fit.
double clearanceForFit(int fit);
// The change to add to the fine-tune factor (which multiplies the exposure time) when
// `fit` is the smallest fit that came free: (kReferenceFit - fit) x kFineTuneStepPerFit.
//   fit 1 +0.15, 2 +0.10, 3 +0.05 (gaps stay open that should fuse: underexposed, expose
//   longer); fit 4 0 (as intended); fit 5 -0.05, 6 -0.10, 7 -0.15, 8 -0.20 (small gaps
//   fused: overexposed, expose shorter). If no pin came free at all, answer fit 8 and
//   print again. Any number that is not a fit changes nothing (0).
double fineTuneChangeForFit(int fit);
// The factor after applying the change for `fit` to `currentFactor`, kept within the range
// the printer honours, so repeated calibrations never drift into factors it ignores.
double adjustedFineTuneFactor(double currentFactor, int fit);

// Geometry of the tolerance model (millimetres, model frame).
constexpr double kPinDiameter = 3.0;
constexpr double kPinHeight = 3.0; // pins stand 0.5 mm proud of the plate, to be pushed
constexpr double kPlateHeight = 2.5;
constexpr double kPlateWidth = 52.0; // x
constexpr double kPlateDepth = 22.0; // y
constexpr double kFitPitchX = 13.0;
constexpr double kFitRowY = 5.5; // back row at +5.5, front row at -5.5
// Every fit sits this much right of and behind its place on the 13 x 11 mm grid. The slicer
// centres the plate on the image, which puts the grid's points on pixel corners of both
// printers; a hole centred on a pixel corner comes out of the pixels up to a quarter pixel
// tighter than designed, one a quarter pixel (100-micron printer) off them within a few
// microns of its clearance.
constexpr double kFitOffset = 0.025;
// The first layers of a print are exposed far longer to stick to the platform and fuse
// whatever is close; the lowest part of every hole is widened by this much (radially) so
// that only the plate above it decides the fit.
constexpr double kReliefHeight = 0.5;
constexpr double kReliefClearance = 0.3;
// Notches: kNotchWidth wide (x), kNotchDepth deep (y), kNotchPitch apart, centred on their
// fit's hole.
constexpr double kNotchWidth = 0.8;
constexpr double kNotchDepth = 1.0;
constexpr double kNotchPitch = 1.5;

// Centre of a fit's pin and hole (model frame); the origin for a number that is not a fit.
QPointF fitCentre(int fit);
// The x centres of a fit's notches and the y of the plate edge they are cut into.
QList<double> notchCentresX(int fit);
double notchEdgeY(int fit);
// Footprint and height of the whole tolerance model.
QSizeF toleranceModelSize();
constexpr double kToleranceModelHeight = kPinHeight;

// ---- Dimensional-accuracy print -------------------------------------------------------
//
// A stepped block of three tiers, each narrower in both directions than the one below, and
// a ring beside it (+x). A tier is longer along X than along Y, so the print itself shows
// which way X ran on the platform. The lowest tier and the ring are chamfered at the
// platform (kChamferSize), so the widened first layers do not stand out: measure above it.
//
// Measured sizes turn into scale multipliers for the controller: multiply the resin's
// scale factor of that axis by nominal / measured. Bleed adds a constant to every outer
// size, which the plain ratio mistakes for scale; the ratio of differences between two
// tiers (or the ring's mean diameter, where bleed grows the outer and shrinks the inner
// diameter alike) leaves it out and is the better answer when the user measured more than
// one size.

struct TierSize {
    double x; // millimetres along X
    double y; // millimetres along Y
};
constexpr int kTierCount = 3;
// Lowest tier first.
constexpr std::array<TierSize, kTierCount> kTierSizes = {{{40.0, 30.0}, {30.0, 20.0}, {20.0, 10.0}}};
constexpr double kTierHeight = 1.0; // each tier; the block is kTierCount x kTierHeight tall
constexpr double kChamferSize = 0.3; // 45 degrees, at the platform
constexpr double kRingOuterDiameter = 20.0;
constexpr double kRingInnerDiameter = 12.0;
constexpr double kRingHeight = 3.0;
constexpr double kRingGap = 4.0; // between the block and the ring, along X
constexpr double kDimensionalModelHeight = kRingHeight;

// The nominal sizes of the tiers, lowest first, per axis: X 40, 30, 20 mm; Y 30, 20, 10 mm.
QList<double> nominalSizesX();
QList<double> nominalSizesY();
// Centres of the block and the ring (model frame); the footprint of the whole model.
QPointF blockCentre();
QPointF ringCentre();
QSizeF dimensionalModelSize();

// nominal / measured: the multiplier for the scale factor of the axis the size was measured
// along. A measurement that is not a positive size (or a non-positive nominal) gives 1.0,
// which leaves the factor as it is.
double scaleMultiplier(double nominal, double measured);
// The multiplier from two sizes along one axis (for example the lowest and the highest tier):
// (nominalLarge - nominalSmall) / (measuredLarge - measuredSmall), free of bleed. 1.0 when the
// nominal or the measured difference is not positive.
double scaleMultiplierFromSteps(double nominalSmall, double measuredSmall, double nominalLarge, double measuredLarge);
// The multiplier from the ring's measured outer and inner diameters along one axis: the
// nominal mean diameter over the measured mean, free of bleed. 1.0 unless the measured
// outer diameter is larger than the inner one and the inner one positive.
double ringScaleMultiplier(double measuredOuter, double measuredInner);
// How far the outlines grew on each side (millimetres; negative when they shrank) from the
// ring's measured diameters: with the scale taken out, outer and inner diameter move apart
// by four times the bleed. 0 for measurements ringScaleMultiplier() refuses.
double ringBleed(double measuredOuter, double measuredInner);

} // namespace Calibration
