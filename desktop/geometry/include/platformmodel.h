#pragma once

#include "collisionwall.h"
#include "importchecks.h"
#include "meshimporter.h"
#include "transformationrecord.h"
#include "userimportedmesh.h"

#include <QList>
#include <QString>

#include <memory>
#include <vector>

// One model of the scene list, from import to deletion: its import status and the
// answers to the unit questions, the model, and the file it came from.
class ModelEntry
{
public:
    // Runs the import checks on the model (scale 1).
    ModelEntry(std::shared_ptr<UserImportedMesh> mesh, const QString &sourcePath);

    // Imports a mesh file; null when it holds no triangles (the importer logs why).
    static std::shared_ptr<ModelEntry> fromFile(const QString &path, const ImportProgressCallback &progress = {});
    // A duplicate: the same status and source, a copy of the model (see
    // UserImportedMesh::clone).
    std::shared_ptr<ModelEntry> copy() const;

    ImportStatus status() const { return m_checks.status(); }
    // The units answer: inches make the model 25.4 times larger. -1 when it is then too
    // large (TooLarge), 0 when Ready.
    int setImportedModelUnits(bool isInches);
    // The units answer with any drawing unit in millimetres (10 for centimetres); the
    // result as for the units answer, 1 (nothing changed) for a factor that is not a
    // positive number.
    int setImportedModelScale(double factor);
    // The model's size now (scene axes, x, y up, z), and as the size answer yes would make it.
    QVector3D importedSize() const;
    QVector3D importedSizeResizedToFit() const;
    // The size answer: yes scales the model so that its largest dimension is 203.2 mm.
    // Ready either way.
    void resizeImportedModelToFitPlatform(bool shouldResize);

    const std::shared_ptr<UserImportedMesh> &mesh() const { return m_mesh; }
    const QString &sourcePath() const { return m_sourcePath; }
    // The edges of the imported surface that do not close it (see ImportChecks::openEdges):
    // 0 for a watertight model.
    int openEdges() const { return m_openEdges; }

private:
    std::shared_ptr<UserImportedMesh> m_mesh;
    QString m_sourcePath;
    ImportChecks m_checks;
    int m_openEdges = 0;
};

// What lies on the build platform: the scene list with its selection, the edits the
// editor makes to the selected model, undo and redo of placements, and the walls of the
// build volume. Free of drawing; the 3D view draws from it.
//
// Terms used here:
//   platform position - (x, y) on the platform as the user gives it: the editor's x and
//                       z (the height is kept: models stand on the platform);
//   user scale        - the scale the user sees: 1 is the model's drawn size (inches
//                       included), so the mesh gets user scale x unit scale.
//
// The edits return false when no model is selected (and for refused values), and change
// nothing then. Every edit that changes the scene is one step of the history: placements,
// supports generated, added, deleted or removed, models deleted, duplicated, their copies
// removed, the list cleared. Undo brings back what was there (the same models, with their
// supports, where they stood), redo does the step again. A supported model that is turned
// or rescaled keeps its supports, turned and scaled with it (see UserImportedMesh).
class PlatformModel
{
public:
    using Entry = std::shared_ptr<ModelEntry>;
    // Models placed automatically keep this distance from each other (mm), and this one
    // from the walls, so that the pads of supports added later still lie on the platform.
    static constexpr double kPlacementGap = 2.0;
    static constexpr double kWallMargin = 2.0;

    PlatformModel();

    const QList<Entry> &models() const { return m_models; }
    // Adds an entry: the model is set on the platform and, when Ready, placed
    // automatically.
    void addEntry(const Entry &entry);
    // A model alone on the platform is centred. Otherwise it goes to the free spot
    // furthest back and left (see FootprintPacker) where its footprint, supports
    // included, stays kWallMargin inside the walls and kPlacementGap clear of the
    // others. True when it found one; otherwise it is set beside the platform, right of
    // its right wall (or centred when even there is no room), and shows as outside.
    bool placeAutomatically(UserImportedMesh &mesh) const;
    // The area placeAutomatically() uses: the 128 x 80 mm platform unless set (x within
    // +-halfWidth, z within +-halfDepth), e.g. to the 75-micron printer's 96 x 60 mm.
    void setPlacementArea(double halfWidth, double halfDepth);
    // The same rule over an area of another size (x within +-halfWidth, z within
    // +-halfDepth), clear of the models of the list.
    static bool placeOnFreeSpace(UserImportedMesh &mesh, const QList<Entry> &models, double halfWidth, double halfDepth);
    // Packs every model of the list on the area (the 128 x 80 mm platform by default)
    // without overlap, with the gap and the wall margin above, the group centred; a
    // single model is centred. Models that find no room are set beside the platform.
    // Returns how many found no room. One step of the history.
    int arrange(double halfWidth = CollisionWall::kHalfWidth, double halfDepth = CollisionWall::kHalfDepth);

    // --- Scale to fit -------------------------------------------------------------------
    // A model fits the area when its size (scene axes, supports included) is no larger than
    // the area: 2 x halfWidth wide (x), 2 x halfDepth deep (z), CollisionWall::kHeight high.
    static bool fitsArea(const QVector3D &size, double halfWidth, double halfDepth);
    // The uniform factor that brings a model of this size within the area, kWallMargin
    // inside its walls and just under its ceiling; 1 when it fits already.
    static double fitFactor(const QVector3D &size, double halfWidth, double halfDepth);
    // Scales the selected model, when it does not fit the area, by fitFactor() and moves it
    // the least that sets it inside the area, as one step of the history. False when
    // nothing is selected or it fits already.
    bool scaleSelectedModelToFit(
        double halfWidth = CollisionWall::kHalfWidth, double halfDepth = CollisionWall::kHalfDepth);

    const Entry &selectedModel() const { return m_selected; }
    // An entry of the list, or null to select none.
    void selectModel(const Entry &entry);

    bool setSelectedModelPosition(double xPosition, double yPosition);
    bool setSelectedModelRotation(double xRotation, double yRotation, double zRotation);
    bool resetSelectedModelRotation();
    bool setSelectedModelScale(double scaleFactor);
    bool centerSelectedModelInPlatform();
    bool addSupportsToSelectedModel(
        double density, double strength, const UserImportedMeshSupports::ProgressFunction &progress = {});
    // The same for any model of the list (the editor generates after the frame that asked).
    bool generateSupports(const Entry &entry, double density, double strength,
        const UserImportedMeshSupports::ProgressFunction &progress = {});
    // With the platform choice and a refinement (see UserImportedMesh::generateSupports).
    bool generateSupports(const Entry &entry, double density, double strength, bool noLift, bool raft,
        const UserImportedMeshSupports::ProgressFunction &progress = {},
        const std::function<void(CDLPMain &engine)> &refine = {});
    bool removeSupportsFromSelectedModel();
    // Support editing on a model of the list: one support more at a scene point of the
    // model, one less at an anchor of its supports (see UserImportedMesh).
    bool addSupportAtPoint(const Entry &entry, const QVector3D &scenePoint);
    bool deleteAnchorSupport(const Entry &entry, const UserImportedMeshSingleAnchorSupports *anchor);
    bool deleteSelectedModel();
    bool duplicateSelectedModel(int numberOfDuplicates);
    bool removeSelectedModelDuplicates();
    void clearAllModels();
    // Steps of models no longer in the list are passed over.
    bool undoAction();
    bool redoAction();
    bool canUndo() const;
    bool canRedo() const;

    // Updates the walls' highlights: a wall is highlighted while any model crosses it.
    bool doAnyModelsIntersectWalls();
    const std::vector<std::unique_ptr<CollisionWall>> &walls() const { return m_walls; }

    // The largest height among the models' dimensions, and the sum of their volumes; 0
    // without models.
    double maxModelHeight() const;
    double totalModelVolume() const;
    // Every model's print triangles (see UserImportedMesh::printTriangles).
    std::vector<MeshTriangle> printTriangles(bool is100Micron) const;

    TransformationHistory &history() { return m_history; }

private:
    bool applyToSelected(const TransformationRecord &record);
    // The work of arrange(), outside the history.
    int packModels(double halfWidth, double halfDepth);
    bool contains(const UserImportedMesh &mesh) const;
    TransformationHistory::PresenceTest presence() const;
    // Takes the entries out of the list as one step; undo puts them back where they were
    // and selects again what was selected. False when none was in the list.
    bool removeEntries(const QList<Entry> &entries);
    // Records entries just appended to the list as one step.
    void recordAddedEntries(const QList<Entry> &added);

    QList<Entry> m_models;
    Entry m_selected;
    TransformationHistory m_history;
    std::vector<std::unique_ptr<CollisionWall>> m_walls;
    double m_placementHalfWidth = CollisionWall::kHalfWidth;
    double m_placementHalfDepth = CollisionWall::kHalfDepth;
};
