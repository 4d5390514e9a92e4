// Welded indexed meshes for the graphics card: they must draw exactly the triangles they
// came from, and know whether hidden faces may be skipped. (The interleaved arrays and the
// drawing itself show in tst_viewrendering.)
#include "meshgeometry.h"
#include "meshvertices.h"

#include <QTest>

#include <algorithm>
#include <cmath>
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
};

QTEST_GUILESS_MAIN(TestMeshVertices)
#include "tst_meshvertices.moc"
