#include "csurfel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

CSurfel makeSurfel(const CVertex &p, const CVertex &normal, quint8 type)
{
    CSurfel s;
    s.position[0] = float(p.x);
    s.position[1] = float(p.y);
    s.position[2] = float(p.z);
    s.normal[0] = float(normal.x);
    s.normal[1] = float(normal.y);
    s.normal[2] = float(normal.z);
    s.type = type;
    return s;
}

} // namespace

quint8 CSurfel::typeOf(const CVertex &normal)
{
    if (normal.z > 0.0)
        return kUpFacing;
    if (normal.z < 0.0)
        return kDownFacing;
    return kVertical;
}

void CSurfels::clear()
{
    m_surfels.clear();
    m_cellSurfels.clear();
    m_cellStart = {};
    m_lowestZ = m_highestZ = 0.0;
}

bool CSurfels::add(const CSurfel &surfel)
{
    if (m_surfels.size() >= kMaxSurfels)
        return false;
    if (m_surfels.empty()) {
        m_lowestZ = m_highestZ = surfel.position[2];
    } else {
        m_lowestZ = std::min(m_lowestZ, double(surfel.position[2]));
        m_highestZ = std::max(m_highestZ, double(surfel.position[2]));
    }
    m_surfels.push_back(surfel);
    return true;
}

void CSurfels::indexDownFacing(double originX, double originY, double cell, int width, int height)
{
    m_indexWidth = width;
    m_cellStart.resize(width, height + 1, 0);
    std::vector<int> cellOf(m_surfels.size(), -1);
    for (size_t i = 0; i < m_surfels.size(); ++i) {
        const CSurfel &s = m_surfels[i];
        if (s.type != CSurfel::kDownFacing)
            continue;
        const int column = int(std::floor((s.position[0] - originX) / cell));
        const int row = int(std::floor((s.position[1] - originY) / cell));
        if (column < 0 || row < 0 || column >= width || row >= height)
            continue;
        cellOf[i] = int(m_cellStart.index(column, row));
        ++m_cellStart[size_t(cellOf[i]) + 1];
    }
    // Counts to starts (the array's last cell ends the previous one).
    for (size_t i = 1; i < m_cellStart.size(); ++i)
        m_cellStart[i] += m_cellStart[i - 1];
    m_cellSurfels.assign(size_t(m_cellStart[m_cellStart.size() - 1]), 0);
    std::vector<int> fill(m_cellStart.size(), 0);
    for (size_t i = 0; i < m_surfels.size(); ++i) {
        if (cellOf[i] < 0)
            continue;
        const size_t c = size_t(cellOf[i]);
        m_cellSurfels[size_t(m_cellStart[c] + fill[c]++)] = int(i);
    }
    const size_t cells = size_t(width) * size_t(height);
    for (size_t c = 0; c < cells; ++c) {
        std::sort(m_cellSurfels.begin() + m_cellStart[c], m_cellSurfels.begin() + m_cellStart[c + 1],
            [&](int a, int b) { return m_surfels[size_t(a)].position[2] < m_surfels[size_t(b)].position[2]; });
    }
}

const int *CSurfels::downFacingBegin(int column, int row) const
{
    return m_cellSurfels.data() + m_cellStart[m_cellStart.index(column, row)];
}

const int *CSurfels::downFacingEnd(int column, int row) const
{
    return m_cellSurfels.data() + m_cellStart[m_cellStart.index(column, row) + 1];
}

int CTriangleSampler::sample(const CTriangle &triangle, CSurfels &out) const
{
    const quint8 type = CSurfel::typeOf(triangle.normal);
    // Rows run along the longest edge, stepping across the triangle.
    int longest = 0;
    double longestLength = -1.0;
    for (int e = 0; e < 3; ++e) {
        const double l = (triangle.v[(e + 1) % 3] - triangle.v[e]).length();
        if (l > longestLength) {
            longestLength = l;
            longest = e;
        }
    }
    const CVertex &a = triangle.v[longest];
    const CVertex &b = triangle.v[(longest + 1) % 3];
    const CVertex &c = triangle.v[(longest + 2) % 3];
    int added = 0;
    if (longestLength > 0.0 && m_spacing > 0.0) {
        const CVertex u = (b - a) * (1.0 / longestLength);
        const CVertex ac = c - a;
        const double cu = ac.dot(u); // c's position along the edge
        const CVertex across = ac - u * cu;
        const double h = across.length(); // height of c above the edge
        if (h > 0.0) {
            const CVertex v = across * (1.0 / h);
            for (double t = m_spacing / 2; t < h; t += m_spacing) {
                // The row at height t runs between the edges a-c and b-c.
                const double f = t / h;
                const double from = cu * f;
                const double to = longestLength + (cu - longestLength) * f;
                for (double s = from + m_spacing / 2; s < to; s += m_spacing) {
                    if (!out.add(makeSurfel(a + u * s + v * t, triangle.normal, type)))
                        return added;
                    ++added;
                }
            }
        }
    }
    if (added == 0) {
        // Smaller than a sample: its centre stands for it.
        const CVertex centre = (triangle.v[0] + triangle.v[1] + triangle.v[2]) * (1.0 / 3.0);
        if (out.add(makeSurfel(centre, triangle.normal, type)))
            ++added;
    }
    return added;
}

int CLineSegmentSampler::sample(
    const CVertex &from, const CVertex &to, const CVertex &normal, quint8 type, CSurfels &out) const
{
    const double length = (to - from).length();
    if (m_spacing <= 0.0 || length <= m_spacing)
        return 0;
    const int steps = int(std::ceil(length / m_spacing));
    int added = 0;
    for (int i = 1; i < steps; ++i) {
        if (!out.add(makeSurfel(from + (to - from) * (double(i) / steps), normal, type)))
            break;
        ++added;
    }
    return added;
}
