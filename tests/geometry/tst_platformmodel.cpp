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

const double kLift = (0.19 + 5.0 / 25.4) * 25.4; // 9.826 mm for a 10 mm cube

} // namespace

class TestPlatformModel : public QObject
{
    Q_OBJECT

private slots:
    // --- The imported model in the editor's frame ---------------------------------------

    void model_turnsFileAxesToEditorAxes()
    {
        // 10 wide, 20 deep, 30 tall in the file (z up): 30 tall in the editor (y up).
        const auto mesh = box(10, 20, 30);
        QVERIFY(near(mesh->unscaledDimensions(), QVector3D(10, 30, 20)));
        mesh->placeOnPlatform();
        const BoundingBox b = mesh->worldBoundingBox();
        QVERIFY(near(b.minY, 0) && near(b.maxY, 30));
        QVERIFY(near(mesh->dimensions(), QVector3D(10, 30, 20)));
        // The volume stays positive (the turn keeps the winding) and grows with scale^3.
        QVERIFY(near(mesh->volume(), 6.0));
        mesh->setUniformScale(2);
        QVERIFY(near(mesh->volume(), 48.0));
    }

    // --- Rotation and the cached box ------------------------------------------------------

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

    // --- Standing, dragging and picking ---------------------------------------------------

    void drag_keepsTheGrabOffsetOnThePlatformPlane()
    {
        const auto mesh = box(10, 10, 10);
        mesh->setPosition(QVector3D(0, 5, 0));
        // A slanted ray from (3, 10, 4) meets the platform at (8, 0, 4).
        mesh->startDrag(QVector3D(3, 10, 4), QVector3D(0.5f, -1, 0));
        QVERIFY(mesh->isDragging());
        QVERIFY(near(mesh->dragOffset(), QVector3D(8, -5, 4)));
        mesh->dragTo(QVector3D(20, 20, -6), QVector3D(0, -2, 0));
        QVERIFY(near(mesh->position(), QVector3D(12, 5, -10)));
        mesh->endDrag();
        mesh->dragTo(QVector3D(50, 20, 50), QVector3D(0, -1, 0));
        QVERIFY(near(mesh->position(), QVector3D(12, 5, -10)));
        // A ray parallel to the platform counts as meeting it at its origin.
        QVERIFY(near(UserImportedMesh::platformHit(QVector3D(1, 7, 2), QVector3D(1, 0, 0)), QVector3D(1, 7, 2)));
    }

    void pick_findsTheFirstSurfaceOfThePlacedModel()
    {
        const auto mesh = box(10, 10, 10);
        mesh->setPosition(QVector3D(20, 5, 0));
        const auto hit = mesh->pick(QVector3D(21, 100, 1), QVector3D(0, -1, 0));
        QVERIFY(hit.has_value());
        QVERIFY(near(*hit, QVector3D(21, 10, 1)));
        QVERIFY(!mesh->pick(QVector3D(0, 100, 0), QVector3D(0, -1, 0)).has_value());
        QVERIFY(!mesh->pick(QVector3D(21, 100, 1), QVector3D(0, 1, 0)).has_value());
        // Scaled and turned: the top of a 10 x 30 x 20 box lying on its side, scale 2.
        const auto lying = box(10, 20, 30);
        lying->rotate(2, 90);
        lying->setUniformScale(2);
        lying->setPosition(QVector3D(0, 10, 0));
        const auto top = lying->pick(QVector3D(25, 100, 0), QVector3D(0, -1, 0));
        QVERIFY(top.has_value());
        QVERIFY(near(top->y(), 20));
    }

    // --- Print triangles --------------------------------------------------------------------

    void print_trianglesArePlacedInTheScene()
    {
        const auto mesh = box(10, 10, 10);
        mesh->setUniformScale(2);
        mesh->setPosition(QVector3D(10, 10, -3));
        const std::vector<MeshTriangle> triangles = mesh->printTriangles(true);
        QCOMPARE(int(triangles.size()), 12);
        const BoundingBox b = boxOf(triangles);
        QVERIFY(near(b.minX, 0) && near(b.maxX, 20));
        QVERIFY(near(b.minY, 0) && near(b.maxY, 20));
        QVERIFY(near(b.minZ, -13) && near(b.maxZ, 7));
        // Normals point out of the placed cube.
        for (const MeshTriangle &t : triangles) {
            const QVector3D middle = (t.a + t.b + t.c) / 3 - QVector3D(10, 10, -3);
            QVERIFY(QVector3D::dotProduct(t.normal, middle) > 0);
        }
    }

    // --- Walls ------------------------------------------------------------------------------

    void walls_tableOfPositionsAndTurns()
    {
        // Every wall's panel lies on its plane (thin panels, 0.5 mm).
        const struct {
            int axis;
            float plane;
        } planes[5] = {{2, -40}, {0, 64}, {2, 40}, {0, -64}, {1, 203.2f}};
        for (int kind = 0; kind < 5; ++kind) {
            const CollisionWall wall(kind);
            QCOMPARE(wall.kind(), kind);
            const QMatrix4x4 matrix = wall.modelMatrix();
            for (const MeshTriangle *t : wall.triangles()) {
                for (const QVector3D &v : {t->a, t->b, t->c})
                    QVERIFY2(qAbs(matrix.map(v)[planes[kind].axis] - planes[kind].plane) <= 0.26f,
                        qPrintable(QStringLiteral("kind %1").arg(kind)));
            }
        }
        QCOMPARE(CollisionWall(1).position(), QVector3D(64, 101.6f, 0));
        QCOMPARE(CollisionWall(4).position(), QVector3D(0, 203.2f, 0));
    }

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

    void supports_frameConversionAndLevels()
    {
        QVERIFY(near(UserImportedMeshSupports::toEngineFrame(QVector3D(25.4f, 50.8f, 76.2f)), QVector3D(1, -3, 2)));
        QVERIFY(near(UserImportedMeshSupports::fromEngineFrame(QVector3D(1, -3, 2)), QVector3D(25.4f, 50.8f, 76.2f)));
        QCOMPARE(UserImportedMeshSupports::densityLevel(1), 50);
        QCOMPARE(UserImportedMeshSupports::densityLevel(2), 25);
        QCOMPARE(UserImportedMeshSupports::densityLevel(3), 16);
        QCOMPARE(UserImportedMeshSupports::densityLevel(0.4), 100); // 125 held to 100
        QCOMPARE(UserImportedMeshSupports::densityLevel(0), 100);
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
        const std::vector<MeshTriangle> &model = mesh->supports().engine()->model();
        const BoundingBox b = boxOf(model);
        QVERIFY(
            near(b.maxX - b.minX, 20 / 25.4) && near(b.maxY - b.minY, 60 / 25.4) && near(b.maxZ - b.minZ, 40 / 25.4));
        QVERIFY(near(b.minZ, 0.19));
        QVERIFY(near(mesh->supports().liftHeight(), (0.19 + 20 / 25.4) * 25.4));
    }

    void supports_cubeLiftAndDimensions()
    {
        const auto mesh = box(10, 10, 10);
        QList<int> reports;
        QVERIFY(mesh->generateSupports(1, 50, [&](int percent) { reports << percent; }));
        QVERIFY(!reports.isEmpty() && reports.last() == 99);
        QVERIFY(mesh->hasSupports());
        QVERIFY(!mesh->supports().isBusy());
        QVERIFY(near(mesh->supports().liftHeight(), kLift));
        mesh->placeOnPlatform();
        // The cube's centre at the lift (its lowest point 4.826 mm up); the supports below
        // reach the platform.
        QVERIFY(near(mesh->position().y(), 9.826));
        const BoundingBox b = mesh->worldBoundingBox();
        QVERIFY(near(b.minY, 0, 0.01));
        QVERIFY(near(b.maxY, 14.826));
        QVERIFY(near(mesh->dimensionsIncludingSupports().y(), 14.826));
        QVERIFY(near(mesh->dimensions().y(), 14.826));
        const QVector3D supportSize = mesh->supports().dimensions();
        QVERIFY(near(mesh->dimensionsIncludingSupports().x(), qMax(10.0f, supportSize.x())));
        QVERIFY(near(mesh->dimensionsIncludingSupports().z(), qMax(10.0f, supportSize.z())));
        // One anchor per support; the supports add their volume.
        QVERIFY(!mesh->supports().anchors().empty());
        QCOMPARE(mesh->supports().anchors().size(), mesh->supports().engine()->supports().size());
        QVERIFY(mesh->supports().supportVolume() > 0);
        QVERIFY(near(mesh->volume(), 1.0 + mesh->supports().supportVolume(), 1e-9));
    }

    void supports_followTheModelWhenItMoves()
    {
        // The support frame maps onto the scene so that the model's centre sits at the
        // lift above the platform; a move carries the supports along.
        const auto mesh = box(10, 10, 10);
        QVERIFY(mesh->generateSupports(1, 50));
        mesh->placeOnPlatform();
        mesh->setPosition(QVector3D(20, mesh->position().y(), -10));
        const QMatrix4x4 matrix = mesh->supportMatrix();
        QVERIFY(near(matrix.map(QVector3D(0, 0, 0)), QVector3D(20, 0, -10)));
        QVERIFY(near(matrix.map(QVector3D(0, float(kLift), 0)), mesh->position()));
        QCOMPARE(mesh->supports().modelMatrix(), matrix);
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
            QCOMPARE(log.lines(),
                QStringList({"ERROR -- UserImportedMesh::addSupportAtPoint. Not supported.",
                    "ERROR -- UserImportedMesh::deleteAnchorSupport. Not supported.",
                    "ERROR -- UserImportedMesh::deactivateAllAnchors. Not supported."}));
            QVERIFY(!mesh->hasSupports());
        }
        // With supports, deleting where none stands changes nothing.
        QVERIFY(mesh->generateSupports(1, 50));
        const size_t count = mesh->supports().anchors().size();
        LogCapture log;
        QVERIFY(!mesh->deleteAnchorSupport(&nowhere));
        QVERIFY(!mesh->deleteAnchorSupport(nullptr));
        QCOMPARE(mesh->supports().anchors().size(), count);
        QVERIFY(log.lines().contains("CDLPMain::deleteSupport. Delete AnchorSupport failed"));
        QVERIFY(!log.lines().join('\n').contains("Not supported."));
        mesh->deactivateAllAnchors();
        QVERIFY(mesh->hasSupports());
        QVERIFY(near(mesh->supports().liftHeight(), kLift));
    }

    void supports_addAtAPointOfTheModelsUnderside()
    {
        const auto mesh = box(10, 10, 10);
        QVERIFY(mesh->generateSupports(1, 50));
        mesh->placeOnPlatform();
        mesh->setPosition(QVector3D(20, mesh->position().y(), -10));
        const size_t count = mesh->supports().anchors().size();
        const int triangleCount = mesh->supports().triangles().size();
        // A point of the cube's underside, found by a ray from below.
        const auto hit = mesh->pick(QVector3D(21.3f, -20, -7.3f), QVector3D(0, 1, 0));
        QVERIFY(hit.has_value());
        QVERIFY(near(hit->y(), 4.826));
        QVERIFY(mesh->addSupportAtPoint(*hit));
        QCOMPARE(mesh->supports().anchors().size(), count + 1);
        QVERIFY(mesh->supports().triangles().size() > triangleCount);
        // The engine got the point in its own frame: relative to the model, in inches, z up,
        // at the height the engine keeps the model.
        const QVector3D expected(1.3f / 25.4f, -2.7f / 25.4f, 4.826f / 25.4f);
        const auto &anchors = mesh->supports().anchors();
        QVERIFY(std::any_of(anchors.begin(), anchors.end(),
            [&](const auto &anchor) { return near(anchor->enginePoint(), expected, 1e-4f); }));
        QVERIFY(near(mesh->dimensions().y(), 14.826));
    }

    void supports_deleteTheSupportOfAPickedAnchor()
    {
        const auto mesh = box(10, 10, 10);
        QVERIFY(mesh->generateSupports(1, 50));
        mesh->placeOnPlatform();
        mesh->setPosition(QVector3D(-15, mesh->position().y(), 12));
        const size_t count = mesh->supports().anchors().size();
        QVERIFY(count >= 2);
        // Anchors stand from the platform up to their point, in the support frame.
        const UserImportedMeshSingleAnchorSupports &anchor = *mesh->supports().anchors().back();
        QVERIFY(near(anchor.geometry().minY(), 0, 0.01));
        QCOMPARE(anchor.modelMatrix(), mesh->supportMatrix());
        // A ray down the anchor's axis, from just under its point, finds it.
        const QVector3D point
            = mesh->supportMatrix().map(UserImportedMeshSupports::fromEngineFrame(anchor.enginePoint()));
        const UserImportedMeshSingleAnchorSupports *picked
            = mesh->pickAnchor(point - QVector3D(0, 1.0f, 0), QVector3D(0, -1, 0));
        QCOMPARE(picked, &anchor);
        const QVector3D pickedPoint = picked->enginePoint();
        mesh->supports().anchors().back()->setHighlighted(true);
        QVERIFY(picked->isHighlighted());
        mesh->deactivateAllAnchors();
        QVERIFY(!picked->isHighlighted());
        QVERIFY(mesh->deleteAnchorSupport(picked));
        QCOMPARE(mesh->supports().anchors().size(), count - 1);
        for (const auto &left : mesh->supports().anchors())
            QVERIFY(left->enginePoint() != pickedPoint);
        QVERIFY(!mesh->pickAnchor(QVector3D(0, 100, 0), QVector3D(0, 1, 0)));
    }

    void supports_areSlicedWithTheModel()
    {
        const auto mesh = box(10, 10, 10);
        QVERIFY(mesh->generateSupports(1, 50));
        mesh->placeOnPlatform();
        mesh->setPosition(QVector3D(6, mesh->position().y(), 3));
        const std::vector<MeshTriangle> print = mesh->printTriangles(true);
        QCOMPARE(int(print.size()), 12 + mesh->supports().triangles().size());
        const BoundingBox b = boxOf(print);
        const BoundingBox world = mesh->worldBoundingBox();
        QVERIFY(near(b.minY, 0, 0.01) && near(b.maxY, 14.826));
        QVERIFY(near(b.minX, world.minX) && near(b.maxX, world.maxX));
        QVERIFY(near(b.minZ, world.minZ) && near(b.maxZ, world.maxZ));
        const BoundingBox b75 = boxOf(mesh->printTriangles(false));
        QVERIFY(near(b75.minX, world.minX * 4 / 3) && near(b75.maxZ, world.maxZ * 4 / 3));
        QVERIFY(near(b75.minY, b.minY) && near(b75.maxY, b.maxY));
    }

    // --- Transformation records -----------------------------------------------------------

    void record_rotationTakesTheFirstNonZeroAngle()
    {
        TransformationRecord record;
        QCOMPARE(record.turn().first, -1);
        record.rotation = QVector3D(0, 0, 0);
        QCOMPARE(record.turn().first, -1);
        record.rotation = QVector3D(0, 30, 60);
        QCOMPARE(record.turn(), std::make_pair(1, 30.0f));
        record.rotation = QVector3D(-5, 30, 60);
        QCOMPARE(record.turn(), std::make_pair(0, -5.0f));

        const auto mesh = box(10, 20, 30);
        TransformationRecord turnY;
        turnY.rotation = QVector3D(0, 90, 45);
        applyTransformation(*mesh, turnY);
        QVERIFY(qFuzzyCompare(mesh->rotation(), QQuaternion::fromAxisAndAngle(0, 1, 0, 90)));
        QVERIFY(near(mesh->worldBoundingBox().minY, 0)); // set back on the platform
    }

    void record_emptyRotationResetAndSupportRemoval()
    {
        // An empty rotation turns nothing; the rest of the record still applies.
        const auto plain = box(10, 10, 10);
        TransformationRecord scaled;
        scaled.position = QVector3D(7, 0, -7);
        scaled.rotation = QVector3D(0, 0, 0);
        scaled.scale = 3.0f;
        applyTransformation(*plain, scaled);
        QCOMPARE(plain->rotation(), QQuaternion());
        QVERIFY(near(plain->position(), QVector3D(7, 15, -7)));

        const auto mesh = box(10, 10, 10);
        mesh->rotate(0, 30);
        QVERIFY(mesh->generateSupports(1, 50));
        TransformationRecord record;
        record.resetRotation = true;
        record.removeSupports = true;
        applyTransformation(*mesh, record);
        QCOMPARE(mesh->rotation(), QQuaternion());
        QVERIFY(!mesh->hasSupports());
        QVERIFY(near(mesh->position().y(), 5));
    }

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
        QVERIFY(history.undo());
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(10, 30, 20)));
        QVERIFY(near(mesh->position(), QVector3D(10, 15, 5)));
        QVERIFY(history.undo());
        QVERIFY(near(mesh->position(), QVector3D(0, 15, 0)));
        QVERIFY(!history.undo());

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

    // --- Model entries and the scene list -------------------------------------------------

    void scene_editsNeedASelectedModel()
    {
        PlatformModel platform;
        platform.addEntry(boxEntry(10, 10, 10));
        QVERIFY(!platform.setSelectedModelPosition(1, 2));
        QVERIFY(!platform.setSelectedModelRotation(90, 0, 0));
        QVERIFY(!platform.resetSelectedModelRotation());
        QVERIFY(!platform.addSupportsToSelectedModel(1, 50));
        QVERIFY(!platform.deleteSelectedModel());
        QVERIFY(!platform.duplicateSelectedModel(1));
        QVERIFY(!platform.removeSelectedModelDuplicates());
        QCOMPARE(platform.models().size(), 1);
        // Only entries of the list can be selected.
        platform.selectModel(boxEntry(10, 10, 10));
        QVERIFY(!platform.selectedModel());
    }

    void scene_positionRotationScaleAndUndo()
    {
        PlatformModel platform;
        const auto model = boxEntry(10, 20, 30);
        platform.addEntry(model);
        platform.selectModel(model);
        const auto &mesh = model->mesh();
        QVERIFY(platform.setSelectedModelPosition(12, -8));
        QVERIFY(near(mesh->position(), QVector3D(12, 15, -8)));
        QVERIFY(platform.setSelectedModelRotation(90, 0, 0));
        QVERIFY(near(mesh->worldBoundingBox().minY, 0));
        QVERIFY(platform.setSelectedModelScale(0.5));
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(5, 10, 15)));
        QVERIFY(!platform.setSelectedModelScale(0));
        QVERIFY(platform.centerSelectedModelInPlatform());
        QVERIFY(near(mesh->position(), QVector3D(0, 5, 0)));
        QVERIFY(platform.undoAction());
        QVERIFY(near(mesh->position(), QVector3D(12, 5, -8)));
        QVERIFY(platform.undoAction());
        QVERIFY(platform.undoAction());
        QCOMPARE(mesh->rotation(), QQuaternion());
        QVERIFY(platform.redoAction());
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(10, 20, 30)));
        QVERIFY(platform.resetSelectedModelRotation());
        QVERIFY(near(extents(mesh->worldBoundingBox()), QVector3D(10, 30, 20)));
    }

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
        QVERIFY(near(model->mesh()->unscaledDimensions(), QVector3D(25.4f, 25.4f, 25.4f)));
    }

    void scene_supportsSurviveTurnsAboutTheVerticalOnly()
    {
        PlatformModel platform;
        const auto model = boxEntry(10, 10, 10);
        platform.addEntry(model);
        platform.selectModel(model);
        QVERIFY(platform.addSupportsToSelectedModel(1, 50));
        const auto &mesh = model->mesh();
        QVERIFY(mesh->hasSupports());
        QVERIFY(near(mesh->position().y(), kLift));
        QVERIFY(near(platform.maxModelHeight(), 14.826));

        QVERIFY(platform.setSelectedModelRotation(0, 45, 0));
        QVERIFY(mesh->hasSupports());
        QVERIFY(near(mesh->position().y(), kLift));
        QVERIFY(platform.setSelectedModelRotation(0, 0, 30));
        QVERIFY(!mesh->hasSupports());
        QVERIFY(near(mesh->worldBoundingBox().minY, 0));
        QVERIFY(platform.undoAction()); // brings them back, the model on them
        QVERIFY(mesh->hasSupports());
        QVERIFY(near(mesh->position().y(), kLift));

        QVERIFY(platform.setSelectedModelScale(1)); // the same scale keeps them
        QVERIFY(mesh->hasSupports());
        QVERIFY(platform.setSelectedModelScale(2));
        QVERIFY(!mesh->hasSupports());
        QVERIFY(platform.undoAction());
        QVERIFY(platform.removeSupportsFromSelectedModel());
        QVERIFY(!mesh->hasSupports());
        QVERIFY(!platform.removeSupportsFromSelectedModel());
    }

    void scene_duplicatesAreIndependentCopiesPlacedApart()
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
            QCOMPARE(copy->status(), original->status());
            QVERIFY(copy->mesh() != original->mesh());
            QCOMPARE(copy->mesh()->picker(), original->mesh()->picker());
            QVERIFY(copy->mesh()->triangles().first() != original->mesh()->triangles().first());
            QVERIFY(copy->mesh()->hasSupports());
            QVERIFY(copy->mesh()->supports().engine() != original->mesh()->supports().engine());
            QVERIFY(near(copy->mesh()->supports().liftHeight(), kLift));
        }
        // No two models share ground, and none crosses a wall.
        for (int i = 0; i < 5; ++i) {
            for (int j = i + 1; j < 5; ++j) {
                const BoundingBox a = platform.models().at(i)->mesh()->worldBoundingBox();
                const BoundingBox b = platform.models().at(j)->mesh()->worldBoundingBox();
                QVERIFY2(a.maxX <= b.minX || b.maxX <= a.minX || a.maxZ <= b.minZ || b.maxZ <= a.minZ,
                    qPrintable(QStringLiteral("%1 and %2 overlap").arg(i).arg(j)));
            }
        }
        QVERIFY(!platform.doAnyModelsIntersectWalls());
        // A copy changes alone.
        const size_t anchors = original->mesh()->supports().anchors().size();
        const auto &copy = platform.models().at(2)->mesh();
        QCOMPARE(copy->supports().anchors().size(), anchors);
        QVERIFY(copy->deleteAnchorSupport(copy->supports().anchors().front().get()));
        QCOMPARE(original->mesh()->supports().anchors().size(), anchors);
        copy->removeSupports();
        QVERIFY(original->mesh()->hasSupports());

        QVERIFY(platform.removeSelectedModelDuplicates());
        QCOMPARE(platform.models(), QList<PlatformModel::Entry>({original, other}));
    }

    void scene_deleteClearAndTotals()
    {
        PlatformModel platform;
        const auto small = boxEntry(10, 10, 10);
        const auto tall = boxEntry(10, 10, 30);
        platform.addEntry(small);
        platform.addEntry(tall);
        QVERIFY(near(platform.maxModelHeight(), 30));
        QVERIFY(near(platform.totalModelVolume(), 4.0));
        QCOMPARE(int(platform.printTriangles(true).size()), 24);
        platform.selectModel(tall);
        QVERIFY(platform.setSelectedModelPosition(0, 0));
        QVERIFY(platform.deleteSelectedModel());
        QVERIFY(!platform.selectedModel());
        QCOMPARE(platform.models(), QList<PlatformModel::Entry>({small}));
        QVERIFY(!platform.undoAction()); // the deleted model's step is passed over
        QVERIFY(near(platform.maxModelHeight(), 10));
        platform.selectModel(small);
        platform.clearAllModels();
        QVERIFY(platform.models().isEmpty());
        QVERIFY(!platform.selectedModel());
        QCOMPARE(platform.maxModelHeight(), 0.0);
        QCOMPARE(platform.totalModelVolume(), 0.0);
        QVERIFY(!platform.doAnyModelsIntersectWalls());
    }

    void scene_automaticPlacementStartsAtTheBackLeftCorner()
    {
        PlatformModel platform;
        const auto first = boxEntry(10, 10, 10);
        platform.addEntry(first);
        const BoundingBox b = first->mesh()->worldBoundingBox();
        QVERIFY(near(b.minX, -64) && near(b.minZ, -40) && near(b.minY, 0));
        // A model waiting for the units answer is not placed yet.
        const auto waiting = boxEntry(1, 1, 1);
        platform.addEntry(waiting);
        QVERIFY(near(waiting->mesh()->position(), QVector3D(0, 0.5f, 0)));
        // Nothing fits: centred.
        const auto huge = box(200, 10, 10);
        QVERIFY(!platform.placeAutomatically(*huge));
        QVERIFY(near(huge->position().x(), 0) && near(huge->position().z(), 0));
    }
};

QTEST_GUILESS_MAIN(TestPlatformModel)
#include "tst_platformmodel.moc"
