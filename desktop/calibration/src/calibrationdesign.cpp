#include "calibrationdesign.h"

#include <algorithm>

namespace Calibration {

namespace {

bool isFit(int fit)
{
    return fit >= 1 && fit <= kFitCount;
}

// Fits 1..4 in the back row, 5..8 in the front row, left to right.
int columnOf(int fit)
{
    return (fit - 1) % (kFitCount / 2);
}

bool inBackRow(int fit)
{
    return fit <= kFitCount / 2;
}

} // namespace

QList<int> fitNumbers()
{
    QList<int> fits;
    for (int fit = 1; fit <= kFitCount; ++fit)
        fits << fit;
    return fits;
}

double clearanceForFit(int fit)
{
    return isFit(fit) ? kClearances[size_t(fit - 1)] : 0.0;
}

double fineTuneChangeForFit(int fit)
{
    return isFit(fit) ? (kReferenceFit - fit) * kFineTuneStepPerFit : 0.0;
}

double adjustedFineTuneFactor(double currentFactor, int fit)
{
    return std::clamp(currentFactor + fineTuneChangeForFit(fit), kMinFineTuneFactor, kMaxFineTuneFactor);
}

QPointF fitCentre(int fit)
{
    if (!isFit(fit))
        return {};
    const double x = (columnOf(fit) - (kFitCount / 2 - 1) / 2.0) * kFitPitchX;
    return {x + kFitOffset, (inBackRow(fit) ? kFitRowY : -kFitRowY) + kFitOffset};
}

QList<double> notchCentresX(int fit)
{
    QList<double> centres;
    if (!isFit(fit))
        return centres;
    const double first = fitCentre(fit).x() - (fit - 1) * kNotchPitch / 2.0;
    for (int notch = 0; notch < fit; ++notch)
        centres << first + notch * kNotchPitch;
    return centres;
}

double notchEdgeY(int fit)
{
    if (!isFit(fit))
        return 0.0;
    return inBackRow(fit) ? kPlateDepth / 2 : -kPlateDepth / 2;
}

QSizeF toleranceModelSize()
{
    return {kPlateWidth, kPlateDepth};
}

QList<double> nominalSizesX()
{
    QList<double> sizes;
    for (const TierSize &tier : kTierSizes)
        sizes << tier.x;
    return sizes;
}

QList<double> nominalSizesY()
{
    QList<double> sizes;
    for (const TierSize &tier : kTierSizes)
        sizes << tier.y;
    return sizes;
}

QSizeF dimensionalModelSize()
{
    return {kTierSizes[0].x + kRingGap + kRingOuterDiameter, std::max(kTierSizes[0].y, kRingOuterDiameter)};
}

QPointF blockCentre()
{
    return {-dimensionalModelSize().width() / 2 + kTierSizes[0].x / 2, 0.0};
}

QPointF ringCentre()
{
    return {dimensionalModelSize().width() / 2 - kRingOuterDiameter / 2, 0.0};
}

double scaleMultiplier(double nominal, double measured)
{
    if (!(nominal > 0) || !(measured > 0))
        return 1.0;
    return nominal / measured;
}

double scaleMultiplierFromSteps(double nominalSmall, double measuredSmall, double nominalLarge, double measuredLarge)
{
    const double nominalStep = nominalLarge - nominalSmall;
    const double measuredStep = measuredLarge - measuredSmall;
    if (!(nominalStep > 0) || !(measuredStep > 0))
        return 1.0;
    return nominalStep / measuredStep;
}

double ringScaleMultiplier(double measuredOuter, double measuredInner)
{
    if (!(measuredInner > 0) || !(measuredOuter > measuredInner))
        return 1.0;
    return (kRingOuterDiameter + kRingInnerDiameter) / (measuredOuter + measuredInner);
}

double ringBleed(double measuredOuter, double measuredInner)
{
    if (!(measuredInner > 0) || !(measuredOuter > measuredInner))
        return 0.0;
    // outer = s x nominal outer + 2 bleed, inner = s x nominal inner - 2 bleed.
    const double scale = 1.0 / ringScaleMultiplier(measuredOuter, measuredInner);
    return (measuredOuter - measuredInner - scale * (kRingOuterDiameter - kRingInnerDiameter)) / 4.0;
}

} // namespace Calibration
