#include "cdlpmain.h"

#include "supportsweep.h"

#include <QDebug>

#include <algorithm>
#include <limits>

namespace {

constexpr double kMillimetresPerInch = 25.4;
// Every model starts at least this high above the platform (inches).
constexpr double kLowestModelPoint = 0.19;
constexpr double kLiftThreshold = 0.18999;

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
    m_parameters.setPlain(0, pixelSize / kMillimetresPerInch);
    m_parameters.setPlain(1, spacing / (2.0 * kMillimetresPerInch));
    m_parameters.applyLevels(densityLevel, strengthLevel);
    for (int i = 0; i < 3; ++i) {
        m_parameters.scale[i] = scale[i];
        m_parameters.rotation[i] = rotation[i];
        m_parameters.translation[i] = translation[i];
    }

    // The engine's copy of the model.
    m_model.clear();
    m_supports.clear();
    m_output.clear();
    m_lifted = false;
    m_liftHeight = 0.0;
    const float factor = inputInMillimetres ? float(1.0 / kMillimetresPerInch) : 1.0f;
    double lowest = std::numeric_limits<double>::max();
    for (const MeshTriangle *t : triangles) {
        if (!t)
            continue;
        MeshTriangle copy = *t;
        copy.a *= factor;
        copy.b *= factor;
        copy.c *= factor;
        lowest = std::min({lowest, double(copy.a.z()), double(copy.b.z()), double(copy.c.z())});
        m_model.push_back(copy);
    }
    if (!m_model.empty() && lowest < kLiftThreshold) {
        const float lift = float(kLowestModelPoint - lowest);
        for (MeshTriangle &t : m_model) {
            t.a.setZ(t.a.z() + lift);
            t.b.setZ(t.b.z() + lift);
            t.c.setZ(t.c.z() + lift);
        }
        m_lifted = true;
        m_liftHeight = kLowestModelPoint - lowest;
    }
    report(12);
    report(24);
    for (const SupportSweep::Placement &placement : SupportSweep::place(m_model, sweepSettings(), progress))
        m_supports.push_back({placement.point, SupportSweep::column(placement, shape())});
    report(85);
    report(97);
    rebuildOutput();
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
    SupportSweep::Placement placement;
    placement.point = QVector3D(float(x), float(y), float(z));
    placement.baseZ = SupportSweep::baseUnder(m_model, x, y, z - shape().tipLength);
    m_supports.push_back({placement.point, SupportSweep::column(placement, shape())});
    rebuildOutput();
    return true;
}

SupportSweep::Shape CDLPMain::shape() const
{
    // Strength-driven sizes: the tip and the body; the base spreads the load on the
    // platform.
    SupportSweep::Shape shape;
    shape.tipRadius = m_parameters.value(29);
    shape.bodyRadius = m_parameters.value(25);
    shape.baseRadius = 2.5 * shape.bodyRadius;
    shape.baseHeight = m_parameters.value(22);
    shape.tipLength = m_parameters.value(53);
    shape.penetration = m_parameters.value(23);
    return shape;
}

SupportSweep::Settings CDLPMain::sweepSettings() const
{
    SupportSweep::Settings settings;
    settings.cell = m_parameters.samplingSpacing();
    // Cells of a length: the integer part of length / cell + 0.5.
    settings.coverRadiusCells = static_cast<int>(m_parameters.value(10) / settings.cell + 0.5);
    settings.minimumIsland = m_parameters.minimumIslandPixels();
    settings.shape = shape();
    return settings;
}

bool CDLPMain::deleteSupport(double x, double y, double z, double tolerance)
{
    if (!m_generated)
        return false;
    const auto near = [&](const Support &s) {
        const double dx = s.point.x() - x;
        const double dy = s.point.y() - y;
        const double dz = s.point.z() - z;
        return dx * dx + dy * dy + dz * dz <= tolerance * tolerance;
    };
    const auto found = std::find_if(m_supports.begin(), m_supports.end(), near);
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
