#include "slicelayer.h"

#include "genslices.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLinkWindowX = 0.04;
constexpr double kLinkDistance = 0.03;
constexpr double kShortSegment = 0.001;
constexpr double kSameEndPoint = 1e-5;
constexpr double kSpikeDot = -0.999;
// A contour is split at most this many times per layer: a pathological mesh must not
// keep the slicer busy for ever.
constexpr int kMaxSplits = 10000;

double distance(const SlicePoint &a, const SlicePoint &b)
{
    const double dx = double(a.x) - b.x;
    const double dy = double(a.y) - b.y;
    return std::sqrt(dx * dx + dy * dy);
}

double dot(const SlicePoint &a, const SlicePoint &b)
{
    return double(a.x) * b.x + double(a.y) * b.y;
}

double cross(const SlicePoint &a, const SlicePoint &b)
{
    return double(a.x) * b.y - double(a.y) * b.x;
}

} // namespace

void SliceSegment::recomputeNormal()
{
    const double dx = double(end.x) - start.x;
    const double dy = double(end.y) - start.y;
    const double length = std::sqrt(dx * dx + dy * dy);
    if (length > 0.0)
        normal = {float(-dy / length), float(dx / length)};
}

double SliceSegment::length() const
{
    return distance(start, end);
}

SliceSet::SliceSet(const GenSlices *owner)
    : m_owner(owner)
{
    if (!owner)
        qDebug() << "SliceSet Constructor - No Parent Clone Specified!";
}

const SliceLayer &SliceSet::generate(double height, ScenePart part)
{
    m_layer = SliceLayer();
    m_layer.height = height;
    if (!m_owner)
        return m_layer;
    cut(height, part);
    link();
    buildLoops();
    for (SliceLoop &loop : m_layer.loops)
        cleanUp(loop);
    repair();
    return m_layer;
}

void SliceSet::cut(double height, ScenePart part)
{
    const std::vector<SliceTriangle> &triangles = m_owner->preparedTriangles();
    const auto range = m_owner->bucketTriangles(height);
    for (const int *it = range.first; it != range.second; ++it) {
        const SliceTriangle &t = triangles[size_t(*it)];
        if (!(t.minZ <= height && height < t.maxZ))
            continue; // also every horizontal triangle
        if (part != ScenePart::All && t.support != (part == ScenePart::Supports))
            continue;
        if ((t.maxCorner() - t.minCorner()).length() <= 1e-5f)
            continue;

        const QVector3D *corners[3] = {&t.a, &t.b, &t.c};
        SlicePoint points[2];
        int found = 0;
        for (int e = 0; e < 3 && found < 2; ++e) {
            const QVector3D &p = *corners[e];
            const QVector3D &q = *corners[(e + 1) % 3];
            const bool pAbove = p.z() > height;
            const bool qAbove = q.z() > height;
            if (pAbove == qAbove)
                continue;
            // Interpolated from the upper vertex, so that the two triangles sharing an
            // edge compute the very same point.
            const QVector3D &upper = pAbove ? p : q;
            const QVector3D &other = pAbove ? q : p;
            const double t01 = (double(upper.z()) - height) / std::abs(double(other.z()) - upper.z());
            points[found++] = {float(upper.x() + t01 * (double(other.x()) - upper.x())),
                float(upper.y() + t01 * (double(other.y()) - upper.y()))};
        }
        if (found != 2)
            continue;

        SliceSegment segment;
        segment.start = points[0];
        segment.end = points[1];
        // Orientation: the outward normal (the triangle's, in the plane) to the left.
        const double nx = t.normal.x();
        const double ny = t.normal.y();
        const double nLength = std::sqrt(nx * nx + ny * ny);
        const SlicePoint normal = nLength > 0.0 ? SlicePoint {float(nx / nLength), float(ny / nLength)} : SlicePoint();
        const SlicePoint middle = {(segment.start.x + segment.end.x) / 2.0f, (segment.start.y + segment.end.y) / 2.0f};
        const SlicePoint fromMiddle = {segment.start.x - middle.x, segment.start.y - middle.y};
        if (!(std::ceil(cross(normal, fromMiddle)) > 0.0))
            std::swap(segment.start, segment.end);
        segment.recomputeNormal();
        m_layer.segments.push_back(segment);
    }
}

void SliceSet::link()
{
    std::vector<SliceSegment> &segments = m_layer.segments;
    std::stable_sort(segments.begin(), segments.end(),
        [](const SliceSegment &a, const SliceSegment &b) { return a.start.x < b.start.x; });
    const int count = int(segments.size());
    for (int i = 0; i < count; ++i) {
        SliceSegment &segment = segments[size_t(i)];
        if (segment.next != -1)
            continue;
        const float low = float(segment.end.x - kLinkWindowX);
        const float high = float(segment.end.x + kLinkWindowX);
        auto first = std::lower_bound(
            segments.begin(), segments.end(), low, [](const SliceSegment &s, float x) { return s.start.x < x; });
        int best = -1;
        double bestDistance = 100000.0;
        for (auto it = first; it != segments.end() && it->start.x <= high; ++it) {
            const int j = int(it - segments.begin());
            if (j == i || it->previous != -1)
                continue;
            const double d = distance(segment.end, it->start);
            if (d <= kLinkDistance && d < bestDistance) {
                bestDistance = d;
                best = j;
            }
        }
        if (best == -1)
            continue;
        segment.next = best;
        segments[size_t(best)].previous = i;
        segment.end = segments[size_t(best)].start;
        segment.recomputeNormal();
    }
}

void SliceSet::buildLoops()
{
    std::vector<SliceSegment> &segments = m_layer.segments;
    const int original = int(segments.size());
    constexpr int kDropped = -2;
    for (int i = 0; i < original; ++i) {
        if (segments[size_t(i)].loop != -1)
            continue;
        // Back to the start of the chain, or once round a closed one.
        int head = i;
        for (int steps = 0; segments[size_t(head)].previous != -1 && steps <= original; ++steps) {
            const int previous = segments[size_t(head)].previous;
            if (previous == i)
                break;
            head = previous;
        }
        const int loopIndex = int(m_layer.loops.size());
        SliceLoop loop;
        loop.first = head;
        int current = head;
        while (true) {
            segments[size_t(current)].loop = loopIndex;
            loop.segments.push_back(current);
            const int next = segments[size_t(current)].next;
            if (next == -1) {
                // A gap: closed by a filler segment back to the first start point.
                SliceSegment filler;
                filler.start = segments[size_t(current)].end;
                filler.end = segments[size_t(head)].start;
                filler.recomputeNormal();
                filler.previous = current;
                filler.next = head;
                filler.loop = loopIndex;
                segments.push_back(filler);
                const int fillerIndex = int(segments.size()) - 1;
                segments[size_t(current)].next = fillerIndex;
                segments[size_t(head)].previous = fillerIndex;
                loop.segments.push_back(fillerIndex);
                loop.closed = true;
                loop.closedByFiller = true;
                break;
            }
            if (next == head) {
                loop.closed = true;
                break;
            }
            const int owner = segments[size_t(next)].loop;
            if (owner != -1 && owner != loopIndex) {
                qDebug().noquote() << "De-Rail Detected at " << loop.segments.size()
                                   << " segments, Check Neighbor code!";
                break;
            }
            if (owner == loopIndex) {
                qDebug().noquote() << "Loop Crossover at " << loop.segments.size() << " segments, Check Neighbor code!";
                break;
            }
            current = next;
        }
        if (loop.segments.size() < 3) {
            for (int index : loop.segments)
                segments[size_t(index)].loop = kDropped;
            continue;
        }
        m_layer.loops.push_back(std::move(loop));
    }
}

void SliceSet::cleanUp(SliceLoop &loop)
{
    SliceContours::removeShortSegments(m_layer, loop);
    SliceContours::orient(m_layer, loop);
    SliceContours::buildPoints(m_layer, loop);
}

void SliceSet::repair()
{
    std::vector<SliceSegment> &segments = m_layer.segments;
    int splits = 0;
    // Loops appended by a split are repaired later in the same pass.
    for (size_t l = 0; l < m_layer.loops.size(); ++l) {
        int first = -1;
        int second = -1;
        SlicePoint at;
        while (splits < kMaxSplits && SliceContours::findCrossing(m_layer, m_layer.loops[l], &first, &second, &at)) {
            ++splits;
            if (segments[size_t(first)].next == -1 || segments[size_t(second)].previous == -1)
                break;
            SliceSegment &i = segments[size_t(first)];
            const SlicePoint iEnd = i.end;
            const int iNext = i.next;
            const SlicePoint jStart = segments[size_t(second)].start;
            const int jPrevious = segments[size_t(second)].previous;
            // This loop: i runs to the crossing and continues into j from there.
            i.end = at;
            i.next = second;
            i.recomputeNormal();
            segments[size_t(second)].start = at;
            segments[size_t(second)].previous = first;
            segments[size_t(second)].recomputeNormal();
            // The other part: from i's old end round to j's old start, closed through
            // the crossing by two new segments.
            SliceSegment toCrossing;
            toCrossing.start = jStart;
            toCrossing.end = at;
            toCrossing.recomputeNormal();
            SliceSegment fromCrossing;
            fromCrossing.start = at;
            fromCrossing.end = iEnd;
            fromCrossing.recomputeNormal();
            const int a = int(segments.size());
            const int b = a + 1;
            toCrossing.previous = jPrevious;
            toCrossing.next = b;
            fromCrossing.previous = a;
            fromCrossing.next = iNext;
            segments.push_back(toCrossing);
            segments.push_back(fromCrossing);
            segments[size_t(jPrevious)].next = a;
            segments[size_t(iNext)].previous = b;

            SliceLoop part;
            part.first = b;
            part.closed = true;
            const int partIndex = int(m_layer.loops.size());
            SliceContours::relist(m_layer, part);
            for (int index : part.segments)
                segments[size_t(index)].loop = partIndex;

            SliceLoop &loop = m_layer.loops[l];
            loop.first = first;
            SliceContours::relist(m_layer, loop);
            cleanUp(loop);
            if (part.segments.size() >= 3) {
                cleanUp(part);
                m_layer.loops.push_back(std::move(part));
            }
        }
        SliceLoop &loop = m_layer.loops[l];
        if (loop.segments.size() >= 4)
            SliceContours::removeSpikes(m_layer, loop);
        SliceContours::orient(m_layer, loop);
        SliceContours::buildPoints(m_layer, loop);
    }
}

namespace SliceContours {

void relist(SliceLayer &layer, SliceLoop &loop)
{
    loop.segments.clear();
    if (loop.first < 0)
        return;
    const size_t limit = layer.segments.size();
    int current = loop.first;
    while (current != -1 && loop.segments.size() < limit) {
        loop.segments.push_back(current);
        current = layer.segments[size_t(current)].next;
        if (current == loop.first)
            break;
    }
}

void removeShortSegments(SliceLayer &layer, SliceLoop &loop)
{
    std::vector<SliceSegment> &segments = layer.segments;
    int allowed = int(loop.segments.size()) - 3;
    bool removedAny = false;
    for (int index : loop.segments) {
        if (allowed <= 0)
            break;
        SliceSegment &segment = segments[size_t(index)];
        if (segment.length() > kShortSegment || segment.previous == -1 || segment.next == -1)
            continue;
        SliceSegment &previous = segments[size_t(segment.previous)];
        SliceSegment &next = segments[size_t(segment.next)];
        if (dot(previous.normal, segment.normal) > dot(next.normal, segment.normal)) {
            previous.end = next.start;
            previous.recomputeNormal();
        } else {
            next.start = previous.end;
            next.recomputeNormal();
        }
        previous.next = segment.next;
        next.previous = segment.previous;
        segment.removed = true;
        if (loop.first == index)
            loop.first = segment.next;
        --allowed;
        removedAny = true;
    }
    if (removedAny)
        relist(layer, loop);
}

void removeSpikes(SliceLayer &layer, SliceLoop &loop)
{
    std::vector<SliceSegment> &segments = layer.segments;
    bool changed = true;
    while (changed && loop.segments.size() >= 4) {
        changed = false;
        for (int index : loop.segments) {
            SliceSegment &segment = segments[size_t(index)];
            if (segment.next == -1 || segment.next == index)
                continue;
            SliceSegment &next = segments[size_t(segment.next)];
            if (dot(segment.normal, next.normal) >= kSpikeDot)
                continue;
            const int absorbed = segment.next;
            segment.end = next.end;
            segment.next = next.next;
            if (next.next != -1)
                segments[size_t(next.next)].previous = index;
            next.removed = true;
            segment.recomputeNormal();
            if (loop.first == absorbed)
                loop.first = index;
            relist(layer, loop);
            changed = true;
            break;
        }
    }
}

void orient(SliceLayer &layer, SliceLoop &loop)
{
    const size_t n = loop.segments.size();
    if (n == 0)
        return;
    double sum = 0.0;
    for (size_t k = 0; k < n; ++k) {
        const SlicePoint &a = layer.segments[size_t(loop.segments[k])].normal;
        const SlicePoint &b = layer.segments[size_t(loop.segments[(k + 1) % n])].normal;
        const double c = std::clamp(cross(a, b), -1.0, 1.0);
        const double d = std::clamp(dot(a, b), -1.0, 1.0);
        sum += c >= 0.0 ? -std::acos(d) : std::acos(d);
    }
    loop.turningSum = sum;
    if (sum > 0.0)
        loop.outer = true;
    else if (sum < 0.0)
        loop.outer = false;
}

void buildPoints(SliceLayer &layer, SliceLoop &loop)
{
    loop.points.clear();
    loop.points.reserve(loop.segments.size());
    if (loop.outer) {
        for (int index : loop.segments)
            loop.points.push_back(layer.segments[size_t(index)].start);
    } else if (!loop.segments.empty()) {
        loop.points.push_back(layer.segments[size_t(loop.segments.front())].start);
        for (size_t k = loop.segments.size() - 1; k > 0; --k)
            loop.points.push_back(layer.segments[size_t(loop.segments[k])].start);
    }
}

bool findCrossing(const SliceLayer &layer, const SliceLoop &loop, int *first, int *second, SlicePoint *at)
{
    // Sweep over the segments sorted by their left end: only segments whose x ranges
    // overlap are compared, which keeps long contours near linear time.
    struct Span {
        float left;
        float right;
        int index;
    };
    std::vector<Span> spans;
    spans.reserve(loop.segments.size());
    for (int index : loop.segments) {
        const SliceSegment &s = layer.segments[size_t(index)];
        spans.push_back({std::min(s.start.x, s.end.x), std::max(s.start.x, s.end.x), index});
    }
    std::sort(spans.begin(), spans.end(),
        [](const Span &a, const Span &b) { return a.left < b.left || (a.left == b.left && a.index < b.index); });
    for (size_t p = 0; p < spans.size(); ++p) {
        const SliceSegment &s = layer.segments[size_t(spans[p].index)];
        for (size_t q = p + 1; q < spans.size() && spans[q].left <= spans[p].right; ++q) {
            const int i = spans[p].index;
            const int j = spans[q].index;
            const SliceSegment &t = layer.segments[size_t(j)];
            if (s.next == j || s.previous == j)
                continue;
            if (std::min(s.start.y, s.end.y) > std::max(t.start.y, t.end.y)
                || std::min(t.start.y, t.end.y) > std::max(s.start.y, s.end.y))
                continue;
            if (distance(s.start, t.start) < kSameEndPoint || distance(s.start, t.end) < kSameEndPoint
                || distance(s.end, t.start) < kSameEndPoint || distance(s.end, t.end) < kSameEndPoint)
                continue;
            const double rx = double(s.end.x) - s.start.x;
            const double ry = double(s.end.y) - s.start.y;
            const double sx = double(t.end.x) - t.start.x;
            const double sy = double(t.end.y) - t.start.y;
            const double denominator = rx * sy - ry * sx;
            if (denominator == 0.0)
                continue;
            const double qx = double(t.start.x) - s.start.x;
            const double qy = double(t.start.y) - s.start.y;
            const double u = (qx * sy - qy * sx) / denominator;
            const double v = (qx * ry - qy * rx) / denominator;
            if (u <= 0.0 || u >= 1.0 || v <= 0.0 || v >= 1.0)
                continue;
            // The crossing splits the contour in contour order: the earlier segment first.
            const auto position = [&](int index) {
                return std::find(loop.segments.begin(), loop.segments.end(), index) - loop.segments.begin();
            };
            const bool iFirst = position(i) < position(j);
            *first = iFirst ? i : j;
            *second = iFirst ? j : i;
            *at = {float(s.start.x + u * rx), float(s.start.y + u * ry)};
            return true;
        }
    }
    return false;
}

} // namespace SliceContours
