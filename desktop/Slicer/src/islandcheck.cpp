#include "islandcheck.h"

#include "cdlpmain.h"
#include "crushedprintjob.h"
#include "genslices.h"
#include "rowruns.h"
#include "slicerasteriser.h"

#include <QElapsedTimer>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

struct Run {
    int row;
    int begin; // first column
    int end; // one past the last column
};

// The lit regions of a layer: its lit runs, each run's region (the index of the region's
// first run), and per region its size, centre and whether it rests on anything lit below.
struct Regions {
    struct Region {
        qint64 pixels = 0;
        double sumX = 0.0;
        double sumY = 0.0;
        bool supported = false;
    };
    std::vector<Run> runs;
    std::vector<int> root;
    std::vector<Region> regions;

    bool isIsland(size_t region, qint64 minimumPixels) const
    {
        return !regions[region].supported && regions[region].pixels > minimumPixels;
    }
};

std::vector<Run> litRuns(const IslandCheck::Mask &layer)
{
    std::vector<Run> runs;
    for (int y = 0; y < layer.height; ++y) {
        const quint8 *line = layer.lit.data() + size_t(y) * size_t(layer.width);
        int x = 0;
        while (x < layer.width) {
            while (x < layer.width && !line[x])
                ++x;
            if (x == layer.width)
                break;
            const int begin = x;
            while (x < layer.width && line[x])
                ++x;
            runs.push_back({y, begin, x});
        }
    }
    return runs;
}

Regions regionsOf(const IslandCheck::Mask &below, const IslandCheck::Mask &layer)
{
    Regions result;
    result.runs = litRuns(layer);
    result.root = RowRuns::joined(result.runs, true);
    result.regions.resize(result.runs.size());
    const bool sameSize = below.width == layer.width && below.height == layer.height && !below.lit.empty();
    for (size_t r = 0; r < result.runs.size(); ++r) {
        Regions::Region &region = result.regions[size_t(result.root[r])];
        const Run &run = result.runs[r];
        const qint64 length = run.end - run.begin;
        region.pixels += length;
        region.sumX += double(run.begin + run.end - 1) * double(length) / 2.0;
        region.sumY += double(run.row) * double(length);
        if (sameSize && !region.supported) {
            const quint8 *line = below.lit.data() + size_t(run.row) * size_t(below.width);
            for (int x = run.begin; x < run.end && !region.supported; ++x)
                region.supported = line[x] != 0;
        }
    }
    return result;
}

} // namespace

std::vector<IslandCheck::Island> IslandCheck::islandsOf(const Mask &below, const Mask &layer, int layerIndex)
{
    const Regions found = regionsOf(below, layer);
    std::vector<Island> islands;
    for (size_t r = 0; r < found.runs.size(); ++r) {
        if (found.root[r] != int(r) || !found.isIsland(r, 0))
            continue;
        const Regions::Region &region = found.regions[r];
        islands.push_back(
            {layerIndex, region.pixels, region.sumX / double(region.pixels), region.sumY / double(region.pixels)});
    }
    return islands;
}

IslandCheck::Mask IslandCheck::islandPixels(const Mask &below, const Mask &layer, qint64 minimumPixels)
{
    const Regions found = regionsOf(below, layer);
    Mask mask;
    mask.width = layer.width;
    mask.height = layer.height;
    mask.lit.assign(layer.lit.size(), 0);
    for (size_t r = 0; r < found.runs.size(); ++r) {
        if (!found.isIsland(size_t(found.root[r]), minimumPixels))
            continue;
        const Run &run = found.runs[r];
        std::fill_n(mask.lit.begin() + qint64(run.row) * layer.width + run.begin, run.end - run.begin, quint8(1));
    }
    return mask;
}

IslandCheck::Mask IslandCheck::layerMask(CrushedPrintJob &job, int layer)
{
    Mask mask;
    mask.width = job.largestWidth();
    mask.height = job.largestHeight();
    if (mask.width <= 0 || mask.height <= 0)
        return mask;
    QImage canvas(mask.width, mask.height, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(0xFF000000u);
    if (job.version() == 3) {
        if (CrushedAntiBitMap *map = job.getCBMSliceAnti(layer))
            map->inflateSlice(&canvas, 0, 0, false);
    } else if (CrushedBitMap *map = job.getCBMSlice(layer)) {
        map->inflateSlice(&canvas, 0, 0, false);
    }
    return maskOf(canvas);
}

IslandCheck::Mask IslandCheck::maskOf(const QImage &image)
{
    const QImage pixels = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_RGB32
            || image.format() == QImage::Format_ARGB32_Premultiplied
        ? image
        : image.convertToFormat(QImage::Format_ARGB32);
    Mask mask;
    mask.width = pixels.width();
    mask.height = pixels.height();
    mask.lit.resize(size_t(mask.width) * size_t(mask.height));
    for (int y = 0; y < mask.height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        quint8 *out = mask.lit.data() + size_t(y) * size_t(mask.width);
        for (int x = 0; x < mask.width; ++x)
            out[x] = (line[x] & 0x00FFFFFFu) != 0 ? 1 : 0;
    }
    return mask;
}

double IslandCheck::reachOf(const Mask &below, const Mask &layer)
{
    if (below.width != layer.width || below.height != layer.height || below.lit.empty())
        return -1.0;
    const int width = layer.width;
    const int height = layer.height;
    // Only the box around the lit pixels of both layers matters.
    int left = width;
    int right = -1;
    int top = height;
    int bottom = -1;
    bool anyBelow = false;
    bool anyOut = false;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y) * size_t(width) + size_t(x);
            anyBelow = anyBelow || below.lit[i];
            const bool out = layer.lit[i] && !below.lit[i];
            anyOut = anyOut || out;
            if (below.lit[i] || layer.lit[i]) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (!anyBelow)
        return -1.0;
    if (!anyOut)
        return 0.0;
    // Two-pass chamfer distance (3 straight, 4 diagonal) from the lit pixels below.
    const int w = right - left + 1;
    const int h = bottom - top + 1;
    constexpr int kFar = 1 << 29;
    std::vector<int> d(size_t(w) * size_t(h), kFar);
    const auto at = [&](int x, int y) -> int & { return d[size_t(y) * size_t(w) + size_t(x)]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (below.lit[size_t(y + top) * size_t(width) + size_t(x + left)])
                at(x, y) = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int v = at(x, y);
            if (x > 0)
                v = std::min(v, at(x - 1, y) + 3);
            if (y > 0) {
                v = std::min(v, at(x, y - 1) + 3);
                if (x > 0)
                    v = std::min(v, at(x - 1, y - 1) + 4);
                if (x + 1 < w)
                    v = std::min(v, at(x + 1, y - 1) + 4);
            }
            at(x, y) = v;
        }
    }
    for (int y = h - 1; y >= 0; --y) {
        for (int x = w - 1; x >= 0; --x) {
            int v = at(x, y);
            if (x + 1 < w)
                v = std::min(v, at(x + 1, y) + 3);
            if (y + 1 < h) {
                v = std::min(v, at(x, y + 1) + 3);
                if (x + 1 < w)
                    v = std::min(v, at(x + 1, y + 1) + 4);
                if (x > 0)
                    v = std::min(v, at(x - 1, y + 1) + 4);
            }
            at(x, y) = v;
        }
    }
    int largest = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (layer.lit[size_t(y + top) * size_t(width) + size_t(x + left)])
                largest = std::max(largest, at(x, y));
    return largest / 3.0;
}

std::vector<IslandCheck::Island> IslandCheck::find(
    CrushedPrintJob &job, const std::function<void(int layersDone)> &progress)
{
    return find(job, nullptr, progress);
}

std::vector<IslandCheck::Island> IslandCheck::find(CrushedPrintJob &job, Reach *reach,
    const std::function<void(int layersDone)> &progress, const std::function<void(const Mask &layer)> &eachLayer)
{
    std::vector<Island> islands;
    Mask below;
    const int layers = job.getTotalLayers();
    for (int k = 0; k < layers; ++k) {
        Mask layer = layerMask(job, k);
        if (k > 0) {
            const std::vector<Island> found = islandsOf(below, layer, k);
            islands.insert(islands.end(), found.begin(), found.end());
            if (reach) {
                const double pixels = reachOf(below, layer);
                if (pixels > reach->pixels) {
                    reach->pixels = pixels;
                    reach->layer = k;
                }
            }
        }
        if (eachLayer)
            eachLayer(layer);
        below = std::move(layer);
        if (progress)
            progress(k + 1);
    }
    return islands;
}

namespace {

constexpr double kMillimetresPerInch = 25.4;
// How near an existing support a new one is refused as a double (inches; as the
// window's hand edit).
constexpr double kSupportTolerance = 0.1;

// The height where the vertical line through (x, y) last crosses the model's surface at
// or below `height` (slicer frame, millimetres; the model in inches scaled by `horizontal`
// across and 25.4 up): where a point lit at that height is solid from, the underside there;
// `fallback` when the line meets nothing below.
double undersideBelow(
    const std::vector<MeshTriangle> &model, double horizontal, double x, double y, double height, double fallback)
{
    double best = fallback;
    bool found = false;
    for (const MeshTriangle &t : model) {
        const double ax = t.a.x() * horizontal, ay = t.a.y() * horizontal;
        const double bx = t.b.x() * horizontal, by = t.b.y() * horizontal;
        const double cx = t.c.x() * horizontal, cy = t.c.y() * horizontal;
        const double area = (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
        if (std::abs(area) < 1e-12)
            continue;
        const double u = ((bx - x) * (cy - y) - (cx - x) * (by - y)) / area;
        const double v = ((cx - x) * (ay - y) - (ax - x) * (cy - y)) / area;
        if (u < 0.0 || v < 0.0 || u + v > 1.0)
            continue;
        const double z = (u * t.a.z() + v * t.b.z() + (1.0 - u - v) * t.c.z()) * kMillimetresPerInch;
        if (z <= height && (!found || z > best)) {
            best = z;
            found = true;
        }
    }
    return best;
}

// The islands larger than the tolerated size of the engine's model and supports, and a
// point under each to hold it (engine frame).
std::vector<QVector3D> islandSupportPoints(
    const CDLPMain &engine, double layerThickness, double horizontalScale, std::vector<IslandCheck::Island> *islands)
{
    islands->clear();
    std::vector<MeshTriangle> scene = engine.model();
    const int firstSupport = int(scene.size());
    scene.insert(scene.end(), engine.supportMesh().begin(), engine.supportMesh().end());
    QList<MeshTriangle *> triangles;
    for (MeshTriangle &t : scene)
        triangles << &t;
    const float s = float(kMillimetresPerInch * horizontalScale);
    GenSlices slicer;
    std::vector<QVector3D> points;
    if (!slicer.prepare(triangles, layerThickness, QVector3D(), QVector3D(),
            QVector3D(s, s, float(kMillimetresPerInch)), firstSupport))
        return points;
    IslandCheck::Mask below;
    for (int k = 0; k < slicer.layerCount(); ++k) {
        IslandCheck::Mask layer = IslandCheck::maskOf(slicer.layerImage(k, false));
        if (k > 0) {
            const IslandCheck::Mask lone = IslandCheck::islandPixels(below, layer);
            for (const IslandCheck::Island &island : IslandCheck::islandsOf(below, layer, k)) {
                if (island.pixels <= IslandCheck::kMinimumIslandPixels)
                    continue;
                islands->push_back(island);
                // The island's pixel nearest its centre (a sliver's centre may lie off it).
                double nearest = 1e30;
                int column = 0, row = 0;
                for (int y = 0; y < lone.height; ++y) {
                    for (int x = 0; x < lone.width; ++x) {
                        const double d = std::hypot(x + 0.5 - island.x, y + 0.5 - island.y);
                        if (lone.lit[size_t(y) * size_t(lone.width) + size_t(x)] && d < nearest) {
                            nearest = d;
                            column = x;
                            row = y;
                        }
                    }
                }
                const double x = SliceRasteriser::columnCentre(column);
                const double y = SliceRasteriser::rowCentre(row);
                const double height = slicer.layerHeight(k);
                // Lit here and not a layer lower, the underside lies between the two; a
                // crossing further down is the surface missed by a hair (a sliver thinner
                // than the pixel), and the support goes between the layers instead.
                double z = undersideBelow(engine.model(), s, x, y, height, height - layerThickness / 2);
                if (z < height - layerThickness)
                    z = height - layerThickness / 2;
                points.emplace_back(float(x / s), float(y / s), float(z / kMillimetresPerInch));
            }
        }
        below = std::move(layer);
    }
    return points;
}

} // namespace

IslandCheck::Repair IslandCheck::repairSupports(
    CDLPMain &engine, double layerThickness, double horizontalScale, int rounds)
{
    QElapsedTimer clock;
    clock.start();
    Repair repair;
    for (int round = 0;; ++round) {
        const std::vector<QVector3D> points
            = islandSupportPoints(engine, layerThickness, horizontalScale, &repair.remaining);
        if (points.empty() || round == rounds || !engine.hasGenerated())
            break;
        ++repair.rounds;
        for (const QVector3D &p : points) {
            if (!engine.addSupport(p.x(), p.y(), p.z(), kSupportTolerance)) {
                repair.unplaced.push_back(p);
                continue;
            }
            ++repair.added;
            if (engine.supports().back().baseZ > engine.raftThickness() + 1e-6)
                ++repair.onModel;
        }
    }
    repair.ms = clock.elapsed();
    return repair;
}
