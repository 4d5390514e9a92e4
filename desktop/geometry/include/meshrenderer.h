#pragma once

#include "meshgeometry.h"
#include "meshimporter.h"

#include <QList>
#include <QMatrix4x4>

#include <utility>
#include <vector>

// A box in the scene, millimetres.
struct BoundingBox {
    double minX = 0, minY = 0, minZ = 0;
    double maxX = 0, maxY = 0, maxZ = 0;
};

// A drawable mesh of the editor: a triangle list in its own frame (millimetres, y up)
// with box and volume, the transform that places it in the scene, and a highlight state.
// Despite its name it draws nothing: it holds what the 3D view draws (OpenGLRenderer, from
// a SceneSnapshot), and the geometry code works on it without any OpenGL.
//
// Terms used here:
//   own frame   - the frame of the triangle list;
//   model matrix - own frame to the scene (the platform centre is the origin, the
//                  platform plane y = 0).
class MeshRenderer
{
public:
    MeshRenderer() = default;
    // Takes the triangles.
    explicit MeshRenderer(QList<MeshTriangle *> triangles);
    virtual ~MeshRenderer();
    MeshRenderer &operator=(const MeshRenderer &) = delete;

    const MeshGeometry &geometry() const { return m_geometry; }
    const QList<MeshTriangle *> &triangles() const { return m_geometry.triangles(); }
    // Replaces (and deletes) the triangles.
    void setTriangles(QList<MeshTriangle *> triangles) { m_geometry.setTriangles(std::move(triangles)); }

    virtual QMatrix4x4 modelMatrix() const { return m_matrix; }
    void setModelMatrix(const QMatrix4x4 &matrix) { m_matrix = matrix; }

    bool isHighlighted() const { return m_highlighted; }
    void setHighlighted(bool highlighted) { m_highlighted = highlighted; }

    // Deep copies of the triangles; the caller owns the copies.
    static QList<MeshTriangle *> cloneTriangles(const QList<MeshTriangle *> &triangles);

protected:
    // Copies the triangles (deep), the matrix and the highlight.
    MeshRenderer(const MeshRenderer &other);
    MeshGeometry &mutableGeometry() { return m_geometry; }

private:
    MeshGeometry m_geometry;
    QMatrix4x4 m_matrix;
    bool m_highlighted = false;
};
