#pragma once

#include "meshrenderer.h"

#include <QQuaternion>
#include <QVector3D>

// One bound of the build volume (128 x 80 mm on the platform, 203.2 mm high), drawn as a
// thin panel and highlighted by the view while a model crosses it.
//
//   kind 0  back wall,  z = -40, crossed when a model's minimum z is below -40
//   kind 1  right wall, x = 64,  crossed when its maximum x is above 64
//   kind 2  front wall, z = 40,  crossed when its maximum z is above 40
//   kind 3  left wall,  x = -64, crossed when its minimum x is below -64
//   kind 4  ceiling,    y = 203.2, crossed when its maximum y is above 203.2
//
// The side walls share one upright panel (turned 90 degrees about y for kinds 1 and 3);
// the ceiling is a platform-sized plate lying in the file frame's x-y plane, turned 90
// degrees about x.
class CollisionWall : public MeshRenderer
{
public:
    static constexpr int kKinds = 5;
    static constexpr double kHalfWidth = 64.0; // x
    static constexpr double kHalfDepth = 40.0; // z
    static constexpr double kHeight = 203.2; // y

    // A kind outside 0 ... 4 is held to the nearest one.
    explicit CollisionWall(int kind);

    int kind() const { return m_kind; }
    const QVector3D &position() const { return m_position; }
    const QQuaternion &rotation() const { return m_rotation; }
    QMatrix4x4 modelMatrix() const override;

    // True when the box crosses this wall's plane.
    bool isCrossedBy(const BoundingBox &box) const;

private:
    int m_kind;
    QVector3D m_position;
    QQuaternion m_rotation;
};
