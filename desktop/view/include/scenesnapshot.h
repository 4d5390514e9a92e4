#pragma once

#include "collisionwall.h"
#include "platformarea.h"
#include "userimportedmesh.h"

#include <QList>
#include <QMatrix4x4>
#include <QVector3D>

#include <array>
#include <memory>
#include <optional>
#include <vector>

// What one frame of the 3D view draws, taken from the editor while the GUI thread is
// blocked. Matrices and flags are copies; the mesh pointers keep the models alive but
// their triangles (and those of supports and anchors, which the GUI thread replaces when
// supports change) may be read only during that synchronisation.
struct SceneSnapshot {
    struct Model {
        std::shared_ptr<const UserImportedMesh> mesh;
        QMatrix4x4 modelMatrix;
        bool selected = false;
        // The support mesh (support frame), or empty. Compared by identity between frames
        // to tell when the supports changed.
        QList<MeshTriangle *> supportTriangles;
        QMatrix4x4 supportMatrix;
        std::vector<const UserImportedMeshSingleAnchorSupports *> highlightedAnchors;
        // The selected model's unsupported overhangs (OverhangCheck): indices of its mesh's
        // triangles. Shared between frames while they stay.
        std::shared_ptr<const std::vector<int>> overhangs;
        // The selected model is being turned by a gimbal ring: instead of overhangs, the
        // faces it turns downwards are drawn (supports aside).
        bool turning = false;
    };
    // The rotation handles: three rings about the selected model's centre.
    struct Gimbal {
        QVector3D centre;
        float radius = 0.0f;
        bool fixedRotationMode = false;
        // The ring being dragged (0 x, 1 y, 2 z), or -1.
        int activeAxis = -1;
    };
    // The select-base arrow: it points at `point` along `direction` (into the surface).
    struct Arrow {
        QVector3D point;
        QVector3D direction;
    };

    QMatrix4x4 viewMatrix;
    QMatrix4x4 projectionMatrix;
    PlatformArea area;
    std::array<bool, CollisionWall::kKinds> wallsCrossed {};
    std::vector<Model> models;
    std::optional<Gimbal> gimbal;
    std::optional<Arrow> baseArrow;
    // Where a support would be added (edit-support mode).
    std::optional<QVector3D> supportTip;
    // The drain holes placed by hand, while the models are hollowed, and their radius.
    std::vector<QVector3D> drainHoles;
    float drainHoleRadius = 0.0f;
    // The view is moving (the camera, or a model dragged or turned with the mouse): large
    // models may be drawn from their reduced copies.
    bool cameraMoving = false;
};
