#include "footprintpacker.h"

#include <algorithm>
#include <numeric>

namespace FootprintPacker {

namespace {

// Rounding of the coordinates summed from sizes and gaps must not refuse a footprint
// that fits exactly.
constexpr double kTolerance = 1e-9;

bool clearOf(const QRectF &candidate, const std::vector<QRectF> &taken, double gap)
{
    return std::none_of(taken.begin(), taken.end(), [&](const QRectF &other) {
        return candidate.left() < other.right() + gap - kTolerance
            && other.left() < candidate.right() + gap - kTolerance
            && candidate.top() < other.bottom() + gap - kTolerance
            && other.top() < candidate.bottom() + gap - kTolerance;
    });
}

// The smallest rectangle holding both (QRectF::united() passes over empty ones).
QRectF joined(const QRectF &a, const QRectF &b)
{
    return QRectF(QPointF(std::min(a.left(), b.left()), std::min(a.top(), b.top())),
        QPointF(std::max(a.right(), b.right()), std::max(a.bottom(), b.bottom())));
}

std::vector<double> sortedUnique(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

} // namespace

std::optional<QPointF> freeSpot(const QSizeF &size, const QRectF &area, const std::vector<QRectF> &taken, double gap)
{
    std::vector<double> xs {area.left()};
    std::vector<double> zs {area.top()};
    for (const QRectF &other : taken) {
        xs.push_back(other.right() + gap);
        zs.push_back(other.bottom() + gap);
    }
    for (double z : sortedUnique(zs)) {
        if (z < area.top() || z + size.height() > area.bottom() + kTolerance)
            continue;
        for (double x : sortedUnique(xs)) {
            if (x < area.left() || x + size.width() > area.right() + kTolerance)
                continue;
            if (clearOf(QRectF(QPointF(x, z), size), taken, gap))
                return QPointF(x, z);
        }
    }
    return std::nullopt;
}

std::vector<std::optional<QRectF>> pack(const std::vector<QSizeF> &sizes, const QRectF &area, double gap)
{
    // Deepest first, then widest: rows of similar depth waste the least.
    std::vector<size_t> order(sizes.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (sizes[a].height() != sizes[b].height())
            return sizes[a].height() > sizes[b].height();
        return sizes[a].width() > sizes[b].width();
    });
    std::vector<std::optional<QRectF>> placed(sizes.size());
    std::vector<QRectF> taken;
    std::optional<QRectF> group;
    for (size_t index : order) {
        const std::optional<QPointF> spot = freeSpot(sizes[index], area, taken, gap);
        if (!spot)
            continue;
        const QRectF rect(*spot, sizes[index]);
        placed[index] = rect;
        taken.push_back(rect);
        group = group ? joined(*group, rect) : rect;
    }
    if (!group)
        return placed;
    // The group was packed from the back left corner: move it to the middle.
    const QPointF shift = area.center() - group->center();
    for (std::optional<QRectF> &rect : placed) {
        if (rect)
            rect->translate(shift);
    }
    return placed;
}

} // namespace FootprintPacker
