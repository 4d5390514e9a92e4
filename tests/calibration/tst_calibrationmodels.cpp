// The calibration meshes: what the generator writes, read back by the program's importer,
// is closed, consistently oriented and of the designed size; the region triangulation the
// caps are made with covers a region exactly once; the checks the generator relies on to
// refuse a broken mesh find broken meshes.
#include "calibrationdesign.h"
#include "calibrationmodels.h"
#include "meshimporter.h"
#include "testpaths.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <cmath>
#include <map>

using namespace Calibration;

namespace {

struct MeshReport {
    QString defect; // empty when closed and consistently oriented
    double volume = 0;
    QVector3D min {1e9f, 1e9f, 1e9f};
    QVector3D max {-1e9f, -1e9f, -1e9f};
    int shells = 0;
};

// Every directed edge once, and its opposite once; then the connected pieces.
MeshReport inspect(const QList<MeshTriangle *> &triangles)
{
    MeshReport report;
    using Point = std::array<float, 3>;
    std::map<std::pair<Point, Point>, int> edges;
    std::map<Point, int> pointIds;
    std::vector<int> parent;
    const auto id = [&](const QVector3D &v) {
        const Point p {v.x(), v.y(), v.z()};
        const auto found = pointIds.find(p);
        if (found != pointIds.end())
            return found->second;
        const int next = int(parent.size());
        parent.push_back(next);
        pointIds.emplace(p, next);
        return next;
    };
    const auto root = [&](int i) {
        while (parent[size_t(i)] != i) {
            parent[size_t(i)] = parent[size_t(parent[size_t(i)])];
            i = parent[size_t(i)];
        }
        return i;
    };
    double sixfold = 0;
    for (const MeshTriangle *t : triangles) {
        const QVector3D corners[3] = {t->a, t->b, t->c};
        if (QVector3D::crossProduct(t->b - t->a, t->c - t->a).lengthSquared() == 0.0f && report.defect.isEmpty())
            report.defect = QStringLiteral("degenerate facet");
        for (int k = 0; k < 3; ++k) {
            const QVector3D &p = corners[k];
            const QVector3D &q = corners[(k + 1) % 3];
            ++edges[{{p.x(), p.y(), p.z()}, {q.x(), q.y(), q.z()}}];
            report.min = QVector3D(
                std::min(report.min.x(), p.x()), std::min(report.min.y(), p.y()), std::min(report.min.z(), p.z()));
            report.max = QVector3D(
                std::max(report.max.x(), p.x()), std::max(report.max.y(), p.y()), std::max(report.max.z(), p.z()));
            parent[size_t(root(id(p)))] = root(id(q));
        }
        sixfold += double(QVector3D::dotProduct(t->a, QVector3D::crossProduct(t->b, t->c)));
    }
    for (const auto &[edge, count] : edges) {
        if (!report.defect.isEmpty())
            break;
        if (count != 1)
            report.defect = QStringLiteral("an edge used %1 times in one direction").arg(count);
        else if (edges.find({edge.second, edge.first}) == edges.end())
            report.defect = QStringLiteral("an edge with no facet on its other side");
    }
    report.volume = sixfold / 6.0;
    for (size_t i = 0; i < parent.size(); ++i)
        report.shells += root(int(i)) == int(i) ? 1 : 0;
    return report;
}

// How many of the triangles contain the point (strictly inside).
int coverage(const std::vector<std::array<QPointF, 3>> &triangles, const QPointF &p)
{
    int count = 0;
    for (const auto &t : triangles) {
        const auto side = [&](const QPointF &a, const QPointF &b) {
            return (b.x() - a.x()) * (p.y() - a.y()) - (b.y() - a.y()) * (p.x() - a.x());
        };
        if (side(t[0], t[1]) > 0 && side(t[1], t[2]) > 0 && side(t[2], t[0]) > 0)
            ++count;
    }
    return count;
}

// Inside a simple polygon (crossings of a ray), for points off its edges.
bool insideOutline(const Outline &outline, const QPointF &p)
{
    bool inside = false;
    for (size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
        const QPointF &a = outline[i];
        const QPointF &b = outline[j];
        if ((a.y() > p.y()) != (b.y() > p.y()) && p.x() < (b.x() - a.x()) * (p.y() - a.y()) / (b.y() - a.y()) + a.x())
            inside = !inside;
    }
    return inside;
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

    void generatedModels_areClosedAndOrientedOutwards_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("shells");
        QTest::newRow("tolerance") << toleranceModelFileName() << 1 + kFitCount;
        QTest::newRow("dimensional accuracy") << dimensionalAccuracyModelFileName() << 2;
    }

    void generatedModels_areClosedAndOrientedOutwards()
    {
        QFETCH(QString, fileName);
        QFETCH(int, shells);
        MeshImporter::Format format = MeshImporter::Format::Unknown;
        const QList<MeshTriangle *> triangles = read(fileName, &format);
        QCOMPARE(format, MeshImporter::Format::BinaryStl);
        QVERIFY(!triangles.isEmpty());
        const MeshReport report = inspect(triangles);
        qDeleteAll(triangles);
        QVERIFY2(report.defect.isEmpty(), qPrintable(report.defect));
        QVERIFY(report.volume > 0);
        QCOMPARE(report.shells, shells);
    }

    void toleranceModel_hasThePlateAndOnePinPerFit()
    {
        const QList<MeshTriangle *> triangles = read(toleranceModelFileName());
        const MeshReport report = inspect(triangles);
        qDeleteAll(triangles);
        // Files have z up; the importer centres the box on the origin.
        const QVector3D size = report.max - report.min;
        QVERIFY(qAbs(size.x() - kPlateWidth) < 1e-4);
        QVERIFY(qAbs(size.y() - kPlateDepth) < 1e-4);
        QVERIFY(qAbs(size.z() - kPinHeight) < 1e-4);
        QVERIFY(kPinHeight > kPlateHeight);

        // The volume of a plate with its notches and stepped holes, and of the pins, from the
        // sizes (the round parts as the polygons they are made of).
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
        QVERIFY2(qAbs(report.volume - volume) < 1e-3 * volume,
            qPrintable(QStringLiteral("%1 against %2").arg(report.volume).arg(volume)));
    }

    void dimensionalModel_hasTheNominalFootprint()
    {
        const QList<MeshTriangle *> triangles = read(dimensionalAccuracyModelFileName());
        const MeshReport report = inspect(triangles);
        qDeleteAll(triangles);
        const QVector3D size = report.max - report.min;
        // The ring's polygon reaches its nominal radius at its corners only, none of which lies
        // on the axes: within 0.01 mm.
        QVERIFY(qAbs(size.x() - (kTierSizes[0].x + kRingGap + kRingOuterDiameter)) < 0.01);
        QVERIFY(qAbs(size.y() - std::max(kTierSizes[0].y, kRingOuterDiameter)) < 0.01);
        QVERIFY(qAbs(size.z() - kRingHeight) < 1e-4);
        QVERIFY(qAbs(size.x() - dimensionalModelSize().width()) < 0.01);
        QVERIFY(qAbs(size.y() - dimensionalModelSize().height()) < 0.01);

        // Tiers as boxes, the lowest one's chamfered part as the prismatoid it is; the ring from
        // its polygons.
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
        // Frustums of the chamfers at the platform, then straight walls.
        const auto frustum = [&](double r0, double r1) { return polygon * c * (r0 * r0 + r0 * r1 + r1 * r1) / 3; };
        const double ring = frustum(outer - c, outer) - frustum(inner + c, inner)
            + polygon * (outer * outer - inner * inner) * (kRingHeight - c);
        QVERIFY2(qAbs(report.volume - (block + ring)) < 1e-3 * (block + ring),
            qPrintable(QStringLiteral("%1 against %2").arg(report.volume).arg(block + ring)));
    }

    void generator_withoutFolder_printsUsage()
    {
        QProcess generator;
        generator.start(TestPaths::executable(QStringLiteral("tessora-calibration-models")), QStringList());
        QVERIFY(generator.waitForFinished(60000));
        QCOMPARE(generator.exitCode(), 2);
        QVERIFY(generator.readAllStandardError().contains("usage: tessora-calibration-models OUTDIR"));

        // A folder that cannot be made is a failure, not a crash.
        QFile blocker(m_dir.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        generator.start(TestPaths::executable(QStringLiteral("tessora-calibration-models")),
            {m_dir.filePath(QStringLiteral("blocker/models"))});
        QVERIFY(generator.waitForFinished(60000));
        QCOMPARE(generator.exitCode(), 1);
        QVERIFY(generator.readAllStandardError().startsWith("error: "));
    }

    void triangulation_coversARegionWithHolesExactlyOnce()
    {
        // A notched outline and holes whose rightmost points line up, close to each other and to
        // the notches: the shapes of the tolerance plate, in miniature.
        Outline outer
            = {{0, 0}, {3, 0}, {3, 1}, {4, 1}, {4, 0}, {10, 0}, {10, 6}, {6, 6}, {6, 5}, {5, 5}, {5, 6}, {0, 6}};
        std::vector<Outline> holes;
        for (double x : {2.0, 4.5, 7.0})
            holes.push_back(reversed(circle({x, 3.0}, 1.0, 24)));
        holes.push_back(reversed(rectangle({8.6, 1.0}, 0.5, 0.5)));
        std::vector<std::array<QPointF, 3>> triangles;
        QVERIFY(triangulateRegion(outer, holes, &triangles));

        int inside = 0;
        for (double y = 0.013; y < 6; y += 0.0517) {
            for (double x = 0.011; x < 10; x += 0.0493) {
                const QPointF p(x, y);
                bool expected = insideOutline(outer, p);
                for (const Outline &hole : holes)
                    expected = expected && !insideOutline(hole, p);
                const int count = coverage(triangles, p);
                QVERIFY2(count == (expected ? 1 : 0),
                    qPrintable(QStringLiteral("(%1, %2) covered %3 times").arg(x).arg(y).arg(count)));
                inside += expected ? 1 : 0;
            }
        }
        QVERIFY(inside > 10000);
        // Every triangle is counter-clockwise and made of the outlines' points.
        for (const auto &t : triangles)
            QVERIFY(doubleArea({t[0], t[1], t[2]}) > 0);
    }

    void triangulation_refusesOutlinesInTheWrongDirection()
    {
        std::vector<std::array<QPointF, 3>> triangles;
        const Outline square = rectangle({0, 0}, 4, 4);
        QVERIFY(!triangulateRegion(reversed(square), {}, &triangles));
        QVERIFY(!triangulateRegion(square, {circle({0, 0}, 1, 12)}, &triangles));
        QVERIFY(!triangulateRegion({{0, 0}, {1, 1}}, {}, &triangles));
        QVERIFY(triangles.empty());
        QVERIFY(triangulateRegion(square, {reversed(circle({0, 0}, 1, 12))}, &triangles));
        QCOMPARE(int(triangles.size()), 4 + 12); // n - 2 + 2 per hole
    }

    void shellBuilder_refusesLoopsThatCannotClose()
    {
        const Outline square = rectangle({0, 0}, 10, 10);
        std::vector<Facet> facets;
        QString error;

        Shell flat;
        flat.outer.rings = {{0.0, square}};
        QVERIFY(!buildShell(flat, &facets, &error));
        QVERIFY(!error.isEmpty());

        Shell mismatched;
        mismatched.outer.rings = {{0.0, square}, {1.0, circle({0, 0}, 4, 8)}};
        QVERIFY(!buildShell(mismatched, &facets, &error));

        Shell shortHole;
        shortHole.outer.rings = {{0.0, square}, {2.0, square}};
        Loop hole;
        hole.rings = {{0.0, reversed(circle({0, 0}, 2, 16))}, {1.0, reversed(circle({0, 0}, 2, 16))}};
        shortHole.holes.push_back(hole);
        QVERIFY(!buildShell(shortHole, &facets, &error));

        Shell inwards;
        inwards.outer.rings = {{0.0, reversed(square)}, {1.0, reversed(square)}};
        QVERIFY(!buildShell(inwards, &facets, &error));
        QVERIFY(facets.empty());

        // The same hole reaching the top makes a closed shell.
        hole.rings.push_back({2.0, reversed(circle({0, 0}, 2, 16))});
        shortHole.holes = {hole};
        QVERIFY2(buildShell(shortHole, &facets, &error), qPrintable(error));
        QCOMPARE(meshDefects(facets), QString());
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
    QList<MeshTriangle *> read(const QString &fileName, MeshImporter::Format *format = nullptr)
    {
        MeshImporter importer(m_dir.filePath(fileName));
        if (format)
            *format = importer.format();
        return importer.takeTriangles();
    }

    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestCalibrationModels)
#include "tst_calibrationmodels.moc"
