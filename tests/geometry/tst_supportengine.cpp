// The support engine's front: its settings and their level rule, millimetre input, and the
// point operations before and without supports. (The lift of a model the editor hands over
// is covered with the platform model, the lift rule with the model copy.)
#include "cdlpmain.h"
#include "logcapture.h"
#include "testmeshes.h"

#include <QTest>


namespace {

// A closed cube of the given side centred on the origin.
TestMesh cube(float side)
{
    TestMesh mesh;
    mesh.box(QVector3D(-side, -side, -side) / 2, QVector3D(side, side, side) / 2);
    return mesh;
}

} // namespace

class TestSupportEngine : public QObject
{
    Q_OBJECT

private slots:
    void levelRule_midLowAndHighColumns_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<double>("mid");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("2 density") << 2 << 0.11 << 0.16 << 0.06;
        QTest::newRow("14 density") << 14 << 0.1 << 0.8 << 0.0;
        QTest::newRow("25 strength") << 25 << 0.03 << 0.01 << 0.05;
        QTest::newRow("29 strength") << 29 << 0.015 << 0.008 << 0.03;
        QTest::newRow("41 strength") << 41 << 0.4 << 0.4 << 0.4;
    }

    void levelRule_midLowAndHighColumns()
    {
        QFETCH(int, position);
        QFETCH(double, mid);
        QFETCH(double, low);
        QFETCH(double, high);
        const bool density = SupportParameters::isDensityDriven(position);
        for (const auto &[level, expected] : {std::pair<int, double> {50, mid}, {0, low}, {100, high}}) {
            SupportParameters parameters;
            parameters.applyLevels(density ? level : 50, density ? 50 : level);
            QVERIFY2(qAbs(parameters.value(position) - expected) < 1e-12,
                qPrintable(QStringLiteral("level %1: %2").arg(level).arg(parameters.value(position))));
        }
        // Between the columns the value moves in a straight line from level 50.
        SupportParameters parameters;
        parameters.applyLevels(density ? 25 : 50, density ? 50 : 25);
        QVERIFY(qAbs(parameters.value(position) - (mid + low) / 2) < 1e-12);
        parameters.applyLevels(density ? 75 : 50, density ? 50 : 75);
        QVERIFY(qAbs(parameters.value(position) - (mid + high) / 2) < 1e-12);
    }

    void pointOperations_refusedBeforeGeneration_deleteTakesTheNearest()
    {
        CDLPMain engine;
        QVERIFY(!engine.addSupport(0, 0, 0, 0.1));
        QVERIFY(!engine.deleteSupport(0, 0, 0, 0.1));
        const TestMesh mesh = cube(0.5f);
        QVERIFY(engine.generate(
            mesh.triangles(), QVector3D(1, 1, 1), QVector3D(), QVector3D(), 0.1, 0.5, 100, 50, false, {}));
        const auto supports = engine.supports();
        QVERIFY(supports.size() > 3);
        // The last support has neighbours within the tolerance of its point.
        const QVector3D target = supports.back().point;
        int neighbours = 0;
        for (const CDLPMain::Support &s : supports)
            neighbours += (s.point - target).length() <= 0.1f ? 1 : 0;
        QVERIFY(neighbours > 1);
        QVERIFY(engine.deleteSupport(target.x(), target.y(), target.z(), 0.1));
        QCOMPARE(engine.supports().size(), supports.size() - 1);
        for (const CDLPMain::Support &s : engine.supports())
            QVERIFY(s.point != target);
        // Where no support stands, none goes.
        LogCapture log;
        QVERIFY(!engine.deleteSupport(5, 5, 5, 0.1));
        QCOMPARE(engine.supports().size(), supports.size() - 1);
    }

    void millimetreInput_givesTheSupportMeshInMillimetres()
    {
        const TestMesh inches = cube(0.5f);
        const TestMesh millimetres = cube(0.5f * 25.4f);
        CDLPMain a;
        CDLPMain b;
        QVERIFY(a.generate(inches.triangles(), QVector3D(1, 1, 1), QVector3D(), QVector3D(), 0.1, 0.5, 50, 50, false, {}));
        QVERIFY(b.generate(
            millimetres.triangles(), QVector3D(1, 1, 1), QVector3D(), QVector3D(), 0.1, 0.5, 50, 50, true, {}));
        QCOMPARE(a.supports().size(), b.supports().size());
        float topA = 0.0f;
        float topB = 0.0f;
        for (const MeshTriangle &t : a.supportMesh())
            topA = std::max({topA, t.a.z(), t.b.z(), t.c.z()});
        for (const MeshTriangle &t : b.supportMesh())
            topB = std::max({topB, t.a.z(), t.b.z(), t.c.z()});
        QVERIFY(qAbs(topB - topA * 25.4f) < 1e-3f);
    }
};

QTEST_GUILESS_MAIN(TestSupportEngine)
#include "tst_supportengine.moc"
