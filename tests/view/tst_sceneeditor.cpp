// The editor's scene without drawing: model edits and their answers, the selection and
// picking, dragging and laying a face on the platform, placement of new models on both
// platforms, the walls, import with the unit questions, supports and slicing (hollowed too).
#include "crushedprintjob.h"
#include "logcapture.h"
#include "meshtesting.h"
#include "sceneeditor.h"
#include "scenepicking.h"
#include "testpaths.h"
#include "trapcheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

using namespace MeshTesting;
using Action = ModelEditRequest::Action;

namespace {

const QSizeF kViewport(800, 600);
const char *const kNoModelSelected = "ERROR OpenGLRenderer::updateSelectedModel. No model selected";

std::shared_ptr<SceneEditor> makeEditor(
    const OpenGLCamera::Pose &pose = OpenGLCamera::presetPose(OpenGLCamera::PresetView::Front))
{
    auto editor = std::make_shared<SceneEditor>();
    editor->setViewportSize(kViewport);
    editor->camera().setPose(pose);
    return editor;
}

ModelEditRequest edit(Action action)
{
    ModelEditRequest request;
    request.pending = true;
    request.action = action;
    return request;
}

MouseRequest mouse(MouseRequest::Action action, const QPointF &position)
{
    MouseRequest request;
    request.add(action, position);
    return request;
}

QPointF pixelOf(const SceneEditor &editor, const QVector3D &point)
{
    return *editor.camera().projectToPixel(point);
}

void setModes(SceneEditor &editor, bool ModeFlags::*flag, bool value)
{
    ModeFlags flags = editor.modes();
    flags.*flag = value;
    editor.applyModes(flags);
}

// The steps of the editor's history, each as the user takes it.
enum class Step {
    Move,
    TurnSupported,
    ScaleSupported,
    GenerateSupports,
    AddSupport,
    DeleteSupport,
    RemoveSupports,
    DeleteModel,
    Duplicate,
    RemoveDuplicates,
    ClearAll,
    Arrange
};

// The top of a support: where it meets the model, in the scene.
QVector3D supportTop(const UserImportedMesh &mesh, const UserImportedMeshSingleAnchorSupports &anchor)
{
    return mesh.supportMatrix().map(UserImportedMeshSupports::fromEngineFrame(anchor.enginePoint()));
}

void generateSupports(SceneEditor &editor, double density = 1, bool noLift = false, bool raft = false)
{
    ModelEditRequest request = edit(Action::AddSupports);
    request.supportDensity = density;
    request.supportStrength = 50;
    request.supportNoLift = noLift;
    request.supportRaft = raft;
    editor.updateSelectedModel(request);
    QTRY_VERIFY_WITH_TIMEOUT(!editor.isGeneratingSupports(), 60000);
}

// The scene's lowest height of the model itself, its supports left out.
float modelBottom(const UserImportedMesh &mesh)
{
    const QMatrix4x4 matrix = mesh.modelMatrix();
    float bottom = std::numeric_limits<float>::max();
    for (const MeshTriangle *triangle : mesh.triangles())
        for (const QVector3D &corner : {triangle->a, triangle->b, triangle->c})
            bottom = std::min(bottom, matrix.map(corner).y());
    return bottom;
}

// The scene's x span of the support mesh below the given height: what stands on the platform.
std::pair<float, float> supportSpanBelow(const UserImportedMesh &mesh, float height)
{
    const QMatrix4x4 matrix = mesh.supportMatrix();
    std::pair<float, float> span {std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest()};
    for (const MeshTriangle *triangle : mesh.supports().triangles())
        for (const QVector3D &corner : {triangle->a, triangle->b, triangle->c}) {
            const QVector3D point = matrix.map(corner);
            if (point.y() < height) {
                span.first = std::min(span.first, point.x());
                span.second = std::max(span.second, point.x());
            }
        }
    return span;
}

// Takes the step on the selected model; freeSpot is a point of its underside where the
// engine takes a new support.
void takeStep(SceneEditor &editor, Step step, const QVector3D &freeSpot)
{
    const UserImportedMesh &mesh = *editor.platform().selectedModel()->mesh();
    ModelEditRequest request;
    switch (step) {
    case Step::Move:
        request = edit(Action::SetPosition);
        request.xPosition = 20;
        request.yPosition = -10;
        break;
    case Step::TurnSupported:
        request = edit(Action::SetRotation);
        request.rotation = QVector3D(30, 0, 0);
        break;
    case Step::ScaleSupported:
        request = edit(Action::SetScale);
        request.scale = 1.5;
        break;
    case Step::GenerateSupports:
        generateSupports(editor, 2); // sparser than the supports a model may have already
        return;
    case Step::AddSupport:
        // Seen from below, the ray meets the underside first.
        editor.camera().setPose({500, 270, -45, freeSpot});
        editor.applyMouse(mouse(MouseRequest::Action::ClickInEditSupportMode, pixelOf(editor, freeSpot)));
        return;
    case Step::DeleteSupport: {
        // The support nearest the eye: nothing stands in front of it.
        const auto &anchors = mesh.supports().anchors();
        const QVector3D eye = editor.camera().eyePosition();
        const auto nearest = std::min_element(anchors.begin(), anchors.end(), [&](const auto &a, const auto &b) {
            return (supportTop(mesh, *a) - eye).length() < (supportTop(mesh, *b) - eye).length();
        });
        const QVector3D top = supportTop(mesh, **nearest);
        editor.applyMouse(mouse(MouseRequest::Action::DeleteSupport, pixelOf(editor, top * QVector3D(1, 0.5f, 1))));
        return;
    }
    case Step::RemoveSupports:
        request = edit(Action::RemoveSupports);
        break;
    case Step::DeleteModel:
        request = edit(Action::Delete);
        break;
    case Step::Duplicate:
        request = edit(Action::Duplicate);
        request.numberOfDuplicates = 2;
        break;
    case Step::RemoveDuplicates:
        request = edit(Action::RemoveDuplicates);
        break;
    case Step::ClearAll:
        request = edit(Action::ClearAll);
        break;
    case Step::Arrange:
        request = edit(Action::Arrange);
        break;
    }
    editor.updateSelectedModel(request);
}

} // namespace

class TestSceneEditor : public QObject
{
    Q_OBJECT

private slots:
    // --- Edits and answers -------------------------------------------------------------------
    void edit_withNothingSelected_logsAndChangesNothing_data()
    {
        QTest::addColumn<int>("action");
        for (const Action action : {Action::SetPosition, Action::SetRotation, Action::ResetRotation, Action::SetScale,
                 Action::CenterInPlatform, Action::AddSupports, Action::RemoveSupports, Action::Delete,
                 Action::Duplicate, Action::RemoveDuplicates})
            QTest::addRow("action %d", int(action)) << int(action);
    }

    void edit_withNothingSelected_logsAndChangesNothing()
    {
        QFETCH(int, action);
        const auto editor = makeEditor();
        const auto entry = addBox(editor->platform(), 10, 10, 10, false);
        const QVector3D position = entry->mesh()->position();
        QSignalSpy info(editor.get(), &SceneEditor::platformInfoReceived);
        ModelEditRequest request = edit(Action(action));
        request.xPosition = 20;
        request.rotation = QVector3D(90, 0, 0);
        request.scale = 2;
        request.numberOfDuplicates = 2;
        QTest::ignoreMessage(QtDebugMsg, kNoModelSelected);
        editor->updateSelectedModel(request);
        QCOMPARE(editor->platform().models().size(), 1);
        QCOMPARE(entry->mesh()->position(), position);
        QCOMPARE(entry->mesh()->scale(), QVector3D(1, 1, 1));
        QCOMPARE(entry->mesh()->rotation(), QQuaternion());
        QVERIFY(!editor->isGeneratingSupports());
        QCOMPARE(info.count(), 0);
    }

    void edit_selectedModel_staysOnThePlatformAndAnswers_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<QVector3D>("value"); // the scale (x), the rotation, or the position (x and z)
        QTest::addColumn<QVector3D>("size"); // of the box 10 wide, 30 tall and 20 deep afterwards
        QTest::addColumn<QPointF>("place"); // its centre's x and z afterwards; NaN: where it was
        const QPointF unmoved(qQNaN(), qQNaN());
        QTest::newRow("scale") << int(Action::SetScale) << QVector3D(2.5f, 0, 0) << QVector3D(25, 75, 50) << unmoved;
        QTest::newRow("scale refused") << int(Action::SetScale) << QVector3D(-1, 0, 0) << QVector3D(10, 30, 20)
                                       << unmoved;
        QTest::newRow("rotation about the first non-zero axis")
            << int(Action::SetRotation) << QVector3D(0, 90, 45) << QVector3D(20, 30, 10) << unmoved;
        QTest::newRow("rotation reset") << int(Action::ResetRotation) << QVector3D() << QVector3D(10, 30, 20)
                                        << unmoved;
        QTest::newRow("position") << int(Action::SetPosition) << QVector3D(12.5f, 0, -7) << QVector3D(10, 30, 20)
                                  << QPointF(12.5, -7);
        QTest::newRow("centre") << int(Action::CenterInPlatform) << QVector3D() << QVector3D(10, 30, 20)
                                << QPointF(0, 0);
    }

    void edit_selectedModel_staysOnThePlatformAndAnswers()
    {
        QFETCH(int, action);
        QFETCH(QVector3D, value);
        QFETCH(QVector3D, size);
        QFETCH(QPointF, place);
        const auto editor = makeEditor();
        const auto entry = addBox(editor->platform(), 10, 20, 30);
        if (Action(action) == Action::ResetRotation)
            entry->mesh()->rotate(1, 90);
        const QVector3D before = centre(entry->mesh()->worldBoundingBox());
        QSignalSpy info(editor.get(), &SceneEditor::platformInfoReceived);
        QSignalSpy answer(editor.get(), &SceneEditor::selectedModelTransformationReceived);
        ModelEditRequest request = edit(Action(action));
        request.scale = value.x();
        request.rotation = value;
        request.xPosition = value.x();
        request.yPosition = value.z();
        if (value.x() < 0)
            QTest::ignoreMessage(QtDebugMsg, "ERROR OpenGLRenderer::updateSelectedModel. Scale refused: -1");
        editor->updateSelectedModel(request);
        const BoundingBox box = entry->mesh()->worldBoundingBox();
        QVERIFY(near(extents(box), size));
        QVERIFY(near(box.minY, 0.0));
        const QPointF expected = qIsNaN(place.x()) ? QPointF(double(before.x()), double(before.z())) : place;
        QVERIFY(near(double(centre(box).x()), expected.x()) && near(double(centre(box).z()), expected.y()));
        QCOMPARE(info.count(), 1);
        QVERIFY(near(info.at(0).at(0).toDouble(), double(size.y())));
        QCOMPARE(answer.count(), 1);
    }

    void duplicates_placedApartAndRemovedAgain_outOfRangeRefused()
    {
        const auto editor = makeEditor();
        const auto other = addBox(editor->platform(), 10, 10, 10, false, QStringLiteral("/models/other.stl"));
        const auto original = addBox(editor->platform(), 20, 15, 10, true, QStringLiteral("/models/part.stl"));
        const auto duplicate = [&](int count) {
            ModelEditRequest request = edit(Action::Duplicate);
            request.numberOfDuplicates = count;
            editor->updateSelectedModel(request);
        };
        duplicate(-1);
        duplicate(SceneEditor::kMaximumDuplicates + 1);
        QCOMPARE(editor->platform().models().size(), 2);
        QSignalSpy info(editor.get(), &SceneEditor::platformInfoReceived);
        duplicate(3);
        const QList<PlatformModel::Entry> &models = editor->platform().models();
        QCOMPARE(models.size(), 5);
        QCOMPARE(editor->platform().selectedModel(), original);
        // Placed apart, as the platform model places copies.
        for (int i = 0; i < models.size(); ++i)
            for (int j = i + 1; j < models.size(); ++j)
                QVERIFY(!overlapOnPlatform(
                    models.at(i)->mesh()->worldBoundingBox(), models.at(j)->mesh()->worldBoundingBox()));
        QCOMPARE(info.count(), 1);
        QVERIFY(near(info.at(0).at(1).toDouble(), 1 + 4 * 3.0));
        editor->updateSelectedModel(edit(Action::RemoveDuplicates));
        QCOMPARE(editor->platform().models(), (QList<PlatformModel::Entry> {other, original}));
    }

    void delete_clearsSelectionAndHelpers_clearAllEmptiesTheScene()
    {
        QTemporaryDir dir;
        const auto editor = makeEditor();
        const auto first = addBox(editor->platform(), 10, 10, 10, false);
        const auto second = addBox(editor->platform(), 10, 10, 10);
        setModes(*editor, &ModeFlags::inSelectBaseMode, true);
        editor->applyMouse(mouse(
            MouseRequest::Action::ShowSelectBaseArrow, pixelOf(*editor, centre(second->mesh()->worldBoundingBox()))));
        QVERIFY(editor->baseArrow());
        QSignalSpy none(editor.get(), &SceneEditor::noModelSelectedAfterRequestingTransformation);
        QSignalSpy info(editor.get(), &SceneEditor::platformInfoReceived);
        editor->updateSelectedModel(edit(Action::Delete));
        QCOMPARE(editor->platform().models(), QList<PlatformModel::Entry> {first});
        QVERIFY(!editor->platform().selectedModel());
        QVERIFY(!editor->baseArrow());
        QCOMPARE(info.count(), 1);
        QCOMPARE(none.count(), 1);

        // A tiny model waits for its units answer; clearing all drops it too.
        editor->addModelFiles({writeStlBox(dir, "tiny.stl", 1, 1, 1)});
        QTRY_VERIFY(editor->modelBeingAdded());
        editor->updateSelectedModel(edit(Action::ClearAll));
        QVERIFY(editor->platform().models().isEmpty());
        QVERIFY(!editor->modelBeingAdded());
        QCOMPARE(info.count(), 2);
        QCOMPARE(info.at(1).at(0).toDouble(), 0.0);
        // Both are steps: undone, the models come back.
        QCOMPARE(editor->platform().history().stepCount(), 2);
    }

    // --- Undo and redo ------------------------------------------------------------------------
    void history_eachStep_undoRestoresRedoRepeats_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("supported"); // the selected model stands on supports first
        QTest::addColumn<bool>("copied"); // and has two copies
        QTest::newRow("move") << int(Step::Move) << false << false;
        QTest::newRow("turn a supported model") << int(Step::TurnSupported) << true << false;
        QTest::newRow("scale a supported model") << int(Step::ScaleSupported) << true << false;
        QTest::newRow("generate supports") << int(Step::GenerateSupports) << false << false;
        QTest::newRow("generate supports again") << int(Step::GenerateSupports) << true << false;
        QTest::newRow("add a support") << int(Step::AddSupport) << true << false;
        QTest::newRow("delete a support") << int(Step::DeleteSupport) << true << false;
        QTest::newRow("remove supports") << int(Step::RemoveSupports) << true << false;
        QTest::newRow("delete a supported model") << int(Step::DeleteModel) << true << false;
        QTest::newRow("duplicate a supported model") << int(Step::Duplicate) << true << false;
        QTest::newRow("remove duplicates") << int(Step::RemoveDuplicates) << false << true;
        QTest::newRow("clear all") << int(Step::ClearAll) << true << true;
        QTest::newRow("arrange") << int(Step::Arrange) << true << true;
    }

    void history_eachStep_undoRestoresRedoRepeats()
    {
        QFETCH(int, step);
        QFETCH(bool, supported);
        QFETCH(bool, copied);
        const auto editor = makeEditor();
        PlatformModel &platform = editor->platform();
        // The model first: put back, it must find its place before the other.
        const auto entry = addBox(platform, 10, 10, 10);
        addBox(platform, 10, 10, 10, false, QStringLiteral("/models/other.stl"));
        if (copied)
            QVERIFY(platform.duplicateSelectedModel(2));
        if (supported)
            QVERIFY(platform.addSupportsToSelectedModel(1, 50));
        QCOMPARE(entry->mesh()->hasSupports(), supported);
        QVector3D freeSpot;
        if (Step(step) == Step::AddSupport) {
            // Where the engine put a support it takes one again.
            const UserImportedMesh &mesh = *entry->mesh();
            freeSpot = supportTop(mesh, *mesh.supports().anchors().back());
            QVERIFY(platform.deleteAnchorSupport(entry, mesh.supports().anchors().back().get()));
        }
        platform.history().clear();
        QSignalSpy history(editor.get(), &SceneEditor::historyChanged);
        const auto expectHistory = [&](bool canUndo, bool canRedo) {
            QCOMPARE(platform.canUndo(), canUndo);
            QCOMPARE(platform.canRedo(), canRedo);
            QVERIFY(!history.isEmpty());
            QCOMPARE(history.last(), QVariantList({canUndo, canRedo}));
        };

        const std::vector<ModelState> before = sceneState(platform);
        takeStep(*editor, Step(step), freeSpot);
        const std::vector<ModelState> after = sceneState(platform);
        QVERIFY2(!sceneDifference(before, after).isEmpty(), "the step changed nothing");
        expectHistory(true, false);

        editor->updateSelectedModel(edit(Action::Undo));
        QVERIFY2(sceneDifference(sceneState(platform), before).isEmpty(),
            qPrintable(sceneDifference(sceneState(platform), before)));
        expectHistory(false, true);
        editor->updateSelectedModel(edit(Action::Redo));
        QVERIFY2(sceneDifference(sceneState(platform), after).isEmpty(),
            qPrintable(sceneDifference(sceneState(platform), after)));
        expectHistory(true, false);

        // Undone again, a new step leaves nothing to redo.
        editor->updateSelectedModel(edit(Action::Undo));
        platform.selectModel(entry);
        takeStep(*editor, Step::Move, freeSpot);
        expectHistory(true, false);
        QVERIFY(!platform.redoAction());
        QVERIFY(near(entry->mesh()->position().x(), 20.0));
    }

    // --- Picking and mouse -------------------------------------------------------------------
    void pick_nearestModelAlongTheRay_clickSelectsIt()
    {
        const auto editor = makeEditor(); // from the front: the camera looks along -z
        const auto front = addBox(editor->platform(), 10, 10, 10, false);
        const auto back = addBox(editor->platform(), 30, 10, 30, false);
        front->mesh()->setPosition(QVector3D(0, 5, 20));
        back->mesh()->setPosition(QVector3D(0, 15, -20));
        const QList<PlatformModel::Entry> &models = editor->platform().models();
        // Through both: the front one is met first, whatever the list order.
        const SceneRay through = editor->camera().rayThroughPixel(pixelOf(*editor, QVector3D(0, 5, 0)));
        std::optional<ScenePicking::ModelHit> hit = ScenePicking::nearestModel(models, through);
        QVERIFY(hit);
        QCOMPARE(hit->entry, front);
        QVERIFY(near(hit->point.z(), 25.0, 1e-2));
        const QList<PlatformModel::Entry> reversed {back, front};
        QCOMPARE(ScenePicking::nearestModel(reversed, through)->entry, front);
        // Above the small one only the large one is met.
        hit = ScenePicking::nearestModel(
            models, editor->camera().rayThroughPixel(pixelOf(*editor, QVector3D(0, 25, 0))));
        QVERIFY(hit);
        QCOMPARE(hit->entry, back);
        // Beside both nothing is.
        QVERIFY(!ScenePicking::nearestModel(
            models, editor->camera().rayThroughPixel(pixelOf(*editor, QVector3D(50, 5, 0)))));

        // A click selects what it meets and answers with it; one on empty space deselects.
        QSignalSpy answer(editor.get(), &SceneEditor::selectedModelTransformationReceived);
        QSignalSpy none(editor.get(), &SceneEditor::noModelSelectedAfterRequestingTransformation);
        editor->applyMouse(mouse(MouseRequest::Action::SelectModel, pixelOf(*editor, QVector3D(0, 5, 0))));
        QCOMPARE(editor->platform().selectedModel(), front);
        QCOMPARE(answer.count(), 1);
        editor->applyMouse(mouse(MouseRequest::Action::SelectModel, QPointF(2, 2)));
        QVERIFY(!editor->platform().selectedModel());
        QCOMPARE(none.count(), 1);
    }

    // Left-dragging in empty space turns the camera exactly as right-dragging does; the
    // models stay and the release ends the turn.
    void orbit_leftDragInEmptySpace_turnsTheCameraAsTheRightButton()
    {
        const auto editor = makeEditor(OpenGLCamera::presetPose(OpenGLCamera::PresetView::Home));
        const auto entry = addBox(editor->platform(), 10, 10, 10, false);
        const QVector3D start = entry->mesh()->position();
        const QPointF press(20, 20);
        MouseRequest request;
        request.add(MouseRequest::Action::SelectModel, press);
        request.add(MouseRequest::Action::MoveModel, press + QPointF(60, 25));
        editor->applyMouse(request);

        const auto expected = makeEditor(OpenGLCamera::presetPose(OpenGLCamera::PresetView::Home));
        CameraRequest rightDrag;
        rightDrag.placeRotationAnchor = true;
        rightDrag.rotation = OpenGLCamera::rotationAmount(60, 25);
        expected->applyCamera(rightDrag);
        const OpenGLCamera::Pose turned = editor->camera().pose();
        QVERIFY(expected->camera().pose().azimuth != OpenGLCamera::presetPose(OpenGLCamera::PresetView::Home).azimuth);
        QVERIFY(near(turned.azimuth, expected->camera().pose().azimuth));
        QVERIFY(near(turned.elevation, expected->camera().pose().elevation));
        QVERIFY(!editor->platform().selectedModel());
        QCOMPARE(entry->mesh()->position(), start);

        editor->applyMouse(mouse(MouseRequest::Action::SelectionButtonReleased, press));
        QVERIFY(!editor->camera().isRotationAnchorPlaced());
        editor->applyMouse(mouse(MouseRequest::Action::MoveModel, press + QPointF(-80, 0)));
        QVERIFY(near(editor->camera().pose().azimuth, turned.azimuth));
    }

    void drag_byTheModelOrTheGimbalIcon_movesOverThePlatform_undoesWithoutSelection()
    {
        const auto editor = makeEditor(OpenGLCamera::presetPose(OpenGLCamera::PresetView::Home));
        const auto entry = addBox(editor->platform(), 10, 10, 10, false);
        const QVector3D start = entry->mesh()->position();
        const QPointF press = pixelOf(*editor, centre(entry->mesh()->worldBoundingBox()));
        const QPointF moved = press + QPointF(60, 25);
        MouseRequest request;
        request.add(MouseRequest::Action::SelectModel, press);
        request.add(MouseRequest::Action::MoveModel, press + QPointF(10, 10));
        request.add(MouseRequest::Action::MoveModel, moved); // replaces the move before
        QCOMPARE(int(request.events.size()), 2);
        editor->applyMouse(request);
        QCOMPARE(editor->platform().selectedModel(), entry);
        // The grabbed point follows the mouse over the platform plane.
        const auto hit = [&](const QPointF &pixel) {
            const SceneRay ray = editor->camera().rayThroughPixel(pixel);
            return UserImportedMesh::platformHit(ray.origin, ray.direction);
        };
        const QVector3D expected = start + (hit(moved) - hit(press));
        QVERIFY(near(entry->mesh()->position(), QVector3D(expected.x(), start.y(), expected.z()), 1e-2f));
        QCOMPARE(editor->platform().history().stepCount(), 0);
        QSignalSpy answer(editor.get(), &SceneEditor::selectedModelTransformationReceived);
        editor->applyMouse(mouse(MouseRequest::Action::SelectionButtonReleased, QPointF()));
        QVERIFY(!entry->mesh()->isDragging());
        QCOMPARE(editor->platform().history().stepCount(), 1);
        QCOMPARE(answer.count(), 1);
        const QVector3D dropped = entry->mesh()->position();
        // Undo and redo need no selection.
        editor->platform().selectModel(nullptr);
        editor->updateSelectedModel(edit(Action::Undo));
        QVERIFY(near(entry->mesh()->position(), start));
        editor->updateSelectedModel(edit(Action::Redo));
        QVERIFY(near(entry->mesh()->position(), dropped));
        // A ray parallel to the platform counts as meeting it at its origin.
        QVERIFY(near(UserImportedMesh::platformHit(QVector3D(1, 7, 2), QVector3D(1, 0, 0)), QVector3D(1, 7, 2)));

        // The gimbal's move icon drags the selected model too. It sits beside the model: the
        // press need not hit it.
        editor->platform().selectModel(entry);
        request = MouseRequest();
        request.add(MouseRequest::Action::PressGimbalMoveIcon, QPointF(100, 500));
        request.add(MouseRequest::Action::DragGimbalMoveIcon, QPointF(160, 500));
        request.add(MouseRequest::Action::SelectionButtonReleased, QPointF());
        editor->applyMouse(request);
        QVERIFY(entry->mesh()->position().x() > dropped.x() + 1.0f);
        QCOMPARE(entry->mesh()->position().y(), start.y());
        QCOMPARE(editor->platform().history().stepCount(), 2);
    }

    void selectBase_laysThePickedFaceOnThePlatform()
    {
        const auto editor = makeEditor(); // the front face (+z) faces the camera
        const auto entry = addBox(editor->platform(), 10, 20, 30); // 10 wide, 30 tall, 20 deep
        QVERIFY(near(extents(entry->mesh()->worldBoundingBox()), QVector3D(10, 30, 20)));
        editor->applyMouse(
            mouse(MouseRequest::Action::SelectBase, pixelOf(*editor, centre(entry->mesh()->worldBoundingBox()))));
        // The front face now lies on the platform: the depth became the height.
        const BoundingBox box = entry->mesh()->worldBoundingBox();
        QVERIFY(near(extents(box), QVector3D(10, 20, 30), 1e-2f));
        QVERIFY(near(box.minY, 0.0, 1e-3));
        QVERIFY(editor->platform().history().stepCount() >= 1);

        // From the right (+x face), and from above (top face): each lies down.
        editor->camera().setPose(OpenGLCamera::presetPose(OpenGLCamera::PresetView::Right));
        editor->applyMouse(
            mouse(MouseRequest::Action::SelectBase, pixelOf(*editor, centre(entry->mesh()->worldBoundingBox()))));
        QVERIFY(near(extents(entry->mesh()->worldBoundingBox()), QVector3D(20, 10, 30), 1e-2f));
        editor->camera().setPose(OpenGLCamera::presetPose(OpenGLCamera::PresetView::Top));
        editor->applyMouse(
            mouse(MouseRequest::Action::SelectBase, pixelOf(*editor, centre(entry->mesh()->worldBoundingBox()))));
        QVERIFY(near(extents(entry->mesh()->worldBoundingBox()), QVector3D(20, 10, 30), 1e-2f));
        QVERIFY(near(entry->mesh()->worldBoundingBox().minY, 0.0, 1e-3));
    }

    void modeHelpers_selectBaseArrowOnlyInItsMode()
    {
        const auto editor = makeEditor();
        const auto entry = addBox(editor->platform(), 10, 10, 10);
        const QPointF onModel = pixelOf(*editor, centre(entry->mesh()->worldBoundingBox()));
        editor->applyMouse(mouse(MouseRequest::Action::ShowSelectBaseArrow, onModel));
        QVERIFY(!editor->baseArrow());
        setModes(*editor, &ModeFlags::inSelectBaseMode, true);
        editor->applyMouse(mouse(MouseRequest::Action::ShowSelectBaseArrow, onModel));
        QVERIFY(editor->baseArrow());
        // Points into the front face.
        QVERIFY(near(editor->baseArrow()->direction, QVector3D(0, 0, -1)));
        QVERIFY(near(editor->baseArrow()->point.z(), float(entry->mesh()->worldBoundingBox().maxZ), 1e-2f));
        QVERIFY(editor->snapshot().baseArrow);
        setModes(*editor, &ModeFlags::inSelectBaseMode, false);
        QVERIFY(!editor->baseArrow());
        QVERIFY(!editor->snapshot().baseArrow);
    }

    // --- Placement and walls -----------------------------------------------------------------
    void placement_manyModels_noOverlapInsideThePlatform_data()
    {
        QTest::addColumn<bool>("is75Microns");
        QTest::newRow("100 microns, 128 x 80 mm") << false;
        QTest::newRow("75 microns, 96 x 60 mm") << true;
    }

    void placement_manyModels_noOverlapInsideThePlatform()
    {
        QFETCH(bool, is75Microns);
        QTemporaryDir dir;
        const auto editor = makeEditor();
        setModes(*editor, &ModeFlags::platformIs75Microns, is75Microns);
        QStringList files;
        for (int i = 0; i < 6; ++i)
            files << writeStlBox(dir, QStringLiteral("part%1.stl").arg(i), 18, 12, 8 + i);
        editor->addModelFiles(files);
        QTRY_COMPARE(editor->platform().models().size(), 6);
        const PlatformArea area = PlatformArea::forPrinter(is75Microns);
        const QList<PlatformModel::Entry> &models = editor->platform().models();
        for (int i = 0; i < models.size(); ++i) {
            const BoundingBox box = models.at(i)->mesh()->worldBoundingBox();
            QVERIFY(!area.isCrossedBy(box));
            QVERIFY(near(box.minY, 0.0));
            for (int j = i + 1; j < models.size(); ++j)
                QVERIFY(!overlapOnPlatform(box, models.at(j)->mesh()->worldBoundingBox()));
        }
        QVERIFY(!editor->doAnyModelsIntersectWalls());
    }

    // --- Arranging and placement warnings --------------------------------------------------------
    void arrange_setsHeapedModelsApartInsideThePlatform_data()
    {
        QTest::addColumn<bool>("is75Microns");
        QTest::newRow("100 microns") << false;
        QTest::newRow("75 microns") << true;
    }

    void arrange_setsHeapedModelsApartInsideThePlatform()
    {
        QFETCH(bool, is75Microns);
        const auto editor = makeEditor();
        setModes(*editor, &ModeFlags::platformIs75Microns, is75Microns);
        for (int i = 0; i < 5; ++i)
            addBox(editor->platform(), 16 + 2 * i, 12, 10)->mesh()->setPosition(QVector3D(0, 5, 0));
        QSignalSpy info(editor.get(), &SceneEditor::platformInfoReceived);
        editor->updateSelectedModel(edit(Action::Arrange));
        QCOMPARE(info.count(), 1);
        const PlatformArea area = PlatformArea::forPrinter(is75Microns);
        const QString fault = placementFault(editor->platform().models(), area.halfWidth, area.halfDepth,
            PlatformModel::kWallMargin, PlatformModel::kPlacementGap);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(!editor->doAnyModelsIntersectWalls());
    }

    void duplicates_onTheSmallPlatform_placedOnItApart()
    {
        const auto editor = makeEditor();
        setModes(*editor, &ModeFlags::platformIs75Microns, true);
        addBox(editor->platform(), 20, 20, 10);
        ModelEditRequest copies = edit(Action::Duplicate);
        copies.numberOfDuplicates = 4;
        editor->updateSelectedModel(copies);
        QCOMPARE(editor->platform().models().size(), 5);
        const PlatformArea area = PlatformArea::forPrinter(true);
        const QString fault = placementFault(editor->platform().models(), area.halfWidth, area.halfDepth,
            PlatformModel::kWallMargin, PlatformModel::kPlacementGap);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QVERIFY(!editor->doAnyModelsIntersectWalls());
        QVERIFY(editor->placementWarning().isEmpty());
    }

    void warnings_sayWhatIsWrongAtOnce_andClearWhenMended_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("words");
        QTest::newRow("two models overlap") << "overlap"
                                            << "box.stl and box.stl overlap.";
        QTest::newRow("a model outside the walls") << "outside"
                                                   << "box.stl is outside the build area";
        QTest::newRow("an open surface") << "open"
                                         << "open.obj is not a closed surface";
        QTest::newRow("copies without room") << "copies"
                                             << "of 12 copies do not fit on the platform";
        QTest::newRow("arranged without room") << "arrange"
                                               << "3 of 12 models do not fit on the platform";
    }

    void warnings_sayWhatIsWrongAtOnce_andClearWhenMended()
    {
        QFETCH(QString, situation);
        QFETCH(QString, words);
        QTemporaryDir dir;
        const auto editor = makeEditor();
        QSignalSpy warnings(editor.get(), &SceneEditor::placementWarningChanged);
        const auto last = [&] { return warnings.isEmpty() ? QString() : warnings.last().at(0).toString(); };
        LogCapture log;
        ModelEditRequest mend = edit(Action::Arrange);
        if (situation == QLatin1String("overlap")) {
            addBox(editor->platform(), 10, 10, 10, false);
            addBox(editor->platform(), 10, 10, 10);
            ModelEditRequest move = edit(Action::SetPosition);
            editor->updateSelectedModel(move); // onto the first, in the middle
        } else if (situation == QLatin1String("outside")) {
            addBox(editor->platform(), 10, 10, 10);
            ModelEditRequest move = edit(Action::SetPosition);
            move.xPosition = 60;
            editor->updateSelectedModel(move);
            mend = edit(Action::CenterInPlatform);
        } else if (situation == QLatin1String("open")) {
            // A tetrahedron without its fourth face.
            const QString path = dir.filePath(QStringLiteral("open.obj"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("v 0 0 0\nv 10 0 0\nv 0 10 0\nv 0 0 10\nf 1 3 2\nf 1 2 4\nf 1 4 3\n");
            file.close();
            editor->addModelFiles({path});
            QTRY_COMPARE(editor->platform().models().size(), 1);
            mend = edit(Action::Delete);
        } else if (situation == QLatin1String("copies")) {
            addBox(editor->platform(), 40, 30, 10);
            ModelEditRequest copies = edit(Action::Duplicate);
            copies.numberOfDuplicates = 12;
            editor->updateSelectedModel(copies);
            mend = edit(Action::RemoveDuplicates);
        } else {
            for (int i = 0; i < 12; ++i)
                addBox(editor->platform(), 39, 23, 10);
            editor->updateSelectedModel(edit(Action::Arrange));
            mend = edit(Action::ClearAll);
        }
        QVERIFY2(last().contains(words), qPrintable(last()));
        QVERIFY2(
            log.lines().filter(QStringLiteral("NOTICE OpenGLRenderer::checkPlacement. ")).filter(words).size() == 1,
            qPrintable(log.lines().join('\n')));
        // A state is told once: an edit that changes nothing of it says nothing new. (What an
        // action could not do is told with that action only.)
        if (situation != QLatin1String("copies") && situation != QLatin1String("arrange")) {
            const int told = warnings.count();
            editor->updateSelectedModel(edit(Action::ResetRotation));
            QCOMPARE(warnings.count(), told);
        }
        editor->updateSelectedModel(mend);
        QVERIFY2(last().isEmpty(), qPrintable(last()));
    }

    // --- Gimbal ------------------------------------------------------------------------------
    void gimbal_pointsReportedOnceAroundTheModel_disabledOnceWithout()
    {
        const auto editor = makeEditor();
        const auto entry = addBox(editor->platform(), 20, 20, 20);
        QSignalSpy disabled(editor.get(), &SceneEditor::gimbalIsDisabled);
        QSignalSpy points(editor.get(), &SceneEditor::gimbalBoundingPointsReceived);
        editor->frameSynchronized(); // the gimbal cannot render yet
        editor->frameSynchronized();
        QCOMPARE(disabled.count(), 1);
        setModes(*editor, &ModeFlags::gimbalCanRender, true);
        editor->frameSynchronized();
        editor->frameSynchronized();
        QCOMPARE(points.count(), 1);
        const QPointF top = points.at(0).at(0).toPointF();
        const QPointF right = points.at(0).at(1).toPointF();
        const QPointF bottom = points.at(0).at(2).toPointF();
        const QPointF left = points.at(0).at(3).toPointF();
        const QPointF middle = pixelOf(*editor, centre(entry->mesh()->worldBoundingBox()));
        QVERIFY(top.y() < middle.y() && bottom.y() > middle.y());
        QVERIFY(left.x() < middle.x() && right.x() > middle.x());
        // Around the whole model: beyond its corners on screen.
        const QPointF corner = pixelOf(*editor,
            QVector3D(10, 20, 10) + QVector3D(entry->mesh()->position().x(), 0, entry->mesh()->position().z()));
        QVERIFY(right.x() >= corner.x() && top.y() <= corner.y());
        QVERIFY(editor->snapshot().gimbal);
        // A new place is reported again.
        entry->mesh()->setPosition(entry->mesh()->position() + QVector3D(5, 0, 0));
        editor->frameSynchronized();
        QCOMPARE(points.count(), 2);
        // Without a selection: disabled, once.
        editor->platform().selectModel(nullptr);
        editor->frameSynchronized();
        editor->frameSynchronized();
        QCOMPARE(disabled.count(), 2);
        QVERIFY(!editor->snapshot().gimbal);
    }

    // --- Import ------------------------------------------------------------------------------
    void import_readyModel_isPlacedSelectedAndReported()
    {
        const auto editor = makeEditor();
        QSignalSpy info(editor.get(), &SceneEditor::platformInfoReceived);
        const QString path
            = TestPaths::sourceDir() + QStringLiteral("/tests/data/meshes/binary_solidheader_cube20_with_hole.stl");
        editor->addModelFiles({path});
        // The import runs after the frame, not inside it.
        QVERIFY(editor->platform().models().isEmpty());
        QTRY_COMPARE(editor->platform().models().size(), 1);
        const PlatformModel::Entry entry = editor->platform().models().first();
        QCOMPARE(editor->platform().selectedModel(), entry);
        QCOMPARE(entry->sourcePath(), path);
        QVERIFY(near(entry->mesh()->worldBoundingBox().minY, 0.0));
        QVERIFY(!editor->area().isCrossedBy(entry->mesh()->worldBoundingBox()));
        QCOMPARE(info.count(), 1);
        // The 20 x 20 x 10 mm block lies flat: 10 mm high.
        QVERIFY(near(info.at(0).at(0).toDouble(), 10.0));
        QVERIFY(near(info.at(0).at(1).toDouble(), 3.0));
    }

    void import_smallModelAsksForUnits_largeToResize_theQueueWaits()
    {
        QTemporaryDir dir;
        const auto editor = makeEditor();
        QSignalSpy units(editor.get(), &SceneEditor::sendPromptUserForInchesOrMM);
        QSignalSpy resize(editor.get(), &SceneEditor::sendPromptUserForResizeToFitPlatform);
        editor->addModelFiles({writeStlBox(dir, "tiny.stl", 1, 2, 1), writeStlBox(dir, "rod.stl", 250, 10, 10)});
        QTRY_COMPARE(units.count(), 1);
        // The queue waits for the answer.
        QCoreApplication::processEvents();
        QVERIFY(editor->platform().models().isEmpty());
        QVERIFY(editor->modelBeingAdded());
        QCOMPARE(editor->filesToImport().size(), 1);
        editor->setImportedModelUnits(true);
        QCOMPARE(editor->platform().models().size(), 1);
        QVERIFY(near(extents(editor->platform().models().first()->mesh()->worldBoundingBox()),
            QVector3D(25.4f, 25.4f, 50.8f), 1e-2f));
        QVERIFY(near(editor->platform().models().first()->mesh()->userScale(), 1.0));
        QTRY_COMPARE(resize.count(), 1);
        QCOMPARE(editor->platform().models().size(), 1);
        editor->resizeImportedModelToFitPlatform(true);
        QCOMPARE(editor->platform().models().size(), 2);
        QVERIFY(!editor->modelBeingAdded());
        // Scaled alike along every axis.
        QVERIFY(near(extents(editor->platform().models().last()->mesh()->worldBoundingBox()),
            QVector3D(203.2f, 8.128f, 8.128f), 1e-2f));
        // Declined, the model keeps its size (and crosses the walls).
        editor->addModelFiles({writeStlBox(dir, "long.stl", 300, 10, 10)});
        QTRY_COMPARE(resize.count(), 2);
        editor->resizeImportedModelToFitPlatform(false);
        QCOMPARE(editor->platform().models().size(), 3);
        QVERIFY(near(extents(editor->platform().models().last()->mesh()->worldBoundingBox()).x(), 300.0, 1e-2));
        QVERIFY(editor->doAnyModelsIntersectWalls());
    }

    // The units answer as millimetres, inches, centimetres or any factor: the prompt's
    // sizes are the drawn size times the factor, the model is placed at that size (at
    // user scale 1), or, too large, waits for the size question. Factors that are not
    // positive numbers are refused.
    void import_unitsFactor_givesSize_largeAsksForSize_data()
    {
        QTest::addColumn<double>("factor"); // 0: "Use mm", -1: "Use inches"
        QTest::addColumn<bool>("asksSize");
        QTest::addColumn<bool>("fits");
        QTest::newRow("mm") << 0.0 << false << true;
        QTest::newRow("inches") << -1.0 << false << true;
        QTest::newRow("cm") << 10.0 << false << true;
        QTest::newRow("custom 3.5") << 3.5 << false << true;
        QTest::newRow("custom 80, too wide") << 80.0 << false << false;
        QTest::newRow("custom 150, too large") << 150.0 << true << false;
    }
    void import_unitsFactor_givesSize_largeAsksForSize()
    {
        QFETCH(double, factor);
        QFETCH(bool, asksSize);
        QFETCH(bool, fits);
        QTemporaryDir dir;
        const auto editor = makeEditor();
        QSignalSpy resize(editor.get(), &SceneEditor::sendPromptUserForResizeToFitPlatform);
        QSignalSpy fit(editor.get(), &SceneEditor::scaleToFitChanged);
        editor->addModelFiles({writeStlBox(dir, "tiny.stl", 1, 2, 0.5f)});
        QTRY_VERIFY(editor->modelBeingAdded());
        const QVector3D drawn(1, 0.5f, 2);
        QVERIFY(near(editor->importedModelSize(), drawn));
        for (const double refused : {0.0, -2.0, std::numeric_limits<double>::quiet_NaN()}) {
            editor->setImportedModelScale(refused);
            QVERIFY(editor->modelBeingAdded());
        }

        const double millimetres = factor == 0.0 ? 1.0 : factor < 0.0 ? 25.4 : factor;
        QCOMPARE(editor->fitsPlatform(drawn * float(millimetres)), fits);
        if (factor > 0.0)
            editor->setImportedModelScale(factor);
        else
            editor->setImportedModelUnits(factor < 0.0);
        QCOMPARE(resize.count(), asksSize ? 1 : 0);
        if (asksSize) {
            QVERIFY(near(editor->importedModelSize(), drawn * float(millimetres), 1e-2f));
            QVERIFY(near(editor->importedModelResizedSize(), drawn * float(203.2 / 2), 1e-2f));
            editor->resizeImportedModelToFitPlatform(false);
        }
        QCOMPARE(editor->platform().models().size(), 1);
        const UserImportedMesh &mesh = *editor->platform().models().first()->mesh();
        QVERIFY(near(extents(mesh.worldBoundingBox()), drawn * float(millimetres), 1e-2f));
        QVERIFY(near(mesh.userScale(), 1.0));
        // Too large for the platform, the model is offered scale to fit.
        QCOMPARE(editor->selectedModelFitSize().isNull(), fits);
        QCOMPARE(fit.count(), fits ? 0 : 1);
        if (!fits) {
            editor->scaleSelectedModelToFit();
            QVERIFY(!editor->area().isCrossedBy(mesh.worldBoundingBox()));
            QVERIFY(fit.last().at(0).value<QVector3D>().isNull());
        }
    }

    void import_unreadableFile_isSkipped_answerWithoutModelIgnored()
    {
        QTemporaryDir dir;
        const auto editor = makeEditor();
        editor->setImportedModelUnits(true);
        editor->resizeImportedModelToFitPlatform(true);
        QVERIFY(editor->platform().models().isEmpty());
        QFile empty(dir.filePath("empty.stl"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        const QString good = writeStlBox(dir, "good.stl", 10, 10, 10);
        editor->addModelFiles({dir.filePath("missing.stl"), empty.fileName(), good});
        QTRY_COMPARE(editor->platform().models().size(), 1);
        QCOMPARE(editor->platform().models().first()->sourcePath(), good);
        QTRY_VERIFY(!editor->isImporting());
    }

    // --- Supports ----------------------------------------------------------------------------
    void supports_generatedAfterTheFrame_notForADeletedModel()
    {
        const auto editor = makeEditor();
        const auto entry = addBox(editor->platform(), 10, 10, 10);
        QSignalSpy info(editor.get(), &SceneEditor::platformInfoReceived);
        ModelEditRequest request = edit(Action::AddSupports);
        request.supportDensity = 1;
        request.supportStrength = 50;
        editor->updateSelectedModel(request);
        // Requested, not yet run: edits wait meanwhile.
        QVERIFY(editor->isGeneratingSupports());
        QVERIFY(!editor->acceptsModelEdits());
        QVERIFY(!entry->mesh()->hasSupports());
        QTRY_VERIFY(!editor->isGeneratingSupports());
        QVERIFY(editor->acceptsModelEdits());
        QVERIFY(entry->mesh()->hasSupports());
        QCOMPARE(info.count(), 1);
        QVERIFY(near(info.at(0).at(0).toDouble(), entry->mesh()->dimensions().y()));
        QVERIFY(!editor->snapshot().models.front().supportTriangles.isEmpty());
        // A model deleted before its turn gets none.
        editor->updateSelectedModel(edit(Action::RemoveSupports));
        editor->updateSelectedModel(request);
        QVERIFY(editor->isGeneratingSupports());
        editor->platform().deleteSelectedModel();
        QTRY_VERIFY(!editor->isGeneratingSupports());
        QVERIFY(!entry->mesh()->hasSupports());
    }

    void supports_platformChoice_reachesTheEngine_data()
    {
        QTest::addColumn<bool>("noLift");
        QTest::addColumn<bool>("raft");
        QTest::addColumn<double>("bottom");
        const double raftMm = 0.03 * 25.4;
        const double liftMm = 4.9; // 0.19 in, rounded up to whole 0.1 mm
        QTest::newRow("lifted") << false << false << liftMm;
        QTest::newRow("no lift") << true << false << 0.0;
        QTest::newRow("no lift, raft") << true << true << raftMm;
        QTest::newRow("lifted, raft") << false << true << 5.6; // the raft too, rounded up
    }

    // The model's base stands on the platform (or on the raft) without lift; the raft is a
    // plate under the whole model; either way the lowest point is on the platform.
    void supports_platformChoice_reachesTheEngine()
    {
        QFETCH(bool, noLift);
        QFETCH(bool, raft);
        QFETCH(double, bottom);
        const auto editor = makeEditor();
        const auto entry = addBox(editor->platform(), 10, 10, 10);
        generateSupports(*editor, 1, noLift, raft);
        const UserImportedMesh &mesh = *entry->mesh();
        QVERIFY(mesh.hasSupports());
        QVERIFY2(near(modelBottom(mesh), bottom, 0.01), qPrintable(QString::number(modelBottom(mesh))));
        QVERIFY(near(mesh.worldBoundingBox().minY, 0.0, 0.01));
        const BoundingBox box = mesh.worldBoundingBox();
        const std::pair<float, float> platformSpan = supportSpanBelow(mesh, 0.5f);
        const float middle = float(box.minX + box.maxX) / 2;
        // Under the model's whole width only with a raft; a lifted model stands on feet.
        QCOMPARE(platformSpan.first < middle - 5 && platformSpan.second > middle + 5, raft);
    }

    // --- Overhangs ---------------------------------------------------------------------------
    void overhangs_ofTheSelectedModelOnly_workedOutAgainWhenItTurns()
    {
        const auto editor = makeEditor();
        addBox(editor->platform(), 10, 10, 10, false, QStringLiteral("/models/other.stl"));
        const auto entry = addBox(editor->platform(), 10, 20, 30);
        // Standing on its base: nothing hangs.
        const SceneSnapshot standing = editor->snapshot();
        QVERIFY(!standing.models.front().overhangs);
        QVERIFY(standing.models.back().overhangs && standing.models.back().overhangs->empty());

        // Tipped 30 degrees, its base faces down at 60 degrees below the horizontal with one
        // edge on the platform: both triangles of the base hang.
        ModelEditRequest request = edit(Action::SetRotation);
        request.rotation = QVector3D(30, 0, 0);
        editor->updateSelectedModel(request);
        const auto tipped = editor->snapshot().models.back().overhangs;
        QVERIFY(tipped);
        QCOMPARE(tipped->size(), size_t(2));
        const QMatrix4x4 placed = entry->mesh()->modelMatrix();
        for (const int face : *tipped) {
            const MeshTriangle &t = *entry->mesh()->triangles().at(face);
            const QVector3D normal = QVector3D::crossProduct(t.b - t.a, t.c - t.a);
            QVERIFY(near(double(placed.mapVector(normal).normalized().y()), -std::cos(qDegreesToRadians(30.0)), 1e-4));
        }
        // Kept while nothing changes, and while the model moves across the platform; the
        // selection moving away takes them along.
        QCOMPARE(editor->snapshot().models.back().overhangs, tipped);
        ModelEditRequest move = edit(Action::SetPosition);
        move.xPosition = 20.0;
        move.yPosition = -10.0;
        editor->updateSelectedModel(move);
        QVERIFY(entry->mesh()->modelMatrix() != placed);
        QCOMPARE(editor->snapshot().models.back().overhangs, tipped);
        editor->platform().selectModel(editor->platform().models().front());
        QVERIFY(!editor->snapshot().models.back().overhangs);
        QVERIFY(editor->snapshot().models.front().overhangs->empty());
    }

    // --- Slicing -----------------------------------------------------------------------------
    void slicing_writesTheJobWithItsDescription_data()
    {
        QTest::addColumn<bool>("is75Microns");
        QTest::addColumn<QString>("description");
        QTest::newRow("100 microns") << false << QStringLiteral("sliced at 100 microns");
        QTest::newRow("75 microns") << true << QStringLiteral("sliced at 75 microns");
    }

    void slicing_writesTheJobWithItsDescription()
    {
        QFETCH(bool, is75Microns);
        QFETCH(QString, description);
        QTemporaryDir dir;
        const auto editor = makeEditor();
        setModes(*editor, &ModeFlags::platformIs75Microns, is75Microns);
        addBox(editor->platform(), 10, 10, 5)->mesh()->setPosition(QVector3D(0, 2.5f, 0));
        const QString path = dir.filePath("job.ssj");
        QList<int> reports;
        QVERIFY(editor->saveSlices(path, 100, false, 0, [&](int percent) { reports << percent; }));
        QVERIFY(!editor->isSlicing());
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.first(), 0);
        QCOMPARE(reports.last(), 100);
        QVERIFY(std::is_sorted(reports.begin(), reports.end()));
        QFile file(path);
        CrushedPrintJob job;
        QVERIFY(job.loadCPJ(&file));
        QCOMPARE(job.description(), description);
        QCOMPARE(job.versionText(), QStringLiteral("1"));
        QCOMPARE(job.layerThicknessText(), QStringLiteral("0.1"));
        // 5 mm at 0.1 mm layers, whatever the printer: heights stay in millimetres.
        QCOMPARE(job.getTotalLayers(), 50);
        // The square covers 100 pixels across on the 100-micron printer, 133 on the other.
        const qint64 white = job.getTotalWhitePixels(25, 25);
        const double side = is75Microns ? 10.0 / 0.075 : 100.0;
        QVERIFY2(std::abs(white - side * side) < 4 * side, qPrintable(QString::number(white)));
    }

    // Hollowed in the window: walls kept, inside emptied; drained by automatic holes or by
    // one clicked off the centre (cut there through the floor, the floor whole elsewhere).
    void slicingHollowed_wallKeptInsideEmptied_drainedByItsHoles_data()
    {
        QTest::addColumn<bool>("autoHoles");
        QTest::addColumn<bool>("clickHole");
        QTest::addColumn<int>("traps");
        QTest::newRow("automatic drain holes") << true << false << 0;
        QTest::newRow("no drain holes") << false << false << 1;
        QTest::newRow("hole clicked") << false << true << 0;
    }

    void slicingHollowed_wallKeptInsideEmptied_drainedByItsHoles()
    {
        QFETCH(bool, autoHoles);
        QFETCH(bool, clickHole);
        QTemporaryDir dir;
        const auto editor = makeEditor(OpenGLCamera::presetPose(OpenGLCamera::PresetView::Top));
        addBox(editor->platform(), 10, 10, 10)->mesh()->setPosition(QVector3D(0, 5, 0));
        GenSlices::Hollowing hollowing;
        hollowing.wall = 1.0;
        hollowing.autoDrainHoles = autoHoles;
        editor->setHollowing(hollowing);
        setModes(*editor, &ModeFlags::inPlaceDrainHoleMode, clickHole);
        const QVector3D top(2.5f, 10, 2.5f);
        editor->applyMouse(mouse(MouseRequest::Action::SelectModel, pixelOf(*editor, top)));
        QCOMPARE(editor->hollowing().drainHoles.size(), size_t(clickHole));
        QVERIFY(!clickHole || (editor->hollowing().drainHoles.at(0) - top).length() < 0.1f);
        if (clickHole) {
            // The hole belongs to the model: it moves with it, and placing it is a step.
            ModelEditRequest move = edit(Action::SetPosition);
            move.xPosition = 20.0;
            editor->updateSelectedModel(move);
            QVERIFY((editor->hollowing().drainHoles.at(0) - top - QVector3D(20, 0, 0)).length() < 0.1f);
            for (const Action step : {Action::Undo, Action::Undo, Action::Redo})
                editor->updateSelectedModel(edit(step));
            QVERIFY((editor->hollowing().drainHoles.at(0) - top).length() < 0.1f);
            editor->platform().clearAllModels();
            QVERIFY(editor->hollowing().drainHoles.empty());
            editor->updateSelectedModel(edit(Action::Undo));
            QCOMPARE(editor->hollowing().drainHoles.size(), size_t(1));
        }
        const QString path = dir.filePath("job.ssj");
        QVERIFY(editor->saveSlices(path, 100, false, 0, {}));
        QFile file(path);
        CrushedPrintJob job;
        QVERIFY(job.loadCPJ(&file));
        QTEST(TrapCheck::countLarger(TrapCheck::find(job, 0.1)), "traps");
        const auto lit = [&](int layer, int x, int y) {
            QImage image;
            job.getCBMSlice(layer)->inflateSlice(&image, 0, 0, true);
            return qRed(image.pixel(x, y)) == 255;
        };
        QVERIFY(!lit(50, 640, 400)); // the core
        QVERIFY(lit(50, 595, 400)); // the wall, 1 mm thick from x = 590
        // Platform y (the scene's z) grows down the image.
        QCOMPARE(lit(5, 665, 425), !clickHole);
        QVERIFY(lit(5, 665, 375));
    }

    // The level chosen in the window reaches the slicer: sub-rows shade a turned edge's
    // pixels otherwise than smoothed edges do.
    void slicingAntiAliased_levelReachesTheLayers()
    {
        QTemporaryDir dir;
        const auto editor = makeEditor();
        addBox(editor->platform(), 10, 10, 2)->mesh()->setPosition(QVector3D(0, 1, 0));
        ModelEditRequest turn = edit(Action::SetRotation);
        turn.rotation = QVector3D(0, 20, 0);
        editor->updateSelectedModel(turn);
        std::vector<QImage> layers(2);
        for (size_t i = 0; i < layers.size(); ++i) {
            const QString path = dir.filePath(QStringLiteral("job%1.ssj").arg(i));
            QVERIFY(editor->saveSlices(path, 100, true, int(i) * 8, {}));
            QFile file(path);
            CrushedPrintJob job;
            QVERIFY(job.loadCPJ(&file));
            job.getCBMSliceAnti(10)->inflateSlice(&layers[i], 0, 0, true);
        }
        QVERIFY(layers[0] != layers[1]);
    }
};

QTEST_MAIN(TestSceneEditor)
#include "tst_sceneeditor.moc"
