#pragma once

#include "cpixels.h"
#include "csurfel.h"
#include "meshimporter.h"

#include <functional>
#include <vector>

// A support as the construction knows it: the point of the model's underside it holds
// (engine frame, inches) and the height its column starts from (0: the platform, else a
// top face of the model below).
struct CSupportSurfel {
    CVertex point;
    double baseZ = 0.0;
    quint8 type = CSurfel::kDownFacing;
};

using CSupportSurfels = std::vector<CSupportSurfel>;

// The sizes of a support column, inches: a cone spreading its foot on the platform, a
// body that thickens with its length (a long column needs more section than a short one
// to stand straight in the resin), and a thin tip that narrows to a small contact and
// reaches a little into the model. A column standing on the model has no foot, only a
// second tip.
struct CSupportShape {
    double tipRadius = 0.0;
    double tipLength = 0.0;
    double bodyRadius = 0.0; // of a short column
    double bodyGrowth = 0.0; // radius added per inch of column length
    double baseRadius = 0.0; // the foot's spread beyond the body
    double baseHeight = 0.0;
    double penetration = 0.0;
    double floorZ = 0.0; // what a column not standing on the model stands on: platform or raft
    double treeReach = 0.0; // how far apart tips sharing a trunk may be

    double bodyRadiusFor(double length) const { return bodyRadius + bodyGrowth * length; }
};

// The layer-by-layer construction of supports.
//
// The model is swept upwards in layers one cell thick over a grid of cells (the sampling
// spacing). A layer's material is read from the layered depth images; a cell is held
// when material lies within one cell of it in the layer below (45 degrees) and its piece
// of the layer rests on the layer below somewhere (a piece only beside the layer below
// prints as an island); the rest is unsupported. Unsupported regions smaller than the
// minimum island are left to grow from their neighbours (they do not count as material
// below the next layer); every other region gets supports:
//   1. a region with nothing below it at all (a new island) gets its first support at its
//      lowest point, which stays put;
//   2. low points: flooding the region's underside from its lowest cell upwards, every
//      basin deeper than kBasinDepth before it meets held material or a held basin gets a
//      support at its bottom, which stays put;
//   3. greedy placement: the lowest cell still needing support gets a support, which
//      covers the needy cells connected to it within the cover radius; until none is left.
//      A support of a lower layer already covers the cells within the cover radius of it
//      that lie no higher above its contact than that radius: on a shallow underside the
//      strip each layer adds is held by the supports of the strips below it;
//   4. adjustment: rounds of two passes - each support moves to the middle of the cells
//      nearest to it, then back onto the region - until no support moves more than
//      1.5 cells (squared) or 25 rounds have run;
//   5. a second placement pass covers cells the adjustment left uncovered;
//   6. each support settles on the lowest downward-facing sample of its cell, where the
//      model's underside actually is.
// A support's column stands on the platform or on the model's top face below it.
class CSupportSurfelConstructor
{
public:
    struct Settings {
        double cell = 0.01; // grid spacing = layer step, inches
        int coverRadiusCells = 10;
        int minimumIsland = 5; // cells
        double topLimit = 0.0; // no layer above this height when positive
        // The model stands on the floor (no lift): what lies within a cell of it is held.
        bool floorHolds = false;
        double floorZ = 0.0;
    };

    CSupportSurfelConstructor(const std::vector<CTriangle> &model, CSurfels &surfels, const Settings &settings);

    // Runs the sweep; progress gets 33 .. 88 over it.
    CSupportSurfels construct(const std::function<void(int percent)> &progress);

    // A support for a point of the model, its column standing on what lies below.
    CSupportSurfel supportAt(double x, double y, double z) const;

private:
    struct Region;
    struct Sweep;
    Sweep startSweep() const;
    void readLayer(Sweep &sweep, double z) const;
    void markAnchoredPieces(Sweep &sweep) const;
    bool held(const Sweep &sweep, int column, int row) const;
    void supportUnheldRegions(Sweep &sweep, CSupportSurfels &out) const;
    void supportRegion(Region &region, Sweep &sweep, bool newIsland, CSupportSurfels &out) const;
    void carry(CArray2D<qint32> &carried, int column, int row, qint32 height) const;
    CSupportSurfel settle(const CPixels &layer, int column, int row) const;

    const std::vector<CTriangle> &m_model;
    const CSurfels &m_surfels;
    Settings m_settings;
    CGridFrame m_frame;
    CLDNIPixels m_ldni;
    // Cells a cover fill has visited: those holding the current stamp.
    mutable CArray2D<quint32> m_stamp;
    mutable quint32 m_stampNow = 0;
    // Each region cell's place in the region's lowest-first order, -1 elsewhere.
    mutable CArray2D<int> m_order;
};

// One closed, outward-facing mesh for a support column.
std::vector<MeshTriangle> supportColumn(const CSupportSurfel &support, const CSupportShape &shape);
// A closed, outward-facing vertical solid of revolution about (cx, cy) from rings (z,
// radius), bottom up.
void appendColumn(
    std::vector<MeshTriangle> &mesh, double cx, double cy, const std::vector<std::pair<double, double>> &rings);
