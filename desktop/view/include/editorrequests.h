#pragma once

#include "openglcamera.h"

#include <QPointF>
#include <QStringList>
#include <QVector3D>

#include <vector>

// The requests the editor item records on the GUI thread and hands to the scene when the
// scene graph synchronises (the GUI thread is blocked then, so the records need no lock).
// Each record has a pending flag; a new request of a group overwrites the earlier one not
// yet applied, so only the latest of each group per frame is applied. The exceptions are
// told at the fields concerned: wheel steps add up, and mouse presses and releases keep
// their order, because losing them would lose user input.

// Camera moves. Rotation and panning carry the whole distance from the anchor placed at
// the press; a zero pair is not applied.
struct CameraRequest {
    bool pending = false;
    double zoomAmount = 0.0; // wheel delta x 0.3, summed over the frame
    QPointF rotation; // (azimuth change, elevation change), degrees
    QPointF panning; // (side amount, up amount), millimetres
    bool placeRotationAnchor = false;
    bool releaseRotationAnchor = false;
    bool placePanningAnchor = false;
    bool releasePanningAnchor = false;
    OpenGLCamera::PresetView presetView = OpenGLCamera::PresetView::None; // one step towards it
};

// An edit of the models. The two answer flags are kept apart from the action: a request
// for information does not replace an edit, nor an edit a request for information.
struct ModelEditRequest {
    enum class Action {
        None,
        SetPosition,
        SetRotation,
        ResetRotation,
        SetScale,
        CenterInPlatform,
        AddSupports,
        RemoveSupports,
        Delete,
        Duplicate,
        RemoveDuplicates,
        ClearAll,
        Undo,
        Redo,
        Arrange,
    };

    bool pending = false;
    Action action = Action::None;
    float xPosition = 0.0f; // platform position: the scene's x and z
    float yPosition = 0.0f;
    QVector3D rotation; // degrees about x, y and z
    double scale = 1.0;
    double supportDensity = 0.0;
    double supportStrength = 0.0;
    bool supportNoLift = false; // the model's base on the platform, supports under overhangs only
    bool supportRaft = false; // a plate under the model and its supports
    int numberOfDuplicates = 0;
    bool generalInfoRequested = false;
    bool transformationRequested = false;

    // Whether the action works on the selected model.
    bool needsSelectedModel() const;
};

// Mouse actions in item pixels. Moves replace a move of the same kind recorded just before
// them; presses, clicks and releases are kept in order, so that a click shorter than a
// frame still selects. The gimbal's turning handles carry the axis pressed (0 x, 1 y,
// 2 z) and, on a drag, whether the turn snaps to whole steps.
struct MouseRequest {
    enum class Action {
        SelectionButtonReleased,
        SelectModel,
        MoveModel,
        SelectBase,
        ShowSelectBaseArrow,
        MoveInEditSupportMode,
        PressGimbalMoveIcon,
        DragGimbalMoveIcon,
        PressGimbalRotationHandle,
        DragGimbalRotationHandle,
        ClickInEditSupportMode,
        DeleteSupport,
    };
    struct Event {
        Action action;
        QPointF position;
        int axis = 0;
        bool snap = false;
    };

    bool pending = false;
    std::vector<Event> events;

    void add(Action action, const QPointF &position, int axis = 0, bool snap = false);
    static bool isMove(Action action);
};

// The item's boolean modes as the scene applies them.
struct ModeFlags {
    bool pending = false;
    bool inchesMode = false;
    bool platformIs75Microns = false;
    bool gimbalCanRender = false;
    bool gimbalFixedRotationModeEnabled = false;
    bool inSelectBaseMode = false;
    bool inEditSupportMode = false;
    bool inPlaceDrainHoleMode = false; // a left click on a model places a drain hole
};

// The five records of the item. Model edits are kept in order: two clicks within a frame
// (or within a slow frame of a busy machine), such as "remove copies" and "reset rotation",
// are two edits; only a new value of the same setting (position, rotation, scale) replaces
// the one recorded just before it.
struct EditorRequests {
    CameraRequest camera;
    std::vector<ModelEditRequest> modelEdits;
    bool hasModelEdits() const { return !modelEdits.empty(); }
    MouseRequest mouse;
    QStringList modelFiles; // pending while not empty
    ModeFlags modes;
    bool modelUpdatePending = false;
};
