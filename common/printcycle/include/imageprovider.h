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

// The projection page "qrc:/ProjectionPage.qml": black, with the current image at its
// top-left corner at the image's own size, and the function "projectSlice" that fetches
// a fresh image from the provider. The printer's scene is this page with the session in
// it; a printer tethered to a desktop shows the page on one of the desktop's screens.
namespace ProjectionPage {

// The projector's raster.
constexpr int kWidth = 1280;
constexpr int kHeight = 800;

// Makes the page's resource available (it lives in a static library).
void initResources();
// An image as projected: scaled to scale X x 1280 by scale Y x 800 (each truncated),
// ignoring its aspect ratio, nearest neighbour.
QImage scaledToProjector(const QImage &image, double scaleX, double scaleY);
// Hands `image` to the provider and has the scene of `view` fetch and paint it now.
void show(QQuickView *view, ImageProvider *provider, const QImage &image);
// DIR/frame_NNNNNN.png (six digits): where frame `number` of a print is saved.
QString framePath(const QString &dir, int number);
// What `view` shows, saved at `path`; false when it cannot be.
bool saveFrame(QQuickView *view, const QString &path);

} // namespace ProjectionPage
