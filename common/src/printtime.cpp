#include "printtime.h"

#include "printjob.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace LayerCycle {

namespace {
// Adhesion layers from this one on all expose with the last factor.
constexpr int lastStepFrom = 9;
} // namespace

double adhesionFactor(int layer)
{
    if (layer < 3)
        return 1.0;
    if (layer < 6)
        return 0.75;
    if (layer < lastStepFrom)
        return 0.5;
    return 0.25;
}

int exposureMs(int layer, int adhesionLayers, double adhesionCureTime, double cureTime)
{
    const double seconds
        = layer < adhesionLayers ? std::max(adhesionFactor(layer) * adhesionCureTime, cureTime) : cureTime;
    // The timer takes whole milliseconds, truncated.
    const double ms = seconds * 1000.0;
    if (!(ms > 0.0))
        return 0;
    return int(std::min(ms, 2147483647.0));
}

} // namespace LayerCycle

PrintTimeEstimate PrintTimeEstimate::of(const PrintJob &job, const PrinterTiming &timing)
{
    PrintTimeEstimate estimate;
    const int layers = std::max(0, job.numImages);
    estimate.layers = layers;
    estimate.resetSeconds = timing.homingSeconds;
    estimate.finishSeconds = timing.finishSeconds;
    if (layers == 0)
        return estimate; // the board resets and runs its finish movement, nothing more

    const double cure = job.getFineTuneFactorCureTime();
    const int adhesion = std::clamp(job.numAdhesionLayers, 0, layers);
    // Layers from the last stepped one on all expose alike: one multiplication for them.
    const int stepped = std::min(adhesion, LayerCycle::lastStepFrom + 1);
    double exposureMs = 0.0;
    for (int layer = 0; layer < stepped; ++layer)
        exposureMs += LayerCycle::exposureMs(layer, adhesion, job.adhesionLayerCureTime, cure);
    exposureMs += double(adhesion - stepped)
        * LayerCycle::exposureMs(LayerCycle::lastStepFrom, adhesion, job.adhesionLayerCureTime, cure);
    exposureMs += double(layers - adhesion) * LayerCycle::exposureMs(layers, adhesion, job.adhesionLayerCureTime, cure);

    estimate.firstLayerWaitSeconds = LayerCycle::firstLayerDelaySeconds;
    estimate.exposureSeconds = exposureMs / 1000.0;
    estimate.motionSeconds = layers * timing.moveSeconds;
    // One sleep after the first-layer wait and one after every layer's motion cycle.
    if (timing.resinSettleEnabled)
        estimate.settleSeconds = (layers + 1.0) * timing.resinSettleSeconds;
    return estimate;
}

double PrintTimeEstimate::totalSeconds() const
{
    return resetSeconds + firstLayerWaitSeconds + exposureSeconds + motionSeconds + settleSeconds + finishSeconds;
}

int PrintTimeEstimate::minutes() const
{
    const double value = std::round(totalSeconds() / 60.0);
    return value >= 2147483647.0 ? 2147483647 : int(value);
}

QString PrintTimeEstimate::text() const
{
    const double seconds = totalSeconds();
    if (seconds < 60.0)
        return QStringLiteral("%1 s").arg(qRound(seconds));
    const int total = minutes();
    if (total < 60)
        return QStringLiteral("%1 min").arg(total);
    return QStringLiteral("%1 h %2 min").arg(total / 60).arg(total % 60, 2, 10, QLatin1Char('0'));
}
