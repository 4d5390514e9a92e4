#include "platformmodel.h"

#include "footprintpacker.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Models that find no room on the platform wait on a strip this wide beside it.
constexpr double kBesideDepthFactor = 2.0;
constexpr double kBesideWidth = 10000.0;
// Scale to fit leaves this much room under the ceiling (mm).
constexpr double kFitTolerance = 1e-3;

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

int ModelEntry::setImportedModelScale(double factor)
{
    const int result = m_checks.setImportedModelScale(factor);
    if (ImportChecks::isUsableFactor(factor))
        m_mesh->useUnitScale(float(factor));
    return result;
}

namespace {

QVector3D toVector(const std::array<double, 3> &sizes)
{
    return QVector3D(float(sizes[0]), float(sizes[1]), float(sizes[2]));
}

} // namespace

QVector3D ModelEntry::importedSize() const
{
    return toVector(m_checks.dimensions());
}

QVector3D ModelEntry::importedSizeResizedToFit() const
{
    return toVector(m_checks.dimensionsResizedToFit());
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
    // One step of the history: undo sets every model back where it stood.
    std::vector<std::pair<Entry, QVector3D>> before;
    for (const Entry &entry : qAsConst(m_models))
        before.emplace_back(entry, entry->mesh()->position());
    const int withoutRoom = packModels(halfWidth, halfDepth);
    std::vector<std::pair<Entry, QVector3D>> after;
    for (const Entry &entry : qAsConst(m_models))
        after.emplace_back(entry, entry->mesh()->position());
    if (after != before) {
        const auto placeAll = [](const std::vector<std::pair<Entry, QVector3D>> &places) {
            for (const auto &place : places)
                place.first->mesh()->setPosition(place.second);
        };
        m_history.record([placeAll, before]() { placeAll(before); }, [placeAll, after]() { placeAll(after); });
    }
    return withoutRoom;
}

int PlatformModel::packModels(double halfWidth, double halfDepth)
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

bool PlatformModel::fitsArea(const QVector3D &size, double halfWidth, double halfDepth)
{
    return size.x() <= 2 * halfWidth && size.z() <= 2 * halfDepth && size.y() <= CollisionWall::kHeight;
}

double PlatformModel::fitFactor(const QVector3D &size, double halfWidth, double halfDepth)
{
    if (fitsArea(size, halfWidth, halfDepth))
        return 1.0;
    // A hair under the ceiling: the walls count a model reaching exactly to them as inside,
    // and the scaled box must not round past them.
    const QVector3D room(float(2 * (halfWidth - kWallMargin)), float(CollisionWall::kHeight - kFitTolerance),
        float(2 * (halfDepth - kWallMargin)));
    double factor = 1.0;
    for (int axis = 0; axis < 3; ++axis) {
        if (size[axis] > 0.0f)
            factor = std::min(factor, double(room[axis]) / double(size[axis]));
    }
    return factor;
}

bool PlatformModel::scaleSelectedModelToFit(double halfWidth, double halfDepth)
{
    if (!m_selected)
        return false;
    const UserImportedMesh &mesh = *m_selected->mesh();
    const double factor = fitFactor(mesh.dimensions(), halfWidth, halfDepth);
    if (factor >= 1.0)
        return false;
    // The footprint shrinks towards the model's position; it is then moved along x and z
    // the least that sets it inside the walls' margin.
    const BoundingBox box = mesh.worldBoundingBox();
    const QVector3D position = mesh.position();
    const auto shift = [&](double low, double high, double origin, double half) {
        const double scaledLow = origin + (low - origin) * factor;
        const double scaledHigh = origin + (high - origin) * factor;
        const double limit = half - kWallMargin;
        if (scaledLow < -limit)
            return -limit - scaledLow;
        if (scaledHigh > limit)
            return limit - scaledHigh;
        return 0.0;
    };
    TransformationRecord record;
    record.position = position
        + QVector3D(float(shift(box.minX, box.maxX, position.x(), halfWidth)), 0.0f,
            float(shift(box.minZ, box.maxZ, position.z(), halfDepth)));
    record.scale = float(factor) * mesh.scale().x();
    return applyToSelected(record);
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
    TransformationRecord record;
    record.rotation = QVector3D(float(xRotation), float(yRotation), float(zRotation));
    return applyToSelected(record);
}

bool PlatformModel::resetSelectedModelRotation()
{
    if (!m_selected)
        return false;
    TransformationRecord record;
    record.resetRotation = true;
    return applyToSelected(record);
}

bool PlatformModel::setSelectedModelScale(double scaleFactor)
{
    if (!m_selected || !(scaleFactor > 0.0) || !std::isfinite(scaleFactor))
        return false;
    TransformationRecord record;
    record.scale = float(scaleFactor) * m_selected->mesh()->unitScale().x();
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
    return generateSupports(m_selected, density, strength, progress);
}

bool PlatformModel::generateSupports(
    const Entry &entry, double density, double strength, const UserImportedMeshSupports::ProgressFunction &progress)
{
    return generateSupports(entry, density, strength, false, false, progress);
}

bool PlatformModel::generateSupports(const Entry &entry, double density, double strength, bool noLift, bool raft,
    const UserImportedMeshSupports::ProgressFunction &progress, const std::function<void(CDLPMain &engine)> &refine)
{
    if (!entry || !m_models.contains(entry))
        return false;
    // The entry is held here: the progress function may let the list change meanwhile.
    const Entry keep = entry;
    return m_history.editSupports(keep->mesh(), [&](UserImportedMesh &mesh) {
        if (!mesh.generateSupports(density, strength, noLift, raft, progress, refine))
            return false;
        mesh.placeOnPlatform();
        return true;
    });
}

bool PlatformModel::removeSupportsFromSelectedModel()
{
    if (!m_selected || !m_selected->mesh()->hasSupports())
        return false;
    TransformationRecord record;
    record.removeSupports = true;
    return applyToSelected(record);
}

bool PlatformModel::addSupportAtPoint(const Entry &entry, const QVector3D &scenePoint)
{
    if (!entry || !m_models.contains(entry))
        return false;
    return m_history.editSupports(
        entry->mesh(), [&](UserImportedMesh &mesh) { return mesh.addSupportAtPoint(scenePoint); });
}

bool PlatformModel::deleteAnchorSupport(const Entry &entry, const UserImportedMeshSingleAnchorSupports *anchor)
{
    if (!entry || !m_models.contains(entry))
        return false;
    return m_history.editSupports(
        entry->mesh(), [&](UserImportedMesh &mesh) { return mesh.deleteAnchorSupport(anchor); });
}

bool PlatformModel::removeEntries(const QList<Entry> &entries)
{
    // Positions in the list, lowest first: put back in that order they land where they were.
    std::vector<std::pair<int, Entry>> removed;
    for (int i = 0; i < m_models.size(); ++i) {
        if (entries.contains(m_models.at(i)))
            removed.emplace_back(i, m_models.at(i));
    }
    if (removed.empty())
        return false;
    const Entry selectedBefore = m_selected;
    const auto takeOut = [this, removed]() {
        for (const auto &item : removed) {
            m_models.removeOne(item.second);
            if (m_selected == item.second)
                m_selected.reset();
        }
    };
    const auto putBack = [this, removed, selectedBefore]() {
        for (const auto &item : removed)
            m_models.insert(std::min(item.first, int(m_models.size())), item.second);
        selectModel(selectedBefore);
    };
    takeOut();
    m_history.record(putBack, takeOut);
    return true;
}

void PlatformModel::recordAddedEntries(const QList<Entry> &added)
{
    if (added.isEmpty())
        return;
    const auto takeOut = [this, added]() {
        for (const Entry &entry : added) {
            m_models.removeOne(entry);
            if (m_selected == entry)
                m_selected.reset();
        }
    };
    const auto putBack = [this, added]() {
        for (const Entry &entry : added) {
            if (!m_models.contains(entry))
                m_models.append(entry);
        }
    };
    m_history.record(takeOut, putBack);
}

bool PlatformModel::deleteSelectedModel()
{
    if (!m_selected)
        return false;
    return removeEntries({m_selected});
}

bool PlatformModel::duplicateSelectedModel(int numberOfDuplicates)
{
    if (!m_selected)
        return false;
    QList<Entry> added;
    for (int i = 0; i < numberOfDuplicates; ++i) {
        added.append(m_selected->copy());
        addEntry(added.last());
    }
    recordAddedEntries(added);
    return true;
}

bool PlatformModel::removeSelectedModelDuplicates()
{
    if (!m_selected)
        return false;
    QList<Entry> copies;
    for (const Entry &entry : m_models) {
        if (entry != m_selected && entry->sourcePath() == m_selected->sourcePath())
            copies.append(entry);
    }
    removeEntries(copies);
    return true;
}

void PlatformModel::clearAllModels()
{
    // A copy: the list changes under the step.
    removeEntries(QList<Entry>(m_models));
    m_selected.reset();
}

TransformationHistory::PresenceTest PlatformModel::presence() const
{
    return [this](const UserImportedMesh &mesh) { return contains(mesh); };
}

bool PlatformModel::undoAction()
{
    return m_history.undo(presence());
}

bool PlatformModel::redoAction()
{
    return m_history.redo(presence());
}

bool PlatformModel::canUndo() const
{
    return m_history.canUndo(presence());
}

bool PlatformModel::canRedo() const
{
    return m_history.canRedo(presence());
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
