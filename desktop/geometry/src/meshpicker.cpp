#include "meshpicker.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr float kParallelEpsilon = 1e-9f;

} // namespace

MeshPicker::MeshPicker(const QList<MeshTriangle *> &triangles)
{
    m_vertices.reserve(size_t(triangles.size()) * 3);
    const float big = std::numeric_limits<float>::max();
    m_min = QVector3D(big, big, big);
    m_max = -m_min;
    for (const MeshTriangle *triangle : triangles) {
        for (const QVector3D &v : {triangle->a, triangle->b, triangle->c}) {
            m_vertices.push_back(v);
            for (int axis = 0; axis < 3; ++axis) {
                m_min[axis] = std::min(m_min[axis], v[axis]);
                m_max[axis] = std::max(m_max[axis], v[axis]);
            }
        }
    }
}

std::optional<float> MeshPicker::intersect(const QVector3D &origin, const QVector3D &direction) const
{
    if (m_vertices.empty() || !rayMeetsBox(origin, direction))
        return std::nullopt;
    std::optional<float> nearest;
    for (size_t i = 0; i + 2 < m_vertices.size(); i += 3) {
        const std::optional<float> t
            = intersectTriangle(origin, direction, m_vertices[i], m_vertices[i + 1], m_vertices[i + 2]);
        if (t && (!nearest || *t < *nearest))
            nearest = t;
    }
    return nearest;
}

std::optional<float> MeshPicker::intersect(
    const QList<MeshTriangle *> &triangles, const QVector3D &origin, const QVector3D &direction)
{
    std::optional<float> nearest;
    for (const MeshTriangle *triangle : triangles) {
        const std::optional<float> t = intersectTriangle(origin, direction, triangle->a, triangle->b, triangle->c);
        if (t && (!nearest || *t < *nearest))
            nearest = t;
    }
    return nearest;
}

std::optional<float> MeshPicker::intersectTriangle(
    const QVector3D &origin, const QVector3D &direction, const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    const QVector3D edge1 = b - a;
    const QVector3D edge2 = c - a;
    const QVector3D p = QVector3D::crossProduct(direction, edge2);
    const float determinant = QVector3D::dotProduct(edge1, p);
    if (std::fabs(determinant) < kParallelEpsilon)
        return std::nullopt;
    const float inverse = 1.0f / determinant;
    const QVector3D s = origin - a;
    const float u = QVector3D::dotProduct(s, p) * inverse;
    if (u < 0.0f || u > 1.0f)
        return std::nullopt;
    const QVector3D q = QVector3D::crossProduct(s, edge1);
    const float v = QVector3D::dotProduct(direction, q) * inverse;
    if (v < 0.0f || u + v > 1.0f)
        return std::nullopt;
    const float t = QVector3D::dotProduct(edge2, q) * inverse;
    if (t < 0.0f)
        return std::nullopt;
    return t;
}

bool MeshPicker::rayMeetsBox(const QVector3D &origin, const QVector3D &direction) const
{
    float enter = 0.0f;
    float leave = std::numeric_limits<float>::max();
    for (int axis = 0; axis < 3; ++axis) {
        if (std::fabs(direction[axis]) < kParallelEpsilon) {
            if (origin[axis] < m_min[axis] || origin[axis] > m_max[axis])
                return false;
            continue;
        }
        float near = (m_min[axis] - origin[axis]) / direction[axis];
        float far = (m_max[axis] - origin[axis]) / direction[axis];
        if (near > far)
            std::swap(near, far);
        enter = std::max(enter, near);
        leave = std::min(leave, far);
        if (enter > leave)
            return false;
    }
    return true;
}
