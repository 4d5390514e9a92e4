#pragma once

#include "meshimporter.h"

#include <QList>

#include <cstdint>
#include <vector>

// Vertex arrays for the graphics card, built from the editor's triangle soups.
namespace MeshVertices {

// Floats per vertex of an interleaved array: position, then normal.
constexpr int kInterleavedFloats = 6;

// Appends every triangle as three vertices of position and the triangle's normal.
void appendInterleaved(std::vector<float> &vertices, const QList<MeshTriangle *> &triangles);

// A triangle soup with its equal corners merged: each distinct position once (three floats)
// and three indices per triangle, drawn lit flat from each face's own plane.
//
// Terms used here:
//   closed - every edge between two distinct corners is used by exactly two triangles
//            that run along it in opposite directions: the surface has no holes, no
//            edges shared by more than two faces, and its faces agree on a winding;
//   outward - the faces of a closed surface wind counter-clockwise seen from outside
//            (its signed volume is positive).
// Only the faces of a closed surface that point away from the viewer can be skipped
// unseen; the card then shades and sets up half the triangles.
struct Indexed {
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
    bool closed = false;
    bool outward = false;
};
Indexed weld(const QList<MeshTriangle *> &triangles);

// A coarser copy of a welded mesh with at most targetTriangles triangles, for drawing while
// the camera moves (vertex clustering): space is cut into equal cubes, the corners in one
// cube become a single corner at their mean, and the triangles left with three distinct
// corners stay, each once per winding. The cube is chosen from the surface's area and
// enlarged until the count fits. The copy stays within about one cube of the original
// surface, faces keep their winding (closed and outward are the source's: the faces turned
// away may still be skipped), and a mesh already small enough comes back as it is.
Indexed reduce(const Indexed &mesh, size_t targetTriangles);

} // namespace MeshVertices
