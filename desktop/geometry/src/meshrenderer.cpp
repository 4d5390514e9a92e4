#include "meshrenderer.h"

#include <utility>

MeshRenderer::MeshRenderer(QList<MeshTriangle *> triangles)
    : m_geometry(std::move(triangles))
{
}

MeshRenderer::~MeshRenderer() = default;

MeshRenderer::MeshRenderer(const MeshRenderer &other)
    : m_geometry(cloneTriangles(other.triangles()))
    , m_matrix(other.m_matrix)
    , m_highlighted(other.m_highlighted)
{
    m_geometry.setTransformedBoxStale(other.m_geometry.isTransformedBoxStale());
}

QList<MeshTriangle *> MeshRenderer::cloneTriangles(const QList<MeshTriangle *> &triangles)
{
    QList<MeshTriangle *> copies;
    copies.reserve(triangles.size());
    for (const MeshTriangle *triangle : triangles)
        copies.append(new MeshTriangle(*triangle));
    return copies;
}
