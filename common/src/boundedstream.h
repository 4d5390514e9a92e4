#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QString>

// Reading helpers for job files and other untrusted binary input.
//
// A length or count read from a file is only believed when the file still
// holds that many bytes: a damaged header can therefore never make a reader
// allocate more than the file's own size or loop for longer than the file
// lasts. Every helper returns false, and leaves the stream's status at
// ReadPastEnd or ReadCorruptData, when the value cannot be read whole.
namespace BoundedStream {

// Bytes still to be read from the stream's device (0 without a device).
qint64 remaining(const QDataStream &in);

// True when `count` records of at least `minRecordSize` bytes each can still
// be in the stream; a negative count is never plausible.
bool countFits(const QDataStream &in, qint64 count, qint64 minRecordSize);

bool readInt32(QDataStream &in, qint32 &value);
bool readUInt32(QDataStream &in, quint32 &value);
bool readDouble(QDataStream &in, double &value);

// A QString in Qt's stream layout: quint32 byte count (0xFFFFFFFF for a null
// string), then UTF-16 big-endian code units.
bool readString(QDataStream &in, QString &value);

// A QByteArray in Qt's stream layout: quint32 length (0xFFFFFFFF for a null
// array), then the bytes.
bool readByteArray(QDataStream &in, QByteArray &value);

// Exactly `size` raw bytes.
bool readRaw(QDataStream &in, QByteArray &value, qint64 size);

} // namespace BoundedStream
