#pragma once

#include <QPointF>
#include <QString>

#include <array>
#include <vector>

// The meshes of the calibration prints, built from the sizes of calibrationdesign.h.
//
// Every part is a shell swept up from the platform:
//   loop   - a closed outline seen from above, as a list of rings: the same number of
//            points at successive heights, joined by quads. Two rings at one height make a
//            horizontal step (a hole that narrows, a tier on top of a wider one); a ring
//            inset from the next makes a chamfer.
//   shell  - one outer loop (counter-clockwise seen from above) and any number of hole
//            loops (clockwise) whose first rings lie at the same height, and so do their last
//            rings: those two levels are closed by flat caps triangulated with their holes.
// A shell built so is closed and consistently oriented (outward normals) by construction;
// buildShell() checks the caps' areas and meshDefects() the edges, and the generator
// refuses to write a mesh that fails either.
namespace Calibration {

struct Point3 {
    double x = 0;
    double y = 0;
    double z = 0;
};

struct Facet {
    Point3 a;
    Point3 b;
    Point3 c;
};

using Outline = std::vector<QPointF>;

struct Ring {
    double z = 0;
    Outline points;
};

struct Loop {
    std::vector<Ring> rings; // lowest first
};

struct Shell {
    Loop outer;
    std::vector<Loop> holes;
};

// A regular polygon approximating a circle: `segments` corners on the circle, the first half
// a segment past the +x axis (so that no corner lies on the axes), counter-clockwise.
Outline circle(const QPointF &centre, double radius, int segments);
// An axis-parallel rectangle, counter-clockwise.
Outline rectangle(const QPointF &centre, double width, double depth);
// The same outline in the opposite order (a hole's direction).
Outline reversed(const Outline &outline);
// Twice the signed area (positive for counter-clockwise).
double doubleArea(const Outline &outline);

// Triangulates a flat region: an outer outline (counter-clockwise) minus holes (clockwise)
// that lie inside it and apart from each other. Triangles come counter-clockwise; each is
// three points of the outlines. False, with nothing appended, when the region cannot be
// triangulated (outlines that cross or touch).
bool triangulateRegion(
    const Outline &outer, const std::vector<Outline> &holes, std::vector<std::array<QPointF, 3>> *out);

// The facets of a shell, appended to `facets`. False (nothing appended) when the loops do
// not make a valid shell: fewer than two rings, rings of different sizes, wrong direction,
// caps at different heights or caps that cannot be triangulated.
bool buildShell(const Shell &shell, std::vector<Facet> *facets, QString *error);

// Empty when every edge of the mesh is used by exactly two facets in opposite directions
// (points compared exactly), no facet is degenerate (under 5e-7 square millimetres with its
// points stored as 32-bit floats, as in the file) and the enclosed volume is positive;
// otherwise what is wrong, in words.
QString meshDefects(const std::vector<Facet> &facets);
// Enclosed volume in cubic millimetres (positive for outward-facing closed meshes).
double meshVolume(const std::vector<Facet> &facets);

// Corners of the round parts: a pin or a hole (their flats lie within a micron of the circle)
// and the ring.
constexpr int kFitSegments = 96;
constexpr int kRingSegments = 128;

// The two calibration models, in the model frame (footprint centred on the origin, standing
// on z = 0). Empty, with the reason in `error`, if a shell could not be built.
std::vector<Facet> toleranceModel(QString *error = nullptr);
std::vector<Facet> dimensionalAccuracyModel(QString *error = nullptr);

// Writes a binary STL (80-byte header, facet count, facets with their unit normals).
bool writeBinaryStl(const QString &path, const std::vector<Facet> &facets, const QString &title, QString *error);

// File names the generator writes and the build slices.
inline QString toleranceModelFileName()
{
    return QStringLiteral("calibration_tolerance.stl");
}
inline QString dimensionalAccuracyModelFileName()
{
    return QStringLiteral("calibration_dimensionalAccuracy.stl");
}

} // namespace Calibration
