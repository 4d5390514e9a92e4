#include "genslices.h"

#include "layerhollower.h"
#include "trapcheck.h"
#include "meshimporter.h"
#include "slicejobwriter.h"
#include "slicerasteriser.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QThread>
#include <QtMath>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

namespace {

std::atomic<bool> s_sliceCancelRequested {false};

// Overlap allowance of the height index, in millimetres.
constexpr double kBucketSlack = 0.001;

struct Matrix3 {
    double m[3][3];

    QVector3D apply(const QVector3D &v) const
    {
        const double x = v.x();
        const double y = v.y();
        const double z = v.z();
        return QVector3D(float(m[0][0] * x + m[0][1] * y + m[0][2] * z), float(m[1][0] * x + m[1][1] * y + m[1][2] * z),
            float(m[2][0] * x + m[2][1] * y + m[2][2] * z));
    }

    Matrix3 operator*(const Matrix3 &o) const
    {
        Matrix3 r {};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                r.m[i][j] = m[i][0] * o.m[0][j] + m[i][1] * o.m[1][j] + m[i][2] * o.m[2][j];
        return r;
    }
};

// Rotation about y first, then x, then z, angles in degrees.
Matrix3 rotationMatrix(const QVector3D &degrees)
{
    const double rx = qDegreesToRadians(double(degrees.x()));
    const double ry = qDegreesToRadians(double(degrees.y()));
    const double rz = qDegreesToRadians(double(degrees.z()));
    // Quarter turns stay exact: cos(90 degrees) is not quite 0 in floating point.
    const auto cos = [](double a) { return std::abs(std::cos(a)) < 1e-12 ? 0.0 : std::cos(a); };
    const auto sin = [](double a) { return std::abs(std::sin(a)) < 1e-12 ? 0.0 : std::sin(a); };
    const Matrix3 x {{{1, 0, 0}, {0, cos(rx), -sin(rx)}, {0, sin(rx), cos(rx)}}};
    const Matrix3 y {{{cos(ry), 0, sin(ry)}, {0, 1, 0}, {-sin(ry), 0, cos(ry)}}};
    const Matrix3 z {{{cos(rz), -sin(rz), 0}, {sin(rz), cos(rz), 0}, {0, 0, 1}}};
    return z * (x * y);
}

QVector3D minimum(const QVector3D &a, const QVector3D &b)
{
    return QVector3D(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::min(a.z(), b.z()));
}

QVector3D maximum(const QVector3D &a, const QVector3D &b)
{
    return QVector3D(std::max(a.x(), b.x()), std::max(a.y(), b.y()), std::max(a.z(), b.z()));
}

// Sorts by lowest z, ties kept in their order, without a second copy of the list: the
// order is sorted as indices, then applied in place along its cycles.
void sortByLowestZ(std::vector<SliceTriangle> &triangles)
{
    const int count = int(triangles.size());
    std::vector<int> order(size_t(count), 0);
    for (int i = 0; i < count; ++i)
        order[size_t(i)] = i;
    // Many triangles share their lowest z (the rings of a tessellated sphere): a merge
    // sort of the indices keeps clear of quicksort's bad cases.
    std::stable_sort(order.begin(), order.end(),
        [&](int a, int b) { return triangles[size_t(a)].minZ < triangles[size_t(b)].minZ; });
    // order[i] is the triangle that goes to position i.
    for (int start = 0; start < count; ++start) {
        if (order[size_t(start)] < 0 || order[size_t(start)] == start)
            continue;
        SliceTriangle held = triangles[size_t(start)];
        int position = start;
        for (;;) {
            const int from = order[size_t(position)];
            order[size_t(position)] = -1;
            if (from == start) {
                triangles[size_t(position)] = held;
                break;
            }
            triangles[size_t(position)] = triangles[size_t(from)];
            position = from;
        }
    }
}

// One finished layer, packed by a slicing thread; when the models are hollowed, their
// part of the layer and the supports' part, to be packed once hollowed.
struct PackedLayer {
    bool ready = false;
    bool packed = false;
    std::variant<CrushedBitMap, CrushedAntiBitMap> map;
    std::vector<uint8_t> model; // within the model box
    std::vector<uint16_t> distance;
    std::vector<uint8_t> supports; // the whole image; empty without supports
};

constexpr QRgb kSolidRed = 0xffff0000u;

int threadsFor(int layers, int requested)
{
    return std::max(1, std::min(layers, requested > 0 ? requested : std::max(1, QThread::idealThreadCount())));
}

// A layer image's coverage within a box, one byte a pixel: 255 solid, grey levels of
// anti-aliased edges, 0 empty.
std::vector<uint8_t> coverageOf(const QImage &image, const QRect &box)
{
    std::vector<uint8_t> coverage(size_t(box.width()) * size_t(box.height()));
    for (int y = 0; y < box.height(); ++y) {
        uint8_t *out = coverage.data() + size_t(y) * size_t(box.width());
        if (image.format() == QImage::Format_Grayscale8) {
            const uchar *line = image.constScanLine(y + box.top()) + box.left();
            std::copy(line, line + box.width(), out);
            continue;
        }
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y + box.top())) + box.left();
        for (int x = 0; x < box.width(); ++x)
            out[x] = line[x] == kSolidRed ? 255 : 0;
    }
    return coverage;
}

// The layer image of the hollowed models (within `box`) with the supports drawn over.
QImage composeLayer(
    const std::vector<uint8_t> &model, const QRect &box, const std::vector<uint8_t> &supports, bool antialias)
{
    const int width = SliceRasteriser::kWidth;
    QImage image(width, SliceRasteriser::kHeight, antialias ? QImage::Format_Grayscale8 : QImage::Format_ARGB32);
    image.fill(antialias ? 0u : 0xff000000u);
    // Only the model box, unless there are supports.
    const int left = supports.empty() ? box.left() : 0;
    const int right = supports.empty() ? box.right() : width - 1;
    for (int y = supports.empty() ? box.top() : 0; y <= (supports.empty() ? box.bottom() : image.height() - 1); ++y) {
        const bool inBox = y >= box.top() && y <= box.bottom();
        const uint8_t *inside = inBox ? model.data() + size_t(y - box.top()) * size_t(box.width()) : nullptr;
        uchar *grey = image.scanLine(y);
        QRgb *plain = reinterpret_cast<QRgb *>(grey);
        for (int x = left; x <= right; ++x) {
            uint8_t level = supports.empty() ? 0 : supports[size_t(y) * size_t(width) + size_t(x)];
            if (inside && x >= box.left() && x <= box.right())
                level = std::max(level, inside[x - box.left()]);
            if (antialias)
                grey[x] = level;
            else if (level == 255)
                plain[x] = kSolidRed;
        }
    }
    return image;
}

// The threads of one run's layer loop. Each takes the next layer number, waits while it
// is a window of layers ahead of the writer (which bounds the memory and lets a cancel
// stop within a layer or two), slices, draws and packs it, and leaves it in its slot
// for take().
class LayerPipeline
{
public:
    // With a model box, the layers are left unpacked for hollowing (see PackedLayer).
    LayerPipeline(const GenSlices &slicer, int layers, int threads, bool antialias, int supersampling,
        const QRect &modelBox = QRect(), bool supports = false)
        : m_slicer(slicer)
        , m_antialias(antialias)
        , m_supersampling(supersampling)
        , m_modelBox(modelBox)
        , m_supports(supports)
        , m_layers(layers)
        , m_window(2 * threads)
        , m_results(size_t(layers))
    {
        for (int t = 0; t < threads; ++t)
            m_pool.emplace_back([this] { work(); });
    }

    ~LayerPipeline() { stop(); }

    // Waits for layer k, hands it over and lets the threads run one layer further.
    PackedLayer take(int k)
    {
        PackedLayer layer;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_layerDone.wait(lock, [&] { return m_results[size_t(k)].ready; });
            layer = std::move(m_results[size_t(k)]);
            m_results[size_t(k)] = PackedLayer();
            m_consumed = k + 1;
        }
        m_roomAhead.notify_all();
        return layer;
    }

    // Stops the threads after the layers they are on, and waits for them.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_roomAhead.notify_all();
        for (std::thread &thread : m_pool)
            thread.join();
        m_pool.clear();
    }

    qint64 sliceMs() const { return m_sliceNs / 1000000; }
    qint64 packMs() const { return m_packNs / 1000000; }

private:
    void work()
    {
        SliceSet set(&m_slicer);
        SliceRasteriser rasteriser;
        for (;;) {
            const int k = m_nextLayer.fetch_add(1);
            if (k >= m_layers)
                return;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_roomAhead.wait(lock, [&] { return m_stop || k < m_consumed + m_window; });
                if (m_stop)
                    return;
            }
            PackedLayer packed = pack(set, rasteriser, k);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                packed.ready = true;
                m_results[size_t(k)] = std::move(packed);
            }
            m_layerDone.notify_all();
        }
    }

    PackedLayer parts(SliceSet &set, SliceRasteriser &rasteriser, int k)
    {
        QElapsedTimer timer;
        timer.start();
        PackedLayer layer;
        const double height = m_slicer.layerHeight(k);
        layer.model = coverageOf(rasteriser.render(set.generate(height, ScenePart::Models), m_antialias, m_supersampling), m_modelBox);
        if (m_supports) {
            const QImage supports = rasteriser.render(set.generate(height, ScenePart::Supports), m_antialias, m_supersampling);
            layer.supports = coverageOf(supports, supports.rect());
        }
        layer.distance = LayerHollower::distanceMap(layer.model, m_modelBox.width(), m_modelBox.height());
        m_sliceNs += timer.nsecsElapsed();
        return layer;
    }

    PackedLayer pack(SliceSet &set, SliceRasteriser &rasteriser, int k)
    {
        if (!m_modelBox.isEmpty())
            return parts(set, rasteriser, k);
        QElapsedTimer timer;
        timer.start();
        QImage image = rasteriser.render(set.generate(m_slicer.layerHeight(k)), m_antialias, m_supersampling);
        m_sliceNs += timer.nsecsElapsed();
        timer.start();
        PackedLayer packed;
        if (m_antialias) {
            CrushedAntiBitMap map;
            packed.packed = SliceJobWriter::packAntiAliased(&image, &map);
            packed.map = std::move(map);
        } else {
            CrushedBitMap map;
            packed.packed = SliceJobWriter::packPlain(&image, &map);
            packed.map = std::move(map);
        }
        m_packNs += timer.nsecsElapsed();
        return packed;
    }

    const GenSlices &m_slicer;
    const bool m_antialias;
    const int m_supersampling;
    const QRect m_modelBox;
    const bool m_supports;
    const int m_layers;
    const int m_window;
    std::vector<PackedLayer> m_results;
    std::mutex m_mutex;
    std::condition_variable m_layerDone;
    std::condition_variable m_roomAhead;
    int m_consumed = 0;
    bool m_stop = false;
    std::atomic<int> m_nextLayer {0};
    std::atomic<qint64> m_sliceNs {0};
    std::atomic<qint64> m_packNs {0};
    std::vector<std::thread> m_pool;
};

} // namespace

QVector3D SliceTriangle::maxCorner() const
{
    return maximum(maximum(a, b), c);
}

QVector3D SliceTriangle::minCorner() const
{
    return minimum(minimum(a, b), c);
}

GenSlices::GenSlices(QObject *parent)
    : QObject(parent)
{
}

void GenSlices::requestCancel()
{
    s_sliceCancelRequested = true;
}

bool GenSlices::isCancelRequested()
{
    return s_sliceCancelRequested.load();
}

bool GenSlices::prepare(const QList<MeshTriangle *> &triangles, double layerThickness, const QVector3D &translation,
    const QVector3D &rotation, const QVector3D &scale, int firstSupportTriangle)
{
    m_thickness = layerThickness;
    m_triangles.clear();
    m_bucketStart.clear();
    m_bucketTriangles.clear();
    m_triangles.reserve(size_t(triangles.size()));
    const Matrix3 rotate = rotationMatrix(rotation);
    m_min = QVector3D(1e8f, 1e8f, 1e8f);
    m_max = QVector3D(-1e8f, -1e8f, -1e8f);
    m_modelMin = m_min;
    m_modelMax = m_max;
    m_hasSupports = false;
    for (int i = 0; i < triangles.size(); ++i) {
        const MeshTriangle *mesh = triangles[i];
        if (!mesh)
            continue;
        SliceTriangle t;
        t.support = firstSupportTriangle >= 0 && i >= firstSupportTriangle;
        const QVector3D normal = rotate.apply(mesh->normal / scale);
        t.normal = normal.normalized();
        t.a = rotate.apply(mesh->a * scale) + translation;
        t.b = rotate.apply(mesh->b * scale) + translation;
        t.c = rotate.apply(mesh->c * scale) + translation;
        m_min = minimum(m_min, t.minCorner());
        m_max = maximum(m_max, t.maxCorner());
        t.minZ = std::min({t.a.z(), t.b.z(), t.c.z()});
        t.maxZ = std::max({t.a.z(), t.b.z(), t.c.z()});
        m_hasSupports = m_hasSupports || t.support;
        if (!t.support) {
            m_modelMin = minimum(m_modelMin, t.minCorner());
            m_modelMax = maximum(m_modelMax, t.maxCorner());
        }
        m_triangles.push_back(t);
    }
    sortByLowestZ(m_triangles);
    m_bottom = m_min.z();
    m_top = m_max.z();
    if (m_triangles.empty() || !(m_top > m_bottom) || !(layerThickness > 0.0))
        return false;

    // Height index. Every triangle lands in the buckets it overlaps, clamped to the
    // index, so that none is ever left out.
    const int buckets = std::max(1, static_cast<int>((m_top - m_bottom) / layerThickness));
    m_bucketHeight = (m_top - m_bottom) / buckets;
    const auto bucketOf = [&](double z) {
        return std::clamp(static_cast<int>(std::floor((z - m_bottom) / m_bucketHeight)), 0, buckets - 1);
    };
    std::vector<int> counts(size_t(buckets) + 1, 0);
    for (const SliceTriangle &t : m_triangles) {
        const int first = bucketOf(t.minZ - kBucketSlack);
        const int last = bucketOf(t.maxZ + kBucketSlack);
        for (int k = first; k <= last; ++k)
            ++counts[size_t(k)];
    }
    m_bucketStart.assign(size_t(buckets) + 1, 0);
    for (int k = 0; k < buckets; ++k)
        m_bucketStart[size_t(k) + 1] = m_bucketStart[size_t(k)] + counts[size_t(k)];
    m_bucketTriangles.resize(size_t(m_bucketStart.back()));
    std::vector<int> fill(m_bucketStart.begin(), m_bucketStart.end() - 1);
    for (int i = 0; i < int(m_triangles.size()); ++i) {
        const SliceTriangle &t = m_triangles[size_t(i)];
        const int first = bucketOf(t.minZ - kBucketSlack);
        const int last = bucketOf(t.maxZ + kBucketSlack);
        for (int k = first; k <= last; ++k)
            m_bucketTriangles[size_t(fill[size_t(k)]++)] = i;
    }
    return true;
}

QRect GenSlices::modelBox() const
{
    if (!(m_modelMax.x() >= m_modelMin.x()))
        return QRect();
    // Two pixels beyond the models: room for the grey edges of anti-aliased layers.
    const auto column = [](double x) { return x / SliceRasteriser::kPixelSize + SliceRasteriser::kWidth / 2.0; };
    const auto row = [](double y) { return SliceRasteriser::kHeight / 2.0 - y / SliceRasteriser::kPixelSize; };
    const QRect box(QPoint(int(std::floor(column(m_modelMin.x()))) - 2, int(std::floor(row(m_modelMax.y()))) - 2),
        QPoint(int(std::ceil(column(m_modelMax.x()))) + 2, int(std::ceil(row(m_modelMin.y()))) + 2));
    return box.intersected(QRect(0, 0, SliceRasteriser::kWidth, SliceRasteriser::kHeight));
}

int GenSlices::layerCount() const
{
    if (m_triangles.empty() || !(m_top > m_bottom) || !(m_thickness > 0.0))
        return 0;
    int count = 0;
    while (m_top > layerHeight(count))
        ++count;
    return count;
}

std::pair<const int *, const int *> GenSlices::bucketTriangles(double height) const
{
    const int buckets = int(m_bucketStart.size()) - 1;
    if (buckets <= 0)
        return {nullptr, nullptr};
    const int k = std::clamp(static_cast<int>(std::floor((height - m_bottom) / m_bucketHeight)), 0, buckets - 1);
    const int *base = m_bucketTriangles.data();
    return {base + m_bucketStart[size_t(k)], base + m_bucketStart[size_t(k) + 1]};
}

SliceLayer GenSlices::sliceLayer(int layer) const
{
    SliceSet set(this);
    set.generate(layerHeight(layer));
    return set.takeLayer();
}

QImage GenSlices::layerImage(int layer, bool antialias, int supersampling) const
{
    SliceRasteriser rasteriser;
    return rasteriser.render(sliceLayer(layer), antialias, supersampling);
}

bool GenSlices::saveSlices(const QList<MeshTriangle *> &triangles, const QString &filePath, const Settings &settings,
    const ProgressFunction &progress)
{
    const ProgressFunction report = [&](int percent) {
        if (progress)
            progress(percent);
    };
    qDebug() << "GenSlices::saveSlices - Save slices. Layer thickness: " << settings.layerThickness;
    m_timings = Timings();
    m_error.clear();
    s_sliceCancelRequested = false;
    report(0);

    QElapsedTimer clock;
    clock.start();
    const bool usable = prepare(triangles, settings.layerThickness, settings.translation, settings.rotation,
                            settings.scale, settings.firstSupportTriangle)
        && layerCount() > 0;
    m_timings.prepareMs = clock.elapsed();
    report(5);
    if (!usable) {
        m_result = Result::EmptyScene;
        m_error = m_triangles.empty() ? QStringLiteral("Nothing to slice: the scene has no triangles.")
                                      : QStringLiteral("Nothing to slice: the scene has no height.");
        qDebug() << "ERROR. GenSlices::saveSlices." << m_error;
        return false;
    }
    report(10);

    SliceJobWriter writer(settings.antialias, settings.layerThickness, settings.jobDescription);
    m_hollowReport = HollowReport();
    const int supersampling = SliceRasteriser::isSupersampling(settings.supersampling) ? settings.supersampling : 0;
    const bool sliced = settings.hollowing.wall > 0.0 && !modelBox().isEmpty()
        ? sliceHollowedLayers(writer, settings, supersampling, report)
        : sliceLayers(writer, settings.antialias, supersampling, report);
    if (!sliced) {
        m_result = Result::Cancelled;
        m_error = QStringLiteral("Slicing was cancelled.");
        qDebug() << "GenSlices::saveSlices. Cancelled; nothing written";
        return false;
    }
    report(100);
    return writeJob(writer, filePath);
}

bool GenSlices::sliceLayers(SliceJobWriter &writer, bool antialias, int supersampling, const ProgressFunction &report)
{
    const int layers = layerCount();
    const int total = std::max(1, static_cast<int>(std::ceil((m_top - m_bottom) / m_thickness)));
    const int threads = threadsFor(layers, m_threadCount);

    QElapsedTimer layersClock;
    layersClock.start();
    LayerPipeline pipeline(*this, layers, threads, antialias, supersampling);
    bool cancelled = false;
    for (int k = 0; k < layers; ++k) {
        PackedLayer layer = pipeline.take(k);
        if (layer.packed) {
            if (antialias)
                writer.appendPacked(k, std::move(std::get<CrushedAntiBitMap>(layer.map)));
            else
                writer.appendPacked(k, std::move(std::get<CrushedBitMap>(layer.map)));
        } else {
            qDebug() << "ERROR. GenSlices::saveSlices. Layer" << k << "could not be packed and is left out";
        }
        report(static_cast<int>(std::floor((k + 1) * 90.0 / total + 10.0)));
        if (s_sliceCancelRequested) {
            s_sliceCancelRequested = false;
            cancelled = true;
            break;
        }
    }
    pipeline.stop();
    m_timings.layersWallMs = layersClock.elapsed();
    m_timings.sliceMs = pipeline.sliceMs();
    m_timings.packMs = pipeline.packMs();
    m_bucketStart.clear();
    m_bucketTriangles.clear();
    return !cancelled;
}

void GenSlices::propUpHangingTips(SliceJobWriter &writer, const LayerHollower &hollower, const Hollowing &hollowing)
{
    // A pillar a little wider than its tip, at least 0.8 mm across. Within 0.9 wall of a
    // cavity pixel all was model before hollowing, so the pillar stays inside the model;
    // straight down it meets the cavity's floor. A drain hole under the tip would take
    // the pillar's foot: such a tip is left (and counted).
    const LayerHollower::Settings inPixels = hollowerSettings(hollowing);
    const double wall = inPixels.wallPixels;
    const double holeRadius = inPixels.holeRadiusPixels;
    struct Pillar {
        LayerHollower::Tip tip;
        double radius = 0.0;
        bool standing = false; // down to the floor
    };
    std::vector<Pillar> pillars;
    int top = 0;
    for (const LayerHollower::Tip &tip : hollower.hangingTips()) {
        const double radius = std::min(std::max(tip.radius, 0.4 / hollowing.pixelSize), 0.9 * wall);
        const auto inTheWay = [&](const LayerHollower::Hole &hole) {
            return std::hypot(hole.x - tip.x, hole.y - tip.y) < holeRadius + radius;
        };
        if (std::any_of(hollower.holesCut().begin(), hollower.holesCut().end(), inTheWay)) {
            ++m_hollowReport.unpropped;
            continue;
        }
        pillars.push_back({tip, radius, false});
        top = std::max(top, tip.layer);
    }
    // Layer by layer down, each layer unpacked once for all the pillars through it.
    const auto lit = [](QRgb pixel) { return (pixel & 0xffffffu) != 0; };
    for (int layer = top - 1; layer >= 0; --layer) {
        QImage image;
        bool drawn = false;
        for (Pillar &pillar : pillars) {
            const LayerHollower::Tip &tip = pillar.tip;
            if (pillar.standing || tip.layer <= layer)
                continue;
            if (image.isNull())
                image = writer.layerImage(layer);
            pillar.standing = !image.valid(tip.x, tip.y) || lit(image.pixel(tip.x, tip.y));
            if (pillar.standing)
                continue;
            const int reach = int(std::ceil(pillar.radius));
            for (int y = std::max(0, tip.y - reach); y <= std::min(image.height() - 1, tip.y + reach); ++y) {
                QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
                for (int x = std::max(0, tip.x - reach); x <= std::min(image.width() - 1, tip.x + reach); ++x) {
                    if (std::hypot(x - tip.x, y - tip.y) <= pillar.radius)
                        row[x] = 0xffffffffu;
                }
            }
            drawn = true;
        }
        if (drawn)
            writer.replaceLayer(layer, &image);
    }
    m_hollowReport.pillars += int(pillars.size());
}

bool GenSlices::writeJob(SliceJobWriter &writer, const QString &filePath)
{
    QElapsedTimer clock;
    clock.start();
    const bool written = writer.save(filePath);
    m_timings.writeMs = clock.elapsed();
    if (!written) {
        m_result = Result::WriteFailed;
        m_error = writer.errorString();
        qDebug() << "ERROR. GenSlices::saveSlices." << m_error;
        return false;
    }
    m_result = Result::Done;
    return true;
}

LayerHollower::Settings GenSlices::hollowerSettings(const Hollowing &hollowing) const
{
    LayerHollower::Settings hollow;
    hollow.wallPixels = hollowing.wall / hollowing.pixelSize;
    hollow.layerPixels = m_thickness / hollowing.pixelSize;
    hollow.holeRadiusPixels = hollowing.drainDiameter / 2.0 / hollowing.pixelSize;
    hollow.autoHoles = hollowing.autoDrainHoles;
    hollow.smallestDrainedVolume
        = TrapCheck::kMinimumVolumeMm3 / (hollowing.pixelSize * hollowing.pixelSize * m_thickness);
    for (const QVector3D &top : hollowing.drainHoles) {
        LayerHollower::Hole hole;
        hole.x = top.x() / SliceRasteriser::kPixelSize + SliceRasteriser::kWidth / 2.0 - 0.5;
        hole.y = SliceRasteriser::kHeight / 2.0 - top.y() / SliceRasteriser::kPixelSize - 0.5;
        hole.topLayer = std::isnan(top.z())
            ? -1
            : std::max(0, static_cast<int>(std::floor((top.z() - m_bottom - m_thickness / 2.0) / m_thickness)));
        hollow.holes.push_back(hole);
    }
    return hollow;
}

bool GenSlices::sliceHollowedLayers(
    SliceJobWriter &writer, const Settings &settings, int supersampling, const ProgressFunction &report)
{
    const int layers = layerCount();
    const int total = std::max(1, static_cast<int>(std::ceil((m_top - m_bottom) / m_thickness)));
    const int threads = threadsFor(layers, m_threadCount);
    const QRect box = modelBox();
    LayerHollower::Settings hollow = hollowerSettings(settings.hollowing);
    hollow.threads = threads;
    // The supports of the layers not yet written, for the automatic holes to keep clear of.
    std::deque<std::vector<uint8_t>> supports;
    int written = 0;
    hollow.imageWidth = SliceRasteriser::kWidth;
    hollow.imageHeight = SliceRasteriser::kHeight;
    hollow.supports = [&supports, &written](int layer) -> const uint8_t * {
        const int i = layer - written;
        return i >= 0 && i < int(supports.size()) && !supports[size_t(i)].empty() ? supports[size_t(i)].data() : nullptr;
    };
    LayerHollower hollower(hollow, box, layers);

    QElapsedTimer layersClock;
    layersClock.start();
    LayerPipeline pipeline(*this, layers, threads, settings.antialias, supersampling, box, m_hasSupports);
    bool cancelled = false;
    std::vector<uint8_t> model;
    QElapsedTimer clock;
    qint64 hollowNs = 0;
    qint64 packNs = 0;
    for (int k = 0; k < layers && !cancelled; ++k) {
        PackedLayer parts = pipeline.take(k);
        supports.push_back(std::move(parts.supports));
        clock.start();
        hollower.addLayer(std::move(parts.model), std::move(parts.distance));
        hollowNs += clock.nsecsElapsed();
        while (!cancelled && hollower.takeLayer(&model)) {
            clock.start();
            if (!supports.front().empty())
                hollower.clearHoles(
                    written, supports.front().data(), QRect(0, 0, SliceRasteriser::kWidth, SliceRasteriser::kHeight));
            QImage image = composeLayer(model, box, supports.front(), settings.antialias);
            supports.pop_front();
            const bool packed = writer.appendLayer(written, &image);
            packNs += clock.nsecsElapsed();
            if (!packed)
                qDebug() << "ERROR. GenSlices::saveSlices. Layer" << written << "could not be packed and is left out";
            ++written;
            report(static_cast<int>(std::floor(written * 90.0 / total + 10.0)));
            cancelled = s_sliceCancelRequested.exchange(false);
        }
    }
    pipeline.stop();
    m_timings.layersWallMs = layersClock.elapsed();
    m_timings.sliceMs = pipeline.sliceMs();
    m_timings.hollowMs = hollowNs / 1000000;
    m_timings.packMs = packNs / 1000000;
    m_bucketStart.clear();
    m_bucketTriangles.clear();
    m_hollowReport.cavities = hollower.cavityCount();
    if (!cancelled)
        propUpHangingTips(writer, hollower, settings.hollowing);
    for (const LayerHollower::Hole &hole : hollower.holesCut()) {
        const QVector3D at(float(SliceRasteriser::columnCentre(int(std::lround(hole.x)))),
            float(SliceRasteriser::rowCentre(int(std::lround(hole.y)))),
            float(layerHeight(hole.throughRoof ? hole.bottomLayer : hole.topLayer)));
        m_hollowReport.holes.push_back({at, hole.throughRoof});
    }
    return !cancelled;
}
