#include "jobvolume.h"

#include "crushedprintjob.h"

#include <QImage>

namespace JobVolume {

namespace {

double greySum(const CrushedAntiBitMap &map)
{
    const QImage layer = CrushedAntiBitMap::decodePng(map.png()).convertToFormat(QImage::Format_Grayscale8);
    qint64 sum = 0;
    for (int y = 0; y < layer.height(); ++y) {
        const uchar *line = layer.constScanLine(y);
        for (int x = 0; x < layer.width(); ++x)
            sum += line[x];
    }
    return double(sum) / 255.0;
}

} // namespace

double litPixels(CrushedPrintJob &job, const std::function<void(int layersDone)> &progress)
{
    if (job.version() != 3)
        return double(job.totalWhitePixels());
    double pixels = 0.0;
    for (int i = 0; i < job.storedLayers(); ++i) {
        if (const CrushedAntiBitMap *map = job.getCBMSliceAnti(job.leadingBlankLayers() + i))
            pixels += greySum(*map);
        if (progress)
            progress(i + 1);
    }
    return pixels;
}

double millilitres(CrushedPrintJob &job, double pixelMm, const std::function<void(int layersDone)> &progress)
{
    const double cubicMm = litPixels(job, progress) * pixelMm * pixelMm * job.layerThicknessText().toDouble();
    return cubicMm / 1000.0;
}

} // namespace JobVolume
