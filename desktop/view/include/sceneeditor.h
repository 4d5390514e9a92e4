#pragma once

#include "editorrequests.h"
#include "genslices.h"
#include "openglcamera.h"
#include "platformarea.h"
#include "platformmodel.h"
#include "scenesnapshot.h"

#include <QObject>
#include <QPointF>
#include <QQuaternion>
#include <QSizeF>
#include <QStringList>
#include <QVector3D>
#include <QVector4D>

#include <memory>
#include <optional>
#include <utility>

// The 3D editor's scene without its drawing: the models on the platform (PlatformModel),
// the camera, the modes, and the helpers the user works with (drags, the rotation
// gimbal, the select-base arrow, support editing). It applies the editor item's recorded
// requests and answers through its signals; OpenGLRenderer draws what snapshot() gives.
//
// Threads: the editor belongs to the GUI thread. The item's requests are applied while
// the scene graph synchronises (on the render thread, with the GUI thread blocked), and
// the long jobs (mesh import, support generation, slicing) run on the GUI thread between
// frames, letting events through in their progress callbacks. Nothing of the editor is
// read while a frame is drawn: the drawing works from the snapshot. While supports are
// being generated, model edits wait (acceptsModelEdits()), since the model they would
// change is the one the generator works on.
//
// Create it with std::make_shared: a running job keeps the editor alive while it lets
// events through.
class SceneEditor : public QObject, public std::enable_shared_from_this<SceneEditor>
{
    Q_OBJECT
public:
    // More duplicates per request are refused: every copy holds its own triangles.
    static constexpr int kMaximumDuplicates = 100;

    SceneEditor();
    ~SceneEditor() override;

    PlatformModel &platform() { return m_platform; }
    const PlatformModel &platform() const { return m_platform; }
    OpenGLCamera &camera() { return m_camera; }
    const OpenGLCamera &camera() const { return m_camera; }
    // A left-button drag that started in empty space is turning the camera.
    bool isOrbiting() const { return m_orbitStart.has_value(); }
    // The mouse holds the camera (an orbit) or the selected model (a drag, or a turn by
    // a gimbal ring).
    bool isMouseHolding() const { return m_orbitStart || m_drag || m_turn; }
    const ModeFlags &modes() const { return m_modes; }
    PlatformArea area() const { return PlatformArea::forPrinter(m_modes.platformIs75Microns); }

    // The item's size, item pixels.
    void setViewportSize(const QSizeF &size);

    // --- Requests, applied at synchronisation ---------------------------------------
    // Answers the information requests, then applies the edit to the selected model
    // (or the whole list) and answers as the edit calls for.
    void updateSelectedModel(const ModelEditRequest &request);
    // Queues files for import; the import runs on the GUI thread after the frame.
    void addModelFiles(const QStringList &paths);
    void applyMouse(const MouseRequest &request);
    // True when a preset step was taken (the camera's movement-done flag is then news).
    bool applyCamera(const CameraRequest &request);
    void applyModes(const ModeFlags &flags);
    // After the requests of a frame: reports where the gimbal shows.
    void frameSynchronized();
    SceneSnapshot snapshot() const;
    // The selected model's unsupported overhangs (OverhangCheck): indices of its mesh's
    // triangles; none without a selection. Worked out again only when the model, its
    // rotation, scale or height, or its supports changed.
    std::shared_ptr<const std::vector<int>> selectedOverhangs() const;

    // False while supports are being generated: edits and mouse requests then wait.
    bool acceptsModelEdits() const { return !m_supportJob; }

    // --- Import ----------------------------------------------------------------------
    // Imports the queued files one by one. A model that needs the user's answer (units
    // or size) stops the queue until the answer comes; the others are placed at once.
    void importPendingFiles();
    bool isImporting() const { return m_importing; }
    const QStringList &filesToImport() const { return m_filesToImport; }
    // The imported model waiting for an answer, or null.
    const PlatformModel::Entry &modelBeingAdded() const { return m_modelBeingAdded; }
    void setImportedModelUnits(bool isInches);
    // The units answer with any drawing unit in millimetres (10 for centimetres); the
    // import then goes on as after the units answer. A factor that is not a positive
    // number is refused (logged) and the model keeps waiting.
    void setImportedModelScale(double factor);
    void resizeImportedModelToFitPlatform(bool shouldResize);
    // The waiting model's size at its scale now (scene axes: x, y up, z), and as the size
    // answer yes would make it; zero while no model waits.
    QVector3D importedModelSize() const;
    QVector3D importedModelResizedSize() const;

    // --- Scale to fit ----------------------------------------------------------------
    // Whether a model of this size (scene axes) fits the platform of the printer chosen.
    bool fitsPlatform(const QVector3D &size) const;
    // The size scaleSelectedModelToFit() would give the selected model; zero when nothing
    // is selected or it fits the platform already.
    QVector3D selectedModelFitSize() const;
    // Scales the selected model that does not fit the platform uniformly to fit inside it,
    // as one step of the history (PlatformModel::scaleSelectedModelToFit), and answers as
    // an edit does. Refused (logged) with nothing selected and while supports are being
    // generated.
    void scaleSelectedModelToFit();

    // --- Supports --------------------------------------------------------------------
    bool isGeneratingSupports() const { return bool(m_supportJob); }
    // Runs the support generation requested in a frame (GUI thread).
    void runSupportGeneration();

    // --- Output (GUI thread) ---------------------------------------------------------
    // Updates the walls' highlights; true when any model leaves the printable area.
    bool doAnyModelsIntersectWalls();
    std::array<bool, CollisionWall::kKinds> crossedWalls() const;
    // Slices every model with its supports and writes the job file; grey layers drawn with
    // `supersampling` sub-rows per pixel (GenSlices::Settings). False when there is
    // nothing to slice, for a bad thickness, when cancelled or when the file could not
    // be written (logged), and while another slicing runs.
    bool saveSlices(const QString &filePath, int layerThicknessMicrons, bool antialiasingEnabled, int supersampling,
        const GenSlices::ProgressFunction &progress);
    // How the plate's models (all of them, never their supports) are hollowed when sliced;
    // a wall of 0 leaves them solid; pixelSize follows the platform. The drain holes are
    // those placed by hand on the models now on the plate, in the scene's frame (y up,
    // millimetres): setHollowing() leaves them as they are.
    void setHollowing(const GenSlices::Hollowing &hollowing);
    GenSlices::Hollowing hollowing() const;
    // A click on a model in inPlaceDrainHoleMode places a drain hole where it hits. The hole
    // belongs to that model: it moves and turns with it, goes and comes back with it, and
    // placing or removing it is a step of the history. Removes the index-th of hollowing().
    void removeDrainHole(int index);
    bool isSlicing() const { return m_slicing; }
    // Where a job to be printed is written (the models' file names joined).
    QString printFilePath() const;

    // --- Placement warnings ----------------------------------------------------------
    // What is wrong with the scene now, in words, one line each: models that overlap,
    // models outside the walls, models whose surface is not closed. Empty when nothing.
    QStringList placementWarnings() const;
    // The last text of placementWarningChanged.
    const QString &placementWarning() const { return m_placementWarning; }

    // --- Answers ---------------------------------------------------------------------
    // selectedModelTransformationReceived, or noModelSelectedAfterRequestingTransformation.
    void answerTransformationRequest();
    void answerGeneralInfoRequest();

    // The helpers' state, for drawing and tests.
    const std::optional<SceneSnapshot::Arrow> &baseArrow() const { return m_baseArrow; }
    const std::optional<QVector3D> &supportTip() const { return m_supportTip; }
    bool isGimbalEnabled() const;
    // The gimbal as it shows now: about the selected model, or held where it stood while
    // one of its rings is dragged. Only while isGimbalEnabled().
    SceneSnapshot::Gimbal gimbal() const;
    // A turn by a gimbal handle snaps to multiples of this (degrees) when asked to.
    static constexpr double kTurnSnapStep = 15.0;

signals:
    // position: the model's position; scale: the user's scale (1 is the imported size);
    // unscaledDimensions: the imported size (x, y, z) and, as w, the model's height
    // above the platform now (with supports: to its top); volume: millilitres.
    void selectedModelTransformationReceived(
        QVector3D position, double scale, QVector4D unscaledDimensions, QString fileName, double volume);
    void noModelSelectedAfterRequestingTransformation();
    // The selected model's size on the platform (x, y up, z): the extents of its world
    // bounding box, turned and scaled, supports included; sent before each
    // selectedModelTransformationReceived.
    void selectedModelSizeReceived(QVector3D size);
    void platformInfoReceived(double maxModelHeight, double totalModelVolume);
    void gimbalBoundingPointsReceived(QPointF topPoint, QPointF rightPoint, QPointF bottomPoint, QPointF leftPoint);
    void gimbalIsDisabled();
    // While a gimbal ring is dragged: the turn it would make now about `axis`, degrees.
    void gimbalTurnChanged(int axis, double degrees);
    void sendPromptUserForInchesOrMM();
    void sendPromptUserForResizeToFitPlatform();
    void supportGenerationProgressWasUpated(int curProgress);
    void importProgressUpdated(int percent);
    // The scene's placement warnings, one a line, after what the last action could not
    // do (copies or arranged models without room); empty when all is well. Emitted when
    // the text changes; each new line is logged as well.
    void placementWarningChanged(QString warning);
    // The scene changed outside a synchronisation: a new frame is needed.
    void sceneChanged();
    // Whether there is a step to undo and one to redo, each time that changes.
    void historyChanged(bool canUndo, bool canRedo);
    // The model waiting for an answer changed: another one waits, none does, or its size
    // changed with an answer.
    void importedModelChanged();
    // A drain hole was placed or removed (hollowing().drainHoles).
    void drainHolesChanged();
    // selectedModelFitSize() changed (zero: scale to fit has nothing to offer).
    void scaleToFitChanged(QVector3D fitSize);
    // The file names of the scene's models in the list's order, each time they change.
    void modelListChanged(QStringList fileNames);

private:
    struct Drag {
        PlatformModel::Entry entry;
        QVector3D startPosition;
    };
    // A turn by a ring of the gimbal: the model turns live about the axis through its
    // centre; the release makes it one step of the history.
    struct Turn {
        PlatformModel::Entry entry;
        int axis = 1;
        QPointF pivot; // the gimbal's centre on screen at the press
        double lastScreenAngle = 0.0; // degrees, counter-clockwise on screen
        double swept = 0.0; // screen degrees swept since the press
        double sense = 1.0; // -1 when the axis points away from the viewer
        double degrees = 0.0; // the turn shown
        QVector3D startPosition;
        QQuaternion startRotation;
        SceneSnapshot::Gimbal gimbal; // held while turning
    };
    struct SupportJob {
        PlatformModel::Entry entry;
        double density = 0.0;
        double strength = 0.0;
        bool noLift = false;
        bool raft = false;
    };

    // What an applied edit answers: nothing (refused, or left to a later job), the platform
    // information, or that and the selected model's transformation.
    enum class EditAnswer { None, Info, InfoAndTransformation };

    EditAnswer applyEdit(const ModelEditRequest &request);
    // False (logged) for a count out of range.
    bool addDuplicates(int numberOfDuplicates);
    // Packs every model on the platform (PlatformModel::arrange).
    void arrangeModels();
    // Sends the placement warnings when they changed, after `event` (what the last action
    // could not do) when there is one.
    void checkPlacement(const QString &event = QString());
    void clearScene();
    // Support generation runs after the frame; refused (logged) while one runs.
    void requestSupportGeneration(const ModelEditRequest &request);
    void applyMouseEvent(const MouseRequest::Event &event);
    void startOrbit(const QPointF &position);
    void orbitTo(const QPointF &position);
    void finishOrbit();
    void startDrag(const PlatformModel::Entry &entry, const SceneRay &ray);
    void moveDrag(const SceneRay &ray);
    void finishDrag();
    void startTurn(int axis, const QPointF &position);
    void turnTo(const QPointF &position, bool snap);
    void finishTurn();
    // Puts the model back as it stood at the press; false when there was no turn.
    bool cancelTurn();
    void selectBase(const SceneRay &ray);
    void editSupportsHover(const SceneRay &ray);
    // Support editing at the mouse: a support more where the ray meets the selected model,
    // one less at the anchor it meets.
    void addSupportAt(const SceneRay &ray);
    void placeDrainHoleAt(const SceneRay &ray);
    void deleteSupportAt(const SceneRay &ray);
    void clearSupportHover();
    // The gimbal, the select-base arrow and the support-editing helper start afresh.
    void resetHelpers();
    void commitImportedModel(const PlatformModel::Entry &entry);
    void setModelBeingAdded(const PlatformModel::Entry &entry);
    // After the units answer (its result: -1 too large, 0 ready): the size question, or
    // the model is placed and the queue goes on.
    void finishUnitsAnswer(int result);
    // scaleToFitChanged, when the size to offer differs from what was last told.
    void reportFit();
    // historyChanged and modelListChanged, when they differ from what was last told.
    void reportChanges();
    void scheduleImport();
    // Newly added models (imports, duplicates) on the 75-micron platform: the platform
    // model places them on the 128 x 80 mm area, so they are placed again on the smaller.
    void placeOnSmallPlatform(const PlatformModel::Entry &entry);
    bool isInScene(const PlatformModel::Entry &entry) const;

    PlatformModel m_platform;
    OpenGLCamera m_camera;
    ModeFlags m_modes;
    QStringList m_filesToImport;
    PlatformModel::Entry m_modelBeingAdded;
    bool m_importing = false;
    std::optional<SupportJob> m_supportJob;
    bool m_slicing = false;
    GenSlices::Hollowing m_hollowing;
    // The drain holes placed by hand, in their models' own frames.
    struct PlacedHole {
        std::weak_ptr<UserImportedMesh> model;
        QVector3D local;
        int id = 0;
    };
    std::vector<PlacedHole> m_placedHoles;
    int m_lastHoleId = 0;
    // The placed holes of the models on the plate, as indices into m_placedHoles.
    std::vector<size_t> presentHoles() const;
    // Puts a hole back (redo, undo of a removal) or takes it out, by its id.
    void restoreHole(const PlacedHole &hole);
    void takeHole(int id);
    std::optional<Drag> m_drag;
    std::optional<Turn> m_turn;
    // Where a left-button drag in empty space started: it turns the camera.
    std::optional<QPointF> m_orbitStart;
    std::optional<SceneSnapshot::Arrow> m_baseArrow;
    std::optional<QVector3D> m_supportTip;
    // What was last told about the gimbal: its points, or that it is disabled.
    std::optional<std::array<QPointF, 4>> m_reportedGimbal;
    bool m_gimbalReportedDisabled = false;
    std::pair<bool, bool> m_reportedHistory {false, false};
    QStringList m_reportedModels;
    std::vector<QVector3D> m_reportedHoles;
    QString m_placementWarning;
    QVector3D m_reportedFit;
    // The last overhangs worked out, and what they were worked out for.
    struct OverhangCache {
        const UserImportedMesh *mesh = nullptr;
        QMatrix4x4 modelMatrix;
        QList<MeshTriangle *> supportTriangles;
        std::shared_ptr<const std::vector<int>> faces;
    };
    mutable OverhangCache m_overhangs;
};
