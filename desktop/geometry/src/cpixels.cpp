#include "cpixels.h"

#include <algorithm>
#include <cmath>

namespace {

// Where the vertical line through (x, y) meets the triangle, if it does.
bool hitAt(const CTriangle &t, double x, double y, double &z)
{
    const double ax = t.v[0].x, ay = t.v[0].y;
    const double bx = t.v[1].x, by = t.v[1].y;
    const double cx = t.v[2].x, cy = t.v[2].y;
    const double d = (by - cy) * (ax - cx) + (cx - bx) * (ay - cy);
    if (std::abs(d) < 1e-18)
        return false; // seen edge-on
    const double l1 = ((by - cy) * (x - cx) + (cx - bx) * (y - cy)) / d;
    const double l2 = ((cy - ay) * (x - cx) + (ax - cx) * (y - cy)) / d;
    const double l3 = 1.0 - l1 - l2;
    if (l1 < 0.0 || l2 < 0.0 || l3 < 0.0)
        return false;
    z = l1 * t.v[0].z + l2 * t.v[1].z + l3 * t.v[2].z;
    return true;
}

qint8 directionOf(const CTriangle &t)
{
    return t.normal.z < 0.0 ? qint8(1) : qint8(-1);
}

} // namespace

void CLDNIPixels::build(const std::vector<CTriangle> &triangles, const CGridFrame &frame)
{
    m_frame = frame;
    m_triangles = &triangles;
    m_count.resize(frame.width, frame.height, 0);
    m_triangleStart.resize(frame.width, frame.height + 1, 0);
    const auto cellRange = [&](const CTriangle &t, int &c0, int &c1, int &r0, int &r1) {
        const double minX = std::min({t.v[0].x, t.v[1].x, t.v[2].x});
        const double maxX = std::max({t.v[0].x, t.v[1].x, t.v[2].x});
        const double minY = std::min({t.v[0].y, t.v[1].y, t.v[2].y});
        const double maxY = std::max({t.v[0].y, t.v[1].y, t.v[2].y});
        c0 = std::max(0, frame.columnOf(minX));
        c1 = std::min(frame.width - 1, frame.columnOf(maxX));
        r0 = std::max(0, frame.rowOf(minY));
        r1 = std::min(frame.height - 1, frame.rowOf(maxY));
    };

    // First pass: how many crossings and triangles each cell gets.
    for (const CTriangle &t : triangles) {
        if (t.normal.z == 0.0)
            continue; // vertical: never crossed by a vertical line
        int c0, c1, r0, r1;
        cellRange(t, c0, c1, r0, r1);
        for (int row = r0; row <= r1; ++row)
            for (int column = c0; column <= c1; ++column) {
                ++m_triangleStart[m_triangleStart.index(column, row) + 1];
                double z;
                if (hitAt(t, frame.centreX(column), frame.centreY(row), z))
                    ++m_count(column, row);
            }
    }
    int depth = 0;
    for (size_t i = 0; i < m_count.size(); ++i)
        depth = std::max(depth, m_count[i]);
    for (size_t i = 1; i < m_triangleStart.size(); ++i)
        m_triangleStart[i] += m_triangleStart[i - 1];

    // Second pass: fill them in.
    m_crossings.resize(frame.width, frame.height, depth);
    m_cellTriangles.assign(size_t(m_triangleStart[m_triangleStart.size() - 1]), 0);
    CArray2D<int> filled(frame.width, frame.height, 0);
    CArray2D<int> listed(frame.width, frame.height, 0);
    for (size_t i = 0; i < triangles.size(); ++i) {
        const CTriangle &t = triangles[i];
        if (t.normal.z == 0.0)
            continue;
        int c0, c1, r0, r1;
        cellRange(t, c0, c1, r0, r1);
        for (int row = r0; row <= r1; ++row)
            for (int column = c0; column <= c1; ++column) {
                const size_t cell = m_triangleStart.index(column, row);
                m_cellTriangles[size_t(m_triangleStart[cell] + listed(column, row)++)] = int(i);
                double z;
                if (hitAt(t, frame.centreX(column), frame.centreY(row), z))
                    m_crossings(column, row, filled(column, row)++) = {float(z), directionOf(t)};
            }
    }
    for (int row = 0; row < frame.height; ++row)
        for (int column = 0; column < frame.width; ++column) {
            Crossing *first = &m_crossings(column, row, 0);
            std::sort(first, first + m_count(column, row),
                [](const Crossing &a, const Crossing &b) { return a.z < b.z; });
        }
}

std::vector<CLDNIPixels::Crossing> CLDNIPixels::crossingsAt(double x, double y) const
{
    std::vector<Crossing> out;
    const int column = m_frame.columnOf(x);
    const int row = m_frame.rowOf(y);
    if (!m_triangles || column < 0 || row < 0 || column >= m_frame.width || row >= m_frame.height)
        return out;
    const size_t cell = m_triangleStart.index(column, row);
    for (int i = m_triangleStart[cell]; i < m_triangleStart[cell + 1]; ++i) {
        const CTriangle &t = (*m_triangles)[size_t(m_cellTriangles[size_t(i)])];
        double z;
        if (hitAt(t, x, y, z))
            out.push_back({float(z), directionOf(t)});
    }
    std::sort(out.begin(), out.end(), [](const Crossing &a, const Crossing &b) { return a.z < b.z; });
    return out;
}

namespace {

double highestTopBelow(std::vector<CLDNIPixels::Crossing> crossings, double z)
{
    std::sort(crossings.begin(), crossings.end(),
        [](const CLDNIPixels::Crossing &a, const CLDNIPixels::Crossing &b) { return a.z < b.z; });
    double stand = 0.0;
    for (const CLDNIPixels::Crossing &c : crossings) {
        if (c.z >= z - 1e-6)
            break;
        if (c.direction < 0)
            stand = c.z;
    }
    return stand;
}

} // namespace

double CLDNIPixels::standBelow(double x, double y, double z) const
{
    return highestTopBelow(crossingsAt(x, y), z);
}

double CLDNIPixels::standBelow(const std::vector<CTriangle> &triangles, double x, double y, double z)
{
    std::vector<Crossing> crossings;
    for (const CTriangle &t : triangles) {
        double hit;
        if (t.normal.z != 0.0 && hitAt(t, x, y, hit))
            crossings.push_back({float(hit), directionOf(t)});
    }
    return highestTopBelow(std::move(crossings), z);
}
