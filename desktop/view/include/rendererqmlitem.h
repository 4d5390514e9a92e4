#pragma once

#include "editorrequests.h"

#include <QPointF>
#include <QPointer>
#include <QQuickFramebufferObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector3D>
#include <QVector4D>

#include <atomic>
#include <memory>

class SceneEditor;

// The 3D editor as the user interface sees it: the item shows the platform and the models,
// and every user action on them enters through its operations. Registered for QML as
// "OpenGLRenderer" in module "GLRenderer" 1.0 (registerQmlType()).
//
// Drawing happens on the scene graph's render thread into a framebuffer object, while the
// operations are called on the GUI thread: each operation records its request (see
// EditorRequests) and asks for a frame; RendererContainer hands the records to the scene
// when the scene graph synchronises (synchronizeEditor()). Slicing, printing and the walls
// test are called on the scene directly. The scene itself (SceneEditor) belongs to the
// item and outlives the render thread's resources.
//
// Progress of the long jobs goes to the page's functions "advanceImportModelBar",
// "advanceAddingSupportsBar" and "advanceSliceStage" when the page has them, and to the
// item's progress signals; pending events are processed meanwhile so that the page stays
// alive.
class RendererQMLItem : public QQuickFramebufferObject
{
    Q_OBJECT
    Q_PROPERTY(bool inchesMode READ inchesMode WRITE setInchesMode NOTIFY inchesModeChanged)
    Q_PROPERTY(bool platformIs75Microns READ platformIs75Microns WRITE setPlatformIs75Microns NOTIFY
            platformIs75MicronsChanged)
    Q_PROPERTY(bool gimbalCanRender READ gimbalCanRender WRITE setGimbalCanRender NOTIFY gimbalCanRenderChanged)
    Q_PROPERTY(bool gimbalFixedRotationModeEnabled READ gimbalFixedRotationModeEnabled WRITE
            setGimbalFixedRotationModeEnabled NOTIFY gimbalFixedRotationModeEnabledChanged)
    Q_PROPERTY(bool inSelectBaseMode READ inSelectBaseMode WRITE setInSelectBaseMode NOTIFY inSelectBaseModeChanged)
    Q_PROPERTY(bool inEditSupportMode READ inEditSupportMode WRITE setInEditSupportMode NOTIFY inEditSupportModeChanged)
    Q_PROPERTY(bool inPlaceDrainHoleMode READ inPlaceDrainHoleMode WRITE setInPlaceDrainHoleMode NOTIFY
            inPlaceDrainHoleModeChanged)
    // The drain holes placed by hand, as the window shows positions: {x, y} on the platform
    // and z the height, millimetres.
    Q_PROPERTY(QVariantList drainHoles READ drainHoles NOTIFY drainHolesChanged)
    Q_PROPERTY(bool canUndo READ canUndo NOTIFY canUndoChanged)
    Q_PROPERTY(bool canRedo READ canRedo NOTIFY canRedoChanged)
    // What is wrong with the models' placement, in words (see SceneEditor); empty when
    // nothing.
    Q_PROPERTY(QString placementWarning READ placementWarning NOTIFY placementWarningChanged)
    // The model waiting for an import answer: its size at its scale now, and as the size
    // answer yes would make it (scene axes: x, y up, z; millimetres, or the file's units
    // while the units are asked for); zero while none waits.
    Q_PROPERTY(QVector3D importedModelSize READ importedModelSize NOTIFY importedModelChanged)
    Q_PROPERTY(QVector3D importedModelResizedSize READ importedModelResizedSize NOTIFY importedModelChanged)
    // The size scaleSelectedModelToFit() gives the selected model (scene axes); zero when
    // nothing is selected or it fits the platform.
    Q_PROPERTY(QVector3D scaleToFitSize READ scaleToFitSize NOTIFY scaleToFitSizeChanged)

public:
    explicit RendererQMLItem(QQuickItem *parent = nullptr);
    ~RendererQMLItem() override;

    // "OpenGLRenderer" in "GLRenderer" 1.0.
    static void registerQmlType();

    Renderer *createRenderer() const override;

    // --- Properties --------------------------------------------------------------------
    // Modes, applied to the scene at the next frame: inchesMode (the page shows inches;
    // the scene keeps millimetres), platformIs75Microns (a 96 x 60 mm platform for
    // placement, walls and slicing), gimbalCanRender (the rotation handles about the
    // selected model), gimbalFixedRotationModeEnabled (handles drawn over the model),
    // inSelectBaseMode (the select-base arrow follows the mouse), inEditSupportMode
    // (supports under the mouse are highlighted, clicks add and delete them).
    bool inchesMode() const { return m_requests.modes.inchesMode; }
    void setInchesMode(bool enabled);
    bool platformIs75Microns() const { return m_requests.modes.platformIs75Microns; }
    void setPlatformIs75Microns(bool enabled);
    bool gimbalCanRender() const { return m_requests.modes.gimbalCanRender; }
    void setGimbalCanRender(bool enabled);
    bool gimbalFixedRotationModeEnabled() const { return m_requests.modes.gimbalFixedRotationModeEnabled; }
    void setGimbalFixedRotationModeEnabled(bool enabled);
    bool inSelectBaseMode() const { return m_requests.modes.inSelectBaseMode; }
    void setInSelectBaseMode(bool enabled);
    bool inEditSupportMode() const { return m_requests.modes.inEditSupportMode; }
    void setInEditSupportMode(bool enabled);
    bool inPlaceDrainHoleMode() const { return m_requests.modes.inPlaceDrainHoleMode; }
    void setInPlaceDrainHoleMode(bool enabled);
    QVariantList drainHoles() const;
    // Whether undoAction and redoAction have a step to take, as the scene last told
    // (after the frame that applied an edit).
    bool canUndo() const { return m_canUndo; }
    bool canRedo() const { return m_canRedo; }

    // --- Files -------------------------------------------------------------------------
    // Mesh files to import (".stl", ".obj"); local file URLs are accepted too.
    Q_INVOKABLE void addModels(const QStringList &modelFilePathsList);
    // Uploads every model to the graphics card again at the next frame.
    Q_INVOKABLE void manuallyRerender();

    // --- Camera ------------------------------------------------------------------------
    Q_INVOKABLE void zoomCamera(int zoomWheelDelta);
    Q_INVOKABLE void rotateCamera(int deltaXFromRotationAnchor, int deltaYFromRotationAnchor);
    Q_INVOKABLE void placeRotationAnchor();
    Q_INVOKABLE void releaseRotationAnchor();
    Q_INVOKABLE void panCamera(int deltaXFromPanningAnchor, int deltaYFromPanningAnchor);
    Q_INVOKABLE void placePanningAnchor();
    Q_INVOKABLE void releasePanningAnchor();
    // Preset views: begin, then repeat one move per frame until isCameraMovementDone().
    Q_INVOKABLE void beginFixedCameraMovement();
    Q_INVOKABLE void moveCameraTowardsHome();
    Q_INVOKABLE void moveCameraTowardsRight();
    Q_INVOKABLE void moveCameraTowardsLeft();
    Q_INVOKABLE void moveCameraTowardsTop();
    Q_INVOKABLE void moveCameraTowardsFront();
    Q_INVOKABLE bool isCameraMovementDone() const { return m_cameraMovementDone; }
    // From a zoom, rotation, pan or preset step, or a move of the mouse holding the camera
    // or a model (an orbit, a drag, a turn by a gimbal ring), until the anchor or the mouse
    // is released or no such request has come for kCameraRestMilliseconds: large models
    // are drawn from their reduced copies and at half resolution meanwhile, and whole
    // again in the frame asked for when the view rests.
    bool isCameraMoving() const { return m_cameraMoving; }
    static constexpr int kCameraRestMilliseconds = 250;
    // Triangles of the models in the last frame drawn (fewer than the models hold while
    // the camera moves about a large one).
    int drawnModelTriangles() const { return m_drawnModelTriangles.load(); }

    // --- Selection and model edits -----------------------------------------------------
    Q_INVOKABLE void modelSelectionButtonReleased();
    Q_INVOKABLE void requestModelTransformations();
    Q_INVOKABLE void requestGeneralModelInfo();
    Q_INVOKABLE void setSelectedModelPosition(double xPosition, double yPosition);
    Q_INVOKABLE void setSelectedModelRotation(double xRotation, double yRotation, double zRotation);
    Q_INVOKABLE void resetSelectedModelRotation();
    Q_INVOKABLE void setSelectedModelScale(double scaleFactor);
    Q_INVOKABLE void centerSelectedModelInPlatform();
    Q_INVOKABLE void deleteSelectedModel();
    Q_INVOKABLE void duplicateSelectedModel(int numberOfDuplicates);
    Q_INVOKABLE void removeSelectedModelDuplicates();
    Q_INVOKABLE void clearAllModels();
    Q_INVOKABLE void undoAction();
    Q_INVOKABLE void redoAction();
    // Packs every model on the platform without overlap (PlatformModel::arrange).
    Q_INVOKABLE void arrangeModels();
    // The answers to sendPromptUserForInchesOrMM and sendPromptUserForResizeToFitPlatform.
    Q_INVOKABLE void setImportedModelUnits(bool isInches);
    // The units answer with any drawing unit in millimetres (10 for centimetres).
    Q_INVOKABLE void setImportedModelScale(double factor);
    Q_INVOKABLE void resizeImportedModelToFitPlatform(bool shouldResize);
    QVector3D importedModelSize() const;
    QVector3D importedModelResizedSize() const;
    // Whether a model of this size (scene axes) fits the platform of the printer chosen.
    Q_INVOKABLE bool fitsPlatform(const QVector3D &size) const;
    // Scales the selected model that does not fit the platform to fit inside it (one
    // step of the history).
    Q_INVOKABLE void scaleSelectedModelToFit();
    const QVector3D &scaleToFitSize() const { return m_scaleToFitSize; }

    // --- Supports ----------------------------------------------------------------------
    Q_INVOKABLE void addSupportsToSelectedModel(double density, double strength);
    // The same with the platform choice: the model's base on the platform, a raft under all.
    Q_INVOKABLE void addSupportsToSelectedModel(double density, double strength, bool noLift, bool raft);
    Q_INVOKABLE void removeSupportsFromSelectedModel();

    // --- Mouse, item pixels ------------------------------------------------------------
    Q_INVOKABLE void selectModelAtPoint(double mouseX, double mouseY);
    Q_INVOKABLE void moveModelWithMouse(double mouseX, double mouseY);
    Q_INVOKABLE void selectBase(double mouseX, double mouseY);
    Q_INVOKABLE void showSelectBaseArrowAtPoint(double mouseX, double mouseY);
    Q_INVOKABLE void moveMouseInEditSupportMode(double mouseX, double mouseY);
    Q_INVOKABLE void pressGimbalMoveIconAtPoint(double mouseX, double mouseY);
    Q_INVOKABLE void dragGimbalMoveIconWithMouse(double mouseX, double mouseY);
    // The gimbal's turning handles: a press on the handle of the ring about `axis` (0 x,
    // 1 y, the platform's up axis, 2 z), then drags turn the selected model by the angle
    // swept about the gimbal's centre, in multiples of SceneEditor::kTurnSnapStep when
    // snapToStep; modelSelectionButtonReleased ends the turn as one undo step.
    Q_INVOKABLE void pressGimbalRotationHandleAtPoint(double mouseX, double mouseY, int axis);
    Q_INVOKABLE void dragGimbalRotationHandleWithMouse(double mouseX, double mouseY, bool snapToStep);
    Q_INVOKABLE void mouseClickInEditSupportMode(double mouseX, double mouseY);
    Q_INVOKABLE void manuallyDeleteSupport(double mouseX, double mouseY);

    // --- Output ------------------------------------------------------------------------
    // Slices the scene into the job file ssjName (a path; local file URLs are accepted),
    // anti-aliased layers drawn at antialiasingLevel (0 smoothed edges, 2, 4 or 8 sub-rows
    // per pixel). True when the job was written.
    Q_INVOKABLE bool saveSlices(
        const QString &ssjName, int layerThickness, bool antialiasingEnabled, int antialiasingLevel = 0);
    Q_INVOKABLE void cancelSlicing();
    // Slices into a new folder of its own under the temporary folder and emits sendPrint when
    // done. The thickness is in microns, as for saveSlices.
    Q_INVOKABLE void print(const QString &printerSerial, const QString &resinName, double layerThickness,
        bool antialiasingEnabled, int antialiasingLevel = 0);
    // Hollowing of every model on the plate at the next slicing (SceneEditor::setHollowing):
    // off, or walls of wallMillimetres (0.5 to 10) with drain holes of diameterMillimetres,
    // one at the bottom of every cavity when autoDrainHoles. Remembered (savedHollowing()).
    Q_INVOKABLE void setHollowing(
        bool hollow, double wallMillimetres, bool autoDrainHoles, double diameterMillimetres);
    // The wall, automatic holes and diameter last set with hollowing on, kept in the settings
    // ("wall", "autoDrainHoles", "drainDiameter"; defaults 2, true, 3).
    Q_INVOKABLE QVariantMap savedHollowing() const;
    Q_INVOKABLE void removeDrainHole(int index);
    // Against the walls of the platform last set (platformIs75Microns), also before a frame.
    Q_INVOKABLE bool doAnyModelsIntersectWalls();

    // --- The hand-off to the scene -------------------------------------------------------
    // What the renderer does with the records at each synchronisation, without the
    // drawing: the item's size to the scene, then the model edit, the model update log,
    // the model files, the mouse, the camera and the mode records, each applied and
    // cleared when pending. Tests call it to stand for a frame.
    void synchronizeEditor();
    SceneEditor &editor() const { return *m_editor; }
    const QString &placementWarning() const { return m_placementWarning; }
    const EditorRequests &requests() const { return m_requests; }

signals:
    void selectedModelTransformationReceived(
        QVector3D position, double scale, QVector4D unscaledDimensions, QString fileName, double volume);
    void noModelSelectedAfterRequestingTransformation();
    void platformInfoReceived(double maxModelHeight, double totalModelVolume);
    void gimbalBoundingPointsReceived(QPointF topPoint, QPointF rightPoint, QPointF bottomPoint, QPointF leftPoint);
    void gimbalIsDisabled();
    // See SceneEditor.
    void gimbalTurnChanged(int axis, double degrees);
    void selectedModelSizeReceived(QVector3D size);
    void sendPromptUserForInchesOrMM();
    void sendPromptUserForResizeToFitPlatform();
    void supportGenerationProgressWasUpated(int curProgress);
    void inchesModeChanged();
    void platformIs75MicronsChanged();
    void gimbalCanRenderChanged();
    void gimbalFixedRotationModeChanged();
    void inSelectBaseModeChanged();
    void inEditSupportModeChanged();
    void inPlaceDrainHoleModeChanged();
    void drainHolesChanged();
    void loadSSJToViewer(QString ssjPath);
    void sendPrint(QString ssjName, QString printerSerial, QString resinName);
    // The notify signal of gimbalFixedRotationModeEnabled, emitted with
    // gimbalFixedRotationModeChanged.
    void gimbalFixedRotationModeEnabledChanged();
    // Progress of the import and of slicing, in percent.
    void importModelProgressUpdated(int curProgress);
    void sliceProgressUpdated(int curProgress);
    void canUndoChanged();
    void canRedoChanged();
    // The file names of the models on the platform, in order, whenever they change
    // (imports, deletions, copies, undo and redo).
    void modelListChanged(QStringList fileNames);
    void placementWarningChanged();
    void importedModelChanged();
    void scaleToFitSizeChanged();

public slots:
    // A file handed over by another start of Tessora: print jobs (".ssj", any case) go
    // to the job viewer, everything else to the import.
    void openFileFromSharedMemory(const QString &filePath);

private:
    friend class RendererContainer; // reports drawnModelTriangles

    void cameraMoved();
    void cameraRested();
    // At synchronisation, after the mouse was applied: a left-button orbit, a model dragged
    // across the platform and a turn by a gimbal ring move the view as the camera's own
    // moves do, and letting go of the mouse rests it.
    void followMouseMotion(bool wasHolding, const MouseRequest &mouse);
    void requestCameraStep(OpenGLCamera::PresetView view);
    void recordModelEdit(const ModelEditRequest &edit);
    ModelEditRequest &lastModelEdit();
    void recordMouse(MouseRequest::Action action, double mouseX, double mouseY, int axis = 0, bool snap = false);
    void setMode(bool ModeFlags::*flag, bool enabled, void (RendererQMLItem::*changed)());
    // Mode records reach the scene at once instead of at the next synchronisation.
    void applyPendingModes();
    // Calls a function of the page, when it has one, with one argument.
    void callPageFunction(const char *name, int value);
    void importProgress(int percent);
    void supportProgress(int percent);
    void historyChanged(bool canUndo, bool canRedo);

    std::shared_ptr<SceneEditor> m_editor;
    // The editor's last warning, kept on the GUI thread.
    QString m_placementWarning;
    QVector3D m_scaleToFitSize;
    EditorRequests m_requests;
    bool m_cameraMovementDone = false;
    bool m_canUndo = false;
    bool m_canRedo = false;
    bool m_cameraMoving = false;
    QTimer m_cameraRest;
    std::atomic<int> m_drawnModelTriangles {0};
};
