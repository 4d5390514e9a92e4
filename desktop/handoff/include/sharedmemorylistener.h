#pragma once

#include <QObject>
#include <QSharedMemory>
#include <QString>

class QTimer;

// The receiving side of the file hand-off, in the running instance: polls the
// hand-off segment every 500 ms, takes the path it holds and marks the segment
// as read (see handoffsegment.h).
class SharedMemoryListener : public QObject
{
    Q_OBJECT
public:
    static constexpr int pollIntervalMs = 500;

    explicit SharedMemoryListener(QObject *parent = nullptr);
    explicit SharedMemoryListener(const QString &key, QObject *parent = nullptr);

    // Starts polling (again, if already started).
    void start();

signals:
    // A path handed over by another start; never empty, blank or a read mark.
    void fileAddedToSharedMemory(const QString &filePath);

public slots:
    // One poll: if a filled segment is waiting, takes its path, marks it as read
    // and lets go of it. A segment still being filled (all zero bytes) is left
    // alone until the next poll.
    void checkSharedMemory();

private:
    QSharedMemory sharedMemory;
    QTimer *timer = nullptr;
};
