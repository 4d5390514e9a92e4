#include "sharedmemorywriter.h"

#include "handoffsegment.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <cstring>

namespace {
constexpr unsigned long retryIntervalMs = 100;
} // namespace

SharedMemoryWriter::SharedMemoryWriter(QObject *parent)
    : SharedMemoryWriter(HandOffSegment::defaultKey(), parent)
{
}

SharedMemoryWriter::SharedMemoryWriter(const QString &key, QObject *parent)
    : QObject(parent)
    , sharedMemory(key)
{
}

bool SharedMemoryWriter::writeFilePathToSharedMemory(const QString &filePath)
{
    // A relative path means the file in this start's working folder, which the
    // running instance does not share. Anything else (an absolute path, a URL)
    // goes as it is.
    const QFileInfo file(filePath);
    const QString path = !filePath.isEmpty() && file.isRelative() && file.exists() ? file.absoluteFilePath() : filePath;
    const QByteArray bytes = path.toLatin1();
    if (QString::fromLatin1(bytes) != path) {
        qDebug().noquote() << "ERROR. SharedMemoryWriter::writeFilePathToSharedMemory. Path has characters outside "
                              "Latin-1 and cannot be handed over. Path: "
                + path;
        return false;
    }

    // Another start may still be handing over its own path (the shell starts one
    // process per file): its segment goes once the running instance has read it.
    QElapsedTimer clock;
    clock.start();
    bool created = sharedMemory.create(bytes.size(), QSharedMemory::ReadWrite);
    while (!created && sharedMemory.error() == QSharedMemory::AlreadyExists && clock.elapsed() < timeout) {
        QThread::msleep(retryIntervalMs);
        created = sharedMemory.create(bytes.size(), QSharedMemory::ReadWrite);
    }
    if (!created) {
        qDebug().noquote() << "SharedMemoryWriter::writeFilePathToSharedMemory. Can't create. Error: "
                + sharedMemory.errorString();
        return false;
    }

    sharedMemory.lock();
    std::memcpy(sharedMemory.data(), bytes.constData(), static_cast<size_t>(bytes.size()));
    sharedMemory.unlock();
    return true;
}

bool SharedMemoryWriter::isMemoryMarkedAsRead()
{
    QElapsedTimer clock;
    clock.start();
    bool marked = HandOffSegment::isMarkedAsRead(readContent());
    while (!marked && clock.elapsed() < timeout) {
        QThread::msleep(retryIntervalMs);
        marked = HandOffSegment::isMarkedAsRead(readContent());
    }

    if (sharedMemory.isAttached())
        sharedMemory.detach();
    if (!marked) {
        qDebug().noquote() << QStringLiteral("ERROR. SharedMemoryWriter::isMemoryMarkedAsRead. The running instance "
                                             "did not take the file path within %1 ms. Giving up.")
                                  .arg(timeout);
        return false;
    }
    qDebug("SharedMemoryWriter::isMemoryMarkedAsRead. True");
    return true;
}

QByteArray SharedMemoryWriter::readContent()
{
    if (!sharedMemory.isAttached())
        return {};
    sharedMemory.lock();
    QByteArray content(static_cast<const char *>(sharedMemory.constData()), sharedMemory.size());
    sharedMemory.unlock();
    return content;
}
