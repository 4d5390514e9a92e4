#include "greypng.h"

#include <QImage>
#include <QtEndian>

#include <zlib.h>

#include <vector>

namespace {

void appendChunk(QByteArray &png, const char type[4], const QByteArray &data)
{
    char length[4];
    qToBigEndian<quint32>(quint32(data.size()), length);
    png.append(length, 4);
    const int typeAt = png.size();
    png.append(type, 4);
    png.append(data);
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(png.constData() + typeAt), uInt(4 + data.size()));
    char crcBytes[4];
    qToBigEndian<quint32>(quint32(crc), crcBytes);
    png.append(crcBytes, 4);
}

} // namespace

namespace GreyPng {

QByteArray encode(const QImage &image, int zlibLevel)
{
    if (image.isNull() || image.format() != QImage::Format_Grayscale8)
        return QByteArray();
    const int width = image.width();
    const int height = image.height();

    // Each row: filter type 0 (none), then its bytes, deflated row by row. The deflater
    // and its output buffer are kept per thread: a layer a few milliseconds long would
    // otherwise spend much of them allocating.
    struct Deflater {
        z_stream stream {};
        int level = 0;
        bool ready = false;
        std::vector<Bytef> output;
        ~Deflater()
        {
            if (ready)
                deflateEnd(&stream);
        }
    };
    thread_local Deflater deflater;
    z_stream &stream = deflater.stream;
    if (deflater.ready && deflater.level == zlibLevel) {
        deflateReset(&stream);
    } else {
        if (deflater.ready)
            deflateEnd(&stream);
        stream = z_stream {};
        // Layers are long runs of black and white with short grey edges: run-length
        // matching finds nearly all there is to find, several times faster.
        deflater.ready = deflateInit2(&stream, zlibLevel, Z_DEFLATED, 15, 8, Z_RLE) == Z_OK;
        deflater.level = zlibLevel;
        if (!deflater.ready)
            return QByteArray();
    }
    deflater.output.resize(deflateBound(&stream, uLong(width + 1) * uLong(height)));
    stream.next_out = deflater.output.data();
    stream.avail_out = uInt(deflater.output.size());
    Bytef filter = 0;
    bool ok = true;
    for (int y = 0; y < height && ok; ++y) {
        stream.next_in = &filter;
        stream.avail_in = 1;
        ok = deflate(&stream, Z_NO_FLUSH) == Z_OK;
        stream.next_in = const_cast<Bytef *>(image.constScanLine(y));
        stream.avail_in = uInt(width);
        ok = ok && deflate(&stream, Z_NO_FLUSH) == Z_OK;
    }
    ok = ok && deflate(&stream, Z_FINISH) == Z_STREAM_END;
    if (!ok)
        return QByteArray();
    const QByteArray deflated(reinterpret_cast<const char *>(deflater.output.data()), int(stream.total_out));

    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(width), header.data());
    qToBigEndian<quint32>(quint32(height), header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = 0; // grey
    // compression, filter method and interlace: 0

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", deflated);
    appendChunk(png, "IEND", QByteArray());
    return png;
}

} // namespace GreyPng
