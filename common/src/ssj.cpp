#include "ssj.h"

#include "crushedprintjob.h"

#include <QDebug>
#include <QFile>

CrushedPrintJob *SSJ::m_pJob = nullptr;

bool SSJ::loadCPJ(const QString &path)
{
    releaseCPJ();
    m_pJob = new CrushedPrintJob;
    QFile file(path);
    return m_pJob->loadCPJ(&file);
}

void SSJ::adopt(std::unique_ptr<CrushedPrintJob> job)
{
    releaseCPJ();
    m_pJob = job.release();
}

int SSJ::getNumImages()
{
    return m_pJob ? m_pJob->getTotalLayers() : 0;
}

QImage SSJ::getOneImage(int layer)
{
    if (!m_pJob)
        return QImage();
    QImage image(m_pJob->largestWidth(), m_pJob->largestHeight(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return image;
    image.fill(0xFF000000u);
    m_pJob->setCurrentLayer(layer);
    m_pJob->inflateCurrentSlice(&image, 0, 0, false);
    return image;
}

QList<QImage> SSJ::getImageList()
{
    QList<QImage> images;
    for (int layer = 0; layer < getNumImages(); ++layer)
        images.append(getOneImage(layer));
    return images;
}

QStringList SSJ::getCPJInfo()
{
    if (!m_pJob)
        return QStringList();
    return QStringList {m_pJob->layerThicknessText(), QString::number(m_pJob->getTotalLayers())};
}

int SSJ::getLayerThickness()
{
    if (!m_pJob) {
        qDebug() << "ERROR. Slicer/CrushBitMap.cpp SmartPrintJob::getLayerThickness. No ssj file was loaded";
        return 0;
    }
    // The text holds at most 6 significant digits; the small nudge keeps a value
    // such as 0.035 from truncating to 34 through binary rounding.
    return int(m_pJob->layerThicknessText().toDouble() * 1000.0 + 1e-6);
}

void SSJ::releaseCPJ()
{
    delete m_pJob;
    m_pJob = nullptr;
}
