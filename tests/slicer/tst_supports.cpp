// Supports that hold: models with overhangs get columns from the platform (or from the
// model's own surface) to their undersides, every column is a closed outward mesh, and
// the sliced model with its supports has no island larger than the minimum, and a
// support added by hand stands on what lies below it.
#include "cdlpmain.h"
#include "clirun.h"
#include "crushedprintjob.h"
#include "genslices.h"
#include "islandcheck.h"
#include "meshgeometry.h"
#include "testmeshes.h"
#include "userimportedmeshsupports.h"

#include <QPointF>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr double kInch = 25.4;

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
    int largeIslands = 0; // islands over the minimum
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
        IslandCheck::Mask mask = IslandCheck::maskOf(slicer.layerImage(k, false));
        if (k > 0) {
            for (const IslandCheck::Island &island : IslandCheck::islandsOf(below, mask, k))
                result.largeIslands += island.pixels > IslandCheck::kMinimumIslandPixels ? 1 : 0;
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

// The scenes, in millimetres held in the engine's inches, centred as the editor hands
// models over.
TestMesh scene(const QString &name)
{
    TestMesh soup(float(1 / kInch));
    if (name == "cube") {
        soup.box(QVector3D(-5, -5, -5), QVector3D(5, 5, 5));
    } else if (name == "T") { // a 6 x 6 mm stem, a bar across its top overhanging 10 mm each side
        soup.box(QVector3D(-3, -3, -8), QVector3D(3, 3, 4));
        soup.box(QVector3D(-13, -3, 4), QVector3D(13, 3, 8));
    } else if (name == "tall T") { // a wider bar 30 mm up: its tips lie close, far from the platform
        soup.box(QVector3D(-3, -3, -17), QVector3D(3, 3, 13));
        soup.box(QVector3D(-13, -6, 13), QVector3D(13, 6, 17));
    } else if (name.endsWith("plate above a block")) { // the plate floats over the block
        const float half = name.startsWith("wide") ? 8 : 6;
        soup.box(QVector3D(-6, -6, -5), QVector3D(6, 6, -2));
        soup.box(QVector3D(-half, -half, 2), QVector3D(half, half, 5));
    } else if (name == "sphere") {
        std::vector<std::pair<double, double>> profile;
        for (int i = 0; i <= 24; ++i)
            profile.push_back({8.0 * std::sin(M_PI * i / 24), -8.0 * std::cos(M_PI * i / 24) + 8.0});
        soup.revolve(profile, 8);
    } else if (name == "cone on its tip") {
        soup.revolve({{0, 0}, {9, 12}, {0, 12}}, 6);
    } else if (name == "shallow cone") { // its underside rises 15 degrees
        soup.revolve({{0, 0}, {15, 4}, {0, 4}}, 2);
    } else if (name == "sliver") { // a fin 0.12 mm thin (along y) hanging down and out: its flat end in mid-air
        soup.box(QVector3D(-4, -4, -6), QVector3D(4, 4, 2));
        TestMesh fin;
        fin.prism({{4, 0}, {8, -2}, {10, -2}, {10, -1.7f}, {4, 0.3f}}, 0.01f, 0.13f);
        const auto turned = [](const QVector3D &v) { return QVector3D(v.x(), v.z(), v.y()); };
        for (const MeshTriangle *t : fin.triangles())
            soup.add(turned(t->a), turned(t->c), turned(t->b));
    } else if (name == "two shallow points") {
        // 5 mm apart under one plate, the underside between them only 0.1 mm higher: the
        // sweep sees them in one region from its first layer.
        soup.box(QVector3D(-9, -6, 0.15), QVector3D(9, 6, 2.2));
        soup.revolve({{0, 0}, {5, 0.2}, {0, 0.2}}, 0.0, -2.5);
        soup.revolve({{0, 0.02}, {5, 0.22}, {0, 0.22}}, 0.0, 2.5);
    }
    return soup;
}

bool generate(
    CDLPMain &engine, const QString &name, int density = 50, int strength = 50, bool noLift = false, bool raft = false)
{
    engine.setPlatformOptions(noLift, raft);
    return engine.generate(
        scene(name).triangles(), QVector3D(1, 1, 1), QVector3D(), QVector3D(), 0.1, 0.5, density, strength, false, {});
}

} // namespace

class TestSupports : public QObject
{
    Q_OBJECT

private slots:
    void scene_heldWithoutIslands_data()
    {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<int>("level"); // density and strength
        QTest::addColumn<QList<QPointF>>("heldAt"); // mm, each with a support within `within`
        QTest::addColumn<double>("within");
        QTest::addColumn<bool>("sharedTrunks"); // fewer feet than tips
        const QList<QPointF> arms {{-9, 0}, {9, 0}};
        QTest::newRow("cube") << "cube" << 50 << QList<QPointF>() << 0.0 << false;
        for (const int level : {50, 0, 100}) {
            QTest::addRow("T at %d", level) << "T" << level << arms << 4.0 << false;
            QTest::addRow("tall T at %d", level) << "tall T" << level << QList<QPointF>() << 0.0 << true;
        }
        // Both start in a single point: the first support must hold that point, not a cell
        // at the edge of the first section, nor the top surface above it.
        QTest::newRow("wide plate above a block")
            << "wide plate above a block" << 50 << QList<QPointF>() << 0.0 << false;
        QTest::newRow("sphere") << "sphere" << 50 << QList<QPointF> {{0, 0}} << 0.4 << false;
        QTest::newRow("cone on its tip") << "cone on its tip" << 50 << QList<QPointF> {{0, 0}} << 0.4 << false;
        // One support between the points would cover both by reach, and each would start as
        // an island in the thin layers below the sweep's.
        QTest::newRow("two shallow points")
            << "two shallow points" << 50 << QList<QPointF> {{-2.5, 0}, {2.5, 0}} << 0.4 << false;
    }

    // Every column is closed and outward, stands on the platform or on what stands there,
    // and runs through air up to its tip, which holds the model from below: never on an
    // upward face (it would mark the visible top and hold nothing).
    void scene_heldWithoutIslands()
    {
        QFETCH(QString, scene);
        QFETCH(int, level);
        QFETCH(QList<QPointF>, heldAt);
        QFETCH(double, within);
        QFETCH(bool, sharedTrunks);
        // The shallow points overlap their plate: lines through them cross faces inside the model.
        const bool partsOverlap = scene == QLatin1String("two shallow points");
        CDLPMain engine;
        QVERIFY(generate(engine, scene, level, level));
        QVERIFY(!engine.supports().empty());
        const float penetration = float(engine.parameters().value(23));
        int feet = 0;
        for (const CDLPMain::Support &support : engine.supports()) {
            QVERIFY(closedAndConsistent(support.triangles));
            QVERIFY(signedVolume(support.triangles) > 0.0);
            const auto [foot, tip] = heightRange(support.triangles);
            QVERIFY(foot >= 0.0f);
            feet += foot == 0.0f ? 1 : 0;
            QVERIFY(tip > support.point.z() - 1e-4f && tip < support.point.z() + 0.02f); // slightly into the model
            const auto crossings = verticalCrossings(engine.model(), support.point.x(), support.point.y());
            const auto nearest
                = std::min_element(crossings.begin(), crossings.end(), [&](const auto &a, const auto &b) {
                      return std::abs(a.first - support.point.z()) < std::abs(b.first - support.point.z());
                  });
            QVERIFY(nearest != crossings.end());
            QVERIFY2(std::abs(nearest->first - support.point.z()) < 0.002f && nearest->second,
                qPrintable(QStringLiteral("tip at z %1 is not on a downward face").arg(support.point.z())));
            for (const auto &crossing : crossings) {
                QVERIFY2(partsOverlap || crossing.first <= foot + penetration + 1e-4f
                        || crossing.first >= tip - penetration - 1e-4f,
                    qPrintable(QStringLiteral("column through the model at z %1").arg(crossing.first)));
            }
        }
        QVERIFY(feet > 0);
        QVERIFY2(!sharedTrunks || feet < int(engine.supports().size()),
            qPrintable(QStringLiteral("%1 feet for %2 tips").arg(feet).arg(engine.supports().size())));
        for (const QPointF &point : heldAt) {
            QVERIFY2(std::any_of(engine.supports().begin(), engine.supports().end(),
                         [&](const CDLPMain::Support &support) {
                             return std::hypot(
                                        support.point.x() * kInch - point.x(), support.point.y() * kInch - point.y())
                                 < within;
                         }),
                qPrintable(QStringLiteral("nothing holds %1, %2").arg(point.x()).arg(point.y())));
        }
        // The model sits lifted, on its supports: nothing of the scene below the platform.
        const Result sliced = sliceAndCheck(engine);
        QCOMPARE(sliced.layers, int(std::ceil(heightRange(engine.model()).second * kInch / 0.1 - 0.5)));
        QCOMPARE(sliced.largeIslands, 0);
        // Nothing grows out sideways further than 6 mm over the layer below.
        QVERIFY2(sliced.reachPixels <= 60.0, qPrintable(QString::number(sliced.reachPixels)));
    }

    // A shallow underside: the supports of the strips below hold each new strip near them,
    // so supports stand about a cover radius apart, not in a ring on every layer.
    void shallowUnderside_supportsACoverApart()
    {
        CDLPMain engine;
        QVERIFY(generate(engine, "shallow cone"));
        const double cover = engine.parameters().value(10) * kInch;
        const size_t supports = engine.supports().size();
        QVERIFY2(supports <= 3.5 * 15.0 * 15.0 / (cover * cover) + 2.0, qPrintable(QString::number(supports)));
        QCOMPARE(sliceAndCheck(engine).largeIslands, 0);
    }

    // A plate floating above a block: its supports start on the block, not inside it, and
    // so does one added by hand under the plate (not on the plate's top).
    void overhangAboveTheModel_standsOnTheModel()
    {
        CDLPMain engine;
        QVERIFY(generate(engine, "plate above a block"));
        const double lift = engine.liftHeight();
        const float blockTop = float(-2 / kInch + lift);
        int onBlock = 0;
        for (const CDLPMain::Support &support : engine.supports()) {
            if (support.point.z() < float(2 / kInch + lift) - 0.01f)
                continue; // under the block
            const float low = heightRange(support.triangles).first;
            QVERIFY2(low > blockTop - 0.02f, qPrintable(QString::number(low)));
            ++onBlock;
        }
        QVERIFY(onBlock > 0);
        QVERIFY(engine.addSupport(1.3 / kInch, -2.7 / kInch, 2 / kInch + lift, 0.1));
        const float low = heightRange(engine.supports().back().triangles).first;
        QVERIFY2(std::abs(low - blockTop) < 0.02f, qPrintable(QString::number(low)));
        QCOMPARE(sliceAndCheck(engine).largeIslands, 0);
    }

    void platformOptions_baseOnThePlatformOrTheRaft_data()
    {
        QTest::addColumn<bool>("noLift");
        QTest::addColumn<bool>("raft");
        QTest::newRow("lifted") << false << false;
        QTest::newRow("no lift") << true << false;
        QTest::newRow("lifted, raft") << false << true;
        QTest::newRow("no lift, raft") << true << true;
    }

    // Without lift the T stands on its stem: the first layer is the stem's 6 x 6 mm section,
    // and supports hold only the overhanging bar; lifted, the model starts 4.9 mm up on
    // supports (0.19 in rounded up to whole 0.1 mm). A raft is one plate on the platform,
    // and whatever starts right above it (the columns' feet, the model's base) stands on it.
    void platformOptions_baseOnThePlatformOrTheRaft()
    {
        QFETCH(bool, noLift);
        QFETCH(bool, raft);
        CDLPMain engine;
        QVERIFY(generate(engine, "T", 50, 50, noLift, raft));
        for (const CDLPMain::Support &support : engine.supports()) {
            const bool underStem = std::abs(support.point.x()) < float(3 / kInch);
            QVERIFY2(!(noLift && underStem), qPrintable(QString::number(support.point.x() * kInch)));
        }
        const Result sliced = sliceAndCheck(engine);
        QCOMPARE(sliced.largeIslands, 0);
        QVERIFY(sliced.reachPixels <= 60.0);
        if (raft) {
            QVERIFY(engine.raftThickness() > 0.0);
            const int above = int(std::ceil(engine.raftThickness() * kInch / 0.1)) + 1;
            QVERIFY(int(sliced.lowLayers.size()) > above);
            const IslandCheck::Mask &plate = sliced.lowLayers.front();
            QCOMPARE(int(IslandCheck::islandsOf({}, plate, 0).size()), 1);
            const IslandCheck::Mask &standing = sliced.lowLayers[size_t(above)];
            QVERIFY(litPixels(standing) > 0);
            for (size_t i = 0; i < plate.lit.size(); ++i)
                QVERIFY(!standing.lit[i] || plate.lit[i]);
            return;
        }
        QVERIFY(std::abs(engine.liftHeight() - (noLift ? 8 : 4.9 + 8) / kInch) < 1e-6);
        // The model alone, with a 1 x 1 mm marker on the platform beside it that pins the
        // slices to the platform.
        std::vector<MeshTriangle> placed = engine.model();
        TestMesh marker(float(1 / kInch));
        marker.box(QVector3D(25, 25, 0), QVector3D(26, 26, 0.1f));
        for (const MeshTriangle *t : marker.triangles())
            placed.push_back(*t);
        const Result model = sliceAndCheck(placed);
        QVERIFY(!model.lowLayers.empty());
        const qint64 base = litPixels(model.lowLayers.front()) - 100;
        QVERIFY2(noLift ? std::abs(base - 3600) < 150 : base == 0, qPrintable(QString::number(base)));
    }

    void editorSupports_platformOptionsSetTheLift_data()
    {
        QTest::addColumn<bool>("noLift");
        QTest::addColumn<bool>("raft");
        QTest::addColumn<double>("liftMm");
        const double raft = 0.03 * kInch;
        QTest::newRow("lifted") << false << false << 4.9 + 5.0;
        QTest::newRow("no lift") << true << false << 5.0;
        QTest::newRow("no lift, raft") << true << true << 5.0 + raft;
        QTest::newRow("lifted, raft") << false << true << 5.6 + 5.0;
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

    // A sliver thinner than the sampling grid, left without supports, is held by the repair.
    void islandRepair_holdsASliverThinnerThanTheGrid()
    {
        CDLPMain engine;
        QVERIFY(generate(engine, "sliver"));
        for (const CDLPMain::Support &s : std::vector<CDLPMain::Support>(engine.supports()))
            QVERIFY(s.point.x() * kInch < 4.2 || engine.deleteSupport(s.point.x(), s.point.y(), s.point.z(), 1e-4));
        QVERIFY(sliceAndCheck(engine).largeIslands > 0);
        const IslandCheck::Repair repair = IslandCheck::repairSupports(engine, 0.1);
        QCOMPARE(sliceAndCheck(engine).largeIslands, 0);
        QVERIFY(repair.remaining.empty() && repair.unplaced.empty() && repair.added > 0);
    }

    // With supports the model's layers above them are the same pixels, whole layers up: a
    // thin wing, whose supports reach beyond its outline, shows any shift.
    void cliSupports_leaveTheModelOnTheSamePixels()
    {
        QTemporaryDir dir;
        CrushedPrintJob jobs[2];
        for (int i = 0; i < 2; ++i) {
            QFile file(dir.filePath(QString::number(i)));
            const QStringList arguments {"slice",
                TestPaths::sourceDir() + QStringLiteral("/tests/data/meshes/ascii_wing_tall_thin.stl"), "-o",
                file.fileName(), "--layer", "100"};
            QCOMPARE(runCli(i ? arguments + QStringList {"--supports"} : arguments).exitCode, 0);
            QVERIFY(jobs[i].loadCPJ(&file));
        }
        const int lift = jobs[1].getTotalLayers() - jobs[0].getTotalLayers();
        for (const int layer : {900, 1500}) {
            const IslandCheck::Mask without = IslandCheck::layerMask(jobs[0], layer);
            QVERIFY(litPixels(without) > 300 && lift > 40);
            QVERIFY(IslandCheck::layerMask(jobs[1], layer + lift).lit == without.lit);
        }
    }
};

QTEST_GUILESS_MAIN(TestSupports)
#include "tst_supports.moc"
