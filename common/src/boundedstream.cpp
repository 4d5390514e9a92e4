#include "boundedstream.h"

#include <QIODevice>

namespace BoundedStream {

qint64 remaining(const QDataStream &in)
{
    QIODevice *device = in.device();
    if (!device)
        return 0;
    if (device->isSequential())
        return device->bytesAvailable();
    return qMax<qint64>(0, device->size() - device->pos());
}

bool countFits(const QDataStream &in, qint64 count, qint64 minRecordSize)
{
    if (count < 0)
        return false;
    return count <= remaining(in) / qMax<qint64>(1, minRecordSize);
}

static bool failPastEnd(QDataStream &in)
{
    if (in.status() == QDataStream::Ok)
        in.setStatus(QDataStream::ReadPastEnd);
    return false;
}

bool readInt32(QDataStream &in, qint32 &value)
{
    value = 0;
    if (in.status() != QDataStream::Ok || remaining(in) < 4)
        return failPastEnd(in);
    in >> value;
    return in.status() == QDataStream::Ok;
}

bool readUInt32(QDataStream &in, quint32 &value)
{
    value = 0;
    if (in.status() != QDataStream::Ok || remaining(in) < 4)
        return failPastEnd(in);
    in >> value;
    return in.status() == QDataStream::Ok;
}

bool readDouble(QDataStream &in, double &value)
{
    value = 0.0;
    if (in.status() != QDataStream::Ok || remaining(in) < 8)
        return failPastEnd(in);
    in >> value;
    return in.status() == QDataStream::Ok;
}

bool readRaw(QDataStream &in, QByteArray &value, qint64 size)
{
    value.clear();
    if (size < 0 || in.status() != QDataStream::Ok || size > remaining(in))
        return failPastEnd(in);
    value.resize(int(size));
    if (size > 0 && in.readRawData(value.data(), int(size)) != size) {
        value.clear();
        return failPastEnd(in);
    }
    return true;
}

bool readByteArray(QDataStream &in, QByteArray &value)
{
    value.clear();
    quint32 length = 0;
    if (!readUInt32(in, length))
        return false;
    if (length == 0xFFFFFFFFu)
        return true;
    return readRaw(in, value, length);
}

bool readString(QDataStream &in, QString &value)
{
    value = QString();
    quint32 byteCount = 0;
    if (!readUInt32(in, byteCount))
        return false;
    if (byteCount == 0xFFFFFFFFu)
        return true;
    if (byteCount % 2 != 0) {
        in.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    QByteArray bytes;
    if (!readRaw(in, bytes, byteCount))
        return false;
    value.resize(int(byteCount / 2));
    const auto *raw = reinterpret_cast<const uchar *>(bytes.constData());
    for (int i = 0; i < value.size(); ++i)
        value[i] = QChar(ushort((raw[2 * i] << 8) | raw[2 * i + 1]));
    if (byteCount == 0)
        value = QLatin1String(""); // empty, not null
    return true;
}

} // namespace BoundedStream
