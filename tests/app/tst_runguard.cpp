// The single-instance guard in one process, with a child process that leaves a
// segment behind as a crashed instance would.
#include "runguard.h"

#include <QCoreApplication>
#include <QSharedMemory>
#include <QtTest>

#include <memory>

#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A key of this test run only: the guard's names are global on the machine.
QString uniqueKey()
{
    return QStringLiteral("TessoraRunGuardTest-%1").arg(QCoreApplication::applicationPid());
}

// Removes a leftover segment of that Qt key, if there is one.
void removeSegment(const QString &key)
{
    QSharedMemory segment(key);
    if (segment.attach())
        segment.detach();
}

// A child process creates the segment and ends without letting go of it (no
// destructors, no detach), as a crashed instance does.
bool leaveSegmentBehind(const QString &key, int size)
{
    const pid_t child = fork();
    if (child == 0) {
        auto *segment = new QSharedMemory(key);
        _exit(segment->create(size) ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

class TestRunGuard : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { removeSegment(RunGuard::generateKeyHash(uniqueKey(), QStringLiteral("_sharedmemKey"))); }

    // The names every Tessora build must agree on.
    void keyHash_namesOfEveryBuild()
    {
        QCOMPARE(RunGuard::generateKeyHash(QStringLiteral("Tessora"), QStringLiteral("_memLockKey")),
            QStringLiteral("0f57923ec549667d1d88c9f8180c3f506279976a"));
        QCOMPARE(RunGuard::generateKeyHash(QStringLiteral("Tessora"), QStringLiteral("_sharedmemKey")),
            QStringLiteral("ccc8883e591099a78b4c7a6832b506f7b281a4a4"));
    }

    void secondGuard_runsOnlyWhenTheFirstLetGo_data()
    {
        QTest::addColumn<QString>("first"); // what the first guard did after it ran
        QTest::addColumn<bool>("otherKey"); // of the later guards
        QTest::addColumn<bool>("runs");
        QTest::newRow("first still running") << QString() << false << false;
        QTest::newRow("first asked twice") << QStringLiteral("again") << false << false;
        QTest::newRow("first released") << QStringLiteral("release") << false << true;
        QTest::newRow("first destroyed") << QStringLiteral("destroy") << false << true;
        QTest::newRow("other key") << QString() << true << true;
    }

    void secondGuard_runsOnlyWhenTheFirstLetGo()
    {
        QFETCH(QString, first);
        QFETCH(bool, otherKey);
        const QString key = uniqueKey() + (otherKey ? QStringLiteral("-other") : QString());
        QFETCH(bool, runs);
        auto guard = std::make_unique<RunGuard>(uniqueKey());
        QVERIFY(guard->tryToRun());
        if (first == QLatin1String("again"))
            QVERIFY(guard->tryToRun());
        else if (first == QLatin1String("release"))
            guard->release();
        else if (first == QLatin1String("destroy"))
            guard.reset();
        // The second guard's constructor clears leftovers: it must not take a live
        // instance's segment with them.
        RunGuard second(key);
        QCOMPARE(second.tryToRun(), runs);
        QCOMPARE(second.tryToRun(), runs);
        // Whichever runs holds the guard against a third start.
        RunGuard third(key);
        QVERIFY(!third.tryToRun());
    }

    void leftoverSegmentOfCrashedInstance_doesNotBlockStart()
    {
        const QString segmentKey = RunGuard::generateKeyHash(uniqueKey(), QStringLiteral("_sharedmemKey"));

        // The helper really leaves a segment behind: it can be attached after the
        // helper has gone (attaching and letting go removes it again).
        QVERIFY(leaveSegmentBehind(segmentKey, RunGuard::segmentSize));
        {
            QSharedMemory probe(segmentKey);
            QVERIFY2(probe.attach(), "the helper left no segment behind");
        }

        QVERIFY(leaveSegmentBehind(segmentKey, RunGuard::segmentSize));
        RunGuard guard(uniqueKey());
        QVERIFY(guard.tryToRun());
        RunGuard second(uniqueKey());
        QVERIFY(!second.tryToRun());
    }

    // Segments other programs left whose key files are gone: the system key is the
    // file's inode, which the file system hands on to new files, the guard's among them.
    void leftoverUnderAReusedInode_doesNotBlockStart()
    {
        const QString keyFile = QSharedMemory(RunGuard::generateKeyHash(uniqueKey(), QStringLiteral("_sharedmemKey"))).nativeKey();
        const QStringList gone = {keyFile + "0", keyFile + "1", keyFile + "2", keyFile + "3"};
        QMap<ino_t, int> segments; // by the inode of their key file
        for (const QString &name : gone) {
            struct stat file {};
            QVERIFY(QFile(name).open(QIODevice::WriteOnly) && stat(QFile::encodeName(name), &file) == 0);
            QVERIFY((segments[file.st_ino] = shmget(ftok(QFile::encodeName(name), 'Q'), 8, 0600 | IPC_CREAT | IPC_EXCL)) != -1);
        }
        for (const QString &file : gone)
            QFile::remove(file);
        RunGuard guard(uniqueKey());
        const bool runs = guard.tryToRun();
        struct stat file {};
        const bool reused = stat(QFile::encodeName(keyFile), &file) == 0 && segments.contains(file.st_ino);
        for (int id : qAsConst(segments))
            shmctl(id, IPC_RMID, nullptr);
        if (!reused)
            QSKIP("this file system gave the key file a new inode");
        QVERIFY(runs);
    }
};

QTEST_GUILESS_MAIN(TestRunGuard)
#include "tst_runguard.moc"
