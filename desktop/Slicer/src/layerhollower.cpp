#include "layerhollower.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

// Stands for "no empty pixel in reach": finite, so that the envelope arithmetic stays
// clear of inf - inf.
constexpr double kFar = 1e12;
constexpr uint8_t kSolid = 255;

// The lower envelope of the parabolas (x - position(q))^2 + f[q] (Felzenszwalb and
// Huttenlocher), sampled at every position. Positions are q * spacing. `v` and `z` are
// scratch of n and n + 1 entries.
template<typename Out>
void envelope(const double *f, int n, double spacing, std::vector<int> &v, std::vector<double> &z, Out out)
{
    const auto position = [&](int q) { return q * spacing; };
    int k = 0;
    v[0] = 0;
    z[0] = -kFar * kFar;
    z[1] = kFar * kFar;
    for (int q = 1; q < n; ++q) {
        const auto meet = [&](int p) {
            return ((f[q] + position(q) * position(q)) - (f[p] + position(p) * position(p)))
                / (2.0 * (position(q) - position(p)));
        };
        double s = meet(v[size_t(k)]);
        while (s <= z[size_t(k)]) {
            --k;
            s = meet(v[size_t(k)]);
        }
        ++k;
        v[size_t(k)] = q;
        z[size_t(k)] = s;
        z[size_t(k) + 1] = kFar * kFar;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[size_t(k) + 1] < position(q))
            ++k;
        const double d = position(q) - position(v[size_t(k)]);
        out(q, d * d + f[v[size_t(k)]]);
    }
}

// Runs work(begin, end) over [0, count) on up to `threads` threads.
template<typename Work> void parallelRows(int count, int threads, Work work)
{
    threads = std::max(1, std::min(threads, count));
    if (threads == 1) {
        work(0, count);
        return;
    }
    std::vector<std::thread> pool;
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
    m_delay = holesFound ? static_cast<int>(std::ceil(2.0 * settings.wallPixels / layer)) + 1 : 0;
    m_pendingDone.assign(settings.holes.size(), false);
    for (const Hole &hole : settings.holes) {
        if (hole.topLayer >= 0)
            m_holesCut.push_back({hole.x, hole.y, hole.topLayer, 0});
    }
    m_previousCavity.assign(size_t(std::max(0, box.width() * box.height())), 0);
}

std::vector<uint16_t> LayerHollower::distanceMap(const std::vector<uint8_t> &coverage, int width, int height)
{
    std::vector<float> columns(coverage.size(), 0.0f);
    const int longest = std::max(width, height);
    std::vector<double> f(static_cast<size_t>(longest));
    std::vector<int> v(static_cast<size_t>(longest));
    std::vector<double> z(size_t(longest) + 1);
    for (int x = 0; x < width; ++x) {
        bool solid = false;
        for (int y = 0; y < height; ++y) {
            const bool here = coverage[size_t(y * width + x)] == kSolid;
            f[size_t(y)] = here ? kFar : 0.0;
            solid = solid || here;
        }
        if (!solid)
            continue;
        envelope(f.data(), height, 1.0, v, z, [&](int y, double d) { columns[size_t(y * width + x)] = float(d); });
    }
    std::vector<uint16_t> result(coverage.size(), 0);
    for (int y = 0; y < height; ++y) {
        const float *row = columns.data() + size_t(y) * size_t(width);
        if (std::all_of(row, row + width, [](float d) { return d == 0.0f; }))
            continue;
        std::copy(row, row + width, f.begin());
        uint16_t *out = result.data() + size_t(y) * size_t(width);
        envelope(f.data(), width, 1.0, v, z, [&](int x, double d) { out[x] = uint16_t(std::min(d, 65535.0)); });
    }
    return result;
}

void LayerHollower::addLayer(std::vector<uint8_t> coverage, std::vector<uint16_t> distance)
{
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
        std::vector<double> f(static_cast<size_t>(n));
        std::vector<int> v(static_cast<size_t>(n));
        std::vector<double> z(size_t(n) + 1);
        for (int i = rowBegin * m_box.width(); i < rowEnd * m_box.width(); ++i) {
            bool deep = false;
            for (int k = first; k <= last && !deep; ++k)
                deep = distances[size_t(k - low)][i] > wall2;
            if (!deep)
                continue;
            for (int q = 0; q < n; ++q)
                f[size_t(q)] = distances[size_t(q)] ? double(distances[size_t(q)][i]) : 0.0;
            envelope(f.data(), n, m_settings.layerPixels, v, z, [&](int q, double d) {
                const int k = q + low;
                if (k < first || k > last || d <= wall2)
                    return;
                uint8_t &pixel = coverages[size_t(k - first)][i];
                if (pixel == kSolid) {
                    pixel = 0;
                    cavities[size_t(k - first)][size_t(i)] = 1;
                }
            });
        }
    });
    for (int k = first; k <= last; ++k)
        findCavities(k, cavities[size_t(k - first)]);
}

void LayerHollower::findCavities(int layer, const std::vector<uint8_t> &cavity)
{
    const int width = m_box.width();
    const int height = m_box.height();
    std::vector<uint8_t> seen(cavity.size(), 0);
    std::vector<int> stack;
    std::vector<int> component;
    for (int start = 0; start < int(cavity.size()); ++start) {
        if (!cavity[size_t(start)] || seen[size_t(start)])
            continue;
        // One 4-neighbour part of this layer's cavity pixels.
        component.clear();
        stack.assign(1, start);
        seen[size_t(start)] = 1;
        bool continues = false;
        double sumX = 0.0;
        double sumY = 0.0;
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            component.push_back(i);
            continues = continues || m_previousCavity[size_t(i)];
            sumX += i % width;
            sumY += i / width;
            const int x = i % width;
            const int y = i / width;
            for (const int j : {x > 0 ? i - 1 : -1, x + 1 < width ? i + 1 : -1, y > 0 ? i - width : -1,
                     y + 1 < height ? i + width : -1}) {
                if (j >= 0 && cavity[size_t(j)] && !seen[size_t(j)]) {
                    seen[size_t(j)] = 1;
                    stack.push_back(j);
                }
            }
        }
        for (size_t h = 0; h < m_settings.holes.size(); ++h) {
            const Hole &hole = m_settings.holes[h];
            const QPoint axis(int(std::lround(hole.x)), int(std::lround(hole.y)));
            if (hole.topLayer >= 0 || m_pendingDone[h] || !m_box.contains(axis))
                continue;
            const int i = (axis.y() - m_box.top()) * width + axis.x() - m_box.left();
            if (std::find(component.begin(), component.end(), i) != component.end()) {
                m_pendingDone[h] = true;
                m_holesCut.push_back({hole.x, hole.y, layer, std::max(0, layer - m_delay)});
            }
        }
        if (continues)
            continue;
        // A cavity starts here: its lowest point.
        ++m_cavityStarts;
        if (!m_settings.autoHoles)
            continue;
        const double cx = sumX / double(component.size());
        const double cy = sumY / double(component.size());
        const auto nearest = *std::min_element(component.begin(), component.end(), [&](int a, int b) {
            return std::hypot(a % width - cx, a / width - cy) < std::hypot(b % width - cx, b / width - cy);
        });
        Hole hole;
        hole.x = nearest % width + m_box.left();
        hole.y = nearest / width + m_box.top();
        hole.topLayer = layer;
        hole.bottomLayer = std::max(0, layer - m_delay);
        m_holesCut.push_back(hole);
    }
    m_previousCavity = cavity;
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
