#include "islandwarning.h"

#include "basiclogging.h"
#include "crushedprintjob.h"
#include "islandcheck.h"
#include "printrule.h"
#include "trapcheck.h"

#include <QFile>

#include <algorithm>

namespace IslandWarning {

namespace {

void addIslands(const std::vector<IslandCheck::Island> &islands, Summary *summary)
{
    for (const IslandCheck::Island &island : islands) {
        if (island.pixels <= IslandCheck::kMinimumIslandPixels)
            continue;
        if (summary->count++ == 0)
            summary->firstLayer = island.layer + 1;
        if (island.pixels > summary->largestPixels) {
            summary->largestPixels = island.pixels;
            summary->largestLayer = island.layer + 1;
        }
    }
}

void addCavities(const std::vector<TrapCheck::Cavity> &cavities, Summary *summary)
{
    for (const TrapCheck::Cavity &cavity : cavities) {
        if (cavity.volumeMm3 <= TrapCheck::kMinimumVolumeMm3)
            continue;
        Cavities &kind = cavity.kind == TrapCheck::Kind::SuctionCup ? summary->cups : summary->trapped;
        kind.firstLayer = kind.count == 0 ? cavity.firstLayer : std::min(kind.firstLayer, cavity.firstLayer);
        kind.lastLayer = std::max(kind.lastLayer, cavity.lastLayer);
        kind.volumeMm3 += cavity.volumeMm3;
        ++kind.count;
    }
}

// "1.2 ml" from a tenth of a millilitre up, "42.0 mm³" below.
QString volumeText(double mm3)
{
    return mm3 >= 100.0 ? QStringLiteral("%1 ml").arg(mm3 / 1000.0, 0, 'f', 1)
                        : QStringLiteral("%1 mm³").arg(mm3, 0, 'f', 1);
}

QString layersText(const Cavities &cavities)
{
    return cavities.firstLayer == cavities.lastLayer
        ? QStringLiteral("layer %1").arg(cavities.firstLayer)
        : QStringLiteral("layers %1-%2").arg(cavities.firstLayer).arg(cavities.lastLayer);
}

} // namespace

int Summary::firstCavityLayer() const
{
    if (trapped.count > 0 && cups.count > 0)
        return std::min(trapped.firstLayer, cups.firstLayer);
    return trapped.count > 0 ? trapped.firstLayer : cups.firstLayer;
}

bool check(const QString &jobPath, Summary *summary, const std::function<void()> &layerDone)
{
    *summary = Summary();
    CrushedPrintJob job;
    QFile file(jobPath);
    if (!job.loadCPJ(&file)) {
        logLine(QStringLiteral("ERROR. IslandWarning::check. Could not read ") + jobPath + QStringLiteral(": ")
            + job.errorString());
        return false;
    }
    // Each layer is drawn once for both checks.
    TrapCheck traps;
    IslandCheck::Mask below;
    for (int k = 0; k < job.getTotalLayers(); ++k) {
        IslandCheck::Mask layer = IslandCheck::layerMask(job, k);
        if (k > 0)
            addIslands(IslandCheck::islandsOf(below, layer, k), summary);
        traps.addLayer(layer);
        below = std::move(layer);
        if (layerDone)
            layerDone();
    }
    addCavities(traps.cavities(PrintRule::pixelMillimetres(job.description()), job.layerThicknessText().toDouble()), summary);
    return true;
}

QString text(const Summary &summary)
{
    QStringList sentences;
    if (summary.anyIsland()) {
        const QString islands
            = summary.count == 1 ? QStringLiteral("1 island") : QStringLiteral("%1 islands").arg(summary.count);
        sentences << QStringLiteral("The supports leave %1 (largest %2 px at layer %3).")
                         .arg(islands)
                         .arg(summary.largestPixels)
                         .arg(summary.largestLayer);
    }
    if (summary.trapped.count > 0) {
        const bool one = summary.trapped.count == 1;
        sentences << QStringLiteral("%1 closed %2 %3 of resin (%4); add %5.")
                         .arg(summary.trapped.count)
                         .arg(one ? QStringLiteral("cavity traps") : QStringLiteral("cavities trap"),
                             volumeText(summary.trapped.volumeMm3), layersText(summary.trapped),
                             one ? QStringLiteral("a drain hole") : QStringLiteral("drain holes"));
    }
    if (summary.cups.count == 1) {
        sentences << QStringLiteral("1 cavity open only toward the platform (%1) pulls like a suction cup at every "
                                    "lift; add a vent hole.")
                         .arg(layersText(summary.cups));
    } else if (summary.cups.count > 1) {
        sentences << QStringLiteral("%1 cavities open only toward the platform (%2) pull like suction cups at every "
                                    "lift; add vent holes.")
                         .arg(summary.cups.count)
                         .arg(layersText(summary.cups));
    }
    return sentences.join(QLatin1Char(' '));
}

} // namespace IslandWarning
