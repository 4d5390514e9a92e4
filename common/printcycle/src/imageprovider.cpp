#include "imageprovider.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QQuickItem>
#include <QQuickView>

// Outside any namespace, as the resource's initialiser is.
static void initProjectionResource()
{
    Q_INIT_RESOURCE(projection);
}

ImageProvider::ImageProvider()
    : QQuickImageProvider(QQuickImageProvider::Pixmap)
{
}

QPixmap ImageProvider::requestPixmap(const QString &, QSize *, const QSize &)
{
    return QPixmap::fromImage(image);
}

namespace ProjectionPage {

void initResources()
{
    initProjectionResource();
}

QImage scaledToProjector(const QImage &image, double scaleX, double scaleY)
{
    return image.scaled(
        int(scaleX * kWidth), int(scaleY * kHeight), Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

void show(QQuickView *view, ImageProvider *provider, const QImage &image)
{
    if (provider)
        provider->image = image;
    if (QQuickItem *root = view ? view->rootObject() : nullptr)
        QMetaObject::invokeMethod(root, "projectSlice", Qt::AutoConnection, Q_ARG(QVariant, QVariant(15)));
    QCoreApplication::processEvents();
}

QString framePath(const QString &dir, int number)
{
    return QDir(dir).filePath(QStringLiteral("frame_%1.png").arg(number, 6, 10, QLatin1Char('0')));
}

bool saveFrame(QQuickView *view, const QString &path)
{
    const QImage frame = view->grabWindow();
    return !frame.isNull() && frame.save(path, "PNG");
}

} // namespace ProjectionPage
