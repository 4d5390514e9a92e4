#pragma once

#include "cdlpmain.h"
#include "meshrenderer.h"

#include <QQuaternion>
#include <QVector3D>

#include <functional>
#include <memory>
#include <vector>

// One support of a model's support structure, selectable on its own while supports are
// edited: its triangles (editor frame, like the whole support mesh), the point by which
// the support engine addresses it, the model rotation it was generated for, and the
// highlight of the view (MeshRenderer).
class UserImportedMeshSingleAnchorSupports : public MeshRenderer
{
public:
    UserImportedMeshSingleAnchorSupports(
        QList<MeshTriangle *> triangles, const QVector3D &enginePoint, const QQuaternion &modelRotation);
    UserImportedMeshSingleAnchorSupports(const UserImportedMeshSingleAnchorSupports &other) = default;

    // Engine frame, inches.
    const QVector3D &enginePoint() const { return m_enginePoint; }
    const QQuaternion &modelRotation() const { return m_modelRotation; }

private:
    QVector3D m_enginePoint;
    QQuaternion m_modelRotation;
};

// The support structure of one model: the support engine and its output converted to the
// editor frame.
//
// Terms used here:
//   engine frame  - inches, z up, the model centred on the origin (scaled and rotated as
//                   it stood at generation) and lifted by the engine;
//   support frame - the engine frame brought back to the editor: millimetres, y up,
//                   the platform at y = 0 and the model's centre at (0, lift, 0). The
//                   triangles of this object (MeshRenderer) and of its anchors are in it.
//   lift          - the height of the model's centre above the platform in the support
//                   frame: the engine's lift in millimetres.
class UserImportedMeshSupports : public MeshRenderer
{
public:
    using ProgressFunction = std::function<void(int percent)>;

    UserImportedMeshSupports();
    ~UserImportedMeshSupports() override;
    // A full copy: engine, support mesh and anchors.
    UserImportedMeshSupports(const UserImportedMeshSupports &other);

    // Editor frame <-> engine frame: x 1 / 25.4 and 90 degrees about x, (x, y, z) ->
    // (x, -z, y); and back: 270 degrees about x, (x, y, z) -> (x, z, -y), and x 25.4.
    static QVector3D toEngineFrame(const QVector3D &editorPoint);
    static QVector3D fromEngineFrame(const QVector3D &enginePoint);
    // Density 1 is level 50, density 2 level 25, and so on (integer part of 50 /
    // density); strength is the level itself. Both held to 0 ... 100.
    static int densityLevel(double density);
    static int strengthLevel(double strength);

    // Generates the supports of a model given by its own triangles (editor frame,
    // unscaled, centred on the origin) as it stands: scale and rotation. Replaces any
    // earlier supports. False while a generation runs (the progress function may let
    // other requests in) or when the engine fails.
    bool generate(const QList<MeshTriangle *> &modelTriangles, const QVector3D &scale, const QQuaternion &rotation,
        double density, double strength, const ProgressFunction &progress = {});
    // How the next generation stands the model on the platform: with noLift its lowest
    // point rests on the platform and supports go only under its overhangs; with raft a
    // thin plate lies under the model and its supports. Both off by default.
    void setPlatformOptions(bool noLift, bool raft);

    // One more support at a point of the support frame; true when the engine added one,
    // after which mesh and anchors are rebuilt.
    bool addSupportAtPoint(const QVector3D &supportFramePoint);
    // Lets `edit` change the engine's supports (such as IslandCheck::repairSupports), then
    // rebuilds mesh and anchors; false without supports or while a generation runs.
    bool editEngine(const std::function<void(CDLPMain &engine)> &edit);
    // Removes the support of an anchor; true when the engine found it.
    bool deleteSupportAtAnchor(const UserImportedMeshSingleAnchorSupports &anchor);
    // Releases the engine, the mesh and the anchors; not generated and not busy afterwards.
    void removeAll();

    bool hasSupports() const { return m_hasSupports; }
    bool isBusy() const { return m_busy; }
    // Millimetres (the engine's lift x 25.4).
    double liftHeight() const { return m_liftHeight; }
    // The support mesh's extents (x, y, z), millimetres; zero without supports.
    QVector3D dimensions() const;
    // Millilitres.
    double supportVolume() const;

    // The model's scale and rotation at generation.
    const QVector3D &generatedScale() const { return m_generatedScale; }
    const QQuaternion &generatedRotation() const { return m_generatedRotation; }

    const std::vector<std::unique_ptr<UserImportedMeshSingleAnchorSupports>> &anchors() const { return m_anchors; }
    // The anchor whose support the ray (support frame) meets first, or none.
    const UserImportedMeshSingleAnchorSupports *anchorAt(const QVector3D &origin, const QVector3D &direction) const;
    void deactivateAllAnchors();

    // Sets the matrix of the mesh and of every anchor (support frame to the scene).
    void setPlacement(const QMatrix4x4 &supportToScene);

    const CDLPMain *engine() const { return m_engine.get(); }

private:
    void rebuildFromEngine();

    std::unique_ptr<CDLPMain> m_engine;
    std::vector<std::unique_ptr<UserImportedMeshSingleAnchorSupports>> m_anchors;
    QVector3D m_generatedScale {1, 1, 1};
    QQuaternion m_generatedRotation;
    double m_liftHeight = 0.0;
    bool m_noLift = false;
    bool m_raft = false;
    bool m_hasSupports = false;
    bool m_busy = false;
};
