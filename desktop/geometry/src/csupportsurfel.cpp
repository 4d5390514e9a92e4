#include "csupportsurfel.h"

#include <QtMath>

#include <algorithm>
#include <cmath>
#include <limits>

using Cell = std::pair<int, int>; // column, row

namespace {
constexpr qint32 kNotCarried = std::numeric_limits<qint32>::min();
}

struct CSupportSurfelConstructor::Region {
    int id = 0; // the cells' region number
    std::vector<Cell> cells;
};

// The state the sweep carries from one layer to the next.
struct CSupportSurfelConstructor::Sweep {
    Sweep(int width, int height)
        : next(width, height, 0)
        , winding(width, height, 0)
        , entered(width, height, 0.0f)
        , below(width, height, 0)
        , anchored(width, height, 0)
        , carried(width, height, kNotCarried)
    {
    }

    double low = 0.0; // the lowest layer's floor, inches
    int layers = 0;
    CArray2D<int> next; // the next crossing of each cell's column
    CArray2D<int> winding;
    CArray2D<float> entered; // where the current material interval began
    CArray2D<quint8> below; // material of the previous layer
    // Per cell of the layer: 2 when its piece of material (8 neighbours) rests on the
    // layer below somewhere, 1 when the whole piece lies beside it, 0 outside.
    CArray2D<quint8> anchored;
    // Per cell: the height (microns) of the highest support placed so far whose cover
    // disc takes the cell in, kNotCarried when none does.
    CArray2D<qint32> carried;
    CPixels layer;
    std::vector<Cell> queue; // the region fill's
};

namespace {

struct Placed {
    int column;
    int row;
    bool pinned;
};

constexpr double kMicro = 1e6;

qint32 micro(double inches)
{
    return qint32(std::lround(inches * kMicro));
}

// An 8-neighbour fill from a cell already taken: every neighbour inside the grid that
// `enter(column, row)` accepts (and marks, so it is not entered twice) is taken in turn,
// and `take(column, row)` sees each cell taken, the first included.
template <typename Enter, typename Take>
void fill8(std::vector<Cell> &stack, const CPixels &layer, int column, int row, Enter enter, Take take)
{
    stack.assign(1, {column, row});
    while (!stack.empty()) {
        const auto [c, r] = stack.back();
        stack.pop_back();
        take(c, r);
        for (int dr = -1; dr <= 1; ++dr)
            for (int dc = -1; dc <= 1; ++dc) {
                if ((dc || dr) && layer.contains(c + dc, r + dr) && enter(c + dc, r + dr))
                    stack.push_back({c + dc, r + dr});
            }
    }
}

// Whether material of the layer below lies within one cell of the cell (45 degrees).
bool heldFromBelow(const CArray2D<quint8> &below, int column, int row)
{
    for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc) {
            const int c = column + dc;
            const int r = row + dr;
            if (below.contains(c, r) && below(c, r))
                return true;
        }
    return false;
}

// How much deeper than where it meets held material (or another held basin) a basin of
// the underside may be and still go without a support of its own, inches. Any depth at
// all shows in the thin layers of the print: a basin only a few microns deep that is
// left alone printed as an island of 6 to 24 pixels on a scanned model.
constexpr double kBasinDepth = 0.0;

// The basins of a region's underside while the flood rises through the region's cells
// (lowest first): a union-find over the cells' places in that order, whose roots know
// their basin's lowest cell and whether a support holds the basin.
struct Basins {
    explicit Basins(size_t cells)
        : parent(cells)
        , bottom(cells)
        , held(cells, 0)
    {
    }

    int root(int i)
    {
        while (parent[size_t(i)] != i)
            i = parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
        return i;
    }

    std::vector<int> parent;
    std::vector<int> bottom; // per basin root: its lowest cell
    std::vector<char> held; // per basin root
};

// Which support owns each cell of a region (the nearest), with the sums that give the
// middle of each support's cells.
struct Ownership {
    explicit Ownership(size_t supports, size_t cells)
        : sumX(supports)
        , sumY(supports)
        , members(supports)
        , owner(cells)
    {
    }

    std::vector<double> sumX;
    std::vector<double> sumY;
    std::vector<int> members;
    std::vector<int> owner; // per cell
};

// The placement of one region's supports (see the steps in csupportsurfel.h). Each
// support placed covers the needy cells connected to it through the region within the
// cover radius; cells another support covers already do not stop that fill.
class RegionSupports
{
public:
    // The cover fills mark the cells they visit with a stamp, kept by the constructor
    // across regions so that the grid is cleared only when the stamps wrap around.
    struct Stamps {
        CArray2D<quint32> &visited;
        quint32 &now;
    };

    RegionSupports(std::vector<Cell> &cells, int regionId, CPixels &layer, int coverRadius, Stamps stamps)
        : m_cells(cells)
        , m_regionId(regionId)
        , m_layer(layer)
        , m_radius2(coverRadius * coverRadius)
        , m_stamps(stamps)
    {
    }

    void orderLowestFirst();
    void markNeedingSupport();
    void takeCarriedCover(const CArray2D<qint32> &carried, qint32 rise);
    void holdLowestPoint(double cell);
    void holdLowPoints(CArray2D<int> &order);
    void placeGreedily();
    bool centreFreeSupports();
    void coverWhatTheMovesLeft();

    const std::vector<Placed> &placed() const { return m_placed; }

private:
    qint32 underside(const Cell &cell) const { return m_layer(cell.first, cell.second).undersideMicro; }
    void place(const Cell &cell, bool pinned);
    void cover(int column, int row);
    void floodCell(const CArray2D<int> &order, Basins &basins, size_t i);
    void drainIntoHeld(Basins &basins, size_t i);
    void mergeBasins(Basins &basins, size_t i, int j);
    void holdUndrainedBasins(Basins &basins);
    void holdBasin(Basins &basins, int basin);
    void assignCellsToNearest(Ownership &ownership) const;
    double moveToMiddles(const Ownership &ownership);
    void markCarried();

    std::vector<Cell> &m_cells;
    const int m_regionId;
    CPixels &m_layer;
    const int m_radius2;
    Stamps m_stamps;
    std::vector<Placed> m_placed;
    std::vector<Cell> m_stack; // the cover fill's
    // Per cell (in m_cells' order): held by a support of a lower layer.
    std::vector<char> m_carried;
};

// Lowest first; ties by position, so the result does not depend on the fill order.
void RegionSupports::orderLowestFirst()
{
    std::sort(m_cells.begin(), m_cells.end(), [&](const Cell &a, const Cell &b) {
        const qint32 ua = underside(a);
        const qint32 ub = underside(b);
        if (ua != ub)
            return ua < ub;
        return a.second < b.second || (a.second == b.second && a.first < b.first);
    });
}

void RegionSupports::markNeedingSupport()
{
    for (const auto &[c, r] : m_cells) {
        CPixel &p = m_layer(c, r);
        bool edge = false;
        for (int dr = -1; dr <= 1 && !edge; ++dr)
            for (int dc = -1; dc <= 1 && !edge; ++dc)
                edge = !m_layer.isSolid(c + dc, r + dr);
        p.state = edge ? CPixel::kBoundary : CPixel::kRegion;
        p.mark = CPixel::kNeedsSupport;
    }
}

// A support of a lower layer holds the underside around it: the cells within its cover
// disc that lie at most `rise` above its contact (a slope of 45 degrees at the disc's
// edge) need no support of their own. Low points still do (see holdLowPoints).
void RegionSupports::takeCarriedCover(const CArray2D<qint32> &carried, qint32 rise)
{
    m_carried.assign(m_cells.size(), 0);
    for (size_t i = 0; i < m_cells.size(); ++i) {
        const qint32 from = carried(m_cells[i].first, m_cells[i].second);
        m_carried[i] = from != kNotCarried && underside(m_cells[i]) - from <= rise;
    }
    markCarried();
}

void RegionSupports::markCarried()
{
    for (size_t i = 0; i < m_carried.size(); ++i)
        if (m_carried[i])
            m_layer(m_cells[i].first, m_cells[i].second).mark = CPixel::kCovered;
}

void RegionSupports::place(const Cell &cell, bool pinned)
{
    m_placed.push_back({cell.first, cell.second, pinned});
    cover(cell.first, cell.second);
}

void RegionSupports::cover(int column, int row)
{
    if (++m_stamps.now == 0) {
        m_stamps.visited.fill(0);
        m_stamps.now = 1;
    }
    m_layer(column, row).mark = CPixel::kCovered;
    m_stamps.visited(column, row) = m_stamps.now;
    fill8(
        m_stack, m_layer, column, row,
        [&](int c, int r) {
            CPixel &p = m_layer(c, r);
            const int dx = c - column;
            const int dy = r - row;
            if (p.state == CPixel::kEmpty || p.region != m_regionId || m_stamps.visited(c, r) == m_stamps.now
                || dx * dx + dy * dy > m_radius2)
                return false;
            m_stamps.visited(c, r) = m_stamps.now;
            p.mark = CPixel::kCovered;
            return true;
        },
        [](int, int) {});
}

// Where an island first appears is its lowest part, and that must be held: the first
// support goes to the middle of the cells within a cell's height of the lowest (the pole
// of a sphere; the middle of a flat underside), and stays put.
void RegionSupports::holdLowestPoint(double cell)
{
    const qint32 band = underside(m_cells.front()) + micro(cell);
    double mx = 0.0;
    double my = 0.0;
    size_t lowest = 0;
    while (lowest < m_cells.size() && underside(m_cells[lowest]) <= band) {
        mx += m_cells[lowest].first;
        my += m_cells[lowest].second;
        ++lowest;
    }
    mx /= double(lowest);
    my /= double(lowest);
    size_t first = 0;
    double nearest = std::numeric_limits<double>::max();
    for (size_t i = 0; i < lowest; ++i) {
        const double d = (m_cells[i].first - mx) * (m_cells[i].first - mx)
            + (m_cells[i].second - my) * (m_cells[i].second - my);
        if (d < nearest) {
            nearest = d;
            first = i;
        }
    }
    place(m_cells[first], true);
}

// Low points: flooding the region from its lowest cell upwards, every basin of the
// underside that is deeper than kBasinDepth before it meets a held basin prints as an
// island of its own in the thin layers between the sweep's; it gets a support at its
// bottom, and that support stays put. `order` is -1 outside the region before and after.
void RegionSupports::holdLowPoints(CArray2D<int> &order)
{
    if (order.width() != m_layer.width() || order.height() != m_layer.height())
        order.resize(m_layer.width(), m_layer.height(), -1);
    Basins basins(m_cells.size());
    for (size_t i = 0; i < m_cells.size(); ++i)
        order(m_cells[i].first, m_cells[i].second) = int(i);
    for (const Placed &p : m_placed)
        basins.held[size_t(order(p.column, p.row))] = 1;
    for (size_t i = 0; i < m_cells.size(); ++i) {
        basins.parent[i] = int(i);
        basins.bottom[i] = int(i);
        floodCell(order, basins, i);
    }
    holdUndrainedBasins(basins);
    for (const auto &[c, r] : m_cells)
        order(c, r) = -1;
}

// The flood reaches cell i: it drains into held material next to it, or joins the basins
// of its lower neighbours.
void RegionSupports::floodCell(const CArray2D<int> &order, Basins &basins, size_t i)
{
    const auto [c, r] = m_cells[i];
    for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc) {
            if (!m_layer.contains(c + dc, r + dr))
                continue;
            const int j = order(c + dc, r + dr);
            const CPixel &p = m_layer(c + dc, r + dr);
            if (p.state != CPixel::kEmpty && p.region < 0) {
                drainIntoHeld(basins, i);
                continue;
            }
            if (j < 0 || size_t(j) >= i || p.state == CPixel::kEmpty || p.region != m_regionId)
                continue;
            mergeBasins(basins, i, j);
        }
}

// Held material of the layer next to cell i: the cell's basin drains into it here.
void RegionSupports::drainIntoHeld(Basins &basins, size_t i)
{
    const int a = basins.root(int(i));
    if (basins.held[size_t(a)])
        return;
    if (underside(m_cells[i]) - underside(m_cells[size_t(basins.bottom[size_t(a)])]) > micro(kBasinDepth))
        holdBasin(basins, a);
    basins.held[size_t(a)] = 1;
}

// Cell i joins two basins: each one too deep below this saddle is held first, then the
// lower basin takes the other in.
void RegionSupports::mergeBasins(Basins &basins, size_t i, int j)
{
    const int a = basins.root(int(i));
    const int b = basins.root(j);
    if (a == b)
        return;
    const qint32 saddle = underside(m_cells[i]);
    for (const int basin : {a, b}) {
        if (!basins.held[size_t(basin)]
            && saddle - underside(m_cells[size_t(basins.bottom[size_t(basin)])]) > micro(kBasinDepth))
            holdBasin(basins, basin);
    }
    const int low = basins.bottom[size_t(a)] <= basins.bottom[size_t(b)] ? a : b;
    const int high = low == a ? b : a;
    basins.parent[size_t(high)] = low;
    basins.held[size_t(low)] = basins.held[size_t(low)] || basins.held[size_t(high)];
}

// Basins the flood filled to the brim without meeting anything held: held when their
// brim lies above their bottom by more than the allowed depth.
void RegionSupports::holdUndrainedBasins(Basins &basins)
{
    for (size_t i = 0; i < m_cells.size(); ++i) {
        if (basins.parent[i] == int(i) && !basins.held[i]) {
            qint32 top = underside(m_cells[i]);
            for (size_t k = 0; k < m_cells.size(); ++k)
                if (basins.root(int(k)) == int(i))
                    top = std::max(top, underside(m_cells[k]));
            if (top - underside(m_cells[size_t(basins.bottom[i])]) > micro(kBasinDepth))
                holdBasin(basins, int(i));
        }
    }
}

void RegionSupports::holdBasin(Basins &basins, int basin)
{
    place(m_cells[size_t(basins.bottom[size_t(basin)])], true);
    basins.held[size_t(basin)] = 1;
}

// The lowest cell still needing support gets a support; until none is left.
void RegionSupports::placeGreedily()
{
    for (const Cell &cell : m_cells) {
        if (m_layer(cell.first, cell.second).mark != CPixel::kNeedsSupport)
            continue;
        place(cell, false);
    }
}

// Adjustment: moves the free supports towards the middle of the cells they hold, in
// rounds, until none moves more than 1.5 cells (squared) or 25 rounds have run. False
// when there was nothing to move.
bool RegionSupports::centreFreeSupports()
{
    const auto movable = std::count_if(m_placed.begin(), m_placed.end(), [](const Placed &p) { return !p.pinned; });
    if (m_placed.size() <= 1 || movable <= 0)
        return false;
    Ownership ownership(m_placed.size(), m_cells.size());
    for (int round = 0; round < 25; ++round) {
        assignCellsToNearest(ownership);
        if (moveToMiddles(ownership) <= 1.5)
            break;
    }
    return true;
}

void RegionSupports::assignCellsToNearest(Ownership &ownership) const
{
    std::fill(ownership.sumX.begin(), ownership.sumX.end(), 0.0);
    std::fill(ownership.sumY.begin(), ownership.sumY.end(), 0.0);
    std::fill(ownership.members.begin(), ownership.members.end(), 0);
    for (size_t i = 0; i < m_cells.size(); ++i) {
        // Cells held from below do not pull this layer's supports towards them.
        ownership.owner[i] = -1;
        if (i < m_carried.size() && m_carried[i])
            continue;
        int best = 0;
        long bestDistance = std::numeric_limits<long>::max();
        for (size_t s = 0; s < m_placed.size(); ++s) {
            const long dx = m_cells[i].first - m_placed[s].column;
            const long dy = m_cells[i].second - m_placed[s].row;
            const long d = dx * dx + dy * dy;
            if (d < bestDistance) {
                bestDistance = d;
                best = int(s);
            }
        }
        ownership.owner[i] = best;
        ownership.sumX[size_t(best)] += m_cells[i].first;
        ownership.sumY[size_t(best)] += m_cells[i].second;
        ++ownership.members[size_t(best)];
    }
}

// One round of the adjustment; returns the largest move, cells squared.
double RegionSupports::moveToMiddles(const Ownership &ownership)
{
    double largestMove = 0.0;
    for (size_t s = 0; s < m_placed.size(); ++s) {
        if (m_placed[s].pinned || ownership.members[s] == 0)
            continue;
        // Pass one: the middle of its cells; pass two: the nearest of its cells to that
        // middle, so the support stays on the region.
        const double mx = ownership.sumX[s] / ownership.members[s];
        const double my = ownership.sumY[s] / ownership.members[s];
        double nearest = std::numeric_limits<double>::max();
        Cell to {m_placed[s].column, m_placed[s].row};
        for (size_t i = 0; i < m_cells.size(); ++i) {
            if (ownership.owner[i] != int(s))
                continue;
            const double d = (m_cells[i].first - mx) * (m_cells[i].first - mx)
                + (m_cells[i].second - my) * (m_cells[i].second - my);
            if (d < nearest) {
                nearest = d;
                to = m_cells[i];
            }
        }
        const double dx = to.first - m_placed[s].column;
        const double dy = to.second - m_placed[s].row;
        largestMove = std::max(largestMove, dx * dx + dy * dy);
        m_placed[s].column = to.first;
        m_placed[s].row = to.second;
    }
    return largestMove;
}

// Second placement pass: whatever the moves left uncovered.
void RegionSupports::coverWhatTheMovesLeft()
{
    for (const auto &[c, r] : m_cells)
        m_layer(c, r).mark = CPixel::kNeedsSupport;
    markCarried();
    for (const Placed &p : m_placed)
        cover(p.column, p.row);
    placeGreedily();
}

} // namespace

CSupportSurfelConstructor::CSupportSurfelConstructor(
    const std::vector<CTriangle> &model, CSurfels &surfels, const Settings &settings)
    : m_model(model)
    , m_surfels(surfels)
    , m_settings(settings)
{
    double low[2] = {0.0, 0.0};
    double high[2] = {0.0, 0.0};
    bool first = true;
    for (const CTriangle &t : model)
        for (const CVertex &v : t.v) {
            if (first) {
                low[0] = high[0] = v.x;
                low[1] = high[1] = v.y;
                first = false;
            }
            low[0] = std::min(low[0], v.x);
            low[1] = std::min(low[1], v.y);
            high[0] = std::max(high[0], v.x);
            high[1] = std::max(high[1], v.y);
        }
    m_frame.cell = settings.cell > 0.0 ? settings.cell : 0.01;
    // Two cells of margin; the small odd offset keeps cell centres off the vertices and
    // edges of models drawn on round coordinates.
    m_frame.originX = low[0] - 2 * m_frame.cell + 0.0123457 * m_frame.cell;
    m_frame.originY = low[1] - 2 * m_frame.cell + 0.0098765 * m_frame.cell;
    m_frame.width = model.empty() ? 0 : int(std::ceil((high[0] - low[0]) / m_frame.cell)) + 4;
    m_frame.height = model.empty() ? 0 : int(std::ceil((high[1] - low[1]) / m_frame.cell)) + 4;
    m_ldni.build(m_model, m_frame);
    m_stamp.resize(m_frame.width, m_frame.height, 0);
    surfels.indexDownFacing(m_frame.originX, m_frame.originY, m_frame.cell, m_frame.width, m_frame.height);
}

CSupportSurfels CSupportSurfelConstructor::construct(const std::function<void(int percent)> &progress)
{
    CSupportSurfels out;
    if (m_model.empty() || m_frame.width == 0)
        return out;
    Sweep sweep = startSweep();
    if (m_settings.floorHolds && sweep.low <= m_settings.floorZ + m_frame.cell)
        sweep.below.fill(1);
    int lastReported = -1;
    for (int k = 0; k < sweep.layers; ++k) {
        readLayer(sweep, sweep.low + (k + 0.5) * m_frame.cell);
        markAnchoredPieces(sweep);
        supportUnheldRegions(sweep, out);
        for (int row = 0; row < m_frame.height; ++row)
            for (int column = 0; column < m_frame.width; ++column)
                sweep.below(column, row) = sweep.layer(column, row).state != CPixel::kEmpty ? 1 : 0;
        const int percent = 33 + (55 * (k + 1)) / sweep.layers;
        if (progress && percent != lastReported && percent < 85) {
            progress(percent);
            lastReported = percent;
        }
    }
    return out;
}

// The sweep's extent: from the lowest sample up to the model's top (or the top limit).
CSupportSurfelConstructor::Sweep CSupportSurfelConstructor::startSweep() const
{
    const double cell = m_frame.cell;
    Sweep sweep(m_frame.width, m_frame.height);
    sweep.low = m_surfels.isEmpty() ? 0.0 : m_surfels.lowestZ();
    double high = m_surfels.isEmpty() ? 0.0 : m_surfels.highestZ();
    for (const CTriangle &t : m_model)
        high = std::max(high, t.maxZ());
    if (m_settings.topLimit > 0.0)
        high = std::min(high, m_settings.topLimit);
    sweep.layers = std::max(1, int(std::floor((high + 1.05 * cell - sweep.low) / cell - 0.5)) + 1);
    sweep.layer.reset(m_frame);
    return sweep;
}

// The layer's material at height z: each cell's column is inside the model where the
// surface crossings below z wind around it; a material cell remembers where it began.
void CSupportSurfelConstructor::readLayer(Sweep &sweep, double z) const
{
    for (int row = 0; row < m_frame.height; ++row)
        for (int column = 0; column < m_frame.width; ++column) {
            int &n = sweep.next(column, row);
            int &wind = sweep.winding(column, row);
            while (n < m_ldni.count(column, row) && m_ldni.crossing(column, row, n).z < z) {
                const CLDNIPixels::Crossing &c = m_ldni.crossing(column, row, n++);
                const int before = wind;
                wind += c.direction;
                if (before <= 0 && wind > 0)
                    sweep.entered(column, row) = c.z;
            }
            CPixel &p = sweep.layer(column, row);
            p = CPixel();
            if (wind > 0) {
                p.state = CPixel::kRegion;
                p.undersideMicro = qint32(std::lround(double(sweep.entered(column, row)) * kMicro));
            }
        }
}

// A piece of the layer that does not rest on the layer below anywhere prints as an island
// of its own, however close material below comes to it: none of it counts as held.
void CSupportSurfelConstructor::markAnchoredPieces(Sweep &sweep) const
{
    CPixels &layer = sweep.layer;
    sweep.anchored.fill(0);
    std::vector<Cell> piece;
    for (int row = 0; row < m_frame.height; ++row)
        for (int column = 0; column < m_frame.width; ++column) {
            if (layer(column, row).state == CPixel::kEmpty || sweep.anchored(column, row))
                continue;
            piece.clear();
            bool rests = false;
            sweep.anchored(column, row) = 1;
            fill8(
                sweep.queue, layer, column, row,
                [&](int c, int r) {
                    if (layer(c, r).state == CPixel::kEmpty || sweep.anchored(c, r))
                        return false;
                    sweep.anchored(c, r) = 1;
                    return true;
                },
                [&](int c, int r) {
                    piece.push_back({c, r});
                    rests = rests || sweep.below(c, r);
                });
            if (rests) {
                for (const auto &[c, r] : piece)
                    sweep.anchored(c, r) = 2;
            }
        }
}

// Whether material of the layer below holds the cell: within one cell of it, and the
// cell's piece rests on the layer below.
bool CSupportSurfelConstructor::held(const Sweep &sweep, int column, int row) const
{
    return sweep.anchored(column, row) == 2 && heldFromBelow(sweep.below, column, row);
}

// Numbers the regions of unsupported cells (8 neighbours) of the layer and supports each
// one; regions smaller than the minimum island are emptied instead.
void CSupportSurfelConstructor::supportUnheldRegions(Sweep &sweep, CSupportSurfels &out) const
{
    CPixels &layer = sweep.layer;
    int regions = 0;
    for (int row = 0; row < m_frame.height; ++row)
        for (int column = 0; column < m_frame.width; ++column) {
            CPixel &start = layer(column, row);
            if (start.state == CPixel::kEmpty || start.region >= 0 || held(sweep, column, row))
                continue;
            Region region;
            region.id = regions;
            bool touchesHeld = false;
            start.region = regions;
            fill8(
                sweep.queue, layer, column, row,
                [&](int c, int r) {
                    CPixel &p = layer(c, r);
                    if (p.state == CPixel::kEmpty || p.region >= 0)
                        return false;
                    if (held(sweep, c, r)) {
                        touchesHeld = true;
                        return false;
                    }
                    p.region = regions;
                    return true;
                },
                [&](int c, int r) { region.cells.push_back({c, r}); });
            ++regions;
            if (int(region.cells.size()) < m_settings.minimumIsland) {
                // Too small for a support of its own: it grows from its neighbours and
                // does not hold the layer above.
                for (const auto &[c, r] : region.cells)
                    layer(c, r).state = CPixel::kEmpty;
                continue;
            }
            supportRegion(region, sweep, !touchesHeld, out);
        }
}

void CSupportSurfelConstructor::supportRegion(Region &region, Sweep &sweep, bool newIsland, CSupportSurfels &out) const
{
    CPixels &layer = sweep.layer;
    const int radius = std::max(1, m_settings.coverRadiusCells);
    RegionSupports supports(region.cells, region.id, layer, radius, {m_stamp, m_stampNow});
    supports.orderLowestFirst();
    supports.markNeedingSupport();
    supports.takeCarriedCover(sweep.carried, micro(radius * m_frame.cell));
    if (newIsland)
        supports.holdLowestPoint(m_frame.cell);
    supports.holdLowPoints(m_order);
    supports.placeGreedily();
    if (supports.centreFreeSupports())
        supports.coverWhatTheMovesLeft();
    for (const Placed &p : supports.placed()) {
        out.push_back(settle(layer, p.column, p.row));
        carry(sweep.carried, p.column, p.row, layer(p.column, p.row).undersideMicro);
    }
}

// Enters a support's cover disc into the carried map, at the support's height.
void CSupportSurfelConstructor::carry(CArray2D<qint32> &carried, int column, int row, qint32 height) const
{
    const int radius = std::max(1, m_settings.coverRadiusCells);
    for (int dr = -radius; dr <= radius; ++dr)
        for (int dc = -radius; dc <= radius; ++dc) {
            if (dc * dc + dr * dr > radius * radius || !carried.contains(column + dc, row + dr))
                continue;
            qint32 &z = carried(column + dc, row + dr);
            z = std::max(z, height);
        }
}

CSupportSurfel CSupportSurfelConstructor::settle(const CPixels &layer, int column, int row) const
{
    const double underside = layer(column, row).undersideMicro / kMicro;
    const double cell = m_frame.cell;
    CVertex point(m_frame.centreX(column), m_frame.centreY(row), underside);
    // The lowest downward-facing sample of the cell near that underside: where the model
    // really comes lowest, which a cell's centre may miss by most of a cell.
    for (const int *i = m_surfels.downFacingBegin(column, row); i != m_surfels.downFacingEnd(column, row); ++i) {
        const CSurfel &s = m_surfels[size_t(*i)];
        if (s.position[2] < underside - cell)
            continue;
        if (s.position[2] <= underside + cell)
            point = CVertex(s.position[0], s.position[1], s.position[2]);
        break;
    }
    return supportAt(point.x, point.y, point.z);
}

CSupportSurfel CSupportSurfelConstructor::supportAt(double x, double y, double z) const
{
    CSupportSurfel support;
    support.point = CVertex(x, y, z);
    support.baseZ = m_ldni.standBelow(x, y, z);
    return support;
}

namespace {

void addTriangle(std::vector<MeshTriangle> &out, const QVector3D &a, const QVector3D &b, const QVector3D &c)
{
    out.push_back({MeshImporter::facetNormal(a, b, c), a, b, c});
}

// Rings of a support column from the bottom up: (z, radius).
std::vector<std::pair<double, double>> columnRings(const CSupportSurfel &support, const CSupportShape &shape)
{
    const double top = support.point.z + shape.penetration;
    const bool onPlatform = support.baseZ <= shape.floorZ + 1e-6;
    const double bottom = onPlatform ? shape.floorZ : support.baseZ - shape.penetration;
    const double length = std::max(top - bottom, 1e-4);
    const double body = std::max(shape.bodyRadiusFor(length), shape.tipRadius);
    // The foot: a cone spreading on the platform, or a tip on the model below.
    const double foot = onPlatform ? shape.baseHeight : shape.tipLength;
    const double footRadius = onPlatform ? body + shape.baseRadius : shape.tipRadius;
    if (length > foot + shape.tipLength) {
        return {{bottom, footRadius}, {bottom + foot, body}, {top - shape.tipLength, body}, {top, shape.tipRadius}};
    }
    // Too short for a body: a single cone from the foot to the tip.
    return {{bottom, std::max(footRadius, shape.tipRadius)}, {bottom + length, shape.tipRadius}};
}

} // namespace

std::vector<MeshTriangle> supportColumn(const CSupportSurfel &support, const CSupportShape &shape)
{
    std::vector<MeshTriangle> mesh;
    appendColumn(mesh, support.point.x, support.point.y, columnRings(support, shape));
    return mesh;
}

void appendColumn(
    std::vector<MeshTriangle> &mesh, double cx, double cy, const std::vector<std::pair<double, double>> &rings)
{
    if (rings.size() < 2)
        return;
    constexpr int kSides = 12;
    const auto vertex = [&](size_t ring, int side) {
        const double angle = 2.0 * M_PI * side / kSides;
        const double r = rings[ring].second;
        return QVector3D(float(cx + r * std::cos(angle)), float(cy + r * std::sin(angle)), float(rings[ring].first));
    };
    mesh.reserve(mesh.size() + size_t(kSides) * (2 * (rings.size() - 1) + 2));
    for (size_t ring = 0; ring + 1 < rings.size(); ++ring) {
        for (int side = 0; side < kSides; ++side) {
            const QVector3D a = vertex(ring, side);
            const QVector3D b = vertex(ring, (side + 1) % kSides);
            const QVector3D c = vertex(ring + 1, (side + 1) % kSides);
            const QVector3D d = vertex(ring + 1, side);
            addTriangle(mesh, a, b, c);
            addTriangle(mesh, a, c, d);
        }
    }
    const QVector3D bottomCentre(float(cx), float(cy), float(rings.front().first));
    const QVector3D topCentre(float(cx), float(cy), float(rings.back().first));
    for (int side = 0; side < kSides; ++side) {
        addTriangle(mesh, bottomCentre, vertex(0, (side + 1) % kSides), vertex(0, side));
        addTriangle(mesh, topCentre, vertex(rings.size() - 1, side), vertex(rings.size() - 1, (side + 1) % kSides));
    }
}
