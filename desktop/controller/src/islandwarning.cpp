#include "islandwarning.h"

#include "basiclogging.h"
#include "crushedprintjob.h"
#include "islandcheck.h"

#include <QFile>

namespace IslandWarning {

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
    const auto progress = [&layerDone](int) {
        if (layerDone)
            layerDone();
    };
    for (const IslandCheck::Island &island : IslandCheck::find(job, progress)) {
        if (island.pixels <= IslandCheck::kMinimumIslandPixels)
            continue;
        if (summary->count++ == 0)
            summary->firstLayer = island.layer + 1;
        if (island.pixels > summary->largestPixels) {
            summary->largestPixels = island.pixels;
            summary->largestLayer = island.layer + 1;
        }
    }
    return true;
}

QString text(const Summary &summary)
{
    const QString islands
        = summary.count == 1 ? QStringLiteral("1 island") : QStringLiteral("%1 islands").arg(summary.count);
    return QStringLiteral("The supports leave %1 (largest %2 px at layer %3).")
        .arg(islands)
        .arg(summary.largestPixels)
        .arg(summary.largestLayer);
}

} // namespace IslandWarning
