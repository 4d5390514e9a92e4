#include "jobfileviewer.h"

#include "basiclogging.h"
#include "crushedprintjob.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace {

// Size of the all-black image shown when the viewer closes: a printer's projected image.
constexpr int kProjectedWidth = 1280;
constexpr int kProjectedHeight = 800;
const QString kNotOpen = QStringLiteral("n/a");

QImage blackImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(0xFF000000u);
    return image;
}

} // namespace

JobFileViewer::JobFileViewer(QObject *parent)
    : QObject(parent)
{
}

JobFileViewer::~JobFileViewer() = default;

QString JobFileViewer::open(const QString &normalisedPath)
{
    auto job = std::make_unique<CrushedPrintJob>();
    QFile file(normalisedPath);
    if (!job->loadCPJ(&file) || job->getTotalLayers() <= 0) {
        const QString reason = job->errorString().isEmpty() ? QStringLiteral("it holds no layers") : job->errorString();
        // The page knows this operation by the controller's name.
        logLine(QStringLiteral("ERROR. MyGLWidget::setSSJViewerPath. Could not show ") + normalisedPath
            + QStringLiteral(": ") + reason);
        close();
        emit problem(QStringLiteral("The print job file %1 could not be shown: %2")
                         .arg(QFileInfo(normalisedPath).fileName(), reason));
        return kNotOpen;
    }
    m_job = std::move(job);
    return show(0);
}

void JobFileViewer::close()
{
    if (!isOpen())
        return;
    m_job.reset();
    m_index = 0;
    emit layerShown(blackImage(kProjectedWidth, kProjectedHeight));
}

QString JobFileViewer::showNext()
{
    if (!isOpen())
        return kNotOpen;
    return show(qMin(m_index + 1, m_job->getTotalLayers() - 1));
}

QString JobFileViewer::showPrevious()
{
    if (!isOpen())
        return kNotOpen;
    return show(qMax(m_index - 1, 0));
}

QString JobFileViewer::showAt(double fraction)
{
    if (!isOpen())
        return kNotOpen;
    const int count = m_job->getTotalLayers();
    const double bounded = std::isfinite(fraction) ? qBound(0.0, fraction, 1.0) : 0.0;
    return show(qMin(static_cast<int>(count * bounded), count - 1));
}

QString JobFileViewer::layerCountText() const
{
    return isOpen() ? QString::number(m_job->getTotalLayers()) : kNotOpen;
}

QString JobFileViewer::show(int index)
{
    m_index = index;
    const int width = m_job->largestWidth() > 0 ? m_job->largestWidth() : kProjectedWidth;
    const int height = m_job->largestHeight() > 0 ? m_job->largestHeight() : kProjectedHeight;
    QImage image = blackImage(width, height);
    m_job->setCurrentLayer(index);
    m_job->inflateCurrentSlice(&image, 0, 0, false);
    emit layerShown(image);
    return QString::number(m_index + 1);
}
