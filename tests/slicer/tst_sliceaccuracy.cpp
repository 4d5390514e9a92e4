// Slicing accuracy: the layer images of solids whose cross-sections are known exactly
// (spheres, tori, boxes) are compared pixel by pixel and by area with the independent
// reference sections of the same triangles (slicereference.h); real meshes go through the
// editor's placement and are checked layer by layer and by volume; anti-aliased layers are
// white where the plain ones are solid, grey beside them and black further out.
#include "genslices.h"
#include "meshgeometry.h"
#include "meshimporter.h"
#include "slicereference.h"
#include "testpaths.h"

#include <QtTest>

using namespace SliceReference;

namespace {

constexpr double kPi = TestMesh::kPi;

// How a series of layers compared with their sections.
struct Series {
    int layers = 0;
    long worstMismatches = 0;
    std::vector<long> pixels; // solid pixels of each layer checked
    std::vector<double> areas; // their sections, mm^2
};

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

// Slices every step-th layer (and the last one) and compares each with the reference: the
// pixel count within half a pixel along the perimeter of the exact area, differing pixels
// only where centres lie within float rounding of an edge. Fails the running test on the
// first layer out of bounds. Where bodies overlap, the shoelace sum counts the overlap
// twice: only the pixels are compared then.
Series checkLayers(const GenSlices &slicer, const std::vector<Facet> &facets, double thickness, int step,
    const char *what, bool bodiesOverlap = false)
{
    Series series;
    const auto fail = [&](const QString &why) {
        QTest::qFail(qPrintable(QString::fromLatin1(what) + QStringLiteral(": ") + why), __FILE__, __LINE__);
        return series;
    };
    double bottom = 0.0;
    double top = 0.0;
    zRange(facets, &bottom, &top);
    int expectedLayers = 0;
    while (top > bottom + thickness / 2.0 + expectedLayers * thickness)
        ++expectedLayers;
    if (slicer.layerCount() != expectedLayers)
        return fail(QStringLiteral("%1 layers, expected %2").arg(slicer.layerCount()).arg(expectedLayers));
    for (int k : sampledLayers(slicer.layerCount(), step)) {
        const double height = bottom + thickness / 2.0 + k * thickness;
        if (std::abs(slicer.layerHeight(k) - height) > 1e-5)
            return fail(
                QStringLiteral("layer %1 at %2 mm, expected %3 mm").arg(k).arg(slicer.layerHeight(k)).arg(height));
        const QImage image = slicer.layerImage(k, false);
        if (image.size() != QSize(kWidth, kHeight) || image.format() != QImage::Format_ARGB32)
            return fail(QStringLiteral("layer %1 image of size or format %2").arg(k).arg(int(image.format())));
        const Section section = sectionAt(facets, slicer.layerHeight(k));
        const Comparison c = compare(image, section);
        const double areaError = std::abs(c.engine - section.area / kPixelArea);
        const double allowance = 0.5 * section.perimeter / kPixel + 4.0;
        ++series.layers;
        series.worstMismatches = std::max(series.worstMismatches, c.mismatches);
        series.pixels.push_back(c.engine);
        series.areas.push_back(section.area);
        if ((areaError > allowance && !bodiesOverlap) || c.mismatches > 2 + long(section.perimeter / kPixel / 500.0)
            || c.strange != 0)
            return fail(QStringLiteral("layer %1: %2 solid pixels, section %3 mm^2 (%4 pixel centres, perimeter "
                                       "%5 mm), %6 pixels differ (%7), %8 pixels of unknown value")
                            .arg(k)
                            .arg(c.engine)
                            .arg(section.area)
                            .arg(c.reference)
                            .arg(section.perimeter)
                            .arg(c.mismatches)
                            .arg(c.first)
                            .arg(c.strange));
    }
    return series;
}

// Fails the running test unless layer k of the slicer is exactly the rectangle of pixels.
bool layerIsRectangle(const GenSlices &slicer, int k, int left, int right, int top, int bottom)
{
    QString why;
    if (isExactRectangle(slicer.layerImage(k, false), left, right, top, bottom, &why))
        return true;
    QTest::qFail(qPrintable(QStringLiteral("layer %1: %2").arg(k).arg(why)), __FILE__, __LINE__);
    return false;
}

QString meshPath(const QString &name)
{
    return TestPaths::sourceDir() + QStringLiteral("/tests/data/meshes/") + name;
}

// A model as the editor places it: imported, turned y up, sitting on y = 0, centred in
// x and z.
struct PlacedModel {
    TestMesh mesh;
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
        model->mesh.add(t->a + shift, t->b + shift, t->c + shift);
    model->ok = true;
}

const QVector3D kEditorToSlicer(90, 0, 0);

// A sphere or a torus, off the pixel grid on purpose, sitting on z = 0. The torus lies flat:
// annuli near the middle, thin rings near top and bottom.
TestMesh roundSolid(bool torus)
{
    TestMesh soup;
    if (torus)
        soup.torus(QVector3D(-0.31f, 0.173f, 5.0f), 14.0, 5.0, 96, 36);
    else
        soup.sphere(QVector3D(0.237f, -0.413f, 15.0f), 15.0, 48, 96);
    return soup;
}

// How the grey levels of an anti-aliased layer sit around the solid pixels of the plain one.
struct EdgeStats {
    long solidNotWhite = 0;
    long greyAwayFromSolid = 0; // grey or white with no solid pixel among its eight neighbours
    long besideSolid = 0; // not solid, with a solid pixel to its left, right, top or bottom
    long besideSolidGrey = 0; // of those, grey
};

EdgeStats edgeStats(const QImage &grey, const QImage &plain)
{
    EdgeStats stats;
    const auto solid = [&](int row, int column) {
        return row >= 0 && row < kHeight && column >= 0 && column < kWidth && plain.pixel(column, row) == kSolid;
    };
    for (int row = 0; row < kHeight; ++row) {
        const uchar *g = grey.constScanLine(row);
        for (int column = 0; column < kWidth; ++column) {
            if (solid(row, column)) {
                stats.solidNotWhite += g[column] != 255 ? 1 : 0;
                continue;
            }
            bool nearSolid = false;
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc)
                    nearSolid = nearSolid || solid(row + dr, column + dc);
            if (!nearSolid) {
                stats.greyAwayFromSolid += g[column] != 0 ? 1 : 0;
                continue;
            }
            if (solid(row - 1, column) || solid(row + 1, column) || solid(row, column - 1) || solid(row, column + 1)) {
                ++stats.besideSolid;
                stats.besideSolidGrey += g[column] > 0 && g[column] < 255 ? 1 : 0;
            }
        }
    }
    return stats;
}

} // namespace

class TestSliceAccuracy : public QObject
{
    Q_OBJECT

private slots:
    // ---------------------------------------------------------------------------------
    // Spheres and tori
    void roundSolidSections_data()
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

    void roundSolidSections()
    {
        QFETCH(bool, torus);
        QFETCH(double, thickness);
        QFETCH(int, step);
        QFETCH(int, minimumLayers);
        const TestMesh soup = roundSolid(torus);
        const std::vector<Facet> facets = placedFacets(soup.triangles());
        // The generator itself: a closed, outward mesh just inside the ideal solid.
        const double ideal = torus ? 2.0 * kPi * kPi * 14.0 * 5.0 * 5.0 : 4.0 / 3.0 * kPi * 15.0 * 15.0 * 15.0;
        QVERIFY(signedVolume(facets) > 0.97 * ideal);
        QVERIFY(signedVolume(facets) < ideal);

        GenSlices slicer;
        QVERIFY(slicer.prepare(soup.triangles(), thickness, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
        const Series s = checkLayers(slicer, facets, thickness, step, QTest::currentDataTag());
        if (QTest::currentTestFailed())
            return;
        QVERIFY(s.layers >= minimumLayers);
    }

    void rotatedScaledTorusSections()
    {
        // The scene transform in full: scale per axis, rotation about y, then x, then z,
        // translation. A tilted torus is cut into two separate loops, crescents and rings.
        const QVector3D translation(3.5f, -2.25f, 1.0f);
        const QVector3D scale(1.25f, 0.8f, 1.1f);
        for (const QVector3D &rotation : {QVector3D(60, 0, 0), QVector3D(0, 75, 0), QVector3D(35, 50, 20)}) {
            TestMesh soup;
            soup.torus(QVector3D(0.2f, -0.1f, 0.3f), 12.0, 4.0, 72, 30);
            const std::vector<Facet> facets = placedFacets(soup.triangles(), translation, rotation, scale);
            GenSlices slicer;
            QVERIFY(slicer.prepare(soup.triangles(), 0.1, translation, rotation, scale));
            const QByteArray what = QStringLiteral("rotation (%1, %2, %3)")
                                        .arg(double(rotation.x()))
                                        .arg(double(rotation.y()))
                                        .arg(double(rotation.z()))
                                        .toLatin1();
            checkLayers(slicer, facets, 0.1, 4, what.constData());
            if (QTest::currentTestFailed())
                return;
        }
    }

    void overlappingAndNestedBodies()
    {
        // Separate closed bodies in one scene: a sphere overlapping the torus's tube counts
        // once where they overlap, a sphere standing free in the torus's hole is solid.
        TestMesh soup;
        soup.torus(QVector3D(0, 0, 5.0f), 14.0, 5.0, 72, 30);
        soup.sphere(QVector3D(0.4f, -0.3f, 6.0f), 6.0, 30, 60);
        soup.sphere(QVector3D(13.2f, 3.1f, 7.0f), 4.5, 24, 48);
        const std::vector<Facet> facets = placedFacets(soup.triangles());
        GenSlices slicer;
        QVERIFY(slicer.prepare(soup.triangles(), 0.1, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
        const Series s = checkLayers(slicer, facets, 0.1, 3, "three bodies", true);
        if (QTest::currentTestFailed())
            return;
        // Where the bodies overlap the solid area is less than the sum of their sections.
        bool overlapSeen = false;
        for (size_t i = 0; i < s.pixels.size(); ++i)
            overlapSeen = overlapSeen || double(s.pixels[i]) < s.areas[i] / kPixelArea - 500.0;
        QVERIFY(overlapSeen);
    }

    void cutHeightThroughVerticesAndFaces()
    {
        // With 0.125 mm layers the cut heights are exact binary fractions, so vertices,
        // horizontal edges and horizontal faces can lie exactly on them. A cut takes what lies
        // above it.
        {
            // A square double pyramid whose equator is the cut of layer 4.
            TestMesh soup;
            const QVector3D top(0.3f, 0.2f, 1.125f);
            const QVector3D bottom(0.3f, 0.2f, 0.0f);
            const QVector3D equator[4] = {QVector3D(5.3f, 0.2f, 0.5625f), QVector3D(0.3f, 5.2f, 0.5625f),
                QVector3D(-4.7f, 0.2f, 0.5625f), QVector3D(0.3f, -4.8f, 0.5625f)};
            for (int i = 0; i < 4; ++i) {
                soup.add(top, equator[i], equator[(i + 1) % 4]);
                soup.add(bottom, equator[(i + 1) % 4], equator[i]);
            }
            const std::vector<Facet> facets = placedFacets(soup.triangles());
            GenSlices slicer;
            QVERIFY(slicer.prepare(soup.triangles(), 0.125, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
            QCOMPARE(slicer.layerHeight(4), 0.5625);
            const Series s = checkLayers(slicer, facets, 0.125, 1, "double pyramid");
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(s.worstMismatches, 0L);
            QCOMPARE(s.pixels[4], 5000L); // the equator: a square of 50 mm^2
        }
        {
            // A small box standing on a large one: at the shared height only the small one.
            TestMesh soup;
            soup.box(QVector3D(-5, -5, 0), QVector3D(5, 5, 0.5625f));
            soup.box(QVector3D(-2, -2, 0.5625f), QVector3D(2, 2, 1.0f));
            GenSlices slicer;
            QVERIFY(slicer.prepare(soup.triangles(), 0.125, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
            QCOMPARE(slicer.layerCount(), 8);
            for (int k = 0; k < 8; ++k)
                QVERIFY(k < 4 ? layerIsRectangle(slicer, k, 590, 689, 350, 449)
                              : layerIsRectangle(slicer, k, 620, 659, 380, 419));
        }
    }

    // ---------------------------------------------------------------------------------
    // Boxes
    void offCentreBoxLandsOnItsPixels()
    {
        // Built in the editor's frame (y up), as placed models are: editor x is image x; the
        // editor's z (towards the viewer) is image y downwards. (The full scene transform is
        // checked with the tilted tori.)
        TestMesh soup;
        soup.box(QVector3D(10, 0, 17), QVector3D(14, 3, 20));
        GenSlices slicer;
        QVERIFY(slicer.prepare(soup.triangles(), 0.1, QVector3D(), kEditorToSlicer, QVector3D(1, 1, 1)));
        QCOMPARE(slicer.layerCount(), 30);
        for (int k : {0, 14, 29})
            QVERIFY(layerIsRectangle(slicer, k, 740, 779, 570, 599));
    }

    // ---------------------------------------------------------------------------------
    // Real meshes
    void closedMeshLayersAndVolume_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("step"); // every step-th layer is checked
        QTest::addColumn<double>("volumeTolerance"); // relative
        QTest::newRow("cube with a through hole")
            << QStringLiteral("binary_solidheader_cube20_with_hole.stl") << 1 << 0.02;
        QTest::newRow("effector base") << QStringLiteral("ascii_effector_base_crlf.stl") << 1 << 0.02;
        QTest::newRow("relief plate") << QStringLiteral("binary_zeroheader_tardis_plate.stl") << 1 << 0.02;
        // Walls 3.26 mm thick, centred: 32 pixel centres fall inside 32.6 pixels, 2 % less.
        QTest::newRow("tall thin wing") << QStringLiteral("ascii_wing_tall_thin.stl") << 5 << 0.04;
    }

    void closedMeshLayersAndVolume()
    {
        QFETCH(QString, file);
        QFETCH(int, step);
        QFETCH(double, volumeTolerance);
        PlacedModel model; // its volume as the importer's notes give it is checked in tst_meshimporter
        placeModel(meshPath(file), &model);
        QVERIFY(model.ok);

        const double thickness = 0.1;
        GenSlices slicer;
        QVERIFY(slicer.prepare(model.mesh.triangles(), thickness, QVector3D(), kEditorToSlicer, QVector3D(1, 1, 1)));
        const std::vector<Facet> facets = placedFacets(model.mesh.triangles(), QVector3D(), kEditorToSlicer);
        const Series s = checkLayers(slicer, facets, thickness, step, QTest::currentDataTag());
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(s.layers, int(sampledLayers(slicer.layerCount(), step).size()));

        // Volume: the pixels of every layer times the layer thickness.
        double volume = 0.0;
        for (long pixels : s.pixels)
            volume += double(pixels) * kPixelArea * thickness * step;
        qInfo("%s: sliced volume %.1f mm^3, mesh %.1f mm^3 (%.3f%%)", QTest::currentDataTag(), volume, model.volume,
            100.0 * (volume - model.volume) / model.volume);
        QVERIFY2(std::abs(volume - model.volume) < volumeTolerance * model.volume,
            qPrintable(QStringLiteral("sliced %1 mm^3, mesh %2 mm^3").arg(volume).arg(model.volume)));
    }

    void openMeshesSliceWithinTheirFootprint_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("teapot, open patches") << QStringLiteral("ascii_utah_teapot_eformat_open.stl");
        QTest::newRow("figurine, STL") << QStringLiteral("binary_wuson_twin.stl");
        QTest::newRow("figurine, OBJ") << QStringLiteral("obj_wuson_twin_vtvn.obj");
        QTest::newRow("open chest") << QStringLiteral("obj_chest_open_quads_vtvn.obj");
        QTest::newRow("flat concave polygon") << QStringLiteral("obj_concave_66gon.obj");
        QTest::newRow("two loose triangles") << QStringLiteral("ascii_two_solids.stl");
    }

    void openMeshesSliceWithinTheirFootprint()
    {
        // Gaps are closed by filler segments between points of the section, so whatever an
        // open mesh gives stays inside the box of its triangles.
        QFETCH(QString, file);
        PlacedModel model;
        placeModel(meshPath(file), &model);
        QVERIFY(model.ok);
        GenSlices slicer;
        if (!slicer.prepare(model.mesh.triangles(), 0.1, QVector3D(), kEditorToSlicer, QVector3D(1, 1, 1))) {
            QCOMPARE(slicer.layerCount(), 0);
            return;
        }
        double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
        for (const Facet &f : placedFacets(model.mesh.triangles(), QVector3D(), kEditorToSlicer)) {
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
            // Nothing solid outside the box; inside, solid, empty or cancelled.
            const QImage image = slicer.layerImage(k, false);
            Comparison outside;
            Comparison inside;
            for (int row = 0; row < kHeight; ++row) {
                const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(row));
                const bool rowInside = row >= top && row <= bottom;
                compareSpan(line, row, 0, rowInside ? left : kWidth, false, &outside);
                if (rowInside) {
                    compareSpan(line, row, left, right + 1, false, &inside);
                    compareSpan(line, row, right + 1, kWidth, false, &outside);
                }
            }
            QVERIFY2(outside.mismatches == 0 && outside.strange + inside.strange == 0,
                qPrintable(QStringLiteral("layer %1: %2 solid pixels outside the model's box (%3), %4 of unknown value")
                               .arg(k)
                               .arg(outside.mismatches)
                               .arg(outside.first)
                               .arg(outside.strange + inside.strange)));
        }
    }

    void antiAliasedEdges_greyOutsideEveryContour_data()
    {
        QTest::addColumn<bool>("torus");
        QTest::addColumn<double>("thickness");
        QTest::addColumn<QList<int>>("layers");
        QTest::newRow("sphere") << false << 0.05 << QList<int> {3, 60, 200, 299, 300, 450, 590};
        // Hole contours get grey edges too, on the hole's side; the middle of the hole is black.
        QTest::newRow("torus") << true << 0.1 << QList<int> {20, 50, 77};
    }

    void antiAliasedEdges_greyOutsideEveryContour()
    {
        QFETCH(bool, torus);
        QFETCH(double, thickness);
        QFETCH(QList<int>, layers);
        const TestMesh soup = roundSolid(torus);
        GenSlices slicer;
        QVERIFY(slicer.prepare(soup.triangles(), thickness, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
        for (int k : layers) {
            const QImage grey = slicer.layerImage(k, true);
            QCOMPARE(grey.format(), QImage::Format_Grayscale8);
            const EdgeStats stats = edgeStats(grey, slicer.layerImage(k, false));
            const QString where = QStringLiteral("layer %1: %2 of %3 pixels beside the solid ones grey")
                                      .arg(k)
                                      .arg(stats.besideSolidGrey)
                                      .arg(stats.besideSolid);
            QVERIFY2(stats.solidNotWhite == 0 && stats.greyAwayFromSolid == 0, qPrintable(where));
            // Nearly every pixel beside the solid ones is grey; the exceptions are the slivers
            // at the polygon's corners that no line reaches.
            QVERIFY2(stats.besideSolid > 100, qPrintable(where));
            QVERIFY2(double(stats.besideSolidGrey) > 0.9 * double(stats.besideSolid), qPrintable(where));
        }
    }
};

QTEST_GUILESS_MAIN(TestSliceAccuracy)
#include "tst_sliceaccuracy.moc"
