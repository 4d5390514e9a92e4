#pragma once

#include <QSharedMemory>
#include <QString>
#include <QSystemSemaphore>

// Keeps Tessora to one running instance per machine.
//
// The running instance holds a small named shared segment for its whole life;
// a later start finds it by attaching to it. A named semaphore makes the
// "is it there? then create it" step atomic between processes. Both names are
// derived from the application key (generateKeyHash()), so every build of the
// program agrees on them.
//
// On Windows a named segment dies with the last process that has it open. On
// Unix a crashed instance leaves its segment behind; the constructor removes
// such a leftover (it has no one attached) so it cannot block the next start.
class RunGuard
{
public:
    // Size of the guard segment. Its content is never read.
    static constexpr int segmentSize = 8;

    explicit RunGuard(const QString &applicationKey);
    ~RunGuard();

    RunGuard(const RunGuard &) = delete;
    RunGuard &operator=(const RunGuard &) = delete;

    // True when no other instance holds the guard: this one then holds it until
    // release() or destruction. False when another instance holds it, or when
    // the guard segment cannot be created (counted as another instance).
    // Calling it again while holding the guard answers true.
    bool tryToRun();

    // Lets go of the guard segment (a later start may then run).
    void release();

    // Lower-case hexadecimal SHA-1 of the UTF-8 bytes of key followed by salt
    // (40 characters).
    static QString generateKeyHash(const QString &key, const QString &salt);

private:
    // Removes the guard segment when nobody is attached to it.
    void removeLeftover();

    const QString key;
    const QString memLockKey;
    const QString sharedmemKey;
    QSharedMemory sharedMem;
    QSystemSemaphore memLock;
};
