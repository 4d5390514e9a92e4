#include "slicejobwriter.h"

#include <QDebug>
#include <QFileInfo>
#include <QStandardPaths>

SliceJobWriter::SliceJobWriter(bool antiAliased, double layerThicknessMm, const QString &description)
    : m_antiAliased(antiAliased)
{
    m_job.setVersion(antiAliased ? 3 : 1);
    m_job.setName(QStringLiteral("jobname"));
    m_job.setDescription(description.isEmpty() ? QStringLiteral("jobdesc") : description);
    m_job.setReservedNumber(0);
    m_job.setLayerThickness(layerThicknessMm);
    m_job.setLeadingBlankLayers(0);
    m_job.setBaseLayers(0);
    m_job.setReservedTexts({QStringLiteral("Reserved3"), QStringLiteral("Reserved2"), QStringLiteral("Reserved1")});
    m_job.clearAll(0);
}

bool SliceJobWriter::packPlain(QImage *image, CrushedBitMap *map)
{
    return image && !image->isNull() && map->crushSlice(image);
}

bool SliceJobWriter::packAntiAliased(QImage *image, CrushedAntiBitMap *map)
{
    return image && !image->isNull() && map->crushSlice(image);
}

bool SliceJobWriter::appendLayer(int layer, QImage *image)
{
    if (m_antiAliased) {
        CrushedAntiBitMap map;
        if (!packAntiAliased(image, &map))
            return false;
        appendPacked(layer, std::move(map));
    } else {
        CrushedBitMap map;
        if (!packPlain(image, &map))
            return false;
        appendPacked(layer, std::move(map));
    }
    return true;
}

void SliceJobWriter::appendPacked(int layer, CrushedBitMap &&map)
{
    m_job.setCurrentLayer(layer);
    m_job.addBitMap(std::move(map));
}

void SliceJobWriter::appendPacked(int layer, CrushedAntiBitMap &&map)
{
    m_job.setCurrentLayer(layer);
    m_job.addAntiBitMap(std::move(map));
}

QImage SliceJobWriter::layerImage(int layer)
{
    QImage image;
    m_job.setCurrentLayer(layer);
    m_job.inflateCurrentSlice(&image, 0, 0, true);
    return image;
}

bool SliceJobWriter::replaceLayer(int layer, QImage *image)
{
    m_job.setCurrentLayer(layer);
    return m_job.crushCurrentSlice(image);
}

bool SliceJobWriter::save(const QString &path)
{
    m_error.clear();
    if (!m_job.saveCPJ(path)) {
        m_error = QStringLiteral("Could not write %1: %2").arg(path, m_job.errorString());
        return false;
    }
    return true;
}

QString SliceJobWriter::printFilePath(const QStringList &modelFileNames)
{
    QStringList parts;
    for (const QString &name : modelFileNames) {
        const QString fileName = QFileInfo(name).fileName();
        parts << fileName.left(qMax(0, fileName.size() - 4));
    }
    const QString joined = parts.join(QLatin1Char('_')).left(50);
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QLatin1Char('/') + joined
        + QStringLiteral(".ssj");
}
