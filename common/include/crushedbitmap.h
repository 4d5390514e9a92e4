#pragma once

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QString>

class QDataStream;
class QImage;
class QPixmap;

// One black-and-white layer of a job file, packed as a bit stream of run lengths.
//
// Terms:
//  - white pixel: a pixel with red, green or blue at 32 or above (alpha ignored);
//    every other pixel is black.
//  - run: a stretch of pixels of one colour, in row order from the top-left corner.
//  - key k: the smallest k >= 0 with run <= 2^k; a run is coded as k in 5 bits
//    followed by the run in k + 1 bits.
//  - bit stream: width (16 bits), height (16 bits), colour of the first pixel
//    (1 bit, 1 = white), then the runs, alternating in colour. Fields are written
//    most significant bit first; bit i lives in byte i / 8 at bit position i % 8
//    counted from the least significant bit (the layout of a streamed QBitArray).
//
// Record in a file: white pixel count (qint32), white bounds (four qint32: left,
// top, right, bottom), bit count (quint32), then ceil(bits / 8) bytes.
class CrushedBitMap
{
public:
    CrushedBitMap();
    explicit CrushedBitMap(QImage *image);
    explicit CrushedBitMap(QPixmap *pixmap);

    // Packs the image. False for a missing image, an image wider or higher than
    // 65,535 pixels, or a run that would need a key of 32.
    bool crushSlice(QImage *image);

    // Draws the layer's white pixels into the target, centred and then shifted by
    // (dx, dy); black pixels are left as they are. With `create` the target is
    // first replaced by a black image of the layer's size.
    void inflateSlice(QImage *target, int dx, int dy, bool create);

    // Whether the pixel at this position of the last unpacking is white.
    bool isWhitePixel(QPoint point);

    void streamOutCMB(QDataStream *out) const;
    // Reads one record. False when the stream ends before the record does;
    // nothing larger than what the stream still holds is allocated.
    bool streamInCMB(QDataStream *in);

    // One record alone in a file; a failed save keeps the file as it was (logged).
    bool saveCrushedBitMap(const QString &path) const;
    bool loadCrushedBitMap(const QString &path);

    // Bit helpers. pushBits appends the low `bits` bits of value, most significant
    // first. popBits reads `bits` bits at the cursor: -1 (all ones) when they run
    // past the end or bits > 32, 0 when bits < 1.
    void pushBits(quint32 value, int bits);
    int popBits(int bits);
    static int computeKeySize(unsigned int run);

    qint32 whitePixels() const { return m_whitePixels; }
    QRect whiteBounds() const { return m_whiteBounds; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    qint64 bitCount() const { return m_bitCount; }
    const QByteArray &bits() const { return m_bits; }
    qint64 cursor() const { return m_cursor; }
    QPoint offset() const { return m_offset; }

    // A blank map stands for an all-black layer of the given size (the leading
    // blank layers of a job); it holds no runs.
    bool isBlank() const { return m_blank; }
    void setBlank(int width, int height);

private:
    bool readBits(int bits, quint32 &value);
    void resetBounds();
    void widenBounds(int left, int top, int right, int bottom);

    qint32 m_whitePixels = 0;
    QRect m_whiteBounds;
    QByteArray m_bits;
    qint64 m_bitCount = 0;
    qint64 m_cursor = 0;
    int m_width = 0;
    int m_height = 0;
    QPoint m_offset;
    bool m_blank = false;
};
