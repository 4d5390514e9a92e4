// The editor's orbit camera: where the eye is, zoom limits, rotation and panning relative
// to their anchors, the animated preset views, and rays through item pixels.
#include "meshtesting.h"
#include "openglcamera.h"

#include <QTest>
#include <QtMath>

#include <cmath>

namespace {

using Preset = OpenGLCamera::PresetView;

using MeshTesting::near;

bool near(const QPointF &a, const QPointF &b, double tolerance = 1e-2)
{
    return std::abs(a.x() - b.x()) <= tolerance && std::abs(a.y() - b.y()) <= tolerance;
}

OpenGLCamera cameraAt(double distance, double azimuth, double elevation, const QVector3D &target,
    const QSizeF &viewport = QSizeF(800, 600))
{
    OpenGLCamera camera;
    camera.setPose({distance, azimuth, elevation, target});
    camera.setViewportSize(viewport);
    return camera;
}

} // namespace

class TestCamera : public QObject
{
    Q_OBJECT

private slots:
    void eye_followsTheOrbit_data()
    {
        QTest::addColumn<double>("azimuth");
        QTest::addColumn<double>("elevation");
        QTest::addColumn<QVector3D>("offset"); // eye - target at distance 100
        QTest::newRow("right") << 0.0 << 0.0 << QVector3D(100, 0, 0);
        QTest::newRow("left") << 180.0 << 0.0 << QVector3D(-100, 0, 0);
        QTest::newRow("front") << 270.0 << 0.0 << QVector3D(0, 0, 100);
        QTest::newRow("back") << 90.0 << 0.0 << QVector3D(0, 0, -100);
        QTest::newRow("above") << 0.0 << 90.0 << QVector3D(0, 100, 0);
        QTest::newRow("front raised 30") << 270.0 << 30.0
                                         << QVector3D(0, 50, float(100 * std::cos(qDegreesToRadians(30.0))));
    }

    void eye_followsTheOrbit()
    {
        QFETCH(double, azimuth);
        QFETCH(double, elevation);
        QFETCH(QVector3D, offset);
        const QVector3D target(5, 30, -7);
        const OpenGLCamera camera = cameraAt(100, azimuth, elevation, target);
        QVERIFY(near(camera.eyePosition(), target + offset));
    }

    void zoom_addsAndStaysWithinLimits()
    {
        OpenGLCamera camera;
        camera.zoom(OpenGLCamera::zoomAmount(120));
        QVERIFY(near(camera.distance(), 536.0));
        camera.zoom(OpenGLCamera::zoomAmount(-240));
        QVERIFY(near(camera.distance(), 464.0));
        camera.zoom(OpenGLCamera::zoomAmount(100000));
        QCOMPARE(camera.distance(), 1700.0);
        camera.zoom(OpenGLCamera::zoomAmount(-100000));
        QCOMPARE(camera.distance(), 120.0);
    }

    void rotate_isRelativeToTheAnchor_wrapsAzimuthAndHoldsElevation()
    {
        OpenGLCamera camera;
        QVERIFY(!camera.rotateRelativeToAnchor(10, 5)); // no anchor yet
        QVERIFY(!camera.panRelativeToAnchor(10, 5));
        QCOMPARE(camera.azimuth(), 300.0);
        QCOMPARE(camera.target(), QVector3D(0, 30, 0));
        camera.placeRotationAnchor();
        // A drag reports the whole distance from the press every time.
        const QPointF amount = OpenGLCamera::rotationAmount(20, 10);
        QCOMPARE(amount, QPointF(-10, 5));
        QVERIFY(camera.rotateRelativeToAnchor(amount.x(), amount.y()));
        QVERIFY(camera.rotateRelativeToAnchor(amount.x(), amount.y()));
        QCOMPARE(camera.azimuth(), 290.0);
        QCOMPARE(camera.elevation(), 33.0);
        camera.rotateRelativeToAnchor(100, 100);
        QCOMPARE(camera.azimuth(), 40.0);
        QCOMPARE(camera.elevation(), 89.9);
        camera.rotateRelativeToAnchor(-350, -200);
        QCOMPARE(camera.azimuth(), 310.0);
        QCOMPARE(camera.elevation(), -89.9);
    }

    void pan_movesTheSceneWithTheDrag_data()
    {
        QTest::addColumn<double>("azimuth");
        QTest::addColumn<double>("elevation");
        QTest::addColumn<QPointF>("drag"); // pixels from the press
        QTest::newRow("home view, right") << 300.0 << 28.0 << QPointF(50, 0);
        QTest::newRow("front, down") << 270.0 << 0.0 << QPointF(0, 25);
        // Looking straight down, a vertical drag moves over the platform, not towards the eye
        // (where the picture would not change).
        QTest::newRow("from above, down") << 270.0 << 89.9999 << QPointF(0, 25);
        QTest::newRow("from above, left") << 270.0 << 89.9999 << QPointF(-25, 0);
    }

    void pan_movesTheSceneWithTheDrag()
    {
        QFETCH(double, azimuth);
        QFETCH(double, elevation);
        QFETCH(QPointF, drag);
        const QVector3D start(0, 30, 0);
        OpenGLCamera camera = cameraAt(500, azimuth, elevation, start);
        const QPointF before = *camera.projectToPixel(start);
        camera.placePanningAnchor();
        const QPointF amount = OpenGLCamera::panningAmount(drag.x(), drag.y());
        QVERIFY(camera.panRelativeToAnchor(amount.x(), amount.y()));
        // The target moved by the amount, square to the view direction.
        const QVector3D moved = camera.target() - start;
        QVERIFY(near(moved.length(), std::hypot(amount.x(), amount.y())));
        QVERIFY(near(QVector3D::dotProduct(moved, camera.target() - camera.eyePosition()), 0.0, 1e-2));
        // On the screen the scene follows the mouse.
        const QPointF shift = *camera.projectToPixel(start) - before;
        QVERIFY2(
            QPointF::dotProduct(shift, drag) > 1.0, qPrintable(QStringLiteral("%1 %2").arg(shift.x()).arg(shift.y())));
        QVERIFY(near(shift.x() * drag.y() - shift.y() * drag.x(), 0.0, 1e-2));
        // Again from the anchor: the same drag gives the same target; after the release, none.
        const QVector3D target = camera.target();
        camera.panRelativeToAnchor(amount.x(), amount.y());
        QVERIFY(near(camera.target(), target));
        camera.releasePanningAnchor();
        QVERIFY(!camera.panRelativeToAnchor(0, 100));
        QVERIFY(near(camera.target(), target));
    }

    void preset_stepsArriveAndReportDone_data()
    {
        QTest::addColumn<int>("view");
        QTest::addColumn<double>("startDistance"); // from the home view's angles
        QTest::addColumn<QVector3D>("startTarget");
        QTest::addColumn<int>("steps");
        // Steps: the slowest value decides (40 mm, 4 degrees, 2 mm per step; a value closer
        // than one step arrives in that step).
        const QVector3D home(0, 30, 0);
        QTest::newRow("home to right: 300 degrees of azimuth") << int(Preset::Right) << 500.0 << home << 75;
        QTest::newRow("home to front") << int(Preset::Front) << 500.0 << home << 8;
        QTest::newRow("home to left") << int(Preset::Left) << 500.0 << home << 30;
        QTest::newRow("home to top") << int(Preset::Top) << 500.0 << home << 16;
        QTest::newRow("far and panned to home") << int(Preset::Home) << 1700.0 << QVector3D(-13, 30, 101) << 51;
        QTest::newRow("at home already") << int(Preset::Home) << 500.0 << home << 1;
    }

    void preset_stepsArriveAndReportDone()
    {
        QFETCH(int, view);
        QFETCH(double, startDistance);
        QFETCH(QVector3D, startTarget);
        QFETCH(int, steps);
        OpenGLCamera camera = cameraAt(startDistance, 300, 28, startTarget);
        const Preset preset = Preset(view);
        for (int step = 1; step < steps; ++step) {
            QVERIFY2(!camera.stepTowards(preset), qPrintable(QStringLiteral("done early at step %1").arg(step)));
            QVERIFY(!camera.isMovementDone());
        }
        QVERIFY(camera.stepTowards(preset));
        QVERIFY(camera.isMovementDone());
        const OpenGLCamera::Pose goal = OpenGLCamera::presetPose(preset);
        QCOMPARE(camera.distance(), goal.distance);
        QCOMPARE(camera.azimuth(), goal.azimuth);
        QCOMPARE(camera.elevation(), goal.elevation);
        QCOMPARE(camera.target(), goal.target);
        // Further steps keep it there.
        QVERIFY(camera.stepTowards(preset));
        QCOMPARE(camera.azimuth(), goal.azimuth);
    }

    void orthographic_showsDistanceOverSixAcrossTheShorterSide()
    {
        // 800 x 400: half height distance / 6 = 100 mm, half width twice that.
        const OpenGLCamera wide = cameraAt(600, 270, 0, QVector3D(0, 30, 0), QSizeF(800, 400));
        QVERIFY(near(*wide.projectToPixel(QVector3D(0, 130, 0)), QPointF(400, 0)));
        QVERIFY(near(*wide.projectToPixel(QVector3D(200, 30, 0)), QPointF(800, 200)));
        // 400 x 800: half width 100 mm.
        const OpenGLCamera tall = cameraAt(600, 270, 0, QVector3D(0, 30, 0), QSizeF(400, 800));
        QVERIFY(near(*tall.projectToPixel(QVector3D(-100, 30, 0)), QPointF(0, 400)));
        QVERIFY(near(*tall.projectToPixel(QVector3D(0, 230, 0)), QPointF(200, 0)));
    }

    // (The perspective projection is used by the camera alone: the editor views in
    // orthographic projection.)
    void ray_throughPixel_projectsBackToThatPixel_data()
    {
        QTest::addColumn<QPointF>("pixel");
        for (const QPointF &pixel : {QPointF(0, 0), QPointF(400, 300), QPointF(799, 17), QPointF(123, 555)})
            QTest::addRow("%g %g", pixel.x(), pixel.y()) << pixel;
    }

    void ray_throughPixel_projectsBackToThatPixel()
    {
        QFETCH(QPointF, pixel);
        const OpenGLCamera camera = cameraAt(500, 300, 28, QVector3D(3, 30, -4));
        const SceneRay ray = camera.rayThroughPixel(pixel);
        for (const float t : {0.1f, 0.25f, 0.5f}) {
            const std::optional<QPointF> back = camera.projectToPixel(ray.origin + t * ray.direction);
            QVERIFY(back);
            QVERIFY2(near(*back, pixel, 0.05), qPrintable(QStringLiteral("%1 %2").arg(back->x()).arg(back->y())));
        }
    }
};

QTEST_GUILESS_MAIN(TestCamera)
#include "tst_camera.moc"
