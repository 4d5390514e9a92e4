// Slicing accuracy: the layer images of solids whose cross-sections are known exactly
// (spheres, tori, boxes, built here as closed triangle meshes) are compared pixel by
// pixel and by area with sections that this test cuts from the same triangles; real
// meshes go through the editor's placement and are checked layer by layer and by
// volume; anti-aliased layers get white interiors, black surroundings and grey edges.
//
// The reference section of a closed mesh at height h: every triangle crossing the plane
// gives one segment, oriented along z x n (n from the vertex order), which leaves the
// material on its left. The signed shoelace sum of those segments is the exact area of
// the polygonal section, and a scanline over them with the winding rule tells which
// pixel centres lie in the material. A layer image is right when its solid pixels are
// exactly those, give or take a pixel whose centre lies within rounding of an edge.
#include "genslices.h"
#include "meshgeometry.h"
#include "meshimporter.h"
#include "testpaths.h"

#include <QImage>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 800;
constexpr double kPixel = 0.1; // millimetres (slice-plane units) per pixel
constexpr double kPixelArea = kPixel * kPixel;
constexpr QRgb kSolid = 0xFFFF0000u;
constexpr QRgb kEmpty = 0xFF000000u;
constexpr QRgb kCancelled = 0x00000000u; // covered equally by outer and inner contours
constexpr double kPi = 3.14159265358979323846;

// Pixel centres in the slice plane: the image centre is the origin, y up.
double columnCentre(int column)
{
    return -64.0 + (column + 0.5) * kPixel;
}

double rowCentre(int row)
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
        const double ax = double(degrees.x()) * kPi / 180.0;
        const double ay = double(degrees.y()) * kPi / 180.0;
        const double az = double(degrees.z()) * kPi / 180.0;
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

// Owns a triangle soup in the form the slicer takes.
class Soup
{
public:
    Soup() = default;
    ~Soup() { qDeleteAll(m_triangles); }
    Soup(const Soup &) = delete;
    Soup &operator=(const Soup &) = delete;

    void add(const QVector3D &a, const QVector3D &b, const QVector3D &c)
    {
        auto *t = new MeshTriangle;
        t->a = a;
        t->b = b;
        t->c = c;
        t->normal = MeshImporter::facetNormal(a, b, c);
        m_triangles.append(t);
    }

    const QList<MeshTriangle *> &triangles() const { return m_triangles; }
    QList<MeshTriangle *> &triangles() { return m_triangles; }

    // The triangles after scale, rotation and translation, as the slicer sees them.
    std::vector<Facet> facets(const QVector3D &translation = QVector3D(), const QVector3D &rotation = QVector3D(),
        const QVector3D &scale = QVector3D(1, 1, 1)) const
    {
        const Rotation r(rotation);
        const auto place = [&](const QVector3D &v) {
            const Point3 p = r.apply(double(v.x()) * double(scale.x()), double(v.y()) * double(scale.y()),
                double(v.z()) * double(scale.z()));
            return Point3 {p.x + double(translation.x()), p.y + double(translation.y()), p.z + double(translation.z())};
        };
        std::vector<Facet> out;
        out.reserve(size_t(m_triangles.size()));
        for (const MeshTriangle *t : m_triangles)
            out.push_back({place(t->a), place(t->b), place(t->c)});
        return out;
    }

private:
    QList<MeshTriangle *> m_triangles;
};

// A UV sphere: rings of latitude from pole to pole, outward winding, no degenerate
// triangles at the poles.
void addSphere(Soup &soup, const QVector3D &centre, double radius, int rings, int segments)
{
    const auto vertex = [&](int ring, int segment) {
        if (ring == 0)
            return centre + QVector3D(0, 0, float(radius));
        if (ring == rings)
            return centre - QVector3D(0, 0, float(radius));
        const double theta = kPi * ring / rings;
        const double phi = 2.0 * kPi * (segment % segments) / segments;
        return centre
            + QVector3D(float(radius * std::sin(theta) * std::cos(phi)),
                float(radius * std::sin(theta) * std::sin(phi)), float(radius * std::cos(theta)));
    };
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            if (i != rings - 1)
                soup.add(vertex(i, j), vertex(i + 1, j), vertex(i + 1, j + 1));
            if (i != 0)
                soup.add(vertex(i, j), vertex(i + 1, j + 1), vertex(i, j + 1));
        }
    }
}

// A torus about the z axis through centre: major radius R, tube radius r.
void addTorus(Soup &soup, const QVector3D &centre, double major, double minor, int around, int tube)
{
    const auto vertex = [&](int i, int j) {
        const double u = 2.0 * kPi * (i % around) / around;
        const double v = 2.0 * kPi * (j % tube) / tube;
        const double rho = major + minor * std::cos(v);
        return centre + QVector3D(float(rho * std::cos(u)), float(rho * std::sin(u)), float(minor * std::sin(v)));
    };
    for (int i = 0; i < around; ++i) {
        for (int j = 0; j < tube; ++j) {
            soup.add(vertex(i, j), vertex(i + 1, j), vertex(i + 1, j + 1));
            soup.add(vertex(i, j), vertex(i + 1, j + 1), vertex(i, j + 1));
        }
    }
}

// An axis-aligned box, outward winding.
void addBox(Soup &soup, const QVector3D &low, const QVector3D &high)
{
    const auto corner = [&](int i) {
        return QVector3D((i & 1) ? high.x() : low.x(), (i & 2) ? high.y() : low.y(), (i & 4) ? high.z() : low.z());
    };
    // Each face as four corners, counter-clockwise seen from outside.
    const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto &f : faces) {
        soup.add(corner(f[0]), corner(f[1]), corner(f[2]));
        soup.add(corner(f[0]), corner(f[2]), corner(f[3]));
    }
}

double signedVolume(const std::vector<Facet> &facets)
{
    double sum = 0.0;
    for (const Facet &f : facets)
        sum += f.a.x * (f.b.y * f.c.z - f.b.z * f.c.y) + f.a.y * (f.b.z * f.c.x - f.b.x * f.c.z)
            + f.a.z * (f.b.x * f.c.y - f.b.y * f.c.x);
    return sum / 6.0;
}

void zRange(const std::vector<Facet> &facets, double *bottom, double *top)
{
    *bottom = 1e300;
    *top = -1e300;
    for (const Facet &f : facets) {
        *bottom = std::min({*bottom, f.a.z, f.b.z, f.c.z});
        *top = std::max({*top, f.a.z, f.b.z, f.c.z});
    }
}

Section sectionAt(const std::vector<Facet> &facets, double height)
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
RowIntervals referenceRows(const Section &section)
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

RowIntervals rectangleRows(int left, int right, int top, int bottom)
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

const QRgb *uniformRow(QRgb value)
{
    static const std::vector<QRgb> solid(kWidth, kSolid);
    static const std::vector<QRgb> empty(kWidth, kEmpty);
    return value == kSolid ? solid.data() : empty.data();
}

// One span of a row that should be all solid or all not solid. Spans that match the
// plain value byte for byte are taken at once; the others pixel by pixel.
void compareSpan(const QRgb *line, int row, int from, int to, bool solid, Comparison *c)
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

Comparison compareRows(const QImage &image, const RowIntervals &rows)
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

Comparison compare(const QImage &image, const Section &section)
{
    return compareRows(image, referenceRows(section));
}

// The pixels a plain layer image must show for a box section, exactly: solid on
// columns [left, right] and rows [top, bottom], opaque black elsewhere.
bool isExactRectangle(const QImage &image, int left, int right, int top, int bottom, QString *why)
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

// How a series of layers compared with their sections.
struct Series {
    int layers = 0;
    double worstAreaError = 0.0; // pixels
    double worstAreaRatio = 0.0; // error / allowance
    long worstMismatches = 0;
    std::vector<long> pixels; // solid pixels of each layer checked
    std::vector<double> areas; // their sections, mm^2
};

// The allowance for a pixel count against an exact area: half a pixel along the
// perimeter plus a little.
double areaAllowance(const Section &section)
{
    return 0.5 * section.perimeter / kPixel + 4.0;
}

// The allowance for pixels that differ from the reference: centres within float rounding
// of an edge.
long mismatchAllowance(const Section &section)
{
    return 2 + long(section.perimeter / kPixel / 500.0);
}

// Every step-th layer from the first, and the last one.
std::vector<int> sampledLayers(int count, int step)
{
    std::vector<int> layers;
    for (int k = 0; k < count; k += step)
        layers.push_back(k);
    if (count > 0 && layers.back() != count - 1)
        layers.push_back(count - 1);
    return layers;
}

// Slices every step-th layer (and the last one) and compares each with the reference.
// Fails the running test on the first layer out of bounds. Where bodies overlap, the
// shoelace sum counts the overlap twice: only the pixels are compared then.
Series checkLayers(const GenSlices &slicer, const std::vector<Facet> &facets, double thickness, int step,
    const char *what, bool bodiesOverlap = false)
{
    Series series;
    double bottom = 0.0;
    double top = 0.0;
    zRange(facets, &bottom, &top);
    int expectedLayers = 0;
    while (top > bottom + thickness / 2.0 + expectedLayers * thickness)
        ++expectedLayers;
    const int count = slicer.layerCount();
    if (count != expectedLayers) {
        QTest::qFail(qPrintable(QStringLiteral("%1: %2 layers, expected %3").arg(what).arg(count).arg(expectedLayers)),
            __FILE__, __LINE__);
        return series;
    }
    for (int k : sampledLayers(count, step)) {
        const double height = bottom + thickness / 2.0 + k * thickness;
        if (std::abs(slicer.layerHeight(k) - height) > 1e-5) {
            QTest::qFail(qPrintable(QStringLiteral("%1: layer %2 at %3 mm, expected %4 mm")
                                        .arg(what)
                                        .arg(k)
                                        .arg(slicer.layerHeight(k), 0, 'f', 6)
                                        .arg(height, 0, 'f', 6)),
                __FILE__, __LINE__);
            return series;
        }
        const QImage image = slicer.layerImage(k, false);
        if (image.size() != QSize(kWidth, kHeight) || image.format() != QImage::Format_ARGB32) {
            QTest::qFail(qPrintable(QStringLiteral("%1: layer %2 image %3 x %4 format %5")
                                        .arg(what)
                                        .arg(k)
                                        .arg(image.width())
                                        .arg(image.height())
                                        .arg(int(image.format()))),
                __FILE__, __LINE__);
            return series;
        }
        const Section section = sectionAt(facets, slicer.layerHeight(k));
        const Comparison c = compare(image, section);
        const double areaError = std::abs(c.engine - section.area / kPixelArea);
        const double allowance = areaAllowance(section);
        ++series.layers;
        if (!bodiesOverlap) {
            series.worstAreaError = std::max(series.worstAreaError, areaError);
            series.worstAreaRatio = std::max(series.worstAreaRatio, areaError / allowance);
        }
        series.worstMismatches = std::max(series.worstMismatches, c.mismatches);
        series.pixels.push_back(c.engine);
        series.areas.push_back(section.area);
        if ((areaError > allowance && !bodiesOverlap) || c.mismatches > mismatchAllowance(section) || c.strange != 0) {
            QTest::qFail(qPrintable(QStringLiteral("%1: layer %2 at %3 mm: %4 solid pixels, section %5 mm^2 "
                                                   "(%6 pixel centres, perimeter %7 mm), %8 pixels differ, "
                                                   "%9 pixels of unknown value")
                                        .arg(what)
                                        .arg(k)
                                        .arg(slicer.layerHeight(k), 0, 'f', 4)
                                        .arg(c.engine)
                                        .arg(section.area, 0, 'f', 3)
                                        .arg(c.reference)
                                        .arg(section.perimeter, 0, 'f', 2)
                                        .arg(c.mismatches)
                                        .arg(c.strange)),
                __FILE__, __LINE__);
            return series;
        }
    }
    return series;
}

void report(const char *what, const Series &s)
{
    qInfo("%s: %d layers, worst area error %.2f px (%.0f%% of the allowance), worst differing pixels %ld", what,
        s.layers, s.worstAreaError, 100.0 * s.worstAreaRatio, s.worstMismatches);
}

QString meshPath(const QString &name)
{
    return TestPaths::sourceDir() + QStringLiteral("/tests/data/meshes/") + name;
}

// A model as the editor places it: imported, turned y up, sitting on y = 0, centred in
// x and z.
struct PlacedModel {
    Soup soup;
    double volume = 0.0; // mm^3, from the editor's geometry record
    bool ok = false;
};

void placeModel(const QString &path, PlacedModel *model)
{
    MeshImporter importer(path);
    if (importer.error() != MeshImporter::Error::None)
        return;
    QList<MeshTriangle *> triangles = importer.takeTriangles();
    MeshGeometry::orientForEditor(triangles);
    MeshGeometry geometry(triangles);
    const QVector3D shift(float(-(geometry.minX() + geometry.maxX()) / 2), float(-geometry.minY()),
        float(-(geometry.minZ() + geometry.maxZ()) / 2));
    model->volume = geometry.volume() * 1000.0;
    // The geometry record owns the triangles: give the soup copies.
    for (const MeshTriangle *t : geometry.triangles())
        model->soup.add(t->a + shift, t->b + shift, t->c + shift);
    model->ok = true;
}

const QVector3D kEditorToSlicer(90, 0, 0);

} // namespace

class TestSliceAccuracy : public QObject
{
    Q_OBJECT
private slots:
    // Spheres and tori: every sampled layer against the exact polygonal section.
    void roundSolidSections_data();
    void roundSolidSections();
    void rotatedScaledTorusSections();
    void overlappingAndNestedBodies();
    void cutHeightThroughVerticesAndFaces();

    // Boxes: exact pixel rectangles, placement through the editor's frame.
    void cubeIsExactSquareOnEveryLayer_data();
    void cubeIsExactSquareOnEveryLayer();
    void offCentreBoxLandsOnItsPixels();

    // Real meshes through the editor's placement.
    void closedMeshLayersAndVolume_data();
    void closedMeshLayersAndVolume();
    void openMeshesSliceWithinTheirFootprint_data();
    void openMeshesSliceWithinTheirFootprint();

    // Anti-aliased layers.
    void antiAliasedEdges_greyOutsideEveryContour_data();
    void antiAliasedEdges_greyOutsideEveryContour();
};

// ---------------------------------------------------------------------------------
// Spheres and tori

void TestSliceAccuracy::roundSolidSections_data()
{
    QTest::addColumn<bool>("torus");
    QTest::addColumn<double>("thickness");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("minimumLayers");
    QTest::newRow("sphere, 100 microns") << false << 0.1 << 3 << 90;
    QTest::newRow("sphere, 50 microns") << false << 0.05 << 6 << 90;
    QTest::newRow("sphere, 20 microns") << false << 0.02 << 15 << 90;
    QTest::newRow("torus, 100 microns") << true << 0.1 << 2 << 45;
    QTest::newRow("torus, 50 microns") << true << 0.05 << 4 << 45;
    QTest::newRow("torus, 20 microns") << true << 0.02 << 10 << 45;
}

void TestSliceAccuracy::roundSolidSections()
{
    QFETCH(bool, torus);
    QFETCH(double, thickness);
    QFETCH(int, step);
    QFETCH(int, minimumLayers);
    // Off the pixel grid on purpose, sitting on z = 0. The torus lies flat: annuli near
    // the middle, thin rings near top and bottom.
    Soup soup;
    if (torus)
        addTorus(soup, QVector3D(-0.31f, 0.173f, 5.0f), 14.0, 5.0, 96, 36);
    else
        addSphere(soup, QVector3D(0.237f, -0.413f, 15.0f), 15.0, 48, 96);
    const std::vector<Facet> facets = soup.facets();
    // The generator itself: a closed, outward mesh just inside the ideal solid.
    const double ideal = torus ? 2.0 * kPi * kPi * 14.0 * 5.0 * 5.0 : 4.0 / 3.0 * kPi * 15.0 * 15.0 * 15.0;
    QVERIFY(signedVolume(facets) > 0.97 * ideal);
    QVERIFY(signedVolume(facets) < ideal);

    GenSlices slicer;
    QVERIFY(slicer.prepare(soup.triangles(), thickness, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
    const Series s = checkLayers(slicer, facets, thickness, step, QTest::currentDataTag());
    if (QTest::currentTestFailed())
        return;
    report(QTest::currentDataTag(), s);
    QVERIFY(s.layers >= minimumLayers);
}

void TestSliceAccuracy::rotatedScaledTorusSections()
{
    // The scene transform in full: scale per axis, rotation about y, then x, then z,
    // translation. A tilted torus is cut into two separate loops, crescents and rings.
    const QVector3D translation(3.5f, -2.25f, 1.0f);
    const QVector3D scale(1.25f, 0.8f, 1.1f);
    for (const QVector3D &rotation : {QVector3D(60, 0, 0), QVector3D(0, 75, 0), QVector3D(35, 50, 20)}) {
        Soup soup;
        addTorus(soup, QVector3D(0.2f, -0.1f, 0.3f), 12.0, 4.0, 72, 30);
        const std::vector<Facet> facets = soup.facets(translation, rotation, scale);
        GenSlices slicer;
        QVERIFY(slicer.prepare(soup.triangles(), 0.1, translation, rotation, scale));
        const QByteArray what = QStringLiteral("rotation (%1, %2, %3)")
                                    .arg(double(rotation.x()))
                                    .arg(double(rotation.y()))
                                    .arg(double(rotation.z()))
                                    .toLatin1();
        const Series s = checkLayers(slicer, facets, 0.1, 4, what.constData());
        if (QTest::currentTestFailed())
            return;
        report(what.constData(), s);
    }
}

void TestSliceAccuracy::overlappingAndNestedBodies()
{
    // Separate closed bodies in one scene: a sphere overlapping the torus's tube counts
    // once where they overlap, a sphere standing free in the torus's hole is solid.
    Soup soup;
    addTorus(soup, QVector3D(0, 0, 5.0f), 14.0, 5.0, 72, 30);
    addSphere(soup, QVector3D(0.4f, -0.3f, 6.0f), 6.0, 30, 60);
    addSphere(soup, QVector3D(13.2f, 3.1f, 7.0f), 4.5, 24, 48);
    const std::vector<Facet> facets = soup.facets();
    GenSlices slicer;
    QVERIFY(slicer.prepare(soup.triangles(), 0.1, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
    const Series s = checkLayers(slicer, facets, 0.1, 3, "three bodies", true);
    if (QTest::currentTestFailed())
        return;
    report("three bodies", s);
    // Where the bodies overlap the solid area is less than the sum of their sections.
    bool overlapSeen = false;
    for (size_t i = 0; i < s.pixels.size(); ++i)
        overlapSeen = overlapSeen || double(s.pixels[i]) < s.areas[i] / kPixelArea - 500.0;
    QVERIFY(overlapSeen);
}

void TestSliceAccuracy::cutHeightThroughVerticesAndFaces()
{
    // With 0.125 mm layers the cut heights are exact binary fractions, so vertices and
    // horizontal faces can lie exactly on them. A cut takes what lies above it.
    {
        // A square double pyramid whose equator is the cut of layer 4.
        Soup soup;
        const QVector3D top(0.3f, 0.2f, 1.125f);
        const QVector3D bottom(0.3f, 0.2f, 0.0f);
        const QVector3D equator[4] = {QVector3D(5.3f, 0.2f, 0.5625f), QVector3D(0.3f, 5.2f, 0.5625f),
            QVector3D(-4.7f, 0.2f, 0.5625f), QVector3D(0.3f, -4.8f, 0.5625f)};
        for (int i = 0; i < 4; ++i) {
            soup.add(top, equator[i], equator[(i + 1) % 4]);
            soup.add(bottom, equator[(i + 1) % 4], equator[i]);
        }
        const std::vector<Facet> facets = soup.facets();
        GenSlices slicer;
        QVERIFY(slicer.prepare(soup.triangles(), 0.125, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
        QCOMPARE(slicer.layerCount(), 9);
        QCOMPARE(slicer.layerHeight(4), 0.5625);
        const Series s = checkLayers(slicer, facets, 0.125, 1, "double pyramid");
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(s.worstMismatches, 0L);
        QCOMPARE(s.pixels[4], 5000L); // the equator: a square of 50 mm^2
    }
    {
        // A box whose side faces are split in two rows at a cut height.
        Soup soup;
        const float z[3] = {0.0f, 0.5625f, 1.0f};
        soup.add(QVector3D(-5, -5, 0), QVector3D(5, 5, 0), QVector3D(5, -5, 0));
        soup.add(QVector3D(-5, -5, 0), QVector3D(-5, 5, 0), QVector3D(5, 5, 0));
        soup.add(QVector3D(-5, -5, 1), QVector3D(5, -5, 1), QVector3D(5, 5, 1));
        soup.add(QVector3D(-5, -5, 1), QVector3D(5, 5, 1), QVector3D(-5, 5, 1));
        const QVector3D corners[4]
            = {QVector3D(-5, -5, 0), QVector3D(5, -5, 0), QVector3D(5, 5, 0), QVector3D(-5, 5, 0)};
        for (int i = 0; i < 4; ++i) {
            const QVector3D &p = corners[i];
            const QVector3D &q = corners[(i + 1) % 4];
            for (int r = 0; r < 2; ++r) {
                const QVector3D a(p.x(), p.y(), z[r]);
                const QVector3D b(q.x(), q.y(), z[r]);
                const QVector3D c(q.x(), q.y(), z[r + 1]);
                const QVector3D d(p.x(), p.y(), z[r + 1]);
                soup.add(a, b, c);
                soup.add(a, c, d);
            }
        }
        GenSlices slicer;
        QVERIFY(slicer.prepare(soup.triangles(), 0.125, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
        QCOMPARE(slicer.layerCount(), 8);
        for (int k = 0; k < 8; ++k) {
            QString why;
            if (!isExactRectangle(slicer.layerImage(k, false), 590, 689, 350, 449, &why))
                QFAIL(qPrintable(QStringLiteral("split box, layer %1: %2").arg(k).arg(why)));
        }
    }
    {
        // A small box standing on a large one: at the shared height only the small one.
        Soup soup;
        addBox(soup, QVector3D(-5, -5, 0), QVector3D(5, 5, 0.5625f));
        addBox(soup, QVector3D(-2, -2, 0.5625f), QVector3D(2, 2, 1.0f));
        GenSlices slicer;
        QVERIFY(slicer.prepare(soup.triangles(), 0.125, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
        QCOMPARE(slicer.layerCount(), 8);
        for (int k = 0; k < 8; ++k) {
            QString why;
            const bool ok = k < 4 ? isExactRectangle(slicer.layerImage(k, false), 590, 689, 350, 449, &why)
                                  : isExactRectangle(slicer.layerImage(k, false), 620, 659, 380, 419, &why);
            if (!ok)
                QFAIL(qPrintable(QStringLiteral("stacked boxes, layer %1: %2").arg(k).arg(why)));
        }
    }
}

// ---------------------------------------------------------------------------------
// Boxes

void TestSliceAccuracy::cubeIsExactSquareOnEveryLayer_data()
{
    QTest::addColumn<double>("thickness");
    QTest::addColumn<int>("layers");
    QTest::addColumn<int>("step");
    QTest::newRow("100 microns") << 0.1 << 100 << 1;
    QTest::newRow("50 microns") << 0.05 << 200 << 5;
    QTest::newRow("20 microns") << 0.02 << 500 << 17;
}

void TestSliceAccuracy::cubeIsExactSquareOnEveryLayer()
{
    QFETCH(double, thickness);
    QFETCH(int, layers);
    QFETCH(int, step);
    // Built in the editor's frame (y up), on the platform and centred, as placed models are.
    Soup soup;
    addBox(soup, QVector3D(-5, 0, -5), QVector3D(5, 10, 5));
    GenSlices slicer;
    QVERIFY(slicer.prepare(soup.triangles(), thickness, QVector3D(), kEditorToSlicer, QVector3D(1, 1, 1)));
    QCOMPARE(slicer.layerCount(), layers);
    for (int k : sampledLayers(layers, step)) {
        const QImage image = slicer.layerImage(k, false);
        QCOMPARE(image.format(), QImage::Format_ARGB32);
        QString why;
        if (!isExactRectangle(image, 590, 689, 350, 449, &why))
            QFAIL(qPrintable(QStringLiteral("layer %1 of %2: %3").arg(k).arg(layers).arg(why)));
    }
}

void TestSliceAccuracy::offCentreBoxLandsOnItsPixels()
{
    // Editor x is image x; the editor's z (towards the viewer) is image y downwards.
    Soup soup;
    addBox(soup, QVector3D(10, 0, 17), QVector3D(14, 3, 20));
    GenSlices slicer;
    QVERIFY(slicer.prepare(soup.triangles(), 0.1, QVector3D(), kEditorToSlicer, QVector3D(1, 1, 1)));
    QCOMPARE(slicer.layerCount(), 30);
    for (int k : {0, 14, 29}) {
        QString why;
        if (!isExactRectangle(slicer.layerImage(k, false), 740, 779, 570, 599, &why))
            QFAIL(qPrintable(QStringLiteral("layer %1: %2").arg(k).arg(why)));
    }

    // The same box turned about the vertical by 90 degrees in the scene transform:
    // editor (x, z) becomes (z, -x).
    GenSlices turned;
    QVERIFY(turned.prepare(soup.triangles(), 0.1, QVector3D(), QVector3D(90, 0, 90), QVector3D(1, 1, 1)));
    QCOMPARE(turned.layerCount(), 30);
    // About x first: (x, -z); then about z: (x, y) -> (-y, x). So slice x = editor z in
    // [17, 20] and slice y = editor x in [10, 14].
    QString why;
    if (!isExactRectangle(turned.layerImage(10, false), 810, 839, 260, 299, &why))
        QFAIL(qPrintable(why));
}

// ---------------------------------------------------------------------------------
// Real meshes

void TestSliceAccuracy::closedMeshLayersAndVolume_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("step"); // every step-th layer is checked
    QTest::addColumn<double>("volumeTolerance"); // relative
    QTest::newRow("cube with a through hole") << QStringLiteral("binary_solidheader_cube20_with_hole.stl") << 1 << 0.02;
    QTest::newRow("effector base") << QStringLiteral("ascii_effector_base_crlf.stl") << 1 << 0.02;
    QTest::newRow("relief plate") << QStringLiteral("binary_zeroheader_tardis_plate.stl") << 1 << 0.02;
    // Walls 3.26 mm thick, centred: 32 pixel centres fall inside 32.6 pixels, 2 % less.
    QTest::newRow("tall thin wing") << QStringLiteral("ascii_wing_tall_thin.stl") << 5 << 0.04;
}

void TestSliceAccuracy::closedMeshLayersAndVolume()
{
    QFETCH(QString, file);
    QFETCH(int, step);
    QFETCH(double, volumeTolerance);
    PlacedModel model; // its volume as the importer's notes give it is checked in tst_meshimporter
    placeModel(meshPath(file), &model);
    QVERIFY(model.ok);

    const double thickness = 0.1;
    GenSlices slicer;
    QVERIFY(slicer.prepare(model.soup.triangles(), thickness, QVector3D(), kEditorToSlicer, QVector3D(1, 1, 1)));
    const std::vector<Facet> facets = model.soup.facets(QVector3D(), kEditorToSlicer);
    const Series s = checkLayers(slicer, facets, thickness, step, QTest::currentDataTag());
    if (QTest::currentTestFailed())
        return;
    report(QTest::currentDataTag(), s);
    QCOMPARE(s.layers, int(sampledLayers(slicer.layerCount(), step).size()));

    // No layer falls away from (or rises above) both neighbours unless the mesh does.
    for (size_t k = 1; k + 1 < s.pixels.size(); ++k) {
        const double here = double(s.pixels[k]);
        const double low = double(std::min(s.pixels[k - 1], s.pixels[k + 1]));
        const double high = double(std::max(s.pixels[k - 1], s.pixels[k + 1]));
        const bool dip = here < 0.8 * low;
        const bool peak = here > 1.25 * high + 10.0;
        const double areaHere = s.areas[k];
        const bool meshDips = areaHere < 0.9 * std::min(s.areas[k - 1], s.areas[k + 1]);
        const bool meshPeaks = areaHere > 1.1 * std::max(s.areas[k - 1], s.areas[k + 1]);
        if ((dip && !meshDips) || (peak && !meshPeaks))
            QFAIL(qPrintable(QStringLiteral("layer %1: %2 pixels between %3 and %4")
                                 .arg(k)
                                 .arg(s.pixels[k])
                                 .arg(s.pixels[k - 1])
                                 .arg(s.pixels[k + 1])));
    }

    // Volume: the pixels of every layer times the layer thickness.
    double volume = 0.0;
    for (long pixels : s.pixels)
        volume += double(pixels) * kPixelArea * thickness * step;
    qInfo("%s: sliced volume %.1f mm^3, mesh %.1f mm^3 (%.3f%%)", QTest::currentDataTag(), volume, model.volume,
        100.0 * (volume - model.volume) / model.volume);
    QVERIFY2(std::abs(volume - model.volume) < volumeTolerance * model.volume,
        qPrintable(QStringLiteral("sliced %1 mm^3, mesh %2 mm^3").arg(volume).arg(model.volume)));
}

void TestSliceAccuracy::openMeshesSliceWithinTheirFootprint_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("teapot, open patches") << QStringLiteral("ascii_utah_teapot_eformat_open.stl");
    QTest::newRow("figurine, STL") << QStringLiteral("binary_wuson_twin.stl");
    QTest::newRow("figurine, OBJ") << QStringLiteral("obj_wuson_twin_vtvn.obj");
    QTest::newRow("open chest") << QStringLiteral("obj_chest_open_quads_vtvn.obj");
    QTest::newRow("flat concave polygon") << QStringLiteral("obj_concave_66gon.obj");
    QTest::newRow("two loose triangles") << QStringLiteral("ascii_two_solids.stl");
}

void TestSliceAccuracy::openMeshesSliceWithinTheirFootprint()
{
    // Gaps are closed by filler segments between points of the section, so whatever an
    // open mesh gives stays inside the box of its triangles.
    QFETCH(QString, file);
    PlacedModel model;
    placeModel(meshPath(file), &model);
    QVERIFY(model.ok);
    GenSlices slicer;
    const bool usable = slicer.prepare(model.soup.triangles(), 0.1, QVector3D(), kEditorToSlicer, QVector3D(1, 1, 1));
    if (!usable) {
        QCOMPARE(slicer.layerCount(), 0);
        return;
    }
    const std::vector<Facet> facets = model.soup.facets(QVector3D(), kEditorToSlicer);
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (const Facet &f : facets) {
        minX = std::min({minX, f.a.x, f.b.x, f.c.x});
        maxX = std::max({maxX, f.a.x, f.b.x, f.c.x});
        minY = std::min({minY, f.a.y, f.b.y, f.c.y});
        maxY = std::max({maxY, f.a.y, f.b.y, f.c.y});
    }
    // The pixel centres inside the box.
    const int left = std::max(0, int(std::ceil((minX + 64.0) / kPixel - 0.5)));
    const int right = std::min(kWidth - 1, int(std::floor((maxX + 64.0) / kPixel - 0.5)));
    const int top = std::max(0, int(std::ceil((40.0 - maxY) / kPixel - 0.5)));
    const int bottom = std::min(kHeight - 1, int(std::floor((40.0 - minY) / kPixel - 0.5)));
    const int count = slicer.layerCount();
    QVERIFY(count > 0);
    // Every layer's contours are built; the images of at most about 120 are drawn.
    const int step = (count + 119) / 120;
    long total = 0;
    for (int k = 0; k < count; ++k) {
        const SliceLayer layer = slicer.sliceLayer(k);
        for (const SliceLoop &loop : layer.loops) {
            QVERIFY(loop.segments.size() >= 3);
            QCOMPARE(loop.points.size(), loop.segments.size());
            for (int index : loop.segments)
                QVERIFY(index >= 0 && index < int(layer.segments.size()));
        }
        if (k % step != 0)
            continue;
        const QImage image = slicer.layerImage(k, false);
        QCOMPARE(image.size(), QSize(kWidth, kHeight));
        // Nothing solid outside the box; inside, solid, empty or cancelled.
        Comparison outside;
        Comparison inside;
        for (int row = 0; row < kHeight; ++row) {
            const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(row));
            if (row < top || row > bottom) {
                compareSpan(line, row, 0, kWidth, false, &outside);
                continue;
            }
            compareSpan(line, row, 0, left, false, &outside);
            compareSpan(line, row, left, right + 1, false, &inside);
            compareSpan(line, row, right + 1, kWidth, false, &outside);
        }
        QVERIFY2(outside.mismatches == 0 && outside.strange == 0,
            qPrintable(QStringLiteral("layer %1: %2 solid pixels outside the model's box (%3), %4 of unknown value")
                           .arg(k)
                           .arg(outside.mismatches)
                           .arg(outside.first)
                           .arg(outside.strange)));
        QVERIFY2(inside.strange == 0,
            qPrintable(QStringLiteral("layer %1: %2 pixels of unknown value").arg(k).arg(inside.strange)));
        total += inside.engine;
        if (k % (8 * step) == 0) {
            const QImage grey = slicer.layerImage(k, true);
            QCOMPARE(grey.format(), QImage::Format_Grayscale8);
        }
    }
    qInfo("%s: %d layers, %ld solid pixels", QTest::currentDataTag(), count, total);
}

// ---------------------------------------------------------------------------------
// Anti-aliased layers

namespace {

// Grey levels of one anti-aliased layer around round contours centred on (cx, cy): the
// material lies between a hole contour (optional) and an outer contour, and every edge
// of a contour lies between the band's two radii.
struct Band {
    double inner = -1.0;
    double outer = -1.0;
};

struct RingStats {
    long materialNotWhite = 0; // further than 1.5 pixels inside the material
    long farNotBlack = 0; // further than 1.5 pixels outside it
    long solidNotWhite = 0; // solid in the plain image
    long edgeOutside = 0; // not solid, centre within 0.9 pixel outside a contour
    long edgeGrey = 0; // of those, grey
};

RingStats ringStats(const QImage &grey, const QImage &plain, double cx, double cy, const Band &hole, const Band &body)
{
    RingStats stats;
    const bool hasHole = hole.outer > 0.0;
    const double margin = 1.5 * kPixel;
    for (int row = 0; row < kHeight; ++row) {
        const uchar *g = grey.constScanLine(row);
        const QRgb *p = reinterpret_cast<const QRgb *>(plain.constScanLine(row));
        for (int column = 0; column < kWidth; ++column) {
            const double d = std::hypot(columnCentre(column) - cx, rowCentre(row) - cy);
            const bool solid = p[column] == kSolid;
            if (solid && g[column] != 255)
                ++stats.solidNotWhite;
            const bool deepMaterial = d < body.inner - margin && (!hasHole || d > hole.outer + margin);
            const bool farOutside = d > body.outer + margin || (hasHole && d < hole.inner - margin);
            if (deepMaterial && g[column] != 255)
                ++stats.materialNotWhite;
            if (farOutside && g[column] != 0)
                ++stats.farNotBlack;
            const bool justOutside = (d > body.outer && d < body.outer + 0.9 * kPixel)
                || (hasHole && d < hole.inner && d > hole.inner - 0.9 * kPixel);
            if (justOutside && !solid) {
                ++stats.edgeOutside;
                if (g[column] > 0 && g[column] < 255)
                    ++stats.edgeGrey;
            }
        }
    }
    return stats;
}

// The closest and furthest any contour point of a section gets to (cx, cy).
void radialBounds(const Section &section, double cx, double cy, double *closest, double *furthest)
{
    *closest = 1e300;
    *furthest = 0.0;
    for (const Segment &s : section.segments) {
        const double dx = s.x1 - s.x0;
        const double dy = s.y1 - s.y0;
        const double length2 = dx * dx + dy * dy;
        double t = length2 > 0.0 ? ((cx - s.x0) * dx + (cy - s.y0) * dy) / length2 : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        *closest = std::min(*closest, std::hypot(s.x0 + t * dx - cx, s.y0 + t * dy - cy));
        *furthest = std::max({*furthest, std::hypot(s.x0 - cx, s.y0 - cy), std::hypot(s.x1 - cx, s.y1 - cy)});
    }
}

} // namespace

void TestSliceAccuracy::antiAliasedEdges_greyOutsideEveryContour_data()
{
    QTest::addColumn<bool>("torus");
    QTest::addColumn<double>("thickness");
    QTest::addColumn<QList<int>>("layers");
    QTest::newRow("sphere") << false << 0.05 << QList<int> {3, 60, 200, 299, 300, 450, 590};
    // Hole contours get grey edges too, on the hole's side; the middle of the hole is black.
    QTest::newRow("torus") << true << 0.1 << QList<int> {20, 50, 77};
}

void TestSliceAccuracy::antiAliasedEdges_greyOutsideEveryContour()
{
    QFETCH(bool, torus);
    QFETCH(double, thickness);
    QFETCH(QList<int>, layers);
    const double major = 14.0;
    const QVector3D centre = torus ? QVector3D(0, 0, 5.0f) : QVector3D(0.237f, -0.413f, 15.0f);
    Soup soup;
    if (torus)
        addTorus(soup, centre, major, 5.0, 96, 36);
    else
        addSphere(soup, centre, 15.0, 48, 96);
    const std::vector<Facet> facets = soup.facets();
    GenSlices slicer;
    QVERIFY(slicer.prepare(soup.triangles(), thickness, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
    const double cx = double(centre.x());
    const double cy = double(centre.y());
    for (int k : layers) {
        const QImage grey = slicer.layerImage(k, true);
        QCOMPARE(grey.format(), QImage::Format_Grayscale8);
        const QImage plain = slicer.layerImage(k, false);
        // The torus's hole contours lie inside the tube's centre line.
        Section holeContour;
        Section outerContour;
        for (const Segment &s : sectionAt(facets, slicer.layerHeight(k)).segments)
            (torus && std::hypot(s.x0 - cx, s.y0 - cy) < major ? holeContour : outerContour).segments.push_back(s);
        Band hole;
        Band body;
        if (torus)
            radialBounds(holeContour, cx, cy, &hole.inner, &hole.outer);
        radialBounds(outerContour, cx, cy, &body.inner, &body.outer);
        const RingStats stats = ringStats(grey, plain, cx, cy, hole, body);
        const QString where = QStringLiteral("layer %1 (radius %2 mm)").arg(k).arg(body.outer, 0, 'f', 2);
        QVERIFY2(stats.solidNotWhite == 0, qPrintable(where));
        QVERIFY2(stats.materialNotWhite == 0, qPrintable(where));
        QVERIFY2(stats.farNotBlack == 0, qPrintable(where));
        // Nearly every pixel just outside a contour is grey; the exceptions are the slivers
        // at the polygon's corners that no line reaches.
        QVERIFY2(stats.edgeOutside > long((torus ? hole.inner : body.outer) / kPixel), qPrintable(where));
        QVERIFY2(double(stats.edgeGrey) > 0.9 * double(stats.edgeOutside),
            qPrintable(where + QStringLiteral(": %1 of %2 grey").arg(stats.edgeGrey).arg(stats.edgeOutside)));
    }
}

QTEST_GUILESS_MAIN(TestSliceAccuracy)
#include "tst_sliceaccuracy.moc"
