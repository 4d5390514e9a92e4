#pragma once

#include <QImage>

// Opaque white and opaque black, as the layer images use them.
constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kBlack = 0xFF000000u;

// An ARGB32 image of the given size, every pixel opaque black.
QImage blackImage(int width, int height);
