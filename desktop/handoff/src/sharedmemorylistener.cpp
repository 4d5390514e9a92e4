#include "sharedmemorylistener.h"

#include "handoffsegment.h"

#include <QTimer>

#include <cstring>

SharedMemoryListener::SharedMemoryListener(QObject *parent)
    : SharedMemoryListener(HandOffSegment::defaultKey(), parent)
{
}

SharedMemoryListener::SharedMemoryListener(const QString &key, QObject *parent)
    : QObject(parent)
    , sharedMemory(key)
{
}

void SharedMemoryListener::start()
{
    if (!timer) {
        timer = new QTimer(this);
        timer->setInterval(pollIntervalMs);
        connect(timer, &QTimer::timeout, this, &SharedMemoryListener::checkSharedMemory);
    }
    timer->start();
}

void SharedMemoryListener::checkSharedMemory()
{
    if (!sharedMemory.attach(QSharedMemory::ReadWrite))
        return; // nothing waiting

    // Read and mark in one lock: the writer sees either the path or the mark.
    QByteArray content;
    bool taken = false;
    if (sharedMemory.lock()) {
        content = QByteArray(static_cast<const char *>(sharedMemory.constData()), sharedMemory.size());
        if (!HandOffSegment::isUnwritten(content)) {
            std::memset(sharedMemory.data(), HandOffSegment::readMark, static_cast<size_t>(sharedMemory.size()));
            taken = true;
        }
        sharedMemory.unlock();
    }
    sharedMemory.detach();
    if (!taken)
        return; // created but not yet filled: look again at the next poll

    const QString filePath = HandOffSegment::pathOf(content);
    if (filePath.trimmed().isEmpty() || HandOffSegment::isMarkedAsRead(filePath.toLatin1()))
        return;
    emit fileAddedToSharedMemory(filePath);
}
