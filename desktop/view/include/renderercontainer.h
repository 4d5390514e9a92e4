#pragma once

#include <QQuickFramebufferObject>

#include <memory>

class OpenGLRenderer;
class QQuickWindow;
class RendererQMLItem;

// The render-thread side of the editor item: at each synchronisation it has the item hand
// its recorded requests to the scene (RendererQMLItem::synchronizeEditor()) and takes the
// frame's snapshot into the drawing scene (OpenGLRenderer); each render draws the scene and
// then resets the window's OpenGL state for the scene graph.
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
};
