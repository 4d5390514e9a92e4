#include "cdlpmain.h"

#include "ccutstl.h"
#include "cpixels.h"
#include "csupportsurfel.h"
#include "csurfel.h"

#include <QDebug>
#include <QElapsedTimer>

#include <algorithm>

namespace {

constexpr double kMillimetresPerInch = 25.4;
// Every model starts at least this high above the platform (inches).
constexpr double kLowestModelPoint = 0.19;
constexpr double kLiftThreshold = 0.18999;

double lap(QElapsedTimer &clock)
{
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    return ms;
}

} // namespace

CDLPMain::CDLPMain() = default;

bool CDLPMain::generate(const QList<MeshTriangle *> &triangles, const QVector3D &scale, const QVector3D &rotation,
    const QVector3D &translation, double pixelSize, double spacing, int densityLevel, int strengthLevel,
    bool inputInMillimetres, const ProgressFunction &progress)
{
    const auto report = [&](int percent) {
        if (progress)
            progress(percent);
    };
    QElapsedTimer clock;
    clock.start();
    m_timings = Timings();
    m_parameters.setPlain(0, pixelSize / kMillimetresPerInch);
    m_parameters.setPlain(1, spacing / (2.0 * kMillimetresPerInch));
    m_parameters.applyLevels(densityLevel, strengthLevel);
    for (int i = 0; i < 3; ++i) {
        m_parameters.scale[i] = scale[i];
        m_parameters.rotation[i] = rotation[i];
        m_parameters.translation[i] = translation[i];
    }
    m_supports.clear();
    m_output.clear();
    m_outputScale = inputInMillimetres ? kMillimetresPerInch : 1.0;

    // The engine's copy of the model, raised clear of the platform.
    CCutSTL cutSTL;
    cutSTL.setTransform(m_parameters.scale, m_parameters.rotation, m_parameters.translation);
    cutSTL.read(triangles, inputInMillimetres);
    m_liftHeight = cutSTL.liftTo(kLowestModelPoint, kLiftThreshold);
    m_lifted = m_liftHeight > 0.0;
    m_model = cutSTL.toMeshTriangles();
    m_timings.modelMs = lap(clock);

    // Oriented samples of the surface.
    const double s = m_parameters.samplingSpacing();
    CSurfels surfels;
    qDebug().noquote() << "Max number of CSurfel: " + QString::number(qulonglong(CSurfels::kMaxSurfels));
    const CTriangleSampler triangleSampler(s);
    const CLineSegmentSampler edgeSampler(s);
    for (const CTriangle &t : cutSTL.triangles()) {
        triangleSampler.sample(t, surfels);
        const quint8 type = CSurfel::typeOf(t.normal);
        for (int e = 0; e < 3; ++e)
            edgeSampler.sample(t.v[e], t.v[(e + 1) % 3], t.normal, type, surfels);
    }
    m_timings.surfels = surfels.size();
    m_timings.samplingMs = lap(clock);
    report(12);

    // The construction: grids of the sampling spacing over the model's footprint.
    CSupportSurfelConstructor::Settings settings;
    settings.cell = s;
    // Cells of a length: the integer part of length / cell + 0.5.
    settings.coverRadiusCells = static_cast<int>(m_parameters.value(10) / s + 0.5);
    settings.minimumIsland = m_parameters.minimumIslandPixels();
    settings.topLimit = m_parameters.value(67);
    CSupportSurfelConstructor constructor(cutSTL.triangles(), surfels, settings);
    m_timings.depthImagesMs = lap(clock);
    report(24);
    const CSupportSurfels placed = constructor.construct(progress);
    m_timings.sweepMs = lap(clock);
    report(85);

    for (const CSupportSurfel &support : placed) {
        const QVector3D point = support.point.toVector();
        m_supports.push_back({point, columnFor(point, support.baseZ)});
    }
    report(97);
    rebuildOutput();
    m_timings.columnsMs = lap(clock);
    m_timings.supports = m_supports.size();
    m_generated = true;
    report(99);
    return true;
}

bool CDLPMain::addSupport(double x, double y, double z, double tolerance)
{
    if (!m_generated)
        return false;
    // A support already holding that point is not doubled.
    for (const Support &s : m_supports) {
        const double dx = s.point.x() - x;
        const double dy = s.point.y() - y;
        const double dz = s.point.z() - z;
        if (dx * dx + dy * dy + dz * dz <= tolerance * tolerance * 0.01)
            return false;
    }
    std::vector<CTriangle> model;
    model.reserve(m_model.size());
    for (const MeshTriangle &t : m_model) {
        CTriangle c;
        c.v[0] = CVertex(t.a);
        c.v[1] = CVertex(t.b);
        c.v[2] = CVertex(t.c);
        c.normal = CVertex(t.normal);
        model.push_back(c);
    }
    const double baseZ = CLDNIPixels::standBelow(model, x, y, z);
    const QVector3D point {float(x), float(y), float(z)};
    m_supports.push_back({point, columnFor(point, baseZ)});
    rebuildOutput();
    return true;
}

CSupportShape CDLPMain::shape() const
{
    // Strength-driven sizes. The contact tip is small (about 0.5 mm across at level 50)
    // so that it leaves a small mark; the body is thin where the column is short and
    // thickens with its length; the foot spreads the load on the platform.
    CSupportShape shape;
    shape.tipRadius = 0.5 * m_parameters.value(29) + 0.002;
    shape.bodyRadius = std::max(0.4 * m_parameters.value(25), 1.25 * shape.tipRadius);
    shape.bodyGrowth = 0.004;
    shape.baseRadius = 0.025;
    shape.baseHeight = 0.03;
    shape.tipLength = m_parameters.value(53);
    shape.penetration = m_parameters.value(23);
    return shape;
}

std::vector<MeshTriangle> CDLPMain::columnFor(const QVector3D &point, double baseZ) const
{
    CSupportSurfel support;
    support.point = CVertex(point);
    support.baseZ = baseZ;
    std::vector<MeshTriangle> mesh = supportColumn(support, shape());
    if (m_outputScale != 1.0) {
        const float f = float(m_outputScale);
        for (MeshTriangle &t : mesh) {
            t.a *= f;
            t.b *= f;
            t.c *= f;
        }
    }
    return mesh;
}

bool CDLPMain::deleteSupport(double x, double y, double z, double tolerance)
{
    if (!m_generated)
        return false;
    // The nearest support within the tolerance: supports may stand closer together than
    // the tolerance, and the one meant is the one the point names.
    const auto distance2 = [&](const Support &s) {
        const double dx = s.point.x() - x;
        const double dy = s.point.y() - y;
        const double dz = s.point.z() - z;
        return dx * dx + dy * dy + dz * dz;
    };
    auto found = m_supports.end();
    for (auto it = m_supports.begin(); it != m_supports.end(); ++it) {
        if (distance2(*it) <= tolerance * tolerance && (found == m_supports.end() || distance2(*it) < distance2(*found)))
            found = it;
    }
    if (found == m_supports.end()) {
        qDebug() << "CDLPMain::deleteSupport. Delete AnchorSupport failed";
        return false;
    }
    m_supports.erase(found);
    rebuildOutput();
    return true;
}

void CDLPMain::rebuildOutput()
{
    m_output.clear();
    for (const Support &support : m_supports)
        m_output.insert(m_output.end(), support.triangles.begin(), support.triangles.end());
}
