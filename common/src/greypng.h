#pragma once

#include <QByteArray>

class QImage;

// A PNG writer for 8-bit grey images (colour type 0, bit depth 8), fast enough to store
// every layer of an anti-aliased job: rows are stored unfiltered and deflated at the
// given zlib level. Any PNG reader decodes the result to the same grey levels.
namespace GreyPng {
// Empty when the image is not Format_Grayscale8 or compression fails.
QByteArray encode(const QImage &image, int zlibLevel);
} // namespace GreyPng
