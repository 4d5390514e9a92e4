#pragma once

#include "meshimporter.h"

#include <QList>
#include <QVector3D>

#include <limits>

// A model's triangles in the editor's frame (millimetres, y up) with their bounding box
// and volume. Owns the triangles.
class MeshGeometry
{
public:
    MeshGeometry() = default;
    // Takes the triangles and computes box and volume.
    explicit MeshGeometry(QList<MeshTriangle *> triangles);
    ~MeshGeometry();
    MeshGeometry(const MeshGeometry &) = delete;
    MeshGeometry &operator=(const MeshGeometry &) = delete;
    MeshGeometry(MeshGeometry &&other) noexcept;
    MeshGeometry &operator=(MeshGeometry &&other) noexcept;

    // Files have z up, the editor y up: a rotation of 270 degrees about the x axis,
    // (x, y, z) -> (x, z, -y), applied to every vertex and normal (normals renormalised).
    static QVector3D toEditorFrame(const QVector3D &point);
    static void orientForEditor(QList<MeshTriangle *> &triangles);
    // A closed box of these sizes centred on the origin, faces wound outwards; the caller
    // owns the triangles.
    static QList<MeshTriangle *> centredBox(float sizeX, float sizeY, float sizeZ);

    const QList<MeshTriangle *> &triangles() const { return m_triangles; }
    // Replaces (and deletes) the triangles, then recomputes box and volume.
    void setTriangles(QList<MeshTriangle *> triangles);
    // Box over all vertices and the volume: the sum of a . (b x c) / 6 over the triangles,
    // in millilitres. The volume is signed by winding (positive for outward-facing closed
    // meshes).
    void recompute();

    double minX() const { return m_min[0]; }
    double minY() const { return m_min[1]; }
    double minZ() const { return m_min[2]; }
    double maxX() const { return m_max[0]; }
    double maxY() const { return m_max[1]; }
    double maxZ() const { return m_max[2]; }
    // max - min on one axis (0 x, 1 y, 2 z); negative while there are no triangles.
    double extent(int axis) const { return m_max[axis] - m_min[axis]; }
    double volume() const { return m_volume; } // millilitres
    double volumeAtScale(double scale) const { return m_volume * scale * scale * scale; }

    // The cached transformed bounding box of the placed model needs recomputing.
    bool isTransformedBoxStale() const { return m_transformedBoxStale; }
    void setTransformedBoxStale(bool stale) { m_transformedBoxStale = stale; }

private:
    QList<MeshTriangle *> m_triangles;
    double m_min[3]
        = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    double m_max[3] = {
        -std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
    double m_volume = 0;
    bool m_transformedBoxStale = true;
};
