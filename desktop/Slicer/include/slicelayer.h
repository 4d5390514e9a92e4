#pragma once

#include <QVector3D>

#include <vector>

class GenSlices;

// A point or vector of the slice plane, in slice-plane millimetres (x right, y up).
struct SlicePoint {
    float x = 0.0f;
    float y = 0.0f;
};

// One prepared triangle of the scene, transformed into the slicer's frame (z up), with
// its lowest and highest z (the corners are computed where needed: a million triangles
// are sliced at once, and every byte here counts a megabyte).
struct SliceTriangle {
    QVector3D normal;
    QVector3D a;
    QVector3D b;
    QVector3D c;
    float minZ = 0.0f;
    float maxZ = 0.0f;
    bool support = false; // part of a support structure, not of a model

    QVector3D maxCorner() const;
    QVector3D minCorner() const;
};

// One cut of a triangle by the slicing plane. The outward side of the contour lies to
// the left of the direction start -> end, so outer contours run clockwise and holes
// counter-clockwise. Links are indices into the layer's segment list (-1: none).
struct SliceSegment {
    SlicePoint start;
    SlicePoint end;
    // (-dy, dx) of the direction, normalised; recomputed whenever an end point moves.
    SlicePoint normal;
    int previous = -1;
    int next = -1;
    int loop = -1;
    // Scratch mark: taken out of its contour.
    bool removed = false;

    void recomputeNormal();
    double length() const;
};

// One closed contour of a layer.
struct SliceLoop {
    // Segment indices in contour order, starting with the first segment.
    std::vector<int> segments;
    int first = -1;
    // The start points, always in the same rotational sense (clockwise).
    std::vector<SlicePoint> points;
    // Runs clockwise: solid material on its inside. Holes are not outer.
    bool outer = false;
    bool closed = false;
    bool closedByFiller = false;
    double turningSum = 0.0;
};

// Which triangles of the scene a layer is cut from.
enum class ScenePart { All, Models, Supports };

// The contours of the scene at one height.
struct SliceLayer {
    double height = 0.0;
    std::vector<SliceSegment> segments;
    std::vector<SliceLoop> loops;
    int loopCount() const { return static_cast<int>(loops.size()); }
};

// Builds the contours of one height from the prepared triangles of a GenSlices: cutting,
// orientation, linking, loops (gaps closed by filler segments), clean-up (tiny segments,
// spikes) and the repair of self-crossing contours, which are split into separate loops.
// generate() only reads the GenSlices, so several sets may work on one at once.
class SliceSet
{
public:
    explicit SliceSet(const GenSlices *owner);

    // Builds and keeps the layer of this height; returns it.
    const SliceLayer &generate(double height, ScenePart part = ScenePart::All);
    const SliceLayer &layer() const { return m_layer; }
    SliceLayer takeLayer() { return std::move(m_layer); }

private:
    void cut(double height, ScenePart part);
    void link();
    void buildLoops();
    void cleanUp(SliceLoop &loop);
    void repair();

    const GenSlices *m_owner = nullptr;
    SliceLayer m_layer;
};

// Contour building blocks, exposed for tests of hand-made contours.
namespace SliceContours {
// Rebuilds loop.segments by walking next links from loop.first (bounded by the layer).
void relist(SliceLayer &layer, SliceLoop &loop);
// Removes segments no longer than 0.001 mm, keeping at least three.
void removeShortSegments(SliceLayer &layer, SliceLoop &loop);
// A segment turning back onto itself (normals opposed) absorbs its successor.
void removeSpikes(SliceLayer &layer, SliceLoop &loop);
// Turning sum from the normals; sets outer when positive, clears it when negative.
void orient(SliceLayer &layer, SliceLoop &loop);
// The start points, along next for outer loops and along previous for the others.
void buildPoints(SliceLayer &layer, SliceLoop &loop);
// Finds two non-adjacent segments of the loop that cross properly; false when none.
bool findCrossing(const SliceLayer &layer, const SliceLoop &loop, int *first, int *second, SlicePoint *at);
} // namespace SliceContours
