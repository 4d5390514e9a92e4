#include "renderercontainer.h"

#include "openglrenderer.h"
#include "rendererqmlitem.h"
#include "sceneeditor.h"

#include <QOpenGLFramebufferObject>
#include <QOpenGLFramebufferObjectFormat>
#include <QQuickWindow>

RendererContainer::RendererContainer()
    : m_scene(std::make_unique<OpenGLRenderer>())
{
}

RendererContainer::~RendererContainer() = default;

QOpenGLFramebufferObject *RendererContainer::createFramebufferObject(const QSize &size)
{
    QOpenGLFramebufferObjectFormat format;
    format.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
    return new QOpenGLFramebufferObject(size, format);
}

void RendererContainer::synchronize(QQuickFramebufferObject *item)
{
    m_window = item->window();
    m_item = static_cast<RendererQMLItem *>(item);
    const bool reuploadModels = m_item->requests().modelUpdatePending;
    m_item->synchronizeEditor();
    SceneSnapshot snapshot = m_item->editor().snapshot();
    snapshot.cameraMoving = m_item->isCameraMoving();
    m_scene->synchronize(snapshot, reuploadModels);
}

void RendererContainer::render()
{
    m_scene->render(framebufferObject()->size());
    if (m_item)
        m_item->m_drawnModelTriangles = m_scene->drawnModelTriangles();
    if (m_window)
        m_window->resetOpenGLState();
}
