#pragma once

#include "cgeometry.h"
#include "meshimporter.h"

#include <QList>

#include <vector>

// The engine's copy of the model: its triangles (double precision, with normals) and its
// bounding box, in inches with z up.
class CCutSTL
{
public:
    // The transform (scale, rotation in degrees, translation) applied to the triangles
    // as they are read; the editor passes none.
    void setTransform(const double scale[3], const double rotationDegrees[3], const double translate[3]);

    // Copies the triangles (null entries are skipped); millimetres become inches.
    // Normals are taken from the corners' winding where it is defined, so a soup whose
    // stored normals are stale still faces the right way.
    void read(const QList<MeshTriangle *> &triangles, bool inMillimetres);

    // Raises the model so that its lowest point lies at `lowest` when it lies below
    // `threshold`; returns the height it was raised by (0 when it was not).
    double liftTo(double lowest, double threshold);

    bool isEmpty() const { return m_triangles.empty(); }
    const std::vector<CTriangle> &triangles() const { return m_triangles; }
    const CVertex &boxMin() const { return m_min; }
    const CVertex &boxMax() const { return m_max; }

    std::vector<MeshTriangle> toMeshTriangles() const;

private:
    void updateBox();

    CTransMatrix m_transform;
    std::vector<CTriangle> m_triangles;
    CVertex m_min;
    CVertex m_max;
};
