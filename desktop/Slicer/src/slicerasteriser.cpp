#include "slicerasteriser.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kSolidRed = 0xFFFF0000u;
constexpr QRgb kTransparent = 0x00000000u;

// The first column whose centre lies at or right of slice-plane x, clamped to the image.
int firstColumnAtOrRightOf(double x)
{
    const double column = std::ceil((x + 64.0) / SliceRasteriser::kPixelSize - 0.5);
    return static_cast<int>(std::clamp(column, 0.0, double(SliceRasteriser::kWidth)));
}

double signedArea(const std::vector<SlicePoint> &points)
{
    double sum = 0.0;
    const size_t n = points.size();
    for (size_t i = 0; i < n; ++i) {
        const SlicePoint &p = points[i];
        const SlicePoint &q = points[(i + 1) % n];
        sum += double(p.x) * q.y - double(q.x) * p.y;
    }
    return sum / 2.0;
}

} // namespace

void SliceRasteriser::collectEvents(const SliceLayer &layer)
{
    m_rows.resize(kHeight);
    for (auto &row : m_rows)
        row.clear();
    for (const SliceLoop &loop : layer.loops) {
        const size_t n = loop.points.size();
        if (n < 3)
            continue;
        const double area = signedArea(loop.points);
        if (area == 0.0)
            continue;
        // Inside the contour counts once, whichever way its points run.
        const int sign = area > 0.0 ? 1 : -1;
        for (size_t i = 0; i < n; ++i) {
            const double x0 = loop.points[i].x;
            const double y0 = loop.points[i].y;
            const double x1 = loop.points[(i + 1) % n].x;
            const double y1 = loop.points[(i + 1) % n].y;
            if (y0 == y1)
                continue;
            const double low = std::min(y0, y1);
            const double high = std::max(y0, y1);
            const int firstRow = std::max(0, static_cast<int>(std::floor((40.0 - high) / kPixelSize - 0.5)));
            const int lastRow = std::min(kHeight - 1, static_cast<int>(std::ceil((40.0 - low) / kPixelSize - 0.5)));
            // Crossing a row's centre line going down counts +1 to the right of it.
            const int delta = (y0 > y1 ? 1 : -1) * sign;
            for (int row = firstRow; row <= lastRow; ++row) {
                const double centre = rowCentre(row);
                if ((y0 <= centre) == (y1 <= centre))
                    continue;
                const double x = x0 + (centre - y0) * (x1 - x0) / (y1 - y0);
                Event event {firstColumnAtOrRightOf(x), 0, 0};
                (loop.outer ? event.outerDelta : event.innerDelta) = delta;
                m_rows[size_t(row)].push_back(event);
            }
        }
    }
}

void SliceRasteriser::drawLines(const SliceLayer &layer)
{
    if (m_lineCoverage.empty()) {
        m_lineCoverage.assign(size_t(kWidth) * kHeight, 0.0f);
        m_touchedLeft.assign(kHeight, kWidth);
        m_touchedRight.assign(kHeight, -1);
    }
    for (const SliceLoop &loop : layer.loops) {
        for (int index : loop.segments) {
            const SliceSegment &segment = layer.segments[size_t(index)];
            // In pixel units: column and row coordinates of the two ends.
            const double ax = (segment.start.x + 64.0) / kPixelSize - 0.5;
            const double ay = (40.0 - segment.start.y) / kPixelSize - 0.5;
            const double bx = (segment.end.x + 64.0) / kPixelSize - 0.5;
            const double by = (40.0 - segment.end.y) / kPixelSize - 0.5;
            const double dx = bx - ax;
            const double dy = by - ay;
            const double lengthSquared = dx * dx + dy * dy;
            if (lengthSquared <= 0.0)
                continue;
            const double length = std::sqrt(lengthSquared);
            const int left = std::max(0, static_cast<int>(std::floor(std::min(ax, bx) - 1.0)));
            const int right = std::min(kWidth - 1, static_cast<int>(std::ceil(std::max(ax, bx) + 1.0)));
            const int top = std::max(0, static_cast<int>(std::floor(std::min(ay, by) - 1.0)));
            const int bottom = std::min(kHeight - 1, static_cast<int>(std::ceil(std::max(ay, by) + 1.0)));
            for (int row = top; row <= bottom; ++row) {
                float *line = m_lineCoverage.data() + size_t(row) * kWidth;
                m_touchedLeft[size_t(row)] = std::min(m_touchedLeft[size_t(row)], left);
                m_touchedRight[size_t(row)] = std::max(m_touchedRight[size_t(row)], right);
                for (int column = left; column <= right; ++column) {
                    const double px = column - ax;
                    const double py = row - ay;
                    // A one-pixel-wide strip along the segment, without end caps, so that
                    // consecutive segments of a contour barely overlap.
                    const double along = (px * dx + py * dy) / lengthSquared;
                    if (along < 0.0 || along >= 1.0)
                        continue;
                    const double distance = std::abs(px * dy - py * dx) / length;
                    if (distance < 1.0)
                        line[column] += static_cast<float>(1.0 - distance);
                }
            }
        }
    }
}

void SliceRasteriser::collectSubRowCrossings(const SliceLayer &layer, int subRows)
{
    m_subRows.resize(size_t(kHeight) * size_t(subRows));
    for (auto &line : m_subRows)
        line.clear();
    const int lines = static_cast<int>(m_subRows.size());
    for (const SliceLoop &loop : layer.loops) {
        const size_t n = loop.points.size();
        const double area = n < 3 ? 0.0 : signedArea(loop.points);
        if (area == 0.0)
            continue;
        const int sign = area > 0.0 ? 1 : -1;
        for (size_t i = 0; i < n; ++i) {
            // In pixel units: u to the right, v downwards from the image's top edge.
            const double u0 = (loop.points[i].x + 64.0) / kPixelSize;
            const double v0 = (40.0 - loop.points[i].y) / kPixelSize;
            const double u1 = (loop.points[(i + 1) % n].x + 64.0) / kPixelSize;
            const double v1 = (40.0 - loop.points[(i + 1) % n].y) / kPixelSize;
            if (v0 == v1)
                continue;
            // Sub-row line s lies at v = (s + 0.5) / subRows; same half-open rule as rows.
            const int first = std::max(0, static_cast<int>(std::floor(std::min(v0, v1) * subRows - 0.5)));
            const int last = std::min(lines - 1, static_cast<int>(std::ceil(std::max(v0, v1) * subRows - 0.5)));
            const int delta = (v0 < v1 ? 1 : -1) * sign;
            for (int line = first; line <= last; ++line) {
                const double v = (line + 0.5) / subRows;
                if ((v0 >= v) == (v1 >= v))
                    continue;
                Crossing crossing {static_cast<float>(u0 + (v - v0) * (u1 - u0) / (v1 - v0)), 0, 0};
                (loop.outer ? crossing.outerDelta : crossing.innerDelta) = delta;
                m_subRows[size_t(line)].push_back(crossing);
            }
        }
    }
}

// Adds the solid intervals of one sub-row line, weighted, to the pixel row's coverage.
void SliceRasteriser::addSubRowCoverage(std::vector<Crossing> &crossings, float weight)
{
    std::sort(
        crossings.begin(), crossings.end(), [](const Crossing &a, const Crossing &b) { return a.column < b.column; });
    const auto addSpan = [&](float from, float to) {
        from = std::clamp(from, 0.0f, float(kWidth));
        to = std::clamp(to, 0.0f, float(kWidth));
        if (!(to > from))
            return;
        const int left = std::min(kWidth - 1, static_cast<int>(from));
        const int right = static_cast<int>(to);
        m_spanLeft = std::min(m_spanLeft, left);
        m_spanRight = std::max(m_spanRight, std::min(right, kWidth - 1));
        if (left == right) {
            m_rowCoverage[size_t(left)] += (to - from) * weight;
            return;
        }
        m_rowCoverage[size_t(left)] += (float(left + 1) - from) * weight;
        m_rowSteps[size_t(left) + 1] += weight;
        m_rowSteps[size_t(right)] -= weight;
        if (right < kWidth)
            m_rowCoverage[size_t(right)] += (to - float(right)) * weight;
    };
    int outer = 0;
    int inner = 0;
    float start = 0.0f;
    for (const Crossing &crossing : crossings) {
        const bool wasSolid = outer != inner;
        outer += crossing.outerDelta;
        inner += crossing.innerDelta;
        const bool solid = outer != inner;
        if (solid && !wasSolid)
            start = crossing.column;
        else if (!solid && wasSolid)
            addSpan(start, crossing.column);
    }
}

void SliceRasteriser::renderSupersampled(int subRows)
{
    if (m_image.format() != QImage::Format_Grayscale8)
        m_image = QImage(kWidth, kHeight, QImage::Format_Grayscale8);
    m_rowCoverage.assign(size_t(kWidth), 0.0f);
    m_rowSteps.assign(size_t(kWidth) + 1, 0.0f);
    const float weight = 1.0f / float(subRows);
    for (int row = 0; row < kHeight; ++row) {
        m_spanLeft = kWidth;
        m_spanRight = -1;
        for (int sub = 0; sub < subRows; ++sub)
            addSubRowCoverage(m_subRows[size_t(row) * size_t(subRows) + size_t(sub)], weight);
        uchar *grey = m_image.scanLine(row);
        if (m_spanRight < 0) {
            std::memset(grey, 0, size_t(kWidth));
            continue;
        }
        // Only the columns a span reached are read, and cleared again for the next row.
        std::memset(grey, 0, size_t(m_spanLeft));
        std::memset(grey + m_spanRight + 1, 0, size_t(kWidth - m_spanRight - 1));
        float full = 0.0f;
        for (int x = m_spanLeft; x <= m_spanRight; ++x) {
            full += m_rowSteps[size_t(x)];
            const float coverage = std::clamp(full + m_rowCoverage[size_t(x)], 0.0f, 1.0f);
            grey[x] = static_cast<uchar>(std::lround(coverage * 255.0f));
        }
        std::fill(m_rowCoverage.begin() + m_spanLeft, m_rowCoverage.begin() + m_spanRight + 1, 0.0f);
        std::fill(m_rowSteps.begin() + m_spanLeft, m_rowSteps.begin() + m_spanRight + 2, 0.0f);
    }
}

QImage SliceRasteriser::render(const SliceLayer &layer, bool antiAliased, int supersampling)
{
    if (antiAliased && isSupersampling(supersampling)) {
        collectSubRowCrossings(layer, supersampling);
        renderSupersampled(supersampling);
        return m_image;
    }
    collectEvents(layer);
    if (antiAliased)
        drawLines(layer);

    const QImage::Format format = antiAliased ? QImage::Format_Grayscale8 : QImage::Format_ARGB32;
    if (m_image.format() != format)
        m_image = QImage(kWidth, kHeight, format);
    QImage &image = m_image;
    for (int row = 0; row < kHeight; ++row) {
        std::vector<Event> &events = m_rows[size_t(row)];
        std::sort(events.begin(), events.end(), [](const Event &a, const Event &b) { return a.column < b.column; });
        int outer = 0;
        int inner = 0;
        int column = 0;
        size_t next = 0;
        uchar *grey = antiAliased ? image.scanLine(row) : nullptr;
        QRgb *rgb = antiAliased ? nullptr : reinterpret_cast<QRgb *>(image.scanLine(row));
        const float *coverage = antiAliased ? m_lineCoverage.data() + size_t(row) * kWidth : nullptr;
        while (column < kWidth) {
            while (next < events.size() && events[next].column <= column) {
                outer += events[next].outerDelta;
                inner += events[next].innerDelta;
                ++next;
            }
            const int end = next < events.size() ? std::min(kWidth, events[next].column) : kWidth;
            const bool solid = outer != inner;
            if (antiAliased) {
                if (solid) {
                    std::memset(grey + column, 255, size_t(end - column));
                } else {
                    const int from = std::clamp(m_touchedLeft[size_t(row)], column, end);
                    const int to = std::clamp(m_touchedRight[size_t(row)] + 1, from, end);
                    std::memset(grey + column, 0, size_t(from - column));
                    for (int x = from; x < to; ++x)
                        grey[x] = static_cast<uchar>(std::min(1.0f, coverage[x]) * 255.0f + 0.5f);
                    std::memset(grey + to, 0, size_t(end - to));
                }
            } else {
                const QRgb value = solid ? kSolidRed : (outer == 0 && inner == 0 ? kBlack : kTransparent);
                std::fill(rgb + column, rgb + end, value);
            }
            column = end;
        }
        if (antiAliased && m_touchedRight[size_t(row)] >= 0) {
            float *line = m_lineCoverage.data() + size_t(row) * kWidth;
            std::fill(line + m_touchedLeft[size_t(row)], line + m_touchedRight[size_t(row)] + 1, 0.0f);
            m_touchedLeft[size_t(row)] = kWidth;
            m_touchedRight[size_t(row)] = -1;
        }
    }
    return image;
}
