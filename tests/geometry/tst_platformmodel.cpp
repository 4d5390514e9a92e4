// The editor's platform model: imported models and their placement, the walls of the
// build volume, supports, transformation records with undo and redo, and the scene list.
#include "collisionwall.h"
#include "logcapture.h"
#include "meshtesting.h"
#include "platformmodel.h"
#include "transformationrecord.h"
#include "userimportedmesh.h"
#include "userimportedmeshsupports.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace MeshTesting;

namespace {

BoundingBox boxOf(const std::vector<MeshTriangle> &triangles)
{
    BoundingBox b {1e9, 1e9, 1e9, -1e9, -1e9, -1e9};
    for (const MeshTriangle &t : triangles) {
        for (const QVector3D &v : {t.a, t.b, t.c}) {
            b.minX = qMin(b.minX, double(v.x()));
            b.minY = qMin(b.minY, double(v.y()));
            b.minZ = qMin(b.minZ, double(v.z()));
            b.maxX = qMax(b.maxX, double(v.x()));
            b.maxY = qMax(b.maxY, double(v.y()));
            b.maxZ = qMax(b.maxZ, double(v.z()));
        }
    }
    return b;
}

const double kLift = 4.9 + 5.0; // a 10 mm cube: 0.19 in rounded up to whole 0.1 mm, and half the cube

} // namespace

class TestPlatformModel : public QObject
{
    Q_OBJECT

private slots:
    // --- Rotation and the cached box ---------------------------------------------------

    void rotation_turnsAboutSceneAxesInTheOrderGiven()
    {
        // Editor size 10 x 30 x 20. About x: 10 x 20 x 30; then about the scene's y: 30 x 20 x 10.
        // (Turning about the model's own axes would give 20 x 10 x 30.)
        const auto mesh = box(10, 20, 30);
        mesh->rotate(0, 90);
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(10, 20, 30)));
        mesh->rotate(1, 90);
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(30, 20, 10)));
        mesh->resetRotation();
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(10, 30, 20)));
    }

    void rotation_isIgnoredWhileSupportsAreGenerated()
    {
        const auto mesh = box(10, 10, 10);
        bool busySeen = false;
        mesh->generateSupports(1, 50, [&](int) {
            busySeen = busySeen || mesh->supports().isBusy();
            mesh->rotate(0, 45);
        });
        QVERIFY(busySeen);
        QCOMPARE(mesh->rotation(), QQuaternion());
        QVERIFY(!mesh->supports().isBusy());
        mesh->rotate(0, 45);
        QVERIFY(mesh->rotation() != QQuaternion());
    }

    // --- Walls ------------------------------------------------------------------------------

    void walls_crossedByTheModelsBox_data()
    {
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("z");
        QTest::addColumn<float>("height");
        QTest::addColumn<int>("crossedWall");
        QTest::newRow("centre") << 0.0f << 0.0f << 10.0f << -1;
        QTest::newRow("x = 60") << 60.0f << 0.0f << 10.0f << 1;
        QTest::newRow("x = 59, touching") << 59.0f << 0.0f << 10.0f << -1;
        QTest::newRow("x = -60") << -60.0f << 0.0f << 10.0f << 3;
        QTest::newRow("z = -36") << 0.0f << -36.0f << 10.0f << 0;
        QTest::newRow("z = 36") << 0.0f << 36.0f << 10.0f << 2;
        QTest::newRow("210 mm tall") << 0.0f << 0.0f << 210.0f << 4;
        QTest::newRow("203.2 mm tall") << 0.0f << 0.0f << 203.2f << -1;
    }

    void walls_crossedByTheModelsBox()
    {
        QFETCH(float, x);
        QFETCH(float, z);
        QFETCH(float, height);
        QFETCH(int, crossedWall);
        PlatformModel platform;
        const auto &mesh = addBox(platform, 10, 10, height, false)->mesh();
        mesh->setPosition(QVector3D(x, mesh->position().y(), z));
        QCOMPARE(platform.doAnyModelsIntersectWalls(), crossedWall >= 0);
        for (const auto &wall : platform.walls())
            QCOMPARE(wall->isHighlighted(), wall->kind() == crossedWall);
        // Back inside: the highlight goes.
        mesh->setPosition(QVector3D(0, 0, 0));
        mesh->setUniformScale(0.5f);
        QVERIFY(!platform.doAnyModelsIntersectWalls());
        for (const auto &wall : platform.walls())
            QVERIFY(!wall->isHighlighted());
    }

    // --- Supports ---------------------------------------------------------------------------

    void supports_levelsFromThePagesValues()
    {
        // Density is a spacing: level 50 at 1, half at 2; both levels held to 0..100.
        QCOMPARE(UserImportedMeshSupports::densityLevel(2), 25);
        QCOMPARE(UserImportedMeshSupports::densityLevel(0.4), 100);
        QCOMPARE(UserImportedMeshSupports::strengthLevel(50.9), 50);
        QCOMPARE(UserImportedMeshSupports::strengthLevel(-3), 0);
    }

    void supports_engineSeesTheScaledTurnedModelInInches()
    {
        // Editor size 10 x 30 x 20, scale 2, turned 90 degrees about x: 20 wide, 40 tall and
        // 60 deep in the scene, so 60 deep (engine y) and 40 tall (engine z) for the engine.
        const auto mesh = box(10, 20, 30);
        mesh->setUniformScale(2);
        mesh->rotate(0, 90);
        QVERIFY(mesh->generateSupports(1, 50));
        const BoundingBox b = boxOf(mesh->supports().engine()->model());
        QVERIFY(
            near(b.maxX - b.minX, 20 / 25.4) && near(b.maxY - b.minY, 60 / 25.4) && near(b.maxZ - b.minZ, 40 / 25.4));
        QVERIFY(near(b.minZ, 4.9 / 25.4));
        QVERIFY(near(mesh->supports().liftHeight(), 4.9 + 20));
    }

    void supports_cubeStandsOnThem_theyFollowItAndAreSlicedWithIt()
    {
        const auto mesh = box(10, 10, 10);
        QList<int> reports;
        QVERIFY(mesh->generateSupports(1, 50, [&](int percent) { reports << percent; }));
        QVERIFY(!reports.isEmpty() && reports.last() == 99);
        QVERIFY(!mesh->supports().isBusy());
        QVERIFY(near(mesh->supports().liftHeight(), kLift));
        mesh->placeOnPlatform();
        // The cube's centre at the lift (its lowest point 4.9 mm up); the supports below
        // reach the platform.
        QVERIFY(near(mesh->position().y(), kLift));
        QVERIFY(near(mesh->worldBoundingBox().minY, 0, 0.01));
        QVERIFY(near(mesh->dimensions().y(), 14.9));
        const QVector3D supportSize = mesh->supports().dimensions();
        QVERIFY(near(mesh->dimensionsIncludingSupports().x(), qMax(10.0f, supportSize.x())));
        // One anchor per support; the supports add their volume.
        QVERIFY(!mesh->supports().anchors().empty());
        QCOMPARE(mesh->supports().anchors().size(), mesh->supports().engine()->supports().size());
        QVERIFY(mesh->supports().supportVolume() > 0);
        QVERIFY(near(mesh->volume(), 1.0 + mesh->supports().supportVolume(), 1e-9));

        // A move carries them along: the support frame puts the model's centre at the lift.
        mesh->setPosition(QVector3D(20, mesh->position().y(), -10));
        const QMatrix4x4 matrix = mesh->supportMatrix();
        QVERIFY(near(matrix.map(QVector3D(0, 0, 0)), QVector3D(20, 0, -10)));
        QVERIFY(near(matrix.map(QVector3D(0, float(kLift), 0)), mesh->position()));
        QCOMPARE(mesh->supports().modelMatrix(), matrix);

        // Sliced with the model, on both printers (the 75-micron one sees x and z 4/3 larger).
        const std::vector<MeshTriangle> print = mesh->printTriangles(true);
        QCOMPARE(int(print.size()), 12 + mesh->supports().triangles().size());
        const BoundingBox b = boxOf(print);
        const BoundingBox world = mesh->worldBoundingBox();
        QVERIFY(near(b.minY, 0, 0.01) && near(b.maxY, 14.9));
        QVERIFY(near(b.minX, world.minX) && near(b.maxZ, world.maxZ));
        const BoundingBox b75 = boxOf(mesh->printTriangles(false));
        QVERIFY(near(b75.minX, world.minX * 4 / 3) && near(b75.maxZ, world.maxZ * 4 / 3));
        QVERIFY(near(b75.maxY, b.maxY));

        // Turned about the vertical axis, they turn with the model about its centre.
        mesh->rotate(1, 90);
        QVERIFY(near(mesh->supportMatrix().map(QVector3D(1, 0, 0)), QVector3D(20, 0, -11)));
    }

    void supports_editingWithoutOrBesideThemIsRefused()
    {
        const auto mesh = box(10, 10, 10);
        const UserImportedMeshSingleAnchorSupports nowhere({}, QVector3D(5, 5, 5), QQuaternion());
        {
            LogCapture log;
            QVERIFY(!mesh->addSupportAtPoint(QVector3D(0, 0, 0)));
            QVERIFY(!mesh->deleteAnchorSupport(&nowhere));
            mesh->deactivateAllAnchors();
            QCOMPARE(log.lines().filter("Not supported.").size(), 3);
            QVERIFY(!mesh->hasSupports());
        }
        // With supports, deleting where none stands changes nothing.
        QVERIFY(mesh->generateSupports(1, 50));
        const size_t count = mesh->supports().anchors().size();
        LogCapture log;
        QVERIFY(!mesh->deleteAnchorSupport(&nowhere));
        QVERIFY(!mesh->deleteAnchorSupport(nullptr));
        QCOMPARE(mesh->supports().anchors().size(), count);
        mesh->deactivateAllAnchors();
        QVERIFY(mesh->hasSupports());
    }

    void supports_deleteAPickedAnchor_addAtAPickedPoint()
    {
        const auto mesh = box(10, 10, 10);
        QVERIFY(mesh->generateSupports(1, 50));
        mesh->placeOnPlatform();
        mesh->setPosition(QVector3D(20, mesh->position().y(), -10));
        const auto &anchors = mesh->supports().anchors();
        const size_t count = anchors.size();
        QVERIFY(count >= 2);
        // Anchors stand from the platform up to their point; a ray down the anchor's axis,
        // from just under its point, finds it.
        const UserImportedMeshSingleAnchorSupports &anchor = *anchors.back();
        QVERIFY(near(anchor.geometry().minY(), 0, 0.01));
        const QVector3D point
            = mesh->supportMatrix().map(UserImportedMeshSupports::fromEngineFrame(anchor.enginePoint()));
        const UserImportedMeshSingleAnchorSupports *picked
            = mesh->pickAnchor(point - QVector3D(0, 1.0f, 0), QVector3D(0, -1, 0));
        QCOMPARE(picked, &anchor);
        const QVector3D pickedPoint = picked->enginePoint();
        anchors.back()->setHighlighted(true);
        mesh->deactivateAllAnchors();
        QVERIFY(!picked->isHighlighted());
        QVERIFY(mesh->deleteAnchorSupport(picked));
        QCOMPARE(anchors.size(), count - 1);
        for (const auto &left : anchors)
            QVERIFY(left->enginePoint() != pickedPoint);
        QVERIFY(!mesh->pickAnchor(QVector3D(0, 100, 0), QVector3D(0, 1, 0)));

        // A point of the cube's underside, found by a ray from below.
        const int triangleCount = mesh->supports().triangles().size();
        const auto hit = mesh->pick(QVector3D(21.3f, -20, -7.3f), QVector3D(0, 1, 0));
        QVERIFY(hit.has_value());
        QVERIFY(near(hit->y(), 4.9));
        QVERIFY(mesh->addSupportAtPoint(*hit));
        QCOMPARE(anchors.size(), count);
        QVERIFY(mesh->supports().triangles().size() > triangleCount);
        // The engine got the point in its own frame: relative to the model, in inches, z up,
        // at the height the engine keeps the model.
        const QVector3D expected(1.3f / 25.4f, -2.7f / 25.4f, 4.9f / 25.4f);
        QVERIFY(std::any_of(anchors.begin(), anchors.end(),
            [&](const auto &added) { return near(added->enginePoint(), expected, 1e-4f); }));
    }

    // --- Undo and redo -----------------------------------------------------------------------

    void history_undoAndRedoASequence()
    {
        const auto mesh = box(10, 20, 30);
        mesh->placeOnPlatform();
        TransformationHistory history;
        QVERIFY(!history.canUndo() && !history.undo());
        TransformationRecord move;
        move.position = QVector3D(10, mesh->position().y(), 5);
        TransformationRecord turn;
        turn.rotation = QVector3D(90, 0, 0);
        TransformationRecord grow;
        grow.scale = 2.0f;
        history.apply(mesh, move);
        history.apply(mesh, turn);
        history.apply(mesh, grow);
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(20, 40, 60)));
        QVERIFY(near(mesh->worldBoundingBox().minY, 0));

        QVERIFY(history.undo());
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(10, 20, 30)));
        QVERIFY(history.undo() && history.undo() && !history.undo());
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(10, 30, 20)));
        QVERIFY(near(mesh->position(), QVector3D(0, 15, 0)));

        QVERIFY(history.redo());
        QVERIFY(history.redo());
        QVERIFY(near(mesh->position(), QVector3D(10, 10, 5)));
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(10, 20, 30)));
        // A new step drops what could be redone.
        TransformationRecord shrink;
        shrink.scale = 0.5f;
        history.apply(mesh, shrink);
        QVERIFY(!history.canRedo() && !history.redo());
        QCOMPARE(history.stepCount(), 3);
        QVERIFY(history.undo());
        QCOMPARE(mesh->scale(), QVector3D(1, 1, 1));
        // Steps of a model destroyed since are passed over.
        auto gone = box(10, 10, 10);
        history.apply(gone, shrink);
        gone.reset();
        QVERIFY(history.undo()); // the turn before it
        QCOMPARE(mesh->rotation(), QQuaternion());
        QVERIFY(history.redo());
        QVERIFY(!history.canRedo() && !history.redo());
    }

    void history_keepsOnlyTheLatestSupportStructures()
    {
        const auto mesh = box(10, 10, 10);
        QVERIFY(mesh->generateSupports(1, 50));
        TransformationHistory history;
        TransformationRecord move;
        move.position = QVector3D(10, mesh->position().y(), 5);
        history.apply(mesh, move);
        const size_t anchors = mesh->supports().anchors().size();
        // Each edit keeps the supports as they were; the oldest go first, placements with them.
        for (int i = 0; i < TransformationHistory::kMaxSupportSteps + 5; ++i) {
            QVERIFY(history.editSupports(mesh, [](UserImportedMesh &edited) {
                const auto &left = edited.supports().anchors();
                return left.empty() ? edited.generateSupports(1, 50) : edited.deleteAnchorSupport(left.front().get());
            }));
        }
        QCOMPARE(history.stepCount(), TransformationHistory::kMaxSupportSteps);
        while (history.undo()) { }
        QCOMPARE(mesh->position().x(), 10.0f); // the move went with the oldest steps
        QVERIFY(mesh->supports().anchors().size() < anchors);
        // An edit that changes nothing is no step.
        QVERIFY(!history.editSupports(mesh, [](UserImportedMesh &) { return false; }));
        QVERIFY(history.canRedo());
    }

    // --- Model entries and the scene list -------------------------------------------------

    void scene_scaleOfAnInchesModelIsRelativeToItsUnits()
    {
        PlatformModel platform;
        const auto model = boxEntry(1, 1, 1);
        QCOMPARE(model->status(), ImportStatus::NeedsUnitsChoice);
        model->setImportedModelUnits(true);
        platform.addEntry(model);
        platform.selectModel(model);
        QVERIFY(platform.setSelectedModelScale(2));
        QVERIFY(near(model->mesh()->scale().x(), 50.8));
        QVERIFY(near(model->mesh()->userScale(), 2));
    }

    // An oversize model (set beside the platform when it found no room) is scaled alike
    // along every axis to stand inside the walls, in one step that undo takes back whole.
    void scene_scaleToFit_fitsInsideUniformly_oneUndoStep_data()
    {
        QTest::addColumn<QVector3D>("size"); // files' frame, z up
        QTest::addColumn<double>("xTurn");
        QTest::addColumn<double>("halfWidth");
        QTest::addColumn<double>("halfDepth");
        QTest::newRow("too long") << QVector3D(300, 10, 10) << 0.0 << 64.0 << 40.0;
        QTest::newRow("too tall") << QVector3D(10, 20, 250) << 0.0 << 64.0 << 40.0;
        QTest::newRow("too deep once turned") << QVector3D(20, 10, 100) << 90.0 << 64.0 << 40.0;
        QTest::newRow("75-micron platform") << QVector3D(100, 50, 10) << 0.0 << 48.0 << 30.0;
    }
    void scene_scaleToFit_fitsInsideUniformly_oneUndoStep()
    {
        QFETCH(QVector3D, size);
        QFETCH(double, xTurn);
        QFETCH(double, halfWidth);
        QFETCH(double, halfDepth);
        PlatformModel platform;
        addBox(platform, 10, 10, 10, false);
        const auto entry = addBox(platform, size.x(), size.y(), size.z());
        platform.setSelectedModelRotation(xTurn, 0, 0);
        const QVector3D before = entry->mesh()->dimensions();
        const std::vector<ModelState> state = sceneState(platform);
        const int steps = platform.history().stepCount();
        QVERIFY(!PlatformModel::fitsArea(before, halfWidth, halfDepth));

        QVERIFY(platform.scaleSelectedModelToFit(halfWidth, halfDepth));
        const BoundingBox box = entry->mesh()->worldBoundingBox();
        QVERIFY(box.minX >= -halfWidth && box.maxX <= halfWidth && box.minZ >= -halfDepth && box.maxZ <= halfDepth);
        QVERIFY(near(box.minY, 0.0) && box.maxY <= CollisionWall::kHeight);
        const QVector3D ratio = entry->mesh()->dimensions() / before;
        QVERIFY(near(ratio.x(), ratio.y(), 1e-4) && near(ratio.x(), ratio.z(), 1e-4) && ratio.x() < 1);
        QVERIFY(!platform.scaleSelectedModelToFit(halfWidth, halfDepth));
        QCOMPARE(platform.history().stepCount(), steps + 1);

        QVERIFY(platform.undoAction());
        QCOMPARE(sceneDifference(sceneState(platform), state), QString());
    }

    void scene_turnedOrScaledModel_keepsItsSupportsAligned_data()
    {
        QTest::addColumn<QVector3D>("turn"); // degrees, as the user turns
        QTest::addColumn<double>("scale");
        QTest::newRow("about the vertical") << QVector3D(0, 45, 0) << 1.0;
        QTest::newRow("tilted about x") << QVector3D(30, 0, 0) << 1.0;
        QTest::newRow("on its side about z") << QVector3D(0, 0, 90) << 1.0;
        QTest::newRow("twice the size") << QVector3D() << 2.0;
        QTest::newRow("half the size, turned") << QVector3D(0, 0, 20) << 0.5;
    }

    void scene_turnedOrScaledModel_keepsItsSupportsAligned()
    {
        QFETCH(QVector3D, turn);
        QFETCH(double, scale);
        PlatformModel platform;
        const auto model = addBox(platform, 10, 10, 10);
        QVERIFY(platform.addSupportsToSelectedModel(1, 50));
        const auto &mesh = model->mesh();
        QVERIFY(near(mesh->position().y(), kLift));
        QVERIFY(near(platform.maxModelHeight(), 14.9));
        // The supports in the model's own frame, and where their tops meet it.
        const auto ownBox = [&]() {
            std::vector<MeshTriangle> own;
            const QMatrix4x4 toModel = mesh->modelMatrix().inverted() * mesh->supportMatrix();
            for (const MeshTriangle *t : mesh->supports().triangles())
                own.push_back({t->normal, toModel.map(t->a), toModel.map(t->b), toModel.map(t->c)});
            return boxOf(own);
        };
        const BoundingBox before = ownBox();
        const double supportVolume = mesh->volume() - 1.0;

        if (scale != 1.0)
            QVERIFY(platform.setSelectedModelScale(scale));
        if (!turn.isNull())
            QVERIFY(platform.setSelectedModelRotation(turn.x(), turn.y(), turn.z()));
        QVERIFY(mesh->hasSupports());
        // Aligned: in the model's own frame the supports are where they were.
        const BoundingBox after = ownBox();
        QVERIFY(near(extents(after), extents(before), 1e-3f));
        QVERIFY(near(centre(after), centre(before), 1e-3f));
        QVERIFY(near(mesh->volume(), std::pow(scale, 3) * (1.0 + supportVolume), 1e-3));
        // Standing: nothing below the platform, the lowest point on it.
        const BoundingBox world = mesh->worldBoundingBox();
        QVERIFY(near(world.minY, 0.0, 1e-3));
        QVERIFY(boxOf(mesh->printTriangles(true)).minY > -1e-3);
        QVERIFY(near(mesh->dimensions().y(), world.maxY - world.minY, 1e-2));
        if (turn.x() == 0 && turn.z() == 0)
            QVERIFY(near(mesh->position().y(), kLift * scale, 1e-2));
        // Undone, the model stands on its supports as before.
        QVERIFY(platform.undoAction());
        if (scale != 1.0 && !turn.isNull())
            QVERIFY(platform.undoAction());
        QVERIFY(near(mesh->position().y(), kLift));
        QVERIFY(near(platform.maxModelHeight(), 14.9));
        QVERIFY(platform.removeSupportsFromSelectedModel());
        QVERIFY(!mesh->hasSupports());
        QVERIFY(!platform.removeSupportsFromSelectedModel());
    }

    void scene_duplicatesAreIndependentCopies()
    {
        PlatformModel platform;
        const auto original = boxEntry(10, 10, 10, "/models/bracket.stl");
        const auto other = boxEntry(10, 10, 10, "/models/housing.stl");
        platform.addEntry(original);
        platform.addEntry(other);
        platform.selectModel(original);
        QVERIFY(platform.centerSelectedModelInPlatform());
        QVERIFY(platform.addSupportsToSelectedModel(1, 50));
        QVERIFY(platform.duplicateSelectedModel(3));
        QCOMPARE(platform.models().size(), 5);
        QCOMPARE(platform.selectedModel(), original);

        for (int i = 2; i < 5; ++i) {
            const auto &copy = platform.models().at(i);
            QCOMPARE(copy->sourcePath(), original->sourcePath());
            QVERIFY(copy->mesh()->triangles().first() != original->mesh()->triangles().first());
            QVERIFY(copy->mesh()->supports().engine() != original->mesh()->supports().engine());
        }
        // Placed apart: checked with the editor's duplicates. A copy changes alone.
        const size_t anchors = original->mesh()->supports().anchors().size();
        const auto &copy = platform.models().at(2)->mesh();
        QCOMPARE(copy->supports().anchors().size(), anchors);
        QVERIFY(copy->deleteAnchorSupport(copy->supports().anchors().front().get()));
        QCOMPARE(original->mesh()->supports().anchors().size(), anchors);
        copy->removeSupports();
        QVERIFY(original->mesh()->hasSupports());

        QVERIFY(platform.removeSelectedModelDuplicates());
        QCOMPARE(platform.models(), QList<PlatformModel::Entry>({original, other}));
        // Only entries of the list can be selected.
        platform.selectModel(boxEntry(10, 10, 10));
        QVERIFY(!platform.selectedModel());
    }

    // --- Placement and arranging ------------------------------------------------------------
    void placement_aloneCentred_othersFromTheBackLeftInsideTheMargin()
    {
        PlatformModel platform;
        const auto first = addBox(platform, 10, 10, 10, false);
        QVERIFY(near(centre(first->mesh()->worldBoundingBox()), QVector3D(0, 5, 0)));
        const auto second = addBox(platform, 10, 10, 10, false);
        const BoundingBox b = second->mesh()->worldBoundingBox();
        const double margin = PlatformModel::kWallMargin;
        QVERIFY(near(b.minX, -64 + margin) && near(b.minZ, -40 + margin) && near(b.minY, 0));
        // A model waiting for the units answer is not placed yet.
        const auto waiting = boxEntry(1, 1, 1);
        platform.addEntry(waiting);
        QVERIFY(near(waiting->mesh()->position(), QVector3D(0, 0.5f, 0)));
        // No room on the platform: set beside it, clear of the rest.
        const auto huge = box(130, 10, 10);
        QVERIFY(!platform.placeAutomatically(*huge));
        QVERIFY(huge->worldBoundingBox().minX > 64);
    }

    void arrange_packsApartInsideTheMargin_data()
    {
        QTest::addColumn<QList<QSizeF>>("footprints"); // x by z, mm
        QTest::addColumn<double>("halfWidth");
        QTest::addColumn<double>("halfDepth");
        QTest::addColumn<int>("withoutRoom");
        const double w = CollisionWall::kHalfWidth;
        const double d = CollisionWall::kHalfDepth;
        QTest::newRow("one model, centred") << QList<QSizeF> {{30, 20}} << w << d << 0;
        QTest::newRow("four equal") << QVector<QSizeF>(4, {50, 30}).toList() << w << d << 0;
        // Nine that a 10 mm grid from the corner fits only four of.
        QTest::newRow("nine filling the platform") << QVector<QSizeF>(9, {39, 23}).toList() << w << d << 0;
        const QList<QSizeF> mixed {
            {60, 30}, {10, 10}, {25, 40}, {5, 5}, {30, 12}, {18, 18}, {40, 8}, {12, 30}, {8, 20}};
        QTest::newRow("nine mixed") << mixed << w << d << 0;
        QTest::newRow("too many to fit") << QVector<QSizeF>(12, {39, 23}).toList() << w << d << 3;
        QTest::newRow("75-micron platform") << QVector<QSizeF>(4, {40, 25}).toList() << w * 0.75 << d * 0.75 << 0;
    }

    void arrange_packsApartInsideTheMargin()
    {
        QFETCH(QList<QSizeF>, footprints);
        QFETCH(double, halfWidth);
        QFETCH(double, halfDepth);
        QFETCH(int, withoutRoom);
        PlatformModel platform;
        // Heaped in the middle first, all overlapping.
        for (const QSizeF &size : footprints) {
            const auto entry = boxEntry(float(size.width()), float(size.height()), 10);
            platform.addEntry(entry);
            entry->mesh()->setPosition(QVector3D(0, entry->mesh()->position().y(), 0));
        }
        QCOMPARE(platform.arrange(halfWidth, halfDepth), withoutRoom);
        const QString fault = placementFault(
            platform.models(), halfWidth, halfDepth, PlatformModel::kWallMargin, PlatformModel::kPlacementGap);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        // Those with room stand on the platform as a group centred on it.
        int aside = 0;
        BoundingBox group {1e9, 0, 1e9, -1e9, 10, -1e9};
        for (const auto &entry : platform.models()) {
            const BoundingBox b = entry->mesh()->worldBoundingBox();
            QVERIFY(near(b.minY, 0));
            aside += b.minX > halfWidth ? 1 : 0;
            if (b.minX <= halfWidth)
                group = {qMin(group.minX, b.minX), 0, qMin(group.minZ, b.minZ), qMax(group.maxX, b.maxX), 10,
                    qMax(group.maxZ, b.maxZ)};
        }
        QCOMPARE(aside, withoutRoom);
        QVERIFY2(withoutRoom > 0 || near(centre(group), QVector3D(0, 5, 0)),
            qPrintable(QStringLiteral("%1, %2").arg(centre(group).x()).arg(centre(group).z())));
    }

    void duplicates_neverOverlap_thoseWithoutRoomSetBeside_data()
    {
        QTest::addColumn<int>("copies");
        QTest::addColumn<int>("fewestAside");
        QTest::addColumn<int>("mostAside");
        // 20 x 20 mm: at most three rows of five fit in 124 x 76 mm.
        QTest::newRow("room for all") << 8 << 0 << 0;
        QTest::newRow("more than fit") << 30 << 31 - 15 << 30;
    }

    void duplicates_neverOverlap_thoseWithoutRoomSetBeside()
    {
        QFETCH(int, copies);
        QFETCH(int, fewestAside);
        QFETCH(int, mostAside);
        PlatformModel platform;
        addBox(platform, 20, 20, 5);
        QVERIFY(platform.duplicateSelectedModel(copies));
        QCOMPARE(platform.models().size(), copies + 1);
        const QString fault
            = placementFault(platform.models(), 64, 40, PlatformModel::kWallMargin, PlatformModel::kPlacementGap);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        const auto aside = std::count_if(platform.models().begin(), platform.models().end(),
            [](const auto &entry) { return entry->mesh()->worldBoundingBox().minX > 64; });
        QVERIFY2(aside >= fewestAside && aside <= mostAside, qPrintable(QString::number(aside)));
    }

    void openEdges_closedSurfaceHasNone_aMissingFacetOpensThree()
    {
        QList<MeshTriangle *> triangles = MeshGeometry::centredBox(10, 10, 10);
        QCOMPARE(ImportChecks::openEdges(triangles), 0);
        // The same box twice (two shells touching everywhere) is still closed.
        QList<MeshTriangle *> twice = triangles + MeshGeometry::centredBox(10, 10, 10);
        QCOMPARE(ImportChecks::openEdges(twice), 0);
        delete twice.takeLast();
        QCOMPARE(ImportChecks::openEdges(twice), 3);
        qDeleteAll(twice);
        QList<MeshTriangle *> cut = MeshGeometry::centredBox(10, 10, 10);
        delete cut.takeFirst();
        const auto open
            = std::make_shared<ModelEntry>(std::make_shared<UserImportedMesh>(cut), QStringLiteral("open.stl"));
        QCOMPARE(open->openEdges(), 3);
        QCOMPARE(open->copy()->openEdges(), 3);
    }
};

QTEST_GUILESS_MAIN(TestPlatformModel)
#include "tst_platformmodel.moc"
