#pragma once

#include "meshimporter.h"

#include <QList>
#include <QMatrix4x4>
#include <QVector3D>

#include <vector>

// Faces of a placed model that would cure hanging in the resin: they face down steeply and
// nothing holds them up.
//
// Terms used here (scene frame: millimetres, y up, the platform at y = 0):
//   overhang  - a face whose outward normal points down more than kOverhangDegrees below
//               the horizontal (its winding gives the outside, as the import leaves it);
//   contact   - a point where a support meets the model;
//   supported - an overhang lying on the platform, or with a contact within kReachMm of its
//               centre across the platform (x and z) and within kReachMm of its height.
//               A large face is judged at its centre.
// Moving a model across the platform (x and z) moves its supports along and changes none of
// this.
namespace OverhangCheck {

constexpr float kOverhangDegrees = 45.0f;
constexpr float kReachMm = 2.5f;
constexpr float kOnPlatformMm = 0.05f;

// Indices into `triangles` (placed by `modelMatrix`) of the unsupported overhangs.
std::vector<int> unsupported(
    const QList<MeshTriangle *> &triangles, const QMatrix4x4 &modelMatrix, const std::vector<QVector3D> &contacts);

// The listed faces as triangles of position and normal for the view, in the model's own
// frame (drawn with its model matrix).
std::vector<float> faceVertices(const QList<MeshTriangle *> &triangles, const std::vector<int> &faces);

} // namespace OverhangCheck
