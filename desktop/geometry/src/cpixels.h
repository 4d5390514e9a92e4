#pragma once

#include "carray.h"
#include "cgeometry.h"

#include <QtGlobal>

#include <vector>

// One cell of a layer grid: 16 bytes.
struct CPixel {
    // States.
    static constexpr quint8 kEmpty = 0;
    static constexpr quint8 kRegion = 1; // material of the layer
    static constexpr quint8 kBoundary = 2; // region cell on the region's edge
    // Marks.
    static constexpr quint8 kNeedsSupport = 17;
    static constexpr quint8 kCovered = 18;

    quint8 state = kEmpty;
    quint8 mark = 0;
    quint16 label = 0;
    qint32 undersideMicro = 0; // height where this cell's material starts, in millionths of an inch
    qint32 region = -1; // region number within the layer
    qint32 surfel = -1; // lowest downward-facing sample under the cell, or -1
};
static_assert(sizeof(CPixel) == 16, "a pixel record is 16 bytes");

// The geometry of the engine's grids: square cells over the model's footprint.
struct CGridFrame {
    double originX = 0.0; // left edge of column 0
    double originY = 0.0; // lower edge of row 0
    double cell = 1.0;
    int width = 0;
    int height = 0;

    double centreX(int column) const { return originX + (column + 0.5) * cell; }
    double centreY(int row) const { return originY + (row + 0.5) * cell; }
    int columnOf(double x) const { return int(std::floor((x - originX) / cell)); }
    int rowOf(double y) const { return int(std::floor((y - originY) / cell)); }
};

// One layer as a grid of pixel records.
class CPixels : public CArray2D<CPixel>
{
public:
    void reset(const CGridFrame &frame) { resize(frame.width, frame.height); }
    bool isSolid(int x, int y) const { return contains(x, y) && (*this)(x, y).state != CPixel::kEmpty; }
};

// Layered depth images of the model seen along z: for every cell, the heights where the
// vertical line through the cell's centre crosses the surface, lowest first, each marked
// as entering the material (a downward-facing surface) or leaving it. Also keeps, per
// cell, the triangles whose footprint meets the cell, for exact crossings anywhere in it.
class CLDNIPixels
{
public:
    struct Crossing {
        float z;
        qint8 direction; // +1 entering the material, -1 leaving it
    };

    void build(const std::vector<CTriangle> &triangles, const CGridFrame &frame);

    const CGridFrame &frame() const { return m_frame; }
    int count(int column, int row) const { return m_count(column, row); }
    const Crossing &crossing(int column, int row, int i) const { return m_crossings(column, row, i); }
    int maxDepth() const { return m_crossings.depth(); }

    // Every height where the vertical line through (x, y) crosses the model, with its
    // direction, lowest first (exact, from the triangles).
    std::vector<Crossing> crossingsAt(double x, double y) const;
    // The highest surface below z at (x, y) where the material ends (a top face): where a
    // column under (x, y) can stand on the model; 0 (the platform) when there is none.
    double standBelow(double x, double y, double z) const;
    // The same over a whole model, for a single query without depth images.
    static double standBelow(const std::vector<CTriangle> &triangles, double x, double y, double z);

private:
    CGridFrame m_frame;
    const std::vector<CTriangle> *m_triangles = nullptr;
    CArray2D<int> m_count;
    CArray3D<Crossing> m_crossings;
    CArray2D<int> m_triangleStart; // one more row than the grid
    std::vector<int> m_cellTriangles;
};
