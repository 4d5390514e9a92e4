// Supports that hold: models with overhangs get columns from the platform (or from the
// model's own surface) to their undersides, every column is a closed outward mesh, and
// the sliced model with its supports has no island larger than the minimum.
#include "cdlpmain.h"
#include "genslices.h"
#include "islandcheck.h"

#include <QTest>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr double kInch = 25.4;

// Owns a triangle soup (engine frame: inches, z up).
struct Soup {
    std::vector<std::unique_ptr<MeshTriangle>> owned;

    QList<MeshTriangle *> list() const
    {
        QList<MeshTriangle *> out;
        for (const auto &t : owned)
            out << t.get();
        return out;
    }

    // An outward-facing box, given in millimetres.
    void box(double x0, double y0, double z0, double x1, double y1, double z1)
    {
        const auto v = [&](int i) {
            return QVector3D(
                float((i & 1 ? x1 : x0) / kInch), float((i & 2 ? y1 : y0) / kInch), float((i & 4 ? z1 : z0) / kInch));
        };
        const int faces[12][3] = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4}, {1, 3, 7},
            {1, 7, 5}, {3, 2, 6}, {3, 6, 7}, {2, 0, 4}, {2, 4, 6}};
        for (const auto &f : faces) {
            auto t = std::make_unique<MeshTriangle>();
            t->a = v(f[0]);
            t->b = v(f[1]);
            t->c = v(f[2]);
            t->normal = MeshImporter::facetNormal(t->a, t->b, t->c);
            owned.push_back(std::move(t));
        }
    }
};

// A closed solid of revolution about z from (radius, height) points in millimetres,
// bottom to top, radius 0 at both ends; centred on the origin as the editor hands it over.
void revolve(Soup &soup, const std::vector<std::pair<double, double>> &profile, double centreZ, double offsetX = 0.0)
{
    constexpr int kSegments = 48;
    const auto point = [&](double r, double z, int s) {
        const double a = 2.0 * M_PI * s / kSegments;
        return QVector3D(
            float((offsetX + r * std::cos(a)) / kInch), float(r * std::sin(a) / kInch), float((z - centreZ) / kInch));
    };
    const auto add = [&](const QVector3D &a, const QVector3D &b, const QVector3D &c) {
        auto t = std::make_unique<MeshTriangle>();
        t->a = a;
        t->b = b;
        t->c = c;
        t->normal = MeshImporter::facetNormal(a, b, c);
        soup.owned.push_back(std::move(t));
    };
    for (size_t i = 0; i + 1 < profile.size(); ++i) {
        const auto [r0, z0] = profile[i];
        const auto [r1, z1] = profile[i + 1];
        for (int s = 0; s < kSegments; ++s) {
            if (r0 > 0)
                add(point(r0, z0, s), point(r0, z0, s + 1), point(r1, z1, r1 > 0 ? s + 1 : s));
            if (r1 > 0)
                add(point(r0, z0, s), point(r1, z1, s + 1), point(r1, z1, s));
        }
    }
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
};

// Slices the lifted model and its supports at 100 microns and looks for islands.
Result sliceAndCheck(const CDLPMain &engine)
{
    std::vector<MeshTriangle> all = engine.model();
    all.insert(all.end(), engine.supportMesh().begin(), engine.supportMesh().end());
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
        }
        below = std::move(mask);
    }
    return result;
}

int largeIslands(const Result &result)
{
    int count = 0;
    for (const IslandCheck::Island &island : result.islands)
        count += island.pixels > IslandCheck::kMinimumIslandPixels ? 1 : 0;
    return count;
}

bool generate(CDLPMain &engine, const Soup &soup, int density = 50, int strength = 50)
{
    return engine.generate(
        soup.list(), QVector3D(1, 1, 1), QVector3D(), QVector3D(), 0.1, 0.5, density, strength, false, {});
}

} // namespace

class TestSupports : public QObject
{
    Q_OBJECT

private slots:
    void cube_standsOnColumnsFromThePlatform()
    {
        Soup soup;
        soup.box(-5, -5, -5, 5, 5, 5); // centred, as the editor hands it over
        CDLPMain engine;
        QVERIFY(generate(engine, soup));
        QVERIFY(engine.supports().size() >= 9);
        for (const CDLPMain::Support &support : engine.supports()) {
            QVERIFY(closedAndConsistent(support.triangles));
            QVERIFY(signedVolume(support.triangles) > 0.0);
            float low = 1e9f;
            float high = -1e9f;
            for (const MeshTriangle &t : support.triangles) {
                low = std::min({low, t.a.z(), t.b.z(), t.c.z()});
                high = std::max({high, t.a.z(), t.b.z(), t.c.z()});
            }
            QCOMPARE(low, 0.0f); // on the platform
            // Up to the cube's underside (lifted to 0.19 in), reaching slightly into it.
            QVERIFY(high > 0.19f && high < 0.19f + 0.02f);
        }
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
        Soup soup;
        soup.box(-3, -3, -8, 3, 3, 4);
        soup.box(-13, -3, 4, 13, 3, 8);
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
    }

    void overhangAboveTheModel_standsOnTheModel()
    {
        // A low block and, above it with a gap, a floating plate: the plate's supports
        // start on the block, not inside it.
        Soup soup;
        soup.box(-6, -6, -5, 6, 6, -2);
        soup.box(-6, -6, 2, 6, 6, 5);
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
        Soup soup;
        std::vector<std::pair<double, double>> profile;
        if (shape == 0) {
            for (int i = 0; i <= 24; ++i)
                profile.push_back({8.0 * std::sin(M_PI * i / 24), -8.0 * std::cos(M_PI * i / 24) + 8.0});
        } else {
            profile = {{0, 0}, {9, 12}, {0, 12}};
        }
        const double height = profile.back().second;
        revolve(soup, profile, height / 2);
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
        Soup soup;
        soup.box(-9, -6, 0.15, 9, 6, 2.2);
        revolve(soup, {{0, 0}, {5, 0.2}, {0, 0.2}}, 0.0, -2.5);
        revolve(soup, {{0, 0.02}, {5, 0.22}, {0, 0.22}}, 0.0, 2.5);
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
};

QTEST_GUILESS_MAIN(TestSupports)
#include "tst_supports.moc"
