// tessora-cli run as a user runs it, as a process: ssj pack, export, info, islands and traps, and
// slice with real meshes. (Writing on a full disk is covered in tst_writefailures.)
#include "clirun.h"
#include "crushedbitmap.h"
#include "crushedprintjob.h"
#include "meshtesting.h"
#include "testimages.h"
#include "testjobs.h"
#include "waiting.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <tuple>

namespace {

// Grey test layers: shapes with levels on both sides of the black threshold,
// and anti-aliased edges.
QImage testLayer(int index, bool greyEdges)
{
    QImage image(1280, 800, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, greyEdges);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(300 + 20 * index, 400), 120, 90);
    painter.fillRect(QRect(800, 100, 200, 50), QColor(31, 31, 31)); // below the threshold: black
    painter.fillRect(QRect(800, 200, 200, 50), QColor(32, 0, 0)); // at the threshold: white
    painter.fillRect(QRect(800, 300, 200, 50 + index), QColor(128, 128, 128));
    return image;
}

QString exportedLayer(const QString &folder, int index)
{
    return QDir(folder).filePath(QStringLiteral("layer_%1.png").arg(index, 5, 10, QLatin1Char('0')));
}

QString mesh(const QString &name)
{
    return TestPaths::sourceDir() + QStringLiteral("/tests/data/meshes/") + name;
}

const QString cubeWithHole = mesh(QStringLiteral("binary_solidheader_cube20_with_hole.stl"));

bool loadJob(const QString &path, CrushedPrintJob *job)
{
    QFile file(path);
    return job->loadCPJ(&file);
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QFileInfo::exists(TestPaths::executable(QStringLiteral("tessora-cli"))));
        QVERIFY(m_dir.isValid());
        for (int i = 0; i < 3; ++i) {
            m_bitImages << m_dir.filePath(QStringLiteral("bit_%1.png").arg(i));
            m_greyImages << m_dir.filePath(QStringLiteral("grey_%1.png").arg(i));
            QVERIFY(testLayer(i, false).save(m_bitImages.last()));
            QVERIFY(testLayer(i, true).save(m_greyImages.last()));
        }
    }

    // ---- ssj ----
    void packThenExport_givesTheLayersBack_data()
    {
        QTest::addColumn<bool>("antiAliased");
        QTest::newRow("bit maps: black and white by the threshold") << false;
        QTest::newRow("grey: the same grey levels") << true;
    }

    void packThenExport_givesTheLayersBack()
    {
        QFETCH(bool, antiAliased);
        const QStringList &images = antiAliased ? m_greyImages : m_bitImages;
        const QString job = m_dir.filePath(antiAliased ? QStringLiteral("grey.ssj") : QStringLiteral("bits.ssj"));
        const QString out = job + QStringLiteral("_out");
        QStringList pack = QStringList {"ssj", "pack"} + images + QStringList {"-o", job};
        if (antiAliased)
            pack << QStringLiteral("--anti-aliased");
        QCOMPARE(runCli(pack).exitCode, 0);
        QCOMPARE(runCli({"ssj", "export", job, out}).exitCode, 0);

        QCOMPARE(QDir(out).entryList({"*.png"}, QDir::Files).size(), 3);
        for (int i = 0; i < 3; ++i) {
            QImage expected = QImage(images[i]).convertToFormat(QImage::Format_RGB32);
            if (!antiAliased) {
                for (int y = 0; y < expected.height(); ++y)
                    for (int x = 0; x < expected.width(); ++x)
                        expected.setPixel(x, y, isLit(expected.pixel(x, y)) ? kWhite : kBlack);
            }
            QCOMPARE(QImage(exportedLayer(out, i)).convertToFormat(QImage::Format_RGB32), expected);
        }
    }

    void info_reportsHeaderAndTotals()
    {
        const QString job = m_dir.filePath(QStringLiteral("info.ssj"));
        QCOMPARE(runCli(QStringList {"ssj", "pack"} + m_bitImages
                     + QStringList {"-o", job, "--thickness", "0.1", "--description", "bracket, 3 layers"})
                     .exitCode,
            0);
        const CliRun info = runCli({"ssj", "info", job, "--json"});
        QCOMPARE(info.exitCode, 0);
        const QJsonObject object = QJsonDocument::fromJson(info.out.toUtf8()).object();
        const QJsonObject expected {{"version", 1}, {"name", "jobname"}, {"description", "bracket, 3 layers"},
            {"layerThickness", 0.1}, {"totalLayers", 3}, {"storedLayers", 3}, {"leadingBlankLayers", 0},
            {"baseLayers", 0}, {"width", 1280}, {"height", 800}, {"supports", 0}, {"texts", 0}};
        for (const QString &key : expected.keys())
            QVERIFY2(object.value(key) == expected.value(key), qPrintable(key));

        qint64 white = 0;
        QRect bounds;
        for (const QString &path : qAsConst(m_bitImages)) {
            const QImage image(path);
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (isLit(image.pixel(x, y))) {
                        ++white;
                        bounds |= QRect(x, y, 1, 1);
                    }
        }
        QCOMPARE(qint64(object.value(QStringLiteral("whitePixels")).toDouble()), white);
        QCOMPARE(object.value(QStringLiteral("bounds")).toArray(),
            QJsonArray({bounds.left(), bounds.top(), bounds.right(), bounds.bottom()}));
        const CliRun text = runCli({"ssj", "info", job});
        QCOMPARE(text.exitCode, 0);
        QVERIFY2(text.out.contains(QStringLiteral("0.1 mm (100 microns)")), qPrintable(text.out));
        // The printer time of the job line `print` would send: three adhesion layers of Clear.
        const CliRun timed = runCli({"ssj", "info", job, "--json", "--printer-time"});
        const QJsonObject time = QJsonDocument::fromJson(timed.out.toUtf8())["printerTime"].toObject();
        QCOMPARE(time.value(QStringLiteral("job")).toString(), QStringLiteral("3,30,15,100,20,3,Clear,1,1,1"));
        QCOMPARE(time.value(QStringLiteral("seconds")).toDouble(), 3 * 30.0 + 3 * 3 + 2 + 5 + 3);
        QCOMPARE(runCli({"ssj", "info", job, "--resin", "Castable"}).exitCode, 1); // none at 100 microns

        // Grey jobs, of the default thickness, report the bounds of their lit pixels too.
        const QString grey = m_dir.filePath(QStringLiteral("info_grey.ssj"));
        QCOMPARE(runCli(QStringList {"ssj", "pack", m_greyImages[0], "-o", grey, "--anti-aliased"}).exitCode, 0);
        const QJsonObject greyObject
            = QJsonDocument::fromJson(runCli({"ssj", "info", grey, "--json"}).out.toUtf8()).object();
        QCOMPARE(greyObject.value(QStringLiteral("version")).toInt(), 3);
        QCOMPARE(greyObject.value(QStringLiteral("layerThickness")).toDouble(), 0.05);
        QCOMPARE(greyObject.value(QStringLiteral("bounds")).toArray().at(2).toInt(), 999);
    }

    void islands_floatingSquareFound_supportedOneNot()
    {
        // Layer 0 stands on the platform; layer 1 keeps its square and adds a 5-pixel speck;
        // layer 2 adds a floating 20 x 10 square; each grey job layer has the same shapes.
        const QList<QList<QRect>> layers = {
            {QRect(100, 100, 40, 40)},
            {QRect(100, 100, 40, 40), QRect(600, 600, 5, 1)},
            {QRect(100, 100, 40, 40), QRect(600, 600, 5, 1), QRect(300, 300, 20, 10), QRect(140, 140, 5, 5)},
        };
        QStringList images;
        for (int i = 0; i < layers.size(); ++i) {
            QImage image(1280, 800, QImage::Format_RGB32);
            image.fill(Qt::black);
            QPainter painter(&image);
            for (const QRect &rect : layers[i])
                painter.fillRect(rect, Qt::white);
            painter.end();
            images << m_dir.filePath(QStringLiteral("island_%1.png").arg(i));
            QVERIFY(image.save(images.last()));
        }
        for (const QString &flavour : QStringList {"--thickness=0.05", "--anti-aliased"}) {
            const QString job = m_dir.filePath(QStringLiteral("islands%1.ssj").arg(flavour));
            QCOMPARE(runCli(QStringList {"ssj", "pack"} + images + QStringList {"-o", job, flavour}).exitCode, 0);

            const CliRun text = runCli({"ssj", "islands", job});
            QCOMPARE(text.exitCode, 1);
            QVERIFY2(text.out.contains(QStringLiteral("layer 2: 200 pixels at (309.5, 304.5)")), qPrintable(text.out));
            QVERIFY(text.out.contains(QStringLiteral("layer 1: 5 pixels at (602.0, 600.0)")));
            // The 5 x 5 square touching the big one only at a corner belongs to it: 8 neighbours.
            QVERIFY(text.out.contains(QStringLiteral("2 island(s), 1 larger than 5 pixels")));

            const CliRun json = runCli({"ssj", "islands", job, "--json"});
            QCOMPARE(json.exitCode, 1);
            const QJsonArray array = QJsonDocument::fromJson(json.out.toUtf8()).array();
            QCOMPARE(array.size(), 2);
            const QJsonObject floating = array.at(1).toObject();
            const QJsonObject expected {{"layer", 2}, {"pixels", 200}, {"x", 309.5}, {"y", 304.5}};
            for (const QString &key : expected.keys())
                QCOMPARE(floating.value(key), expected.value(key));
        }

        // Only supported regions, and specks up to 5 pixels: exit 0.
        const QString supported = m_dir.filePath(QStringLiteral("supported.ssj"));
        QCOMPARE(runCli({"ssj", "pack", images[0], images[0], images[1], "-o", supported}).exitCode, 0);
        const CliRun ok = runCli({"ssj", "islands", supported});
        QCOMPARE(ok.exitCode, 0);
        QVERIFY(ok.out.contains(QStringLiteral("1 island(s), 0 larger than 5 pixels")));
    }

    void traps_closedBoxFails_boxWithHoleOrBelowTheThresholdPasses()
    {
        const QString closed = m_dir.filePath(QStringLiteral("closed.ssj"));
        const QString holed = m_dir.filePath(QStringLiteral("holed.ssj"));
        QVERIFY(hollowBoxJob(20, 3, 3).saveCPJ(closed));
        QVERIFY(hollowBoxJob(20, 3, 3, QRect(35, 20, 4, 4), {17, 19}).saveCPJ(holed));
        const CliRun found = runCli({"ssj", "traps", closed, "--json"});
        QCOMPARE(found.exitCode, 1);
        // 34 x 24 pixels of 0.1 mm, in 14 layers of 0.1 mm.
        QCOMPARE(QJsonDocument::fromJson(found.out.toUtf8()).array().at(0)["volumeMm3"].toDouble(), 11.424);
        QCOMPARE(runCli({"ssj", "traps", closed, "--min-volume", "11.5"}).exitCode, 0);
        QCOMPARE(runCli({"ssj", "traps", holed}).exitCode, 0);
        QCOMPARE(runCli({"ssj", "traps", closed, "--min-volume", "-1"}).exitCode, 2);
    }

    // ---- slice ----
    void slice_cubeWithHole_plainAndAntiAliased()
    {
        const QString plain = m_dir.filePath(QStringLiteral("cube.ssj"));
        CliRun run = runCli({"slice", cubeWithHole, "-o", plain, "--layer", "100"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(run.err.contains(QStringLiteral("sliced 100 layers")));
        CrushedPrintJob job;
        QVERIFY(loadJob(plain, &job));
        QCOMPARE(job.versionText(), QStringLiteral("1"));
        QCOMPARE(job.layerThicknessText(), QStringLiteral("0.1"));
        QCOMPARE(job.description(), QStringLiteral("sliced at 100 microns"));
        QCOMPARE(job.getTotalLayers(), 100);
        // 20 x 20 mm minus the 10 x 10 mm hole, on every layer, centred on the platform.
        QCOMPARE(job.totalWhitePixels(), qint64(100) * (200 * 200 - 100 * 100));
        QCOMPARE(job.whiteBounds(), QRect(QPoint(540, 300), QPoint(739, 499)));

        const QString grey = m_dir.filePath(QStringLiteral("cube-aa.ssj"));
        run = runCli({"slice", cubeWithHole, "-o", grey, "--anti-aliased", "--printer-75"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        CrushedPrintJob greyJob;
        QVERIFY(loadJob(grey, &greyJob));
        QCOMPARE(greyJob.versionText(), QStringLiteral("3"));
        QCOMPARE(greyJob.description(), QStringLiteral("sliced at 75 microns"));
        QCOMPARE(greyJob.getTotalLayers(), 200); // heights stay in millimetres

        // Supersampled, the edges on pixel boundaries: as much resin as the bit map, 3 ml.
        const QString supersampled = m_dir.filePath(QStringLiteral("cube-4x.ssj"));
        QCOMPARE(runCli({"slice", cubeWithHole, "-o", supersampled, "--layer", "100", "--aa-level", "4"}).exitCode, 0);
        for (const QString &path : {plain, supersampled}) {
            run = runCli({"ssj", "info", path, "--json"});
            QCOMPARE(QJsonDocument::fromJson(run.out.toUtf8()).object().value("volumeMl").toDouble(), 3.0);
        }
    }

    void slice_severalModels_placedApartOnThePlatform()
    {
        const QString path = m_dir.filePath(QStringLiteral("two.ssj"));
        const CliRun run = runCli({"slice", cubeWithHole, cubeWithHole, "-o", path, "--layer", "100"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        CrushedPrintJob job;
        QVERIFY(loadJob(path, &job));
        // Two whole copies, no overlap between them.
        QCOMPARE(job.totalWhitePixels(), qint64(2) * 100 * (200 * 200 - 100 * 100));
    }

    void slice_supports_holdTheModelWithoutIslands()
    {
        const QString job = m_dir.filePath(QStringLiteral("supported-cube.ssj"));
        const CliRun run = runCli({"slice", cubeWithHole, "-o", job, "--supports"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(run.err.contains(QStringLiteral(" supports\n")));
        // Lifted 4.9 mm (0.19 in rounded up to whole layers) on its supports: 14.9 mm at 50 microns.
        QVERIFY2(run.err.contains(QStringLiteral("sliced 298 layers")), qPrintable(run.err));
        const CliRun islands = runCli({"ssj", "islands", job});
        QCOMPARE(islands.exitCode, 0);
        QVERIFY(islands.out.contains("0 larger than 5 pixels"));
    }

    // ---- slice: preparing the models as the window does ----
    void slice_preparation_scalesAndTurnsTheModels_data()
    {
        QTest::addColumn<QVector3D>("fileBox"); // the file's x, y and z (z up), mm
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QVector3D>("printed"); // width, depth and height on the platform, mm; none: too large
        QTest::addColumn<bool>("fitsTurned"); // when too large
        const QVector3D box(10, 16, 12); // stands 10 wide, 16 deep, 12 high
        QTest::newRow("as drawn") << box << QStringList() << QVector3D(10, 16, 12) << false;
        QTest::newRow("--scale 2") << box << QStringList {"--scale", "2"} << QVector3D(20, 32, 24) << false;
        QTest::newRow("--scale 0.5") << box << QStringList {"--scale", "0.5"} << QVector3D(5, 8, 6) << false;
        QTest::newRow("--inches") << QVector3D(0.5f, 1, 0.5f) << QStringList {"--inches"}
                                  << QVector3D(12.7f, 25.4f, 12.7f) << false;
        QTest::newRow("--rotate x:90, laid on its back")
            << box << QStringList {"--rotate", "x:90"} << QVector3D(10, 12, 16) << false;
        QTest::newRow("--rotate y:90, a quarter turn on the platform")
            << box << QStringList {"--rotate", "y:90"} << QVector3D(16, 10, 12) << false;
        QTest::newRow("--rotate Z:-90 then y:90, in that order")
            << box << QStringList {"--rotate", "Z:-90", "--rotate", "y:90"} << QVector3D(16, 12, 10) << false;
        QTest::newRow("70 x 100 on 128 x 80") << QVector3D(70, 100, 10) << QStringList() << QVector3D() << true;
        QTest::newRow("150 x 100 on 128 x 80") << QVector3D(150, 100, 10) << QStringList() << QVector3D() << false;
        QTest::newRow("50 x 70 on 96 x 60")
            << QVector3D(50, 70, 10) << QStringList {"--printer-75"} << QVector3D() << true;
        QTest::newRow("35 x 50 at --scale 2")
            << QVector3D(35, 50, 10) << QStringList {"--scale", "2"} << QVector3D() << true;
    }

    // A model too large is refused, naming the turn that makes it fit when there is one.
    void slice_preparation_scalesAndTurnsTheModels()
    {
        QFETCH(QVector3D, fileBox);
        QFETCH(QStringList, options);
        QFETCH(QVector3D, printed);
        QFETCH(bool, fitsTurned);
        QTemporaryDir dir;
        const QString model
            = MeshTesting::writeStlBox(dir, QStringLiteral("box.stl"), fileBox.x(), fileBox.y(), fileBox.z());
        const QString path = dir.filePath(QStringLiteral("box.ssj"));
        const QStringList slice = QStringList {"slice", model, "-o", path, "--layer", "100"} + options;
        CliRun run = runCli(slice);
        if (printed.isNull()) {
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(
                run.err.contains(QStringLiteral("error: box.stl does not fit on the platform")), qPrintable(run.err));
            QCOMPARE(run.err.contains(QStringLiteral("would fit turned 90 degrees about the vertical: --rotate y:90")),
                fitsTurned);
            QVERIFY(!QFileInfo::exists(path));
            if (fitsTurned) // the turn named does make it fit
                QCOMPARE(runCli(slice + QStringList {"--rotate", "y:90"}).exitCode, 0);
            return;
        }
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        CrushedPrintJob job;
        QVERIFY(loadJob(path, &job));
        // 0.1 mm pixels and layers; the edges of a box drawn in inches fall inside pixels.
        QVERIFY2(qAbs(job.getTotalLayers() - printed.z() * 10) <= 1, qPrintable(QString::number(job.getTotalLayers())));
        const QRect lit = job.whiteBounds();
        QVERIFY2(qAbs(lit.width() - printed.x() * 10) <= 1 && qAbs(lit.height() - printed.y() * 10) <= 1,
            qPrintable(QStringLiteral("%1 x %2").arg(lit.width()).arg(lit.height())));
        QVERIFY(qAbs(lit.center().x() - 640) <= 1 && qAbs(lit.center().y() - 400) <= 1);
        const double area = double(job.getCBMSlice(0)->whitePixels());
        QVERIFY2(qAbs(area / (printed.x() * printed.y() * 100) - 1) < 0.02, qPrintable(QString::number(area)));
    }

    void slice_arrange_packsWhatTheCornerGridCannot()
    {
        QTemporaryDir dir;
        // Six parts of 39 x 23 mm: the placement from the corner on a 10 mm grid has room
        // for four, packing for nine.
        const QString part = MeshTesting::writeStlBox(dir, QStringLiteral("part.stl"), 39, 23, 5);
        const QString path = dir.filePath(QStringLiteral("six.ssj"));
        const QStringList six = QVector<QString>(6, part).toList();
        CliRun run = runCli(QStringList {"slice"} + six + QStringList {"-o", path, "--layer", "100"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("--arrange packs them closer")), qPrintable(run.err));
        run = runCli(QStringList {"slice"} + six + QStringList {"-o", path, "--layer", "100", "--arrange"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        CrushedPrintJob job;
        QVERIFY(loadJob(path, &job));
        // Six whole footprints in the first layer, none overlapping (the margins and gaps are
        // checked with the platform's arranging).
        QCOMPARE(qint64(job.getCBMSlice(0)->whitePixels()), qint64(6) * 390 * 230);
        // Ten: one too many, said in words.
        run = runCli(QStringList {"slice"} + QStringList(QVector<QString>(10, part).toList())
            + QStringList {"-o", path, "--arrange"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(
            run.err.contains(QStringLiteral("error: 1 of 10 models do not fit on the platform")), qPrintable(run.err));
    }

    // ---- Failures: exit 1 with one "error: " line, or exit 2 with the usage ----
    void failures_exitCodeAndMessage_nothingWritten_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString out = m_dir.filePath(QStringLiteral("never.ssj"));

        // Files that are no job file, for ssj info and ssj export.
        QFile source(m_dir.filePath(QStringLiteral("bits.ssj")));
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray job = source.readAll();
        QByteArray version2;
        QDataStream stream(&version2, QIODevice::WriteOnly);
        stream << QStringLiteral("2") << QStringLiteral("jobname");
        const QList<std::tuple<const char *, QByteArray, QString>> notJobs = {
            {"empty", QByteArray(), "not a job file"},
            {"version 2", version2, "format version \"2\""},
            {"cut in half", job.left(job.size() / 2), "damaged"},
        };
        for (const auto &[name, content, reason] : notJobs) {
            const QString path = m_dir.filePath(QStringLiteral("bad_%1.ssj").arg(name));
            QVERIFY(writeFileBytes(path, content));
            QTest::addRow("info, %s", name) << QStringList {"ssj", "info", path} << 1 << reason;
            QTest::addRow("export, %s", name)
                << QStringList {"ssj", "export", path, m_dir.filePath("out")} << 1 << reason;
        }
        const QString text = m_dir.filePath(QStringLiteral("notimage.png"));
        QVERIFY(writeFileBytes(text, "this is text"));
        QTest::newRow("pack, image is text")
            << QStringList {"ssj", "pack", m_bitImages[0], text, "-o", out} << 1 << "error: cannot read image";
        QTest::newRow("pack into a missing folder")
            << QStringList {"ssj", "pack", m_bitImages[0], "-o", m_dir.filePath("no/folder/job.ssj")} << 1 << "";
        QTest::newRow("export into a file")
            << QStringList {"ssj", "export", source.fileName(), m_bitImages[1]} << 1 << "";
        QTest::newRow("slice, no triangles") << QStringList {"slice", mesh("missing.stl"), "-o", out} << 1 << "";
        QTest::newRow("slice, not a mesh")
            << QStringList {"slice", mesh("SOURCES.md"), "-o", out} << 1 << "not an STL or OBJ file";
        // One triangle lying flat: nothing to slice.
        const QString flat = m_dir.filePath(QStringLiteral("flat.obj"));
        QVERIFY(writeFileBytes(flat, "v 0 0 0\nv 10 0 0\nv 0 10 0\nf 1 2 3\n"));
        QTest::newRow("slice, flat") << QStringList {"slice", flat, "-o", out} << 1 << "Nothing to slice";

        const QString concave = mesh(QStringLiteral("obj_concave_66gon.obj"));
        QTest::newRow("slice without -o") << QStringList {"slice", concave} << 2 << "-o JOB is required";
        QTest::newRow("slice, bad layer")
            << QStringList {"slice", concave, "-o", out, "--layer", "30"} << 2 << "--layer takes 20, 50 or 100";
        QTest::newRow("slice, scale 0") << QStringList {"slice", concave, "-o", out, "--scale", "0"} << 2
                                        << "--scale takes a number above 0";
        for (const char *turn : {"w:90", "y", "y:quarter", "xy:90"})
            QTest::addRow("slice, --rotate %s", turn)
                << QStringList {"slice", concave, "-o", out, "--rotate", turn} << 2 << "--rotate takes AXIS:DEGREES";
        QTest::newRow("slice, bad density") << QStringList {"slice", concave, "-o", out, "--supports", "--density",
            "101"} << 2 << "--density takes 0 to 100";
        QTest::newRow("slice, aa level 3")
            << QStringList {"slice", concave, "-o", out, "--aa-level", "3"} << 2 << "--aa-level takes 1, 2, 4 or 8";
        const QList<QStringList> badUsage = {{}, {"frobnicate"}, {"ssj"}, {"ssj", "unpack"}, {"ssj", "info"},
            {"ssj", "info", "a.ssj", "--xml"}, {"ssj", "export", "a.ssj"}, {"ssj", "pack", "a.png"},
            {"ssj", "pack", "-o", "a.ssj"}, {"ssj", "pack", "a.png", "-o", "a.ssj", "--thickness", "fifty"},
            {"ssj", "pack", "a.png", "-o", "a.ssj", "--thickness", "0"}};
        for (const QStringList &arguments : badUsage)
            QTest::addRow("usage: '%s'", qPrintable(arguments.join(' '))) << arguments << 2 << "usage";
    }

    void failures_exitCodeAndMessage_nothingWritten()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const CliRun run = runCli(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        if (exitCode == 1)
            QCOMPARE(run.errorLines().filter(QRegularExpression(QStringLiteral("^error: "))).size(), 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("never.ssj"))));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("no"))));
    }

private:
    QTemporaryDir m_dir;
    QStringList m_bitImages;
    QStringList m_greyImages;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
