// Frames per second of the 3D editor while the camera orbits a model: the editor item in a
// window, the model imported as the user would, then one camera rotation per frame for a
// number of seconds. bench/view_fps.sh runs it on Xvfb with Mesa's software renderer.
//
//   bench_view_fps MESH [SECONDS] [WIDTH HEIGHT [SHOTS_FOLDER]]
//
// With a folder, the window is saved there as PNG during the orbit (NAME-orbit.png) and
// once the camera rests (NAME-rest.png), from the same camera.
//
// Prints one line: triangles, frames, seconds, frames per second, the processor time per
// frame of the process over all its threads (which a busy machine does not change), and the
// model triangles the last frame of the orbit drew (a large model's reduced copy).
#include "rendererqmlitem.h"
#include "sceneeditor.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQuickView>
#include <QSurfaceFormat>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <functional>

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

// The window as the last orbit frame drew it, then at rest: the same camera, the mouse
// let go.
void saveShots(QQuickView &view, RendererQMLItem &item, const QString &prefix, int triangles)
{
    // The rotation asked for by the last frame first, so that both shots share a camera.
    QCoreApplication::sendPostedEvents();
    view.grabWindow().save(prefix + QStringLiteral("-orbit.png"));
    QTextStream(stderr) << "orbit shot: " << item.drawnModelTriangles() << " triangles drawn\n";
    item.releaseRotationAnchor();
    item.update();
    waitFor([&] { return item.drawnModelTriangles() == triangles; }, 30000);
    view.grabWindow().save(prefix + QStringLiteral("-rest.png"));
    QTextStream(stderr) << "rest shot: " << item.drawnModelTriangles() << " triangles drawn\n";
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
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        err << "usage: bench_view_fps MESH [SECONDS] [WIDTH HEIGHT]\n";
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

    int frames = 0;
    int step = 0;
    bool measuring = false;
    QElapsedTimer clock;
    // One rotation request per frame shown: the next frame is asked for when one is done.
    const QMetaObject::Connection orbit = QObject::connect(
        &view, &QQuickWindow::frameSwapped, item,
        [&] {
            if (measuring)
                ++frames;
            step += 4;
            item->rotateCamera(step, 0);
        },
        Qt::QueuedConnection);
    item->placeRotationAnchor();
    item->update();
    // Warming up: the upload of the model and the first frames.
    waitFor([&] { return step >= 40; }, 60000);
    measuring = true;
    frames = 0;
    const double processorStart = processorSeconds();
    clock.start();
    waitFor([&] { return clock.elapsed() >= seconds * 1000.0; }, int(seconds * 1000.0) + 60000);
    const double elapsed = clock.elapsed() / 1000.0;
    const double processor = processorSeconds() - processorStart;
    measuring = false;
    const double fps = frames / elapsed;
    const int drawn = item->drawnModelTriangles();
    QObject::disconnect(orbit);
    if (!shots.isEmpty())
        saveShots(view, *item, shots + QLatin1Char('/') + QFileInfo(mesh).completeBaseName(), triangles);
    QTextStream(stdout) << "triangles " << triangles << " frames " << frames << " seconds "
                        << QString::number(elapsed, 'f', 2) << " fps " << QString::number(fps, 'f', 1)
                        << " cpu-ms-per-frame "
                        << QString::number(frames > 0 ? processor * 1000.0 / frames : 0.0, 'f', 1)
                        << " drawn-triangles " << drawn << "\n";
    return 0;
}
