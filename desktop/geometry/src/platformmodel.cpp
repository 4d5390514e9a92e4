#include "platformmodel.h"

#include "footprintpacker.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// How far from the vertical a turned model's up axis may lean before its supports no
// longer stand under it (cosine).
constexpr float kUprightCosine = 0.9999f;

// Models that find no room on the platform wait on a strip this wide beside it.
constexpr double kBesideDepthFactor = 2.0;
constexpr double kBesideWidth = 10000.0;

// The model's footprint: x and z of its box, supports included.
QRectF footprint(const UserImportedMesh &mesh)
{
    const BoundingBox box = mesh.worldBoundingBox();
    return QRectF(QPointF(box.minX, box.minZ), QPointF(box.maxX, box.maxZ));
}

// Moves the model so that its footprint's back left corner is at `corner`; its height
// is kept.
void moveFootprintTo(UserImportedMesh &mesh, const QPointF &corner)
{
    const QPointF shift = corner - footprint(mesh).topLeft();
    const QVector3D position = mesh.position();
    mesh.setPosition(QVector3D(float(position.x() + shift.x()), position.y(), float(position.z() + shift.y())));
}

void centreOnPlatform(UserImportedMesh &mesh)
{
    const QRectF print = footprint(mesh);
    moveFootprintTo(mesh, -QPointF(print.width() / 2, print.height() / 2));
}

QRectF marginArea(double halfWidth, double halfDepth)
{
    const double margin = PlatformModel::kWallMargin;
    return QRectF(QPointF(-halfWidth + margin, -halfDepth + margin), QPointF(halfWidth - margin, halfDepth - margin));
}

// Beside the right wall, as deep as twice the platform.
QRectF besideArea(double halfWidth, double halfDepth)
{
    return QRectF(halfWidth + PlatformModel::kWallMargin + PlatformModel::kPlacementGap,
        -halfDepth * kBesideDepthFactor, kBesideWidth, 2 * halfDepth * kBesideDepthFactor);
}

// Sets the model at a free spot beside the platform, or centres it when none.
void setBesidePlatform(UserImportedMesh &mesh, const std::vector<QRectF> &taken, double halfWidth, double halfDepth)
{
    const std::optional<QPointF> spot = FootprintPacker::freeSpot(
        footprint(mesh).size(), besideArea(halfWidth, halfDepth), taken, PlatformModel::kPlacementGap);
    if (spot)
        moveFootprintTo(mesh, *spot);
    else
        centreOnPlatform(mesh);
}

} // namespace

ModelEntry::ModelEntry(std::shared_ptr<UserImportedMesh> mesh, const QString &sourcePath)
    : m_mesh(std::move(mesh))
    , m_sourcePath(sourcePath)
    , m_checks(m_mesh->geometry())
    , m_openEdges(ImportChecks::openEdges(m_mesh->triangles()))
{
    m_checks.check();
}

std::shared_ptr<ModelEntry> ModelEntry::fromFile(const QString &path, const ImportProgressCallback &progress)
{
    const auto importer
        = progress ? std::make_unique<MeshImporter>(path, progress) : std::make_unique<MeshImporter>(path);
    QList<MeshTriangle *> triangles = importer->takeTriangles();
    if (triangles.isEmpty())
        return nullptr;
    return std::make_shared<ModelEntry>(std::make_shared<UserImportedMesh>(std::move(triangles)), path);
}

std::shared_ptr<ModelEntry> ModelEntry::copy() const
{
    auto duplicate = std::make_shared<ModelEntry>(*this);
    duplicate->m_mesh = m_mesh->clone();
    return duplicate;
}

int ModelEntry::setImportedModelUnits(bool isInches)
{
    const int result = m_checks.setImportedModelUnits(isInches);
    if (isInches)
        m_mesh->useInches();
    return result;
}

void ModelEntry::resizeImportedModelToFitPlatform(bool shouldResize)
{
    m_checks.resizeImportedModelToFitPlatform(shouldResize);
    if (shouldResize)
        m_mesh->setUniformScale(float(m_checks.scale()[0]));
}

PlatformModel::PlatformModel()
{
    for (int kind = 0; kind < CollisionWall::kKinds; ++kind)
        m_walls.push_back(std::make_unique<CollisionWall>(kind));
}

void PlatformModel::addEntry(const Entry &entry)
{
    if (!entry || m_models.contains(entry))
        return;
    entry->mesh()->placeOnPlatform();
    if (entry->status() == ImportStatus::Ready)
        placeAutomatically(*entry->mesh());
    m_models.append(entry);
}

bool PlatformModel::placeAutomatically(UserImportedMesh &mesh) const
{
    return placeOnFreeSpace(mesh, m_models, m_placementHalfWidth, m_placementHalfDepth);
}

void PlatformModel::setPlacementArea(double halfWidth, double halfDepth)
{
    m_placementHalfWidth = halfWidth;
    m_placementHalfDepth = halfDepth;
}

bool PlatformModel::placeOnFreeSpace(
    UserImportedMesh &mesh, const QList<Entry> &models, double halfWidth, double halfDepth)
{
    std::vector<QRectF> taken;
    for (const Entry &entry : models) {
        if (entry->mesh().get() != &mesh)
            taken.push_back(footprint(*entry->mesh()));
    }
    if (taken.empty()) {
        centreOnPlatform(mesh);
        return true;
    }
    const std::optional<QPointF> spot
        = FootprintPacker::freeSpot(footprint(mesh).size(), marginArea(halfWidth, halfDepth), taken, kPlacementGap);
    if (spot) {
        moveFootprintTo(mesh, *spot);
        return true;
    }
    setBesidePlatform(mesh, taken, halfWidth, halfDepth);
    return false;
}

int PlatformModel::arrange(double halfWidth, double halfDepth)
{
    if (m_models.size() == 1) {
        centreOnPlatform(*m_models.first()->mesh());
        return 0;
    }
    std::vector<QSizeF> sizes;
    for (const Entry &entry : qAsConst(m_models))
        sizes.push_back(footprint(*entry->mesh()).size());
    const std::vector<std::optional<QRectF>> places
        = FootprintPacker::pack(sizes, marginArea(halfWidth, halfDepth), kPlacementGap);
    std::vector<QRectF> taken;
    for (int i = 0; i < m_models.size(); ++i) {
        if (places[size_t(i)]) {
            moveFootprintTo(*m_models.at(i)->mesh(), places[size_t(i)]->topLeft());
            taken.push_back(*places[size_t(i)]);
        }
    }
    int withoutRoom = 0;
    for (int i = 0; i < m_models.size(); ++i) {
        if (!places[size_t(i)]) {
            UserImportedMesh &mesh = *m_models.at(i)->mesh();
            setBesidePlatform(mesh, taken, halfWidth, halfDepth);
            taken.push_back(footprint(mesh));
            ++withoutRoom;
        }
    }
    return withoutRoom;
}

void PlatformModel::selectModel(const Entry &entry)
{
    m_selected = entry && m_models.contains(entry) ? entry : Entry();
}

bool PlatformModel::applyToSelected(const TransformationRecord &record)
{
    if (!m_selected)
        return false;
    m_history.apply(m_selected->mesh(), record);
    return true;
}

bool PlatformModel::supportsStillHold(const UserImportedMesh &mesh, const QQuaternion &rotation, const QVector3D &scale)
{
    const UserImportedMeshSupports &supports = mesh.supports();
    if (!supports.hasSupports())
        return true;
    if (!qFuzzyCompare(scale, supports.generatedScale()))
        return false;
    const QVector3D up(0, 1, 0);
    const QVector3D turnedUp = (rotation * supports.generatedRotation().conjugated()).rotatedVector(up);
    return QVector3D::dotProduct(turnedUp, up) > kUprightCosine;
}

bool PlatformModel::setSelectedModelPosition(double xPosition, double yPosition)
{
    if (!m_selected)
        return false;
    TransformationRecord record;
    record.position = QVector3D(float(xPosition), m_selected->mesh()->position().y(), float(yPosition));
    return applyToSelected(record);
}

bool PlatformModel::setSelectedModelRotation(double xRotation, double yRotation, double zRotation)
{
    if (!m_selected)
        return false;
    const UserImportedMesh &mesh = *m_selected->mesh();
    TransformationRecord record;
    record.rotation = QVector3D(float(xRotation), float(yRotation), float(zRotation));
    const std::pair<int, float> turn = record.turn();
    if (turn.first >= 0) {
        QVector3D axis;
        axis[turn.first] = 1.0f;
        const QQuaternion turned = QQuaternion::fromAxisAndAngle(axis, turn.second) * mesh.rotation();
        record.removeSupports = !supportsStillHold(mesh, turned, mesh.scale());
    }
    return applyToSelected(record);
}

bool PlatformModel::resetSelectedModelRotation()
{
    if (!m_selected)
        return false;
    const UserImportedMesh &mesh = *m_selected->mesh();
    TransformationRecord record;
    record.resetRotation = true;
    record.removeSupports = !supportsStillHold(mesh, QQuaternion(), mesh.scale());
    return applyToSelected(record);
}

bool PlatformModel::setSelectedModelScale(double scaleFactor)
{
    if (!m_selected || !(scaleFactor > 0.0) || !std::isfinite(scaleFactor))
        return false;
    const UserImportedMesh &mesh = *m_selected->mesh();
    TransformationRecord record;
    record.scale = float(scaleFactor) * mesh.unitScale().x();
    record.removeSupports
        = !supportsStillHold(mesh, mesh.rotation(), QVector3D(*record.scale, *record.scale, *record.scale));
    return applyToSelected(record);
}

bool PlatformModel::centerSelectedModelInPlatform()
{
    if (!m_selected)
        return false;
    const UserImportedMesh &mesh = *m_selected->mesh();
    const BoundingBox box = mesh.worldBoundingBox();
    TransformationRecord record;
    record.position
        = mesh.position() - QVector3D(float((box.minX + box.maxX) / 2), 0.0f, float((box.minZ + box.maxZ) / 2));
    return applyToSelected(record);
}

bool PlatformModel::addSupportsToSelectedModel(
    double density, double strength, const UserImportedMeshSupports::ProgressFunction &progress)
{
    if (!m_selected)
        return false;
    // Keep the model alive whatever the progress function lets happen meanwhile.
    const std::shared_ptr<UserImportedMesh> mesh = m_selected->mesh();
    if (!mesh->generateSupports(density, strength, progress))
        return false;
    mesh->placeOnPlatform();
    return true;
}

bool PlatformModel::removeSupportsFromSelectedModel()
{
    if (!m_selected || !m_selected->mesh()->hasSupports())
        return false;
    TransformationRecord record;
    record.removeSupports = true;
    return applyToSelected(record);
}

bool PlatformModel::deleteSelectedModel()
{
    if (!m_selected)
        return false;
    m_models.removeOne(m_selected);
    m_selected.reset();
    return true;
}

bool PlatformModel::duplicateSelectedModel(int numberOfDuplicates)
{
    if (!m_selected)
        return false;
    for (int i = 0; i < numberOfDuplicates; ++i)
        addEntry(m_selected->copy());
    return true;
}

bool PlatformModel::removeSelectedModelDuplicates()
{
    if (!m_selected)
        return false;
    for (int i = m_models.size() - 1; i >= 0; --i) {
        if (m_models.at(i) != m_selected && m_models.at(i)->sourcePath() == m_selected->sourcePath())
            m_models.removeAt(i);
    }
    return true;
}

void PlatformModel::clearAllModels()
{
    m_models.clear();
    m_selected.reset();
    m_history.clear();
}

bool PlatformModel::undoAction()
{
    return m_history.undo([this](const UserImportedMesh &mesh) { return contains(mesh); });
}

bool PlatformModel::redoAction()
{
    return m_history.redo([this](const UserImportedMesh &mesh) { return contains(mesh); });
}

bool PlatformModel::contains(const UserImportedMesh &mesh) const
{
    return std::any_of(
        m_models.begin(), m_models.end(), [&](const Entry &entry) { return entry->mesh().get() == &mesh; });
}

bool PlatformModel::doAnyModelsIntersectWalls()
{
    bool any = false;
    for (const auto &wall : m_walls) {
        const bool crossed = std::any_of(m_models.begin(), m_models.end(),
            [&](const Entry &entry) { return wall->isCrossedBy(entry->mesh()->worldBoundingBox()); });
        wall->setHighlighted(crossed);
        any = any || crossed;
    }
    return any;
}

double PlatformModel::maxModelHeight() const
{
    double height = 0.0;
    for (const Entry &entry : m_models)
        height = std::max(height, double(entry->mesh()->dimensions().y()));
    return height;
}

double PlatformModel::totalModelVolume() const
{
    double volume = 0.0;
    for (const Entry &entry : m_models)
        volume += entry->mesh()->volume();
    return volume;
}

std::vector<MeshTriangle> PlatformModel::printTriangles(bool is100Micron) const
{
    std::vector<MeshTriangle> triangles;
    for (const Entry &entry : m_models) {
        const std::vector<MeshTriangle> model = entry->mesh()->printTriangles(is100Micron);
        triangles.insert(triangles.end(), model.begin(), model.end());
    }
    return triangles;
}
