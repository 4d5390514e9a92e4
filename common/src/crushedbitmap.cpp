#include "crushedbitmap.h"

#include "atomicfile.h"
#include "boundedstream.h"

#include <QDataStream>
#include <QDebug>
#include <QFile>
#include <QImage>
#include <QPixmap>

#include <algorithm>

namespace {

constexpr int kMaxDimension = 0xFFFF; // width and height are 16-bit fields
constexpr int kKeyBits = 5;
constexpr quint32 kWhiteArgb = 0xFFFFFFFFu;

// A pixel is white when red, green or blue reaches 32: the top three bits of one
// of the three bytes are set. Alpha is ignored.
inline bool isWhite(QRgb pixel)
{
    return (pixel & 0x00E0E0E0u) != 0;
}

// Where a layer of the given size lands in a target: centred, then shifted.
inline int placement(int targetSize, int layerSize, int shift)
{
    return int(float(targetSize * 0.5) - float(layerSize * 0.5)) + shift;
}

// Sets the white pixels of run [index, index + run) of a width-wide layer in the
// target, clipped to it. 32-bit targets are filled span by span; other formats
// pixel by pixel.
void paintWhiteRun(QImage *target, qint64 index, qint64 run, int width, QPoint offset)
{
    const int targetWidth = target->width();
    const int targetHeight = target->height();
    const bool direct = target->depth() == 32;
    while (run > 0) {
        const qint64 row = index / width;
        const int column = int(index % width);
        const qint64 span = std::min<qint64>(run, width - column);
        const qint64 y = row + offset.y();
        if (y >= 0 && y < targetHeight) {
            const int x0 = std::max(0, column + offset.x());
            const int x1 = int(std::min<qint64>(targetWidth, column + offset.x() + span));
            if (x0 < x1) {
                if (direct) {
                    auto *line = reinterpret_cast<quint32 *>(target->scanLine(int(y)));
                    std::fill(line + x0, line + x1, kWhiteArgb);
                } else {
                    for (int x = x0; x < x1; ++x)
                        target->setPixel(x, int(y), kWhiteArgb);
                }
            }
        }
        index += span;
        run -= span;
    }
}

} // namespace

CrushedBitMap::CrushedBitMap()
{
    resetBounds();
}

CrushedBitMap::CrushedBitMap(QImage *image)
    : CrushedBitMap()
{
    crushSlice(image);
}

CrushedBitMap::CrushedBitMap(QPixmap *pixmap)
    : CrushedBitMap()
{
    if (pixmap) {
        QImage image = pixmap->toImage();
        crushSlice(&image);
    }
}

void CrushedBitMap::resetBounds()
{
    m_whiteBounds = QRect(QPoint(m_width, m_height), QPoint(0, 0));
}

void CrushedBitMap::widenBounds(int left, int top, int right, int bottom)
{
    m_whiteBounds.setLeft(std::min(m_whiteBounds.left(), left));
    m_whiteBounds.setTop(std::min(m_whiteBounds.top(), top));
    m_whiteBounds.setRight(std::max(m_whiteBounds.right(), right));
    m_whiteBounds.setBottom(std::max(m_whiteBounds.bottom(), bottom));
}

void CrushedBitMap::setBlank(int width, int height)
{
    m_blank = true;
    m_width = width;
    m_height = height;
    m_whitePixels = 0;
    m_bits.clear();
    m_bitCount = 0;
    m_cursor = 0;
    resetBounds();
}

int CrushedBitMap::computeKeySize(unsigned int run)
{
    int k = 0;
    while (k < 32 && (quint64(1) << k) < run)
        ++k;
    return k;
}

void CrushedBitMap::pushBits(quint32 value, int bits)
{
    if (bits < 1 || bits > 32)
        return;
    const qint64 needed = (m_bitCount + bits + 7) / 8;
    if (needed > m_bits.size()) {
        if (needed > m_bits.capacity())
            m_bits.reserve(int(std::max<qint64>(needed, qint64(m_bits.capacity()) * 2)));
        m_bits.append(int(needed - m_bits.size()), '\0');
    }
    auto *bytes = reinterpret_cast<uchar *>(m_bits.data());
    for (int i = bits - 1; i >= 0; --i) {
        if ((value >> i) & 1u)
            bytes[m_bitCount >> 3] |= uchar(1u << (m_bitCount & 7));
        ++m_bitCount;
    }
}

bool CrushedBitMap::readBits(int bits, quint32 &value)
{
    value = 0;
    if (bits < 1)
        return true;
    if (bits > 32 || m_cursor + bits > m_bitCount)
        return false;
    const auto *bytes = reinterpret_cast<const uchar *>(m_bits.constData());
    for (int i = 0; i < bits; ++i, ++m_cursor)
        value = (value << 1) | ((bytes[m_cursor >> 3] >> (m_cursor & 7)) & 1u);
    return true;
}

int CrushedBitMap::popBits(int bits)
{
    if (bits < 1)
        return 0;
    quint32 value = 0;
    if (!readBits(bits, value))
        return -1;
    return int(value);
}

bool CrushedBitMap::crushSlice(QImage *image)
{
    if (!image)
        return false;
    const int width = image->width();
    const int height = image->height();
    if (width > kMaxDimension || height > kMaxDimension) {
        qDebug() << "ERROR. CrushedBitMap::crushSlice. Image too large to pack:" << width << "x" << height;
        return false;
    }

    m_blank = false;
    m_width = width;
    m_height = height;
    m_whitePixels = 0;
    m_bits.clear();
    m_bitCount = 0;
    m_cursor = 0;
    m_offset = QPoint();
    resetBounds();

    pushBits(quint32(width), 16);
    pushBits(quint32(height), 16);
    const qint64 total = qint64(width) * height;
    if (total == 0) {
        pushBits(0, 1); // first colour: black
        pushBits(0, kKeyBits); // one zero run ends the layer
        pushBits(0, 1);
        return true;
    }

    const QImage pixels = image->format() == QImage::Format_ARGB32 || image->format() == QImage::Format_RGB32
        ? *image
        : image->convertToFormat(QImage::Format_ARGB32);

    const auto pixelAt = [&pixels, width](qint64 index) {
        return reinterpret_cast<const QRgb *>(pixels.constScanLine(int(index / width)))[index % width];
    };

    bool white = isWhite(pixelAt(0));
    pushBits(white ? 1u : 0u, 1);

    qint64 index = 0;
    while (index < total) {
        // Count this run row by row on the scan lines.
        qint64 run = 0;
        qint64 at = index;
        while (at < total) {
            const int row = int(at / width);
            const int column = int(at % width);
            const auto *line = reinterpret_cast<const QRgb *>(pixels.constScanLine(row));
            int x = column;
            while (x < width && isWhite(line[x]) == white)
                ++x;
            if (white && x > column)
                widenBounds(column, row, x - 1, row);
            run += x - column;
            at += x - column;
            if (x < width)
                break;
        }
        if (white)
            m_whitePixels += qint32(run);

        const int key = computeKeySize(quint32(std::min<qint64>(run, 0xFFFFFFFF)));
        if (key >= 32 || run > 0xFFFFFFFFLL) {
            qDebug() << "ERROR. CrushedBitMap::crushSlice. Run too long to code:" << run;
            return false;
        }
        pushBits(quint32(key), kKeyBits);
        pushBits(quint32(run), key + 1);
        index = at;
        white = !white;
    }
    return true;
}

void CrushedBitMap::inflateSlice(QImage *target, int dx, int dy, bool create)
{
    if (!target)
        return;
    if (!create && (target->width() == 0 || target->height() == 0))
        return;

    m_cursor = 0;
    int width = m_width;
    int height = m_height;
    bool white = false;
    if (!m_blank) {
        width = popBits(16);
        height = popBits(16);
        white = popBits(1) == 1;
    }

    if (create) {
        if (width < 1 || height < 1) {
            const QSize former = target->size();
            *target = QImage(former, QImage::Format_ARGB32_Premultiplied);
            target->fill(0xFF000000u);
            return;
        }
        *target = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
        target->fill(0xFF000000u);
    }

    m_offset = QPoint(placement(target->width(), width, dx), placement(target->height(), height, dy));
    if (m_blank || width < 1 || height < 1)
        return;

    const qint64 total = qint64(width) * height;
    qint64 index = 0;
    while (index < total) {
        quint32 key = 0;
        quint32 run = 0;
        if (!readBits(kKeyBits, key) || !readBits(int(key) + 1, run) || run == 0)
            break;
        // A damaged stream may claim more pixels than the layer has.
        const qint64 length = std::min<qint64>(run, total - index);
        if (white)
            paintWhiteRun(target, index, length, width, m_offset);
        index += length;
        white = !white;
    }
}

bool CrushedBitMap::isWhitePixel(QPoint point)
{
    if (m_blank)
        return false;
    m_cursor = 0;
    const int width = popBits(16);
    const int height = popBits(16);
    bool white = popBits(1) == 1;
    if (width < 1 || height < 1)
        return false;
    const int x = point.x() - m_offset.x();
    const int y = point.y() - m_offset.y();
    if (x < 0 || y < 0 || x >= width || y >= height)
        return false;
    const qint64 wanted = qint64(y) * width + x;
    const qint64 total = qint64(width) * height;
    qint64 index = 0;
    while (index < total) {
        quint32 key = 0;
        quint32 run = 0;
        if (!readBits(kKeyBits, key) || !readBits(int(key) + 1, run) || run == 0)
            return false;
        if (wanted < index + qint64(run))
            return white;
        index += run;
        white = !white;
    }
    return false;
}

void CrushedBitMap::streamOutCMB(QDataStream *out) const
{
    if (!out)
        return;
    *out << m_whitePixels << qint32(m_whiteBounds.left()) << qint32(m_whiteBounds.top())
         << qint32(m_whiteBounds.right()) << qint32(m_whiteBounds.bottom());
    *out << quint32(m_bitCount);
    out->writeRawData(m_bits.constData(), int((m_bitCount + 7) / 8));
}

bool CrushedBitMap::streamInCMB(QDataStream *in)
{
    if (!in)
        return false;
    qint32 left = 0, top = 0, right = 0, bottom = 0;
    quint32 bitCount = 0;
    m_blank = false;
    m_cursor = 0;
    m_offset = QPoint();
    m_bits.clear();
    m_bitCount = 0;
    const bool ok = BoundedStream::readInt32(*in, m_whitePixels) && BoundedStream::readInt32(*in, left)
        && BoundedStream::readInt32(*in, top) && BoundedStream::readInt32(*in, right)
        && BoundedStream::readInt32(*in, bottom) && BoundedStream::readUInt32(*in, bitCount)
        && BoundedStream::readRaw(*in, m_bits, (qint64(bitCount) + 7) / 8);
    m_whiteBounds = QRect(QPoint(left, top), QPoint(right, bottom));
    if (!ok) {
        m_bits.clear();
        m_width = m_height = -1;
        return false;
    }
    m_bitCount = bitCount;
    m_width = popBits(16);
    m_height = popBits(16);
    m_cursor = 0;
    return true;
}

bool CrushedBitMap::saveCrushedBitMap(const QString &path) const
{
    QString error;
    const bool written = AtomicFile::write(
        path,
        [this](QIODevice *device) {
            QDataStream out(device);
            streamOutCMB(&out);
            return out.status() == QDataStream::Ok;
        },
        &error);
    if (!written)
        qDebug() << "ERROR. CrushedBitMap::saveCrushedBitMap. Write failed:" << path << error;
    return written;
}

bool CrushedBitMap::loadCrushedBitMap(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QDataStream in(&file);
    return streamInCMB(&in);
}
