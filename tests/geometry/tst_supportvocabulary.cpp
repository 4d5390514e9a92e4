// The support engine's building blocks: surface sampling and the layered depth images that
// the layer sweep reads the model's material from. (The transforms and the model copy show
// in the model the engine sees, checked with the platform model.)
#include "cgeometry.h"
#include "cpixels.h"
#include "csurfel.h"
#include "testmeshes.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

// An outward box as engine triangles.
std::vector<CTriangle> box(double x0, double y0, double z0, double x1, double y1, double z1)
{
    TestMesh mesh;
    mesh.box(QVector3D(float(x0), float(y0), float(z0)), QVector3D(float(x1), float(y1), float(z1)));
    std::vector<CTriangle> out;
    for (const MeshTriangle *m : mesh.triangles()) {
        CTriangle t;
        t.v[0] = CVertex(m->a);
        t.v[1] = CVertex(m->b);
        t.v[2] = CVertex(m->c);
        t.normal = t.windingNormal();
        out.push_back(t);
    }
    return out;
}

} // namespace

class TestSupportVocabulary : public QObject
{
    Q_OBJECT

private slots:
    void sampler_coversEveryTriangleAndTypesItsSamples()
    {
        const double s = 0.01;
        CTriangle t;
        t.v[0] = {0, 0, 1};
        t.v[1] = {0.3, 0.05, 1.02};
        t.v[2] = {0.1, 0.2, 0.97};
        t.normal = t.windingNormal();
        CSurfels surfels;
        const CTriangleSampler sampler(s);
        const CLineSegmentSampler edges(s);
        sampler.sample(t, surfels);
        for (int e = 0; e < 3; ++e)
            edges.sample(t.v[e], t.v[(e + 1) % 3], t.normal, CSurfel::typeOf(t.normal), surfels);
        // About one sample per s x s of area, not many more.
        const double expected = t.area() / (s * s);
        QVERIFY(double(surfels.size()) > 0.8 * expected);
        QVERIFY(double(surfels.size()) < 1.6 * expected + 200);
        // Every point of the triangle lies within s of a sample.
        QRandomGenerator random(7);
        for (int i = 0; i < 500; ++i) {
            double a = random.generateDouble();
            double b = random.generateDouble();
            if (a + b > 1) {
                a = 1 - a;
                b = 1 - b;
            }
            const CVertex p = t.v[0] + (t.v[1] - t.v[0]) * a + (t.v[2] - t.v[0]) * b;
            double nearest = 1e9;
            for (size_t k = 0; k < surfels.size(); ++k) {
                const CVertex q(surfels[k].position[0], surfels[k].position[1], surfels[k].position[2]);
                nearest = std::min(nearest, (p - q).length());
            }
            QVERIFY2(nearest <= s, qPrintable(QString::number(nearest)));
        }
        for (size_t k = 0; k < surfels.size(); ++k)
            QCOMPARE(surfels[k].type, CSurfel::kUpFacing);
        // A triangle smaller than a sample still leaves one, typed by where it faces.
        CTriangle tiny;
        tiny.v[0] = {0, 0, 0};
        tiny.v[1] = {0, 0.001, 0};
        tiny.v[2] = {0.001, 0, 0};
        tiny.normal = tiny.windingNormal();
        CSurfels one;
        QCOMPARE(sampler.sample(tiny, one), 1);
        QCOMPARE(one[0].type, CSurfel::kDownFacing);
        QCOMPARE(CSurfel::typeOf({1, 0, 0}), CSurfel::kVertical);
    }

    void depthImages_materialAndStandingPlacesOfStackedBoxes()
    {
        // A block on the platform and a plate hanging above it, overlapping in x.
        std::vector<CTriangle> model = box(0, 0, 0.2, 0.5, 0.5, 0.4);
        const auto plate = box(0.25, 0, 0.6, 1.0, 0.5, 0.7);
        model.insert(model.end(), plate.begin(), plate.end());
        CGridFrame frame;
        frame.cell = 0.01;
        frame.originX = -0.02 + 0.0001234;
        frame.originY = -0.02 + 0.0000987;
        frame.width = 106;
        frame.height = 54;
        CLDNIPixels images;
        images.build(model, frame);
        QCOMPARE(images.maxDepth(), 4);
        const auto column = [&](double x) { return frame.columnOf(x); };
        const int row = frame.rowOf(0.25);
        // Under both: in, out, in, out, lowest first.
        const int both = column(0.4);
        QCOMPARE(images.count(both, row), 4);
        const float heights[4] = {0.2f, 0.4f, 0.6f, 0.7f};
        const int directions[4] = {1, -1, 1, -1};
        for (int i = 0; i < 4; ++i) {
            QVERIFY(std::abs(images.crossing(both, row, i).z - heights[i]) < 1e-6f);
            QCOMPARE(int(images.crossing(both, row, i).direction), directions[i]);
        }
        QCOMPARE(images.count(column(0.1), row), 2);
        QCOMPARE(images.count(column(0.8), row), 2);
        QCOMPARE(images.count(column(1.03), row), 0);
        // A support added by hand under the plate stands on the block, not on the platform.
        QVERIFY(std::abs(CLDNIPixels::standBelow(model, 0.4, 0.25, 0.6) - 0.4) < 1e-6);
    }
};

QTEST_GUILESS_MAIN(TestSupportVocabulary)
#include "tst_supportvocabulary.moc"
