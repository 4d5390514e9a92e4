#include "runguard.h"

#include <QCryptographicHash>

RunGuard::RunGuard(const QString &applicationKey)
    : key(applicationKey)
    , memLockKey(generateKeyHash(applicationKey, QStringLiteral("_memLockKey")))
    , sharedmemKey(generateKeyHash(applicationKey, QStringLiteral("_sharedmemKey")))
    , sharedMem(sharedmemKey)
    , memLock(memLockKey, 1, QSystemSemaphore::Open)
{
    // A segment that a crashed instance left behind has no one attached: attaching
    // and letting go removes it. A live instance stays attached, so its segment
    // survives this.
    memLock.acquire();
    removeLeftover();
    memLock.release();
}

RunGuard::~RunGuard()
{
    release();
}

bool RunGuard::tryToRun()
{
    if (sharedMem.isAttached())
        return true; // this instance already holds the guard

    memLock.acquire();
    const bool anotherRunning = sharedMem.attach(QSharedMemory::ReadWrite);
    if (anotherRunning)
        sharedMem.detach();
    memLock.release();
    if (anotherRunning)
        return false;

    memLock.acquire();
    bool created = sharedMem.create(segmentSize, QSharedMemory::ReadWrite);
    if (!created && sharedMem.error() == QSharedMemory::AlreadyExists) {
        // The system names a segment after its key file's inode, and the file
        // system hands a deleted file's inode to the next new file. A segment
        // left behind under an inode our new key file now has is found only
        // once that file exists: clear it as the constructor clears a leftover
        // (a live holder stays attached, so its segment survives) and try again.
        removeLeftover();
        created = sharedMem.create(segmentSize, QSharedMemory::ReadWrite);
    }
    memLock.release();
    if (!created) {
        if (sharedMem.error() != QSharedMemory::AlreadyExists)
            qWarning("RunGuard: cannot create the guard segment: %s", qPrintable(sharedMem.errorString()));
        release();
        return false;
    }
    return true;
}

void RunGuard::removeLeftover()
{
    QSharedMemory leftover(sharedmemKey);
    if (leftover.attach(QSharedMemory::ReadWrite))
        leftover.detach();
}

void RunGuard::release()
{
    memLock.acquire();
    if (sharedMem.isAttached())
        sharedMem.detach();
    memLock.release();
}

QString RunGuard::generateKeyHash(const QString &key, const QString &salt)
{
    QByteArray data = key.toUtf8();
    data.append(salt.toUtf8());
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
}
