#pragma once

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QDataStream;
class QImage;
class QPixmap;

// One anti-aliased (grey-level) layer of a job file, kept as a PNG.
//
// Record in a file: lit pixel count (qint32; pixels whose ARGB value is not
// opaque black), size (four qint32 holding width, height, 0, 0: the width is
// left - right and the height top - bottom), PNG length (qint32), then the PNG
// as a streamed QByteArray.
class CrushedAntiBitMap
{
public:
    CrushedAntiBitMap();
    explicit CrushedAntiBitMap(QImage *image);
    explicit CrushedAntiBitMap(QPixmap *pixmap);

    // Stores the image as PNG and counts its lit pixels. False for a missing or
    // empty image, or one that cannot be encoded.
    bool crushSlice(QImage *image);

    static QByteArray AntiImageToByteArray(QImage *image);
    // Decodes the PNG and adds it onto the target at (dx, dy) (composition Plus,
    // so on a black target the stored grey levels come out unchanged). A PNG
    // that does not decode draws nothing.
    static void ByteArrayToAntiImage(QImage *target, int dx, int dy, QByteArray *png);
    // Decodes a stored PNG; a null image when it does not decode or declares
    // more than kMaxDecodedPixels pixels (a damaged file must not exhaust memory).
    static QImage decodePng(const QByteArray &png);
    static constexpr qint64 kMaxDecodedPixels = qint64(1) << 26;

    // Draws the layer at the top-left corner of the target shifted by (dx, dy).
    // With `create` the target is first replaced by a black image of the layer's
    // size (or of its own size when the layer has none).
    void inflateSlice(QImage *target, int dx, int dy, bool create);
    bool isWhitePixel(QPoint point) const;
    void setWhitePixels(QImage *image);

    void streamOutCMB(QDataStream *out) const;
    // False when the stream ends before the record does.
    bool streamInCMB(QDataStream *in);

    // Single anti-aliased records are not kept in files of their own.
    bool saveCrushedAntiBitMap(const QString &) const { return true; }
    bool loadCrushedAntiBitMap(const QString &) { return false; }

    qint32 whitePixels() const { return m_whitePixels; }
    QRect sizeField() const { return m_size; }
    int width() const;
    int height() const;
    qint32 pngLength() const { return m_pngLength; }
    const QByteArray &png() const { return m_png; }

private:
    qint32 m_whitePixels = 0;
    QRect m_size;
    qint32 m_pngLength = 0;
    QByteArray m_png;
};
