// Cavities that trap resin or suck at the platform: in boxes drawn layer by layer, in a sliced hollow sphere.
#include "genslices.h"
#include "testjobs.h"
#include "testmeshes.h"
#include "trapcheck.h"

#include <QTest>

class TestTrapCheck : public QObject
{
    Q_OBJECT

private slots:
    void box_cavityFoundOnlyWhenClosed_data()
    {
        QTest::addColumn<int>("floor");
        QTest::addColumn<QRect>("cut"); // black from layer 15 to the top
        QTest::addColumn<QString>("found"); // kind and first layer, or nothing
        // 20 layers, a lid of 3, hollow 34 x 24 pixels inside walls 3 thick up to layer 17.
        QTest::newRow("closed") << 3 << QRect() << "trapped from 4";
        QTest::newRow("hole in the lid") << 3 << QRect(35, 20, 4, 4) << "";
        QTest::newRow("no floor") << 0 << QRect() << "cup from 1";
        QTest::newRow("hole in a wall") << 3 << QRect(18, 20, 6, 3) << "";
        QTest::newRow("wall open but for a corner: resin stays") << 3 << QRect(20, 10, 3, 3) << "trapped from 4";
    }

    void box_cavityFoundOnlyWhenClosed()
    {
        QFETCH(int, floor);
        QFETCH(QRect, cut);
        CrushedPrintJob job = hollowBoxJob(20, floor, 3, cut, {14, 19});
        int progressed = 0;
        const auto cavities = TrapCheck::find(job, 0.1, [&](int done) { progressed = done; });
        QCOMPARE(progressed, 20);
        QStringList found;
        for (const TrapCheck::Cavity &cavity : cavities) {
            const bool cup = cavity.kind == TrapCheck::Kind::SuctionCup;
            found << QStringLiteral("%1 from %2").arg(cup ? "cup" : "trapped").arg(cavity.firstLayer);
            QCOMPARE(cavity.lastLayer, 17);
            QCOMPARE(cavity.pixels, 34 * 24 * qint64(17 - cavity.firstLayer + 1));
            QVERIFY(qAbs(cavity.volumeMm3 - double(cavity.pixels) * 0.001) < 1e-9);
            QVERIFY(QRect(23, 13, 34, 24).contains(cavity.x, cavity.y));
        }
        QTEST(found.join(", "), "found");
    }

    void hollowSphere_slicedWithItsInsideDark_trapsTheInnerVolume()
    {
        TestMesh scene;
        scene.sphere(QVector3D(0, 0, 5), 5.0, 32, 48);
        scene.sphere(QVector3D(0, 0, 5), 3.0, 24, 36, true);
        GenSlices slicer;
        QVERIFY(slicer.prepare(scene.triangles(), 0.1, QVector3D(), QVector3D(), QVector3D(1, 1, 1)));
        TrapCheck check;
        for (int k = 0; k < slicer.layerCount(); ++k)
            check.addLayer(IslandCheck::maskOf(slicer.layerImage(k, false)));
        const auto cavities = check.cavities(0.1, 0.1);
        QVERIFY(cavities.size() == 1 && cavities.front().kind == TrapCheck::Kind::TrappedResin);
        // The inner sphere, from 2 to 8 mm high: layers 21 to 80, 113 mm³ less its facets.
        QVERIFY(qAbs(cavities.front().firstLayer - 21) <= 1 && qAbs(cavities.front().lastLayer - 80) <= 1);
        QVERIFY2(qAbs(cavities.front().volumeMm3 - 4.0 / 3.0 * TestMesh::kPi * 27.0) < 6.0,
            qPrintable(QString::number(cavities.front().volumeMm3)));
    }
};

QTEST_MAIN(TestTrapCheck)
#include "tst_trapcheck.moc"
