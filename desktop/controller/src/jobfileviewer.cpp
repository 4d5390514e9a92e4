#include "jobfileviewer.h"

#include "basiclogging.h"
#include "crushedprintjob.h"
#include "printrule.h"

#include <QFile>
#include <QFileInfo>
#include <QVariantMap>

#include <algorithm>
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
    m_islands.clear();
    TrapCheck traps;
    traps.setKeepSeeds(true);
    for (const IslandCheck::Island &island :
        IslandCheck::find(*m_job, nullptr, {}, [&traps](const IslandCheck::Mask &layer) { traps.addLayer(layer); })) {
        if (island.pixels > IslandCheck::kMinimumIslandPixels)
            m_islands.push_back(island);
    }
    m_cavities.clear();
    for (TrapCheck::Cavity &cavity : traps.cavities(pixelMillimetres(), m_job->layerThicknessText().toDouble())) {
        if (cavity.volumeMm3 > TrapCheck::kMinimumVolumeMm3)
            m_cavities.push_back(std::move(cavity));
    }
    return show(0);
}

void JobFileViewer::close()
{
    if (!isOpen())
        return;
    m_job.reset();
    m_index = 0;
    m_islands.clear();
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

QString JobFileViewer::showLayer(int index)
{
    if (!isOpen())
        return kNotOpen;
    return show(qBound(0, index, m_job->getTotalLayers() - 1));
}

QString JobFileViewer::layerText() const
{
    if (!isOpen())
        return QString();
    const double height = (m_index + 1) * m_job->layerThicknessText().toDouble();
    return QStringLiteral("Layer %1 of %2 - %3 mm")
        .arg(m_index + 1)
        .arg(m_job->getTotalLayers())
        .arg(height, 0, 'f', 2);
}

double JobFileViewer::pixelMillimetres() const
{
    return PrintRule::pixelMillimetres(m_job->description());
}

QVariantList JobFileViewer::islandList() const
{
    QVariantList list;
    if (!isOpen())
        return list;
    const double pixel = pixelMillimetres();
    const double width = m_job->largestWidth() > 0 ? m_job->largestWidth() : kProjectedWidth;
    const double height = m_job->largestHeight() > 0 ? m_job->largestHeight() : kProjectedHeight;
    for (const IslandCheck::Island &island : m_islands) {
        // Centres of pixels, from the middle of the image, which is the platform's centre.
        const double x = (island.x + 0.5 - width / 2.0) * pixel;
        const double y = (height / 2.0 - island.y - 0.5) * pixel;
        const double area = double(island.pixels) * pixel * pixel;
        QVariantMap entry;
        entry.insert(QStringLiteral("layer"), island.layer + 1);
        entry.insert(QStringLiteral("cavity"), false);
        entry.insert(QStringLiteral("pixels"), island.pixels);
        entry.insert(QStringLiteral("area"), area);
        entry.insert(QStringLiteral("x"), x);
        entry.insert(QStringLiteral("y"), y);
        entry.insert(QStringLiteral("text"),
            QStringLiteral("Layer %1: %2 px (%3 mm²) at %4, %5 mm")
                .arg(island.layer + 1)
                .arg(island.pixels)
                .arg(area, 0, 'f', 2)
                .arg(x, 0, 'f', 1)
                .arg(y, 0, 'f', 1));
        list.append(entry);
    }
    for (const TrapCheck::Cavity &cavity : m_cavities) {
        const bool cup = cavity.kind == TrapCheck::Kind::SuctionCup;
        list.append(QVariantMap {{QStringLiteral("layer"), cavity.firstLayer}, {QStringLiteral("cavity"), true},
            {QStringLiteral("text"),
                (cup ? QStringLiteral("Suction cup, layers %1-%2: %3 mm³")
                     : QStringLiteral("Trapped resin, layers %1-%2: %3 mm³"))
                    .arg(cavity.firstLayer)
                    .arg(cavity.lastLayer)
                    .arg(cavity.volumeMm3, 0, 'f', 1)}});
    }
    return list;
}

QString JobFileViewer::showIsland(int islandIndex)
{
    if (!isOpen() || islandIndex < 0 || size_t(islandIndex) >= m_islands.size() + m_cavities.size())
        return kNotOpen;
    if (size_t(islandIndex) >= m_islands.size())
        return showLayer(m_cavities[size_t(islandIndex) - m_islands.size()].firstLayer - 1);
    return showLayer(m_islands[size_t(islandIndex)].layer);
}

void JobFileViewer::setHighlightIslands(bool highlight)
{
    if (highlight == m_highlightIslands)
        return;
    m_highlightIslands = highlight;
    if (isOpen())
        show(m_index);
}

void JobFileViewer::drawIslands(QImage *image) const
{
    const bool anyHere = std::any_of(m_islands.begin(), m_islands.end(),
        [this](const IslandCheck::Island &island) { return island.layer == m_index; });
    if (!anyHere)
        return;
    const IslandCheck::Mask islands = IslandCheck::islandPixels(
        IslandCheck::layerMask(*m_job, m_index - 1), IslandCheck::layerMask(*m_job, m_index));
    if (islands.width != image->width() || islands.height != image->height())
        return;
    for (int y = 0; y < islands.height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image->scanLine(y));
        const quint8 *lit = islands.lit.data() + size_t(y) * size_t(islands.width);
        for (int x = 0; x < islands.width; ++x) {
            if (lit[x])
                line[x] = kIslandColour;
        }
    }
}

void JobFileViewer::drawCavities(QImage *image) const
{
    IslandCheck::Mask layer;
    std::vector<int> open;
    for (const TrapCheck::Cavity &cavity : m_cavities) {
        for (const TrapCheck::Cavity::Seed &seed : cavity.seeds) {
            if (seed.layer != m_index)
                continue;
            if (layer.lit.empty())
                layer = IslandCheck::layerMask(*m_job, m_index);
            if (layer.width != image->width() || layer.height != image->height())
                return;
            // The unlit part the seed lies in, through four neighbours; marked lit once drawn.
            const auto visit = [&](int x, int y) {
                quint8 &lit = layer.lit[size_t(y) * size_t(layer.width) + size_t(x)];
                if (!lit) {
                    lit = 1;
                    reinterpret_cast<QRgb *>(image->scanLine(y))[x] = kCavityColour;
                    open.push_back(y * layer.width + x);
                }
            };
            visit(seed.x, seed.y);
            while (!open.empty()) {
                const int x = open.back() % layer.width;
                const int y = open.back() / layer.width;
                open.pop_back();
                if (x > 0)
                    visit(x - 1, y);
                if (x + 1 < layer.width)
                    visit(x + 1, y);
                if (y > 0)
                    visit(x, y - 1);
                if (y + 1 < layer.height)
                    visit(x, y + 1);
            }
        }
    }
}

QString JobFileViewer::show(int index)
{
    m_index = index;
    const int width = m_job->largestWidth() > 0 ? m_job->largestWidth() : kProjectedWidth;
    const int height = m_job->largestHeight() > 0 ? m_job->largestHeight() : kProjectedHeight;
    QImage image = blackImage(width, height);
    m_job->setCurrentLayer(index);
    m_job->inflateCurrentSlice(&image, 0, 0, false);
    if (m_highlightIslands) {
        drawIslands(&image);
        drawCavities(&image);
    }
    emit layerShown(image);
    return QString::number(m_index + 1);
}
