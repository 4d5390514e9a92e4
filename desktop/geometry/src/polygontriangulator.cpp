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

} // namespace

QVector<std::array<int, 3>> triangulatePolygon(const QVector<QVector3D> &corners)
{
    const int count = corners.size();
    if (count < 3)
        return {};
    if (count == 3)
        return {{0, 1, 2}};

    // Newell's normal: the polygon's plane, pointing to where its winding is counter-clockwise.
    double nx = 0, ny = 0, nz = 0;
    double extent = 0;
    for (int i = 0; i < count; ++i) {
        const QVector3D &p = corners.at(i);
        const QVector3D &q = corners.at((i + 1) % count);
        nx += (double(p.y()) - q.y()) * (double(p.z()) + q.z());
        ny += (double(p.z()) - q.z()) * (double(p.x()) + q.x());
        nz += (double(p.x()) - q.x()) * (double(p.y()) + q.y());
        extent = qMax(extent, double((p - corners.first()).length()));
    }
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (extent <= 0 || length <= 1e-12 * extent * extent)
        return fan(count); // no area: any split is as good as another
    nx /= length;
    ny /= length;
    nz /= length;

    // Two axes u, v in the plane with u x v = n, so the polygon runs counter-clockwise in (u, v).
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

    QVector<Point2> points(count);
    for (int i = 0; i < count; ++i) {
        const QVector3D &p = corners.at(i);
        points[i] = {p.x() * ux + p.y() * uy + p.z() * uz, p.x() * vx + p.y() * vy + p.z() * vz};
    }
    const double eps = 1e-12 * extent * extent;

    QVector<int> ring(count);
    for (int i = 0; i < count; ++i)
        ring[i] = i;

    QVector<std::array<int, 3>> result;
    result.reserve(count - 2);
    while (ring.size() > 3) {
        const int size = ring.size();
        int ear = -1;
        for (int i = 0; i < size && ear < 0; ++i) {
            const int prev = ring.at((i + size - 1) % size);
            const int cur = ring.at(i);
            const int next = ring.at((i + 1) % size);
            if (cross2(points.at(prev), points.at(cur), points.at(next)) <= eps)
                continue; // reflex or flat corner
            bool blocked = false;
            for (int j = 0; j < size && !blocked; ++j) {
                const int other = ring.at(j);
                if (other == prev || other == cur || other == next)
                    continue;
                const Point2 &p = points.at(other);
                // A corner sitting exactly on one of the ear's corners does not block it.
                const bool sameAsCorner = [&] {
                    for (int k : {prev, cur, next}) {
                        if (p.x == points.at(k).x && p.y == points.at(k).y)
                            return true;
                    }
                    return false;
                }();
                blocked = !sameAsCorner && insideTriangle(p, points.at(prev), points.at(cur), points.at(next), eps);
            }
            if (!blocked)
                ear = i;
        }
        if (ear < 0) {
            // Self-touching or numerically awkward polygon: cut the most convex corner and go on.
            double best = -std::numeric_limits<double>::max();
            for (int i = 0; i < size; ++i) {
                const double turn = cross2(points.at(ring.at((i + size - 1) % size)), points.at(ring.at(i)),
                    points.at(ring.at((i + 1) % size)));
                if (turn > best) {
                    best = turn;
                    ear = i;
                }
            }
        }
        result.append({ring.at((ear + size - 1) % size), ring.at(ear), ring.at((ear + 1) % size)});
        ring.remove(ear);
    }
    result.append({ring.at(0), ring.at(1), ring.at(2)});
    return result;
}
