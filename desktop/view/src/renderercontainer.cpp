#include "renderercontainer.h"

#include "openglrenderer.h"
#include "rendererqmlitem.h"
#include "sceneeditor.h"

#include <QOpenGLFramebufferObject>
#include <QOpenGLFramebufferObjectFormat>
#include <QQuickWindow>

namespace {

// The framebuffer's size for an item of this size in pixels: half each way (rounded up)
// while the view moves.
QSize framebufferSize(const QSize &itemPixels, bool cameraMoving)
{
    const QSize whole = itemPixels.expandedTo(QSize(1, 1));
    if (!cameraMoving)
        return whole;
    return QSize((whole.width() + 1) / 2, (whole.height() + 1) / 2);
}

} // namespace

RendererContainer::RendererContainer()
    : m_scene(std::make_unique<OpenGLRenderer>())
{
}

RendererContainer::~RendererContainer() = default;

QOpenGLFramebufferObject *RendererContainer::createFramebufferObject(const QSize &size)
{
    QOpenGLFramebufferObjectFormat format;
    format.setAttachment(QOpenGLFramebufferObject::CombinedDepthStencil);
    return new QOpenGLFramebufferObject(m_framebufferSize.isValid() ? m_framebufferSize : size, format);
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

    // The framebuffer is made again (before this frame renders) when its size changes. At
    // rest it has the size the item would give it when following its own.
    const qreal pixelRatio = m_window ? m_window->effectiveDevicePixelRatio() : 1.0;
    const QSize itemPixels = QSize(int(item->width()), int(item->height())) * pixelRatio;
    const QSize size = framebufferSize(itemPixels, snapshot.cameraMoving);
    if (size != m_framebufferSize) {
        m_framebufferSize = size;
        if (framebufferObject())
            invalidateFramebufferObject();
    }
}

void RendererContainer::render()
{
    m_scene->render(framebufferObject()->size());
    if (m_item)
        m_item->m_drawnModelTriangles = m_scene->drawnModelTriangles();
    if (m_window)
        m_window->resetOpenGLState();
}
