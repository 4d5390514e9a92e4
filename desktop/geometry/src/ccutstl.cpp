#include "ccutstl.h"

#include <algorithm>
#include <limits>

namespace {
constexpr double kMillimetresPerInch = 25.4;
}

void CCutSTL::setTransform(const double scale[3], const double rotationDegrees[3], const double translate[3])
{
    m_transform = CTransMatrix::fromParts(scale, rotationDegrees, translate);
}

void CCutSTL::read(const QList<MeshTriangle *> &triangles, bool inMillimetres)
{
    m_triangles.clear();
    m_triangles.reserve(size_t(triangles.size()));
    const double factor = inMillimetres ? 1.0 / kMillimetresPerInch : 1.0;
    const bool transformed = !m_transform.isIdentity();
    for (const MeshTriangle *source : triangles) {
        if (!source)
            continue;
        CTriangle t;
        const QVector3D *corners[3] = {&source->a, &source->b, &source->c};
        for (int i = 0; i < 3; ++i) {
            t.v[i] = CVertex(*corners[i]) * factor;
            if (transformed)
                t.v[i] = m_transform.apply(t.v[i]);
        }
        t.normal = t.windingNormal();
        if (t.normal.length() == 0.0)
            t.normal = transformed ? m_transform.applyDirection(CVertex(source->normal)) : CVertex(source->normal);
        m_triangles.push_back(t);
    }
    updateBox();
}

double CCutSTL::liftTo(double lowest, double threshold)
{
    if (m_triangles.empty() || m_min.z >= threshold)
        return 0.0;
    const double lift = lowest - m_min.z;
    for (CTriangle &t : m_triangles)
        for (CVertex &v : t.v)
            v.z += lift;
    m_min.z += lift;
    m_max.z += lift;
    return lift;
}

std::vector<MeshTriangle> CCutSTL::toMeshTriangles() const
{
    std::vector<MeshTriangle> out;
    out.reserve(m_triangles.size());
    for (const CTriangle &t : m_triangles)
        out.push_back({t.normal.toVector(), t.v[0].toVector(), t.v[1].toVector(), t.v[2].toVector()});
    return out;
}

void CCutSTL::updateBox()
{
    constexpr double big = std::numeric_limits<double>::max();
    m_min = {big, big, big};
    m_max = {-big, -big, -big};
    for (const CTriangle &t : m_triangles)
        for (const CVertex &v : t.v) {
            m_min = {std::min(m_min.x, v.x), std::min(m_min.y, v.y), std::min(m_min.z, v.z)};
            m_max = {std::max(m_max.x, v.x), std::max(m_max.y, v.y), std::max(m_max.z, v.z)};
        }
    if (m_triangles.empty())
        m_min = m_max = CVertex();
}
