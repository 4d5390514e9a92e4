#pragma once

#include <QImage>
#include <QQuickImageProvider>

class QQuickView;

// Hands the projection scene its current image, under the provider id
// "colors". The scene asks for "image://colors/newImage<n>" with a new n on
// every projection, so the image is fetched afresh each time.
class ImageProvider : public QQuickImageProvider
{
public:
    ImageProvider();

    // Every request gets the current image, whatever id or size it names.
    QPixmap requestPixmap(const QString &id, QSize *size, const QSize &requestedSize) override;

    QImage image;
};

// The full-screen view and its image provider, created by main() for the whole
// process; the session projects through them.
extern QQuickView *view;
extern ImageProvider *imageProvider;
