#pragma once

#include "meshpicker.h"
#include "meshrenderer.h"
#include "userimportedmeshsupports.h"

#include <QQuaternion>
#include <QVector3D>

#include <array>
#include <memory>
#include <optional>
#include <vector>

// One imported model on the build platform: its triangles in its own frame (editor axes,
// millimetres as the file gave them, centred on the origin), its placement, its supports.
//
// Terms used here:
//   placement    - scene point = position + rotation(scale x own point): scale first,
//                  then the rotation about the model's centre, then the position;
//   unit scale   - 1, or the drawing unit in millimetres on every axis (25.4 for a
//                  model drawn in inches); it is part of the scale (an inches model has
//                  scale 25.4 at its drawn size);
//   unscaled dimensions - the imported extents x the unit scale: the size of the model
//                  at user scale 1;
//   standing     - resting on the platform: its lowest point at y = 0, or, with
//                  supports, its centre at the supports' lift height;
//   support frame - see UserImportedMeshSupports. The supports keep to the model: a
//                  support point p is in the scene at position + R S Sg^-1 Rg^-1 (p - (0,
//                  lift, 0)), with Rg and Sg the rotation and scale at generation, so they
//                  stand exactly where they were built while the model is not turned or
//                  rescaled, and turn and scale with it otherwise (the model then stands
//                  on the lowest point of its supports).
class UserImportedMesh : public MeshRenderer
{
public:
    // Takes triangles as the importer gives them (file axes, z up, recentred) and turns
    // them to the editor's axes.
    explicit UserImportedMesh(QList<MeshTriangle *> importedTriangles);
    ~UserImportedMesh() override;
    // A copy for duplicates: geometry, placement and supports are copied, the picking
    // structure is shared. Not dragging.
    std::shared_ptr<UserImportedMesh> clone() const;

    // Placement.
    const QVector3D &position() const { return m_position; }
    void setPosition(const QVector3D &position);
    const QQuaternion &rotation() const { return m_rotation; }
    // Turns about a scene axis through the model's centre (0 x, 1 y, 2 z) by degrees:
    // the turn is applied after the current rotation. Nothing happens while supports are
    // being generated.
    void rotate(int axis, float degrees);
    void setRotation(const QQuaternion &rotation);
    void resetRotation();
    const QVector3D &scale() const { return m_scale; }
    void setScale(const QVector3D &scale);
    void setUniformScale(float scale) { setScale(QVector3D(scale, scale, scale)); }
    QMatrix4x4 modelMatrix() const override;

    // Units.
    const QVector3D &unitScale() const { return m_unitScale; }
    // The inches answer: unit scale and scale 25.4, unscaled dimensions x 25.4.
    void useInches();
    // Any drawing unit, in millimetres (25.4 for inches, 10 for centimetres): unit scale
    // and scale become `factor`, the unscaled dimensions are the imported extents x
    // factor. A factor that is not positive is ignored.
    void useUnitScale(float factor);
    const QVector3D &unscaledDimensions() const { return m_unscaledDimensions; }
    // Scale relative to the unit scale: what the user sees as the model's scale.
    float userScale() const;

    // Scene box of the turned, scaled and placed mesh (with supports: of model and
    // supports together; see worldBoundingBox in the source). The turned and scaled box
    // is cached until rotation or scale change.
    BoundingBox worldBoundingBox() const;
    // Size in the scene: the box's extents; with supports the dimensions including them.
    QVector3D dimensions() const;
    // Valid while supports exist: x and z the larger of model and supports, y the
    // height of the model's top above the platform.
    const QVector3D &dimensionsIncludingSupports() const { return m_dimensionsWithSupports; }
    void placeOnPlatform();
    // Millilitres: model volume x scale^3 (uniform scale), plus the supports' volume.
    double volume() const;

    // Dragging over the platform plane y = 0 (rays in scene coordinates).
    static QVector3D platformHit(const QVector3D &origin, const QVector3D &direction);
    void startDrag(const QVector3D &origin, const QVector3D &direction);
    void dragTo(const QVector3D &origin, const QVector3D &direction);
    void endDrag();
    bool isDragging() const { return m_dragging; }
    const QVector3D &dragOffset() const { return m_dragOffset; }

    // Picking: the scene point where the ray first meets the model, if it does.
    std::optional<QVector3D> pick(const QVector3D &origin, const QVector3D &direction) const;
    // The anchor the ray meets first, if any.
    const UserImportedMeshSingleAnchorSupports *pickAnchor(const QVector3D &origin, const QVector3D &direction) const;
    std::shared_ptr<const MeshPicker> picker() const { return m_picker; }

    // The triangles to slice, scene frame. On a 75-micron printer horizontal coordinates
    // are x 4/3 (counted in 0.075 mm units) while heights stay in millimetres. Supports
    // follow the model's triangles.
    std::vector<MeshTriangle> printTriangles(bool is100Micron) const;

    // Supports.
    const UserImportedMeshSupports &supports() const { return *m_supports; }
    bool hasSupports() const { return m_supports->hasSupports(); }
    bool generateSupports(
        double density, double strength, const UserImportedMeshSupports::ProgressFunction &progress = {});
    // The same with the platform choice: noLift stands the model's base on the platform
    // (supports under the overhangs only), raft puts a plate under model and supports.
    // `refine`, when given, edits the engine's fresh supports before they are drawn (the
    // window's island repair).
    bool generateSupports(double density, double strength, bool noLift, bool raft,
        const UserImportedMeshSupports::ProgressFunction &progress = {},
        const std::function<void(CDLPMain &engine)> &refine = {});
    void removeSupports();
    // Hands the support structure over (the model is left without supports) and takes
    // one back; for undoing a removal.
    std::unique_ptr<UserImportedMeshSupports> detachSupports();
    void attachSupports(std::unique_ptr<UserImportedMeshSupports> supports);
    // Support editing with a scene point of the model, or an anchor of this model's
    // supports. Without supports they log and change nothing.
    bool addSupportAtPoint(const QVector3D &scenePoint);
    bool deleteAnchorSupport(const UserImportedMeshSingleAnchorSupports *anchor);
    void deactivateAllAnchors();

    // Support frame -> scene (see the terms above).
    QMatrix4x4 supportMatrix() const;

private:
    UserImportedMesh(const UserImportedMesh &other);
    void placementChanged();
    void shapeChanged();
    void updateDimensionsWithSupports();
    // Box of R(S v) over all vertices (min in [0..2], max in [3..5]).
    const std::array<double, 6> &turnedBox() const;
    // Box of the support mesh placed with the model, relative to the model's position
    // (the same layout); zero without supports. Cached until the model is turned or
    // rescaled or its supports change.
    const std::array<double, 6> &supportBox() const;

    QVector3D m_position;
    QQuaternion m_rotation;
    QVector3D m_scale {1, 1, 1};
    QVector3D m_unitScale {1, 1, 1};
    QVector3D m_unscaledDimensions;
    std::shared_ptr<const MeshPicker> m_picker;
    std::unique_ptr<UserImportedMeshSupports> m_supports;
    QVector3D m_dimensionsWithSupports;
    QVector3D m_dragOffset;
    bool m_dragging = false;
    mutable std::array<double, 6> m_turnedBox {};
    mutable std::array<double, 6> m_supportBox {};
    mutable bool m_supportBoxStale = true;
};
