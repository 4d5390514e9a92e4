#include "imageprovider.h"

#include <QPixmap>

QQuickView *view = nullptr;
ImageProvider *imageProvider = nullptr;

ImageProvider::ImageProvider()
    : QQuickImageProvider(QQuickImageProvider::Pixmap)
{
}

QPixmap ImageProvider::requestPixmap(const QString &, QSize *, const QSize &)
{
    return QPixmap::fromImage(image);
}
