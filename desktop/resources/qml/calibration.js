.pragma library

// The meaning of the two fine-tune prints, for the fine-tune pages. These numbers and rules
// are those of desktop/calibration/include/calibrationdesign.h (namespace Calibration), which
// also builds the printed models; tests/ui compares every function here with that header's.

// ---- Tolerance print: eight pins in holes of growing clearance ------------------------
var fitCount = 8
var clearanceStep = 0.05            // mm: fit n has n x 0.05 mm per side
var referenceFit = 4                // a correctly exposed resin frees fit 4 and above
var fineTuneStepPerFit = 0.05       // 5 % of exposure time per fit
var minFineTuneFactor = 0.7         // the printer clamps its factor to this range
var maxFineTuneFactor = 1.3
var pinDiameter = 3.0               // mm

function isFit(fit) {
    return fit === Math.floor(fit) && fit >= 1 && fit <= fitCount
}

function fitNumbers() {
    var fits = []
    for (var fit = 1; fit <= fitCount; ++fit)
        fits.push(fit)
    return fits
}

// Clearance per side in millimetres; 0 for a number that is not a fit.
function clearanceForFit(fit) {
    return isFit(fit) ? Math.round(fit * clearanceStep * 100) / 100 : 0
}

// The change added to the fine-tune factor when `fit` is the smallest fit whose pin came
// free: smaller fits freed mean underexposure (expose longer), larger ones overexposure.
function fineTuneChangeForFit(fit) {
    return isFit(fit) ? (referenceFit - fit) * fineTuneStepPerFit : 0
}

function adjustedFineTuneFactor(currentFactor, fit) {
    var factor = currentFactor + fineTuneChangeForFit(fit)
    return Math.min(maxFineTuneFactor, Math.max(minFineTuneFactor, factor))
}

// ---- Dimensional-accuracy print: a block of three tiers and a ring --------------------
var tierSizes = [{ x: 40.0, y: 30.0 }, { x: 30.0, y: 20.0 }, { x: 20.0, y: 10.0 }] // mm, lowest first
var ringOuterDiameter = 20.0
var ringInnerDiameter = 12.0

function nominalSizesX() {
    return tierSizes.map(function (tier) { return tier.x })
}

function nominalSizesY() {
    return tierSizes.map(function (tier) { return tier.y })
}

// nominal / measured; 1 (no change) unless both are positive sizes.
function scaleMultiplier(nominal, measured) {
    if (!(nominal > 0) || !(measured > 0))
        return 1.0
    return nominal / measured
}

// From two sizes along one axis: the ratio of differences, which leaves out bleed.
function scaleMultiplierFromSteps(nominalSmall, measuredSmall, nominalLarge, measuredLarge) {
    var nominalStep = nominalLarge - nominalSmall
    var measuredStep = measuredLarge - measuredSmall
    if (!(nominalStep > 0) || !(measuredStep > 0))
        return 1.0
    return nominalStep / measuredStep
}

// From the ring's outer and inner diameters: nominal mean over measured mean.
function ringScaleMultiplier(measuredOuter, measuredInner) {
    if (!(measuredInner > 0) || !(measuredOuter > measuredInner))
        return 1.0
    return (ringOuterDiameter + ringInnerDiameter) / (measuredOuter + measuredInner)
}

// How far outlines grew per side (mm; negative when they shrank), from the ring.
function ringBleed(measuredOuter, measuredInner) {
    if (!(measuredInner > 0) || !(measuredOuter > measuredInner))
        return 0.0
    var scale = 1.0 / ringScaleMultiplier(measuredOuter, measuredInner)
    return (measuredOuter - measuredInner - scale * (ringOuterDiameter - ringInnerDiameter)) / 4.0
}

// The multiplier for one axis from the tiers the user measured (nominals and measurements
// lowest tier first; a measurement that is not a positive number was not taken). Two or more
// tiers: the ratio of differences between the largest and the smallest measured tier, free of
// bleed; one tier: the plain ratio; none: 1.
function tierMultiplier(nominals, measurements) {
    var taken = []
    for (var i = 0; i < nominals.length && i < measurements.length; ++i) {
        if (measurements[i] > 0)
            taken.push(i)
    }
    if (taken.length === 0)
        return 1.0
    if (taken.length === 1)
        return scaleMultiplier(nominals[taken[0]], measurements[taken[0]])
    var large = taken[0]
    var small = taken[taken.length - 1]
    return scaleMultiplierFromSteps(nominals[small], measurements[small], nominals[large], measurements[large])
}
