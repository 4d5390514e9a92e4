// tessora-cli slice, run as a user runs it: real meshes in, a job file out, and clear
// failures for what cannot be sliced.
#include "clirun.h"
#include "crushedprintjob.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <array>

namespace {

CliRun slice(const QStringList &arguments)
{
    return runCli(QStringList {"slice"} + arguments);
}

QString mesh(const QString &name)
{
    return TestPaths::sourceDir() + QStringLiteral("/tests/data/meshes/") + name;
}

bool load(const QString &path, CrushedPrintJob *job)
{
    QFile file(path);
    return job->loadCPJ(&file);
}

} // namespace

class TestSliceCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void cubeWithHole_plainAndAntiAliased()
    {
        const QString plain = m_dir.filePath(QStringLiteral("cube.ssj"));
        CliRun run
            = slice({mesh(QStringLiteral("binary_solidheader_cube20_with_hole.stl")), "-o", plain, "--layer", "100"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(run.err.contains(QStringLiteral("sliced 100 layers")));
        CrushedPrintJob job;
        QVERIFY(load(plain, &job));
        QCOMPARE(job.versionText(), QStringLiteral("1"));
        QCOMPARE(job.layerThicknessText(), QStringLiteral("0.1"));
        QCOMPARE(job.description(), QStringLiteral("sliced at 100 microns"));
        QCOMPARE(job.getTotalLayers(), 100);
        // 20 x 20 mm minus the 10 x 10 mm hole, on every layer, centred on the platform.
        QCOMPARE(job.totalWhitePixels(), qint64(100) * (200 * 200 - 100 * 100));
        QCOMPARE(job.whiteBounds(), QRect(QPoint(540, 300), QPoint(739, 499)));

        const QString grey = m_dir.filePath(QStringLiteral("cube-aa.ssj"));
        run = slice({mesh(QStringLiteral("binary_solidheader_cube20_with_hole.stl")), "-o", grey, "--anti-aliased",
            "--printer-75"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        CrushedPrintJob greyJob;
        QVERIFY(load(grey, &greyJob));
        QCOMPARE(greyJob.versionText(), QStringLiteral("3"));
        QCOMPARE(greyJob.description(), QStringLiteral("sliced at 75 microns"));
        QCOMPARE(greyJob.getTotalLayers(), 200); // heights stay in millimetres
    }

    void severalModels_placedApartOnThePlatform()
    {
        const QString path = m_dir.filePath(QStringLiteral("two.ssj"));
        const QString cube = mesh(QStringLiteral("binary_solidheader_cube20_with_hole.stl"));
        const CliRun run = slice({cube, cube, "-o", path, "--layer", "100"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        CrushedPrintJob job;
        QVERIFY(load(path, &job));
        // Two whole copies, no overlap between them.
        QCOMPARE(job.totalWhitePixels(), qint64(2) * 100 * (200 * 200 - 100 * 100));
    }

    void supports_holdTheModelWithoutIslands()
    {
        // A T standing on its stem: 26 mm bar on a 6 mm stem, 16 mm high.
        const QString model = m_dir.filePath(QStringLiteral("t.obj"));
        QFile file(model);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray obj;
        int base = 0;
        for (const auto &b : {std::array<int, 6> {-3, -3, 0, 3, 3, 12}, std::array<int, 6> {-13, -3, 12, 13, 3, 16}}) {
            for (int i = 0; i < 8; ++i)
                obj += "v " + QByteArray::number(i & 1 ? b[3] : b[0]) + ' ' + QByteArray::number(i & 2 ? b[4] : b[1])
                    + ' ' + QByteArray::number(i & 4 ? b[5] : b[2]) + '\n';
            const int faces[6][4]
                = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {1, 3, 7, 5}, {3, 2, 6, 7}, {2, 0, 4, 6}};
            for (const auto &f : faces)
                obj += "f " + QByteArray::number(base + f[0] + 1) + ' ' + QByteArray::number(base + f[1] + 1) + ' '
                    + QByteArray::number(base + f[2] + 1) + ' ' + QByteArray::number(base + f[3] + 1) + '\n';
            base += 8;
        }
        file.write(obj);
        file.close();

        const QString job = m_dir.filePath(QStringLiteral("t.ssj"));
        const CliRun run = slice({model, "-o", job, "--supports"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(run.err.contains(QStringLiteral(" supports\n")));
        // Lifted 4.826 mm on its supports: 16 + 4.826 mm at 50 microns.
        QVERIFY2(run.err.contains(QStringLiteral("sliced 417 layers")), qPrintable(run.err));
        const CliRun islands = runCli({"ssj", "islands", job});
        QCOMPARE(islands.exitCode, 0);
        QVERIFY(islands.out.contains("0 larger than 5 pixels"));
    }

    void failures_giveOneErrorLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QString out = QStringLiteral("out.ssj");
        QTest::newRow("no triangles") << QStringList {mesh(QStringLiteral("missing.stl")), "-o", out} << 1
                                      << QStringLiteral("error: ");
        QTest::newRow("not a mesh") << QStringList {mesh(QStringLiteral("SOURCES.md")), "-o", out} << 1
                                    << QStringLiteral("not an STL or OBJ file");
        QTest::newRow("flat") << QStringList {"flat.obj", "-o", out} << 1 << QStringLiteral("Nothing to slice");
        QTest::newRow("no output") << QStringList {mesh(QStringLiteral("obj_concave_66gon.obj"))} << 2
                                   << QStringLiteral("-o JOB is required");
        QTest::newRow("bad layer") << QStringList {mesh(QStringLiteral("obj_concave_66gon.obj")), "-o", out, "--layer",
            "30"} << 2 << QStringLiteral("--layer takes 20, 50 or 100");
        QTest::newRow("bad density") << QStringList {mesh(QStringLiteral("obj_concave_66gon.obj")), "-o", out,
            "--supports", "--density", "101"}
                                     << 2 << QStringLiteral("--density takes 0 to 100");
    }

    void failures_giveOneErrorLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const QString out = m_dir.filePath(QStringLiteral("out.ssj"));
        arguments.replaceInStrings(QRegularExpression(QStringLiteral("^out\\.ssj$")), out);
        // One triangle lying flat: nothing to slice.
        QFile flat(m_dir.filePath(QStringLiteral("flat.obj")));
        QVERIFY(flat.open(QIODevice::WriteOnly) && flat.write("v 0 0 0\nv 10 0 0\nv 0 10 0\nf 1 2 3\n") > 0);
        flat.close();
        arguments.replaceInStrings(QRegularExpression(QStringLiteral("^flat\\.obj$")), flat.fileName());
        const CliRun run = slice(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_GUILESS_MAIN(TestSliceCli)
#include "tst_slicecli.moc"
