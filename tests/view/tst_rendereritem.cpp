// The editor item without drawing: what its operations record, how a frame hands the
// records to the scene (in order, the latest of a group winning), its properties, the
// file hand-off, progress to the page, and slicing and printing.
#include "crushedprintjob.h"
#include "meshtesting.h"
#include "rendererqmlitem.h"
#include "sceneeditor.h"
#include "testpaths.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaProperty>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtMath>

#include <cmath>
#include <memory>

using namespace MeshTesting;

Q_DECLARE_METATYPE(bool ModeFlags::*)

namespace {

// An item of 800 x 600 pixels that has been through one frame.
std::unique_ptr<RendererQMLItem> makeItem()
{
    auto item = std::make_unique<RendererQMLItem>();
    item->setSize(QSizeF(800, 600));
    item->synchronizeEditor();
    return item;
}

QPointF middleOf(const RendererQMLItem &item, const PlatformModel::Entry &entry)
{
    return *item.editor().camera().projectToPixel(centre(entry->mesh()->worldBoundingBox()));
}

} // namespace

class TestRendererItem : public QObject
{
    Q_OBJECT

private slots:
    // --- Requests and frames -------------------------------------------------------------------
    void frame_appliesTheLatestEditOnceAndClearsTheRecords()
    {
        const auto item = makeItem();
        const auto entry = addBox(item->editor().platform(), 10, 10, 10);
        QSignalSpy answers(item.get(), &RendererQMLItem::selectedModelTransformationReceived);
        item->setSelectedModelScale(2.0);
        item->setSelectedModelScale(3.0);
        item->zoomCamera(120);
        item->selectModelAtPoint(5, 5);
        QVERIFY(near(entry->mesh()->userScale(), 1.0)); // nothing before the frame
        item->synchronizeEditor();
        QVERIFY(near(entry->mesh()->userScale(), 3.0));
        QCOMPARE(item->editor().platform().history().stepCount(), 1);
        QCOMPARE(answers.count(), 1);
        QVERIFY(near(answers.at(0).at(1).toDouble(), 3.0));
        QVERIFY(!item->requests().hasModelEdits());
        QVERIFY(!item->requests().camera.pending);
        QVERIFY(!item->requests().mouse.pending);
        // A frame without records changes nothing.
        const double distance = item->editor().camera().distance();
        item->editor().platform().selectModel(entry);
        item->synchronizeEditor();
        QCOMPARE(item->editor().platform().history().stepCount(), 1);
        QCOMPARE(item->editor().camera().distance(), distance);
    }

    void frame_editsBeforeTheMouse_aClickShorterThanAFrameStillSelects()
    {
        const auto item = makeItem();
        const auto entry = addBox(item->editor().platform(), 10, 10, 10, false);
        // In one frame: an edit, then a press, a move and a release on the model. The edit
        // comes first and finds no model selected; the click selects without dragging.
        item->setSelectedModelScale(2.0);
        const QPointF pixel = middleOf(*item, entry);
        item->selectModelAtPoint(pixel.x(), pixel.y());
        item->moveModelWithMouse(pixel.x(), pixel.y());
        item->modelSelectionButtonReleased();
        item->synchronizeEditor();
        QCOMPARE(item->editor().platform().selectedModel(), entry);
        QVERIFY(near(entry->mesh()->userScale(), 1.0));
        QVERIFY(!entry->mesh()->isDragging());
        QCOMPARE(item->editor().platform().history().stepCount(), 0);
    }

    void cameraRequests_dragFromTheAnchorAndWheelStepsAddUp()
    {
        const auto item = makeItem();
        // A press, drag and release within one frame: the drag reports the whole distance
        // from the press; after the release a drag is ignored.
        item->placeRotationAnchor();
        item->rotateCamera(20, 10);
        item->rotateCamera(40, 20);
        item->releaseRotationAnchor();
        item->synchronizeEditor();
        QCOMPARE(item->editor().camera().azimuth(), 280.0);
        QCOMPARE(item->editor().camera().elevation(), 38.0);
        item->rotateCamera(40, 20);
        item->zoomCamera(120);
        item->zoomCamera(120);
        item->zoomCamera(-40);
        item->synchronizeEditor();
        QCOMPARE(item->editor().camera().azimuth(), 280.0);
        QVERIFY(near(item->editor().camera().distance(), 500.0 + 200 * 0.3));
    }

    void cameraMoves_untilReleasedOrQuiet_thenAFrameAtRest_data()
    {
        QTest::addColumn<QString>("move");
        QTest::addColumn<bool>("release");
        QTest::newRow("wheel") << "zoom" << false;
        QTest::newRow("drag held still") << "rotate" << false;
        QTest::newRow("drag released") << "rotate" << true;
        QTest::newRow("pan released") << "pan" << true;
        QTest::newRow("preset step") << "preset" << false;
        QTest::newRow("left drag in empty space held still") << "orbit" << false;
        QTest::newRow("left drag in empty space released") << "orbit" << true;
        QTest::newRow("model dragged, held still") << "model" << false;
        QTest::newRow("model dragged, released") << "model" << true;
        QTest::newRow("gimbal move handle released") << "move handle" << true;
        QTest::newRow("gimbal ring turned, held still") << "ring" << false;
        QTest::newRow("gimbal ring turned, released") << "ring" << true;
    }

    // Large models are drawn reduced while the view moves (the camera, or a model held by
    // the mouse) and whole at rest (the drawing itself: tst_viewrendering).
    void cameraMoves_untilReleasedOrQuiet_thenAFrameAtRest()
    {
        QFETCH(QString, move);
        QFETCH(bool, release);
        const auto item = makeItem();
        QVERIFY(!item->isCameraMoving());
        // Placing an anchor is a press, not a move.
        item->placeRotationAnchor();
        item->placePanningAnchor();
        QVERIFY(!item->isCameraMoving());
        if (move == QLatin1String("zoom"))
            item->zoomCamera(120);
        else if (move == QLatin1String("rotate"))
            item->rotateCamera(30, 0);
        else if (move == QLatin1String("pan"))
            item->panCamera(30, 0);
        else if (move == QLatin1String("orbit")) {
            // The scene finds the press misses every model when it applies it.
            item->selectModelAtPoint(10, 10);
            item->moveModelWithMouse(40, 10);
            item->synchronizeEditor();
        } else if (move != QLatin1String("preset")) {
            item->setGimbalCanRender(true);
            const QPointF at = middleOf(*item, addBox(item->editor().platform(), 20, 10, 6));
            item->synchronizeEditor();
            QVERIFY(!item->isCameraMoving());
            if (move == QLatin1String("ring")) {
                item->pressGimbalRotationHandleAtPoint(at.x() + 100, at.y(), 1);
                item->dragGimbalRotationHandleWithMouse(at.x(), at.y() - 100, false);
            } else if (move == QLatin1String("move handle")) {
                item->pressGimbalMoveIconAtPoint(at.x(), at.y());
                item->dragGimbalMoveIconWithMouse(at.x() + 30, at.y());
            } else {
                item->selectModelAtPoint(at.x(), at.y());
                item->moveModelWithMouse(at.x() + 30, at.y());
            }
            item->synchronizeEditor();
        } else
            item->moveCameraTowardsTop();
        QVERIFY(item->isCameraMoving());
        item->synchronizeEditor();
        QVERIFY(item->isCameraMoving());
        if (release) {
            if (move == QLatin1String("pan"))
                item->releasePanningAnchor();
            else if (move != QLatin1String("rotate")) {
                item->modelSelectionButtonReleased();
                item->synchronizeEditor();
            } else
                item->releaseRotationAnchor();
            QVERIFY(!item->isCameraMoving());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!item->isCameraMoving(), 10000);
    }

    void presetMoves_oneStepAFrameUntilDone()
    {
        const auto item = makeItem();
        item->beginFixedCameraMovement();
        int frames = 0;
        while (!item->isCameraMovementDone() && frames < 1000) {
            item->moveCameraTowardsRight();
            item->moveCameraTowardsRight(); // twice in a frame is one step
            item->synchronizeEditor();
            ++frames;
        }
        QCOMPARE(frames, 75); // 300 degrees of azimuth, 4 a step
        QCOMPARE(item->editor().camera().azimuth(), 0.0);
        // A new movement starts undone, and a frame without a step leaves it so.
        item->beginFixedCameraMovement();
        item->zoomCamera(120);
        item->synchronizeEditor();
        QVERIFY(!item->isCameraMovementDone());
    }

    // A box 20 wide, 6 high and 10 deep dragged by a handle of the gimbal, one move a frame:
    // a turning handle by `sweep` screen degrees counter-clockwise about the gimbal's centre
    // (axis -1: the move handle, 60 pixels right). The turn, the size the panel shows and
    // the history follow; undo puts the box back.
    void gimbalHandles_dragTurnsOrMoves_oneUndoStep_data()
    {
        QTest::addColumn<int>("axis");
        QTest::addColumn<double>("sweep");
        QTest::addColumn<bool>("snap");
        QTest::addColumn<double>("turn");
        QTest::addColumn<QVector3D>("size");
        const float diagonal = 30.0f / std::sqrt(2.0f);
        QTest::newRow("up axis") << 1 << 90.0 << false << 90.0 << QVector3D(10, 6, 20);
        QTest::newRow("up axis snapped") << 1 << -50.0 << true << -45.0 << QVector3D(diagonal, 6, diagonal);
        QTest::newRow("x axis") << 0 << 90.0 << false << 90.0 << QVector3D(20, 10, 6);
        QTest::newRow("z axis past a half turn") << 2 << 270.0 << false << 270.0 << QVector3D(6, 20, 10);
        QTest::newRow("move handle") << -1 << 0.0 << false << 0.0 << QVector3D(20, 6, 10);
    }

    void gimbalHandles_dragTurnsOrMoves_oneUndoStep()
    {
        QFETCH(int, axis);
        QFETCH(double, sweep);
        QFETCH(bool, snap);
        QFETCH(double, turn);
        QFETCH(QVector3D, size);
        const auto item = makeItem();
        item->setGimbalCanRender(true);
        const auto entry = addBox(item->editor().platform(), 20, 10, 6);
        item->synchronizeEditor();
        const QVector3D start = entry->mesh()->position();
        const QVector3D probe = entry->mesh()->rotation().rotatedVector(QVector3D(1, 2, 3));
        const QPointF pivot = middleOf(*item, entry);
        const auto at = [&](double degrees) {
            return pivot + 100.0 * QPointF(std::cos(qDegreesToRadians(degrees)), -std::sin(qDegreesToRadians(degrees)));
        };
        QSignalSpy sizes(item.get(), &RendererQMLItem::selectedModelSizeReceived);
        if (axis < 0) {
            item->pressGimbalMoveIconAtPoint(at(0).x(), at(0).y());
            item->dragGimbalMoveIconWithMouse(at(0).x() + 60, at(0).y());
        } else {
            item->pressGimbalRotationHandleAtPoint(at(0).x(), at(0).y(), axis);
            for (int step = 1; step <= 3; ++step) {
                item->synchronizeEditor();
                item->dragGimbalRotationHandleWithMouse(at(sweep * step / 3).x(), at(sweep * step / 3).y(), snap);
            }
        }
        item->synchronizeEditor();
        QCOMPARE(item->editor().platform().history().stepCount(), 0); // live until released
        item->modelSelectionButtonReleased();
        item->synchronizeEditor();
        QCOMPARE(item->editor().platform().history().stepCount(), 1);
        QVector3D axisVector;
        if (axis >= 0)
            axisVector[axis] = 1.0f;
        const QVector3D expected = QQuaternion::fromAxisAndAngle(axisVector, float(turn)).rotatedVector(probe);
        QVERIFY(near(entry->mesh()->rotation().rotatedVector(QVector3D(1, 2, 3)), expected));
        QCOMPARE(entry->mesh()->position().x() > start.x() + 1.0f, axis < 0);
        QVERIFY(!sizes.isEmpty());
        QVERIFY(near(sizes.last().at(0).value<QVector3D>(), size, 1e-2f));
        item->undoAction();
        item->synchronizeEditor();
        QVERIFY(near(entry->mesh()->rotation().rotatedVector(QVector3D(1, 2, 3)), probe));
        QVERIFY(near(entry->mesh()->position(), start));
        // No handle works while supports are edited by hand.
        item->setInEditSupportMode(true);
        item->synchronizeEditor();
        item->pressGimbalRotationHandleAtPoint(at(0).x(), at(0).y(), 1);
        item->dragGimbalRotationHandleWithMouse(at(90).x(), at(90).y(), false);
        item->modelSelectionButtonReleased();
        item->synchronizeEditor();
        QVERIFY(near(entry->mesh()->rotation().rotatedVector(QVector3D(1, 2, 3)), probe));
    }

    void edits_waitWhileSupportsAreGenerated()
    {
        const auto item = makeItem();
        const auto entry = addBox(item->editor().platform(), 10, 10, 10);
        item->addSupportsToSelectedModel(1, 50);
        item->synchronizeEditor();
        QVERIFY(item->editor().isGeneratingSupports());
        item->setSelectedModelScale(2);
        item->selectModelAtPoint(1, 1);
        item->synchronizeEditor();
        // Held back: the generator works on this model.
        QVERIFY(item->requests().hasModelEdits());
        QVERIFY(item->requests().mouse.pending);
        QVERIFY(near(entry->mesh()->userScale(), 1.0));
        QTRY_VERIFY(!item->editor().isGeneratingSupports());
        QVERIFY(entry->mesh()->hasSupports());
        item->synchronizeEditor();
        QVERIFY(near(entry->mesh()->userScale(), 2.0));
        QVERIFY(!item->editor().platform().selectedModel());
    }

    // --- Properties ----------------------------------------------------------------------------
    void modes_notifyOnceAndReachTheSceneAtTheFrame_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<bool ModeFlags::*>("flag");
        QTest::newRow("inchesMode") << QByteArray("inchesMode") << &ModeFlags::inchesMode;
        QTest::newRow("platformIs75Microns") << QByteArray("platformIs75Microns") << &ModeFlags::platformIs75Microns;
        QTest::newRow("gimbalCanRender") << QByteArray("gimbalCanRender") << &ModeFlags::gimbalCanRender;
        QTest::newRow("gimbalFixedRotationModeEnabled")
            << QByteArray("gimbalFixedRotationModeEnabled") << &ModeFlags::gimbalFixedRotationModeEnabled;
        QTest::newRow("inSelectBaseMode") << QByteArray("inSelectBaseMode") << &ModeFlags::inSelectBaseMode;
        QTest::newRow("inEditSupportMode") << QByteArray("inEditSupportMode") << &ModeFlags::inEditSupportMode;
    }

    void modes_notifyOnceAndReachTheSceneAtTheFrame()
    {
        QFETCH(QByteArray, property);
        QFETCH(bool ModeFlags::*, flag);
        const auto item = makeItem();
        const QMetaProperty meta = item->metaObject()->property(item->metaObject()->indexOfProperty(property));
        QVERIFY(meta.hasNotifySignal());
        QSignalSpy notified(item.get(), meta.notifySignal());
        QVERIFY(item->setProperty(property, true));
        QVERIFY(item->setProperty(property, true));
        QCOMPARE(notified.count(), 1);
        QCOMPARE(item->property(property).toBool(), true);
        QVERIFY(!(item->editor().modes().*flag));
        item->synchronizeEditor();
        QVERIFY(item->editor().modes().*flag);
        QVERIFY(item->setProperty(property, false));
        QCOMPARE(notified.count(), 2);
        item->synchronizeEditor();
        QVERIFY(!(item->editor().modes().*flag));
    }

    void undoRedo_propertiesFollowTheHistory_modelListFollowsTheScene()
    {
        const auto item = makeItem();
        const auto entry = addBox(item->editor().platform(), 10, 10, 10, true, QStringLiteral("/models/gear.stl"));
        QSignalSpy undoChanged(item.get(), &RendererQMLItem::canUndoChanged);
        QSignalSpy redoChanged(item.get(), &RendererQMLItem::canRedoChanged);
        QSignalSpy models(item.get(), &RendererQMLItem::modelListChanged);
        const auto expect = [&](bool canUndo, bool canRedo) {
            QTRY_COMPARE(item->property("canUndo").toBool(), canUndo);
            QTRY_COMPARE(item->property("canRedo").toBool(), canRedo);
        };
        QVERIFY(!item->canUndo() && !item->canRedo());
        item->duplicateSelectedModel(2);
        item->synchronizeEditor();
        expect(true, false);
        QCOMPARE(models.last().at(0).toStringList(), QStringList({"gear.stl", "gear.stl", "gear.stl"}));
        item->undoAction();
        item->synchronizeEditor();
        expect(false, true);
        QCOMPARE(models.last().at(0).toStringList(), QStringList({"gear.stl"}));
        item->redoAction();
        item->synchronizeEditor();
        expect(true, false);
        QCOMPARE(undoChanged.count(), 3);
        QCOMPARE(redoChanged.count(), 2);
        QCOMPARE(item->editor().platform().models().size(), 3);
        QCOMPARE(item->editor().platform().models().first(), entry);
    }

    // --- Files ---------------------------------------------------------------------------------
    void openFileFromSharedMemory_jobToTheViewer_meshToTheImport()
    {
        const auto item = makeItem();
        QSignalSpy viewer(item.get(), &RendererQMLItem::loadSSJToViewer);
        const QString job = QStringLiteral("/home/user/PART.SSJ");
        item->openFileFromSharedMemory(job);
        QCOMPARE(viewer.count(), 1);
        QCOMPARE(viewer.at(0).at(0).toString(), job);
        QVERIFY(item->requests().modelFiles.isEmpty());

        const QString path
            = TestPaths::sourceDir() + QStringLiteral("/tests/data/meshes/obj_chest_open_quads_vtvn.obj");
        // Connected the way the hand-off listener's signal reaches it.
        QVERIFY(QMetaObject::invokeMethod(item.get(), "openFileFromSharedMemory", Q_ARG(QString, path)));
        QCOMPARE(viewer.count(), 1);
        QCOMPARE(item->requests().modelFiles, QStringList {path});
    }

    void addModels_twiceInOneFrame_importsBoth_urlsAsLocalPaths()
    {
        QTemporaryDir dir;
        const auto item = makeItem();
        const QString first = writeStlBox(dir, "a.stl", 10, 10, 10);
        const QString second = writeStlBox(dir, "b.stl", 10, 10, 10);
        item->addModels({QUrl::fromLocalFile(first).toString()});
        item->addModels({second});
        QCOMPARE(item->requests().modelFiles, (QStringList {first, second}));
        item->synchronizeEditor();
        QTRY_COMPARE(item->editor().platform().models().size(), 2);
    }

    // --- Progress to the page, slicing and printing (cancelling is checked with the slicer) ----
    void pageFunctions_receiveProgress_jobWritten()
    {
        QTemporaryDir dir;
        QQuickWindow window; // never shown: nothing is drawn
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQuick 2.0\n"
                          "Item {\n"
                          "    property var imports: []\n"
                          "    property var supports: []\n"
                          "    property var slices: []\n"
                          "    function advanceImportModelBar(value) { imports.push(value) }\n"
                          "    function advanceAddingSupportsBar(value) { supports.push(value) }\n"
                          "    function advanceSliceStage(value) { slices.push(value) }\n"
                          "}\n",
            QUrl());
        std::unique_ptr<QObject> pageObject(component.create());
        QVERIFY2(pageObject, qPrintable(component.errorString()));
        auto *page = qobject_cast<QQuickItem *>(pageObject.get());
        page->setParentItem(window.contentItem());
        auto *item = new RendererQMLItem(page);
        item->setSize(QSizeF(800, 600));
        const auto values = [&](const char *name) { return page->property(name).toList(); };

        item->addModels({writeStlBox(dir, "part.stl", 10, 10, 10)});
        item->synchronizeEditor();
        QTRY_COMPARE(item->editor().platform().models().size(), 1);
        QVERIFY(values("imports").size() >= 2);
        QCOMPARE(values("imports").last().toInt(), 100);

        item->addSupportsToSelectedModel(1, 50);
        item->synchronizeEditor();
        QTRY_VERIFY(!item->editor().isGeneratingSupports());
        QVERIFY(values("supports").size() >= 2);
        QCOMPARE(values("supports").last().toInt(), 100);

        // Slicing, to a file given as a URL: the signal carries the same progress.
        QSignalSpy progress(item, &RendererQMLItem::sliceProgressUpdated);
        const QString path = dir.filePath("job.ssj");
        QVERIFY(item->saveSlices(QUrl::fromLocalFile(path).toString(), 50, true));
        QVERIFY(values("slices").size() >= 3);
        QCOMPARE(values("slices").last().toInt(), 100);
        QCOMPARE(progress.count(), values("slices").size());
        QVERIFY(QFile::exists(path));
    }

    void print_slicesIntoTheTemporaryFolderAndSendsIt_badThicknessRefused()
    {
        const auto item = makeItem();
        const QString name = QStringLiteral("viewtest%1").arg(QCoreApplication::applicationPid());
        addBox(item->editor().platform(), 10, 10, 2, false, QStringLiteral("/models/") + name + QStringLiteral(".stl"));
        QSignalSpy sent(item.get(), &RendererQMLItem::sendPrint);
        item->print(QStringLiteral("SN"), QStringLiteral("Resin"), -50.0, false);
        QCOMPARE(sent.count(), 0);
        item->print(QStringLiteral("SN-0042"), QStringLiteral("Tough Grey"), 100.0, false);
        QCOMPARE(sent.count(), 1);
        const QString path = sent.at(0).at(0).toString();
        QVERIFY2(path.endsWith(QLatin1Char('/') + name + QStringLiteral(".ssj")), qPrintable(path));
        QCOMPARE(sent.at(0).at(1).toString(), QStringLiteral("SN-0042"));
        QCOMPARE(sent.at(0).at(2).toString(), QStringLiteral("Tough Grey"));
        QFile file(path);
        CrushedPrintJob job;
        QVERIFY(job.loadCPJ(&file));
        QCOMPARE(job.getTotalLayers(), 20);
        QFile::remove(path);
    }
};

QTEST_MAIN(TestRendererItem)
#include "tst_rendereritem.moc"
