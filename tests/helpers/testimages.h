#pragma once

#include <QImage>
#include <QList>

// Opaque white and opaque black, as the layer images use them.
constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kBlack = 0xFF000000u;

// Whether a layer pixel is lit (white in a bit-map layer): 32 or more on any channel.
inline bool isLit(QRgb pixel)
{
    return qRed(pixel) >= 32 || qGreen(pixel) >= 32 || qBlue(pixel) >= 32;
}

// An ARGB32 image of the given size, every pixel opaque black.
QImage blackImage(int width, int height);

// What a projected frame shows: -1 when it is all black, the index of the first of `layers`
// that it equals when drawn at its top-left corner on black, -2 for anything else.
int shownLayer(const QImage &frame, const QList<QImage> &layers);
