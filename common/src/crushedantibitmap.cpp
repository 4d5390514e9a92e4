#include "crushedantibitmap.h"

#include "greypng.h"

#include "boundedstream.h"

#include <QBuffer>
#include <QDataStream>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <climits>

namespace {

constexpr QRgb kOpaqueBlack = 0xFF000000u;
constexpr int kGreyPngLevel = 1;

QRect sizeFieldFor(int width, int height)
{
    // Not a rectangle: left holds the width, top the height, right and bottom 0.
    return QRect(QPoint(width, height), QPoint(0, 0));
}

// Adds a grey layer onto a 32-bit target at (dx, dy), each channel saturating
// at 255: what drawing it with composition Plus does, without converting the
// layer to 32 bits first. Opaque targets and premultiplied targets only, where
// a saturating add per channel is exactly Plus for an opaque layer.
void addGreyLayer(QImage *target, const QImage &layer, int dx, int dy)
{
    const int x0 = std::max(0, dx);
    const int y0 = std::max(0, dy);
    const int x1 = std::min(target->width(), dx + layer.width());
    const int y1 = std::min(target->height(), dy + layer.height());
    for (int y = y0; y < y1; ++y) {
        const uchar *grey = layer.constScanLine(y - dy) + (x0 - dx);
        auto *line = reinterpret_cast<QRgb *>(target->scanLine(y));
        for (int x = x0; x < x1; ++x, ++grey) {
            const int level = *grey;
            const QRgb pixel = line[x];
            if (level == 0 && qAlpha(pixel) == 255)
                continue;
            line[x] = qRgba(std::min(255, qRed(pixel) + level), std::min(255, qGreen(pixel) + level),
                std::min(255, qBlue(pixel) + level), 255);
        }
    }
}

} // namespace

CrushedAntiBitMap::CrushedAntiBitMap()
    : m_size(sizeFieldFor(0, 0))
{
}

CrushedAntiBitMap::CrushedAntiBitMap(QImage *image)
    : CrushedAntiBitMap()
{
    crushSlice(image);
}

CrushedAntiBitMap::CrushedAntiBitMap(QPixmap *pixmap)
    : CrushedAntiBitMap()
{
    if (pixmap) {
        QImage image = pixmap->toImage();
        crushSlice(&image);
    }
}

QByteArray CrushedAntiBitMap::AntiImageToByteArray(QImage *image)
{
    QByteArray png;
    if (!image || image->isNull())
        return png;
    // An opaque grey layer is stored as an 8-bit grey PNG: the same levels in a
    // third of the data, and it decodes four times faster on the printer.
    const bool grey
        = image->format() == QImage::Format_Grayscale8 || (!image->hasAlphaChannel() && image->isGrayscale());
    if (grey) {
        // Unfiltered rows at zlib's fastest level: a few times faster than the general
        // writer, for files about a third larger.
        return GreyPng::encode(image->convertToFormat(QImage::Format_Grayscale8), kGreyPngLevel);
    }
    const QImage &stored = *image;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!stored.save(&buffer, "PNG"))
        png.clear();
    return png;
}

QImage CrushedAntiBitMap::decodePng(const QByteArray &png)
{
    if (png.isEmpty())
        return QImage();
    QBuffer buffer;
    buffer.setData(png);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "PNG");
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > kMaxDecodedPixels)
        return QImage();
    return reader.read();
}

int CrushedAntiBitMap::width() const
{
    return int(qBound<qint64>(INT_MIN, qint64(m_size.left()) - m_size.right(), INT_MAX));
}

int CrushedAntiBitMap::height() const
{
    return int(qBound<qint64>(INT_MIN, qint64(m_size.top()) - m_size.bottom(), INT_MAX));
}

void CrushedAntiBitMap::ByteArrayToAntiImage(QImage *target, int dx, int dy, QByteArray *png)
{
    if (!target || target->isNull() || !png || png->isEmpty())
        return;
    const QImage layer = decodePng(*png);
    if (layer.isNull())
        return;
    const bool opaqueOrPremultiplied = (target->depth() == 32 && !target->hasAlphaChannel())
        || target->format() == QImage::Format_ARGB32_Premultiplied;
    if (layer.format() == QImage::Format_Grayscale8 && opaqueOrPremultiplied) {
        addGreyLayer(target, layer, dx, dy);
        return;
    }
    QPainter painter(target);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setCompositionMode(QPainter::CompositionMode_Plus);
    painter.drawImage(QPoint(dx, dy), layer);
}

void CrushedAntiBitMap::setWhitePixels(QImage *image)
{
    m_whitePixels = 0;
    if (!image || image->isNull())
        return;
    if (image->format() == QImage::Format_Grayscale8) {
        const int width = image->width();
        const int height = image->height();
        for (int y = 0; y < height; ++y) {
            const uchar *line = image->constScanLine(y);
            int lit = 0;
            for (int x = 0; x < width; ++x)
                lit += line[x] != 0 ? 1 : 0;
            m_whitePixels += lit;
        }
        return;
    }
    const QImage pixels = image->convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(pixels.constScanLine(y));
        for (int x = 0; x < pixels.width(); ++x)
            m_whitePixels += line[x] != kOpaqueBlack ? 1 : 0;
    }
}

bool CrushedAntiBitMap::crushSlice(QImage *image)
{
    if (!image || image->isNull())
        return false;
    QByteArray png = AntiImageToByteArray(image);
    if (png.isEmpty())
        return false;
    m_png = png;
    m_pngLength = qint32(m_png.size());
    m_size = sizeFieldFor(image->width(), image->height());
    setWhitePixels(image);
    return true;
}

void CrushedAntiBitMap::inflateSlice(QImage *target, int dx, int dy, bool create)
{
    if (!target)
        return;
    if (create) {
        const bool sized = width() > 0 && height() > 0 && qint64(width()) * height() <= kMaxDecodedPixels;
        const QSize size = sized ? QSize(width(), height()) : target->size();
        *target = QImage(size, QImage::Format_ARGB32_Premultiplied);
        target->fill(kOpaqueBlack);
    }
    ByteArrayToAntiImage(target, dx, dy, &m_png);
}

bool CrushedAntiBitMap::isWhitePixel(QPoint point) const
{
    const QImage layer = decodePng(m_png);
    if (!layer.valid(point))
        return false;
    return layer.pixel(point) != kOpaqueBlack;
}

void CrushedAntiBitMap::streamOutCMB(QDataStream *out) const
{
    if (!out)
        return;
    *out << m_whitePixels << qint32(m_size.left()) << qint32(m_size.top()) << qint32(m_size.right())
         << qint32(m_size.bottom()) << m_pngLength << m_png;
}

bool CrushedAntiBitMap::streamInCMB(QDataStream *in)
{
    if (!in)
        return false;
    qint32 left = 0, top = 0, right = 0, bottom = 0;
    const bool ok = BoundedStream::readInt32(*in, m_whitePixels) && BoundedStream::readInt32(*in, left)
        && BoundedStream::readInt32(*in, top) && BoundedStream::readInt32(*in, right)
        && BoundedStream::readInt32(*in, bottom) && BoundedStream::readInt32(*in, m_pngLength)
        && BoundedStream::readByteArray(*in, m_png);
    m_size = QRect(QPoint(left, top), QPoint(right, bottom));
    if (!ok)
        m_png.clear();
    return ok;
}
