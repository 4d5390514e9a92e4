#include "protocol.h"

#include <QHostAddress>
#include <QIODevice>
#include <QtEndian>

namespace Protocol {

namespace {

constexpr quint32 nullStringLength = 0xFFFFFFFFu;

// Judges a frame from its first four bytes and the number of bytes buffered in all.
FrameStatus frameStatus(const QByteArray &header, qint64 available, qint64 *frameBytes)
{
    if (frameBytes)
        *frameBytes = 0;
    if (header.size() < kFrameHeaderBytes)
        return FrameStatus::Incomplete;
    const quint32 length = qFromBigEndian<quint32>(header.constData());
    if (length == nullStringLength || length % 2 != 0 || length > kMaxFrameBytes)
        return FrameStatus::Invalid;
    const qint64 total = kFrameHeaderBytes + length;
    if (frameBytes)
        *frameBytes = total;
    return available >= total ? FrameStatus::Complete : FrameStatus::Incomplete;
}

// The text of a complete, valid frame.
QString frameText(const QByteArray &bytes)
{
    const int units = (bytes.size() - kFrameHeaderBytes) / 2;
    QString text(units, Qt::Uninitialized);
    const uchar *source = reinterpret_cast<const uchar *>(bytes.constData()) + kFrameHeaderBytes;
    QChar *target = text.data();
    for (int i = 0; i < units; ++i)
        target[i] = QChar(qFromBigEndian<quint16>(source + 2 * i));
    return text;
}

bool isDecimal(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

QString printerVersionText()
{
    return QString::number(kPrinterVersion, 'g', 6);
}

bool isAcceptedVersion(double version)
{
    return version >= kMinAcceptedVersion && version <= kMaxAcceptedVersion;
}

QByteArray frame(const QString &text)
{
    const int units = text.size();
    QByteArray bytes(kFrameHeaderBytes + 2 * units, Qt::Uninitialized);
    uchar *target = reinterpret_cast<uchar *>(bytes.data());
    qToBigEndian<quint32>(static_cast<quint32>(2 * units), target);
    const QChar *source = text.constData();
    for (int i = 0; i < units; ++i)
        qToBigEndian<quint16>(source[i].unicode(), target + kFrameHeaderBytes + 2 * i);
    return bytes;
}

QByteArray rawFrame(const QString &text)
{
    return text.toUtf8();
}

FrameStatus peekFrame(const QByteArray &buffered, qint64 *frameBytes)
{
    return frameStatus(buffered.left(kFrameHeaderBytes), buffered.size(), frameBytes);
}

FrameStatus readFrame(QIODevice *device, QString *text)
{
    qint64 frameBytes = 0;
    // Only the count is peeked: the text is read once, when the frame is whole.
    const FrameStatus status = frameStatus(device->peek(kFrameHeaderBytes), device->bytesAvailable(), &frameBytes);
    if (status != FrameStatus::Complete)
        return status;
    const QByteArray bytes = device->read(frameBytes);
    if (bytes.size() != frameBytes)
        return FrameStatus::Invalid; // the device broke its own bytesAvailable()
    if (text)
        *text = frameText(bytes);
    return FrameStatus::Complete;
}

FrameStatus peekFrameText(QIODevice *device, QString *text, qint64 *frameBytes)
{
    qint64 bytes = 0;
    const FrameStatus status = frameStatus(device->peek(kFrameHeaderBytes), device->bytesAvailable(), &bytes);
    if (frameBytes)
        *frameBytes = bytes;
    if (status != FrameStatus::Complete)
        return status;
    const QByteArray whole = device->peek(bytes);
    if (whole.size() != bytes)
        return FrameStatus::Incomplete;
    if (text)
        *text = frameText(whole);
    return FrameStatus::Complete;
}

QStringList extractMessages(const QString &text)
{
    QStringList pieces = text.split(QLatin1String(kMarker), Qt::KeepEmptyParts);
    pieces.removeFirst(); // split always gives at least one piece
    return pieces;
}

QString encodeField(const QString &text)
{
    QString encoded;
    encoded.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('%'))
            encoded += QLatin1String("%25");
        else if (c == QLatin1Char(','))
            encoded += QLatin1String("%2C");
        else if (c == QLatin1Char('*'))
            encoded += QLatin1String("%2A");
        else
            encoded += c;
    }
    return encoded;
}

QString decodeField(const QString &text)
{
    if (!text.contains(QLatin1Char('%')))
        return text;
    QString decoded;
    decoded.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QStringRef escape = text.midRef(i, 3);
        if (escape.compare(QLatin1String("%25"), Qt::CaseInsensitive) == 0) {
            decoded += QLatin1Char('%');
            i += 2;
        } else if (escape.compare(QLatin1String("%2C"), Qt::CaseInsensitive) == 0) {
            decoded += QLatin1Char(',');
            i += 2;
        } else if (escape.compare(QLatin1String("%2A"), Qt::CaseInsensitive) == 0) {
            decoded += QLatin1Char('*');
            i += 2;
        } else {
            decoded += text.at(i);
        }
    }
    return decoded;
}

QString asciiUpToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromLatin1(zero < 0 ? bytes : bytes.left(zero));
}

bool parseDatagram(const QByteArray &datagram, QString *ip, int *port)
{
    const QString text = asciiUpToZero(datagram);
    const QLatin1String ipKey(kIpKey);
    const QLatin1String portKey(kPortKey);
    if (!text.startsWith(ipKey))
        return false;
    const int portAt = text.indexOf(portKey, ipKey.size());
    if (portAt < 0)
        return false;

    const QString ipText = text.mid(ipKey.size(), portAt - ipKey.size());
    // Only the canonical dotted form: QHostAddress also takes "10.1" (10.0.0.1) and reads
    // "010.0.0.1" as octal, and a printer must connect to the address that was meant.
    QHostAddress address;
    if (!address.setAddress(ipText) || address.protocol() != QAbstractSocket::IPv4Protocol
        || address.toString() != ipText)
        return false;

    const QString portText = text.mid(portAt + portKey.size());
    // At most five digits keeps the conversion clear of overflow.
    if (!isDecimal(portText) || portText.size() > 5)
        return false;
    const int portNumber = portText.toInt();
    if (portNumber < 1 || portNumber > 65535)
        return false;

    if (ip)
        *ip = ipText;
    if (port)
        *port = portNumber;
    return true;
}

QByteArray datagram(const QString &ip, int port)
{
    return (QLatin1String(kIpKey) + ip + QLatin1String(kPortKey) + QString::number(port)).toLatin1();
}

QString statusName(int printingThreadStatus)
{
    switch (printingThreadStatus) {
    case 0:
        return QLatin1String(kStatusPrinting);
    case 1:
    case 2:
        return QLatin1String(kStatusPaused);
    default:
        return QLatin1String(kStatusReady);
    }
}

QString handshakeReply(const QString &serial, const QString &nickname, const QString &model, const QString &versionText,
    const QString &statusName, const QString &resinText, const QStringList &wifiNames, const QString &gParameter)
{
    QStringList wifi;
    for (const QString &name : wifiNames)
        wifi << encodeField(name);
    const QStringList fields {QLatin1String(Message::kHandshake), encodeField(serial), encodeField(nickname),
        encodeField(model), versionText, statusName, resinText, wifi.join(QLatin1String(kWifiSeparator)), gParameter};
    return fields.join(QLatin1String(kSeparator));
}

QByteArray jobStreamHeader(const QString &fileName, qint64 fileSize)
{
    const QByteArray nameFrame = frame(fileName);
    const qint64 nameBytes = nameFrame.size();
    const qint64 total = 16 + nameBytes + fileSize;
    QByteArray header(16, Qt::Uninitialized);
    qToBigEndian<qint64>(total, header.data());
    qToBigEndian<qint64>(nameBytes, header.data() + 8);
    return header + nameFrame;
}

} // namespace Protocol
