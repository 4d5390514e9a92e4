#include "filehandoffreceiver.h"

#include "handoffsegment.h"
#include "sharedmemorylistener.h"

#include <QDebug>

FileHandOffReceiver::FileHandOffReceiver(QObject *parent)
    : FileHandOffReceiver(HandOffSegment::defaultKey(), parent)
{
}

FileHandOffReceiver::FileHandOffReceiver(const QString &sharedMemoryKey, QObject *parent)
    : QObject(parent)
    , sharedMemoryListener(new SharedMemoryListener(sharedMemoryKey, this))
{
    connect(sharedMemoryListener, &SharedMemoryListener::fileAddedToSharedMemory, this,
        &FileHandOffReceiver::openFileFromSharedMemory);
}

void FileHandOffReceiver::start()
{
    sharedMemoryListener->start();
}

void FileHandOffReceiver::openFile(const QString &filePath)
{
    if (isPrintJobPath(filePath))
        emit loadSSJToViewer(filePath);
    else
        emit addModels(QStringList {filePath});
}

bool FileHandOffReceiver::isPrintJobPath(const QString &filePath)
{
    return filePath.right(4).toLower() == QLatin1String(".ssj");
}

void FileHandOffReceiver::openFileFromSharedMemory(const QString &filePath)
{
    qDebug().noquote() << "RendererQMLItem::openFileFromSharedMemory. File path: " + filePath;
    openFile(filePath);
}
