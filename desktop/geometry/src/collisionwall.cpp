#include "collisionwall.h"

#include <algorithm>

namespace {

constexpr float kPanelThickness = 0.5f;

// A closed box centred on the origin, its faces wound outwards.
QList<MeshTriangle *> panel(float sizeX, float sizeY, float sizeZ)
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

QList<MeshTriangle *> wallMesh(int kind)
{
    if (kind == 4) // the platform plate, x-y plane
        return panel(float(2 * CollisionWall::kHalfWidth), float(2 * CollisionWall::kHalfDepth), kPanelThickness);
    return panel(float(2 * CollisionWall::kHalfWidth), float(CollisionWall::kHeight), kPanelThickness);
}

} // namespace

CollisionWall::CollisionWall(int kind)
    : MeshRenderer(wallMesh(std::clamp(kind, 0, kKinds - 1)))
    , m_kind(std::clamp(kind, 0, kKinds - 1))
{
    const float halfWidth = float(kHalfWidth);
    const float halfDepth = float(kHalfDepth);
    const float middle = float(kHeight / 2);
    switch (m_kind) {
    case 0:
        m_position = QVector3D(0, middle, -halfDepth);
        break;
    case 1:
        m_position = QVector3D(halfWidth, middle, 0);
        m_rotation = QQuaternion::fromAxisAndAngle(0, 1, 0, 90);
        break;
    case 2:
        m_position = QVector3D(0, middle, halfDepth);
        break;
    case 3:
        m_position = QVector3D(-halfWidth, middle, 0);
        m_rotation = QQuaternion::fromAxisAndAngle(0, 1, 0, 90);
        break;
    default:
        m_position = QVector3D(0, float(kHeight), 0);
        m_rotation = QQuaternion::fromAxisAndAngle(1, 0, 0, 90);
        break;
    }
    setModelMatrix(modelMatrix());
}

QMatrix4x4 CollisionWall::modelMatrix() const
{
    QMatrix4x4 matrix;
    matrix.translate(m_position);
    matrix.rotate(m_rotation);
    return matrix;
}

bool CollisionWall::isCrossedBy(const BoundingBox &box) const
{
    switch (m_kind) {
    case 0:
        return box.minZ < -kHalfDepth;
    case 1:
        return box.maxX > kHalfWidth;
    case 2:
        return box.maxZ > kHalfDepth;
    case 3:
        return box.minX < -kHalfWidth;
    default:
        return box.maxY > kHeight;
    }
}
