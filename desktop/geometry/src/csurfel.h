#pragma once

#include "carray.h"
#include "cgeometry.h"

#include <QtGlobal>

#include <vector>

// Oriented surface samples of the model.
struct CSurfel {
    // Type codes by the direction the sampled surface faces.
    static constexpr quint8 kVertical = 185; // normal z = 0
    static constexpr quint8 kUpFacing = 186; // normal z > 0
    static constexpr quint8 kDownFacing = 187; // normal z < 0 (also support samples)

    float position[3];
    float normal[3];
    quint8 type;

    static quint8 typeOf(const CVertex &normal);
};

// The samples of one model, with an index of the downward-facing ones by grid cell.
class CSurfels
{
public:
    // Samples beyond this many are dropped (a model this detailed is sampled coarser by
    // its triangles' own vertices anyway).
    static constexpr size_t kMaxSurfels = 50'000'000;

    void clear();
    bool add(const CSurfel &surfel);
    size_t size() const { return m_surfels.size(); }
    const CSurfel &operator[](size_t i) const { return m_surfels[i]; }
    bool isEmpty() const { return m_surfels.empty(); }
    double lowestZ() const { return m_lowestZ; }
    double highestZ() const { return m_highestZ; }

    // Sorts the downward-facing samples into the cells of a grid (origin, cell size,
    // width x height), each cell's samples by height.
    void indexDownFacing(double originX, double originY, double cell, int width, int height);
    // The downward-facing samples of a cell, lowest first (indices into this set).
    const int *downFacingBegin(int column, int row) const;
    const int *downFacingEnd(int column, int row) const;

private:
    std::vector<CSurfel> m_surfels;
    double m_lowestZ = 0.0;
    double m_highestZ = 0.0;
    CArray2D<int> m_cellStart; // one more row than the grid: the end of the last cell
    std::vector<int> m_cellSurfels;
    int m_indexWidth = 0;
};

// Samples the inside of triangles on rows `spacing` apart, `spacing` apart along a row.
class CTriangleSampler
{
public:
    explicit CTriangleSampler(double spacing) : m_spacing(spacing) {}
    // Returns the number of samples added.
    int sample(const CTriangle &triangle, CSurfels &out) const;

private:
    double m_spacing;
};

// Samples a segment at `spacing`, its end points excluded.
class CLineSegmentSampler
{
public:
    explicit CLineSegmentSampler(double spacing) : m_spacing(spacing) {}
    int sample(const CVertex &from, const CVertex &to, const CVertex &normal, quint8 type, CSurfels &out) const;

private:
    double m_spacing;
};
