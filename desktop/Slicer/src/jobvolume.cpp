#include "jobvolume.h"

#include "crushedprintjob.h"

#include <QImage>

namespace JobVolume {

double greyPixels(const QImage &image)
{
    const QImage layer = image.convertToFormat(QImage::Format_Grayscale8);
    qint64 sum = 0;
    for (int y = 0; y < layer.height(); ++y) {
        const uchar *line = layer.constScanLine(y);
        for (int x = 0; x < layer.width(); ++x)
            sum += line[x];
    }
    return double(sum) / 255.0;
}

double litPixels(CrushedPrintJob &job, const std::function<void(int layersDone)> &progress)
{
    if (job.version() != 3)
        return double(job.totalWhitePixels());
    double pixels = 0.0;
    for (int i = 0; i < job.storedLayers(); ++i) {
        if (const CrushedAntiBitMap *map = job.getCBMSliceAnti(job.leadingBlankLayers() + i))
            pixels += greyPixels(CrushedAntiBitMap::decodePng(map->png()));
        if (progress)
            progress(i + 1);
    }
    return pixels;
}

double millilitres(CrushedPrintJob &job, double pixelMm, const std::function<void(int layersDone)> &progress)
{
    return millilitres(litPixels(job, progress), pixelMm, job.layerThicknessText().toDouble());
}

double millilitres(double litPixels, double pixelMm, double layerThicknessMm)
{
    return litPixels * pixelMm * pixelMm * layerThicknessMm / 1000.0;
}

} // namespace JobVolume
