#include "collisionwall.h"

#include "meshgeometry.h"

#include <algorithm>

namespace {

constexpr float kPanelThickness = 0.5f;

QList<MeshTriangle *> wallMesh(int kind)
{
    if (kind == 4) // the platform plate, x-y plane
        return MeshGeometry::centredBox(
            float(2 * CollisionWall::kHalfWidth), float(2 * CollisionWall::kHalfDepth), kPanelThickness);
    return MeshGeometry::centredBox(
        float(2 * CollisionWall::kHalfWidth), float(CollisionWall::kHeight), kPanelThickness);
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
