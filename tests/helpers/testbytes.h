#pragma once

#include <QByteArray>
#include <QtEndian>

// Numbers as they stand on the wire, for building hand-made frames and streams.
inline QByteArray bigEndian64(qint64 value)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToBigEndian<qint64>(value, bytes.data());
    return bytes;
}

inline QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian<quint32>(value, bytes.data());
    return bytes;
}
