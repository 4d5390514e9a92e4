#pragma once

// An independent reference for layer images, sharing nothing with the slicer: the exact
// section of a closed triangle mesh at a height, and which pixel centres of a 1280 x 800
// layer (0.1 mm pixels, the image centre at the origin, y up) lie in its material.
//
// Every triangle crossing the plane gives one segment, oriented along z x n (n from the
// vertex order), which leaves the material on its left. The signed shoelace sum of those
// segments is the exact area of the polygonal section, and a scanline over them with the
// winding rule tells which pixel centres lie in the material. A layer image is right when
// its solid pixels are exactly those, give or take a pixel whose centre lies within
// rounding of an edge.

#include "testmeshes.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace SliceReference {

constexpr int kWidth = 1280;
constexpr int kHeight = 800;
constexpr double kPixel = 0.1; // millimetres (slice-plane units) per pixel
constexpr double kPixelArea = kPixel * kPixel;
constexpr QRgb kSolid = 0xFFFF0000u;
constexpr QRgb kEmpty = 0xFF000000u;
constexpr QRgb kCancelled = 0x00000000u; // covered equally by outer and inner contours

// Pixel centres in the slice plane: the image centre is the origin, y up.
inline double columnCentre(int column)
{
    return -64.0 + (column + 0.5) * kPixel;
}

inline double rowCentre(int row)
{
    return 40.0 - (row + 0.5) * kPixel;
}

struct Point3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// A triangle in the slicer's frame (z up), in double precision.
struct Facet {
    Point3 a;
    Point3 b;
    Point3 c;
};

struct Segment {
    double x0 = 0.0;
    double y0 = 0.0;
    double x1 = 0.0;
    double y1 = 0.0;
};

// The true cross-section of a mesh at one height.
struct Section {
    std::vector<Segment> segments;
    double area = 0.0; // mm^2, material positive
    double perimeter = 0.0; // mm
};

// Rotation about y, then x, then z (degrees), as the scene transform rotates.
struct Rotation {
    double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

    explicit Rotation(const QVector3D &degrees)
    {
        const double ax = double(degrees.x()) * TestMesh::kPi / 180.0;
        const double ay = double(degrees.y()) * TestMesh::kPi / 180.0;
        const double az = double(degrees.z()) * TestMesh::kPi / 180.0;
        const double rx[3][3] = {{1, 0, 0}, {0, std::cos(ax), -std::sin(ax)}, {0, std::sin(ax), std::cos(ax)}};
        const double ry[3][3] = {{std::cos(ay), 0, std::sin(ay)}, {0, 1, 0}, {-std::sin(ay), 0, std::cos(ay)}};
        const double rz[3][3] = {{std::cos(az), -std::sin(az), 0}, {std::sin(az), std::cos(az), 0}, {0, 0, 1}};
        double xy[3][3];
        multiply(rx, ry, xy);
        multiply(rz, xy, m);
    }

    static void multiply(const double a[3][3], const double b[3][3], double out[3][3])
    {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                out[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    }

    Point3 apply(double x, double y, double z) const
    {
        return {m[0][0] * x + m[0][1] * y + m[0][2] * z, m[1][0] * x + m[1][1] * y + m[1][2] * z,
            m[2][0] * x + m[2][1] * y + m[2][2] * z};
    }
};

// The triangles after scale, rotation and translation, as the slicer places them.
inline std::vector<Facet> placedFacets(const QList<MeshTriangle *> &triangles,
    const QVector3D &translation = QVector3D(), const QVector3D &rotation = QVector3D(),
    const QVector3D &scale = QVector3D(1, 1, 1))
{
    const Rotation r(rotation);
    const auto place = [&](const QVector3D &v) {
        const Point3 p = r.apply(
            double(v.x()) * double(scale.x()), double(v.y()) * double(scale.y()), double(v.z()) * double(scale.z()));
        return Point3 {p.x + double(translation.x()), p.y + double(translation.y()), p.z + double(translation.z())};
    };
    std::vector<Facet> out;
    for (const MeshTriangle *t : triangles)
        out.push_back({place(t->a), place(t->b), place(t->c)});
    return out;
}

inline double signedVolume(const std::vector<Facet> &facets)
{
    double sum = 0.0;
    for (const Facet &f : facets)
        sum += f.a.x * (f.b.y * f.c.z - f.b.z * f.c.y) + f.a.y * (f.b.z * f.c.x - f.b.x * f.c.z)
            + f.a.z * (f.b.x * f.c.y - f.b.y * f.c.x);
    return sum / 6.0;
}

inline void zRange(const std::vector<Facet> &facets, double *bottom, double *top)
{
    *bottom = 1e300;
    *top = -1e300;
    for (const Facet &f : facets) {
        *bottom = std::min({*bottom, f.a.z, f.b.z, f.c.z});
        *top = std::max({*top, f.a.z, f.b.z, f.c.z});
    }
}

inline Section sectionAt(const std::vector<Facet> &facets, double height)
{
    Section section;
    for (const Facet &f : facets) {
        const Point3 *corners[3] = {&f.a, &f.b, &f.c};
        double points[2][2];
        int found = 0;
        for (int e = 0; e < 3; ++e) {
            const Point3 &p = *corners[e];
            const Point3 &q = *corners[(e + 1) % 3];
            if ((p.z > height) == (q.z > height))
                continue;
            // From the upper end, so that both triangles of an edge get the same point.
            const Point3 &upper = p.z > height ? p : q;
            const Point3 &lower = p.z > height ? q : p;
            const double t = (upper.z - height) / (upper.z - lower.z);
            points[found][0] = upper.x + t * (lower.x - upper.x);
            points[found][1] = upper.y + t * (lower.y - upper.y);
            ++found;
        }
        if (found != 2)
            continue;
        // The cut runs along z x n; the material is then on its left.
        const double ux = f.b.x - f.a.x, uy = f.b.y - f.a.y, uz = f.b.z - f.a.z;
        const double vx = f.c.x - f.a.x, vy = f.c.y - f.a.y, vz = f.c.z - f.a.z;
        const double nx = uy * vz - uz * vy;
        const double ny = uz * vx - ux * vz;
        Segment s {points[0][0], points[0][1], points[1][0], points[1][1]};
        if ((s.x1 - s.x0) * -ny + (s.y1 - s.y0) * nx < 0.0) {
            std::swap(s.x0, s.x1);
            std::swap(s.y0, s.y1);
        }
        section.area += 0.5 * (s.x0 * s.y1 - s.x1 * s.y0);
        section.perimeter += std::hypot(s.x1 - s.x0, s.y1 - s.y0);
        section.segments.push_back(s);
    }
    return section;
}

// Solid column intervals [from, to) of every row.
using RowIntervals = std::vector<std::vector<std::pair<int, int>>>;

// Which pixel centres of each row lie in the material of a section (winding rule).
inline RowIntervals referenceRows(const Section &section)
{
    std::vector<std::vector<std::pair<int, int>>> events(kHeight); // column, winding change
    for (const Segment &s : section.segments) {
        if (s.y0 == s.y1)
            continue;
        const double low = std::min(s.y0, s.y1);
        const double high = std::max(s.y0, s.y1);
        const int firstRow = std::max(0, int(std::floor((40.0 - high) / kPixel - 0.5)) - 1);
        const int lastRow = std::min(kHeight - 1, int(std::ceil((40.0 - low) / kPixel - 0.5)) + 1);
        for (int row = firstRow; row <= lastRow; ++row) {
            const double y = rowCentre(row);
            if ((s.y0 <= y) == (s.y1 <= y))
                continue;
            const double x = s.x0 + (y - s.y0) * (s.x1 - s.x0) / (s.y1 - s.y0);
            // Inside from the first column whose centre is at or right of the crossing.
            const int column = int(std::clamp(std::ceil((x + 64.0) / kPixel - 0.5), 0.0, double(kWidth)));
            // Going down, the material is on the right.
            events[size_t(row)].push_back({column, s.y1 < s.y0 ? 1 : -1});
        }
    }
    RowIntervals rows(kHeight);
    for (int row = 0; row < kHeight; ++row) {
        auto &e = events[size_t(row)];
        std::sort(e.begin(), e.end());
        int winding = 0;
        int start = 0;
        for (const auto &event : e) {
            const int before = winding;
            winding += event.second;
            if (before == 0 && winding != 0)
                start = event.first;
            else if (before != 0 && winding == 0 && event.first > start)
                rows[size_t(row)].push_back({start, event.first});
        }
    }
    return rows;
}

inline RowIntervals rectangleRows(int left, int right, int top, int bottom)
{
    RowIntervals rows(kHeight);
    for (int row = std::max(0, top); row <= std::min(kHeight - 1, bottom); ++row)
        rows[size_t(row)].push_back({left, right + 1});
    return rows;
}

struct Comparison {
    long engine = 0; // solid pixels of the layer image
    long reference = 0; // pixels expected solid
    long mismatches = 0; // pixels where the two differ
    long strange = 0; // pixels neither solid, empty nor cancelled
    long cancelled = 0; // pixels covered equally by outer and inner contours
    QString first; // the first differing pixel
};

inline const QRgb *uniformRow(QRgb value)
{
    static const std::vector<QRgb> solid(kWidth, kSolid);
    static const std::vector<QRgb> empty(kWidth, kEmpty);
    return value == kSolid ? solid.data() : empty.data();
}

// One span of a row that should be all solid or all not solid. Spans that match the
// plain value byte for byte are taken at once; the others pixel by pixel.
inline void compareSpan(const QRgb *line, int row, int from, int to, bool solid, Comparison *c)
{
    if (to <= from)
        return;
    if (solid)
        c->reference += to - from;
    const QRgb plain = solid ? kSolid : kEmpty;
    if (std::memcmp(line + from, uniformRow(plain) + from, size_t(to - from) * sizeof(QRgb)) == 0) {
        c->engine += solid ? to - from : 0;
        return;
    }
    for (int column = from; column < to; ++column) {
        const QRgb value = line[column];
        const bool isSolid = value == kSolid;
        if (!isSolid && value != kEmpty && value != kCancelled)
            ++c->strange;
        if (value == kCancelled)
            ++c->cancelled;
        c->engine += isSolid ? 1 : 0;
        if (isSolid != solid) {
            if (c->mismatches == 0)
                c->first
                    = QStringLiteral("pixel (%1, %2) is %3").arg(column).arg(row).arg(value, 8, 16, QLatin1Char('0'));
            ++c->mismatches;
        }
    }
}

inline Comparison compareRows(const QImage &image, const RowIntervals &rows)
{
    Comparison c;
    for (int row = 0; row < kHeight; ++row) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(row));
        int column = 0;
        for (const auto &interval : rows[size_t(row)]) {
            compareSpan(line, row, column, interval.first, false, &c);
            compareSpan(line, row, interval.first, interval.second, true, &c);
            column = interval.second;
        }
        compareSpan(line, row, column, kWidth, false, &c);
    }
    return c;
}

inline Comparison compare(const QImage &image, const Section &section)
{
    return compareRows(image, referenceRows(section));
}

// The pixels a plain layer image must show for a box section, exactly: solid on
// columns [left, right] and rows [top, bottom], opaque black elsewhere.
inline bool isExactRectangle(const QImage &image, int left, int right, int top, int bottom, QString *why)
{
    const Comparison c = compareRows(image, rectangleRows(left, right, top, bottom));
    if (c.mismatches == 0 && c.strange == 0 && c.cancelled == 0)
        return true;
    *why = QStringLiteral("%1 pixels differ (%2), %3 pixels of unknown value, %4 transparent")
               .arg(c.mismatches)
               .arg(c.first)
               .arg(c.strange)
               .arg(c.cancelled);
    return false;
}

} // namespace SliceReference
