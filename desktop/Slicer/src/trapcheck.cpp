#include "trapcheck.h"

#include "crushedprintjob.h"
#include "rowruns.h"

#include <algorithm>
#include <numeric>
#include <set>

int TrapCheck::root(int label) const
{
    while (m_labels[size_t(label)].parent != label) {
        m_labels[size_t(label)].parent = m_labels[size_t(m_labels[size_t(label)].parent)].parent;
        label = m_labels[size_t(label)].parent;
    }
    return label;
}

int TrapCheck::join(int a, int b)
{
    a = root(a);
    b = root(b);
    if (a == b)
        return a;
    Label &keep = m_labels[size_t(std::min(a, b))];
    Label &gone = m_labels[size_t(std::max(a, b))];
    gone.parent = std::min(a, b);
    keep.pixels += gone.pixels;
    if (gone.firstLayer < keep.firstLayer) {
        keep.firstLayer = gone.firstLayer;
        keep.x = gone.x;
        keep.y = gone.y;
    }
    keep.lastLayer = std::max(keep.lastLayer, gone.lastLayer);
    keep.open = keep.open || gone.open;
    keep.platform = keep.platform || gone.platform;
    return std::min(a, b);
}

int TrapCheck::newLabel(const Run &run)
{
    const int label = int(m_labels.size());
    m_labels.push_back({label, 0, m_layers, m_layers, (run.begin + run.end - 1) / 2, run.row, false, false});
    return label;
}

void TrapCheck::labelRuns(std::vector<Run> &runs, const std::vector<int> &localRoot)
{
    // The global label of each local region, -1 until it meets one below.
    std::vector<int> regionLabel(runs.size(), -1);
    for (size_t r = 0; r < runs.size(); ++r) {
        const Run &run = runs[r];
        int &label = regionLabel[size_t(localRoot[r])];
        if (m_below.empty())
            continue;
        const int last = m_belowRowStart[size_t(run.row) + 1];
        for (int b = m_belowRowStart[size_t(run.row)]; b < last && m_below[size_t(b)].begin < run.end; ++b) {
            if (m_below[size_t(b)].end <= run.begin)
                continue;
            label = label < 0 ? root(m_below[size_t(b)].label) : join(label, m_below[size_t(b)].label);
        }
    }
    for (size_t r = 0; r < runs.size(); ++r) {
        int &label = regionLabel[size_t(localRoot[r])];
        if (label < 0)
            label = newLabel(runs[r]);
        runs[r].label = label;
    }
}

void TrapCheck::account(const std::vector<Run> &runs)
{
    for (const Run &run : runs) {
        Label &label = m_labels[size_t(root(run.label))];
        label.pixels += run.end - run.begin;
        label.lastLayer = std::max(label.lastLayer, m_layers);
        label.open = label.open || run.row == 0 || run.row == m_height - 1 || run.begin == 0 || run.end == m_width;
        label.platform = label.platform || m_layers == 0;
    }
}

void TrapCheck::addLayer(const IslandCheck::Mask &layer)
{
    if (m_layers == 0) {
        m_width = layer.width;
        m_height = layer.height;
    }
    // A layer of another size is taken for dark all over: it opens whatever reaches it, so
    // that a damaged job raises no false alarm.
    const bool sameSize = layer.width == m_width && layer.height == m_height;
    std::vector<Run> runs;
    for (int y = 0; y < m_height; ++y) {
        const quint8 *line = sameSize ? layer.lit.data() + size_t(y) * size_t(m_width) : nullptr;
        int x = 0;
        while (x < m_width) {
            while (line && x < m_width && line[x])
                ++x;
            if (x == m_width)
                break;
            const int begin = x;
            while (x < m_width && (!line || !line[x]))
                ++x;
            runs.push_back({y, begin, x, -1});
        }
    }
    // No diagonals: resin does not seep through a corner.
    const std::vector<int> regions = RowRuns::joined(runs, false);
    labelRuns(runs, regions);
    account(runs);
    for (size_t r = 0; m_keepSeeds && r < runs.size(); ++r) {
        if (regions[r] == int(r))
            m_seeds.push_back({{m_layers, runs[r].begin, runs[r].row}, runs[r].label});
    }

    m_belowRowStart.assign(size_t(m_height) + 1, 0);
    for (const Run &run : runs)
        ++m_belowRowStart[size_t(run.row) + 1];
    std::partial_sum(m_belowRowStart.begin(), m_belowRowStart.end(), m_belowRowStart.begin());
    m_below = std::move(runs);
    ++m_layers;
}

std::vector<TrapCheck::Cavity> TrapCheck::cavities(double pixelMm, double layerMm) const
{
    // Above the last layer is the vat: whatever reaches it is open.
    std::set<int> reachTop;
    for (const Run &run : m_below)
        reachTop.insert(root(run.label));
    std::vector<Cavity> found;
    std::vector<int> foundAt(m_labels.size(), -1);
    for (size_t i = 0; i < m_labels.size(); ++i) {
        const Label &label = m_labels[i];
        if (label.parent != int(i) || label.open || reachTop.count(int(i)))
            continue;
        Cavity cavity;
        cavity.kind = label.platform ? Kind::SuctionCup : Kind::TrappedResin;
        cavity.pixels = label.pixels;
        cavity.volumeMm3 = double(label.pixels) * pixelMm * pixelMm * layerMm;
        cavity.firstLayer = label.firstLayer + 1;
        cavity.lastLayer = label.lastLayer + 1;
        cavity.x = label.x;
        cavity.y = label.y;
        foundAt[i] = int(found.size());
        found.push_back(cavity);
    }
    for (const auto &seed : m_seeds) {
        const int at = foundAt[size_t(root(seed.second))];
        if (at >= 0)
            found[size_t(at)].seeds.push_back(seed.first);
    }
    std::stable_sort(
        found.begin(), found.end(), [](const Cavity &a, const Cavity &b) { return a.firstLayer < b.firstLayer; });
    return found;
}

std::vector<TrapCheck::Cavity> TrapCheck::find(
    CrushedPrintJob &job, double pixelMm, const std::function<void(int layersDone)> &progress)
{
    TrapCheck check;
    const int layers = job.getTotalLayers();
    for (int k = 0; k < layers; ++k) {
        check.addLayer(IslandCheck::layerMask(job, k));
        if (progress)
            progress(k + 1);
    }
    return check.cavities(pixelMm, job.layerThicknessText().toDouble());
}

int TrapCheck::countLarger(const std::vector<Cavity> &cavities, double minimumMm3)
{
    return int(std::count_if(
        cavities.begin(), cavities.end(), [minimumMm3](const Cavity &c) { return c.volumeMm3 > minimumMm3; }));
}
