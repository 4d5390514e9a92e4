// Mesh import: choosing the reader, the three readers and their damaged inputs, recomputed
// normals, recentring, and of every test mesh its box, volume and progress; the unit checks.
#include "importchecks.h"
#include "logcapture.h"
#include "meshgeometry.h"
#include "meshimporter.h"
#include "meshtesting.h"
#include "testpaths.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>

using MeshTesting::near;

namespace {

QString projectMesh(const QString &name)
{
    return TestPaths::sourceDir() + QStringLiteral("/tests/data/meshes/") + name;
}

QString sharedMeshDir()
{
    return QStringLiteral(TESSORA_SHARED_DIR) + QStringLiteral("/testdata/meshes");
}

// One 50-byte binary facet with the given stored normal and vertices and a non-zero
// attribute word.
QByteArray binaryFacet(QVector3D normal, QVector3D a, QVector3D b, QVector3D c)
{
    QByteArray facet;
    QDataStream out(&facet, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    for (const QVector3D &v : {normal, a, b, c})
        out << v.x() << v.y() << v.z();
    out << quint16(0x1234);
    return facet;
}

QByteArray binaryStl(const QByteArray &header, quint32 declaredCount, const QByteArrayList &facets)
{
    const quint32 count = qToLittleEndian(declaredCount);
    return header.leftJustified(80, ' ', true) + QByteArray(reinterpret_cast<const char *>(&count), 4) + facets.join();
}

// The box of all vertices as (min, max).
QPair<QVector3D, QVector3D> boxOf(const QList<MeshTriangle *> &triangles)
{
    const float big = std::numeric_limits<float>::max();
    QVector3D low(big, big, big), high(-big, -big, -big);
    for (const MeshTriangle *t : triangles) {
        for (const QVector3D &v : {t->a, t->b, t->c}) {
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = qMin(low[axis], v[axis]);
                high[axis] = qMax(high[axis], v[axis]);
            }
        }
    }
    return {low, high};
}

double areaOf(const MeshTriangle *t)
{
    return QVector3D::crossProduct(t->b - t->a, t->c - t->a).length() / 2.0;
}

// One unit of the last digit the number is written with: "5.5" is known to 0.1 (the notes
// round some sizes and cut others).
double tolerance(const QString &written)
{
    const int dot = written.indexOf(QLatin1Char('.'));
    const int decimals = dot < 0 ? 0 : written.size() - dot - 1;
    return std::pow(10.0, -decimals) + 1e-6;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

class TestMeshImporter : public QObject
{
    Q_OBJECT

private slots:
    // --- Which files are read, and how failures show ----------------------------------

    void suffixIsComparedIgnoringCase_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("supported");
        QTest::newRow("stl") << "part.stl" << true;
        QTest::newRow("STL") << "part.STL" << true;
        QTest::newRow("Obj") << "model.Obj" << true;
        QTest::newRow("stla") << "part.stla" << false;
        QTest::newRow("objx") << "part.objx" << false;
        QTest::newRow("no suffix") << "stl" << false;
        QTest::newRow("3mf") << "part.3mf" << false;
    }
    void suffixIsComparedIgnoringCase()
    {
        QFETCH(QString, name);
        QFETCH(bool, supported);
        QCOMPARE(MeshImporter::isSupportedFile(name), supported);

        // A real mesh under this name: read when supported, refused with the log line otherwise.
        const bool obj = name.contains(QLatin1String(".obj"), Qt::CaseInsensitive);
        QFile mesh(projectMesh(obj ? QStringLiteral("obj_chest_open_quads_vtvn.obj")
                                   : QStringLiteral("binary_solidheader_cube20_with_hole.stl")));
        QVERIFY(mesh.open(QIODevice::ReadOnly));
        QTemporaryDir dir;
        const QString path = writeFile(dir, name, mesh.readAll());
        LogCapture log;
        MeshImporter importer(path);
        if (supported) {
            QCOMPARE(importer.triangles().size(), obj ? 24 : 32);
            QCOMPARE(importer.error(), MeshImporter::Error::None);
        } else {
            QVERIFY(importer.triangles().isEmpty());
            QCOMPARE(importer.error(), MeshImporter::Error::InvalidPath);
            QVERIFY(log.lines().contains(
                QStringLiteral("ERROR - MeshImporter::readFile. Invalid filePath passed. ") + path));
        }
    }

    void unusableFilesGiveAnErrorAndNoTriangles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("error");
        QTest::newRow("missing") << "" << QByteArray() << int(MeshImporter::Error::InvalidPath);
        QTest::newRow("empty stl") << "empty.stl" << QByteArray() << int(MeshImporter::Error::NoTriangles);
        QTest::newRow("empty obj") << "empty.obj" << QByteArray() << int(MeshImporter::Error::NoTriangles);
        QTest::newRow("short binary stl")
            << "short.stl" << QByteArray(40, '\x01') << int(MeshImporter::Error::NoTriangles);
        QTest::newRow("empty solid") << "solid.stl" << QByteArray("solid x\nendsolid x\n")
                                     << int(MeshImporter::Error::NoTriangles);
        QTest::newRow("zero facets") << "zero.stl" << binaryStl("model", 0, {})
                                     << int(MeshImporter::Error::NoTriangles);
        QTest::newRow("obj without faces")
            << "points.obj" << QByteArray("v 1 2 3\nv 4 5 6\n") << int(MeshImporter::Error::NoTriangles);
    }
    void unusableFilesGiveAnErrorAndNoTriangles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, error);
        QTemporaryDir dir;
        const QString path = name.isEmpty() ? QDir::temp().filePath(QStringLiteral("no-such-mesh-here.stl"))
                                            : writeFile(dir, name, bytes);
        LogCapture log;
        MeshImporter importer(path);
        QVERIFY(importer.triangles().isEmpty());
        QCOMPARE(int(importer.error()), error);
        QVERIFY(!importer.errorString().isEmpty());
        QVERIFY(!log.lines().isEmpty());
    }

    // --- STL: text or binary ---------------------------------------------------------

    void asciiSpellingsReadTheSame_data()
    {
        QTest::addColumn<QByteArray>("text");
        // Stored normals are not trusted: the vertex order decides.
        const QByteArray plain("solid t\nfacet normal 7 7 -7\nouter loop\nvertex 0 0 0\nvertex 10 0 0\n"
                               "vertex 0 20 0\nendloop\nendfacet\nendsolid t\n");
        QTest::newRow("plain") << plain;
        QByteArray crlf = plain;
        crlf.replace("\n", "\r\n");
        QTest::newRow("CRLF") << crlf;
        QTest::newRow("indented upper case tabs") << QByteArray(
            "  SOLID T\r\n\tFACET NORMAL 0 0 1\r\n\t\tOUTER LOOP\r\n\t\t\tVERTEX\t0\t0\t0\r\n"
            "\t\t\tVERTEX  10 \t 0   0  \r\n\t\t\tVertex 0 20 0\r\n\t\tENDLOOP\r\n\tENDFACET\r\nENDSOLID\r\n");
        QTest::newRow("exponents") << QByteArray(
            " solid t\n facet normal 0.000000e+00 0.000000e+00 1.000000e+00\n  outer loop\n"
            "   vertex 0.000000E+00 0.0e0 -0.0\n   vertex 1.0e+01 0 0\n   vertex 0 0.200000E+02 0\n"
            "  endloop\n endfacet\n endsolid\n");
        QTest::newRow("blank lines and no final newline")
            << QByteArray("solid t\n\nfacet normal 0 0 1\n\nouter loop\nvertex 0 0 0\n\nvertex 10 0 0\nvertex 0 20 0\n"
                          "endloop\nendfacet\nendsolid t");
    }
    void asciiSpellingsReadTheSame()
    {
        QFETCH(QByteArray, text);
        QTemporaryDir dir;
        MeshImporter importer(writeFile(dir, QStringLiteral("t.stl"), text));
        QCOMPARE(importer.format(), MeshImporter::Format::AsciiStl);
        QCOMPARE(importer.triangles().size(), 1);
        const MeshTriangle *t = importer.triangles().first();
        // Recentred on the box centre (5, 10, 0).
        QVERIFY(near(t->a, QVector3D(-5, -10, 0)));
        QVERIFY(near(t->b, QVector3D(5, -10, 0)));
        QVERIFY(near(t->c, QVector3D(-5, 10, 0)));
        QVERIFY(near(t->normal, QVector3D(0, 0, 1)));
    }

    // --- Binary STL whose count and size disagree --------------------------------------

    void shortBinaryReadsTheFacetsItHolds_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<quint32>("declared");
        QTest::addColumn<int>("extraBytes");
        QTest::newRow("truncated") << QByteArray("model") << quint32(10) << 0;
        QTest::newRow("cut inside a facet") << QByteArray("model") << quint32(10) << 17;
        QTest::newRow("four billion") << QByteArray("model") << quint32(0xFFFFFFFFu) << 0;
        QTest::newRow("four billion, solid header") << QByteArray("solid x facet") << quint32(4000000000u) << 3;
    }
    void shortBinaryReadsTheFacetsItHolds()
    {
        QFETCH(QByteArray, header);
        QFETCH(quint32, declared);
        QFETCH(int, extraBytes);
        QByteArrayList facets;
        for (int i = 0; i < 3; ++i)
            facets.append(
                binaryFacet({std::nanf(""), 1e30f, 0}, {0, 0, float(i)}, {10, 0, float(i)}, {0, 10, float(i)}));
        QByteArray bytes = binaryStl(header, declared, facets) + QByteArray(extraBytes, '\x7f');
        QTemporaryDir dir;
        LogCapture log;
        MeshImporter importer(writeFile(dir, QStringLiteral("short.stl"), bytes));
        QCOMPARE(importer.format(), MeshImporter::Format::BinaryStl);
        QCOMPARE(importer.triangles().size(), 3);
        QCOMPARE(importer.missingFacets(), qint64(declared) - 3);
        for (const MeshTriangle *t : importer.triangles())
            QVERIFY(near(t->normal, QVector3D(0, 0, 1))); // recomputed; no invented zero facets
        const auto box = boxOf(importer.triangles());
        QVERIFY(near(box.second - box.first, QVector3D(10, 10, 2)));
        const QStringList shortLines = log.lines().filter(QStringLiteral("MeshImporter::readBinaryStl"));
        QCOMPARE(shortLines.size(), 1);
        QVERIFY(shortLines.first().contains(QStringLiteral("Declared: %1, read: 3").arg(declared)));
    }

    // --- OBJ ---------------------------------------------------------------------------

    void objFaces_data()
    {
        QTest::addColumn<QByteArray>("faces");
        QTest::addColumn<int>("triangles");
        QTest::addColumn<double>("area");
        QTest::addColumn<int>("skipped");
        // Faces over a unit square (vertices 1-4, counter-clockwise from +z) and the corners
        // 5-10 of an L, 2 x 2 with a 1 x 1 notch, listed from a corner next to the notch so
        // that a fan leaves the shape.
        QTest::newRow("v") << QByteArray("f 1 2 3 4") << 2 << 1.0 << 0;
        QTest::newRow("v/vt/vn") << QByteArray("f 1/1/1 2/2/1 3/3/1 4/4/1") << 2 << 1.0 << 0;
        QTest::newRow("v//vn") << QByteArray("f 1//1 2//1 3//1 4//1") << 2 << 1.0 << 0;
        QTest::newRow("v/vt") << QByteArray("f 1/1 2/2 3/3 4/4") << 2 << 1.0 << 0;
        QTest::newRow("tabs, CR, comment") << QByteArray("f\t1/1/1  2/2/1\t3/3/1 4/4/1 # quad\r") << 2 << 1.0 << 0;
        QTest::newRow("relative") << QByteArray("f -10 -9 -8 -7") << 2 << 1.0 << 0;
        QTest::newRow("relative counts from the last vertex read")
            << QByteArray("v 0 0 5\nf -11 -10 -9 -8\nv 7 7 7") << 2 << 1.0 << 0;
        QTest::newRow("concave L") << QByteArray("f 5 6 7 8 9 10") << 4 << 3.0 << 0;
        QTest::newRow("bad indices") << QByteArray("f 0 1 2\n" // zero
                                                   "f 1 2 11\n" // beyond the vertices read so far
                                                   "f -11 1 2\n" // before the first vertex
                                                   "f one 2 3\n" // unreadable
                                                   "f 1 2\n" // not a polygon
                                                   "f 1 2 3\n" // fine
                                                   "v 0 1 0\nf 1 2 11") // fine once vertex 11 exists
                                     << 2 << 1.0 << 5;
    }
    void objFaces()
    {
        QFETCH(QByteArray, faces);
        QFETCH(int, triangles);
        QFETCH(double, area);
        QFETCH(int, skipped);
        // Two spaces after "v" and tabs do not shift the coordinates.
        const QByteArray text = "# shapes\nv 0 0 0\nv  1 0 0\nv\t1 1 0\nv 0 1 0  \n"
                                "v 1 2 0\nv 0 2 0\nv 0 0 0\nv 2 0 0\nv 2 1 0\nv 1 1 0\n"
                                "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\ng sq\ns off\nusemtl none\n"
            + faces + "\n";
        QTemporaryDir dir;
        LogCapture log;
        MeshImporter importer(writeFile(dir, QStringLiteral("shapes.obj"), text));
        QCOMPARE(importer.format(), MeshImporter::Format::Obj);
        QCOMPARE(importer.triangles().size(), triangles);
        double total = 0;
        for (const MeshTriangle *t : importer.triangles()) {
            total += areaOf(t);
            QVERIFY(near(t->normal, QVector3D(0, 0, 1))); // no piece folded over
        }
        QVERIFY(qAbs(total - area) < 1e-5);
        QCOMPARE(importer.skippedFaces(), skipped);
        const QStringList lines = log.lines().filter(QStringLiteral("MeshImporter::readObj"));
        QCOMPARE(lines.size(), skipped > 0 ? 1 : 0);
        if (skipped > 0)
            QVERIFY(lines.first().contains(QStringLiteral("Skipped %1 faces").arg(skipped)));
    }

    // --- Unit checks and the user's answers (the resize answer is covered by the editor's
    // import) --------------------------------------------------------------------------------

    void checksOnANewModel_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<double>("z");
        QTest::addColumn<int>("status");
        QTest::newRow("1 mm cube") << 1.0 << 1.0 << 1.0 << int(ImportStatus::NeedsUnitsChoice);
        QTest::newRow("just under 5 mm") << 4.99 << 1.0 << 2.0 << int(ImportStatus::NeedsUnitsChoice);
        QTest::newRow("5 mm") << 1.0 << 5.0 << 1.0 << int(ImportStatus::Ready);
        QTest::newRow("203.2 mm") << 10.0 << 10.0 << 203.2 << int(ImportStatus::Ready);
        QTest::newRow("250 mm rod") << 250.0 << 10.0 << 10.0 << int(ImportStatus::TooLarge);
        QTest::newRow("negative extents") << -1.0 << -1.0 << 300.0 << int(ImportStatus::TooLarge);
    }
    void checksOnANewModel()
    {
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(double, z);
        QFETCH(int, status);
        ImportChecks checks(x, y, z);
        QCOMPARE(checks.status(), ImportStatus::Unchecked);
        QCOMPARE(int(checks.check()), status);
        QCOMPARE(int(checks.status()), status);
    }

    void unitsAnswer()
    {
        // Inches are checked through the editor's import (tst_sceneeditor).
        ImportChecks millimetres(1, 2, 3);
        QCOMPARE(millimetres.check(), ImportStatus::NeedsUnitsChoice);
        QCOMPARE(millimetres.setImportedModelUnits(false), 0);
        QCOMPARE(millimetres.status(), ImportStatus::Ready);
        QCOMPARE(millimetres.dimensions(), (std::array<double, 3> {1, 2, 3}));

        // Inches that make a model too large lead to the size question.
        ImportChecks large(9, 1, 1);
        QCOMPARE(large.setImportedModelUnits(true), -1);
        QCOMPARE(large.status(), ImportStatus::TooLarge);
    }

    // --- Every test mesh on file ------------------------------------------------------------

    void everyTestMeshImports_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("triangles");
        QTest::addColumn<QStringList>("size"); // as written in the meshes' notes; empty if not given
        QTest::addColumn<double>("volume"); // mm^3 (file units cubed); NaN when open or not given
        const double none = std::numeric_limits<double>::quiet_NaN();
        const auto size = [](const char *x, const char *y, const char *z) {
            return QStringList {QLatin1String(x), QLatin1String(y), QLatin1String(z)};
        };
        QTest::newRow("effector") << "ascii_effector_base_crlf.stl" << 796 << size("80.27", "75.83", "22.70")
                                  << 33646.0;
        QTest::newRow("teapot") << "ascii_utah_teapot_eformat_open.stl" << 2016 << size("144.75", "70.88", "45.00")
                                << none;
        QTest::newRow("wing") << "ascii_wing_tall_thin.stl" << 842 << size("54.58", "3.26", "176.66") << none;
        QTest::newRow("two solids") << "ascii_two_solids.stl" << 2 << QStringList() << none;
        QTest::newRow("cube with hole") << "binary_solidheader_cube20_with_hole.stl" << 32 << size("20", "20", "10")
                                        << 3000.0;
        QTest::newRow("tardis") << "binary_zeroheader_tardis_plate.stl" << 3636 << size("115.79", "65.74", "6.25")
                                << 19762.0;
        QTest::newRow("screw") << "binary_m3x10_screw.stl" << 15532 << size("5.5", "5.5", "13.0") << 125.8;
        QTest::newRow("wuson stl") << "binary_wuson_twin.stl" << 3732 << size("0.92", "1.516", "3.245") << none;
        QTest::newRow("wuson obj") << "obj_wuson_twin_vtvn.obj" << 3732 << size("0.92", "1.516", "3.245") << none;
        QTest::newRow("bunny") << "obj_stanford_bunny_69k.obj" << 69666 << size("2.00", "1.98", "1.55") << 1.60;
        QTest::newRow("eryone") << "obj_eryone_platform_ngons_vtvn.obj" << 6786 << size("410", "512.5", "635") << none;
        QTest::newRow("chest") << "obj_chest_open_quads_vtvn.obj" << 24 << size("1.0", "1.62", "1.22") << none;
        QTest::newRow("66-gon") << "obj_concave_66gon.obj" << 64 << size("0", "1.485", "1.485") << none;
    }
    void everyTestMeshImports()
    {
        QFETCH(QString, file);
        QFETCH(int, triangles);
        QFETCH(QStringList, size);
        QFETCH(double, volume);
        QString path = QDir(sharedMeshDir()).filePath(file);
        if (!QFile::exists(path))
            path = projectMesh(file);
        if (!QFile::exists(path))
            QSKIP("this mesh is not on this machine");

        QList<int> reports;
        MeshImporter importer(path, [&reports](int percent) { reports.append(percent); });
        QCOMPARE(importer.error(), MeshImporter::Error::None);
        QCOMPARE(importer.triangles().size(), triangles);
        // Progress from 10 at the start, rising in steps through a large file, to 65 (an STL)
        // or 75 (an OBJ).
        QCOMPARE(reports.first(), 10);
        QCOMPARE(reports.last(), file.endsWith(QLatin1String(".obj")) ? 75 : 65);
        QVERIFY(std::is_sorted(reports.begin(), reports.end()));
        QVERIFY2(triangles < 2000 || reports.size() >= 10, qPrintable(QString::number(reports.size())));
        for (const MeshTriangle *t : importer.triangles()) {
            const float length = t->normal.length();
            QVERIFY(qAbs(length - 1) < 1e-4f || length == 0); // zero only for degenerate facets
        }
        const auto box = boxOf(importer.triangles());
        QVERIFY(near(box.first + box.second, QVector3D(0, 0, 0), 1e-3f * (box.second - box.first).length()));
        for (int axis = 0; axis < size.size(); ++axis) {
            const double actual = double(box.second[axis]) - box.first[axis];
            QVERIFY2(qAbs(actual - size.at(axis).toDouble()) <= tolerance(size.at(axis)),
                qPrintable(QStringLiteral("axis %1: %2, notes %3").arg(axis).arg(actual).arg(size.at(axis))));
        }
        if (!std::isnan(volume)) {
            MeshGeometry geometry(importer.takeTriangles());
            const double cubicUnits = geometry.volume() * 1000;
            QVERIFY2(qAbs(cubicUnits - volume) <= 0.005 * volume,
                qPrintable(QStringLiteral("volume %1, notes %2").arg(cubicUnits).arg(volume)));
        }
    }
};

QTEST_GUILESS_MAIN(TestMeshImporter)
#include "tst_meshimporter.moc"
