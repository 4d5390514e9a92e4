#include "testimages.h"

#include <QPainter>

QImage blackImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(kBlack);
    return image;
}

int shownLayer(const QImage &frame, const QList<QImage> &layers)
{
    const QImage rgb = frame.convertToFormat(QImage::Format_RGB32);
    QImage black(rgb.size(), QImage::Format_RGB32);
    black.fill(Qt::black);
    if (rgb == black)
        return -1;
    for (int layer = 0; layer < layers.size(); ++layer) {
        QImage expected = black;
        QPainter(&expected).drawImage(0, 0, layers.at(layer));
        if (expected == rgb)
            return layer;
    }
    return -2;
}
