#include "supportsweep.h"

#include <QtMath>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <numeric>

namespace SupportSweep {

namespace {

// Cells of one layer, row after row; `solid` where the section covers the cell centre.
struct Grid {
    double originX = 0.0; // left edge of column 0
    double originY = 0.0; // lower edge of row 0
    double cell = 1.0;
    int width = 0;
    int height = 0;

    double centreX(int column) const { return originX + (column + 0.5) * cell; }
    double centreY(int row) const { return originY + (row + 0.5) * cell; }
    size_t index(int column, int row) const { return size_t(row) * size_t(width) + size_t(column); }
};

// The cells of the section at height z: the winding of the model's cut segments around
// each cell centre, oriented by the triangles' normals (a closed body +1, a hole 0).
void section(const std::vector<MeshTriangle> &model, const std::vector<int> &active, double z, const Grid &grid,
    std::vector<quint8> &solid)
{
    std::vector<std::vector<std::pair<int, int>>> rows(size_t(grid.height));
    for (int index : active) {
        const MeshTriangle &t = model[size_t(index)];
        const QVector3D *corners[3] = {&t.a, &t.b, &t.c};
        double points[2][2];
        int found = 0;
        for (int e = 0; e < 3 && found < 2; ++e) {
            const QVector3D &p = *corners[e];
            const QVector3D &q = *corners[(e + 1) % 3];
            if ((p.z() > z) == (q.z() > z))
                continue;
            const QVector3D &upper = p.z() > z ? p : q;
            const QVector3D &other = p.z() > z ? q : p;
            const double f = (double(upper.z()) - z) / (double(upper.z()) - other.z());
            points[found][0] = upper.x() + f * (double(other.x()) - upper.x());
            points[found][1] = upper.y() + f * (double(other.y()) - upper.y());
            ++found;
        }
        if (found != 2)
            continue;
        // Outward normal to the left of the direction.
        const double mx = (points[0][0] + points[1][0]) / 2;
        const double my = (points[0][1] + points[1][1]) / 2;
        const double cross = double(t.normal.x()) * (points[0][1] - my) - double(t.normal.y()) * (points[0][0] - mx);
        const int s = cross > 0.0 ? 0 : 1;
        const double x0 = points[s][0];
        const double y0 = points[s][1];
        const double x1 = points[1 - s][0];
        const double y1 = points[1 - s][1];
        if (y0 == y1)
            continue;
        const int first = std::max(0, int(std::floor((std::min(y0, y1) - grid.originY) / grid.cell - 0.5)));
        const int last = std::min(grid.height - 1, int(std::ceil((std::max(y0, y1) - grid.originY) / grid.cell)));
        for (int row = first; row <= last; ++row) {
            const double yc = grid.centreY(row);
            if ((y0 <= yc) == (y1 <= yc))
                continue;
            const double x = x0 + (yc - y0) * (x1 - x0) / (y1 - y0);
            const int column = std::clamp(int(std::ceil((x - grid.originX) / grid.cell - 0.5)), 0, grid.width);
            rows[size_t(row)].push_back({column, y1 > y0 ? 1 : -1});
        }
    }
    std::fill(solid.begin(), solid.end(), 0);
    for (int row = 0; row < grid.height; ++row) {
        auto &events = rows[size_t(row)];
        std::sort(events.begin(), events.end());
        int winding = 0;
        size_t next = 0;
        for (int column = 0; column < grid.width; ++column) {
            while (next < events.size() && events[next].first <= column)
                winding += events[next++].second;
            solid[grid.index(column, row)] = winding != 0 ? 1 : 0;
        }
    }
}

// Every z where the vertical line through (x, y) meets the model, ascending.
std::vector<double> crossings(const std::vector<MeshTriangle> &model, double x, double y)
{
    std::vector<double> zs;
    for (const MeshTriangle &t : model) {
        const double ax = t.a.x(), ay = t.a.y();
        const double bx = t.b.x(), by = t.b.y();
        const double cx = t.c.x(), cy = t.c.y();
        const double d = (by - cy) * (ax - cx) + (cx - bx) * (ay - cy);
        if (std::abs(d) < 1e-18)
            continue;
        const double l1 = ((by - cy) * (x - cx) + (cx - bx) * (y - cy)) / d;
        const double l2 = ((cy - ay) * (x - cx) + (ax - cx) * (y - cy)) / d;
        const double l3 = 1.0 - l1 - l2;
        if (l1 < 0.0 || l2 < 0.0 || l3 < 0.0)
            continue;
        zs.push_back(l1 * t.a.z() + l2 * t.b.z() + l3 * t.c.z());
    }
    std::sort(zs.begin(), zs.end());
    return zs;
}

void addTriangle(std::vector<MeshTriangle> &out, const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    MeshTriangle t;
    t.a = a;
    t.b = b;
    t.c = c;
    t.normal = MeshImporter::facetNormal(a, b, c);
    out.push_back(t);
}

} // namespace

double baseUnder(const std::vector<MeshTriangle> &model, double x, double y, double z)
{
    double base = 0.0;
    for (double hit : crossings(model, x, y)) {
        if (hit < z - 1e-6)
            base = hit;
    }
    return base;
}

std::vector<Placement> place(
    const std::vector<MeshTriangle> &model, const Settings &settings, const std::function<void(int percent)> &progress)
{
    std::vector<Placement> placements;
    if (model.empty() || settings.cell <= 0.0)
        return placements;
    double low[3] = {1e30, 1e30, 1e30};
    double high[3] = {-1e30, -1e30, -1e30};
    for (const MeshTriangle &t : model) {
        for (const QVector3D *v : {&t.a, &t.b, &t.c}) {
            for (int i = 0; i < 3; ++i) {
                low[i] = std::min(low[i], double((*v)[i]));
                high[i] = std::max(high[i], double((*v)[i]));
            }
        }
    }
    Grid grid;
    grid.cell = settings.cell;
    grid.originX = low[0] - 2 * grid.cell;
    grid.originY = low[1] - 2 * grid.cell;
    grid.width = int(std::ceil((high[0] - low[0]) / grid.cell)) + 4;
    grid.height = int(std::ceil((high[1] - low[1]) / grid.cell)) + 4;

    std::vector<int> order(model.size());
    std::iota(order.begin(), order.end(), 0);
    const auto lowest = [&](int i) {
        const MeshTriangle &t = model[size_t(i)];
        return std::min({t.a.z(), t.b.z(), t.c.z()});
    };
    const auto highest = [&](int i) {
        const MeshTriangle &t = model[size_t(i)];
        return std::max({t.a.z(), t.b.z(), t.c.z()});
    };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return lowest(a) < lowest(b); });

    const size_t cells = size_t(grid.width) * size_t(grid.height);
    std::vector<quint8> below(cells, 0);
    std::vector<quint8> layer(cells, 0);
    std::vector<int> label(cells, -1);
    std::vector<int> active;
    size_t nextTriangle = 0;
    const int layers = std::max(1, int(std::ceil((high[2] - low[2]) / grid.cell)));
    int lastReported = -1;
    for (int k = 0; k < layers; ++k) {
        const double z = low[2] + (k + 0.5) * grid.cell;
        while (nextTriangle < order.size() && lowest(order[nextTriangle]) <= z)
            active.push_back(order[nextTriangle++]);
        active.erase(
            std::remove_if(active.begin(), active.end(), [&](int i) { return highest(i) <= z; }), active.end());
        section(model, active, z, grid, layer);

        // Unsupported: solid with nothing solid below within one cell (45 degrees).
        std::fill(label.begin(), label.end(), -1);
        int regions = 0;
        for (int row = 0; row < grid.height; ++row) {
            for (int column = 0; column < grid.width; ++column) {
                const size_t at = grid.index(column, row);
                if (!layer[at] || label[at] != -1)
                    continue;
                const auto held = [&](int c, int r) {
                    for (int dr = -1; dr <= 1; ++dr)
                        for (int dc = -1; dc <= 1; ++dc) {
                            const int cc = c + dc;
                            const int rr = r + dr;
                            if (cc >= 0 && rr >= 0 && cc < grid.width && rr < grid.height && below[grid.index(cc, rr)])
                                return true;
                        }
                    return false;
                };
                if (held(column, row))
                    continue;
                // A region of unsupported cells (8 neighbours).
                std::vector<std::pair<int, int>> region;
                std::deque<std::pair<int, int>> queue {{column, row}};
                label[at] = regions;
                while (!queue.empty()) {
                    const auto [c, r] = queue.front();
                    queue.pop_front();
                    region.push_back({c, r});
                    for (int dr = -1; dr <= 1; ++dr)
                        for (int dc = -1; dc <= 1; ++dc) {
                            const int cc = c + dc;
                            const int rr = r + dr;
                            if (cc < 0 || rr < 0 || cc >= grid.width || rr >= grid.height)
                                continue;
                            const size_t n = grid.index(cc, rr);
                            if (layer[n] && label[n] == -1 && !held(cc, rr)) {
                                label[n] = regions;
                                queue.push_back({cc, rr});
                            }
                        }
                }
                ++regions;
                if (int(region.size()) < settings.minimumIsland) {
                    // Too small to need a support of its own: it grows from its neighbours.
                    for (const auto &[c, r] : region)
                        layer[grid.index(c, r)] = 0;
                    continue;
                }
                // Greedy cover from the middle outwards: a region that appears here for the
                // first time is lowest near its middle (the pole of a sphere), and the first
                // support must hold that point. Each support holds a disc of cells.
                double middleX = 0.0;
                double middleY = 0.0;
                for (const auto &[c, r] : region) {
                    middleX += c;
                    middleY += r;
                }
                middleX /= double(region.size());
                middleY /= double(region.size());
                const auto fromMiddle = [&](const std::pair<int, int> &cell) {
                    const double dx = cell.first - middleX;
                    const double dy = cell.second - middleY;
                    return dx * dx + dy * dy;
                };
                std::sort(region.begin(), region.end(), [&](const auto &a, const auto &b) {
                    const double da = fromMiddle(a);
                    const double db = fromMiddle(b);
                    if (da != db)
                        return da < db;
                    return a.second < b.second || (a.second == b.second && a.first < b.first);
                });
                std::vector<bool> covered(region.size(), false);
                const int radius = std::max(1, settings.coverRadiusCells);
                for (size_t i = 0; i < region.size(); ++i) {
                    if (covered[i])
                        continue;
                    const double x = grid.centreX(region[i].first);
                    const double y = grid.centreY(region[i].second);
                    // The underside this support holds: the highest surface of the model at
                    // (x, y) up to this layer (a region that grew from below the minimum
                    // island started lower than this layer).
                    double top = z - grid.cell / 2;
                    for (double hit : crossings(model, x, y)) {
                        if (hit <= z + grid.cell / 2)
                            top = hit;
                    }
                    Placement placement;
                    placement.point = QVector3D(float(x), float(y), float(top));
                    placement.baseZ = baseUnder(model, x, y, top - settings.shape.tipLength);
                    placements.push_back(placement);
                    for (size_t j = 0; j < region.size(); ++j) {
                        const int dc = region[j].first - region[i].first;
                        const int dr = region[j].second - region[i].second;
                        if (dc * dc + dr * dr <= radius * radius)
                            covered[j] = true;
                    }
                }
            }
        }
        std::swap(below, layer);
        const int percent = 33 + (55 * (k + 1)) / layers;
        if (progress && percent != lastReported && percent < 85) {
            progress(percent);
            lastReported = percent;
        }
    }
    return placements;
}

std::vector<MeshTriangle> column(const Placement &placement, const Shape &shape)
{
    // Rings from the bottom up: (z, radius).
    std::vector<std::pair<double, double>> rings;
    const double top = placement.point.z() + shape.penetration;
    const bool onPlatform = placement.baseZ <= 0.0;
    const double bottom = onPlatform ? 0.0 : placement.baseZ - shape.penetration;
    const double foot = onPlatform ? shape.baseHeight : shape.tipLength;
    const double footRadius = onPlatform ? shape.baseRadius : shape.tipRadius;
    if (top - bottom > foot + shape.tipLength) {
        rings = {{bottom, footRadius}, {bottom + foot, shape.bodyRadius}, {top - shape.tipLength, shape.bodyRadius},
            {top, shape.tipRadius}};
    } else {
        rings = {{bottom, std::max(footRadius, shape.tipRadius)}, {std::max(top, bottom + 1e-4), shape.tipRadius}};
    }
    constexpr int kSides = 8;
    const float cx = placement.point.x();
    const float cy = placement.point.y();
    const auto vertex = [&](size_t ring, int side) {
        const double angle = 2.0 * M_PI * side / kSides;
        const double r = rings[ring].second;
        return QVector3D(float(cx + r * std::cos(angle)), float(cy + r * std::sin(angle)), float(rings[ring].first));
    };
    std::vector<MeshTriangle> mesh;
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
    const QVector3D bottomCentre(cx, cy, float(rings.front().first));
    const QVector3D topCentre(cx, cy, float(rings.back().first));
    for (int side = 0; side < kSides; ++side) {
        addTriangle(mesh, bottomCentre, vertex(0, (side + 1) % kSides), vertex(0, side));
        addTriangle(mesh, topCentre, vertex(rings.size() - 1, side), vertex(rings.size() - 1, (side + 1) % kSides));
    }
    return mesh;
}

} // namespace SupportSweep
