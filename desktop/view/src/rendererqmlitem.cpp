#include "rendererqmlitem.h"

#include "filehandoffreceiver.h"
#include "renderercontainer.h"
#include "sceneeditor.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <utility>

namespace {

// A path as the page may give it: a plain path, or a file URL from a file dialog.
QString localPath(const QString &path)
{
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(path);
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return path;
}

} // namespace

RendererQMLItem::RendererQMLItem(QQuickItem *parent)
    : QQuickFramebufferObject(parent)
    , m_editor(std::make_shared<SceneEditor>())
{
    // The framebuffer holds the scene with OpenGL's lower-left origin; the item shows it
    // mirrored, the right way up: pixel for pixel at rest, each pixel over four while the
    // camera moves (unsmoothed: smoothing would cost time in every frame).
    setMirrorVertically(true);
    setSmooth(false);
    // The framebuffer's size is the renderer's to choose (smaller while the camera moves):
    // a new size of the item asks for a frame, which makes the framebuffer again.
    setTextureFollowsItemSize(false);
    connect(this, &QQuickItem::widthChanged, this, &QQuickItem::update);
    connect(this, &QQuickItem::heightChanged, this, &QQuickItem::update);
    SceneEditor *scene = m_editor.get();
    connect(scene, &SceneEditor::selectedModelTransformationReceived, this,
        &RendererQMLItem::selectedModelTransformationReceived);
    connect(scene, &SceneEditor::noModelSelectedAfterRequestingTransformation, this,
        &RendererQMLItem::noModelSelectedAfterRequestingTransformation);
    connect(scene, &SceneEditor::platformInfoReceived, this, &RendererQMLItem::platformInfoReceived);
    connect(scene, &SceneEditor::gimbalBoundingPointsReceived, this, &RendererQMLItem::gimbalBoundingPointsReceived);
    connect(scene, &SceneEditor::gimbalIsDisabled, this, &RendererQMLItem::gimbalIsDisabled);
    connect(scene, &SceneEditor::gimbalTurnChanged, this, &RendererQMLItem::gimbalTurnChanged);
    connect(scene, &SceneEditor::selectedModelSizeReceived, this, &RendererQMLItem::selectedModelSizeReceived);
    connect(scene, &SceneEditor::sendPromptUserForInchesOrMM, this, &RendererQMLItem::sendPromptUserForInchesOrMM);
    connect(scene, &SceneEditor::sendPromptUserForResizeToFitPlatform, this,
        &RendererQMLItem::sendPromptUserForResizeToFitPlatform);
    connect(scene, &SceneEditor::supportGenerationProgressWasUpated, this, &RendererQMLItem::supportProgress);
    connect(scene, &SceneEditor::importProgressUpdated, this, &RendererQMLItem::importProgress);
    connect(scene, &SceneEditor::sceneChanged, this, &QQuickItem::update);
    connect(scene, &SceneEditor::historyChanged, this, &RendererQMLItem::historyChanged);
    connect(scene, &SceneEditor::modelListChanged, this, &RendererQMLItem::modelListChanged);
    connect(scene, &SceneEditor::placementWarningChanged, this, [this](const QString &warning) {
        m_placementWarning = warning;
        emit placementWarningChanged();
    });
    connect(scene, &SceneEditor::importedModelChanged, this, &RendererQMLItem::importedModelChanged);
    connect(scene, &SceneEditor::drainHolesChanged, this, &RendererQMLItem::drainHolesChanged);
    connect(scene, &SceneEditor::scaleToFitChanged, this, [this](const QVector3D &fitSize) {
        m_scaleToFitSize = fitSize;
        emit scaleToFitSizeChanged();
    });
    m_cameraRest.setSingleShot(true);
    m_cameraRest.setInterval(kCameraRestMilliseconds);
    connect(&m_cameraRest, &QTimer::timeout, this, &RendererQMLItem::cameraRested);
}

RendererQMLItem::~RendererQMLItem() = default;

void RendererQMLItem::registerQmlType()
{
    qmlRegisterType<RendererQMLItem>("GLRenderer", 1, 0, "OpenGLRenderer");
}

QQuickFramebufferObject::Renderer *RendererQMLItem::createRenderer() const
{
    return new RendererContainer();
}

// --- Properties ----------------------------------------------------------------------------

void RendererQMLItem::setMode(bool ModeFlags::*flag, bool enabled, void (RendererQMLItem::*changed)())
{
    if (m_requests.modes.*flag == enabled)
        return;
    m_requests.modes.*flag = enabled;
    m_requests.modes.pending = true;
    update();
    emit(this->*changed)();
}

void RendererQMLItem::setInchesMode(bool enabled)
{
    setMode(&ModeFlags::inchesMode, enabled, &RendererQMLItem::inchesModeChanged);
}

void RendererQMLItem::setPlatformIs75Microns(bool enabled)
{
    setMode(&ModeFlags::platformIs75Microns, enabled, &RendererQMLItem::platformIs75MicronsChanged);
}

void RendererQMLItem::setGimbalCanRender(bool enabled)
{
    setMode(&ModeFlags::gimbalCanRender, enabled, &RendererQMLItem::gimbalCanRenderChanged);
}

void RendererQMLItem::setGimbalFixedRotationModeEnabled(bool enabled)
{
    if (m_requests.modes.gimbalFixedRotationModeEnabled == enabled)
        return;
    setMode(&ModeFlags::gimbalFixedRotationModeEnabled, enabled, &RendererQMLItem::gimbalFixedRotationModeChanged);
    emit gimbalFixedRotationModeEnabledChanged();
}

void RendererQMLItem::setInSelectBaseMode(bool enabled)
{
    setMode(&ModeFlags::inSelectBaseMode, enabled, &RendererQMLItem::inSelectBaseModeChanged);
}

void RendererQMLItem::setInEditSupportMode(bool enabled)
{
    setMode(&ModeFlags::inEditSupportMode, enabled, &RendererQMLItem::inEditSupportModeChanged);
}

void RendererQMLItem::setInPlaceDrainHoleMode(bool enabled)
{
    setMode(&ModeFlags::inPlaceDrainHoleMode, enabled, &RendererQMLItem::inPlaceDrainHoleModeChanged);
}

QVariantList RendererQMLItem::drainHoles() const
{
    QVariantList holes;
    for (const QVector3D &hole : m_editor->hollowing().drainHoles) {
        QVariantMap entry;
        entry.insert(QStringLiteral("x"), hole.x());
        entry.insert(QStringLiteral("y"), hole.z());
        entry.insert(QStringLiteral("z"), hole.y());
        holes.append(entry);
    }
    return holes;
}

void RendererQMLItem::removeDrainHole(int index)
{
    m_editor->removeDrainHole(index);
}

void RendererQMLItem::historyChanged(bool canUndo, bool canRedo)
{
    if (std::exchange(m_canUndo, canUndo) != canUndo)
        emit canUndoChanged();
    if (std::exchange(m_canRedo, canRedo) != canRedo)
        emit canRedoChanged();
}

// --- Files ---------------------------------------------------------------------------------

void RendererQMLItem::openFileFromSharedMemory(const QString &filePath)
{
    qDebug().noquote() << "RendererQMLItem::openFileFromSharedMemory. File path: " + filePath;
    if (FileHandOffReceiver::isPrintJobPath(filePath))
        emit loadSSJToViewer(filePath);
    else
        addModels(QStringList {filePath});
}

void RendererQMLItem::addModels(const QStringList &modelFilePathsList)
{
    for (const QString &path : modelFilePathsList)
        m_requests.modelFiles << localPath(path);
    update();
}

void RendererQMLItem::manuallyRerender()
{
    m_requests.modelUpdatePending = true;
    update();
}

// --- Camera --------------------------------------------------------------------------------

void RendererQMLItem::cameraMoved()
{
    m_cameraMoving = true;
    m_cameraRest.start();
}

// The frame at rest draws every model whole.
void RendererQMLItem::cameraRested()
{
    m_cameraRest.stop();
    if (!m_cameraMoving)
        return;
    m_cameraMoving = false;
    update();
}

// The rest timer lives on the item's thread: started and stopped there. This frame already
// draws as the flag says.
void RendererQMLItem::followMouseMotion(bool wasHolding, const MouseRequest &mouse)
{
    using Action = MouseRequest::Action;
    const bool moved = std::any_of(mouse.events.begin(), mouse.events.end(), [](const MouseRequest::Event &event) {
        return event.action == Action::MoveModel || event.action == Action::DragGimbalMoveIcon
            || event.action == Action::DragGimbalRotationHandle;
    });
    if (m_editor->isMouseHolding() && moved) {
        m_cameraMoving = true;
        QMetaObject::invokeMethod(this, &RendererQMLItem::cameraMoved, Qt::QueuedConnection);
    } else if (wasHolding && !m_editor->isMouseHolding() && m_cameraMoving) {
        // Let go: this frame is the one at rest.
        m_cameraMoving = false;
        QMetaObject::invokeMethod(this, &RendererQMLItem::cameraRested, Qt::QueuedConnection);
    }
}

void RendererQMLItem::zoomCamera(int zoomWheelDelta)
{
    cameraMoved();
    m_requests.camera.zoomAmount += OpenGLCamera::zoomAmount(zoomWheelDelta);
    m_requests.camera.pending = true;
    update();
}

void RendererQMLItem::rotateCamera(int deltaXFromRotationAnchor, int deltaYFromRotationAnchor)
{
    cameraMoved();
    m_requests.camera.rotation = OpenGLCamera::rotationAmount(deltaXFromRotationAnchor, deltaYFromRotationAnchor);
    m_requests.camera.pending = true;
    update();
}

void RendererQMLItem::placeRotationAnchor()
{
    m_requests.camera.placeRotationAnchor = true;
    m_requests.camera.releaseRotationAnchor = false;
    m_requests.camera.rotation = QPointF();
    m_requests.camera.pending = true;
    update();
}

void RendererQMLItem::releaseRotationAnchor()
{
    cameraRested();
    m_requests.camera.releaseRotationAnchor = true;
    m_requests.camera.pending = true;
    update();
}

void RendererQMLItem::panCamera(int deltaXFromPanningAnchor, int deltaYFromPanningAnchor)
{
    cameraMoved();
    m_requests.camera.panning = OpenGLCamera::panningAmount(deltaXFromPanningAnchor, deltaYFromPanningAnchor);
    m_requests.camera.pending = true;
    update();
}

void RendererQMLItem::placePanningAnchor()
{
    m_requests.camera.placePanningAnchor = true;
    m_requests.camera.releasePanningAnchor = false;
    m_requests.camera.panning = QPointF();
    m_requests.camera.pending = true;
    update();
}

void RendererQMLItem::releasePanningAnchor()
{
    cameraRested();
    m_requests.camera.releasePanningAnchor = true;
    m_requests.camera.pending = true;
    update();
}

void RendererQMLItem::beginFixedCameraMovement()
{
    m_cameraMovementDone = false;
}

void RendererQMLItem::requestCameraStep(OpenGLCamera::PresetView view)
{
    cameraMoved();
    m_requests.camera.presetView = view;
    m_requests.camera.pending = true;
    update();
}

void RendererQMLItem::moveCameraTowardsHome()
{
    requestCameraStep(OpenGLCamera::PresetView::Home);
}

void RendererQMLItem::moveCameraTowardsRight()
{
    requestCameraStep(OpenGLCamera::PresetView::Right);
}

void RendererQMLItem::moveCameraTowardsLeft()
{
    requestCameraStep(OpenGLCamera::PresetView::Left);
}

void RendererQMLItem::moveCameraTowardsTop()
{
    requestCameraStep(OpenGLCamera::PresetView::Top);
}

void RendererQMLItem::moveCameraTowardsFront()
{
    requestCameraStep(OpenGLCamera::PresetView::Front);
}

// --- Selection and model edits ---------------------------------------------------------------

void RendererQMLItem::recordModelEdit(const ModelEditRequest &edit)
{
    using Action = ModelEditRequest::Action;
    // A new value of the same setting replaces the one not yet applied (a field typed into
    // twice within a frame sets it once); any other edit is kept, in its order.
    const bool setting = edit.action == Action::SetPosition || edit.action == Action::SetRotation
        || edit.action == Action::SetScale;
    if (setting && !m_requests.modelEdits.empty() && m_requests.modelEdits.back().action == edit.action) {
        ModelEditRequest &last = m_requests.modelEdits.back();
        const bool generalInfo = last.generalInfoRequested;
        const bool transformation = last.transformationRequested;
        last = edit;
        last.generalInfoRequested = generalInfo;
        last.transformationRequested = transformation;
    } else {
        m_requests.modelEdits.push_back(edit);
    }
    m_requests.modelEdits.back().pending = true;
    update();
}

ModelEditRequest &RendererQMLItem::lastModelEdit()
{
    // A request for an answer rides on the last edit, which answers after it is applied.
    if (m_requests.modelEdits.empty())
        recordModelEdit(ModelEditRequest());
    return m_requests.modelEdits.back();
}

void RendererQMLItem::modelSelectionButtonReleased()
{
    recordMouse(MouseRequest::Action::SelectionButtonReleased, 0.0, 0.0);
}

void RendererQMLItem::requestModelTransformations()
{
    lastModelEdit().transformationRequested = true;
    update();
}

void RendererQMLItem::requestGeneralModelInfo()
{
    lastModelEdit().generalInfoRequested = true;
    update();
}

void RendererQMLItem::setSelectedModelPosition(double xPosition, double yPosition)
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::SetPosition;
    edit.xPosition = float(xPosition);
    edit.yPosition = float(yPosition);
    recordModelEdit(edit);
}

void RendererQMLItem::setSelectedModelRotation(double xRotation, double yRotation, double zRotation)
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::SetRotation;
    edit.rotation = QVector3D(float(xRotation), float(yRotation), float(zRotation));
    recordModelEdit(edit);
}

void RendererQMLItem::resetSelectedModelRotation()
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::ResetRotation;
    recordModelEdit(edit);
}

void RendererQMLItem::setSelectedModelScale(double scaleFactor)
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::SetScale;
    edit.scale = scaleFactor;
    recordModelEdit(edit);
}

void RendererQMLItem::centerSelectedModelInPlatform()
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::CenterInPlatform;
    recordModelEdit(edit);
}

void RendererQMLItem::deleteSelectedModel()
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::Delete;
    recordModelEdit(edit);
}

void RendererQMLItem::duplicateSelectedModel(int numberOfDuplicates)
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::Duplicate;
    edit.numberOfDuplicates = numberOfDuplicates;
    recordModelEdit(edit);
}

void RendererQMLItem::removeSelectedModelDuplicates()
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::RemoveDuplicates;
    recordModelEdit(edit);
}

void RendererQMLItem::arrangeModels()
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::Arrange;
    recordModelEdit(edit);
}

void RendererQMLItem::clearAllModels()
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::ClearAll;
    recordModelEdit(edit);
}

void RendererQMLItem::undoAction()
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::Undo;
    recordModelEdit(edit);
}

void RendererQMLItem::redoAction()
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::Redo;
    recordModelEdit(edit);
}

void RendererQMLItem::setImportedModelUnits(bool isInches)
{
    m_editor->setImportedModelUnits(isInches);
    update();
}

void RendererQMLItem::resizeImportedModelToFitPlatform(bool shouldResize)
{
    m_editor->resizeImportedModelToFitPlatform(shouldResize);
    update();
}

void RendererQMLItem::setImportedModelScale(double factor)
{
    m_editor->setImportedModelScale(factor);
    update();
}

QVector3D RendererQMLItem::importedModelSize() const
{
    return m_editor->importedModelSize();
}

QVector3D RendererQMLItem::importedModelResizedSize() const
{
    return m_editor->importedModelResizedSize();
}

bool RendererQMLItem::fitsPlatform(const QVector3D &size) const
{
    // The printer chosen on the page, which reaches the scene with the next frame.
    const PlatformArea area = PlatformArea::forPrinter(m_requests.modes.platformIs75Microns);
    return PlatformModel::fitsArea(size, area.halfWidth, area.halfDepth);
}

void RendererQMLItem::scaleSelectedModelToFit()
{
    m_editor->scaleSelectedModelToFit();
    update();
}

// --- Supports --------------------------------------------------------------------------------

void RendererQMLItem::addSupportsToSelectedModel(double density, double strength)
{
    addSupportsToSelectedModel(density, strength, false, false);
}

void RendererQMLItem::addSupportsToSelectedModel(double density, double strength, bool noLift, bool raft)
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::AddSupports;
    edit.supportDensity = density;
    edit.supportStrength = strength;
    edit.supportNoLift = noLift;
    edit.supportRaft = raft;
    recordModelEdit(edit);
}

void RendererQMLItem::removeSupportsFromSelectedModel()
{
    ModelEditRequest edit;
    edit.action = ModelEditRequest::Action::RemoveSupports;
    recordModelEdit(edit);
}

// --- Mouse -----------------------------------------------------------------------------------

void RendererQMLItem::recordMouse(MouseRequest::Action action, double mouseX, double mouseY, int axis, bool snap)
{
    m_requests.mouse.add(action, QPointF(mouseX, mouseY), axis, snap);
    update();
}

void RendererQMLItem::selectModelAtPoint(double mouseX, double mouseY)
{
    recordMouse(MouseRequest::Action::SelectModel, mouseX, mouseY);
}

void RendererQMLItem::moveModelWithMouse(double mouseX, double mouseY)
{
    recordMouse(MouseRequest::Action::MoveModel, mouseX, mouseY);
}

void RendererQMLItem::selectBase(double mouseX, double mouseY)
{
    recordMouse(MouseRequest::Action::SelectBase, mouseX, mouseY);
}

void RendererQMLItem::showSelectBaseArrowAtPoint(double mouseX, double mouseY)
{
    recordMouse(MouseRequest::Action::ShowSelectBaseArrow, mouseX, mouseY);
}

void RendererQMLItem::moveMouseInEditSupportMode(double mouseX, double mouseY)
{
    recordMouse(MouseRequest::Action::MoveInEditSupportMode, mouseX, mouseY);
}

void RendererQMLItem::pressGimbalMoveIconAtPoint(double mouseX, double mouseY)
{
    recordMouse(MouseRequest::Action::PressGimbalMoveIcon, mouseX, mouseY);
}

void RendererQMLItem::dragGimbalMoveIconWithMouse(double mouseX, double mouseY)
{
    recordMouse(MouseRequest::Action::DragGimbalMoveIcon, mouseX, mouseY);
}

void RendererQMLItem::pressGimbalRotationHandleAtPoint(double mouseX, double mouseY, int axis)
{
    recordMouse(MouseRequest::Action::PressGimbalRotationHandle, mouseX, mouseY, axis);
}

void RendererQMLItem::dragGimbalRotationHandleWithMouse(double mouseX, double mouseY, bool snapToStep)
{
    recordMouse(MouseRequest::Action::DragGimbalRotationHandle, mouseX, mouseY, 0, snapToStep);
}

void RendererQMLItem::mouseClickInEditSupportMode(double mouseX, double mouseY)
{
    recordMouse(MouseRequest::Action::ClickInEditSupportMode, mouseX, mouseY);
}

void RendererQMLItem::manuallyDeleteSupport(double mouseX, double mouseY)
{
    recordMouse(MouseRequest::Action::DeleteSupport, mouseX, mouseY);
}

// --- Output ----------------------------------------------------------------------------------

bool RendererQMLItem::saveSlices(
    const QString &ssjName, int layerThickness, bool antialiasingEnabled, int antialiasingLevel)
{
    const QPointer<RendererQMLItem> self(this);
    const std::shared_ptr<SceneEditor> scene = m_editor;
    const auto progress = [self](int percent) {
        QCoreApplication::processEvents();
        if (!self) {
            // The page went away: there is nobody to hand the job to.
            GenSlices::requestCancel();
            return;
        }
        self->callPageFunction("advanceSliceStage", percent);
        emit self->sliceProgressUpdated(percent);
        QCoreApplication::processEvents();
    };
    return scene->saveSlices(localPath(ssjName), layerThickness, antialiasingEnabled, antialiasingLevel, progress);
}

void RendererQMLItem::setHollowing(bool hollow, double wallMillimetres, bool autoDrainHoles, double diameterMillimetres)
{
    GenSlices::Hollowing hollowing = m_editor->hollowing();
    const bool wallOk = wallMillimetres >= 0.5 && wallMillimetres <= 10.0;
    if (hollow && (!wallOk || !(diameterMillimetres > 0.0 && diameterMillimetres <= 20.0))) {
        qDebug().noquote() << QStringLiteral("ERROR. RendererQMLItem::setHollowing. Wall %1 mm or drain holes %2 mm "
                                             "out of range; the models stay solid")
                                  .arg(wallMillimetres)
                                  .arg(diameterMillimetres);
        hollow = false;
    }
    hollowing.wall = hollow ? wallMillimetres : 0.0;
    hollowing.autoDrainHoles = autoDrainHoles;
    if (hollow) {
        hollowing.drainDiameter = diameterMillimetres;
        QSettings settings;
        settings.beginGroup(QStringLiteral("hollowing"));
        settings.setValue(QStringLiteral("wall"), wallMillimetres);
        settings.setValue(QStringLiteral("autoDrainHoles"), autoDrainHoles);
        settings.setValue(QStringLiteral("drainDiameter"), diameterMillimetres);
    }
    m_editor->setHollowing(hollowing);
}

QVariantMap RendererQMLItem::savedHollowing() const
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("hollowing"));
    const double wall = settings.value(QStringLiteral("wall"), 2.0).toDouble();
    const double diameter = settings.value(QStringLiteral("drainDiameter"), 3.0).toDouble();
    return {{QStringLiteral("wall"), wall >= 0.5 && wall <= 10.0 ? wall : 2.0},
        {QStringLiteral("autoDrainHoles"), settings.value(QStringLiteral("autoDrainHoles"), true).toBool()},
        {QStringLiteral("drainDiameter"), diameter > 0.0 && diameter <= 20.0 ? diameter : 3.0}};
}

void RendererQMLItem::cancelSlicing()
{
    GenSlices::requestCancel();
}

void RendererQMLItem::print(const QString &printerSerial, const QString &resinName, double layerThickness,
    bool antialiasingEnabled, int antialiasingLevel)
{
    if (!(layerThickness > 0.0) || layerThickness > 1000.0) {
        qDebug().noquote() << "ERROR. RendererQMLItem::print. Unexpected layer thickness: "
                + QString::number(layerThickness);
        return;
    }
    // Each print slices into a folder of its own ("tessora-print-" and six characters, which
    // the controller removes once the job has been sent): a second print of models of the same
    // names must not overwrite a job that is still being sent. The file keeps the models'
    // names, which the printer shows.
    QTemporaryDir folder(
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/tessora-print-XXXXXX"));
    if (!folder.isValid()) {
        qDebug().noquote() << "ERROR. RendererQMLItem::print. No folder for the job: " + folder.errorString();
        return;
    }
    folder.setAutoRemove(false);
    // The platform the page chose for the printer takes effect now, not at the next frame.
    applyPendingModes();
    const QPointer<RendererQMLItem> self(this);
    const QString path = folder.path() + QLatin1Char('/') + QFileInfo(m_editor->printFilePath()).fileName();
    const bool sliced = saveSlices(path, qRound(layerThickness), antialiasingEnabled, antialiasingLevel);
    if (self && sliced)
        emit sendPrint(path, printerSerial, resinName);
    else
        folder.remove();
}

void RendererQMLItem::applyPendingModes()
{
    // The scene is drawn from snapshots taken at synchronisation, so it may change here.
    if (m_requests.modes.pending) {
        m_requests.modes.pending = false;
        m_editor->applyModes(m_requests.modes);
    }
}

bool RendererQMLItem::doAnyModelsIntersectWalls()
{
    applyPendingModes();
    const bool intersect = m_editor->doAnyModelsIntersectWalls();
    update();
    return intersect;
}

// --- Progress --------------------------------------------------------------------------------

void RendererQMLItem::callPageFunction(const char *name, int value)
{
    // The page is the window's root: an item of a QQuickView, or the window itself when
    // the page is a Window.
    QObject *page = nullptr;
    const QByteArray signature = QByteArray(name) + "(QVariant)";
    if (QQuickWindow *view = window()) {
        if (view->metaObject()->indexOfMethod(signature.constData()) >= 0) {
            page = view;
        } else {
            QQuickItem *root = this;
            while (root->parentItem() && root->parentItem() != view->contentItem())
                root = root->parentItem();
            page = root;
        }
    }
    if (!page || page->metaObject()->indexOfMethod(signature.constData()) < 0)
        return;
    QMetaObject::invokeMethod(page, name, Q_ARG(QVariant, QVariant(value)));
}

void RendererQMLItem::importProgress(int percent)
{
    callPageFunction("advanceImportModelBar", percent);
    emit importModelProgressUpdated(percent);
    QCoreApplication::processEvents();
}

void RendererQMLItem::supportProgress(int percent)
{
    callPageFunction("advanceAddingSupportsBar", percent);
    emit supportGenerationProgressWasUpated(percent);
    QCoreApplication::processEvents();
}

// --- Synchronisation -------------------------------------------------------------------------

void RendererQMLItem::synchronizeEditor()
{
    SceneEditor &scene = *m_editor;
    scene.setViewportSize(size());
    // Each record is taken before it is applied: answers may reach the page at once
    // (single-threaded rendering) and the page may record new requests for the next frame.
    const bool editsAccepted = scene.acceptsModelEdits();
    // Edits in the order they were made; one that starts the support generator holds the
    // rest back until it has finished with its model.
    while (m_requests.hasModelEdits() && scene.acceptsModelEdits()) {
        const ModelEditRequest edit = m_requests.modelEdits.front();
        m_requests.modelEdits.erase(m_requests.modelEdits.begin());
        scene.updateSelectedModel(edit);
    }
    if (m_requests.modelUpdatePending) {
        m_requests.modelUpdatePending = false;
        qDebug().noquote() << "RendererContainer::updateModels.";
    }
    if (!m_requests.modelFiles.isEmpty())
        scene.addModelFiles(std::exchange(m_requests.modelFiles, QStringList()));
    if (m_requests.mouse.pending && editsAccepted) {
        const MouseRequest mouse = std::exchange(m_requests.mouse, MouseRequest());
        const bool wasHolding = scene.isMouseHolding();
        scene.applyMouse(mouse);
        followMouseMotion(wasHolding, mouse);
    }
    if (m_requests.camera.pending) {
        const CameraRequest camera = std::exchange(m_requests.camera, CameraRequest());
        if (scene.applyCamera(camera))
            m_cameraMovementDone = scene.camera().isMovementDone();
    }
    if (m_requests.modes.pending) {
        m_requests.modes.pending = false;
        scene.applyModes(m_requests.modes);
    }
    scene.frameSynchronized();
}
