#include "sliceimageprovider.h"

#include <QMutexLocker>
#include <QPixmap>

SliceImageProvider::SliceImageProvider() : QQuickImageProvider(QQuickImageProvider::Pixmap) {}

void SliceImageProvider::setImage(int index, const QImage &image)
{
    if (index < 0 || index > 1)
        return;
    QMutexLocker lock(&m_mutex);
    m_images[index] = image;
}

QImage SliceImageProvider::image(int index) const
{
    if (index < 0 || index > 1)
        return {};
    QMutexLocker lock(&m_mutex);
    return m_images[index];
}

QPixmap SliceImageProvider::requestPixmap(const QString &id, QSize *size, const QSize &requestedSize)
{
    // The id names the image: anything starting with "1" is the second, the rest the first
    // (the user interface appends a counter to force a reload).
    const QImage img = image(id.startsWith(QLatin1Char('1')) ? 1 : 0);
    QPixmap pixmap = QPixmap::fromImage(img);
    if (size)
        *size = pixmap.size();
    if (requestedSize.isValid() && !pixmap.isNull())
        pixmap = pixmap.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return pixmap;
}
