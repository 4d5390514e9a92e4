// Frames per second of the 3D editor: the editor item in a window, the model imported as
// the user would (and so selected), then one step of the measured motion per frame for a
// number of seconds. bench/view_fps.sh runs it on Xvfb with Mesa's software renderer.
//
//   bench_view_fps [--mode orbit|drag|turn|rest] MESH [SECONDS] [WIDTH HEIGHT [SHOTS_FOLDER]]
//
// The motions, each through the item's own entries as the page calls them:
//   orbit - the camera turns (rotateCamera), the default;
//   drag  - the selected model is pressed and moved to and fro in small steps
//           (selectModelAtPoint, moveModelWithMouse);
//   turn  - the model is turned by the gimbal's ring about the platform's up axis
//           (pressGimbalRotationHandleAtPoint, dragGimbalRotationHandleWithMouse);
//   rest  - nothing moves: every frame is drawn whole at full resolution.
// With a folder, the window is saved there as PNG during the motion (NAME-MODE.png) and
// once the mouse is let go and the view rests (NAME-MODE-rest.png).
//
// Prints one line: triangles, frames, seconds, frames per second, the processor time per
// frame of the process over all its threads (which a busy machine does not change), the
// model triangles the last frame of the motion drew (a large model's reduced copy), and
// the motion.
#include "rendererqmlitem.h"
#include "sceneeditor.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQuickView>
#include <QSurfaceFormat>
#include <QTextStream>
#include <QTimer>
#include <QtMath>

#include <cstdio>
#include <functional>
#include <memory>

#include <sys/resource.h>

namespace {

// Processor time of the whole process (every thread, the software renderer's included).
double processorSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop until the condition holds or the time is up. The loop sleeps
// between events: a spinning GUI thread would take a core from the software renderer.
bool waitFor(const std::function<bool()> &condition, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.start(20);
    while (!condition()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// One step of a motion per frame, and how the motion ends (the mouse let go).
struct Motion {
    std::function<void(int step)> start;
    std::function<void(int step)> step;
    std::function<void()> finish;
};

// Where a point of the scene shows in the item, its centre when it does not.
QPointF pixelOf(const RendererQMLItem &item, const QVector3D &point)
{
    return item.editor().camera().projectToPixel(point).value_or(QPointF(item.width() / 2, item.height() / 2));
}

Motion motionFor(const QString &mode, RendererQMLItem &item)
{
    Motion motion;
    if (mode == QLatin1String("orbit")) {
        motion.start = [&item](int) { item.placeRotationAnchor(); };
        motion.step = [&item](int step) { item.rotateCamera(step * 4, 0); };
        motion.finish = [&item] { item.releaseRotationAnchor(); };
    } else if (mode == QLatin1String("drag")) {
        // Pressed on the model's centre, then to and fro by up to 60 pixels, 3 at a time.
        auto press = std::make_shared<QPointF>();
        motion.start = [&item, press](int) {
            *press = pixelOf(item, item.editor().platform().selectedModel()->mesh()->position());
            item.selectModelAtPoint(press->x(), press->y());
        };
        motion.step = [&item, press](int step) {
            const int phase = (step * 3) % 240;
            const double offset = phase < 120 ? phase - 60 : 180 - phase;
            item.moveModelWithMouse(press->x() + offset, press->y());
        };
        motion.finish = [&item] { item.modelSelectionButtonReleased(); };
    } else if (mode == QLatin1String("turn")) {
        // The ring about the up axis, held 100 pixels from the gimbal's centre and swept
        // round it by 2 degrees a frame.
        auto pivot = std::make_shared<QPointF>();
        const auto at = [pivot](int step) {
            const double angle = qDegreesToRadians(2.0 * step);
            return *pivot + QPointF(100.0 * std::cos(angle), -100.0 * std::sin(angle));
        };
        motion.start = [&item, pivot, at](int step) {
            *pivot = pixelOf(item, item.editor().gimbal().centre);
            const QPointF point = at(step);
            item.pressGimbalRotationHandleAtPoint(point.x(), point.y(), 1);
        };
        motion.step = [&item, at](int step) {
            const QPointF point = at(step);
            item.dragGimbalRotationHandleWithMouse(point.x(), point.y(), false);
        };
        motion.finish = [&item] { item.modelSelectionButtonReleased(); };
    } else {
        motion.start = [](int) {};
        motion.step = [&item](int) { item.update(); };
        motion.finish = [] {};
    }
    return motion;
}

// The window as the last frame of the motion drew it, then at rest with the mouse let go.
void saveShots(QQuickView &view, RendererQMLItem &item, const Motion &motion, const QString &prefix, int triangles)
{
    // The step asked for by the last frame first.
    QCoreApplication::sendPostedEvents();
    view.grabWindow().save(prefix + QStringLiteral(".png"));
    QTextStream(stderr) << "moving shot: " << item.drawnModelTriangles() << " triangles drawn\n";
    motion.finish();
    item.update();
    waitFor([&] { return !item.isCameraMoving() && item.drawnModelTriangles() == triangles; }, 30000);
    view.grabWindow().save(prefix + QStringLiteral("-rest.png"));
    QTextStream(stderr) << "rest shot: " << item.drawnModelTriangles() << " triangles drawn\n";
}

struct Measurement {
    int frames = 0;
    double seconds = 0.0;
    double processorSeconds = 0.0;
    int drawnTriangles = 0; // by the last frame
};

// One step of the motion per frame shown (the next frame is asked for when one is done),
// for a number of seconds after a warm-up: the first frames of the motion and, when the
// model has one, the reduced copy built in the background after its upload (a motion that
// does not use it waits 30 s for it).
Measurement measure(QQuickView &view, RendererQMLItem &item, const Motion &motion, double seconds, bool reduces)
{
    const int triangles = item.drawnModelTriangles();
    Measurement result;
    int step = 0;
    bool measuring = false;
    const QMetaObject::Connection stepping = QObject::connect(
        &view, &QQuickWindow::frameSwapped, &item,
        [&] {
            if (measuring)
                ++result.frames;
            motion.step(++step);
        },
        Qt::QueuedConnection);
    motion.start(step);
    item.update();
    waitFor([&] { return step >= 10; }, 60000);
    waitFor([&] { return !reduces || item.drawnModelTriangles() < triangles; }, 30000);
    measuring = true;
    const double processorStart = processorSeconds();
    QElapsedTimer clock;
    clock.start();
    waitFor([&] { return clock.elapsed() >= seconds * 1000.0; }, int(seconds * 1000.0) + 60000);
    result.seconds = clock.elapsed() / 1000.0;
    result.processorSeconds = processorSeconds() - processorStart;
    measuring = false;
    result.drawnTriangles = item.drawnModelTriangles();
    QObject::disconnect(stepping);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    // Frames are not held back to the screen's refresh.
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSwapInterval(0);
    format.setDepthBufferSize(24);
    QSurfaceFormat::setDefaultFormat(format);
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    QStringList arguments = app.arguments();
    QString mode = QStringLiteral("orbit");
    if (arguments.size() > 2 && arguments.at(1) == QLatin1String("--mode")) {
        mode = arguments.at(2);
        arguments.erase(arguments.begin() + 1, arguments.begin() + 3);
    }
    const QStringList modes {
        QStringLiteral("orbit"), QStringLiteral("drag"), QStringLiteral("turn"), QStringLiteral("rest")};
    if (arguments.size() < 2 || !modes.contains(mode)) {
        err << "usage: bench_view_fps [--mode orbit|drag|turn|rest] MESH [SECONDS] [WIDTH HEIGHT [SHOTS_FOLDER]]\n";
        return 2;
    }
    const QString mesh = arguments.at(1);
    const double seconds = arguments.size() > 2 ? arguments.at(2).toDouble() : 10.0;
    const int width = arguments.size() > 4 ? arguments.at(3).toInt() : 1280;
    const int height = arguments.size() > 4 ? arguments.at(4).toInt() : 800;
    const QString shots = arguments.size() > 5 ? arguments.at(5) : QString();

    QQuickView view;
    view.resize(width, height);
    auto *item = new RendererQMLItem(view.contentItem());
    item->setSize(QSizeF(width, height));
    view.show();

    item->addModels({mesh});
    item->update();
    const SceneEditor &scene = item->editor();
    if (!waitFor([&] { return scene.platform().models().size() == 1 && !scene.isImporting(); }, 120000)) {
        err << "could not import " << mesh << "\n";
        return 1;
    }
    const int triangles = scene.platform().models().first()->mesh()->triangles().size();

    if (mode == QLatin1String("turn")) {
        item->setGimbalCanRender(true);
        waitFor([&] { return scene.isGimbalEnabled(); }, 30000);
    }
    waitFor([&] { return item->drawnModelTriangles() == triangles; }, 60000);

    const Motion motion = motionFor(mode, *item);
    const Measurement measured
        = measure(view, *item, motion, seconds, mode != QLatin1String("rest") && triangles > 150000);
    const int frames = measured.frames;
    const double elapsed = measured.seconds;
    const double processor = measured.processorSeconds;
    const double fps = frames / elapsed;
    const int drawn = measured.drawnTriangles;
    if (!shots.isEmpty())
        saveShots(
            view, *item, motion, shots + QLatin1Char('/') + QFileInfo(mesh).completeBaseName() + '-' + mode, triangles);
    QTextStream(stdout) << "triangles " << triangles << " frames " << frames << " seconds "
                        << QString::number(elapsed, 'f', 2) << " fps " << QString::number(fps, 'f', 1)
                        << " cpu-ms-per-frame "
                        << QString::number(frames > 0 ? processor * 1000.0 / frames : 0.0, 'f', 1)
                        << " drawn-triangles " << drawn << " mode " << mode << "\n";
    return 0;
}
