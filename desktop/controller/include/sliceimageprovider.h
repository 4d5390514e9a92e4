#pragma once

#include <QImage>
#include <QMutex>
#include <QQuickImageProvider>

// The "colors" image provider: two images the user interface shows by id; the second is
// the layer shown by the job viewer and the projection.
class SliceImageProvider : public QQuickImageProvider
{
public:
    SliceImageProvider();

    void setImage(int index, const QImage &image);
    QImage image(int index) const;

    QPixmap requestPixmap(const QString &id, QSize *size, const QSize &requestedSize) override;

private:
    mutable QMutex m_mutex;
    QImage m_images[2];
};
