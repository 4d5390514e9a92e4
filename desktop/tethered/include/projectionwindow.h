#pragma once

#include <QImage>
#include <QObject>
#include <QQueue>
#include <QString>

class ImageProvider;
class QQuickView;

// The projector of a tethered printer as a window of this computer: full screen on one of
// its screens, showing the printer's own projection page (image provider "colors", page
// function "projectSlice"), black but for the image at its top-left corner.
class ProjectionWindow : public QObject
{
    Q_OBJECT

public:
    explicit ProjectionWindow(QObject *parent = nullptr);
    ~ProjectionWindow() override;

    // Shows the window full screen on screen `screenNum` (0 is the first) when that screen
    // exists; otherwise logs "ERROR ProjectionWindow::setScreen. Second screen not found.
    // Screen count: " with the count, and returns false with those words in *error.
    bool setScreen(int screenNum, QString *error);
    // Saves every frame shown, as the window shows it, as DIR/frame_000001.png, ...
    // (the folder is made if need be).
    void setFramesDir(const QString &dir);
    int framesSaved() const { return m_framesSaved; }

public slots:
    // Shows the image at once (and saves the frame); images that arrive meanwhile follow
    // in order, each shown whole.
    void show(const QImage &image);

private:
    QQuickView *m_view = nullptr;
    ImageProvider *m_provider = nullptr; // owned by the view's engine
    QString m_framesDir;
    int m_framesSaved = 0;
    QQueue<QImage> m_pending;
    bool m_showing = false;
};
