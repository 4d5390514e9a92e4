#include "overhangcheck.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

namespace OverhangCheck {

namespace {

// Contacts by square cells of kReachMm across the platform: a face looks in the 3 x 3 cells
// around its centre only.
class ContactGrid
{
public:
    explicit ContactGrid(const std::vector<QVector3D> &contacts)
    {
        for (const QVector3D &contact : contacts)
            m_cells[cellOf(contact)].push_back(contact);
    }

    bool anyNear(const QVector3D &point) const
    {
        const int column = cellIndex(point.x());
        const int row = cellIndex(point.z());
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dz = -1; dz <= 1; ++dz) {
                const auto found = m_cells.find(key(column + dx, row + dz));
                if (found != m_cells.end() && anyWithinReach(found->second, point))
                    return true;
            }
        }
        return false;
    }

private:
    static int cellIndex(float millimetres) { return int(std::floor(millimetres / kReachMm)); }
    // Column in the high half, row in the low half; shifted as unsigned (columns are negative
    // left of the platform's centre).
    static std::uint64_t key(int column, int row)
    {
        return (std::uint64_t(std::uint32_t(column)) << 32) | std::uint32_t(row);
    }
    static std::uint64_t cellOf(const QVector3D &point) { return key(cellIndex(point.x()), cellIndex(point.z())); }

    static bool anyWithinReach(const std::vector<QVector3D> &cell, const QVector3D &point)
    {
        for (const QVector3D &contact : cell) {
            const float dx = contact.x() - point.x();
            const float dz = contact.z() - point.z();
            if (dx * dx + dz * dz <= kReachMm * kReachMm && std::abs(contact.y() - point.y()) <= kReachMm)
                return true;
        }
        return false;
    }

    std::unordered_map<std::uint64_t, std::vector<QVector3D>> m_cells;
};

} // namespace

std::vector<int> unsupported(
    const QList<MeshTriangle *> &triangles, const QMatrix4x4 &modelMatrix, const std::vector<QVector3D> &contacts)
{
    const ContactGrid grid(contacts);
    // A unit normal points down more than the angle below the horizontal when its y is
    // below -sin(angle).
    const float steepest = -std::sin(kOverhangDegrees * float(M_PI) / 180.0f);
    std::vector<int> faces;
    for (int i = 0; i < triangles.size(); ++i) {
        const MeshTriangle &triangle = *triangles[i];
        const QVector3D a = modelMatrix.map(triangle.a);
        const QVector3D b = modelMatrix.map(triangle.b);
        const QVector3D c = modelMatrix.map(triangle.c);
        const QVector3D normal = QVector3D::crossProduct(b - a, c - a).normalized();
        if (normal.isNull() || normal.y() >= steepest)
            continue;
        if (std::max({a.y(), b.y(), c.y()}) <= kOnPlatformMm)
            continue;
        if (!grid.anyNear((a + b + c) / 3.0f))
            faces.push_back(i);
    }
    return faces;
}

std::vector<float> faceVertices(const QList<MeshTriangle *> &triangles, const std::vector<int> &faces)
{
    std::vector<float> vertices;
    vertices.reserve(faces.size() * 18);
    for (const int face : faces) {
        const MeshTriangle &triangle = *triangles[face];
        const QVector3D normal = QVector3D::crossProduct(triangle.b - triangle.a, triangle.c - triangle.a).normalized();
        for (const QVector3D &corner : {triangle.a, triangle.b, triangle.c})
            vertices.insert(vertices.end(), {corner.x(), corner.y(), corner.z(), normal.x(), normal.y(), normal.z()});
    }
    return vertices;
}

} // namespace OverhangCheck
