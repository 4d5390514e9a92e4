#pragma once

#include "meshimporter.h"

#include <QList>
#include <QMatrix4x4>

#include <array>
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
//
// With clustering, how the copy was made is kept there, to carry other faces of the source
// onto the copy (see reduceFaces).
struct Clustering;
Indexed reduce(const Indexed &mesh, size_t targetTriangles, Clustering *clustering = nullptr);

// How a reduction merged the corners: the copy's corner for each corner of the source.
// Empty when the mesh came back as it was.
struct Clustering {
    std::vector<std::uint32_t> copyCornerOf;
};

// The corners of the listed faces of a welded mesh, three a face in the order listed (an
// index list that draws those faces from the mesh's own vertices). Faces the mesh does
// not have are left out.
std::vector<std::uint32_t> facesOf(const std::vector<std::uint32_t> &indices, const std::vector<int> &faces);

// Faces of a welded mesh (by number) that the matrix turns to face down more than
// OverhangCheck::kOverhangDegrees below the horizontal, leaving out those lying on the
// platform: the overhangs OverhangCheck finds, supports aside.
std::vector<int> downwardFaces(
    const std::vector<float> &positions, const std::vector<std::uint32_t> &indices, const QMatrix4x4 &modelMatrix);

// Faces of the source (three of its corners a face, as facesOf gives them: a subset of the
// mesh, such as its overhangs) as faces of the reduced copy, the faces that collapse or
// repeat left out. Empty when a corner is not the source's.
std::vector<std::uint32_t> reduceFaces(const std::vector<std::uint32_t> &corners, const Clustering &clustering);

} // namespace MeshVertices
