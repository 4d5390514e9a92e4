// The calibration meshes: what the generator writes, read back by the program's importer,
// is closed, consistently oriented and of the designed size and volume; the check the
// generator relies on to refuse a broken mesh finds broken meshes. (The region triangulation
// and the shell builder the meshes are made with are covered by those meshes: a cap with a
// gap or an overlap leaves open edges or a wrong volume.)
#include "calibrationdesign.h"
#include "calibrationmodels.h"
#include "meshimporter.h"
#include "testpaths.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace Calibration;

namespace {

// The volume of the tolerance model from the design's sizes: a plate with its notches and
// stepped holes, and the pins (the round parts as the polygons they are made of).
double toleranceVolume()
{
    const double polygon = kFitSegments / 2.0 * std::sin(2 * M_PI / kFitSegments); // a unit-radius polygon's area
    const double r = kPinDiameter / 2;
    double volume = kPlateWidth * kPlateDepth * kPlateHeight;
    for (int fit : fitNumbers()) {
        volume -= fit * kNotchWidth * kNotchDepth * kPlateHeight;
        const double hole = r + clearanceForFit(fit);
        volume -= polygon * std::pow(hole + kReliefClearance, 2) * kReliefHeight;
        volume -= polygon * hole * hole * (kPlateHeight - kReliefHeight);
        volume += polygon * r * r * kPinHeight;
    }
    return volume;
}

// The dimensional model's: tiers as boxes, the lowest one's chamfered part as the
// prismatoid it is; the ring from its polygons, frustums of the chamfers at the platform,
// then straight walls.
double dimensionalVolume()
{
    double block = 0;
    for (const TierSize &tier : kTierSizes)
        block += tier.x * tier.y * kTierHeight;
    const TierSize &base = kTierSizes[0];
    const double c = kChamferSize;
    const double chamfered
        = c / 6 * ((base.x - 2 * c) * (base.y - 2 * c) + 4 * (base.x - c) * (base.y - c) + base.x * base.y);
    block -= base.x * base.y * c - chamfered;
    const double polygon = kRingSegments / 2.0 * std::sin(2 * M_PI / kRingSegments);
    const double outer = kRingOuterDiameter / 2;
    const double inner = kRingInnerDiameter / 2;
    const auto frustum = [&](double r0, double r1) { return polygon * c * (r0 * r0 + r0 * r1 + r1 * r1) / 3; };
    const double ring = frustum(outer - c, outer) - frustum(inner + c, inner)
        + polygon * (outer * outer - inner * inner) * (kRingHeight - c);
    return block + ring;
}

} // namespace

class TestCalibrationModels : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QProcess generator;
        generator.start(TestPaths::executable(QStringLiteral("tessora-calibration-models")), {m_dir.path()});
        QVERIFY(generator.waitForFinished(60000));
        QVERIFY2(generator.exitCode() == 0, generator.readAllStandardError().constData());
    }

    void generatedModels_closedOrientedAndOfTheDesignedSize_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QVector3D>("size");
        QTest::addColumn<double>("volume");
        QTest::newRow("tolerance") << toleranceModelFileName() << QVector3D(kPlateWidth, kPlateDepth, kPinHeight)
                                   << toleranceVolume();
        // The ring's polygon reaches its nominal radius at its corners only, none of which lies
        // on the axes: within 0.01 mm.
        QTest::newRow("dimensional accuracy") << dimensionalAccuracyModelFileName()
                                              << QVector3D(kTierSizes[0].x + kRingGap + kRingOuterDiameter,
                                                     std::max(kTierSizes[0].y, kRingOuterDiameter), kRingHeight)
                                              << dimensionalVolume();
    }

    void generatedModels_closedOrientedAndOfTheDesignedSize()
    {
        QFETCH(QString, fileName);
        QFETCH(QVector3D, size);
        QFETCH(double, volume);
        MeshImporter importer(m_dir.filePath(fileName));
        const QList<MeshTriangle *> triangles = importer.takeTriangles();
        QCOMPARE(importer.format(), MeshImporter::Format::BinaryStl);
        std::vector<Facet> facets;
        QVector3D min(1e9f, 1e9f, 1e9f);
        QVector3D max(-1e9f, -1e9f, -1e9f);
        const auto point = [&](const QVector3D &v) {
            min = QVector3D(std::min(min.x(), v.x()), std::min(min.y(), v.y()), std::min(min.z(), v.z()));
            max = QVector3D(std::max(max.x(), v.x()), std::max(max.y(), v.y()), std::max(max.z(), v.z()));
            return Point3 {v.x(), v.y(), v.z()};
        };
        for (const MeshTriangle *t : triangles)
            facets.push_back({point(t->a), point(t->b), point(t->c)});
        qDeleteAll(triangles);
        QVERIFY(!facets.empty());
        // The checks are the generator's own, shown to find broken meshes below.
        QCOMPARE(meshDefects(facets), QString());
        // Files have z up; the importer centres the box on the origin.
        const QVector3D measured = max - min;
        QVERIFY2((measured - size).length() < 0.01,
            qPrintable(QStringLiteral("%1 x %2 x %3").arg(measured.x()).arg(measured.y()).arg(measured.z())));
        QVERIFY2(qAbs(meshVolume(facets) - volume) < 1e-3 * volume,
            qPrintable(QStringLiteral("%1 against %2").arg(meshVolume(facets)).arg(volume)));
    }

    void meshCheck_findsFlippedMissingAndDuplicatedFacets()
    {
        const std::vector<Facet> good = dimensionalAccuracyModel();
        QVERIFY(!good.empty());
        QCOMPARE(meshDefects(good), QString());
        QVERIFY(meshVolume(good) > 0);

        std::vector<Facet> flipped = good;
        std::swap(flipped[7].b, flipped[7].c);
        QVERIFY(!meshDefects(flipped).isEmpty());

        std::vector<Facet> missing = good;
        missing.erase(missing.begin() + 3);
        QVERIFY(!meshDefects(missing).isEmpty());

        std::vector<Facet> duplicated = good;
        duplicated.push_back(good[5]);
        QVERIFY(!meshDefects(duplicated).isEmpty());

        std::vector<Facet> inverted = good;
        for (Facet &f : inverted)
            std::swap(f.b, f.c);
        QVERIFY(meshDefects(inverted).contains(QStringLiteral("volume")));

        std::vector<Facet> degenerate = good;
        degenerate.push_back({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}});
        degenerate.push_back({{0, 0, 0}, {2, 2, 2}, {1, 1, 1}});
        QVERIFY(!meshDefects(degenerate).isEmpty());
        QVERIFY(!meshDefects({}).isEmpty());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestCalibrationModels)
#include "tst_calibrationmodels.moc"
