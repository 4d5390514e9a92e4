#include "sceneeditor.h"

#include "islandcheck.h"
#include "overhangcheck.h"
#include "scenepicking.h"
#include "slicejobwriter.h"

#include <QDebug>
#include <QFileInfo>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <vector>

// The editor's error lines name "OpenGLRenderer::" and the item's request (updateSelectedModel,
// addModels, addSupportsToSelectedModel), not SceneEditor: the editor does the work that
// object once did, and the texts of those lines stay as they were.

namespace {

// A face counts as lying on the platform already when its normal is this close to
// straight down (cosine).
constexpr float kFaceDownCosine = 0.99999f;
// Turns below this many degrees are not worth a step of their own.
constexpr float kSmallestTurn = 1e-3f;
// Drags shorter than this (millimetres) are clicks.
constexpr float kSmallestMove = 1e-3f;
// Boxes that share less than this (millimetres) merely touch.
constexpr double kOverlapTolerance = 1e-3;

// The angle of a point about a pivot on screen, degrees counter-clockwise (pixel rows
// grow downwards).
double screenAngle(const QPointF &pivot, const QPointF &point)
{
    return qRadiansToDegrees(std::atan2(pivot.y() - point.y(), point.x() - pivot.x()));
}

bool boxesOverlap(const BoundingBox &a, const BoundingBox &b)
{
    const auto apart = [](double lowA, double highA, double lowB, double highB) {
        return highA <= lowB + kOverlapTolerance || highB <= lowA + kOverlapTolerance;
    };
    return !apart(a.minX, a.maxX, b.minX, b.maxX) && !apart(a.minY, a.maxY, b.minY, b.maxY)
        && !apart(a.minZ, a.maxZ, b.minZ, b.maxZ);
}

} // namespace

SceneEditor::SceneEditor() = default;

SceneEditor::~SceneEditor() = default;

void SceneEditor::setViewportSize(const QSizeF &size)
{
    m_camera.setViewportSize(size);
}

// --- Requests --------------------------------------------------------------------------

void SceneEditor::updateSelectedModel(const ModelEditRequest &request)
{
    if (request.generalInfoRequested)
        answerGeneralInfoRequest();
    if (request.transformationRequested)
        answerTransformationRequest();
    if (request.action == ModelEditRequest::Action::None)
        return;
    if (request.needsSelectedModel() && !m_platform.selectedModel()) {
        qDebug().noquote() << "ERROR OpenGLRenderer::updateSelectedModel. No model selected";
        return;
    }
    const EditAnswer answer = applyEdit(request);
    reportChanges();
    if (answer == EditAnswer::None)
        return;
    // Duplicates and arranging say themselves what they could not do.
    if (request.action != ModelEditRequest::Action::Duplicate && request.action != ModelEditRequest::Action::Arrange)
        checkPlacement();
    answerGeneralInfoRequest();
    if (answer == EditAnswer::InfoAndTransformation)
        answerTransformationRequest();
}

void SceneEditor::reportChanges()
{
    const std::pair<bool, bool> state(m_platform.canUndo(), m_platform.canRedo());
    if (m_reportedHistory != state) {
        m_reportedHistory = state;
        emit historyChanged(state.first, state.second);
    }
    QStringList names;
    for (const PlatformModel::Entry &entry : m_platform.models())
        names << QFileInfo(entry->sourcePath()).fileName();
    if (m_reportedModels != names) {
        m_reportedModels = names;
        emit modelListChanged(names);
    }
    // Placed holes move with their models, and go and come back with them.
    const std::vector<QVector3D> holes = hollowing().drainHoles;
    if (holes != m_reportedHoles) {
        m_reportedHoles = holes;
        emit drainHolesChanged();
    }
    reportFit();
}

SceneEditor::EditAnswer SceneEditor::applyEdit(const ModelEditRequest &request)
{
    using Action = ModelEditRequest::Action;
    // An edit during a turn by the gimbal comes after it.
    if (request.action != Action::Undo && request.action != Action::Redo)
        finishTurn();
    switch (request.action) {
    case Action::None:
        return EditAnswer::None;
    case Action::Duplicate:
        return addDuplicates(request.numberOfDuplicates) ? EditAnswer::Info : EditAnswer::None;
    case Action::RemoveDuplicates:
        m_platform.removeSelectedModelDuplicates();
        return EditAnswer::Info;
    case Action::ClearAll:
        clearScene();
        return EditAnswer::Info;
    case Action::Delete:
        m_platform.deleteSelectedModel();
        resetHelpers();
        return EditAnswer::InfoAndTransformation;
    case Action::SetPosition:
        m_platform.setSelectedModelPosition(request.xPosition, request.yPosition);
        return EditAnswer::InfoAndTransformation;
    case Action::SetRotation:
        m_platform.setSelectedModelRotation(request.rotation.x(), request.rotation.y(), request.rotation.z());
        return EditAnswer::InfoAndTransformation;
    case Action::ResetRotation:
        m_platform.resetSelectedModelRotation();
        return EditAnswer::InfoAndTransformation;
    case Action::SetScale:
        if (!m_platform.setSelectedModelScale(request.scale))
            qDebug().noquote() << "ERROR OpenGLRenderer::updateSelectedModel. Scale refused: "
                    + QString::number(request.scale);
        return EditAnswer::InfoAndTransformation;
    case Action::CenterInPlatform:
        m_platform.centerSelectedModelInPlatform();
        return EditAnswer::InfoAndTransformation;
    case Action::AddSupports:
        requestSupportGeneration(request);
        return EditAnswer::None;
    case Action::RemoveSupports:
        m_platform.removeSupportsFromSelectedModel();
        clearSupportHover();
        return EditAnswer::InfoAndTransformation;
    case Action::Undo:
    case Action::Redo:
        // The step may bring back or take away models (and supports) the helpers were on.
        resetHelpers();
        if (request.action == Action::Undo)
            m_platform.undoAction();
        else
            m_platform.redoAction();
        emit sceneChanged();
        return EditAnswer::InfoAndTransformation;
    case Action::Arrange:
        arrangeModels();
        return EditAnswer::InfoAndTransformation;
    }
    return EditAnswer::None;
}

bool SceneEditor::addDuplicates(int numberOfDuplicates)
{
    if (numberOfDuplicates < 0 || numberOfDuplicates > kMaximumDuplicates) {
        qDebug().noquote() << "ERROR OpenGLRenderer::updateSelectedModel. Number of duplicates out of range: "
                + QString::number(numberOfDuplicates);
        return false;
    }
    const int before = m_platform.models().size();
    m_platform.duplicateSelectedModel(numberOfDuplicates);
    int withoutRoom = 0;
    const PlatformArea platformArea = area();
    for (int i = before; i < m_platform.models().size(); ++i) {
        placeOnSmallPlatform(m_platform.models().at(i));
        if (platformArea.isCrossedBy(m_platform.models().at(i)->mesh()->worldBoundingBox()))
            ++withoutRoom;
    }
    checkPlacement(withoutRoom == 0 ? QString()
                                    : tr("%1 of %2 copies do not fit on the platform; they are set beside it.")
                                          .arg(withoutRoom)
                                          .arg(numberOfDuplicates));
    return true;
}

void SceneEditor::arrangeModels()
{
    const PlatformArea platformArea = area();
    const int withoutRoom = m_platform.arrange(platformArea.halfWidth, platformArea.halfDepth);
    checkPlacement(withoutRoom == 0 ? QString()
                                    : tr("%1 of %2 models do not fit on the platform; they are set beside it.")
                                          .arg(withoutRoom)
                                          .arg(m_platform.models().size()));
}

void SceneEditor::clearScene()
{
    m_platform.clearAllModels();
    setModelBeingAdded(nullptr);
    resetHelpers();
    // An import waiting for the answer about the cleared model goes on with the rest.
    scheduleImport();
}

void SceneEditor::requestSupportGeneration(const ModelEditRequest &request)
{
    if (m_supportJob) {
        qDebug().noquote() << "ERROR OpenGLRenderer::updateSelectedModel. Supports are being generated already";
        return;
    }
    m_supportJob = SupportJob {m_platform.selectedModel(), request.supportDensity, request.supportStrength,
        request.supportNoLift, request.supportRaft};
    // Generation takes long and reports progress: it runs on the GUI thread after the
    // frame, not while the scene graph waits.
    QMetaObject::invokeMethod(this, &SceneEditor::runSupportGeneration, Qt::QueuedConnection);
}

void SceneEditor::addModelFiles(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    m_filesToImport += paths;
    scheduleImport();
}

bool SceneEditor::applyCamera(const CameraRequest &request)
{
    if (request.placeRotationAnchor)
        m_camera.placeRotationAnchor();
    if (request.placePanningAnchor)
        m_camera.placePanningAnchor();
    if (request.zoomAmount != 0.0)
        m_camera.zoom(request.zoomAmount);
    if (!request.rotation.isNull())
        m_camera.rotateRelativeToAnchor(request.rotation.x(), request.rotation.y());
    if (!request.panning.isNull())
        m_camera.panRelativeToAnchor(request.panning.x(), request.panning.y());
    bool stepped = false;
    if (request.presetView != OpenGLCamera::PresetView::None) {
        m_camera.stepTowards(request.presetView);
        stepped = true;
    }
    if (request.releaseRotationAnchor)
        m_camera.releaseRotationAnchor();
    if (request.releasePanningAnchor)
        m_camera.releasePanningAnchor();
    return stepped;
}

void SceneEditor::applyModes(const ModeFlags &flags)
{
    const ModeFlags before = m_modes;
    m_modes = flags;
    m_modes.pending = false;
    if (before.inEditSupportMode && !m_modes.inEditSupportMode)
        clearSupportHover();
    if (before.inSelectBaseMode && !m_modes.inSelectBaseMode)
        m_baseArrow.reset();
    // The handles went away under the mouse: the turn they made stands.
    if (!isGimbalEnabled())
        finishTurn();
    // The other printer has other walls.
    if (before.platformIs75Microns != m_modes.platformIs75Microns) {
        m_platform.setPlacementArea(area().halfWidth, area().halfDepth);
        checkPlacement();
    }
}

void SceneEditor::applyMouse(const MouseRequest &request)
{
    for (const MouseRequest::Event &event : request.events)
        applyMouseEvent(event);
    reportChanges();
}

void SceneEditor::applyMouseEvent(const MouseRequest::Event &event)
{
    using Action = MouseRequest::Action;
    const Action action = event.action;
    const QPointF &position = event.position;
    const SceneRay ray = m_camera.rayThroughPixel(position);
    const PlatformModel::Entry selected = m_platform.selectedModel();
    switch (action) {
    case Action::SelectModel: {
        if (m_modes.inPlaceDrainHoleMode) {
            placeDrainHoleAt(ray);
            break;
        }
        finishTurn();
        finishDrag();
        const std::optional<ScenePicking::ModelHit> hit = ScenePicking::nearestModel(m_platform.models(), ray);
        m_platform.selectModel(hit ? hit->entry : PlatformModel::Entry());
        if (hit)
            startDrag(hit->entry, ray);
        else
            startOrbit(position);
        answerTransformationRequest();
        break;
    }
    case Action::PressGimbalMoveIcon:
        finishTurn();
        finishDrag();
        if (selected)
            startDrag(selected, ray);
        break;
    case Action::MoveModel:
        if (m_orbitStart)
            orbitTo(position);
        else
            moveDrag(ray);
        break;
    case Action::DragGimbalMoveIcon:
        moveDrag(ray);
        break;
    case Action::PressGimbalRotationHandle:
        startTurn(event.axis, position);
        break;
    case Action::DragGimbalRotationHandle:
        turnTo(position, event.snap);
        break;
    case Action::SelectionButtonReleased:
        finishOrbit();
        finishDrag();
        finishTurn();
        break;
    case Action::SelectBase:
        selectBase(ray);
        break;
    case Action::ShowSelectBaseArrow:
        m_baseArrow.reset();
        if (m_modes.inSelectBaseMode && selected) {
            if (const std::optional<ScenePicking::SurfaceHit> hit = ScenePicking::surfaceHit(*selected->mesh(), ray))
                m_baseArrow = SceneSnapshot::Arrow {hit->point, -hit->normal};
        }
        break;
    case Action::MoveInEditSupportMode:
        editSupportsHover(ray);
        break;
    case Action::ClickInEditSupportMode:
        addSupportAt(ray);
        break;
    case Action::DeleteSupport:
        deleteSupportAt(ray);
        break;
    }
}

void SceneEditor::addSupportAt(const SceneRay &ray)
{
    const PlatformModel::Entry selected = m_platform.selectedModel();
    if (!selected)
        return;
    UserImportedMesh &mesh = *selected->mesh();
    if (const std::optional<QVector3D> point = mesh.pick(ray.origin, ray.direction)) {
        if (m_platform.addSupportAtPoint(selected, *point)) {
            m_supportTip.reset();
            answerGeneralInfoRequest();
        }
    }
}

void SceneEditor::placeDrainHoleAt(const SceneRay &ray)
{
    const std::optional<ScenePicking::ModelHit> hit = ScenePicking::nearestModel(m_platform.models(), ray);
    if (!hit)
        return;
    const std::shared_ptr<UserImportedMesh> &mesh = hit->entry->mesh();
    const PlacedHole hole {mesh, mesh->modelMatrix().inverted().map(hit->point), ++m_lastHoleId};
    restoreHole(hole);
    m_platform.history().record([this, id = hole.id] { takeHole(id); }, [this, hole] { restoreHole(hole); }, mesh);
    reportChanges();
}

void SceneEditor::removeDrainHole(int index)
{
    const std::vector<size_t> present = presentHoles();
    if (index < 0 || size_t(index) >= present.size())
        return;
    const PlacedHole hole = m_placedHoles[present[size_t(index)]];
    takeHole(hole.id);
    m_platform.history().record([this, hole] { restoreHole(hole); }, [this, id = hole.id] { takeHole(id); },
        hole.model.lock());
    reportChanges();
}

void SceneEditor::restoreHole(const PlacedHole &hole)
{
    m_placedHoles.push_back(hole);
    std::sort(m_placedHoles.begin(), m_placedHoles.end(),
        [](const PlacedHole &a, const PlacedHole &b) { return a.id < b.id; });
    emit sceneChanged();
}

void SceneEditor::takeHole(int id)
{
    m_placedHoles.erase(std::remove_if(m_placedHoles.begin(), m_placedHoles.end(),
                            [id](const PlacedHole &hole) { return hole.id == id; }),
        m_placedHoles.end());
    emit sceneChanged();
}

std::vector<size_t> SceneEditor::presentHoles() const
{
    std::vector<size_t> present;
    for (size_t i = 0; i < m_placedHoles.size(); ++i) {
        const std::shared_ptr<UserImportedMesh> model = m_placedHoles[i].model.lock();
        const QList<PlatformModel::Entry> &models = m_platform.models();
        if (model && std::any_of(models.begin(), models.end(), [&](const PlatformModel::Entry &entry) {
                return entry->mesh() == model;
            }))
            present.push_back(i);
    }
    return present;
}

void SceneEditor::setHollowing(const GenSlices::Hollowing &hollowing)
{
    m_hollowing = hollowing;
    m_hollowing.drainHoles.clear();
}

GenSlices::Hollowing SceneEditor::hollowing() const
{
    GenSlices::Hollowing hollowing = m_hollowing;
    for (const size_t i : presentHoles()) {
        const PlacedHole &hole = m_placedHoles[i];
        hollowing.drainHoles.push_back(hole.model.lock()->modelMatrix().map(hole.local));
    }
    return hollowing;
}

void SceneEditor::deleteSupportAt(const SceneRay &ray)
{
    const PlatformModel::Entry selected = m_platform.selectedModel();
    if (!selected)
        return;
    UserImportedMesh &mesh = *selected->mesh();
    // Without supports the model says so in the log.
    const UserImportedMeshSingleAnchorSupports *anchor
        = mesh.hasSupports() ? mesh.pickAnchor(ray.origin, ray.direction) : nullptr;
    if ((anchor || !mesh.hasSupports()) && m_platform.deleteAnchorSupport(selected, anchor))
        answerGeneralInfoRequest();
}

// A drag that starts in empty space turns the camera, as the right button does.
void SceneEditor::startOrbit(const QPointF &position)
{
    finishOrbit();
    m_orbitStart = position;
    m_camera.placeRotationAnchor();
}

void SceneEditor::orbitTo(const QPointF &position)
{
    const QPointF delta = position - *m_orbitStart;
    const QPointF rotation = OpenGLCamera::rotationAmount(qRound(delta.x()), qRound(delta.y()));
    m_camera.rotateRelativeToAnchor(rotation.x(), rotation.y());
}

void SceneEditor::finishOrbit()
{
    if (!m_orbitStart)
        return;
    m_orbitStart.reset();
    m_camera.releaseRotationAnchor();
}

void SceneEditor::startDrag(const PlatformModel::Entry &entry, const SceneRay &ray)
{
    entry->mesh()->startDrag(ray.origin, ray.direction);
    m_drag = Drag {entry, entry->mesh()->position()};
}

void SceneEditor::moveDrag(const SceneRay &ray)
{
    if (!m_drag || !m_drag->entry->mesh()->isDragging())
        return;
    m_drag->entry->mesh()->dragTo(ray.origin, ray.direction);
}

void SceneEditor::finishDrag()
{
    if (!m_drag)
        return;
    const Drag drag = *m_drag;
    m_drag.reset();
    UserImportedMesh &mesh = *drag.entry->mesh();
    mesh.endDrag();
    const QVector3D end = mesh.position();
    if ((end - drag.startPosition).length() < kSmallestMove) {
        // A click: the model stays exactly where it was.
        mesh.setPosition(drag.startPosition);
        return;
    }
    if (!isInScene(drag.entry) || m_platform.selectedModel() != drag.entry)
        return;
    // The move becomes one step of the history, so that undo brings the model back.
    mesh.setPosition(drag.startPosition);
    m_platform.setSelectedModelPosition(end.x(), end.z());
    checkPlacement();
    answerTransformationRequest();
}

// Turning by a ring: the model turns by the angle the mouse sweeps about the gimbal's
// centre on screen, as a dial does. A turn about an axis that points at the viewer shows
// counter-clockwise, so the sweep counts the other way for an axis pointing away.
void SceneEditor::startTurn(int axis, const QPointF &position)
{
    finishTurn();
    finishDrag();
    const PlatformModel::Entry selected = m_platform.selectedModel();
    if (!isGimbalEnabled() || axis < 0 || axis > 2)
        return;
    const SceneSnapshot::Gimbal held = gimbal();
    const std::optional<QPointF> pivot = m_camera.projectToPixel(held.centre);
    if (!pivot)
        return;
    QVector3D axisVector;
    axisVector[axis] = 1.0f;
    const float facing = QVector3D::dotProduct(axisVector, m_camera.eyePosition() - held.centre);
    const UserImportedMesh &mesh = *selected->mesh();
    Turn turn;
    turn.entry = selected;
    turn.axis = axis;
    turn.pivot = *pivot;
    turn.lastScreenAngle = screenAngle(*pivot, position);
    turn.sense = facing < 0.0f ? -1.0 : 1.0;
    turn.startPosition = mesh.position();
    turn.startRotation = mesh.rotation();
    turn.gimbal = held;
    turn.gimbal.activeAxis = axis;
    m_turn = turn;
}

void SceneEditor::turnTo(const QPointF &position, bool snap)
{
    if (!m_turn)
        return;
    Turn &turn = *m_turn;
    const double angle = screenAngle(turn.pivot, position);
    // The step since the last move, the short way round: the sweep goes on past 180.
    turn.swept += std::remainder(angle - turn.lastScreenAngle, 360.0);
    turn.lastScreenAngle = angle;
    double degrees = turn.sense * turn.swept;
    if (snap)
        degrees = std::round(degrees / kTurnSnapStep) * kTurnSnapStep;
    if (degrees == turn.degrees)
        return;
    turn.degrees = degrees;
    UserImportedMesh &mesh = *turn.entry->mesh();
    mesh.setPosition(turn.startPosition);
    mesh.setRotation(turn.startRotation);
    mesh.rotate(turn.axis, float(degrees));
    mesh.placeOnPlatform();
    emit gimbalTurnChanged(turn.axis, degrees);
}

bool SceneEditor::cancelTurn()
{
    if (!m_turn)
        return false;
    UserImportedMesh &mesh = *m_turn->entry->mesh();
    mesh.setPosition(m_turn->startPosition);
    mesh.setRotation(m_turn->startRotation);
    m_turn.reset();
    return true;
}

void SceneEditor::finishTurn()
{
    if (!m_turn)
        return;
    const Turn turn = *m_turn;
    cancelTurn();
    if (std::abs(turn.degrees) < kSmallestTurn || !isInScene(turn.entry) || m_platform.selectedModel() != turn.entry)
        return;
    // The whole drag is one step of the history, the same as a turn typed into the panel.
    QVector3D angles;
    angles[turn.axis] = float(turn.degrees);
    m_platform.setSelectedModelRotation(angles.x(), angles.y(), angles.z());
    checkPlacement();
    answerGeneralInfoRequest();
    answerTransformationRequest();
}

void SceneEditor::selectBase(const SceneRay &ray)
{
    const PlatformModel::Entry selected = m_platform.selectedModel();
    if (!selected)
        return;
    const std::optional<ScenePicking::SurfaceHit> hit = ScenePicking::surfaceHit(*selected->mesh(), ray);
    if (!hit)
        return;
    m_baseArrow.reset();
    const QVector3D n = hit->normal;
    if (QVector3D::dotProduct(n, QVector3D(0.0f, -1.0f, 0.0f)) < kFaceDownCosine) {
        // Two turns about world axes bring the face's normal straight down: about x until
        // it points down with no z part, then about z. Each is a step of the history.
        const double rho = std::sqrt(double(n.y()) * n.y() + double(n.z()) * n.z());
        const float alpha = rho > 1e-6 ? float(qRadiansToDegrees(std::atan2(double(n.z()), -double(n.y())))) : 0.0f;
        const float beta = float(qRadiansToDegrees(std::atan2(-double(n.x()), rho)));
        if (std::abs(alpha) > kSmallestTurn)
            m_platform.setSelectedModelRotation(alpha, 0.0, 0.0);
        if (std::abs(beta) > kSmallestTurn)
            m_platform.setSelectedModelRotation(0.0, 0.0, beta);
    }
    answerGeneralInfoRequest();
    answerTransformationRequest();
}

void SceneEditor::editSupportsHover(const SceneRay &ray)
{
    clearSupportHover();
    const PlatformModel::Entry selected = m_platform.selectedModel();
    if (!m_modes.inEditSupportMode || !selected || !selected->mesh()->hasSupports())
        return;
    UserImportedMesh &mesh = *selected->mesh();
    if (const UserImportedMeshSingleAnchorSupports *anchor = mesh.pickAnchor(ray.origin, ray.direction)) {
        for (const auto &candidate : mesh.supports().anchors()) {
            if (candidate.get() == anchor)
                candidate->setHighlighted(true);
        }
        return;
    }
    m_supportTip = mesh.pick(ray.origin, ray.direction);
}

void SceneEditor::clearSupportHover()
{
    m_supportTip.reset();
    for (const PlatformModel::Entry &entry : m_platform.models()) {
        if (entry->mesh()->hasSupports())
            entry->mesh()->deactivateAllAnchors();
    }
}

void SceneEditor::resetHelpers()
{
    cancelTurn();
    if (m_drag) {
        m_drag->entry->mesh()->endDrag();
        m_drag.reset();
    }
    m_baseArrow.reset();
    clearSupportHover();
    m_reportedGimbal.reset();
}

bool SceneEditor::isInScene(const PlatformModel::Entry &entry) const
{
    return m_platform.models().contains(entry);
}

// --- Gimbal and snapshot ---------------------------------------------------------------

bool SceneEditor::isGimbalEnabled() const
{
    return m_modes.gimbalCanRender && m_platform.selectedModel() && !m_modes.inSelectBaseMode
        && !m_modes.inEditSupportMode;
}

namespace {

SceneSnapshot::Gimbal gimbalOf(const UserImportedMesh &mesh, bool fixedRotationMode)
{
    const BoundingBox box = mesh.worldBoundingBox();
    const QVector3D low(float(box.minX), float(box.minY), float(box.minZ));
    const QVector3D high(float(box.maxX), float(box.maxY), float(box.maxZ));
    return {(low + high) / 2.0f, (high - low).length() / 2.0f, fixedRotationMode};
}

} // namespace

SceneSnapshot::Gimbal SceneEditor::gimbal() const
{
    if (m_turn)
        return m_turn->gimbal;
    return gimbalOf(*m_platform.selectedModel()->mesh(), m_modes.gimbalFixedRotationModeEnabled);
}

void SceneEditor::frameSynchronized()
{
    if (!isGimbalEnabled()) {
        m_reportedGimbal.reset();
        if (!m_gimbalReportedDisabled) {
            m_gimbalReportedDisabled = true;
            emit gimbalIsDisabled();
        }
        return;
    }
    m_gimbalReportedDisabled = false;
    const SceneSnapshot::Gimbal shown = gimbal();
    // The ring's outline as the user sees it: the centre moved by the radius along the
    // screen's axes.
    const QVector3D up = m_camera.upVector() * shown.radius;
    const QVector3D left = m_camera.sideVector() * shown.radius;
    const std::optional<QPointF> top = m_camera.projectToPixel(shown.centre + up);
    const std::optional<QPointF> right = m_camera.projectToPixel(shown.centre - left);
    const std::optional<QPointF> bottom = m_camera.projectToPixel(shown.centre - up);
    const std::optional<QPointF> leftPoint = m_camera.projectToPixel(shown.centre + left);
    if (!top || !right || !bottom || !leftPoint)
        return;
    const std::array<QPointF, 4> points {*top, *right, *bottom, *leftPoint};
    if (m_reportedGimbal && *m_reportedGimbal == points)
        return;
    m_reportedGimbal = points;
    emit gimbalBoundingPointsReceived(points[0], points[1], points[2], points[3]);
}

SceneSnapshot SceneEditor::snapshot() const
{
    SceneSnapshot scene;
    scene.viewMatrix = m_camera.viewMatrix();
    scene.projectionMatrix = m_camera.projectionMatrix();
    scene.area = area();
    scene.wallsCrossed = crossedWalls();
    const PlatformModel::Entry &selected = m_platform.selectedModel();
    for (const PlatformModel::Entry &entry : m_platform.models()) {
        const std::shared_ptr<UserImportedMesh> &mesh = entry->mesh();
        SceneSnapshot::Model model;
        model.mesh = mesh;
        model.modelMatrix = mesh->modelMatrix();
        model.selected = entry == selected;
        // While a gimbal ring turns the model, working its overhangs out again for every
        // step would cost more than drawing the frame: the view shows the faces turned
        // downwards from what it draws, and the overhangs again once the ring is let go.
        model.turning = model.selected && m_turn;
        if (model.selected && !m_turn)
            model.overhangs = selectedOverhangs();
        if (mesh->hasSupports()) {
            model.supportTriangles = mesh->supports().triangles();
            model.supportMatrix = mesh->supportMatrix();
            for (const auto &anchor : mesh->supports().anchors()) {
                if (anchor->isHighlighted())
                    model.highlightedAnchors.push_back(anchor.get());
            }
        }
        scene.models.push_back(std::move(model));
    }
    if (isGimbalEnabled())
        scene.gimbal = gimbal();
    if (m_modes.inSelectBaseMode)
        scene.baseArrow = m_baseArrow;
    if (m_modes.inEditSupportMode)
        scene.supportTip = m_supportTip;
    if (m_hollowing.wall > 0.0 || m_modes.inPlaceDrainHoleMode) {
        scene.drainHoles = hollowing().drainHoles;
        scene.drainHoleRadius = float(m_hollowing.drainDiameter / 2.0);
    }
    return scene;
}

std::shared_ptr<const std::vector<int>> SceneEditor::selectedOverhangs() const
{
    const PlatformModel::Entry &selected = m_platform.selectedModel();
    if (!selected)
        return {};
    const UserImportedMesh &mesh = *selected->mesh();
    // A move across the platform changes no overhang: the faces are looked at as if the
    // model stood at x = z = 0, so that dragging it works nothing out again.
    QMatrix4x4 modelMatrix = mesh.modelMatrix();
    modelMatrix(0, 3) = 0.0f;
    modelMatrix(2, 3) = 0.0f;
    const QList<MeshTriangle *> supportTriangles
        = mesh.hasSupports() ? mesh.supports().triangles() : QList<MeshTriangle *>();
    if (m_overhangs.faces && m_overhangs.mesh == &mesh && m_overhangs.modelMatrix == modelMatrix
        && m_overhangs.supportTriangles.isSharedWith(supportTriangles))
        return m_overhangs.faces;
    // Where the supports touch the model: their engine points, brought into the scene.
    std::vector<QVector3D> contacts;
    if (mesh.hasSupports()) {
        QMatrix4x4 supportMatrix = mesh.supportMatrix();
        supportMatrix(0, 3) -= mesh.modelMatrix()(0, 3);
        supportMatrix(2, 3) -= mesh.modelMatrix()(2, 3);
        for (const auto &anchor : mesh.supports().anchors())
            contacts.push_back(supportMatrix.map(UserImportedMeshSupports::fromEngineFrame(anchor->enginePoint())));
    }
    m_overhangs = {&mesh, modelMatrix, supportTriangles,
        std::make_shared<const std::vector<int>>(OverhangCheck::unsupported(mesh.triangles(), modelMatrix, contacts))};
    return m_overhangs.faces;
}

// --- Import ------------------------------------------------------------------------------

void SceneEditor::scheduleImport()
{
    if (!m_filesToImport.isEmpty() && !m_modelBeingAdded)
        QMetaObject::invokeMethod(this, &SceneEditor::importPendingFiles, Qt::QueuedConnection);
}

void SceneEditor::importPendingFiles()
{
    // One import at a time: requests that arrive meanwhile join its queue.
    if (m_importing)
        return;
    const std::shared_ptr<SceneEditor> keepAlive = shared_from_this();
    m_importing = true;
    while (!m_modelBeingAdded && !m_filesToImport.isEmpty()) {
        const QString path = m_filesToImport.takeFirst();
        const PlatformModel::Entry entry
            = ModelEntry::fromFile(path, [this](int percent) { emit importProgressUpdated(percent); });
        emit importProgressUpdated(100);
        if (!entry) {
            qDebug().noquote() << "ERROR. OpenGLRenderer::addModels. Nothing could be imported from " + path;
            continue;
        }
        switch (entry->status()) {
        case ImportStatus::NeedsUnitsChoice:
            setModelBeingAdded(entry);
            emit sendPromptUserForInchesOrMM();
            break;
        case ImportStatus::TooLarge:
            setModelBeingAdded(entry);
            emit sendPromptUserForResizeToFitPlatform();
            break;
        case ImportStatus::Ready:
        case ImportStatus::Unchecked:
            commitImportedModel(entry);
            break;
        }
    }
    m_importing = false;
}

void SceneEditor::setModelBeingAdded(const PlatformModel::Entry &entry)
{
    if (m_modelBeingAdded == entry)
        return;
    m_modelBeingAdded = entry;
    emit importedModelChanged();
}

void SceneEditor::setImportedModelUnits(bool isInches)
{
    if (!m_modelBeingAdded) {
        qDebug().noquote() << "ERROR. RendererQMLItem::setImportedModelUnits. No imported model waits for its units";
        return;
    }
    finishUnitsAnswer(m_modelBeingAdded->setImportedModelUnits(isInches));
}

void SceneEditor::setImportedModelScale(double factor)
{
    if (!m_modelBeingAdded) {
        qDebug().noquote() << "ERROR. RendererQMLItem::setImportedModelScale. No imported model waits for its units";
        return;
    }
    if (!ImportChecks::isUsableFactor(factor)) {
        qDebug().noquote() << "ERROR. RendererQMLItem::setImportedModelScale. Scale refused: "
                + QString::number(factor);
        return;
    }
    finishUnitsAnswer(m_modelBeingAdded->setImportedModelScale(factor));
}

void SceneEditor::finishUnitsAnswer(int result)
{
    if (result < 0) {
        emit importedModelChanged();
        emit sendPromptUserForResizeToFitPlatform();
        return;
    }
    const PlatformModel::Entry entry = m_modelBeingAdded;
    setModelBeingAdded(nullptr);
    commitImportedModel(entry);
    scheduleImport();
}

void SceneEditor::resizeImportedModelToFitPlatform(bool shouldResize)
{
    if (!m_modelBeingAdded) {
        qDebug().noquote()
            << "ERROR. RendererQMLItem::resizeImportedModelToFitPlatform. No imported model waits for its size";
        return;
    }
    m_modelBeingAdded->resizeImportedModelToFitPlatform(shouldResize);
    const PlatformModel::Entry entry = m_modelBeingAdded;
    setModelBeingAdded(nullptr);
    commitImportedModel(entry);
    scheduleImport();
}

QVector3D SceneEditor::importedModelSize() const
{
    return m_modelBeingAdded ? m_modelBeingAdded->importedSize() : QVector3D();
}

QVector3D SceneEditor::importedModelResizedSize() const
{
    return m_modelBeingAdded ? m_modelBeingAdded->importedSizeResizedToFit() : QVector3D();
}

void SceneEditor::commitImportedModel(const PlatformModel::Entry &entry)
{
    m_platform.addEntry(entry);
    placeOnSmallPlatform(entry);
    m_platform.selectModel(entry);
    reportChanges();
    checkPlacement();
    answerGeneralInfoRequest();
    answerTransformationRequest();
    emit sceneChanged();
}

// --- Scale to fit ------------------------------------------------------------------------

bool SceneEditor::fitsPlatform(const QVector3D &size) const
{
    return PlatformModel::fitsArea(size, area().halfWidth, area().halfDepth);
}

QVector3D SceneEditor::selectedModelFitSize() const
{
    const PlatformModel::Entry &selected = m_platform.selectedModel();
    if (!selected)
        return QVector3D();
    const QVector3D size = selected->mesh()->dimensions();
    if (fitsPlatform(size))
        return QVector3D();
    return size * float(PlatformModel::fitFactor(size, area().halfWidth, area().halfDepth));
}

void SceneEditor::scaleSelectedModelToFit()
{
    if (!acceptsModelEdits()) {
        qDebug().noquote() << "ERROR OpenGLRenderer::scaleSelectedModelToFit. Supports are being generated";
        return;
    }
    if (!m_platform.selectedModel()) {
        qDebug().noquote() << "ERROR OpenGLRenderer::updateSelectedModel. No model selected";
        return;
    }
    if (!m_platform.scaleSelectedModelToFit(area().halfWidth, area().halfDepth))
        return;
    reportChanges();
    checkPlacement();
    answerGeneralInfoRequest();
    answerTransformationRequest();
    emit sceneChanged();
}

void SceneEditor::reportFit()
{
    const QVector3D fit = selectedModelFitSize();
    if (fit == m_reportedFit)
        return;
    m_reportedFit = fit;
    emit scaleToFitChanged(fit);
}

void SceneEditor::placeOnSmallPlatform(const PlatformModel::Entry &entry)
{
    if (m_modes.platformIs75Microns && entry->status() == ImportStatus::Ready)
        area().placeOnFreeSpace(*entry->mesh(), m_platform.models());
}

// --- Supports ----------------------------------------------------------------------------

void SceneEditor::runSupportGeneration()
{
    if (!m_supportJob)
        return;
    const std::shared_ptr<SceneEditor> keepAlive = shared_from_this();
    const SupportJob job = *m_supportJob;
    if (!isInScene(job.entry)) {
        // Deleted between the request and its turn.
        m_supportJob.reset();
        emit sceneChanged();
        return;
    }
    // Islands the engine's sampling misses (slivers thinner than its grid) get a support of
    // their own, as the command line's supports do.
    const double horizontalScale = m_modes.platformIs75Microns ? 4.0 / 3.0 : 1.0;
    const bool generated = m_platform.generateSupports(
        job.entry, job.density, job.strength, job.noLift, job.raft,
        [this](int percent) { emit supportGenerationProgressWasUpated(percent); },
        [horizontalScale](CDLPMain &engine) { IslandCheck::repairSupports(engine, 0.1, horizontalScale); });
    if (!generated)
        qDebug().noquote() << "ERROR. OpenGLRenderer::addSupportsToSelectedModel. Supports could not be generated";
    m_supportJob.reset();
    reportChanges();
    emit supportGenerationProgressWasUpated(100);
    checkPlacement();
    answerGeneralInfoRequest();
    answerTransformationRequest();
    emit sceneChanged();
}

// --- Output ------------------------------------------------------------------------------

std::array<bool, CollisionWall::kKinds> SceneEditor::crossedWalls() const
{
    std::array<bool, CollisionWall::kKinds> crossed {};
    const PlatformArea platformArea = area();
    for (const PlatformModel::Entry &entry : m_platform.models()) {
        const std::array<bool, CollisionWall::kKinds> walls
            = platformArea.crossedWalls(entry->mesh()->worldBoundingBox());
        for (int kind = 0; kind < CollisionWall::kKinds; ++kind)
            crossed[size_t(kind)] = crossed[size_t(kind)] || walls[size_t(kind)];
    }
    return crossed;
}

bool SceneEditor::doAnyModelsIntersectWalls()
{
    const bool platformModelAnswer = m_platform.doAnyModelsIntersectWalls();
    if (!m_modes.platformIs75Microns)
        return platformModelAnswer;
    const std::array<bool, CollisionWall::kKinds> walls = crossedWalls();
    return std::any_of(walls.begin(), walls.end(), [](bool crossed) { return crossed; });
}

namespace {

// The plate's print triangles, every model's before every support's (only models are
// hollowed); *firstSupport is where the supports start.
std::vector<MeshTriangle> platePrintTriangles(const PlatformModel &platform, bool is100Micron, int *firstSupport)
{
    std::vector<MeshTriangle> models;
    std::vector<MeshTriangle> supports;
    for (const PlatformModel::Entry &entry : platform.models()) {
        const std::vector<MeshTriangle> triangles = entry->mesh()->printTriangles(is100Micron);
        const auto split = triangles.begin() + std::min(triangles.size(), size_t(entry->mesh()->triangles().size()));
        models.insert(models.end(), triangles.begin(), split);
        supports.insert(supports.end(), split, triangles.end());
    }
    *firstSupport = int(models.size());
    models.insert(models.end(), supports.begin(), supports.end());
    return models;
}

// The hollowing for the slicer: its pixels, and the drain holes turned from the scene's
// frame (y up) into the slicer's (z up, x and y in pixels of 0.1 mm units; see GenSlices).
GenSlices::Hollowing slicerHollowing(GenSlices::Hollowing hollowing, bool is75Microns)
{
    const double pixel = is75Microns ? 0.075 : 0.1;
    hollowing.pixelSize = pixel;
    const float horizontal = float(0.1 / pixel);
    for (QVector3D &hole : hollowing.drainHoles)
        hole = QVector3D(hole.x() * horizontal, -hole.z() * horizontal, hole.y());
    return hollowing;
}

} // namespace

bool SceneEditor::saveSlices(const QString &filePath, int layerThicknessMicrons, bool antialiasingEnabled,
    int supersampling, const GenSlices::ProgressFunction &progress)
{
    if (m_slicing) {
        qDebug().noquote() << "ERROR. RendererQMLItem::saveSlices. Slicing is running already";
        return false;
    }
    if (layerThicknessMicrons <= 0) {
        qDebug().noquote() << "ERROR. RendererQMLItem::saveSlices. Layer thickness must be positive: "
                + QString::number(layerThicknessMicrons);
        return false;
    }
    // The scene is copied before slicing starts: edits made while it runs do not reach
    // the job.
    GenSlices::Settings settings;
    std::vector<MeshTriangle> triangles
        = platePrintTriangles(m_platform, !m_modes.platformIs75Microns, &settings.firstSupportTriangle);
    if (triangles.empty()) {
        qDebug().noquote() << "ERROR. RendererQMLItem::saveSlices. No models to slice";
        return false;
    }
    QList<MeshTriangle *> pointers;
    pointers.reserve(int(triangles.size()));
    for (MeshTriangle &triangle : triangles)
        pointers.append(&triangle);
    settings.layerThickness = layerThicknessMicrons * 0.001;
    settings.rotation = QVector3D(90.0f, 0.0f, 0.0f);
    settings.antialias = antialiasingEnabled;
    settings.supersampling = supersampling;
    settings.jobDescription = m_modes.platformIs75Microns ? QStringLiteral("sliced at 75 microns")
                                                          : QStringLiteral("sliced at 100 microns");
    settings.hollowing = slicerHollowing(hollowing(), m_modes.platformIs75Microns);
    const std::shared_ptr<SceneEditor> keepAlive = shared_from_this();
    m_slicing = true;
    GenSlices slicer;
    const bool sliced = slicer.saveSlices(pointers, filePath, settings, progress);
    m_slicing = false;
    return sliced;
}

QString SceneEditor::printFilePath() const
{
    QStringList names;
    for (const PlatformModel::Entry &entry : m_platform.models())
        names << QFileInfo(entry->sourcePath()).fileName();
    return SliceJobWriter::printFilePath(names);
}

// --- Placement warnings ------------------------------------------------------------------

QStringList SceneEditor::placementWarnings() const
{
    const QList<PlatformModel::Entry> &models = m_platform.models();
    const PlatformArea platformArea = area();
    const auto name = [](const PlatformModel::Entry &entry) { return QFileInfo(entry->sourcePath()).fileName(); };
    QStringList outside;
    QStringList open;
    QList<QPair<QString, QString>> overlaps;
    for (int i = 0; i < models.size(); ++i) {
        const BoundingBox box = models.at(i)->mesh()->worldBoundingBox();
        if (platformArea.isCrossedBy(box))
            outside << name(models.at(i));
        if (models.at(i)->openEdges() > 0 && !open.contains(name(models.at(i))))
            open << name(models.at(i));
        for (int j = i + 1; j < models.size(); ++j) {
            if (boxesOverlap(box, models.at(j)->mesh()->worldBoundingBox()))
                overlaps.append({name(models.at(i)), name(models.at(j))});
        }
    }
    QStringList warnings;
    if (overlaps.size() == 1)
        warnings << tr("%1 and %2 overlap.").arg(overlaps.first().first, overlaps.first().second);
    else if (!overlaps.isEmpty())
        warnings << tr("%1 pairs of models overlap (Arrange sets them apart).").arg(overlaps.size());
    if (outside.size() == 1)
        warnings << tr("%1 is outside the build area (a red wall shows where).").arg(outside.first());
    else if (!outside.isEmpty())
        warnings << tr("%1 models are outside the build area (the red walls show where).").arg(outside.size());
    for (const QString &model : qAsConst(open))
        warnings << tr("%1 is not a closed surface: it may print with holes or not at all.").arg(model);
    return warnings;
}

void SceneEditor::checkPlacement(const QString &event)
{
    // The platform may have changed under the selected model (the other printer).
    reportFit();
    QStringList lines = placementWarnings();
    if (!event.isEmpty())
        lines.prepend(event);
    const QString warning = lines.join(QLatin1Char('\n'));
    if (warning == m_placementWarning)
        return;
    const QStringList before = m_placementWarning.split(QLatin1Char('\n'));
    for (const QString &line : qAsConst(lines)) {
        if (!before.contains(line))
            qDebug().noquote() << "NOTICE OpenGLRenderer::checkPlacement. " + line;
    }
    m_placementWarning = warning;
    emit placementWarningChanged(warning);
}

// --- Answers -----------------------------------------------------------------------------

void SceneEditor::answerTransformationRequest()
{
    const PlatformModel::Entry &selected = m_platform.selectedModel();
    if (!selected) {
        emit noModelSelectedAfterRequestingTransformation();
        return;
    }
    const UserImportedMesh &mesh = *selected->mesh();
    const QVector4D dimensions(mesh.unscaledDimensions(), mesh.dimensions().y());
    const BoundingBox box = mesh.worldBoundingBox();
    emit selectedModelSizeReceived(
        QVector3D(float(box.maxX - box.minX), float(box.maxY - box.minY), float(box.maxZ - box.minZ)));
    emit selectedModelTransformationReceived(
        mesh.position(), mesh.userScale(), dimensions, QFileInfo(selected->sourcePath()).fileName(), mesh.volume());
}

void SceneEditor::answerGeneralInfoRequest()
{
    emit platformInfoReceived(m_platform.maxModelHeight(), m_platform.totalModelVolume());
}
