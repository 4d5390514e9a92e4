#pragma once

#include <QQuickFramebufferObject>
#include <QSize>

#include <memory>

class OpenGLRenderer;
class QQuickWindow;
class RendererQMLItem;

// The render-thread side of the editor item: at each synchronisation it has the item hand
// its recorded requests to the scene (RendererQMLItem::synchronizeEditor()) and takes the
// frame's snapshot into the drawing scene (OpenGLRenderer); each render draws the scene and
// then resets the window's OpenGL state for the scene graph.
//
// While the view moves (the camera, or a model under the mouse), the scene is drawn into
// a framebuffer of half the item's resolution each way, which the scene graph stretches
// over the item: a software renderer spends most of a frame on pixels. The first frame at
// rest is drawn at full resolution. The item does not let its framebuffer follow its size:
// the size is chosen here, at each synchronisation.
class RendererContainer : public QQuickFramebufferObject::Renderer
{
public:
    RendererContainer();
    ~RendererContainer() override;

protected:
    QOpenGLFramebufferObject *createFramebufferObject(const QSize &size) override;
    void synchronize(QQuickFramebufferObject *item) override;
    void render() override;

private:
    std::unique_ptr<OpenGLRenderer> m_scene;
    QQuickWindow *m_window = nullptr;
    RendererQMLItem *m_item = nullptr;
    QSize m_framebufferSize; // the size the next framebuffer is created with
};
