#pragma once

#include <QObject>
#include <QSharedMemory>
#include <QString>

// The sending side of the file hand-off, used by a second start of Tessora:
// puts one file path into the hand-off segment and waits until the running
// instance has marked it as read (see handoffsegment.h).
//
// Both steps give up after a time limit (10 s by default), so a second start
// never hangs on a running instance that died or stopped reading.
class SharedMemoryWriter : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultTimeoutMs = 10000;

    explicit SharedMemoryWriter(QObject *parent = nullptr);
    explicit SharedMemoryWriter(const QString &key, QObject *parent = nullptr);

    // Creates the segment with exactly the path's Latin-1 bytes and fills it.
    // While the path of another start still occupies the segment, retries every
    // 100 ms until the time limit. A relative path naming an existing file is
    // handed over as an absolute one (the running instance has a working folder
    // of its own).
    // A path with characters outside Latin-1 cannot be handed over and is
    // refused. Failures are logged; answers whether the segment was written.
    bool writeFilePathToSharedMemory(const QString &filePath);

    // Blocks until the segment is marked as read (true) or the time limit has
    // passed (false, logged), polling every 100 ms. A segment this writer does
    // not hold reads as empty, which counts as marked. Afterwards the writer lets
    // go of the segment, so the next path can be written.
    bool isMemoryMarkedAsRead();

    int timeoutMs() const { return timeout; }
    void setTimeoutMs(int milliseconds) { timeout = milliseconds; }

private:
    QByteArray readContent();

    QSharedMemory sharedMemory;
    int timeout = defaultTimeoutMs;
};
