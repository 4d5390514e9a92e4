#include "csupportsurfel.h"

#include <QtMath>

#include <algorithm>
#include <cmath>
#include <limits>

struct CSupportSurfelConstructor::Region {
    int id = 0; // the cells' region number
    std::vector<std::pair<int, int>> cells; // column, row
};

namespace {

struct Placed {
    int column;
    int row;
    bool pinned;
};

constexpr double kMicro = 1e6;

// An 8-neighbour fill from a cell already taken: every neighbour inside the grid that
// `enter(column, row)` accepts (and marks, so it is not entered twice) is taken in turn,
// and `take(column, row)` sees each cell taken, the first included.
template <typename Enter, typename Take>
void fill8(std::vector<std::pair<int, int>> &stack, const CPixels &layer, int column, int row, Enter enter, Take take)
{
    stack.assign(1, {column, row});
    while (!stack.empty()) {
        const auto [c, r] = stack.back();
        stack.pop_back();
        take(c, r);
        for (int dr = -1; dr <= 1; ++dr)
            for (int dc = -1; dc <= 1; ++dc) {
                if ((dc || dr) && layer.contains(c + dc, r + dr) && enter(c + dc, r + dr))
                    stack.push_back({c + dc, r + dr});
            }
    }
}
// How much deeper than where it meets held material (or another held basin) a basin of
// the underside may be and still go without a support of its own, inches. Any depth at
// all shows in the thin layers of the print: a basin only a few microns deep that is
// left alone printed as an island of 6 to 24 pixels on a scanned model.
constexpr double kBasinDepth = 0.0;

} // namespace

CSupportSurfelConstructor::CSupportSurfelConstructor(
    const std::vector<CTriangle> &model, CSurfels &surfels, const Settings &settings)
    : m_model(model)
    , m_surfels(surfels)
    , m_settings(settings)
{
    double low[2] = {0.0, 0.0};
    double high[2] = {0.0, 0.0};
    bool first = true;
    for (const CTriangle &t : model)
        for (const CVertex &v : t.v) {
            if (first) {
                low[0] = high[0] = v.x;
                low[1] = high[1] = v.y;
                first = false;
            }
            low[0] = std::min(low[0], v.x);
            low[1] = std::min(low[1], v.y);
            high[0] = std::max(high[0], v.x);
            high[1] = std::max(high[1], v.y);
        }
    m_frame.cell = settings.cell > 0.0 ? settings.cell : 0.01;
    // Two cells of margin; the small odd offset keeps cell centres off the vertices and
    // edges of models drawn on round coordinates.
    m_frame.originX = low[0] - 2 * m_frame.cell + 0.0123457 * m_frame.cell;
    m_frame.originY = low[1] - 2 * m_frame.cell + 0.0098765 * m_frame.cell;
    m_frame.width = model.empty() ? 0 : int(std::ceil((high[0] - low[0]) / m_frame.cell)) + 4;
    m_frame.height = model.empty() ? 0 : int(std::ceil((high[1] - low[1]) / m_frame.cell)) + 4;
    m_ldni.build(m_model, m_frame);
    m_stamp.resize(m_frame.width, m_frame.height, 0);
    surfels.indexDownFacing(m_frame.originX, m_frame.originY, m_frame.cell, m_frame.width, m_frame.height);
}

CSupportSurfels CSupportSurfelConstructor::construct(const std::function<void(int percent)> &progress)
{
    CSupportSurfels out;
    if (m_model.empty() || m_frame.width == 0)
        return out;
    const double cell = m_frame.cell;
    const double low = m_surfels.isEmpty() ? 0.0 : m_surfels.lowestZ();
    double high = m_surfels.isEmpty() ? 0.0 : m_surfels.highestZ();
    for (const CTriangle &t : m_model)
        high = std::max(high, t.maxZ());
    if (m_settings.topLimit > 0.0)
        high = std::min(high, m_settings.topLimit);
    const int layers = std::max(1, int(std::floor((high + 1.05 * cell - low) / cell - 0.5)) + 1);

    const int w = m_frame.width;
    const int h = m_frame.height;
    CArray2D<int> next(w, h, 0); // the next crossing of each cell's column
    CArray2D<int> winding(w, h, 0);
    CArray2D<float> entered(w, h, 0.0f); // where the current material interval began
    CArray2D<quint8> below(w, h, 0); // material of the previous layer
    CPixels layer;
    layer.reset(m_frame);
    std::vector<std::pair<int, int>> queue;
    int lastReported = -1;

    for (int k = 0; k < layers; ++k) {
        const double z = low + (k + 0.5) * cell;
        for (int row = 0; row < h; ++row)
            for (int column = 0; column < w; ++column) {
                int &n = next(column, row);
                int &wind = winding(column, row);
                while (n < m_ldni.count(column, row) && m_ldni.crossing(column, row, n).z < z) {
                    const CLDNIPixels::Crossing &c = m_ldni.crossing(column, row, n++);
                    const int before = wind;
                    wind += c.direction;
                    if (before <= 0 && wind > 0)
                        entered(column, row) = c.z;
                }
                CPixel &p = layer(column, row);
                p = CPixel();
                if (wind > 0) {
                    p.state = CPixel::kRegion;
                    p.undersideMicro = qint32(std::lround(double(entered(column, row)) * kMicro));
                }
            }

        const auto held = [&](int column, int row) {
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc) {
                    const int c = column + dc;
                    const int r = row + dr;
                    if (below.contains(c, r) && below(c, r))
                        return true;
                }
            return false;
        };

        int regions = 0;
        for (int row = 0; row < h; ++row)
            for (int column = 0; column < w; ++column) {
                CPixel &start = layer(column, row);
                if (start.state == CPixel::kEmpty || start.region >= 0 || held(column, row))
                    continue;
                // One region of unsupported cells (8 neighbours).
                Region region;
                region.id = regions;
                bool touchesHeld = false;
                start.region = regions;
                fill8(
                    queue, layer, column, row,
                    [&](int c, int r) {
                        CPixel &p = layer(c, r);
                        if (p.state == CPixel::kEmpty || p.region >= 0)
                            return false;
                        if (held(c, r)) {
                            touchesHeld = true;
                            return false;
                        }
                        p.region = regions;
                        return true;
                    },
                    [&](int c, int r) { region.cells.push_back({c, r}); });
                ++regions;
                if (int(region.cells.size()) < m_settings.minimumIsland) {
                    // Too small for a support of its own: it grows from its neighbours
                    // and does not hold the layer above.
                    for (const auto &[c, r] : region.cells)
                        layer(c, r).state = CPixel::kEmpty;
                    continue;
                }
                supportRegion(region, layer, !touchesHeld, out);
            }

        for (int row = 0; row < h; ++row)
            for (int column = 0; column < w; ++column)
                below(column, row) = layer(column, row).state != CPixel::kEmpty ? 1 : 0;
        const int percent = 33 + (55 * (k + 1)) / layers;
        if (progress && percent != lastReported && percent < 85) {
            progress(percent);
            lastReported = percent;
        }
    }
    return out;
}

void CSupportSurfelConstructor::supportRegion(Region &region, CPixels &layer, bool newIsland, CSupportSurfels &out) const
{
    const int radius = std::max(1, m_settings.coverRadiusCells);
    const int radius2 = radius * radius;
    auto &cells = region.cells;
    const auto underside = [&](const std::pair<int, int> &c) { return layer(c.first, c.second).undersideMicro; };
    // Lowest first; ties by position, so the result does not depend on the fill order.
    std::sort(cells.begin(), cells.end(), [&](const auto &a, const auto &b) {
        const qint32 ua = underside(a);
        const qint32 ub = underside(b);
        if (ua != ub)
            return ua < ub;
        return a.second < b.second || (a.second == b.second && a.first < b.first);
    });
    for (const auto &[c, r] : cells) {
        CPixel &p = layer(c, r);
        bool edge = false;
        for (int dr = -1; dr <= 1 && !edge; ++dr)
            for (int dc = -1; dc <= 1 && !edge; ++dc)
                edge = !layer.isSolid(c + dc, r + dr);
        p.state = edge ? CPixel::kBoundary : CPixel::kRegion;
        p.mark = CPixel::kNeedsSupport;
    }

    std::vector<std::pair<int, int>> stack;
    // Covers the needy cells connected to a support through the region within the cover
    // radius (cells another support covers already do not stop the fill).
    const auto cover = [&](int column, int row) {
        if (++m_stampNow == 0) {
            m_stamp.fill(0);
            m_stampNow = 1;
        }
        layer(column, row).mark = CPixel::kCovered;
        m_stamp(column, row) = m_stampNow;
        fill8(
            stack, layer, column, row,
            [&](int c, int r) {
                CPixel &p = layer(c, r);
                const int dx = c - column;
                const int dy = r - row;
                if (p.state == CPixel::kEmpty || p.region != region.id || m_stamp(c, r) == m_stampNow
                    || dx * dx + dy * dy > radius2)
                    return false;
                m_stamp(c, r) = m_stampNow;
                p.mark = CPixel::kCovered;
                return true;
            },
            [](int, int) {});
    };

    std::vector<Placed> placed;
    if (newIsland) {
        // Where an island first appears is its lowest part, and that must be held: the
        // first support goes to the middle of the cells within a cell's height of the
        // lowest (the pole of a sphere; the middle of a flat underside), and stays put.
        const qint32 band = underside(cells.front()) + qint32(std::lround(m_frame.cell * kMicro));
        double mx = 0.0;
        double my = 0.0;
        size_t lowest = 0;
        while (lowest < cells.size() && underside(cells[lowest]) <= band) {
            mx += cells[lowest].first;
            my += cells[lowest].second;
            ++lowest;
        }
        mx /= double(lowest);
        my /= double(lowest);
        size_t first = 0;
        double nearest = std::numeric_limits<double>::max();
        for (size_t i = 0; i < lowest; ++i) {
            const double d = (cells[i].first - mx) * (cells[i].first - mx) + (cells[i].second - my) * (cells[i].second - my);
            if (d < nearest) {
                nearest = d;
                first = i;
            }
        }
        placed.push_back({cells[first].first, cells[first].second, true});
        cover(cells[first].first, cells[first].second);
    }
    // Low points: flooding the region from its lowest cell upwards, every basin of the
    // underside that is deeper than kBasinDepth before it meets a held basin prints as an
    // island of its own in the thin layers between the sweep's; it gets a support at its
    // bottom, and that support stays put.
    if (m_order.width() != layer.width() || m_order.height() != layer.height())
        m_order.resize(layer.width(), layer.height(), -1);
    std::vector<int> parent(cells.size());
    std::vector<int> bottom(cells.size()); // per basin root: its lowest cell
    std::vector<char> held(cells.size(), 0); // per basin root
    for (size_t i = 0; i < cells.size(); ++i)
        m_order(cells[i].first, cells[i].second) = int(i);
    for (const Placed &p : placed)
        held[size_t(m_order(p.column, p.row))] = 1;
    const auto root = [&](int i) {
        while (parent[size_t(i)] != i)
            i = parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
        return i;
    };
    const qint32 basinDepth = qint32(std::lround(kBasinDepth * kMicro));
    const auto holdBasin = [&](int basin) {
        const auto &c = cells[size_t(bottom[size_t(basin)])];
        placed.push_back({c.first, c.second, true});
        cover(c.first, c.second);
        held[size_t(basin)] = 1;
    };
    for (size_t i = 0; i < cells.size(); ++i) {
        parent[i] = int(i);
        bottom[i] = int(i);
        const auto [c, r] = cells[i];
        for (int dr = -1; dr <= 1; ++dr)
            for (int dc = -1; dc <= 1; ++dc) {
                if (!layer.contains(c + dc, r + dr))
                    continue;
                const int j = m_order(c + dc, r + dr);
                const CPixel &p = layer(c + dc, r + dr);
                if (p.state != CPixel::kEmpty && p.region < 0) {
                    // Held material of the layer: the basin drains into it here.
                    const int a = root(int(i));
                    if (!held[size_t(a)]) {
                        if (underside(cells[i]) - underside(cells[size_t(bottom[size_t(a)])]) > basinDepth)
                            holdBasin(a);
                        held[size_t(a)] = 1;
                    }
                    continue;
                }
                if (j < 0 || size_t(j) >= i || p.state == CPixel::kEmpty || p.region != region.id)
                    continue;
                const int a = root(int(i));
                const int b = root(j);
                if (a == b)
                    continue;
                const qint32 saddle = underside(cells[i]);
                for (const int basin : {a, b}) {
                    if (!held[size_t(basin)] && saddle - underside(cells[size_t(bottom[size_t(basin)])]) > basinDepth)
                        holdBasin(basin);
                }
                // The lower basin takes the other in.
                const int low = bottom[size_t(a)] <= bottom[size_t(b)] ? a : b;
                const int high = low == a ? b : a;
                parent[size_t(high)] = low;
                held[size_t(low)] = held[size_t(low)] || held[size_t(high)];
            }
    }
    for (size_t i = 0; i < cells.size(); ++i) {
        if (parent[i] == int(i) && !held[i]) {
            qint32 top = underside(cells[i]);
            for (size_t k = 0; k < cells.size(); ++k)
                if (root(int(k)) == int(i))
                    top = std::max(top, underside(cells[k]));
            if (top - underside(cells[size_t(bottom[i])]) > basinDepth)
                holdBasin(int(i));
        }
    }
    for (const auto &[c, r] : cells)
        m_order(c, r) = -1;

    const auto greedy = [&] {
        for (const auto &[c, r] : cells) {
            if (layer(c, r).mark != CPixel::kNeedsSupport)
                continue;
            placed.push_back({c, r, false});
            cover(c, r);
        }
    };
    greedy();

    // Adjustment: move the free supports towards the middle of the cells they hold.
    const auto movable = std::count_if(placed.begin(), placed.end(), [](const Placed &p) { return !p.pinned; });
    if (placed.size() > 1 && movable > 0) {
        std::vector<double> sumX(placed.size());
        std::vector<double> sumY(placed.size());
        std::vector<int> members(placed.size());
        std::vector<int> owner(cells.size());
        for (int round = 0; round < 25; ++round) {
            std::fill(sumX.begin(), sumX.end(), 0.0);
            std::fill(sumY.begin(), sumY.end(), 0.0);
            std::fill(members.begin(), members.end(), 0);
            for (size_t i = 0; i < cells.size(); ++i) {
                int best = 0;
                long bestDistance = std::numeric_limits<long>::max();
                for (size_t s = 0; s < placed.size(); ++s) {
                    const long dx = cells[i].first - placed[s].column;
                    const long dy = cells[i].second - placed[s].row;
                    const long d = dx * dx + dy * dy;
                    if (d < bestDistance) {
                        bestDistance = d;
                        best = int(s);
                    }
                }
                owner[i] = best;
                sumX[size_t(best)] += cells[i].first;
                sumY[size_t(best)] += cells[i].second;
                ++members[size_t(best)];
            }
            double largestMove = 0.0;
            for (size_t s = 0; s < placed.size(); ++s) {
                if (placed[s].pinned || members[s] == 0)
                    continue;
                // Pass one: the middle of its cells; pass two: the nearest of its cells to
                // that middle, so the support stays on the region.
                const double mx = sumX[s] / members[s];
                const double my = sumY[s] / members[s];
                double nearest = std::numeric_limits<double>::max();
                std::pair<int, int> to {placed[s].column, placed[s].row};
                for (size_t i = 0; i < cells.size(); ++i) {
                    if (owner[i] != int(s))
                        continue;
                    const double d = (cells[i].first - mx) * (cells[i].first - mx)
                        + (cells[i].second - my) * (cells[i].second - my);
                    if (d < nearest) {
                        nearest = d;
                        to = cells[i];
                    }
                }
                const double dx = to.first - placed[s].column;
                const double dy = to.second - placed[s].row;
                largestMove = std::max(largestMove, dx * dx + dy * dy);
                placed[s].column = to.first;
                placed[s].row = to.second;
            }
            if (largestMove <= 1.5)
                break;
        }
        // Second placement pass: whatever the moves left uncovered.
        for (const auto &[c, r] : cells)
            layer(c, r).mark = CPixel::kNeedsSupport;
        for (const Placed &p : placed)
            cover(p.column, p.row);
        greedy();

    }

    for (const Placed &p : placed)
        out.push_back(settle(layer, p.column, p.row));
}

CSupportSurfel CSupportSurfelConstructor::settle(const CPixels &layer, int column, int row) const
{
    const double underside = layer(column, row).undersideMicro / kMicro;
    const double cell = m_frame.cell;
    CVertex point(m_frame.centreX(column), m_frame.centreY(row), underside);
    // The lowest downward-facing sample of the cell near that underside: where the model
    // really comes lowest, which a cell's centre may miss by most of a cell.
    for (const int *i = m_surfels.downFacingBegin(column, row); i != m_surfels.downFacingEnd(column, row); ++i) {
        const CSurfel &s = m_surfels[size_t(*i)];
        if (s.position[2] < underside - cell)
            continue;
        if (s.position[2] <= underside + cell)
            point = CVertex(s.position[0], s.position[1], s.position[2]);
        break;
    }
    return supportAt(point.x, point.y, point.z);
}

CSupportSurfel CSupportSurfelConstructor::supportAt(double x, double y, double z) const
{
    CSupportSurfel support;
    support.point = CVertex(x, y, z);
    support.baseZ = m_ldni.standBelow(x, y, z);
    return support;
}

namespace {

void addTriangle(std::vector<MeshTriangle> &out, const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    out.push_back({MeshImporter::facetNormal(a, b, c), a, b, c});
}

} // namespace

std::vector<MeshTriangle> supportColumn(const CSupportSurfel &support, const CSupportShape &shape)
{
    // Rings from the bottom up: (z, radius).
    std::vector<std::pair<double, double>> rings;
    const double top = support.point.z + shape.penetration;
    const bool onPlatform = support.baseZ <= 0.0;
    const double bottom = onPlatform ? 0.0 : support.baseZ - shape.penetration;
    const double foot = onPlatform ? shape.baseHeight : shape.tipLength;
    const double footRadius = onPlatform ? shape.baseRadius : shape.tipRadius;
    if (top - bottom > foot + shape.tipLength) {
        rings = {{bottom, footRadius}, {bottom + foot, shape.bodyRadius}, {top - shape.tipLength, shape.bodyRadius},
            {top, shape.tipRadius}};
    } else {
        rings = {{bottom, std::max(footRadius, shape.tipRadius)}, {std::max(top, bottom + 1e-4), shape.tipRadius}};
    }
    constexpr int kSides = 8;
    const double cx = support.point.x;
    const double cy = support.point.y;
    const auto vertex = [&](size_t ring, int side) {
        const double angle = 2.0 * M_PI * side / kSides;
        const double r = rings[ring].second;
        return QVector3D(float(cx + r * std::cos(angle)), float(cy + r * std::sin(angle)), float(rings[ring].first));
    };
    std::vector<MeshTriangle> mesh;
    mesh.reserve(size_t(kSides) * (2 * (rings.size() - 1) + 2));
    for (size_t ring = 0; ring + 1 < rings.size(); ++ring) {
        for (int side = 0; side < kSides; ++side) {
            const QVector3D a = vertex(ring, side);
            const QVector3D b = vertex(ring, (side + 1) % kSides);
            const QVector3D c = vertex(ring + 1, (side + 1) % kSides);
            const QVector3D d = vertex(ring + 1, side);
            addTriangle(mesh, a, b, c);
            addTriangle(mesh, a, c, d);
        }
    }
    const QVector3D bottomCentre(float(cx), float(cy), float(rings.front().first));
    const QVector3D topCentre(float(cx), float(cy), float(rings.back().first));
    for (int side = 0; side < kSides; ++side) {
        addTriangle(mesh, bottomCentre, vertex(0, (side + 1) % kSides), vertex(0, side));
        addTriangle(mesh, topCentre, vertex(rings.size() - 1, side), vertex(rings.size() - 1, (side + 1) % kSides));
    }
    return mesh;
}
