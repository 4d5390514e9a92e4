#include "polygontriangulator.h"

#include <QtGlobal>

#include <cmath>
#include <limits>

namespace {

struct Point2 {
    double x;
    double y;
};

double cross2(const Point2 &o, const Point2 &a, const Point2 &b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// True when p lies inside or on the counter-clockwise triangle a, b, c.
bool insideTriangle(const Point2 &p, const Point2 &a, const Point2 &b, const Point2 &c, double eps)
{
    return cross2(a, b, p) >= -eps && cross2(b, c, p) >= -eps && cross2(c, a, p) >= -eps;
}

QVector<std::array<int, 3>> fan(int count)
{
    QVector<std::array<int, 3>> result;
    for (int i = 1; i + 1 < count; ++i)
        result.append({0, i, i + 1});
    return result;
}

// Newell's normal: the polygon's plane, pointing to where its winding is counter-clockwise
// (not normalised); with the polygon's extent, the farthest corner from the first.
struct Newell {
    double x = 0;
    double y = 0;
    double z = 0;
    double extent = 0;
};

Newell newellNormal(const QVector<QVector3D> &corners)
{
    const int count = corners.size();
    Newell n;
    for (int i = 0; i < count; ++i) {
        const QVector3D &p = corners.at(i);
        const QVector3D &q = corners.at((i + 1) % count);
        n.x += (double(p.y()) - q.y()) * (double(p.z()) + q.z());
        n.y += (double(p.z()) - q.z()) * (double(p.x()) + q.x());
        n.z += (double(p.x()) - q.x()) * (double(p.y()) + q.y());
        n.extent = qMax(n.extent, double((p - corners.first()).length()));
    }
    return n;
}

// The corners in two axes u, v of the plane with unit normal n, u x v = n: the polygon
// runs counter-clockwise in (u, v).
QVector<Point2> flatten(const QVector<QVector3D> &corners, double nx, double ny, double nz)
{
    double ux, uy, uz;
    if (std::fabs(nx) < 0.9) {
        ux = 0, uy = nz, uz = -ny; // (1, 0, 0) x n
    } else {
        ux = -nz, uy = 0, uz = nx; // (0, 1, 0) x n
    }
    const double ulen = std::sqrt(ux * ux + uy * uy + uz * uz);
    ux /= ulen;
    uy /= ulen;
    uz /= ulen;
    const double vx = ny * uz - nz * uy;
    const double vy = nz * ux - nx * uz;
    const double vz = nx * uy - ny * ux;

    QVector<Point2> points(corners.size());
    for (int i = 0; i < corners.size(); ++i) {
        const QVector3D &p = corners.at(i);
        points[i] = {p.x() * ux + p.y() * uy + p.z() * uz, p.x() * vx + p.y() * vy + p.z() * vz};
    }
    return points;
}

// Whether the corner at ring position i is an ear: convex, with no other corner of the
// ring inside it (a corner sitting exactly on one of the ear's corners does not count).
bool isEar(const QVector<Point2> &points, const QVector<int> &ring, int i, double eps)
{
    const int size = ring.size();
    const int prev = ring.at((i + size - 1) % size);
    const int cur = ring.at(i);
    const int next = ring.at((i + 1) % size);
    if (cross2(points.at(prev), points.at(cur), points.at(next)) <= eps)
        return false; // reflex or flat corner
    for (int j = 0; j < size; ++j) {
        const int other = ring.at(j);
        if (other == prev || other == cur || other == next)
            continue;
        const Point2 &p = points.at(other);
        bool sameAsCorner = false;
        for (int k : {prev, cur, next})
            sameAsCorner = sameAsCorner || (p.x == points.at(k).x && p.y == points.at(k).y);
        if (!sameAsCorner && insideTriangle(p, points.at(prev), points.at(cur), points.at(next), eps))
            return false;
    }
    return true;
}

// For self-touching or numerically awkward polygons without an ear: the most convex corner.
int mostConvexCorner(const QVector<Point2> &points, const QVector<int> &ring)
{
    const int size = ring.size();
    int corner = -1;
    double best = -std::numeric_limits<double>::max();
    for (int i = 0; i < size; ++i) {
        const double turn = cross2(
            points.at(ring.at((i + size - 1) % size)), points.at(ring.at(i)), points.at(ring.at((i + 1) % size)));
        if (turn > best) {
            best = turn;
            corner = i;
        }
    }
    return corner;
}

// Cuts ears from the flat polygon until one triangle is left.
QVector<std::array<int, 3>> clipEars(const QVector<Point2> &points, double eps)
{
    const int count = points.size();
    QVector<int> ring(count);
    for (int i = 0; i < count; ++i)
        ring[i] = i;

    QVector<std::array<int, 3>> result;
    result.reserve(count - 2);
    while (ring.size() > 3) {
        const int size = ring.size();
        int ear = -1;
        for (int i = 0; i < size && ear < 0; ++i) {
            if (isEar(points, ring, i, eps))
                ear = i;
        }
        if (ear < 0)
            ear = mostConvexCorner(points, ring);
        result.append({ring.at((ear + size - 1) % size), ring.at(ear), ring.at((ear + 1) % size)});
        ring.remove(ear);
    }
    result.append({ring.at(0), ring.at(1), ring.at(2)});
    return result;
}

} // namespace

QVector<std::array<int, 3>> triangulatePolygon(const QVector<QVector3D> &corners)
{
    const int count = corners.size();
    if (count < 3)
        return {};
    if (count == 3)
        return {{0, 1, 2}};
    const Newell normal = newellNormal(corners);
    const double length = std::sqrt(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z);
    const double extent = normal.extent;
    if (extent <= 0 || length <= 1e-12 * extent * extent)
        return fan(count); // no area: any split is as good as another
    return clipEars(flatten(corners, normal.x / length, normal.y / length, normal.z / length), 1e-12 * extent * extent);
}
