#include "testimages.h"

QImage blackImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(kBlack);
    return image;
}
