// The support engine's building blocks that its end-to-end tests do not pin down: surface
// sampling, and where a support added by hand stands. (The transforms and the model copy
// show in the model the engine sees, checked with the platform model.)
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

    void standBelow_aSupportAddedUnderAPlate_standsOnWhatIsBelow()
    {
        // A block on the platform and a plate hanging above it, overlapping in x: under the
        // plate a support stands on the block where the block is, else on the platform; never
        // on the plate's own top above the point. (The depth images that the layer sweep
        // reads show in the supports' own tests.)
        std::vector<CTriangle> model = box(0, 0, 0.2, 0.5, 0.5, 0.4);
        const auto plate = box(0.25, 0, 0.6, 1.0, 0.5, 0.7);
        model.insert(model.end(), plate.begin(), plate.end());
        QVERIFY(std::abs(CLDNIPixels::standBelow(model, 0.4, 0.25, 0.6) - 0.4) < 1e-6);
        QCOMPARE(CLDNIPixels::standBelow(model, 0.8, 0.25, 0.6), 0.0);
        QCOMPARE(CLDNIPixels::standBelow(model, 0.4, 0.25, 0.2), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestSupportVocabulary)
#include "tst_supportvocabulary.moc"
