#include "userimportedmeshsupports.h"

#include "meshpicker.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMillimetresPerInch = 25.4;
// How near (inches) the engine looks for a support to add or delete.
constexpr double kPointTolerance = 0.1;
// Passed to the engine: the pixel size and the sampling spacing, millimetres.
constexpr double kPixelSize = 0.1;
constexpr double kSpacing = 0.5;

MeshTriangle engineTriangleToEditor(const MeshTriangle &triangle)
{
    MeshTriangle converted;
    converted.a = UserImportedMeshSupports::fromEngineFrame(triangle.a);
    converted.b = UserImportedMeshSupports::fromEngineFrame(triangle.b);
    converted.c = UserImportedMeshSupports::fromEngineFrame(triangle.c);
    converted.normal = MeshImporter::facetNormal(converted.a, converted.b, converted.c);
    return converted;
}

QList<MeshTriangle *> engineMeshToEditor(const std::vector<MeshTriangle> &triangles)
{
    QList<MeshTriangle *> converted;
    converted.reserve(int(triangles.size()));
    for (const MeshTriangle &triangle : triangles)
        converted.append(new MeshTriangle(engineTriangleToEditor(triangle)));
    return converted;
}

} // namespace

UserImportedMeshSingleAnchorSupports::UserImportedMeshSingleAnchorSupports(
    QList<MeshTriangle *> triangles, const QVector3D &enginePoint, const QQuaternion &modelRotation)
    : MeshRenderer(std::move(triangles))
    , m_enginePoint(enginePoint)
    , m_modelRotation(modelRotation)
{
}

UserImportedMeshSupports::UserImportedMeshSupports() = default;

UserImportedMeshSupports::~UserImportedMeshSupports() = default;

UserImportedMeshSupports::UserImportedMeshSupports(const UserImportedMeshSupports &other)
    : MeshRenderer(other)
    , m_engine(other.m_engine ? std::make_unique<CDLPMain>(*other.m_engine) : nullptr)
    , m_generatedScale(other.m_generatedScale)
    , m_generatedRotation(other.m_generatedRotation)
    , m_liftHeight(other.m_liftHeight)
    , m_noLift(other.m_noLift)
    , m_raft(other.m_raft)
    , m_hasSupports(other.m_hasSupports)
    , m_busy(false)
{
    m_anchors.reserve(other.m_anchors.size());
    for (const auto &anchor : other.m_anchors)
        m_anchors.push_back(std::make_unique<UserImportedMeshSingleAnchorSupports>(*anchor));
}

QVector3D UserImportedMeshSupports::toEngineFrame(const QVector3D &editorPoint)
{
    const QVector3D inches = editorPoint / float(kMillimetresPerInch);
    return QVector3D(inches.x(), -inches.z(), inches.y());
}

QVector3D UserImportedMeshSupports::fromEngineFrame(const QVector3D &enginePoint)
{
    return QVector3D(enginePoint.x(), enginePoint.z(), -enginePoint.y()) * float(kMillimetresPerInch);
}

int UserImportedMeshSupports::densityLevel(double density)
{
    // A density of 0 (or less) asks for the densest supports there are.
    if (!(density > 0.0))
        return 100;
    return int(std::clamp(std::trunc(50.0 / density), 0.0, 100.0));
}

int UserImportedMeshSupports::strengthLevel(double strength)
{
    if (!(strength >= 0.0))
        return 0;
    return int(std::clamp(std::trunc(strength), 0.0, 100.0));
}

void UserImportedMeshSupports::setPlatformOptions(bool noLift, bool raft)
{
    m_noLift = noLift;
    m_raft = raft;
}

bool UserImportedMeshSupports::generate(const QList<MeshTriangle *> &modelTriangles, const QVector3D &scale,
    const QQuaternion &rotation, double density, double strength, const ProgressFunction &progress)
{
    if (m_busy) {
        qDebug() << "ERROR -- UserImportedMeshSupports::generate. Supports are being generated already.";
        return false;
    }
    m_busy = true;

    // The model as it stands (scaled and turned, not moved) in the engine frame.
    QList<MeshTriangle *> engineModel;
    engineModel.reserve(modelTriangles.size());
    for (const MeshTriangle *triangle : modelTriangles) {
        auto *converted = new MeshTriangle;
        converted->a = toEngineFrame(rotation.rotatedVector(triangle->a * scale));
        converted->b = toEngineFrame(rotation.rotatedVector(triangle->b * scale));
        converted->c = toEngineFrame(rotation.rotatedVector(triangle->c * scale));
        converted->normal = MeshImporter::facetNormal(converted->a, converted->b, converted->c);
        engineModel.append(converted);
    }

    auto engine = std::make_unique<CDLPMain>();
    engine->setPlatformOptions(m_noLift, m_raft);
    const bool generated = engine->generate(engineModel, QVector3D(1, 1, 1), QVector3D(0, 0, 0), QVector3D(0, 0, 0),
        kPixelSize, kSpacing, densityLevel(density), strengthLevel(strength), false, progress);
    qDeleteAll(engineModel);
    if (!generated) {
        m_busy = false;
        return false;
    }

    m_engine = std::move(engine);
    m_generatedScale = scale;
    m_generatedRotation = rotation;
    m_liftHeight = m_engine->liftHeight() * kMillimetresPerInch;
    rebuildFromEngine();
    m_hasSupports = true;
    m_busy = false;
    return true;
}

void UserImportedMeshSupports::rebuildFromEngine()
{
    setTriangles(engineMeshToEditor(m_engine->supportMesh()));
    m_anchors.clear();
    for (const CDLPMain::Support &support : m_engine->supports()) {
        auto anchor = std::make_unique<UserImportedMeshSingleAnchorSupports>(
            engineMeshToEditor(support.triangles), support.point, m_generatedRotation);
        anchor->setModelMatrix(modelMatrix());
        m_anchors.push_back(std::move(anchor));
    }
}

bool UserImportedMeshSupports::addSupportAtPoint(const QVector3D &supportFramePoint)
{
    if (!m_hasSupports || !m_engine)
        return false;
    const QVector3D point = toEngineFrame(supportFramePoint);
    const size_t before = m_engine->supports().size();
    const bool accepted = m_engine->addSupport(point.x(), point.y(), point.z(), kPointTolerance);
    if (accepted)
        rebuildFromEngine();
    return m_engine->supports().size() > before;
}

bool UserImportedMeshSupports::editEngine(const std::function<void(CDLPMain &engine)> &edit)
{
    if (!m_hasSupports || !m_engine || m_busy)
        return false;
    edit(*m_engine);
    rebuildFromEngine();
    return true;
}

bool UserImportedMeshSupports::deleteSupportAtAnchor(const UserImportedMeshSingleAnchorSupports &anchor)
{
    if (!m_hasSupports || !m_engine)
        return false;
    // The anchor goes with the rebuild: keep its point.
    const QVector3D point = anchor.enginePoint();
    if (!m_engine->deleteSupport(point.x(), point.y(), point.z(), kPointTolerance))
        return false;
    rebuildFromEngine();
    return true;
}

void UserImportedMeshSupports::removeAll()
{
    m_engine.reset();
    m_anchors.clear();
    setTriangles({});
    m_liftHeight = 0.0;
    m_hasSupports = false;
    m_busy = false;
}

QVector3D UserImportedMeshSupports::dimensions() const
{
    if (triangles().isEmpty())
        return QVector3D();
    return QVector3D(float(geometry().extent(0)), float(geometry().extent(1)), float(geometry().extent(2)));
}

double UserImportedMeshSupports::supportVolume() const
{
    return m_hasSupports ? geometry().volume() : 0.0;
}

const UserImportedMeshSingleAnchorSupports *UserImportedMeshSupports::anchorAt(
    const QVector3D &origin, const QVector3D &direction) const
{
    const UserImportedMeshSingleAnchorSupports *nearest = nullptr;
    float nearestT = 0.0f;
    for (const auto &anchor : m_anchors) {
        const std::optional<float> t = MeshPicker::intersect(anchor->triangles(), origin, direction);
        if (t && (!nearest || *t < nearestT)) {
            nearest = anchor.get();
            nearestT = *t;
        }
    }
    return nearest;
}

void UserImportedMeshSupports::deactivateAllAnchors()
{
    for (const auto &anchor : m_anchors)
        anchor->setHighlighted(false);
}

void UserImportedMeshSupports::setPlacement(const QMatrix4x4 &supportToScene)
{
    setModelMatrix(supportToScene);
    for (const auto &anchor : m_anchors)
        anchor->setModelMatrix(supportToScene);
}
