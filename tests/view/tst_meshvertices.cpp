// Welded indexed meshes for the graphics card: they must draw exactly the triangles they
// came from, and know whether hidden faces may be skipped; their reduced copies for a
// moving camera must fit the triangle budget and keep the model's shape and winding, and
// carry faces of the model (its overhangs) onto the copy; the faces a turn shows red are
// the overhangs. (The
// interleaved arrays and the drawing itself show in tst_viewrendering.)
#include "meshgeometry.h"
#include "meshvertices.h"
#include "overhangcheck.h"
#include "testmeshes.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <set>
#include <utility>

namespace {

QVector3D corner(const MeshVertices::Indexed &mesh, std::uint32_t index)
{
    const size_t at = size_t(index) * 3;
    return QVector3D(mesh.positions[at], mesh.positions[at + 1], mesh.positions[at + 2]);
}

// A band of quads round a cylinder: rows x columns quads, two triangles each.
QList<MeshTriangle *> cylinderBand(int rows, int columns)
{
    QList<MeshTriangle *> triangles;
    const auto point = [&](int row, int column) {
        const double angle = 2.0 * M_PI * (column % columns) / columns;
        return QVector3D(float(10 * std::cos(angle)), float(row), float(10 * std::sin(angle)));
    };
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const QVector3D a = point(row, column), b = point(row, column + 1);
            const QVector3D c = point(row + 1, column + 1), d = point(row + 1, column);
            triangles << new MeshTriangle {MeshImporter::facetNormal(a, b, c), a, b, c}
                      << new MeshTriangle {MeshImporter::facetNormal(a, c, d), a, c, d};
        }
    }
    return triangles;
}

// The box of the corners the triangles use: low and high corner.
std::pair<QVector3D, QVector3D> usedBox(const MeshVertices::Indexed &mesh)
{
    QVector3D low(1e9f, 1e9f, 1e9f), high(-1e9f, -1e9f, -1e9f);
    for (const std::uint32_t index : mesh.indices) {
        const QVector3D p = corner(mesh, index);
        low = QVector3D(std::min(low.x(), p.x()), std::min(low.y(), p.y()), std::min(low.z(), p.z()));
        high = QVector3D(std::max(high.x(), p.x()), std::max(high.y(), p.y()), std::max(high.z(), p.z()));
    }
    return {low, high};
}

double signedVolume(const MeshVertices::Indexed &mesh)
{
    double volume = 0.0;
    for (size_t i = 0; i < mesh.indices.size(); i += 3) {
        volume += QVector3D::dotProduct(corner(mesh, mesh.indices[i]),
                      QVector3D::crossProduct(corner(mesh, mesh.indices[i + 1]), corner(mesh, mesh.indices[i + 2])))
            / 6.0;
    }
    return volume;
}

} // namespace

class TestMeshVertices : public QObject
{
    Q_OBJECT

private slots:
    void weld_drawsTheSameTrianglesInOrder()
    {
        const QList<MeshTriangle *> band = cylinderBand(5, 24);
        const MeshVertices::Indexed mesh = MeshVertices::weld(band);
        // Each inner corner is shared by six triangles: far fewer corners than triangles.
        QCOMPARE(int(mesh.positions.size()) / 3, 6 * 24);
        QCOMPARE(int(mesh.indices.size()), band.size() * 3);
        for (int i = 0; i < band.size(); ++i) {
            QCOMPARE(corner(mesh, mesh.indices[size_t(i) * 3]), band.at(i)->a);
            QCOMPARE(corner(mesh, mesh.indices[size_t(i) * 3 + 1]), band.at(i)->b);
            QCOMPARE(corner(mesh, mesh.indices[size_t(i) * 3 + 2]), band.at(i)->c);
        }
        qDeleteAll(band);
    }

    void weld_closedAndOutward_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("outward");
        QTest::newRow("box") << "none" << true << true;
        QTest::newRow("box wound inwards") << "flip all" << true << false;
        QTest::newRow("a face missing") << "drop one" << false << true;
        QTest::newRow("one face wound the other way") << "flip one" << false << true;
        QTest::newRow("a face twice") << "duplicate one" << false << true;
        QTest::newRow("two separate boxes") << "second box" << true << true;
    }

    void weld_closedAndOutward()
    {
        QFETCH(QString, change);
        QFETCH(bool, closed);
        QFETCH(bool, outward);
        QList<MeshTriangle *> box = MeshGeometry::centredBox(10, 20, 30);
        const auto flip = [](MeshTriangle *t) { std::swap(t->b, t->c); };
        if (change == QLatin1String("flip all"))
            std::for_each(box.begin(), box.end(), flip);
        else if (change == QLatin1String("drop one"))
            delete box.takeLast();
        else if (change == QLatin1String("flip one"))
            flip(box.first());
        else if (change == QLatin1String("duplicate one"))
            box << new MeshTriangle(*box.first());
        else if (change == QLatin1String("second box")) {
            for (MeshTriangle *t : MeshGeometry::centredBox(5, 5, 5)) {
                for (QVector3D *v : {&t->a, &t->b, &t->c})
                    *v += QVector3D(50, 0, 0);
                box << t;
            }
        }
        const MeshVertices::Indexed mesh = MeshVertices::weld(box);
        QCOMPARE(mesh.closed, closed);
        QCOMPARE(mesh.outward, outward);
        qDeleteAll(box);
    }

    void reduce_fitsTheBudgetKeepsShapeAndWinding_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<int>("target");
        QTest::newRow("sphere to a sixth") << "sphere" << 8000;
        QTest::newRow("sphere to a fiftieth") << "sphere" << 1000;
        QTest::newRow("torus") << "torus" << 6000;
        QTest::newRow("sphere wound inwards") << "inward sphere" << 8000;
        QTest::newRow("two spheres apart") << "two spheres" << 4000;
        QTest::newRow("open band") << "band" << 1500;
    }

    // Each row's source has several times its target of triangles.
    void reduce_fitsTheBudgetKeepsShapeAndWinding()
    {
        QFETCH(QString, shape);
        QFETCH(int, target);
        TestMesh soup;
        QList<MeshTriangle *> band;
        if (shape.endsWith(QLatin1String("sphere")))
            soup.sphere(QVector3D(0, 0, 20), 20, 120, 200);
        if (shape == QLatin1String("two spheres")) {
            soup.sphere(QVector3D(0, 0, 0), 10, 60, 100);
            soup.sphere(QVector3D(60, 0, 0), 10, 60, 100);
        }
        if (shape == QLatin1String("torus"))
            soup.torus(QVector3D(0, 0, 12), 22, 12, 240, 100);
        QList<MeshTriangle *> triangles = soup.triangles();
        if (shape == QLatin1String("band"))
            triangles = band = cylinderBand(40, 160);
        if (shape.startsWith(QLatin1String("inward"))) {
            for (MeshTriangle *t : triangles)
                std::swap(t->b, t->c);
        }
        const MeshVertices::Indexed source = MeshVertices::weld(triangles);
        qDeleteAll(band);
        QVERIFY(int(source.indices.size() / 3) > 4 * target);

        MeshVertices::Clustering clustering;
        const MeshVertices::Indexed reduced = MeshVertices::reduce(source, size_t(target), &clustering);
        // Every face of the source carried onto the copy makes the copy; with a corner from
        // elsewhere, nothing is carried. Faces the source lacks are not listed.
        std::vector<int> every(source.indices.size() / 3);
        std::iota(every.begin(), every.end(), 0);
        std::vector<std::uint32_t> corners = MeshVertices::facesOf(source.indices, every);
        QVERIFY(MeshVertices::reduceFaces(corners, clustering) == reduced.indices);
        corners.insert(corners.end(), {0, 1, std::uint32_t(source.positions.size() / 3)});
        QVERIFY(MeshVertices::reduceFaces(corners, clustering).empty());
        QVERIFY(MeshVertices::facesOf(source.indices, {1, -1, int(every.size())})
            == std::vector<std::uint32_t>(source.indices.begin() + 3, source.indices.begin() + 6));
        const int count = int(reduced.indices.size() / 3);
        QVERIFY2(count <= target && count >= target / 4, qPrintable(QString::number(count)));
        QCOMPARE(reduced.closed, source.closed);
        QCOMPARE(reduced.outward, source.outward);
        std::set<std::array<std::uint32_t, 3>> faces;
        for (size_t i = 0; i < reduced.indices.size(); i += 3) {
            const std::uint32_t a = reduced.indices[i], b = reduced.indices[i + 1], c = reduced.indices[i + 2];
            QVERIFY(std::max({a, b, c}) < reduced.positions.size() / 3);
            QVERIFY(a != b && b != c && a != c);
            // The same face wound the same way only once.
            std::array<std::uint32_t, 3> face {a, b, c};
            std::rotate(face.begin(), std::min_element(face.begin(), face.end()), face.end());
            QVERIFY(faces.insert(face).second);
        }
        // Within a few per cent of the model's size, and the same volume on the same side.
        const auto before = usedBox(source), after = usedBox(reduced);
        const float size = (before.second - before.first).length();
        QVERIFY2((after.first - before.first).length() < 0.03f * size
                && (after.second - before.second).length() < 0.03f * size,
            qPrintable(QStringLiteral("%1 -> %2").arg((after.first - before.first).length()).arg(size)));
        const double volume = signedVolume(source);
        QVERIFY2(std::abs(signedVolume(reduced) - volume) < 0.1 * std::abs(volume) + 1.0,
            qPrintable(QStringLiteral("%1 -> %2").arg(volume).arg(signedVolume(reduced))));
    }

    // The faces a turn shows are the overhangs the editor finds for the same placing, with
    // no supports: a torus lifted and turned several ways.
    void downwardFaces_areTheOverhangsWithoutSupports()
    {
        TestMesh soup;
        soup.torus(QVector3D(0, 0, 12), 22, 12, 60, 30);
        const MeshVertices::Indexed welded = MeshVertices::weld(soup.triangles());
        for (const QVector3D &turn : {QVector3D(0, 0, 0), QVector3D(30, 0, 0), QVector3D(10, 45, 100)}) {
            QMatrix4x4 placed;
            placed.translate(5, 3, -2);
            placed.rotate(QQuaternion::fromEulerAngles(turn));
            const std::vector<int> faces = MeshVertices::downwardFaces(welded.positions, welded.indices, placed);
            QVERIFY(!faces.empty());
            QVERIFY(faces == OverhangCheck::unsupported(soup.triangles(), placed, {}));
        }
    }

    void reduce_meshWithinBudget_comesBackAsItIs()
    {
        TestMesh soup;
        soup.sphere(QVector3D(0, 0, 0), 10, 20, 30);
        const MeshVertices::Indexed source = MeshVertices::weld(soup.triangles());
        const MeshVertices::Indexed reduced = MeshVertices::reduce(source, source.indices.size() / 3);
        QVERIFY(reduced.indices == source.indices && reduced.positions == source.positions);
    }
};

QTEST_GUILESS_MAIN(TestMeshVertices)
#include "tst_meshvertices.moc"
