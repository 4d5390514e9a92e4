#include "crushedprintjob.h"
#include "genslices.h"
#include "islandcheck.h"
#include "layerhollower.h"
#include "testmeshes.h"
#include "trapcheck.h"

#include <QtTest>

#include <array>
#include <functional>

namespace {

constexpr double kPixel = 0.1; // mm
using Stack = std::vector<std::vector<uint8_t>>;
using Solid = std::function<bool(int x, int y, int layer)>;

// Streams `layers` layers of a box x box area, solid where `solid` says, through a hollower.
Stack hollow(LayerHollower::Settings settings, int box, int layers, const Solid &solid, int *cavities = nullptr,
    std::vector<LayerHollower::Hole> *holes = nullptr)
{
    settings.threads = 2;
    LayerHollower hollower(settings, QRect(0, 0, box, box), layers);
    Stack out;
    std::vector<uint8_t> layer;
    for (int k = 0; k < layers; ++k) {
        std::vector<uint8_t> coverage(size_t(box * box));
        for (int i = 0; i < box * box; ++i)
            coverage[size_t(i)] = solid(i % box, i / box, k) ? 255 : 0;
        std::vector<uint16_t> distance = LayerHollower::distanceMap(coverage, box, box);
        hollower.addLayer(std::move(coverage), std::move(distance));
        while (hollower.takeLayer(&layer))
            out.push_back(layer);
    }
    if (cavities)
        *cavities = hollower.cavityCount();
    if (holes)
        *holes = hollower.holesCut();
    return out;
}

// Empty voxels that a flood from the vat (around the stack and above it; the platform
// under it seals) does not reach.
int unreachedEmpty(const Stack &stack, int box)
{
    const int layers = int(stack.size());
    std::vector<uint8_t> seen(size_t(box * box * layers), 0);
    std::vector<int> open;
    const auto visit = [&](int x, int y, int k) {
        const int i = (k * box + y) * box + x;
        if (!seen[size_t(i)] && stack[size_t(k)][size_t(y * box + x)] == 0) {
            seen[size_t(i)] = 1;
            open.push_back(i);
        }
    };
    for (int k = 0; k < layers; ++k)
        for (int e = 0; e < box; ++e)
            visit(e, 0, k), visit(0, e, k), visit(e, box - 1, k), visit(box - 1, e, k);
    for (int i = 0; i < box * box; ++i)
        visit(i % box, i / box, layers - 1);
    while (!open.empty()) {
        const int i = open.back();
        open.pop_back();
        const int x = i % box, y = (i / box) % box, k = i / (box * box);
        for (const auto &step :
            {std::array<int, 3> {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}})
            if (x + step[0] >= 0 && x + step[0] < box && y + step[1] >= 0 && y + step[1] < box && k + step[2] >= 0
                && k + step[2] < layers)
                visit(x + step[0], y + step[1], k + step[2]);
    }
    int unreached = 0;
    for (int k = 0; k < layers; ++k)
        for (int i = 0; i < box * box; ++i)
            unreached += stack[size_t(k)][size_t(i)] == 0 && !seen[size_t(k * box * box + i)];
    return unreached;
}

// Slices a scene into a job file and reads the job back.
bool sliceInto(GenSlices &slicer, const TestMesh &scene, const GenSlices::Settings &settings, CrushedPrintJob *job)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("job.ssj")));
    return slicer.saveSlices(scene.triangles(), file.fileName(), settings) && job->loadCPJ(&file);
}

} // namespace

class TestHollowing : public QObject
{
    Q_OBJECT
private slots:
    void cube_wallsRoofAndFloorAreTheWallThick_data()
    {
        QTest::addColumn<double>("wall");
        QTest::addColumn<double>("layer");
        for (const double wall : {1.0, 2.5})
            for (const double layer : {0.05, 0.1})
                QTest::addRow("wall %.1f, layers %.2f", wall, layer) << wall << layer;
    }

    void cube_wallsRoofAndFloorAreTheWallThick()
    {
        QFETCH(double, wall);
        QFETCH(double, layer);
        // A 10 mm cube in a 10.4 mm box: two empty pixels around it.
        const int box = 104;
        const int layers = int(std::lround(10.0 / layer));
        LayerHollower::Settings settings;
        settings.wallPixels = wall / kPixel;
        settings.layerPixels = layer / kPixel;
        int cavities = 0;
        const Stack stack = hollow(
            settings, box, layers, [](int x, int y, int) { return x >= 2 && x < 102 && y >= 2 && y < 102; }, &cavities);
        QCOMPARE(int(stack.size()), layers);
        QCOMPARE(cavities, 1);
        const int centre = 52 * box + 52;
        int side = 0;
        while (stack[size_t(layers / 2)][size_t(52 * box + 2 + side)] == 255)
            ++side;
        int floor = 0;
        while (stack[size_t(floor)][size_t(centre)] == 255)
            ++floor;
        int roof = 0;
        while (stack[size_t(layers - 1 - roof)][size_t(centre)] == 255)
            ++roof;
        const double halfPixel = kPixel / 2 + 1e-9;
        QVERIFY2(std::abs(side * kPixel - wall) <= halfPixel, qPrintable(QString::number(side)));
        QVERIFY2(std::abs(floor * layer - wall) <= halfPixel, qPrintable(QString::number(floor)));
        QVERIFY2(std::abs(roof * layer - wall) <= halfPixel, qPrintable(QString::number(roof)));
    }

    void autoDrainHole_opensTheCavityToTheVat_data()
    {
        QTest::addColumn<bool>("sphere");
        QTest::addColumn<int>("lift"); // layers under the model
        QTest::addColumn<bool>("up");
        QTest::newRow("sphere off the platform: down through its floor") << true << 5 << false;
        // Its foot, a disc smaller than the hole, would go with a hole down.
        QTest::newRow("sphere on the platform: up through its roof") << true << 0 << true;
        QTest::newRow("cube on the platform: up through its roof") << false << 0 << true;
    }

    void autoDrainHole_opensTheCavityToTheVat()
    {
        QFETCH(bool, sphere);
        QFETCH(int, lift);
        QFETCH(bool, up);
        const int box = 110;
        const int layers = 100 + lift; // 10 mm of 0.1 mm layers
        const Solid solid = [&](int x, int y, int k) {
            const double dx = x - 54.5, dy = y - 54.5, dz = k - lift + 0.5 - 50;
            if (k < lift)
                return false;
            return sphere ? dx * dx + dy * dy + dz * dz <= 50.0 * 50.0 : std::max(std::abs(dx), std::abs(dy)) < 50;
        };
        LayerHollower::Settings settings;
        settings.wallPixels = 15;
        settings.layerPixels = 1.0;
        settings.holeRadiusPixels = 10;
        QVERIFY(unreachedEmpty(hollow(settings, box, layers, solid), box) > 10000);
        settings.autoHoles = true;
        std::vector<LayerHollower::Hole> holes;
        const Stack stack = hollow(settings, box, layers, solid, nullptr, &holes);
        QCOMPARE(unreachedEmpty(stack, box), 0);
        QCOMPARE(int(holes.size()), 1);
        QCOMPARE(holes[0].throughRoof, up);
        if (lift == 0) // the foot stays
            QVERIFY(std::any_of(stack[0].begin(), stack[0].end(), [](uint8_t p) { return p != 0; }));
    }

    void autoDrainHoles_onePerCavityWorthDraining_data()
    {
        QTest::addColumn<int>("shape"); // 0: a slab on a groove; 1: a small cube
        QTest::addColumn<double>("smallest");
        QTest::addColumn<int>("holes");
        QTest::addColumn<int>("trapped");
        // The groove splits the cavity's bottom into two lobes that join a few layers up.
        QTest::newRow("two lobes of one cavity: one hole") << 0 << 0.0 << 1 << 0;
        // Walls of 10 leave a 4 x 4 x 4 pocket in a 24-pixel cube.
        QTest::newRow("a pocket under the smallest drained: no hole") << 1 << 100.0 << 0 << 64;
        QTest::newRow("a pocket over it: a hole") << 1 << 50.0 << 1 << 0;
    }

    void autoDrainHoles_onePerCavityWorthDraining()
    {
        QFETCH(int, shape);
        QFETCH(double, smallest);
        QFETCH(int, holes);
        QFETCH(int, trapped);
        const int box = shape == 0 ? 110 : 40;
        const int layers = shape == 0 ? 60 : 30;
        const Solid solid = [&](int x, int y, int k) {
            if (shape == 1)
                return x >= 8 && x < 32 && y >= 8 && y < 32 && k >= 3 && k < 27;
            const bool groove = k < 8 && std::abs(x + 0.5 - 55) < (8 - k) * 1.5;
            return x >= 5 && x < 105 && y >= 5 && y < 105 && !groove;
        };
        LayerHollower::Settings settings;
        settings.wallPixels = 10;
        settings.layerPixels = 1.0;
        settings.holeRadiusPixels = 3;
        settings.autoHoles = true;
        settings.smallestDrainedVolume = smallest;
        std::vector<LayerHollower::Hole> cut;
        QCOMPARE(unreachedEmpty(hollow(settings, box, layers, solid, nullptr, &cut), box), trapped);
        QCOMPARE(int(cut.size()), holes);
    }

    void scene_modelsHollowedSupportsNot_autoHoleLeavesNoTrapNorIsland_data()
    {
        QTest::addColumn<float>("post"); // the post's near corner; 3 mm square
        QTest::addColumn<int>("hollowCentre"); // a pixel of the cube's cavity, away from the hole
        QTest::newRow("post aside the cavity's lowest point") << 1.0f << 640;
        // A hole there would take the post's tip, and the floor round the hole would hang.
        QTest::newRow("post under the cavity's lowest point") << -1.5f << 610;
    }

    void scene_modelsHollowedSupportsNot_autoHoleLeavesNoTrapNorIsland()
    {
        QFETCH(float, post);
        QFETCH(int, hollowCentre);
        // A 10 mm cube on a 3 mm post that is a support: hollowed it would lose its core.
        TestMesh scene;
        scene.box(QVector3D(-5, -5, 4), QVector3D(5, 5, 14));
        GenSlices::Settings settings;
        settings.firstSupportTriangle = scene.triangles().size();
        scene.box(QVector3D(post, post, 0), QVector3D(post + 3, post + 3, 4));
        settings.layerThickness = 0.1;
        settings.hollowing.wall = 1.0;
        settings.hollowing.autoDrainHoles = true;
        GenSlices slicer;
        CrushedPrintJob job;
        QVERIFY(sliceInto(slicer, scene, settings, &job));
        QCOMPARE(slicer.hollowReport().cavities, 1);
        QCOMPARE(int(slicer.hollowReport().holes.size()), 1);
        QCOMPARE(TrapCheck::countLarger(TrapCheck::find(job, 0.1)), 0);
        for (const IslandCheck::Island &island : IslandCheck::find(job))
            QVERIFY2(island.pixels <= IslandCheck::kMinimumIslandPixels, qPrintable(QString::number(island.layer)));
        const auto lit = [&](int layer, int x, int y) {
            QImage image;
            job.getCBMSlice(layer)->inflateSlice(&image, 0, 0, true);
            return qRed(image.pixel(x, y)) == 255;
        };
        const int postCore = int(640 + (post + 1.5f) * 10);
        QVERIFY(lit(20, postCore, 400 - (postCore - 640)));
        QVERIFY(lit(39, postCore, 400 - (postCore - 640))); // its tip, under the cube
        QVERIFY(!lit(90, hollowCentre, 400));
        QVERIFY(lit(90, 595, 400)); // the cube's wall
    }

    void roofHangingToAPoint_pillarFromTheFloorHoldsIt_data()
    {
        QTest::addColumn<bool>("antialias");
        QTest::newRow("bit maps") << false;
        QTest::newRow("grey") << true;
    }

    void roofHangingToAPoint_pillarFromTheFloorHoldsIt()
    {
        QFETCH(bool, antialias);
        // A 10 mm cylinder with a cone 5 mm deep in its top: hollowed with 1 mm walls, the
        // roof comes down round the cone to a point at about 4 mm, with cavity all round.
        TestMesh scene;
        scene.revolve({{0, 0}, {5, 0}, {5, 10}, {3, 10}, {0, 5}});
        GenSlices::Settings settings;
        settings.layerThickness = 0.1;
        settings.antialias = antialias;
        settings.hollowing.wall = 1.0;
        GenSlices slicer;
        CrushedPrintJob job;
        QVERIFY(sliceInto(slicer, scene, settings, &job));
        QCOMPARE(slicer.hollowReport().pillars, 1);
        // Not even the speck at the point's tip (4 pixels) is left an island.
        QCOMPARE(int(IslandCheck::find(job).size()), 0);
        // Mid cavity: the pillar on the axis, nothing a few pixels aside.
        const IslandCheck::Mask mid = IslandCheck::layerMask(job, 25);
        const auto lit = [&](int x, int y) { return mid.lit[size_t(y * mid.width + x)] != 0; };
        QVERIFY(lit(640, 400));
        QVERIFY(!lit(652, 400));
    }
};

QTEST_GUILESS_MAIN(TestHollowing)
#include "tst_hollowing.moc"
