// Triangulation of a flat region with holes by ear clipping: every hole is first joined
// to the outline by a bridge (two coincident edges running in opposite directions), which
// leaves one weakly simple polygon; ears are then cut from it one by one.
#include "calibrationmodels.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Calibration {

namespace {

// Twice the area of a well-shaped ear over its longest side squared: at least this (about a
// twentieth of a degree at its sharpest corner).
constexpr double kMinimumEarShape = 1e-3;

double cross(const QPointF &o, const QPointF &a, const QPointF &b)
{
    return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
}

bool samePoint(const QPointF &a, const QPointF &b)
{
    return a.x() == b.x() && a.y() == b.y();
}

// Whether the direction from the polygon's vertex `at` towards `target` starts inside the
// polygon (the vertex's interior wedge), for a counter-clockwise polygon.
bool inCone(const std::vector<QPointF> &polygon, size_t at, const QPointF &target)
{
    const size_t n = polygon.size();
    const QPointF &previous = polygon[(at + n - 1) % n];
    const QPointF &vertex = polygon[at];
    const QPointF &next = polygon[(at + 1) % n];
    if (cross(previous, vertex, next) >= 0) // convex corner
        return cross(vertex, next, target) > 0 && cross(previous, vertex, target) > 0;
    return !(cross(vertex, next, target) <= 0 && cross(previous, vertex, target) <= 0);
}

// Inside or on the counter-clockwise triangle a, b, c.
bool inTriangle(const QPointF &a, const QPointF &b, const QPointF &c, const QPointF &p)
{
    return cross(a, b, p) >= 0 && cross(b, c, p) >= 0 && cross(c, a, p) >= 0;
}

// The hole's rightmost point (the lowest of several), where its bridge starts.
size_t rightmostPoint(const Outline &hole)
{
    size_t rightmost = 0;
    for (size_t i = 1; i < hole.size(); ++i) {
        if (hole[i].x() > hole[rightmost].x()
            || (hole[i].x() == hole[rightmost].x() && hole[i].y() < hole[rightmost].y()))
            rightmost = i;
    }
    return rightmost;
}

// Where the ray from m towards +x first meets the polygon: the edge crossed (from that
// index to the next) and the crossing. The edge is the polygon's size when none is.
struct RayHit {
    size_t edge;
    QPointF point;
};

RayHit castRightwards(const std::vector<QPointF> &polygon, const QPointF &m)
{
    const size_t n = polygon.size();
    double nearestX = std::numeric_limits<double>::max();
    size_t edge = n;
    for (size_t i = 0; i < n; ++i) {
        const QPointF &a = polygon[i];
        const QPointF &b = polygon[(i + 1) % n];
        if (a.y() == b.y())
            continue;
        const double low = std::min(a.y(), b.y());
        const double high = std::max(a.y(), b.y());
        if (m.y() < low || m.y() > high)
            continue;
        const double x = a.x() + (m.y() - a.y()) * (b.x() - a.x()) / (b.y() - a.y());
        if (x < m.x() || x >= nearestX)
            continue;
        nearestX = x;
        edge = i;
    }
    return {edge, QPointF(nearestX, m.y())};
}

// The polygon's vertex that m sees: an end of the edge the ray hit (the hit itself when it
// is one, else the end farther right). A reflex vertex inside the triangle m, hit, that end
// would hide it; then the one closest in angle to the ray (then the nearest) instead.
size_t visibleVertex(const std::vector<QPointF> &polygon, const QPointF &m, const RayHit &hit)
{
    const size_t n = polygon.size();
    const size_t first = hit.edge;
    const size_t second = (hit.edge + 1) % n;
    if (samePoint(polygon[first], hit.point))
        return first;
    if (samePoint(polygon[second], hit.point))
        return second;
    size_t target = polygon[first].x() > polygon[second].x() ? first : second;
    const QPointF p = polygon[target];
    const bool upward = p.y() > m.y();
    double bestCosine = -2;
    double bestDistance = std::numeric_limits<double>::max();
    for (size_t i = 0; i < n; ++i) {
        const QPointF &r = polygon[i];
        if (i == target || samePoint(r, m))
            continue;
        const QPointF &previous = polygon[(i + n - 1) % n];
        const QPointF &next = polygon[(i + 1) % n];
        if (cross(previous, r, next) > 0) // convex
            continue;
        const bool inside = upward ? inTriangle(m, hit.point, p, r) : inTriangle(m, p, hit.point, r);
        if (!inside)
            continue;
        const double dx = r.x() - m.x();
        const double dy = r.y() - m.y();
        const double distance = std::hypot(dx, dy);
        if (distance == 0)
            continue;
        const double cosine = dx / distance;
        if (cosine > bestCosine || (cosine == bestCosine && distance < bestDistance)) {
            bestCosine = cosine;
            bestDistance = distance;
            target = i;
        }
    }
    return target;
}

// A point where an earlier bridge already starts occurs twice: the occurrence whose corner
// opens towards m. False when neither does.
bool openTowards(const std::vector<QPointF> &polygon, size_t &target, const QPointF &m)
{
    if (inCone(polygon, target, m))
        return true;
    for (size_t i = 0; i < polygon.size(); ++i) {
        if (i != target && samePoint(polygon[i], polygon[target]) && inCone(polygon, i, m)) {
            target = i;
            return true;
        }
    }
    return false;
}

// Joins `hole` (clockwise) to `polygon` (counter-clockwise, holding the outline and the holes
// joined so far) by a bridge from the hole's rightmost point to a point of the polygon it
// can see. False when no such point is found.
bool joinHole(std::vector<QPointF> &polygon, const Outline &hole)
{
    const size_t rightmost = rightmostPoint(hole);
    const QPointF m = hole[rightmost];
    const RayHit hit = castRightwards(polygon, m);
    if (hit.edge == polygon.size())
        return false;
    size_t target = visibleVertex(polygon, m, hit);
    if (!openTowards(polygon, target, m))
        return false;

    std::vector<QPointF> joined;
    joined.reserve(polygon.size() + hole.size() + 2);
    joined.insert(joined.end(), polygon.begin(), polygon.begin() + std::ptrdiff_t(target) + 1);
    for (size_t k = 0; k <= hole.size(); ++k)
        joined.push_back(hole[(rightmost + k) % hole.size()]);
    joined.push_back(polygon[target]);
    joined.insert(joined.end(), polygon.begin() + std::ptrdiff_t(target) + 1, polygon.end());
    polygon = std::move(joined);
    return true;
}

bool clipEars(const std::vector<QPointF> &polygon, std::vector<std::array<QPointF, 3>> &triangles)
{
    const size_t n = polygon.size();
    if (n < 3)
        return false;
    std::vector<size_t> previous(n);
    std::vector<size_t> next(n);
    for (size_t i = 0; i < n; ++i) {
        previous[i] = (i + n - 1) % n;
        next[i] = (i + 1) % n;
    }
    const auto reflex = [&](size_t i) { return cross(polygon[previous[i]], polygon[i], polygon[next[i]]) <= 0; };

    // Cutting the first ear found can leave slivers across the region, thin enough to lose
    // their area when stored as 32-bit floats: a round looks for well-shaped ears first and
    // takes any ear only when a whole round found none.
    const auto wellShaped = [&](size_t a, size_t b, size_t c) {
        const QPointF &pa = polygon[a];
        const QPointF &pb = polygon[b];
        const QPointF &pc = polygon[c];
        const auto squared = [](const QPointF &u, const QPointF &v) {
            return (u.x() - v.x()) * (u.x() - v.x()) + (u.y() - v.y()) * (u.y() - v.y());
        };
        const double longest = std::max({squared(pa, pb), squared(pb, pc), squared(pc, pa)});
        return cross(pa, pb, pc) >= kMinimumEarShape * longest;
    };

    size_t remaining = n;
    size_t current = 0;
    size_t sinceLastEar = 0;
    bool anyShape = false;
    while (remaining > 3) {
        if (sinceLastEar > remaining) {
            if (anyShape)
                return false; // a whole round without an ear: not a simple polygon
            anyShape = true;
            sinceLastEar = 0;
        }
        const size_t a = previous[current];
        const size_t b = current;
        const size_t c = next[current];
        bool ear = !reflex(b) && (anyShape || wellShaped(a, b, c));
        if (ear) {
            for (size_t j = next[c]; j != a && ear; j = next[j]) {
                const QPointF &p = polygon[j];
                if (samePoint(p, polygon[a]) || samePoint(p, polygon[b]) || samePoint(p, polygon[c]))
                    continue;
                if (reflex(j) && inTriangle(polygon[a], polygon[b], polygon[c], p))
                    ear = false;
            }
        }
        if (!ear) {
            current = next[current];
            ++sinceLastEar;
            continue;
        }
        triangles.push_back({polygon[a], polygon[b], polygon[c]});
        next[a] = c;
        previous[c] = a;
        --remaining;
        current = a;
        sinceLastEar = 0;
        anyShape = false;
    }
    const size_t a = previous[current];
    const size_t c = next[current];
    if (cross(polygon[a], polygon[current], polygon[c]) <= 0)
        return false;
    triangles.push_back({polygon[a], polygon[current], polygon[c]});
    return true;
}

} // namespace

bool triangulateRegion(
    const Outline &outer, const std::vector<Outline> &holes, std::vector<std::array<QPointF, 3>> *out)
{
    if (outer.size() < 3 || doubleArea(outer) <= 0)
        return false;
    std::vector<const Outline *> ordered;
    for (const Outline &hole : holes) {
        if (hole.size() < 3 || doubleArea(hole) >= 0)
            return false;
        ordered.push_back(&hole);
    }
    // Rightmost holes first, so that a bridge never has to cross a hole not yet joined.
    const auto maxX = [](const Outline *outline) {
        double x = -std::numeric_limits<double>::max();
        for (const QPointF &p : *outline)
            x = std::max(x, p.x());
        return x;
    };
    std::stable_sort(
        ordered.begin(), ordered.end(), [&](const Outline *l, const Outline *r) { return maxX(l) > maxX(r); });

    std::vector<QPointF> polygon = outer;
    for (const Outline *hole : ordered) {
        if (!joinHole(polygon, *hole))
            return false;
    }
    std::vector<std::array<QPointF, 3>> triangles;
    triangles.reserve(polygon.size());
    if (!clipEars(polygon, triangles))
        return false;
    out->insert(out->end(), triangles.begin(), triangles.end());
    return true;
}

} // namespace Calibration
