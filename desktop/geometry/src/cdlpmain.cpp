#include "cdlpmain.h"

#include "ccutstl.h"
#include "cpixels.h"
#include "csupportsurfel.h"
#include "csupporttree.h"
#include "csurfel.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QPointF>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kMillimetresPerInch = 25.4;
// Every model starts at least this high above the platform (inches).
constexpr double kLowestModelPoint = 0.19;
constexpr double kLiftThreshold = 0.18999;
// A lifted model's lowest point lies on this grid of heights (millimetres), a whole number
// of layers of every layer thickness (20, 50 and 100 microns): its layers are then cut at
// the same heights within the model as without supports.
constexpr double kLiftGridMm = 0.1;

// The lowest point of a lifted model, inches: at least `minimum`, rounded up to the grid.
double liftedLowest(double minimum)
{
    const double steps = std::ceil(minimum * kMillimetresPerInch / kLiftGridMm - 1e-6);
    return steps * kLiftGridMm / kMillimetresPerInch;
}

// The raft: its thickness and how far it reaches beyond what stands on it (inches).
constexpr double kRaftThickness = 0.03;
constexpr double kRaftMargin = 0.04;

double lap(QElapsedTimer &clock)
{
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    return ms;
}

// The convex hull of points, counter-clockwise (Andrew's monotone chain).
std::vector<QPointF> convexHull(std::vector<QPointF> points)
{
    std::sort(points.begin(), points.end(), [](const QPointF &a, const QPointF &b) {
        return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
    });
    if (points.size() < 3)
        return points;
    const auto cross = [](const QPointF &o, const QPointF &a, const QPointF &b) {
        return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
    };
    std::vector<QPointF> hull(2 * points.size());
    size_t k = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0)
            --k;
        hull[k++] = points[i];
    }
    for (size_t i = points.size() - 1, lower = k + 1; i > 0; --i) {
        while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i - 1]) <= 0)
            --k;
        hull[k++] = points[i - 1];
    }
    hull.resize(k - 1);
    return hull;
}

// A closed, outward-facing prism over a convex counter-clockwise outline.
std::vector<MeshTriangle> prism(const std::vector<QPointF> &outline, double bottom, double top)
{
    std::vector<MeshTriangle> mesh;
    if (outline.size() < 3)
        return mesh;
    const auto at = [&](size_t i, double z) {
        return QVector3D(float(outline[i].x()), float(outline[i].y()), float(z));
    };
    const auto add = [&](const QVector3D &a, const QVector3D &b, const QVector3D &c) {
        mesh.push_back({MeshImporter::facetNormal(a, b, c), a, b, c});
    };
    for (size_t i = 0; i < outline.size(); ++i) {
        const size_t j = (i + 1) % outline.size();
        add(at(i, bottom), at(j, bottom), at(j, top));
        add(at(i, bottom), at(j, top), at(i, top));
        if (i >= 1 && j != 0) {
            add(at(0, top), at(i, top), at(j, top));
            add(at(0, bottom), at(j, bottom), at(i, bottom));
        }
    }
    return mesh;
}

} // namespace

CDLPMain::CDLPMain() = default;

void CDLPMain::setPlatformOptions(bool noLift, bool raft)
{
    m_noLift = noLift;
    m_raft = raft;
}

double CDLPMain::raftThickness() const
{
    return m_raft ? kRaftThickness : 0.0;
}

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
    // Lifted clear of the floor (platform or raft), or standing on it.
    const double floor = raftThickness();
    m_liftHeight = m_noLift ? cutSTL.liftTo(floor, std::numeric_limits<double>::max())
                            : cutSTL.liftTo(liftedLowest(kLowestModelPoint + floor), kLiftThreshold + floor);
    m_lifted = m_liftHeight > 0.0;
    m_model = cutSTL.toMeshTriangles();
    m_obstacles = std::make_shared<CSupportObstacles>(cutSTL.triangles(), m_parameters.samplingSpacing());
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
    settings.floorHolds = m_noLift;
    settings.floorZ = floor;
    CSupportSurfelConstructor constructor(cutSTL.triangles(), surfels, settings);
    m_timings.depthImagesMs = lap(clock);
    report(24);
    const CSupportSurfels placed = constructor.construct(progress);
    m_timings.sweepMs = lap(clock);
    report(85);

    for (const CSupportSurfel &support : placed)
        m_supports.push_back({support.point.toVector(), {}, support.baseZ});
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
    const double baseZ = m_obstacles->standBelow(x, y, z);
    m_supports.push_back({QVector3D(float(x), float(y), float(z)), {}, baseZ});
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
    shape.baseRadius = 0.015;
    shape.baseHeight = 0.02;
    shape.tipLength = m_parameters.value(53);
    shape.penetration = m_parameters.value(23);
    shape.floorZ = raftThickness();
    // Tips within one and a half cover radii of one another may share a trunk.
    shape.treeReach = 1.5 * m_parameters.value(10);
    return shape;
}

// Every support's mesh, from its point and what it stands on: trees where tips can share
// a trunk, columns elsewhere.
void CDLPMain::buildStructures()
{
    std::vector<CSupportTreeBuilder::Tip> tips;
    tips.reserve(m_supports.size());
    for (const Support &support : m_supports)
        tips.push_back({CVertex(support.point), support.baseZ});
    const CSupportTreeBuilder builder(shape(), m_obstacles.get());
    std::vector<std::vector<MeshTriangle>> meshes = builder.build(tips);
    const float f = float(m_outputScale);
    for (size_t i = 0; i < m_supports.size(); ++i) {
        m_supports[i].triangles = std::move(meshes[i]);
        if (f != 1.0f) {
            for (MeshTriangle &t : m_supports[i].triangles) {
                t.a *= f;
                t.b *= f;
                t.c *= f;
            }
        }
    }
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
    buildStructures();
    m_output.clear();
    for (const Support &support : m_supports)
        m_output.insert(m_output.end(), support.triangles.begin(), support.triangles.end());
    if (m_raft) {
        const std::vector<MeshTriangle> raft = raftMesh();
        m_output.insert(m_output.end(), raft.begin(), raft.end());
    }
}

// The raft: the convex outline of the columns' feet and of the model's base on the floor,
// grown by the margin, as a plate from the platform up to the floor.
std::vector<MeshTriangle> CDLPMain::raftMesh() const
{
    const double floor = raftThickness();
    const CSupportShape sizes = shape();
    std::vector<QPointF> points;
    const auto around = [&](double x, double y, double radius) {
        for (int i = 0; i < 12; ++i) {
            const double angle = M_PI * i / 6.0;
            points.emplace_back(x + radius * std::cos(angle), y + radius * std::sin(angle));
        }
    };
    for (const Support &support : m_supports) {
        // Feet on the floor: a column's own, or a tree's trunk, which stands among the
        // tips it feeds (inside their outline).
        if (support.baseZ <= floor + 1e-6)
            around(support.point.x(), support.point.y(), 2.0 * sizes.bodyRadius + sizes.baseRadius + kRaftMargin);
    }
    for (const MeshTriangle &t : m_model)
        for (const QVector3D *v : {&t.a, &t.b, &t.c})
            if (v->z() <= floor + kRaftMargin)
                around(v->x(), v->y(), kRaftMargin);
    std::vector<MeshTriangle> plate = prism(convexHull(points), 0.0, floor);
    if (m_outputScale != 1.0) {
        const float f = float(m_outputScale);
        for (MeshTriangle &t : plate) {
            t.a *= f;
            t.b *= f;
            t.c *= f;
        }
    }
    return plate;
}
