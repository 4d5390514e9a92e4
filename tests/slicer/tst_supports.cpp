// Supports that hold: models with overhangs get columns from the platform (or from the
// model's own surface) to their undersides, every column is a closed outward mesh, and
// the sliced model with its supports has no island larger than the minimum, and a
// support added by hand stands on what lies below it.
#include "cdlpmain.h"
#include "genslices.h"
#include "islandcheck.h"
#include "meshgeometry.h"
#include "testmeshes.h"
#include "userimportedmeshsupports.h"

#include <QTest>

#include <algorithm>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr double kInch = 25.4;

// Scenes in millimetres, held in the engine's inches.
TestMesh inches()
{
    return TestMesh(float(1 / kInch));
}

double signedVolume(const std::vector<MeshTriangle> &mesh)
{
    double volume = 0.0;
    for (const MeshTriangle &t : mesh)
        volume += QVector3D::dotProduct(t.a, QVector3D::crossProduct(t.b, t.c)) / 6.0;
    return volume;
}

// Every edge of a closed, consistently oriented mesh is used once in each direction.
bool closedAndConsistent(const std::vector<MeshTriangle> &mesh)
{
    std::map<std::pair<std::tuple<float, float, float>, std::tuple<float, float, float>>, int> edges;
    const auto key = [](const QVector3D &v) { return std::make_tuple(v.x(), v.y(), v.z()); };
    for (const MeshTriangle &t : mesh) {
        const QVector3D *v[3] = {&t.a, &t.b, &t.c};
        for (int e = 0; e < 3; ++e)
            ++edges[{key(*v[e]), key(*v[(e + 1) % 3])}];
    }
    for (const auto &[edge, count] : edges) {
        const auto reverse = edges.find({edge.second, edge.first});
        if (count != 1 || reverse == edges.end() || reverse->second != 1)
            return false;
    }
    return true;
}

struct Result {
    int layers = 0;
    std::vector<IslandCheck::Island> islands;
    double reachPixels = 0.0; // the most any layer reaches beyond the one below
    std::vector<IslandCheck::Mask> lowLayers; // the first millimetre and a bit
};

constexpr int kLowLayers = 12;

// Slices a mesh at 100 microns (0.1 mm pixels) and looks for islands.
Result sliceAndCheck(std::vector<MeshTriangle> all)
{
    QList<MeshTriangle *> list;
    for (MeshTriangle &t : all)
        list << &t;
    GenSlices slicer;
    Result result;
    if (!slicer.prepare(list, 0.1, QVector3D(), QVector3D(), QVector3D(kInch, kInch, kInch)))
        return result;
    result.layers = slicer.layerCount();
    IslandCheck::Mask below;
    for (int k = 0; k < result.layers; ++k) {
        const QImage image = slicer.layerImage(k, false);
        // Solid pixels are red; the rest black or transparent black.
        IslandCheck::Mask mask = IslandCheck::maskOf(image);
        if (k > 0) {
            for (const IslandCheck::Island &island : IslandCheck::islandsOf(below, mask, k))
                result.islands.push_back(island);
            result.reachPixels = std::max(result.reachPixels, IslandCheck::reachOf(below, mask));
        }
        if (k < kLowLayers)
            result.lowLayers.push_back(mask);
        below = std::move(mask);
    }
    return result;
}

// The lifted model and its supports.
Result sliceAndCheck(const CDLPMain &engine)
{
    std::vector<MeshTriangle> all = engine.model();
    all.insert(all.end(), engine.supportMesh().begin(), engine.supportMesh().end());
    return sliceAndCheck(all);
}

qint64 litPixels(const IslandCheck::Mask &mask)
{
    return std::count_if(mask.lit.begin(), mask.lit.end(), [](quint8 v) { return v != 0; });
}

// Where the vertical line through (x, y) crosses the mesh: heights and whether the
// surface faces down there.
std::vector<std::pair<float, bool>> verticalCrossings(const std::vector<MeshTriangle> &mesh, float x, float y)
{
    std::vector<std::pair<float, bool>> out;
    for (const MeshTriangle &t : mesh) {
        const QVector3D e1 = t.b - t.a;
        const QVector3D e2 = t.c - t.a;
        const float det = e1.x() * e2.y() - e1.y() * e2.x();
        if (std::abs(det) < 1e-12f)
            continue;
        const float u = ((x - t.a.x()) * e2.y() - (y - t.a.y()) * e2.x()) / det;
        const float v = (e1.x() * (y - t.a.y()) - e1.y() * (x - t.a.x())) / det;
        if (u < 0 || v < 0 || u + v > 1)
            continue;
        out.push_back({t.a.z() + u * e1.z() + v * e2.z(), t.normal.z() < 0});
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::pair<float, float> heightRange(const std::vector<MeshTriangle> &mesh)
{
    float low = 1e9f;
    float high = -1e9f;
    for (const MeshTriangle &t : mesh) {
        low = std::min({low, t.a.z(), t.b.z(), t.c.z()});
        high = std::max({high, t.a.z(), t.b.z(), t.c.z()});
    }
    return {low, high};
}

// A stem 6 x 6 mm standing on a flat base, with a bar across its top overhanging 10 mm
// on each side (centred, as the editor hands models over).
TestMesh tShape()
{
    TestMesh soup = inches();
    soup.box(QVector3D(-3, -3, -8), QVector3D(3, 3, 4));
    soup.box(QVector3D(-13, -3, 4), QVector3D(13, 3, 8));
    return soup;
}

int largeIslands(const Result &result)
{
    int count = 0;
    for (const IslandCheck::Island &island : result.islands)
        count += island.pixels > IslandCheck::kMinimumIslandPixels ? 1 : 0;
    return count;
}

bool generate(
    CDLPMain &engine, const TestMesh &soup, int density = 50, int strength = 50, bool noLift = false, bool raft = false)
{
    engine.setPlatformOptions(noLift, raft);
    return engine.generate(
        soup.triangles(), QVector3D(1, 1, 1), QVector3D(), QVector3D(), 0.1, 0.5, density, strength, false, {});
}

} // namespace

class TestSupports : public QObject
{
    Q_OBJECT

private slots:
    void cube_standsOnColumnsFromThePlatform()
    {
        TestMesh soup = inches();
        soup.box(QVector3D(-5, -5, -5), QVector3D(5, 5, 5)); // centred, as the editor hands it over
        CDLPMain engine;
        QVERIFY(generate(engine, soup));
        QVERIFY(engine.supports().size() >= 9);
        int feet = 0;
        for (const CDLPMain::Support &support : engine.supports()) {
            QVERIFY(closedAndConsistent(support.triangles));
            QVERIFY(signedVolume(support.triangles) > 0.0);
            float low = 1e9f;
            float high = -1e9f;
            for (const MeshTriangle &t : support.triangles) {
                low = std::min({low, t.a.z(), t.b.z(), t.c.z()});
                high = std::max({high, t.a.z(), t.b.z(), t.c.z()});
            }
            // On the platform, or on the trunk of a tree that stands there.
            QVERIFY(low >= 0.0f);
            feet += low == 0.0f ? 1 : 0;
            // Up to the cube's underside (lifted to 0.19 in), reaching slightly into it.
            QVERIFY(high > 0.19f && high < 0.19f + 0.02f);
        }
        QVERIFY(feet > 0);
        const Result sliced = sliceAndCheck(engine);
        QVERIFY(sliced.layers > 0);
        QCOMPARE(largeIslands(sliced), 0);
    }

    void tShape_armHeldWithoutIslands_data()
    {
        QTest::addColumn<int>("density");
        QTest::addColumn<int>("strength");
        QTest::newRow("50, 50") << 50 << 50;
        QTest::newRow("0, 0") << 0 << 0;
        QTest::newRow("100, 100") << 100 << 100;
    }

    void tShape_armHeldWithoutIslands()
    {
        QFETCH(int, density);
        QFETCH(int, strength);
        // A stem and a bar across its top, overhanging 10 mm on each side.
        const TestMesh soup = tShape();
        CDLPMain engine;
        QVERIFY(generate(engine, soup, density, strength));
        // Some support holds each arm.
        bool left = false;
        bool right = false;
        for (const CDLPMain::Support &support : engine.supports()) {
            left = left || support.point.x() < float(-5 / kInch);
            right = right || support.point.x() > float(5 / kInch);
        }
        QVERIFY(left && right);
        const Result sliced = sliceAndCheck(engine);
        QCOMPARE(largeIslands(sliced), 0);
        // Nothing grows out sideways further than 6 mm over the layer below.
        QVERIFY2(sliced.reachPixels <= 60.0, qPrintable(QString::number(sliced.reachPixels)));
    }

    void overhangAboveTheModel_standsOnTheModel()
    {
        // A low block and, above it with a gap, a floating plate: the plate's supports
        // start on the block, not inside it.
        TestMesh soup = inches();
        soup.box(QVector3D(-6, -6, -5), QVector3D(6, 6, -2));
        soup.box(QVector3D(-6, -6, 2), QVector3D(6, 6, 5));
        CDLPMain engine;
        QVERIFY(generate(engine, soup));
        const double lift = engine.liftHeight();
        const float blockTop = float(-2 / kInch + lift);
        int onBlock = 0;
        for (const CDLPMain::Support &support : engine.supports()) {
            if (support.point.z() < float(2 / kInch + lift) - 0.01f)
                continue; // under the block
            float low = 1e9f;
            for (const MeshTriangle &t : support.triangles)
                low = std::min({low, t.a.z(), t.b.z(), t.c.z()});
            QVERIFY2(low > blockTop - 0.02f, qPrintable(QString::number(low)));
            ++onBlock;
        }
        QVERIFY(onBlock > 0);
        // One added by hand under the plate stands on the block as well, not on the plate's top.
        QVERIFY(engine.addSupport(1.3 / kInch, -2.7 / kInch, 2 / kInch + lift, 0.1));
        float low = 1e9f;
        for (const MeshTriangle &t : engine.supports().back().triangles)
            low = std::min({low, t.a.z(), t.b.z(), t.c.z()});
        QVERIFY2(std::abs(low - blockTop) < 0.02f, qPrintable(QString::number(low)));
        QCOMPARE(largeIslands(sliceAndCheck(engine)), 0);
    }

    void sphereAndDownwardCone_heldFromTheirLowestPoint_data()
    {
        QTest::addColumn<int>("shape");
        QTest::newRow("sphere") << 0;
        QTest::newRow("cone on its tip") << 1;
    }

    // Both start in a single point: the first support must hold that point, not a cell
    // at the edge of the first section, nor the top surface above it.
    void sphereAndDownwardCone_heldFromTheirLowestPoint()
    {
        QFETCH(int, shape);
        TestMesh soup = inches();
        std::vector<std::pair<double, double>> profile;
        if (shape == 0) {
            for (int i = 0; i <= 24; ++i)
                profile.push_back({8.0 * std::sin(M_PI * i / 24), -8.0 * std::cos(M_PI * i / 24) + 8.0});
        } else {
            profile = {{0, 0}, {9, 12}, {0, 12}};
        }
        const double height = profile.back().second;
        soup.revolve(profile, height / 2);
        CDLPMain engine;
        QVERIFY(generate(engine, soup));
        QVERIFY(!engine.supports().empty());
        // The model sits lifted, on its supports: nothing of the scene below the platform.
        const Result sliced = sliceAndCheck(engine);
        QCOMPARE(sliced.layers, int(std::ceil((height / 2 / kInch + engine.liftHeight()) * kInch / 0.1 - 0.5)));
        QCOMPARE(largeIslands(sliced), 0);
    }

    // Two shallow points hang under one plate, 5 mm apart, the underside between them only
    // 0.1 mm higher: the sweep sees them in one region from its first layer, and one
    // support in the middle would cover both by reach. Each must be held at its tip, or
    // each starts as an island in the thin layers below the sweep's.
    void twoShallowPointsInOneRegion_eachHeldAtItsTip()
    {
        TestMesh soup = inches();
        soup.box(QVector3D(-9, -6, 0.15), QVector3D(9, 6, 2.2));
        soup.revolve({{0, 0}, {5, 0.2}, {0, 0.2}}, 0.0, -2.5);
        soup.revolve({{0, 0.02}, {5, 0.22}, {0, 0.22}}, 0.0, 2.5);
        CDLPMain engine;
        QVERIFY(generate(engine, soup));
        for (const double tipX : {-2.5, 2.5}) {
            bool held = false;
            for (const CDLPMain::Support &support : engine.supports()) {
                const double dx = support.point.x() * kInch - tipX;
                const double dy = support.point.y() * kInch;
                held = held || std::hypot(dx, dy) < 0.4;
            }
            QVERIFY2(held, qPrintable(QStringLiteral("no support at the tip at x = %1 mm").arg(tipX)));
        }
        QCOMPARE(largeIslands(sliceAndCheck(engine)), 0);
    }

    void tips_onDownFacingSurfaces_columnsClearOfTheModel_data()
    {
        QTest::addColumn<int>("scene");
        QTest::newRow("T shape") << 0;
        QTest::newRow("plate above a block") << 1;
        QTest::newRow("sphere") << 2;
    }

    // A tip holds the model from below, never an upward face (it would mark the visible
    // top and hold nothing), and a column runs through air from its foot to its tip.
    void tips_onDownFacingSurfaces_columnsClearOfTheModel()
    {
        QFETCH(int, scene);
        TestMesh soup = inches();
        if (scene == 0) {
            soup = tShape();
        } else if (scene == 1) {
            soup.box(QVector3D(-6, -6, -5), QVector3D(6, 6, -2));
            soup.box(QVector3D(-8, -8, 2), QVector3D(8, 8, 5));
        } else {
            soup.sphere(QVector3D(0, 0, 0), 8.0, 24, 48);
        }
        CDLPMain engine;
        QVERIFY(generate(engine, soup));
        QVERIFY(!engine.supports().empty());
        const float penetration = float(engine.parameters().value(23));
        for (const CDLPMain::Support &support : engine.supports()) {
            const auto crossings = verticalCrossings(engine.model(), support.point.x(), support.point.y());
            const auto nearest
                = std::min_element(crossings.begin(), crossings.end(), [&](const auto &a, const auto &b) {
                      return std::abs(a.first - support.point.z()) < std::abs(b.first - support.point.z());
                  });
            QVERIFY(nearest != crossings.end());
            QVERIFY2(std::abs(nearest->first - support.point.z()) < 0.002f && nearest->second,
                qPrintable(QStringLiteral("tip at z %1 is not on a downward face").arg(support.point.z())));
            const auto [foot, tip] = heightRange(support.triangles);
            for (const auto &[z, downward] : crossings) {
                Q_UNUSED(downward)
                QVERIFY2(z <= foot + penetration + 1e-4f || z >= tip - penetration - 1e-4f,
                    qPrintable(QStringLiteral("column through the model at z %1").arg(z)));
            }
        }
    }

    void noLift_flatBaseOnThePlatform_data()
    {
        QTest::addColumn<bool>("noLift");
        QTest::newRow("lifted") << false;
        QTest::newRow("no lift") << true;
    }

    // Without lift the T stands on its stem: the first layer is the stem's 6 x 6 mm
    // section, and supports hold only the overhanging bar; lifted, the model starts
    // 0.19 in up on supports.
    void noLift_flatBaseOnThePlatform()
    {
        QFETCH(bool, noLift);
        CDLPMain engine;
        QVERIFY(generate(engine, tShape(), 50, 50, noLift));
        const double lowest = -8 / kInch;
        QVERIFY(std::abs(engine.liftHeight() - (noLift ? -lowest : 0.19 - lowest)) < 1e-6);
        // The model alone, with a 1 x 1 mm marker on the platform beside it that pins
        // the slices to the platform.
        std::vector<MeshTriangle> placed = engine.model();
        TestMesh marker = inches();
        marker.box(QVector3D(25, 25, 0), QVector3D(26, 26, 0.1f));
        for (const MeshTriangle *t : marker.triangles())
            placed.push_back(*t);
        const Result model = sliceAndCheck(placed);
        QVERIFY(!model.lowLayers.empty());
        const qint64 base = litPixels(model.lowLayers.front()) - 100;
        if (noLift)
            QVERIFY2(std::abs(base - 3600) < 150, qPrintable(QString::number(base)));
        else
            QCOMPARE(base, qint64(0));
        for (const CDLPMain::Support &support : engine.supports()) {
            const bool underStem = std::abs(support.point.x()) < float(3 / kInch);
            QVERIFY2(!(noLift && underStem), qPrintable(QString::number(support.point.x() * kInch)));
        }
        const Result sliced = sliceAndCheck(engine);
        QCOMPARE(largeIslands(sliced), 0);
        QVERIFY(sliced.reachPixels <= 60.0);
    }

    void raft_plateUnderEverything_data()
    {
        QTest::addColumn<bool>("noLift");
        QTest::newRow("lifted") << false;
        QTest::newRow("no lift") << true;
    }

    // The raft is one plate on the platform, and whatever starts right above it (the
    // columns' feet, the model's base) stands on it.
    void raft_plateUnderEverything()
    {
        QFETCH(bool, noLift);
        CDLPMain engine;
        QVERIFY(generate(engine, tShape(), 50, 50, noLift, true));
        QVERIFY(engine.raftThickness() > 0.0);
        const Result sliced = sliceAndCheck(engine);
        QCOMPARE(largeIslands(sliced), 0);
        const int above = int(std::ceil(engine.raftThickness() * kInch / 0.1)) + 1;
        QVERIFY(int(sliced.lowLayers.size()) > above);
        const IslandCheck::Mask &plate = sliced.lowLayers.front();
        QCOMPARE(int(IslandCheck::islandsOf({}, plate, 0).size()), 1);
        const IslandCheck::Mask &standing = sliced.lowLayers[size_t(above)];
        QVERIFY(litPixels(standing) > 0);
        for (size_t i = 0; i < plate.lit.size(); ++i)
            QVERIFY(!standing.lit[i] || plate.lit[i]);
    }

    void tallOverhang_tipsShareTrunks_data()
    {
        QTest::addColumn<int>("level");
        QTest::newRow("50") << 50;
        QTest::newRow("0") << 0;
        QTest::newRow("100") << 100;
    }

    // A bar 26 x 12 mm on a stem 30 mm high: its tips lie close together far above the
    // platform, so they are fed by shared trunks (fewer feet than tips), and the print
    // still has no island and no reach beyond 6 mm.
    void tallOverhang_tipsShareTrunks()
    {
        QFETCH(int, level);
        TestMesh soup = inches();
        soup.box(QVector3D(-3, -3, -17), QVector3D(3, 3, 13));
        soup.box(QVector3D(-13, -6, 13), QVector3D(13, 6, 17));
        CDLPMain engine;
        QVERIFY(generate(engine, soup, level, level));
        int feet = 0;
        for (const CDLPMain::Support &support : engine.supports())
            feet += heightRange(support.triangles).first <= 0.0f ? 1 : 0;
        QVERIFY(feet > 0);
        QVERIFY2(feet < int(engine.supports().size()),
            qPrintable(QStringLiteral("%1 feet for %2 tips").arg(feet).arg(engine.supports().size())));
        const Result sliced = sliceAndCheck(engine);
        QCOMPARE(largeIslands(sliced), 0);
        QVERIFY(sliced.reachPixels <= 60.0);
    }

    void editorSupports_platformOptionsSetTheLift_data()
    {
        QTest::addColumn<bool>("noLift");
        QTest::addColumn<bool>("raft");
        QTest::addColumn<double>("liftMm");
        const double raft = 0.03 * kInch;
        QTest::newRow("lifted") << false << false << 0.19 * kInch + 5.0;
        QTest::newRow("no lift") << true << false << 5.0;
        QTest::newRow("no lift, raft") << true << true << 5.0 + raft;
        QTest::newRow("lifted, raft") << false << true << 0.19 * kInch + 5.0 + raft;
    }

    // The editor's support set passes its choice to the engine: the model's centre stands
    // at the lift, on the platform or the raft.
    void editorSupports_platformOptionsSetTheLift()
    {
        QFETCH(bool, noLift);
        QFETCH(bool, raft);
        QFETCH(double, liftMm);
        const QList<MeshTriangle *> cube = MeshGeometry::centredBox(10, 10, 10);
        UserImportedMeshSupports supports;
        supports.setPlatformOptions(noLift, raft);
        QVERIFY(supports.generate(cube, QVector3D(1, 1, 1), QQuaternion(), 1.0, 50.0));
        qDeleteAll(cube);
        QVERIFY2(std::abs(supports.liftHeight() - liftMm) < 1e-3, qPrintable(QString::number(supports.liftHeight())));
    }
};

QTEST_GUILESS_MAIN(TestSupports)
#include "tst_supports.moc"
