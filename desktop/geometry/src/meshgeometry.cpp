#include "meshgeometry.h"

#include <algorithm>
#include <iterator>
#include <utility>

MeshGeometry::MeshGeometry(QList<MeshTriangle *> triangles)
    : m_triangles(std::move(triangles))
{
    recompute();
}

MeshGeometry::~MeshGeometry()
{
    qDeleteAll(m_triangles);
}

MeshGeometry::MeshGeometry(MeshGeometry &&other) noexcept
{
    *this = std::move(other);
}

MeshGeometry &MeshGeometry::operator=(MeshGeometry &&other) noexcept
{
    if (this != &other) {
        qDeleteAll(m_triangles);
        m_triangles = std::exchange(other.m_triangles, {});
        std::copy(std::begin(other.m_min), std::end(other.m_min), std::begin(m_min));
        std::copy(std::begin(other.m_max), std::end(other.m_max), std::begin(m_max));
        m_volume = other.m_volume;
        m_transformedBoxStale = other.m_transformedBoxStale;
        other.recompute();
    }
    return *this;
}

QVector3D MeshGeometry::toEditorFrame(const QVector3D &point)
{
    return QVector3D(point.x(), point.z(), -point.y());
}

void MeshGeometry::orientForEditor(QList<MeshTriangle *> &triangles)
{
    for (MeshTriangle *triangle : qAsConst(triangles)) {
        triangle->a = toEditorFrame(triangle->a);
        triangle->b = toEditorFrame(triangle->b);
        triangle->c = toEditorFrame(triangle->c);
        const QVector3D normal = toEditorFrame(triangle->normal);
        const float length = normal.length();
        triangle->normal = length > 0 ? normal / length : normal;
    }
}

void MeshGeometry::setTriangles(QList<MeshTriangle *> triangles)
{
    qDeleteAll(m_triangles);
    m_triangles = std::move(triangles);
    recompute();
}

void MeshGeometry::recompute()
{
    for (int axis = 0; axis < 3; ++axis) {
        m_min[axis] = std::numeric_limits<double>::max();
        m_max[axis] = -std::numeric_limits<double>::max();
    }
    double sixfoldVolume = 0;
    for (const MeshTriangle *triangle : qAsConst(m_triangles)) {
        const double a[3] = {triangle->a.x(), triangle->a.y(), triangle->a.z()};
        const double b[3] = {triangle->b.x(), triangle->b.y(), triangle->b.z()};
        const double c[3] = {triangle->c.x(), triangle->c.y(), triangle->c.z()};
        for (int axis = 0; axis < 3; ++axis) {
            m_min[axis] = std::min({m_min[axis], a[axis], b[axis], c[axis]});
            m_max[axis] = std::max({m_max[axis], a[axis], b[axis], c[axis]});
        }
        sixfoldVolume += a[0] * (b[1] * c[2] - b[2] * c[1]) + a[1] * (b[2] * c[0] - b[0] * c[2])
            + a[2] * (b[0] * c[1] - b[1] * c[0]);
    }
    m_volume = sixfoldVolume / 6.0 * 0.001; // mm^3 to millilitres
    m_transformedBoxStale = true;
}

QList<MeshTriangle *> MeshGeometry::centredBox(float sizeX, float sizeY, float sizeZ)
{
    const float x = sizeX / 2, y = sizeY / 2, z = sizeZ / 2;
    const QVector3D v[8]
        = {{-x, -y, -z}, {x, -y, -z}, {x, y, -z}, {-x, y, -z}, {-x, -y, z}, {x, -y, z}, {x, y, z}, {-x, y, z}};
    const int faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4}, {1, 2, 6}, {1, 6, 5},
        {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    QList<MeshTriangle *> triangles;
    for (const auto &face : faces) {
        auto *triangle = new MeshTriangle;
        triangle->a = v[face[0]];
        triangle->b = v[face[1]];
        triangle->c = v[face[2]];
        triangle->normal = MeshImporter::facetNormal(triangle->a, triangle->b, triangle->c);
        triangles.append(triangle);
    }
    return triangles;
}
