#include "layerhollower.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

// Stands for "no empty pixel in reach": finite, so that the envelope arithmetic stays
// clear of inf - inf.
constexpr double kFar = 1e12;
constexpr uint8_t kSolid = 255;

// The lower envelope of parabolas (x - p)^2 + f (Felzenszwalb and Huttenlocher), built
// from parabolas added in increasing p and read at increasing x. Parabolas whose f can
// not matter may be left out: an empty envelope reads as kFar.
class Envelope
{
public:
    void clear()
    {
        m_p.clear();
        m_f.clear();
        m_z.clear();
        m_k = 0;
    }

    void add(double p, double f)
    {
        double s = -kFar * kFar;
        while (!m_p.empty()) {
            s = ((f + p * p) - (m_f.back() + m_p.back() * m_p.back())) / (2.0 * (p - m_p.back()));
            if (s > m_z.back())
                break;
            m_p.pop_back();
            m_f.pop_back();
            m_z.pop_back();
            s = -kFar * kFar;
        }
        m_p.push_back(p);
        m_f.push_back(f);
        m_z.push_back(s);
    }

    double at(double x)
    {
        if (m_p.empty())
            return kFar;
        while (m_k + 1 < m_p.size() && m_z[m_k + 1] < x)
            ++m_k;
        const double d = x - m_p[m_k];
        return d * d + m_f[m_k];
    }

private:
    std::vector<double> m_p;
    std::vector<double> m_f;
    std::vector<double> m_z; // where each parabola starts to be the lowest
    size_t m_k = 0;
};

// Runs work(begin, end) over [0, count) on up to `threads` threads.
template<typename Work> void parallelRows(int count, int threads, Work work)
{
    threads = std::max(1, std::min(threads, count));
    if (threads == 1) {
        work(0, count);
        return;
    }
    std::vector<std::thread> pool;
    pool.reserve(size_t(threads));
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&, t] { work(count * t / threads, count * (t + 1) / threads); });
    for (std::thread &thread : pool)
        thread.join();
}

} // namespace

LayerHollower::LayerHollower(const Settings &settings, const QRect &box, int layerCount)
    : m_settings(settings)
    , m_box(box)
    , m_layers(layerCount)
{
    const double layer = std::max(1e-6, settings.layerPixels);
    m_reach = static_cast<int>(std::ceil(settings.wallPixels / layer));
    m_block = std::max(8, 2 * m_reach);
    // Holes found on the way are cut this far down, through the floor under a cavity.
    const bool holesFound = settings.autoHoles
        || std::any_of(settings.holes.begin(), settings.holes.end(), [](const Hole &h) { return h.topLayer < 0; });
    m_floorDepth = holesFound ? static_cast<int>(std::ceil(2.0 * settings.wallPixels / layer)) + 1 : 0;
    // An automatic hole is decided a wall's height above its cavity's lowest point, once the
    // cavity's branches starting close together have joined.
    m_horizon = settings.autoHoles ? m_reach : 0;
    m_delay = m_floorDepth + m_horizon;
    m_pendingDone.assign(settings.holes.size(), false);
    for (const Hole &hole : settings.holes) {
        if (hole.topLayer >= 0)
            m_holesCut.push_back({hole.x, hole.y, hole.topLayer, 0});
    }
    m_previousLabels.assign(size_t(std::max(0, box.width() * box.height())), -1);
}

std::vector<uint16_t> LayerHollower::distanceMap(const std::vector<uint8_t> &coverage, int width, int height)
{
    // Columns: the distance to the nearest empty pixel above or below.
    std::vector<float> columns(coverage.size(), 0.0f);
    Envelope envelope;
    for (int x = 0; x < width; ++x) {
        envelope.clear();
        for (int y = 0; y < height; ++y) {
            if (coverage[size_t(y) * size_t(width) + size_t(x)] != kSolid)
                envelope.add(y, 0.0);
        }
        for (int y = 0; y < height; ++y)
            columns[size_t(y) * size_t(width) + size_t(x)] = float(envelope.at(y));
    }
    // Rows: the nearest of the columns' distances. Those beyond 16 bits cannot be the
    // nearest of a pixel within reach of a wall.
    std::vector<uint16_t> result(coverage.size(), 0);
    for (int y = 0; y < height; ++y) {
        const float *row = columns.data() + size_t(y) * size_t(width);
        if (std::all_of(row, row + width, [](float d) { return d == 0.0f; }))
            continue;
        envelope.clear();
        for (int x = 0; x < width; ++x) {
            if (row[x] < 65535.0f)
                envelope.add(x, row[x]);
        }
        uint16_t *out = result.data() + size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x)
            out[x] = uint16_t(std::min(envelope.at(x), 65535.0));
    }
    return result;
}

void LayerHollower::addLayer(std::vector<uint8_t> coverage, std::vector<uint16_t> distance)
{
    if (m_added == 0)
        m_firstLayer = coverage;
    m_window.push_back({std::move(coverage), std::move(distance)});
    ++m_added;
    while (m_hollowed < m_layers && m_added >= std::min(m_layers, m_hollowed + m_block + m_reach)) {
        const int last = std::min(m_layers, m_hollowed + m_block) - 1;
        hollowBlock(m_hollowed, last);
        m_hollowed = last + 1;
        // Distances below the reach of the next block are needed no more.
        for (int k = m_windowStart; k < m_hollowed - m_reach; ++k)
            std::vector<uint16_t>().swap(entry(k).distance);
    }
}

bool LayerHollower::takeLayer(std::vector<uint8_t> *coverage)
{
    if (m_taken >= m_hollowed || (m_hollowed < m_layers && m_taken >= m_hollowed - m_delay))
        return false;
    *coverage = std::move(entry(m_taken).coverage);
    clearHoles(m_taken, coverage->data(), m_box);
    entry(m_taken).coverage = std::vector<uint8_t>();
    ++m_taken;
    while (!m_window.empty() && m_windowStart < m_taken && m_windowStart < m_hollowed - m_reach) {
        m_window.pop_front();
        ++m_windowStart;
    }
    return true;
}

void LayerHollower::hollowBlock(int first, int last)
{
    const int pixels = m_box.width() * m_box.height();
    std::vector<std::vector<uint8_t>> cavities(size_t(last - first + 1), std::vector<uint8_t>(size_t(pixels), 0));
    // The window's distance maps, with the outside below layer 0 and above the last.
    const int low = std::max(-1, first - m_reach);
    const int high = std::min(m_layers, last + m_reach);
    const int n = high - low + 1;
    std::vector<const uint16_t *> distances;
    for (int j = low; j <= high; ++j)
        distances.push_back(j < 0 || j >= m_layers ? nullptr : entry(j).distance.data());
    std::vector<uint8_t *> coverages;
    for (int k = first; k <= last; ++k)
        coverages.push_back(entry(k).coverage.data());
    const double wall2 = m_settings.wallPixels * m_settings.wallPixels;
    parallelRows(m_box.height(), m_settings.threads, [&](int rowBegin, int rowEnd) {
        Envelope envelope;
        for (int i = rowBegin * m_box.width(); i < rowEnd * m_box.width(); ++i) {
            bool deep = false;
            for (int k = first; k <= last && !deep; ++k)
                deep = distances[size_t(k - low)][i] > wall2;
            if (!deep)
                continue;
            // Only layers where this pixel lies within a wall of the outside can keep it.
            envelope.clear();
            for (int q = 0; q < n; ++q) {
                const double f = distances[size_t(q)] ? double(distances[size_t(q)][i]) : 0.0;
                if (f <= wall2)
                    envelope.add((q + low) * m_settings.layerPixels, f);
            }
            for (int k = first; k <= last; ++k) {
                uint8_t &pixel = coverages[size_t(k - first)][i];
                if (pixel == kSolid && envelope.at(k * m_settings.layerPixels) > wall2) {
                    pixel = 0;
                    cavities[size_t(k - first)][size_t(i)] = 1;
                }
            }
        }
    });
    for (int k = first; k <= last; ++k) {
        findHangingTips(k, coverages[size_t(k - first)]);
        findCavities(k, cavities[size_t(k - first)]);
    }
}

void LayerHollower::findHangingTips(int layer, const uint8_t *coverage)
{
    const int width = m_box.width();
    const int height = m_box.height();
    const size_t pixels = size_t(width) * size_t(height);
    // Marks: 0 unseen, 1 being filled, 2 in a part with something lit below, 3 in a tip.
    // Seeds lie over the last layer's cavity pixels, within their span.
    m_marks.resize(pixels, 0);
    std::vector<int> marked;
    std::vector<int> stack;
    std::vector<int> part;
    const int seedEnd = m_previousLit.size() == pixels ? m_previousCavity.second : 0;
    for (int seed = m_previousCavity.first; seed < seedEnd; ++seed) {
        if (coverage[seed] == 0 || m_marks[size_t(seed)] || m_previousLabels[size_t(seed)] < 0)
            continue;
        // The lit part (8-neighbour) of a pixel over the cavity below, filled until it
        // meets a pixel lit below or one of a part known to have one.
        part.clear();
        stack.assign(1, seed);
        m_marks[size_t(seed)] = 1;
        bool held = false;
        while (!stack.empty() && !held) {
            const int i = stack.back();
            stack.pop_back();
            part.push_back(i);
            held = m_previousLit[size_t(i)] != 0;
            const int x = i % width;
            const int y = i / width;
            for (int dy = -1; dy <= 1 && !held; ++dy) {
                for (int dx = -1; dx <= 1 && !held; ++dx) {
                    const int j = i + dy * width + dx;
                    if (x + dx < 0 || x + dx >= width || y + dy < 0 || y + dy >= height || coverage[j] == 0)
                        continue;
                    held = m_marks[size_t(j)] == 2;
                    if (!m_marks[size_t(j)]) {
                        m_marks[size_t(j)] = 1;
                        stack.push_back(j);
                    }
                }
            }
        }
        for (const int i : stack)
            m_marks[size_t(i)] = 2;
        for (const int i : part)
            m_marks[size_t(i)] = held ? 2 : 3;
        marked.insert(marked.end(), stack.begin(), stack.end());
        marked.insert(marked.end(), part.begin(), part.end());
        if (!held)
            m_tips.push_back(tipOf(part, layer));
    }
    for (const int i : marked)
        m_marks[size_t(i)] = 0;
    m_previousLit.resize(pixels);
    for (size_t i = 0; i < pixels; ++i)
        m_previousLit[i] = coverage[i] > 0;
}

LayerHollower::Tip LayerHollower::tipOf(const std::vector<int> &part, int layer) const
{
    // Its pixel over the cavity nearest its centre, and how far it reaches from there.
    const int width = m_box.width();
    double cx = 0.0;
    double cy = 0.0;
    for (const int i : part) {
        cx += i % width;
        cy += i / width;
    }
    cx /= double(part.size());
    cy /= double(part.size());
    const auto offCentre = [&](int i) { return std::hypot(i % width - cx, i / width - cy); };
    int centre = -1;
    for (const int i : part) {
        if (m_previousLabels[size_t(i)] >= 0 && (centre < 0 || offCentre(i) < offCentre(centre)))
            centre = i;
    }
    double radius = 0.0;
    for (const int i : part)
        radius = std::max(radius, std::hypot(i % width - centre % width, i / width - centre / width));
    return {centre % width + m_box.left(), centre / width + m_box.top(), layer, radius + 0.5};
}

void LayerHollower::findCavities(int layer, const std::vector<uint8_t> &cavity)
{
    const int width = m_box.width();
    const int height = m_box.height();
    std::vector<int> labels(cavity.size(), -1);
    std::vector<int> stack;
    std::vector<int> component;
    for (int start = 0; start < int(cavity.size()); ++start) {
        if (!cavity[size_t(start)] || labels[size_t(start)] >= 0)
            continue;
        // One 4-neighbour part of this layer's cavity pixels, and the cavity it belongs to:
        // those it overlaps in the layer below, joined, or a new one starting here.
        component.clear();
        stack.assign(1, start);
        labels[size_t(start)] = 0;
        int label = -1;
        double sumX = 0.0;
        double sumY = 0.0;
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            component.push_back(i);
            const int below = m_previousLabels[size_t(i)];
            if (below >= 0)
                label = label < 0 ? root(below) : join(label, below);
            const int x = i % width;
            const int y = i / width;
            sumX += x;
            sumY += y;
            for (const int j : {x > 0 ? i - 1 : -1, x + 1 < width ? i + 1 : -1, y > 0 ? i - width : -1,
                     y + 1 < height ? i + width : -1}) {
                if (j >= 0 && cavity[size_t(j)] && labels[size_t(j)] < 0) {
                    labels[size_t(j)] = 0;
                    stack.push_back(j);
                }
            }
        }
        if (label < 0) {
            // A cavity starts here: its lowest point, the pixel nearest the part's centre.
            const double cx = sumX / double(component.size());
            const double cy = sumY / double(component.size());
            const auto offCentre = [&](int i) { return std::hypot(i % width - cx, i / width - cy); };
            const int nearest = *std::min_element(
                component.begin(), component.end(), [&](int a, int b) { return offCentre(a) < offCentre(b); });
            label = int(m_starts.size());
            m_starts.push_back({layer, nearest % width + m_box.left(), nearest / width + m_box.top(), false});
            m_parent.push_back(label);
            m_volume.push_back(0.0);
            m_lastLayer.push_back(layer);
            m_drained.push_back(0);
        }
        m_volume[size_t(label)] += double(component.size());
        m_lastLayer[size_t(label)] = layer;
        for (const int i : component)
            labels[size_t(i)] = label;
        drainPending(layer, component);
    }
    m_previousLabels = std::move(labels);
    const auto firstCavity = std::find(cavity.begin(), cavity.end(), 1);
    m_previousCavity = {int(firstCavity - cavity.begin()),
        int(cavity.size() - size_t(std::find(cavity.rbegin(), cavity.rend(), 1) - cavity.rbegin()))};
    decideHoles(layer);
}

void LayerHollower::drainPending(int layer, const std::vector<int> &component)
{
    for (size_t h = 0; h < m_settings.holes.size(); ++h) {
        const Hole &hole = m_settings.holes[h];
        const QPoint axis(int(std::lround(hole.x)), int(std::lround(hole.y)));
        if (hole.topLayer >= 0 || m_pendingDone[h] || !m_box.contains(axis))
            continue;
        const int i = (axis.y() - m_box.top()) * m_box.width() + axis.x() - m_box.left();
        if (std::find(component.begin(), component.end(), i) != component.end()) {
            m_pendingDone[h] = true;
            drainFrom(hole.x, hole.y, layer);
        }
    }
}

void LayerHollower::decideHoles(int layer)
{
    const bool last = layer == m_layers - 1;
    for (size_t s = m_firstUndecided; s < m_starts.size(); ++s) {
        CavityStart &start = m_starts[s];
        if (start.decided)
            continue;
        const int group = root(int(s));
        const bool closed = m_lastLayer[size_t(group)] < layer || last;
        if (!closed && layer < start.layer + m_horizon)
            continue;
        start.decided = true;
        if (m_drained[size_t(group)] || !m_settings.autoHoles)
            continue;
        if (closed && m_volume[size_t(group)] < m_settings.smallestDrainedVolume)
            continue;
        m_drained[size_t(group)] = 1;
        placeAutoHole(start.x, start.y, start.layer, layer);
    }
    while (m_firstUndecided < m_starts.size() && m_starts[m_firstUndecided].decided)
        ++m_firstUndecided;
}

int LayerHollower::root(int label) const
{
    while (m_parent[size_t(label)] != label)
        label = m_parent[size_t(label)];
    return label;
}

int LayerHollower::join(int a, int b)
{
    a = root(a);
    b = root(b);
    if (a == b)
        return a;
    if (b < a)
        std::swap(a, b);
    m_parent[size_t(b)] = a;
    m_volume[size_t(a)] += m_volume[size_t(b)];
    m_lastLayer[size_t(a)] = std::max(m_lastLayer[size_t(a)], m_lastLayer[size_t(b)]);
    m_drained[size_t(a)] = m_drained[size_t(a)] || m_drained[size_t(b)];
    return a;
}

int LayerHollower::cavityCount() const
{
    int count = 0;
    for (size_t label = 0; label < m_parent.size(); ++label)
        count += m_parent[label] == int(label);
    return count;
}

void LayerHollower::placeAutoHole(int x, int y, int layer, int current)
{
    const double r = m_settings.holeRadiusPixels;
    const int reach = static_cast<int>(std::ceil(3.0 * r));
    const int span = reach + static_cast<int>(std::ceil(r)) + 1;
    const int side = 2 * span + 1;
    // Where supports touch the model round the spot, over the floor's layers: support pixels
    // under a solid model pixel, or on one.
    std::vector<uint8_t> held(size_t(side) * size_t(side), 0);
    bool anyHeld = false;
    const int width = m_settings.imageWidth;
    for (int k = std::max(m_taken, layer - m_floorDepth); m_settings.supports && k < layer; ++k) {
        const uint8_t *image = m_settings.supports(k);
        for (int dy = -span; image && dy <= span; ++dy) {
            for (int dx = -span; dx <= span; ++dx) {
                const QPoint at(x + dx, y + dy);
                if (!m_box.contains(at) || !image[size_t(at.y()) * size_t(width) + size_t(at.x())])
                    continue;
                const size_t i = size_t(at.y() - m_box.top()) * size_t(m_box.width()) + size_t(at.x() - m_box.left());
                if ((!entry(k).coverage.empty() && entry(k).coverage[i]) || entry(k + 1).coverage[i]) {
                    held[size_t(dy + span) * size_t(side) + size_t(dx + span)] = 1;
                    anyHeld = true;
                }
            }
        }
    }
    const int disc = static_cast<int>(std::ceil(r));
    const auto clearAt = [&](int cx, int cy) {
        for (int dy = -disc; dy <= disc; ++dy)
            for (int dx = -disc; dx <= disc; ++dx)
                if (dx * dx + dy * dy <= r * r && held[size_t(cy + dy + span) * size_t(side) + size_t(cx + dx + span)])
                    return false;
        return true;
    };
    if (!anyHeld || clearAt(0, 0)) {
        drainFrom(x, y, layer);
        return;
    }
    // The nearest clear spot under the model at this layer.
    std::vector<QPoint> offsets;
    for (int dy = -reach; dy <= reach; ++dy)
        for (int dx = -reach; dx <= reach; ++dx)
            if (dx * dx + dy * dy <= reach * reach)
                offsets.emplace_back(dx, dy);
    std::stable_sort(offsets.begin(), offsets.end(),
        [](const QPoint &a, const QPoint &b) { return QPoint::dotProduct(a, a) < QPoint::dotProduct(b, b); });
    const std::vector<uint16_t> &solid = entry(layer).distance;
    for (const QPoint &offset : offsets) {
        const QPoint at(x + offset.x(), y + offset.y());
        if (!m_box.contains(at))
            continue;
        const size_t i = size_t(at.y() - m_box.top()) * size_t(m_box.width()) + size_t(at.x() - m_box.left());
        if (solid[i] == 0 || !clearAt(offset.x(), offset.y()))
            continue;
        // Cut from where the cavity reaches over this spot, a layer or a few higher: emptied
        // there, solid before hollowing.
        for (int k = layer; k <= current; ++k) {
            if (entry(k).coverage[i] == 0 && entry(k).distance[i] > 0) {
                drainFrom(at.x(), at.y(), k);
                return;
            }
        }
        {
            Hole hole;
            hole.x = at.x();
            hole.y = at.y();
            m_settings.holes.push_back(hole);
            m_pendingDone.push_back(false);
        }
        return;
    }
    drainFrom(x, y, layer); // no clear spot: the supports there lose their tips
}

void LayerHollower::drainFrom(double x, double y, int layer)
{
    Hole hole {x, y, layer, std::max(0, layer - m_floorDepth), false};
    // A floor that stands on the platform under the hole would be sealed by it, or lose
    // its foot to it (a sphere stands on a disc smaller than the hole): the hole goes up
    // through the roof instead, to the vat (which is also the lowest point once the part
    // hangs from the platform).
    if (!m_firstLayer.empty() && discHolds(m_firstLayer, x, y)) {
        hole.bottomLayer = layer;
        hole.topLayer = m_layers - 1;
        hole.throughRoof = true;
    } else {
        // Down through the floor and no further: what hangs below it (supports) is left whole.
        for (int k = layer - 1; k >= std::max(m_taken, hole.bottomLayer); --k) {
            if (!discHolds(entry(k).coverage, x, y)) {
                hole.bottomLayer = k + 1;
                break;
            }
        }
    }
    m_holesCut.push_back(hole);
}

bool LayerHollower::discHolds(const std::vector<uint8_t> &coverage, double x, double y) const
{
    const double r = m_settings.holeRadiusPixels;
    const QRect disc = QRect(QPoint(int(std::floor(x - r)), int(std::floor(y - r))),
        QPoint(int(std::ceil(x + r)), int(std::ceil(y + r))))
                           .intersected(m_box);
    for (int row = disc.top(); row <= disc.bottom(); ++row)
        for (int column = disc.left(); column <= disc.right(); ++column)
            if ((column - x) * (column - x) + (row - y) * (row - y) <= r * r
                && coverage[size_t((row - m_box.top()) * m_box.width() + column - m_box.left())])
                return true;
    return false;
}

void LayerHollower::clearHoles(int layer, uint8_t *pixels, const QRect &area) const
{
    const double r = m_settings.holeRadiusPixels;
    for (const Hole &hole : m_holesCut) {
        if (layer < hole.bottomLayer || layer > hole.topLayer)
            continue;
        const int x0 = std::max(area.left(), int(std::floor(hole.x - r)));
        const int x1 = std::min(area.right(), int(std::ceil(hole.x + r)));
        const int y0 = std::max(area.top(), int(std::floor(hole.y - r)));
        const int y1 = std::min(area.bottom(), int(std::ceil(hole.y + r)));
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if ((x - hole.x) * (x - hole.x) + (y - hole.y) * (y - hole.y) <= r * r)
                    pixels[size_t(y - area.top()) * size_t(area.width()) + size_t(x - area.left())] = 0;
    }
}
