#include "jobstreamreceiver.h"

#include "atomicfile.h"
#include "basiclogging.h"
#include "protocol.h"

#include <QDebug>
#include <QIODevice>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>

namespace {

// T and S, each a big-endian qint64.
constexpr qint64 headerBytes = 16;

const QString writingFileError = QStringLiteral("writing file error!");

QString afterLastSlash(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

JobStreamReceiver::JobStreamReceiver(const QString &targetPath)
    : m_targetPath(targetPath)
{
}

// QSaveFile discards its temporary file when destroyed without commit().
JobStreamReceiver::~JobStreamReceiver() = default;

void JobStreamReceiver::setMaxBytes(qint64 maxBytes)
{
    m_maxBytes = maxBytes;
}

JobStreamReceiver::Result JobStreamReceiver::feed(QIODevice *device)
{
    if (m_stage == Stage::Done)
        return Done;
    if (m_stage == Stage::Failed)
        return Failed;

    const qint64 receivedBefore = m_received;
    if (m_stage == Stage::Header) {
        if (device->bytesAvailable() < headerBytes)
            return NeedMore;
        if (!readHeader(device))
            return Failed;
    }
    if (m_stage == Stage::Name && device->bytesAvailable() >= m_nameBytes) {
        if (!readName(device))
            return Failed;
    }
    if (m_stage == Stage::Body)
        readBody(device);
    if (m_stage == Stage::Failed)
        return Failed;

    if (m_received != receivedBefore) {
        logLine(QStringLiteral("Receive File. Bytes Received: %1/%2").arg(m_received).arg(m_total));
    }
    if (m_stage != Stage::Body || m_received < m_total)
        return NeedMore;

    QString error;
    if (!AtomicFile::commit(m_file.get(), &error))
        return fail(writingFileError, error);
    m_file.reset();
    m_stage = Stage::Done;
    logLine(QStringLiteral("Done receiving file"));
    return Done;
}

void JobStreamReceiver::abort()
{
    if (m_file)
        m_file->cancelWriting();
    m_file.reset();
    if (m_stage != Stage::Done) {
        m_stage = Stage::Failed;
        m_errorString = QStringLiteral("aborted");
    }
}

QString JobStreamReceiver::fileName() const
{
    return m_fileName;
}

qint64 JobStreamReceiver::received() const
{
    return m_received;
}

qint64 JobStreamReceiver::total() const
{
    return m_total;
}

QString JobStreamReceiver::errorString() const
{
    return m_errorString;
}

bool JobStreamReceiver::consumeKeepAlive(QIODevice *device)
{
    // Peeked, not read: bytes of a job stream that merely look like a frame stay put.
    QString text;
    qint64 frameBytes = 0;
    if (Protocol::peekFrameText(device, &text, &frameBytes) != Protocol::FrameStatus::Complete
        || !text.contains(QLatin1String(Message::kKeepAlive)))
        return false;

    logLine(QStringLiteral("Client::pendingMessageIsKeepAlive. Messagestring: ") + text);
    device->read(frameBytes);
    return true;
}

JobStreamReceiver::Result JobStreamReceiver::fail(const QString &message, const QString &detail)
{
    qWarning().noquote() << message;
    m_errorString = detail.isEmpty() ? message : message + QLatin1Char(' ') + detail;
    if (m_file)
        m_file->cancelWriting();
    m_file.reset();
    m_stage = Stage::Failed;
    return Failed;
}

bool JobStreamReceiver::readHeader(QIODevice *device)
{
    const QByteArray header = device->read(headerBytes);
    m_total = qFromBigEndian<qint64>(header.constData());
    m_nameBytes = qFromBigEndian<qint64>(header.constData() + 8);
    m_received = headerBytes;

    const QString where = QStringLiteral("JobStreamReceiver::feed. ");
    const QString sizes = QStringLiteral(" T: %1 S: %2").arg(m_total).arg(m_nameBytes);
    if (m_total < 0 || m_nameBytes < 0)
        fail(where + QStringLiteral("Negative size in the stream header.") + sizes);
    else if (m_nameBytes < Protocol::kFrameHeaderBytes || m_nameBytes % 2 != 0
        || m_nameBytes > Protocol::kFrameHeaderBytes + Protocol::kMaxFrameBytes)
        fail(where + QStringLiteral("Impossible name size.") + sizes);
    else if (m_total < headerBytes + m_nameBytes)
        fail(where + QStringLiteral("Total smaller than its header.") + sizes);
    else if (m_total > m_maxBytes)
        fail(where + QStringLiteral("Stream larger than the free space of %1 bytes.").arg(m_maxBytes) + sizes);
    else
        m_stage = Stage::Name;
    return m_stage != Stage::Failed;
}

bool JobStreamReceiver::readName(QIODevice *device)
{
    const QString where = QStringLiteral("JobStreamReceiver::feed. ");
    qint64 frameBytes = 0;
    const Protocol::FrameStatus status = Protocol::peekFrame(device->peek(Protocol::kFrameHeaderBytes), &frameBytes);
    if (status == Protocol::FrameStatus::Invalid) {
        fail(where + QStringLiteral("Invalid name frame."));
        return false;
    }
    if (frameBytes != m_nameBytes) {
        fail(where + QStringLiteral("Name frame of %1 bytes, header says %2.").arg(frameBytes).arg(m_nameBytes));
        return false;
    }
    QString name;
    if (Protocol::readFrame(device, &name) != Protocol::FrameStatus::Complete) {
        fail(where + QStringLiteral("Invalid name frame."));
        return false;
    }
    m_received += m_nameBytes;
    m_fileName = afterLastSlash(name);
    logLine(QStringLiteral("File name: ") + m_fileName);

    m_file = std::make_unique<QSaveFile>(m_targetPath);
    if (!m_file->open(QIODevice::WriteOnly)) {
        fail(writingFileError, m_file->errorString());
        return false;
    }
    m_stage = Stage::Body;
    return true;
}

void JobStreamReceiver::readBody(QIODevice *device)
{
    // Piece by piece through one buffer: the stream never sits in memory as a whole.
    constexpr qint64 kPieceBytes = 64 * 1024;
    char piece[kPieceBytes];
    while (m_received < m_total) {
        const qint64 wanted = std::min({m_total - m_received, device->bytesAvailable(), kPieceBytes});
        if (wanted <= 0)
            return;
        const qint64 got = device->read(piece, wanted);
        if (got <= 0)
            return;
        if (m_file->write(piece, got) != got) {
            fail(writingFileError, m_file->errorString());
            return;
        }
        m_received += got;
    }
}
