// The slicing engine on hand-made scenes: holes, shared edges, gaps closed by linking or
// by a filler segment, self-crossing contours, the run itself (threads, progress, cancel,
// failures) and the job it writes. Coverage of solids against exact sections, overlaps,
// heights, the scene transform and anti-aliased edges are in tst_sliceaccuracy.
#include "crushedprintjob.h"
#include "genslices.h"
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
const QRgb kBlack = 0xFF000000u;
const QRgb kTransparent = 0x00000000u;

int countPixels(const QImage &image, QRgb value)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == value ? 1 : 0;
    return count;
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

} // namespace

class TestSlicer : public QObject
{
    Q_OBJECT

private slots:
    void throughHole_leavesAFrameWithAnEmptyInside()
    {
        TestMesh scene;
        scene.add(QVector3D(0, 0, 1), QVector3D(0, 0, 1), QVector3D(0, 0, 1)); // degenerate: ignored
        scene.box(QVector3D(-5, -5, 0), QVector3D(5, 5, 2));
        scene.hole(QVector3D(-2, -2, 0), QVector3D(2, 2, 2));
        GenSlices slicer;
        QVERIFY(prepare(slicer, scene));
        const QImage image = slicer.layerImage(5, false);
        QCOMPARE(countPixels(image, kRed), 100 * 100 - 40 * 40);
        // Covered once by each kind: transparent, not solid.
        QCOMPARE(countPixels(image, kTransparent), 40 * 40);
        QCOMPARE(image.pixel(640, 400), kTransparent);
        const SliceLayer layer = slicer.sliceLayer(5);
        QCOMPARE(layer.loopCount(), 2);
        QCOMPARE(int(layer.loops[0].outer) + int(layer.loops[1].outer), 1);
    }

    void touchingCubes_shareTheirEdgeWithoutGapOrOverlap()
    {
        // Edges on pixel centres: the shared one must be counted once.
        TestMesh scene;
        scene.box(QVector3D(-4.95f, -5, 0), QVector3D(0.05f, 5, 1));
        scene.box(QVector3D(0.05f, -5, 0), QVector3D(5.05f, 5, 1));
        GenSlices slicer;
        QVERIFY(prepare(slicer, scene));
        const QImage image = slicer.layerImage(0, false);
        QCOMPARE(countPixels(image, kRed), 100 * 100);
        QCOMPARE(countPixels(image, kTransparent), 0);
    }

    void smallGap_closedByLinking_largeGap_byAFiller_data()
    {
        QTest::addColumn<float>("gap");
        QTest::addColumn<bool>("filler");
        QTest::newRow("0.02 mm") << 0.02f << false;
        QTest::newRow("0.5 mm") << 0.5f << true;
    }

    void smallGap_closedByLinking_largeGap_byAFiller()
    {
        QFETCH(float, gap);
        QFETCH(bool, filler);
        // A box whose right wall is shifted sideways by the gap: its cut no longer meets
        // the back wall's.
        TestMesh scene;
        const float z0 = 0;
        const float z1 = 1;
        const auto wall = [&](QPointF p, QPointF q) {
            scene.add(QVector3D(float(p.x()), float(p.y()), z0), QVector3D(float(q.x()), float(q.y()), z0),
                QVector3D(float(q.x()), float(q.y()), z1));
            scene.add(QVector3D(float(p.x()), float(p.y()), z0), QVector3D(float(q.x()), float(q.y()), z1),
                QVector3D(float(p.x()), float(p.y()), z1));
        };
        wall({-5, -5}, {5, -5});
        wall({5, -5}, {5, 5 - gap});
        wall({5, 5}, {-5, 5});
        wall({-5, 5}, {-5, -5});
        GenSlices slicer;
        QVERIFY(prepare(slicer, scene));
        const SliceLayer layer = slicer.sliceLayer(0);
        QCOMPARE(layer.loopCount(), 1);
        QCOMPARE(layer.loops[0].closedByFiller, filler);
        QVERIFY(layer.loops[0].outer);
        const int solid = countPixels(slicer.layerImage(0, false), kRed);
        QVERIFY2(qAbs(solid - 100 * 100) <= 60, qPrintable(QString::number(solid)));
    }

    void figureEight_isSplitIntoTwoFilledLoops()
    {
        // A prism over a self-crossing outline: two triangles meeting at the origin.
        TestMesh scene;
        scene.prism({{-5, -5}, {5, 5}, {5, -5}, {-5, 5}}, 0, 1);
        GenSlices slicer;
        QVERIFY(prepare(slicer, scene));
        const SliceLayer layer = slicer.sliceLayer(0);
        QCOMPARE(layer.loopCount(), 2);
        const QImage image = slicer.layerImage(0, false);
        // Two triangles of 5 x 10 / 2 mm^2 each: 2500 pixels each, give or take the
        // pixels along the edges.
        const int solid = countPixels(image, kRed);
        QVERIFY2(qAbs(solid - 5000) <= 150, qPrintable(QString::number(solid)));
        QCOMPARE(image.pixel(640 - 30, 400), kRed); // left lobe
        QCOMPARE(image.pixel(640 + 30, 400), kRed); // right lobe
        QCOMPARE(image.pixel(640, 400 - 30), kBlack);
    }

    void emptyAndFlatScenes_refusedWithAMessage()
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
    }

    void run_sameFileWithAnyThreadCount_progressRisesTo100()
    {
        TestMesh scene;
        scene.box(QVector3D(-5, -5, 0), QVector3D(5, 5, 3));
        scene.hole(QVector3D(-2, -2, 0), QVector3D(2, 2, 3));
        scene.prism({{8, 8}, {20, 9}, {12, 15}}, 0.5f, 2.5f);
        QTemporaryDir dir;
        QByteArray reference;
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

    void unwritableFile_isAFailure()
    {
        TestMesh scene;
        scene.box(QVector3D(-1, -1, 0), QVector3D(1, 1, 1));
        GenSlices slicer;
        QVERIFY(!slicer.saveSlices(scene.triangles(), QStringLiteral("/nonexistent-folder/job.ssj"), settings(0.1)));
        QCOMPARE(slicer.result(), GenSlices::Result::WriteFailed);
        QVERIFY(slicer.errorString().contains(QStringLiteral("/nonexistent-folder/job.ssj")));
    }

    void plainJob_readsBackWithRedAsWhite()
    {
        TestMesh scene;
        scene.box(QVector3D(-5, -5, 0), QVector3D(5, 5, 1));
        scene.hole(QVector3D(-2, -2, 0), QVector3D(2, 2, 1));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("plain.ssj"));
        GenSlices slicer;
        QVERIFY(
            slicer.saveSlices(scene.triangles(), path, settings(0.1, false, QStringLiteral("sliced at 100 microns"))));
        CrushedPrintJob job;
        QFile file(path);
        QVERIFY(job.loadCPJ(&file));
        // Version, description and thickness are checked with the editor's slicing.
        QCOMPARE(job.name(), QStringLiteral("jobname"));
        QCOMPARE(job.reservedTexts(),
            QStringList({QStringLiteral("Reserved3"), QStringLiteral("Reserved2"), QStringLiteral("Reserved1")}));
        QCOMPARE(int(job.supports().size()), 0);
        QVERIFY(job.texts().isEmpty());
        QCOMPARE(job.getTotalLayers(), 10);
        QCOMPARE(job.largestWidth(), 1280);
        QCOMPARE(job.largestHeight(), 800);

        GenSlices reference;
        QVERIFY(prepare(reference, scene));
        const QImage sliced = reference.layerImage(4, false);
        QImage unpacked;
        job.getCBMSlice(4)->inflateSlice(&unpacked, 0, 0, true);
        for (int y = 0; y < 800; y += 3) {
            for (int x = 0; x < 1280; x += 3) {
                const bool white = qRed(unpacked.pixel(x, y)) == 255;
                QCOMPARE(white, sliced.pixel(x, y) == kRed);
            }
        }
    }

    void antiAliasedJob_keepsItsGreyEdges()
    {
        TestMesh scene;
        scene.prism({{-5, -5}, {5, -4}, {5, 5}, {-5, 5}}, 0, 1);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("grey.ssj"));
        GenSlices slicer;
        QVERIFY(slicer.saveSlices(scene.triangles(), path, settings(0.05, true)));
        CrushedPrintJob job;
        QFile file(path);
        QVERIFY(job.loadCPJ(&file));
        QCOMPARE(job.versionText(), QStringLiteral("3"));
        QCOMPARE(job.description(), QStringLiteral("jobdesc"));
        GenSlices reference;
        QVERIFY(prepare(reference, scene, 0.05));
        const QImage sliced = reference.layerImage(7, true);
        const QImage stored = CrushedAntiBitMap::decodePng(job.getCBMSliceAnti(7)->png());
        QCOMPARE(stored.convertToFormat(QImage::Format_Grayscale8), sliced);
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
