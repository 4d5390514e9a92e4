#include "projectionwindow.h"

#include "imageprovider.h"

#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickView>
#include <QScreen>

ProjectionWindow::ProjectionWindow(QObject *parent)
    : QObject(parent)
    , m_view(new QQuickView)
    , m_provider(new ImageProvider)
{
    ProjectionPage::initResources();
    m_view->setResizeMode(QQuickView::SizeRootObjectToView);
    m_view->engine()->addImageProvider(QStringLiteral("colors"), m_provider);
    m_view->setSource(QUrl(QStringLiteral("qrc:/ProjectionPage.qml")));
    m_view->setTitle(QStringLiteral("Tessora projector"));
}

ProjectionWindow::~ProjectionWindow()
{
    delete m_view;
}

bool ProjectionWindow::setScreen(int screenNum, QString *error)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (screenNum < 0 || screenNum >= screens.size()) {
        const QString words = QStringLiteral("Second screen not found. Screen count: %1").arg(screens.size());
        qDebug().noquote() << "ERROR ProjectionWindow::setScreen. " + words;
        if (error)
            *error = words;
        return false;
    }
    QScreen *screen = screens.at(screenNum);
    m_view->setScreen(screen);
    // Without a window manager full screen alone keeps the window at its own size.
    m_view->setGeometry(screen->geometry());
    m_view->showFullScreen();
    qDebug() << "ProjectionWindow::setScreen. Screen " << screenNum << screen->name() << screen->geometry();
    return true;
}

void ProjectionWindow::setFramesDir(const QString &dir)
{
    m_framesDir = dir;
    if (!dir.isEmpty() && !QDir().mkpath(dir))
        qDebug() << "ERROR. ProjectionWindow::setFramesDir. Cannot make the folder: " << dir;
}

void ProjectionWindow::show(const QImage &image)
{
    // Painting processes events, and with them possibly the next image: that one waits
    // until this one is on screen (and saved).
    m_pending.enqueue(image);
    if (m_showing)
        return;
    m_showing = true;
    while (!m_pending.isEmpty()) {
        ProjectionPage::show(m_view, m_provider, m_pending.dequeue());
        if (m_framesDir.isEmpty())
            continue;
        const QString path = ProjectionPage::framePath(m_framesDir, ++m_framesSaved);
        if (!ProjectionPage::saveFrame(m_view, path))
            qDebug() << "ERROR. ProjectionWindow::show. Cannot save frame: " << path;
    }
    m_showing = false;
}
