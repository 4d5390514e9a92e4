// The editor item drawing in a real window (Xvfb with Mesa's software OpenGL): an
// imported model shows where the camera projects it, the camera moves the picture, a
// wall the model crosses is drawn red, and a large model is drawn reduced and coarser while
// the camera orbits and as before once it rests.
#include "meshtesting.h"
#include "openglrenderer.h"
#include "rendererqmlitem.h"
#include "sceneeditor.h"
#include "testmeshes.h"
#include "testpaths.h"

#include <QGuiApplication>
#include <QImage>
#include <QQuickView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// The model's box as the camera projects it into the item, in pixels.
QRect projectedBox(const RendererQMLItem &item, const BoundingBox &box)
{
    double left = 1e9, top = 1e9, right = -1e9, bottom = -1e9;
    for (int corner = 0; corner < 8; ++corner) {
        const QVector3D point(float(corner & 1 ? box.maxX : box.minX), float(corner & 2 ? box.maxY : box.minY),
            float(corner & 4 ? box.maxZ : box.minZ));
        const QPointF pixel = *item.editor().camera().projectToPixel(point);
        left = std::min(left, pixel.x());
        right = std::max(right, pixel.x());
        top = std::min(top, pixel.y());
        bottom = std::max(bottom, pixel.y());
    }
    return QRect(
        QPoint(int(std::floor(left)), int(std::floor(top))), QPoint(int(std::ceil(right)), int(std::ceil(bottom))));
}

bool differs(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b)) > 24;
}

// The box of the pixels that differ between two pictures, and how many differ.
QRect changedPixels(const QImage &before, const QImage &after, int *count)
{
    QRect changed;
    *count = 0;
    for (int y = 0; y < after.height(); ++y) {
        for (int x = 0; x < after.width(); ++x) {
            if (differs(before.pixel(x, y), after.pixel(x, y))) {
                changed |= QRect(x, y, 1, 1);
                ++*count;
            }
        }
    }
    return changed;
}

// The box of what is drawn over the background.
QRect sceneBox(const QImage &image)
{
    QImage background(image.size(), image.format());
    background.fill(image.pixel(0, image.height() - 1)); // a corner: the background
    int count = 0;
    return changedPixels(background, image, &count);
}

int redPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qRed(pixel) > qGreen(pixel) + 50 && qRed(pixel) > qBlue(pixel) + 50)
                ++count;
        }
    }
    return count;
}

} // namespace

class TestViewRendering : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("Needs an X server with OpenGL (run under xvfb-run with QT_QPA_PLATFORM=xcb)");
        RendererQMLItem::registerQmlType();
    }

    void importedModel_drawnWhereItProjects_cameraMovesIt_crossedWallRed()
    {
        QVERIFY(showEditor());
        const QImage empty = grab();
        QCOMPARE(empty.size(), QSize(640, 480));
        QVERIFY(importModel());
        const QImage drawn = grab();
        const BoundingBox box = m_item->editor().platform().models().first()->mesh()->worldBoundingBox();
        const QRect projected = projectedBox(*m_item, box);
        QVERIFY(QRect(0, 0, 640, 480).contains(projected));
        // The model covers much of its projected box and nothing outside it changed: upright
        // and where the camera puts it.
        int changed = 0;
        const QRect changedBox = changedPixels(empty, drawn, &changed);
        QVERIFY(projected.adjusted(-2, -2, 2, 2).contains(changedBox));
        QVERIFY2(changed > projected.width() * projected.height() / 3, qPrintable(QString::number(changed)));
        QVERIFY(changedBox.width() > projected.width() * 8 / 10);
        QVERIFY(changedBox.height() > projected.height() * 8 / 10);
        // Lit, not black, and in the selected model's blue.
        const QRgb middle = drawn.pixel(projected.center());
        QVERIFY(qBlue(middle) > qRed(middle));
        QVERIFY(qBlue(middle) > 60);

        const int redBefore = redPixels(drawn);
        m_item->setSelectedModelPosition(60, 0); // the cube reaches x = 70
        QVERIFY(waitForFrames());
        QVERIFY(m_item->editor().crossedWalls()[1]);
        const QImage crossing = grab();
        const int redAfter = redPixels(crossing);
        QVERIFY2(redAfter > redBefore + 1000, qPrintable(QStringLiteral("%1 -> %2").arg(redBefore).arg(redAfter)));

        m_item->placeRotationAnchor();
        m_item->rotateCamera(120, 30);
        m_item->releaseRotationAnchor();
        QVERIFY(waitForFrames());
        QCOMPARE(m_item->editor().camera().azimuth(), 240.0);
        changedPixels(crossing, grab(), &changed);
        QVERIFY2(changed > 2000, qPrintable(QString::number(changed)));
    }

    // The selected model tipped until its base hangs over nothing: the base turns red.
    void tippedModel_unsupportedBaseDrawnRed()
    {
        QVERIFY(showEditor());
        QVERIFY(importModel());
        m_item->centerSelectedModelInPlatform();
        m_item->beginFixedCameraMovement();
        QVERIFY(QTest::qWaitFor(
            [&] {
                m_item->moveCameraTowardsFront();
                return waitForFrames() && m_item->isCameraMovementDone();
            },
            60000));
        const int redBefore = redPixels(grab());
        // Tipped towards the camera (it looks along -z): the base then faces it.
        m_item->setSelectedModelRotation(-30, 0, 0);
        QVERIFY(waitForFrames());
        const auto overhangs = m_item->editor().selectedOverhangs();
        QVERIFY(overhangs && !overhangs->empty());
        const MeshTriangle &first
            = *m_item->editor().platform().selectedModel()->mesh()->triangles().at(overhangs->front());
        if (QVector3D::crossProduct(first.b - first.a, first.c - first.a).z() < 0.0f) {
            m_item->setSelectedModelRotation(60, 0, 0); // turns add up: from -30 to +30
            QVERIFY(waitForFrames());
        }
        const QImage tipped = grab();
        const int redAfter = redPixels(tipped);
        QVERIFY2(redAfter > redBefore + 500, qPrintable(QStringLiteral("%1 -> %2").arg(redBefore).arg(redAfter)));
        const QString shots = qEnvironmentVariable("TESSORA_SCREENSHOT_DIR");
        if (!shots.isEmpty())
            tipped.save(shots + QStringLiteral("/overhangs-in-red.png"));
    }

    // While the camera moves, a coarser picture (reduced copy, fewer pixels) of the same
    // scene; at rest the very picture drawn before the move.
    void largeModel_reducedWhileTheCameraOrbits_wholeAndUnchangedAtRest()
    {
        constexpr int kLarge = 4000;
        constexpr int kTarget = 1500;
        OpenGLRenderer::setReductionLimits(kLarge, kTarget);
        TestMesh sphere;
        sphere.sphere(QVector3D(0, 0, 20), 20, 60, 100);
        const QTemporaryDir dir;
        const QString path = MeshTesting::writeStl(dir, QStringLiteral("sphere.stl"), sphere.triangles());
        const int whole = sphere.triangles().size();
        QVERIFY(whole > kLarge);
        QVERIFY(showEditor());
        QVERIFY(importModel(path));
        QCOMPARE(m_item->drawnModelTriangles(), whole);
        const QImage before = grab();

        // A drag: one rotation for each frame shown, until a frame draws the reduced copy
        // (built in the background meanwhile).
        int step = 0;
        m_item->placeRotationAnchor();
        const QMetaObject::Connection orbit = connect(m_view.get(), &QQuickWindow::frameSwapped, m_item, [&] {
            step += 4;
            m_item->rotateCamera(step, 0);
        });
        m_item->rotateCamera(0, 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_item->drawnModelTriangles() > 0 && m_item->drawnModelTriangles() <= kTarget, 60000);
        disconnect(orbit);
        // A whole turn, back to the view the drag started from, still moving: the scene
        // fills the same part of the window.
        m_item->rotateCamera(int(360.0 / OpenGLCamera::kDegreesPerPixel), 0);
        const QImage moving = grab();
        QVERIFY(m_item->drawnModelTriangles() <= kTarget);
        const QRect sceneBefore = sceneBox(before), sceneMoving = sceneBox(moving);
        QVERIFY((sceneMoving.topLeft() - sceneBefore.topLeft()).manhattanLength() <= 3);
        QVERIFY((sceneMoving.bottomRight() - sceneBefore.bottomRight()).manhattanLength() <= 3);
        // The mouse let go: the next frame draws the whole mesh, as before the drag.
        m_item->releaseRotationAnchor();
        QTRY_COMPARE_WITH_TIMEOUT(m_item->drawnModelTriangles(), whole, 30000);
        int changed = 0;
        changedPixels(before, grab(), &changed);
        QCOMPARE(changed, 0);
    }

    void cleanup()
    {
        m_item = nullptr;
        m_view.reset();
        OpenGLRenderer::setReductionLimits(150000, 100000);
    }

private:
    bool showEditor()
    {
        m_view = std::make_unique<QQuickView>();
        m_view->setResizeMode(QQuickView::SizeRootObjectToView);
        m_view->setSource(QUrl(QStringLiteral("qrc:/view/rendering.qml")));
        if (m_view->status() != QQuickView::Ready) {
            qWarning() << m_view->errors();
            return false;
        }
        m_view->resize(640, 480);
        m_view->show();
        if (!QTest::qWaitForWindowExposed(m_view.get()))
            return false;
        m_item = m_view->rootObject()->findChild<RendererQMLItem *>(QStringLiteral("editor"));
        return m_item && waitForFrames();
    }

    bool importModel(const QString &path
        = TestPaths::sourceDir() + QStringLiteral("/tests/data/meshes/binary_solidheader_cube20_with_hole.stl"))
    {
        m_item->addModels({path});
        m_item->update();
        return QTest::qWaitFor([&] { return m_item->editor().platform().models().size() == 1; }, 60000)
            && waitForFrames();
    }

    // Waits until the window has shown two more frames.
    bool waitForFrames()
    {
        QSignalSpy frames(m_view.get(), &QQuickWindow::frameSwapped);
        for (int i = 0; i < 100 && frames.count() < 2; ++i) {
            m_item->update();
            frames.wait(100);
        }
        return frames.count() >= 2;
    }

    QImage grab() { return m_view->grabWindow().convertToFormat(QImage::Format_RGB32); }

    std::unique_ptr<QQuickView> m_view;
    RendererQMLItem *m_item = nullptr;
};

QTEST_MAIN(TestViewRendering)
#include "tst_viewrendering.moc"
