// The slicing engine on hand-made scenes: holes, shared edges, gaps closed by linking or
// by a filler segment, self-crossing contours, the run itself (threads, progress, cancel,
// failures) and the job it writes. Coverage of solids against exact sections, overlaps,
// heights, the scene transform and anti-aliased edges are in tst_sliceaccuracy.
#include "crushedprintjob.h"
#include "genslices.h"
#include "jobvolume.h"
#include "meshimporter.h"
#include "slicejobwriter.h"
#include "slicerasteriser.h"
#include "testmeshes.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A run without a scene transform.
GenSlices::Settings settings(double thickness, bool antialias = false, const QString &description = {})
{
    GenSlices::Settings settings;
    settings.layerThickness = thickness;
    settings.antialias = antialias;
    settings.jobDescription = description;
    return settings;
}

const QRgb kRed = 0xFFFF0000u;
const QRgb kTransparent = 0x00000000u;

int countPixels(const QImage &image, QRgb value)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == value ? 1 : 0;
    return count;
}

// Layers that are easy to get wrong, from 0 to 1 mm high.
TestMesh hardScene(const QString &name)
{
    TestMesh scene;
    if (name == QLatin1String("hole")) {
        scene.add(QVector3D(0, 0, 1), QVector3D(0, 0, 1), QVector3D(0, 0, 1)); // degenerate: ignored
        scene.box(QVector3D(-5, -5, 0), QVector3D(5, 5, 1));
        scene.hole(QVector3D(-2, -2, 0), QVector3D(2, 2, 1));
    } else if (name == QLatin1String("touching")) {
        // Edges on pixel centres: the shared one must be counted once.
        scene.box(QVector3D(-4.95f, -5, 0), QVector3D(0.05f, 5, 1));
        scene.box(QVector3D(0.05f, -5, 0), QVector3D(5.05f, 5, 1));
    } else if (name == QLatin1String("eight")) {
        // A prism over a self-crossing outline: two triangles meeting at the origin.
        scene.prism({{-5, -5}, {5, 5}, {5, -5}, {-5, 5}}, 0, 1);
    } else {
        // "gap <mm>": a box whose right wall is shifted sideways by the gap, so that its cut
        // no longer meets the back wall's.
        const float gap = name.mid(4).toFloat();
        const auto wall = [&](QPointF p, QPointF q) {
            const QVector3D low(float(p.x()), float(p.y()), 0), high(float(q.x()), float(q.y()), 0), up(0, 0, 1);
            scene.add(low, high, high + up);
            scene.add(low, high + up, low + up);
        };
        wall({-5, -5}, {5, -5});
        wall({5, -5}, {5, 5 - gap});
        wall({5, 5}, {-5, 5});
        wall({-5, 5}, {-5, -5});
    }
    return scene;
}

bool prepare(GenSlices &slicer, const TestMesh &scene, double thickness = 0.1)
{
    return slicer.prepare(scene.triangles(), thickness, QVector3D(), QVector3D(), QVector3D(1, 1, 1));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The test shapes, in pixel units (x right, y down from the image's top-left corner).
QPolygonF coverageShape(const QString &name)
{
    const QPointF centre(640.37, 400.21);
    if (name == QLatin1String("sliver")) // 40 pixels long, up to 0.4 wide, 20 degrees off the rows
        return QPolygonF({centre, centre + QPointF(37.6, 13.3), centre + QPointF(37.5, 13.7)});
    const bool circle = name == QLatin1String("circle");
    QPolygonF shape;
    for (int i = 0; i < (circle ? 720 : 4); ++i) {
        const double turn = (circle ? i * 0.5 : i * 90.0 + 30.0) * M_PI / 180.0;
        shape << centre + (circle ? 20.3 : 21.2) * QPointF(std::cos(turn), std::sin(turn));
    }
    return shape;
}

// Exact area of a polygon (Qt's clipping of it to a pixel), by the shoelace sum.
double area(const QPolygonF &polygon)
{
    double twice = 0.0;
    for (int i = 0; i < polygon.size(); ++i)
        twice += polygon[i].x() * polygon[(i + 1) % polygon.size()].y()
            - polygon[(i + 1) % polygon.size()].x() * polygon[i].y();
    return std::abs(twice) / 2.0;
}

} // namespace

class TestSlicer : public QObject
{
    Q_OBJECT

private slots:
    void hardLayers_fillAsTheirOutlines_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<int>("loops");
        QTest::addColumn<int>("outer"); // of them, wound as an outer contour
        QTest::addColumn<bool>("filler"); // a loop closed by a filler segment
        QTest::addColumn<int>("solid"); // red pixels, give or take the tolerance
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<int>("transparent"); // -1: not counted
        // The hole is covered once by each kind of contour: transparent, not solid.
        QTest::newRow("through hole") << "hole" << 2 << 1 << false << 100 * 100 - 40 * 40 << 0 << 40 * 40;
        QTest::newRow("touching cubes") << "touching" << 2 << 2 << false << 100 * 100 << 0 << 0;
        QTest::newRow("0.02 mm gap, linked") << "gap 0.02" << 1 << 1 << false << 100 * 100 << 60 << -1;
        QTest::newRow("0.5 mm gap, filler") << "gap 0.5" << 1 << 1 << true << 100 * 100 << 60 << -1;
        // Two triangles of 5 x 10 / 2 mm^2 wound opposite ways, both filled, give or take the
        // pixels along the edges.
        QTest::newRow("figure eight") << "eight" << 2 << 1 << false << 5000 << 150 << -1;
    }

    void hardLayers_fillAsTheirOutlines()
    {
        QFETCH(QString, scene);
        QFETCH(int, loops);
        QFETCH(int, outer);
        QFETCH(bool, filler);
        QFETCH(int, solid);
        QFETCH(int, tolerance);
        QFETCH(int, transparent);
        GenSlices slicer;
        QVERIFY(prepare(slicer, hardScene(scene)));
        const SliceLayer layer = slicer.sliceLayer(0);
        QCOMPARE(layer.loopCount(), loops);
        int outerLoops = 0;
        for (const SliceLoop &loop : layer.loops) {
            outerLoops += loop.outer ? 1 : 0;
            QCOMPARE(loop.closedByFiller, filler);
        }
        QCOMPARE(outerLoops, outer);
        const QImage image = slicer.layerImage(0, false);
        const int red = countPixels(image, kRed);
        QVERIFY2(qAbs(red - solid) <= tolerance, qPrintable(QString::number(red)));
        if (transparent >= 0)
            QCOMPARE(countPixels(image, kTransparent), transparent);
    }

    void emptyFlatOrUnwritable_refusedWithAMessage()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("empty.ssj"));
        GenSlices slicer;
        QVERIFY(!slicer.saveSlices({}, path, settings(0.05)));
        QCOMPARE(slicer.result(), GenSlices::Result::EmptyScene);
        QVERIFY(!slicer.errorString().isEmpty());
        TestMesh flat;
        flat.add(QVector3D(0, 0, 1), QVector3D(1, 0, 1), QVector3D(0, 1, 1));
        QVERIFY(!slicer.saveSlices(flat.triangles(), path, settings(0.05)));
        QCOMPARE(slicer.result(), GenSlices::Result::EmptyScene);
        QVERIFY(!QFile::exists(path));
        TestMesh scene;
        scene.box(QVector3D(-1, -1, 0), QVector3D(1, 1, 1));
        QVERIFY(!slicer.saveSlices(scene.triangles(), QStringLiteral("/nonexistent-folder/job.ssj"), settings(0.1)));
        QCOMPARE(slicer.result(), GenSlices::Result::WriteFailed);
        QVERIFY(slicer.errorString().contains(QStringLiteral("/nonexistent-folder/job.ssj")));
    }

    void run_sameFileWithAnyThreadCount_progressRisesTo100()
    {
        TestMesh scene;
        scene.box(QVector3D(-5, -5, 0), QVector3D(5, 5, 3));
        scene.hole(QVector3D(-2, -2, 0), QVector3D(2, 2, 3));
        scene.prism({{8, 8}, {20, 9}, {12, 15}}, 0.5f, 2.5f);
        QTemporaryDir dir;
        for (int threads : {1, 3}) {
            for (bool antialias : {false, true}) {
                const QString path = dir.filePath(QStringLiteral("job-%1-%2.ssj").arg(threads).arg(antialias));
                QList<int> progress;
                GenSlices slicer;
                slicer.setThreadCount(threads);
                QVERIFY(slicer.saveSlices(scene.triangles(), path,
                    settings(0.05, antialias, QStringLiteral("sliced at 100 microns")),
                    [&](int percent) { progress << percent; }));
                QCOMPARE(slicer.result(), GenSlices::Result::Done);
                QCOMPARE(progress.first(), 0);
                QCOMPARE(progress.last(), 100);
                QVERIFY(std::is_sorted(progress.begin(), progress.end()));
                const QString other = dir.filePath(QStringLiteral("job-1-%1.ssj").arg(antialias));
                if (threads != 1)
                    QVERIFY(fileBytes(path) == fileBytes(other));
            }
        }
    }

    void cancel_stopsWithinALayerAndWritesNothing()
    {
        TestMesh scene;
        scene.box(QVector3D(-5, -5, 0), QVector3D(5, 5, 10));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cancelled.ssj"));
        GenSlices slicer;
        slicer.setThreadCount(2);
        int reportsAfterCancel = -1;
        const bool done = slicer.saveSlices(scene.triangles(), path, settings(0.05), [&](int percent) {
            if (reportsAfterCancel >= 0)
                ++reportsAfterCancel;
            if (percent >= 30 && reportsAfterCancel < 0) {
                GenSlices::requestCancel();
                reportsAfterCancel = 0;
            }
        });
        QVERIFY(!done);
        QCOMPARE(slicer.result(), GenSlices::Result::Cancelled);
        QCOMPARE(reportsAfterCancel, 0);
        QVERIFY(!QFile::exists(path));
        QVERIFY(!GenSlices::isCancelRequested());
        // The next run is not cancelled by the old request.
        QVERIFY(slicer.saveSlices(scene.triangles(), path, settings(0.1)));
    }

    void job_layersReadBackAsSliced_data()
    {
        QTest::addColumn<bool>("antialias");
        QTest::addColumn<QString>("version");
        QTest::newRow("plain, red as white") << false << "1";
        QTest::newRow("anti-aliased, grey edges kept") << true << "3";
    }

    void job_layersReadBackAsSliced()
    {
        QFETCH(bool, antialias);
        QFETCH(QString, version);
        // A slanted edge gives grey pixels, the hole a second contour.
        TestMesh scene;
        scene.prism({{-5, -5}, {5, -4}, {5, 5}, {-5, 5}}, 0, 1);
        scene.hole(QVector3D(-2, -2, 0), QVector3D(2, 2, 1));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("job.ssj"));
        GenSlices slicer;
        QVERIFY(slicer.saveSlices(scene.triangles(), path, settings(0.1, antialias)));
        CrushedPrintJob job;
        QFile file(path);
        QVERIFY(job.loadCPJ(&file));
        // The description and thickness given are checked with the editor's slicing.
        QCOMPARE(job.versionText(), version);
        QCOMPARE(job.name(), QStringLiteral("jobname"));
        QCOMPARE(job.description(), QStringLiteral("jobdesc"));
        QCOMPARE(job.reservedTexts(),
            QStringList({QStringLiteral("Reserved3"), QStringLiteral("Reserved2"), QStringLiteral("Reserved1")}));
        QCOMPARE(int(job.supports().size()), 0);
        QCOMPARE(job.getTotalLayers(), 10);

        GenSlices reference;
        QVERIFY(prepare(reference, scene));
        const QImage sliced = reference.layerImage(4, antialias);
        if (antialias) {
            const QImage stored = CrushedAntiBitMap::decodePng(job.getCBMSliceAnti(4)->png());
            QCOMPARE(stored.convertToFormat(QImage::Format_Grayscale8), sliced);
            return;
        }
        QCOMPARE(job.largestWidth(), 1280);
        QCOMPARE(job.largestHeight(), 800);
        QImage unpacked;
        job.getCBMSlice(4)->inflateSlice(&unpacked, 0, 0, true);
        for (int y = 0; y < 800; y += 3) {
            for (int x = 0; x < 1280; x += 3)
                QCOMPARE(qRed(unpacked.pixel(x, y)) == 255, sliced.pixel(x, y) == kRed);
        }
    }

    void supersampled_greyWithinHalfASubRowOfExactCoverage_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<int>("subRows");
        for (const char *shape : {"square", "circle", "sliver"})
            for (int subRows : {2, 4, 8})
                QTest::addRow("%s %dx", shape, subRows) << QString::fromLatin1(shape) << subRows;
    }

    void supersampled_greyWithinHalfASubRowOfExactCoverage()
    {
        QFETCH(QString, shape);
        QFETCH(int, subRows);
        const QPolygonF polygon = coverageShape(shape);
        SliceLayer layer;
        layer.loops.emplace_back();
        layer.loops.back().outer = true;
        for (const QPointF &p : polygon)
            layer.loops.back().points.push_back({float(p.x() * 0.1 - 64.0), float(40.0 - p.y() * 0.1)});
        SliceRasteriser rasteriser;
        const QImage image = rasteriser.render(layer, true, subRows);
        // Half a sub-row, grey rounding included: these shapes stay well inside it.
        const double bound = 0.5 / subRows;
        double worst = 0.0;
        const QRect box = polygon.boundingRect().toAlignedRect().adjusted(-1, -1, 1, 1);
        for (int row = box.top(); row <= box.bottom(); ++row)
            for (int column = box.left(); column <= box.right(); ++column) {
                const double exact = area(polygon.intersected(QRectF(column, row, 1, 1)));
                worst = std::max(worst, std::abs(qGray(image.pixel(column, row)) / 255.0 - exact));
            }
        QVERIFY2(worst <= bound, qPrintable(QStringLiteral("worst error %1 > %2").arg(worst).arg(bound)));
    }

    void volume_ofABoxJob_isItsSizeWhateverTheLayers_data()
    {
        QTest::addColumn<int>("subRows");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("bit map") << -1 << 0.02;
        QTest::newRow("grey 2x") << 2 << 0.002;
        QTest::newRow("grey 8x") << 8 << 0.002;
    }

    void volume_ofABoxJob_isItsSizeWhateverTheLayers()
    {
        QFETCH(int, subRows);
        QFETCH(double, tolerance);
        TestMesh scene;
        scene.box(QVector3D(-4.97f, -3.02f, 0), QVector3D(5.01f, 4.93f, 1)); // 79.361 mm^3
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("box.ssj"));
        GenSlices::Settings boxSettings = settings(0.1, subRows > 0);
        boxSettings.supersampling = subRows;
        QVERIFY(GenSlices().saveSlices(scene.triangles(), path, boxSettings));
        CrushedPrintJob job;
        QFile file(path);
        QVERIFY(job.loadCPJ(&file));
        QVERIFY(std::abs(JobVolume::millilitres(job, 0.1) / 0.079361 - 1.0) < tolerance);
    }

    void printFileName_joinsModelNamesAndCutsAt50()
    {
        const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        QCOMPARE(SliceJobWriter::printFilePath({QStringLiteral("/models/bracket.stl"), QStringLiteral("housing.obj")}),
            temp + QStringLiteral("/bracket_housing.ssj"));
        const QString longName = QString(40, QLatin1Char('a')) + QStringLiteral(".stl");
        const QString path = SliceJobWriter::printFilePath({longName, longName});
        QCOMPARE(QFileInfo(path).fileName(),
            QString(40, QLatin1Char('a')) + QLatin1Char('_') + QString(9, QLatin1Char('a')) + QStringLiteral(".ssj"));
    }
};

QTEST_GUILESS_MAIN(TestSlicer)
#include "tst_slicer.moc"
