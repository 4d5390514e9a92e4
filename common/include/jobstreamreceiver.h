#pragma once

#include <QString>
#include <QtGlobal>

#include <limits>
#include <memory>

class QIODevice;
class QSaveFile;

// Receives one job stream (see protocol.h: T, S, the name frame, then the file's bytes)
// from a device into a temporary file beside the target path, and renames it over the
// target only when the last byte has arrived. A transfer that fails, is aborted or whose
// receiver is destroyed early leaves the previous target file as it was.
//
// Usage, once per stream, on every readiness notification:
//
//     if (JobStreamReceiver::consumeKeepAlive(socket)) return;
//     switch (receiver.feed(socket)) { ... }   // Failed: close the connection
//
// Counts (received(), total()) include the 16 header bytes and the name frame.
class JobStreamReceiver
{
public:
    enum Result {
        NeedMore, // all buffered bytes of the stream were taken; wait for more
        Done, // the whole stream arrived and the target file is in place
        Failed, // see errorString(); the target file is untouched
    };

    explicit JobStreamReceiver(const QString &targetPath);
    ~JobStreamReceiver();
    JobStreamReceiver(const JobStreamReceiver &) = delete;
    JobStreamReceiver &operator=(const JobStreamReceiver &) = delete;

    // Largest T accepted; the session passes the free space of the working folder.
    // Unlimited unless set.
    void setMaxBytes(qint64 maxBytes);

    // Takes the buffered bytes of the stream from the device, never more than the stream's
    // remaining bytes: what follows the stream stays in the device. Never waits. Once Done
    // or Failed, further calls return the same result and consume nothing.
    Result feed(QIODevice *device);

    // Discards the temporary file; the target file is untouched. Later feeds fail.
    void abort();

    // The name carried by the stream, after its last "/"; empty until the name arrived.
    QString fileName() const;
    qint64 received() const;
    // T, or 0 until the first 16 bytes arrived.
    qint64 total() const;
    QString errorString() const;

    // If the buffered bytes begin with a complete frame whose text contains
    // "Connection-Alive", consumes exactly that frame and returns true; otherwise consumes
    // nothing and returns false.
    static bool consumeKeepAlive(QIODevice *device);

private:
    enum class Stage { Header, Name, Body, Done, Failed };

    Result fail(const QString &message, const QString &detail = QString());
    bool readHeader(QIODevice *device);
    bool readName(QIODevice *device);
    void readBody(QIODevice *device);

    QString m_targetPath;
    qint64 m_maxBytes = std::numeric_limits<qint64>::max();
    Stage m_stage = Stage::Header;
    qint64 m_total = 0;
    qint64 m_nameBytes = 0;
    qint64 m_received = 0;
    QString m_fileName;
    QString m_errorString;
    std::unique_ptr<QSaveFile> m_file;
};
