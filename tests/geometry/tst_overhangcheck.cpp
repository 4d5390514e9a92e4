// Overhangs of a placed model: which faces face down steeply enough to need holding up, and
// which of those a support contact or the platform holds.
#include "overhangcheck.h"
#include "testmeshes.h"

#include <QTest>

#include <cmath>

namespace {

// The test solids stand z up; the scene has y up.
QMatrix4x4 standingUp(const QVector3D &offset = QVector3D())
{
    QMatrix4x4 matrix;
    matrix.translate(offset);
    matrix.rotate(-90.0f, 1.0f, 0.0f, 0.0f);
    return matrix;
}

// One face centred on `centre` (scene frame) whose outward normal points `degreesDown` below
// the horizontal (negative: above).
void addFace(TestMesh &mesh, const QVector3D &centre, float degreesDown)
{
    const float angle = degreesDown * float(M_PI) / 180.0f;
    const QVector3D normal(std::cos(angle), -std::sin(angle), 0.0f);
    const QVector3D along(0.0f, 0.0f, 1.0f);
    const QVector3D across = QVector3D::crossProduct(normal, along);
    // along x across = normal: counter-clockwise seen from outside.
    const QVector3D a = centre - (along + across) / 3.0f;
    mesh.add(a, a + along, a + across);
}

} // namespace

class TestOverhangCheck : public QObject
{
    Q_OBJECT

private slots:
    void face_isOverhang_whenSteeplyDown_offThePlatform_andNoContactNear_data()
    {
        QTest::addColumn<float>("degreesDown");
        QTest::addColumn<float>("height");
        QTest::addColumn<QVector3D>("contact"); // from the face's centre; none when null
        QTest::addColumn<bool>("overhang");
        const QVector3D none;
        QTest::newRow("straight down") << 90.0f << 6.0f << none << true;
        QTest::newRow("50 degrees down") << 50.0f << 6.0f << none << true;
        QTest::newRow("40 degrees down") << 40.0f << 6.0f << none << false;
        QTest::newRow("sideways") << 0.0f << 6.0f << none << false;
        QTest::newRow("up") << -90.0f << 6.0f << none << false;
        QTest::newRow("down, on the platform") << 90.0f << 0.0f << none << false;
        QTest::newRow("contact at its centre") << 90.0f << 6.0f << QVector3D(0, -1e-3f, 0) << false;
        QTest::newRow("contact 2 mm aside") << 90.0f << 6.0f << QVector3D(2.0f, 0, 0) << false;
        QTest::newRow("contact diagonally within reach") << 90.0f << 6.0f << QVector3D(1.7f, -0.3f, 1.7f) << false;
        QTest::newRow("contact 3 mm aside") << 90.0f << 6.0f << QVector3D(0, 0, 3.0f) << true;
        QTest::newRow("contact a cell away, beyond reach") << 90.0f << 6.0f << QVector3D(-2.0f, 0, -2.0f) << true;
        QTest::newRow("contact 4 mm below") << 90.0f << 6.0f << QVector3D(0, -4.0f, 0) << true;
    }

    void face_isOverhang_whenSteeplyDown_offThePlatform_andNoContactNear()
    {
        QFETCH(float, degreesDown);
        QFETCH(float, height);
        QFETCH(QVector3D, contact);
        QFETCH(bool, overhang);
        TestMesh mesh;
        const QVector3D centre(10.0f, height, 10.0f);
        addFace(mesh, centre, degreesDown);
        std::vector<QVector3D> contacts;
        if (!contact.isNull())
            contacts.push_back(centre + contact);
        QCOMPARE(OverhangCheck::unsupported(mesh.triangles(), QMatrix4x4(), contacts).size(), size_t(overhang ? 1 : 0));
    }

    // A table: a post on the platform under a wider top. Only the top's underside hangs.
    void table_onlyTheTopsUndersideHangs_untilSupported()
    {
        TestMesh mesh;
        mesh.box(QVector3D(0, 0, 0), QVector3D(4, 4, 10));
        mesh.box(QVector3D(-8, -8, 10), QVector3D(12, 12, 12));
        const QMatrix4x4 placed = standingUp(QVector3D(5.0f, 0.0f, 0.0f));
        const QList<MeshTriangle *> triangles = mesh.triangles();
        const std::vector<int> faces = OverhangCheck::unsupported(triangles, placed, {});
        QCOMPARE(faces.size(), size_t(2));
        for (const int face : faces) {
            for (const QVector3D &corner : {triangles[face]->a, triangles[face]->b, triangles[face]->c})
                QCOMPARE(placed.map(corner).y(), 10.0f);
        }

        // The view's triangles: the same faces in the model's frame, placed by its matrix at
        // the top's underside, facing down.
        const std::vector<float> drawn = OverhangCheck::faceVertices(triangles, faces);
        QCOMPARE(drawn.size(), faces.size() * 18);
        for (size_t vertex = 0; vertex < drawn.size(); vertex += 6) {
            const QVector3D position(drawn[vertex], drawn[vertex + 1], drawn[vertex + 2]);
            const QVector3D normal(drawn[vertex + 3], drawn[vertex + 4], drawn[vertex + 5]);
            QCOMPARE(placed.map(position).y(), 10.0f);
            QCOMPARE(placed.mapVector(normal).y(), -1.0f);
        }

        // A contact under each face's centre holds it; one under the first only, that one.
        std::vector<QVector3D> contacts;
        for (const int face : faces) {
            const MeshTriangle &t = *triangles[face];
            contacts.push_back(placed.map((t.a + t.b + t.c) / 3.0f));
        }
        QVERIFY(OverhangCheck::unsupported(triangles, placed, contacts).empty());
        QCOMPARE(OverhangCheck::unsupported(triangles, placed, {contacts[0]}), std::vector<int> {faces[1]});
    }
};

QTEST_APPLESS_MAIN(TestOverhangCheck)
#include "tst_overhangcheck.moc"
