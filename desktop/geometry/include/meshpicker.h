#pragma once

#include "meshimporter.h"

#include <QList>
#include <QVector3D>

#include <optional>
#include <vector>

// Ray hits on a triangle list, for selecting models and for editing supports. Works in
// the frame of the triangles it was built from; the caller brings the ray there. Built
// once per imported mesh and shared by its copies.
//
// Terms used here:
//   ray - origin + t x direction, t >= 0; the direction need not be unit length, and t
//         is counted in multiples of it (so t survives any affine change of frame).
class MeshPicker
{
public:
    explicit MeshPicker(const QList<MeshTriangle *> &triangles);

    // The smallest t at which the ray meets a triangle (either side), if any.
    std::optional<float> intersect(const QVector3D &origin, const QVector3D &direction) const;

    // The same test over any triangle list, without the box test.
    static std::optional<float> intersect(
        const QList<MeshTriangle *> &triangles, const QVector3D &origin, const QVector3D &direction);
    // One triangle (Moller-Trumbore); t >= 0 only.
    static std::optional<float> intersectTriangle(const QVector3D &origin, const QVector3D &direction,
        const QVector3D &a, const QVector3D &b, const QVector3D &c);

private:
    bool rayMeetsBox(const QVector3D &origin, const QVector3D &direction) const;

    std::vector<QVector3D> m_vertices; // three per triangle
    QVector3D m_min;
    QVector3D m_max;
};
