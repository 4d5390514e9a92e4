// The file hand-off in one process: writer, listener and receiver on a key of
// this test run.
#include "filehandoffreceiver.h"
#include "handoffsegment.h"
#include "logcapture.h"
#include "sharedmemorylistener.h"
#include "sharedmemorywriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSharedMemory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstring>

namespace {

QString uniqueKey()
{
    return QStringLiteral("TessoraHandOffTest-%1").arg(QCoreApplication::applicationPid());
}

QByteArray contentOf(QSharedMemory &segment)
{
    segment.lock();
    const QByteArray content(static_cast<const char *>(segment.constData()), segment.size());
    segment.unlock();
    return content;
}

bool segmentExists(const QString &key)
{
    QSharedMemory probe(key);
    if (!probe.attach())
        return false;
    probe.detach(); // nobody else attached: this also removes it
    return true;
}

} // namespace

class TestFileHandOff : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        segmentExists(uniqueKey()); // removes a segment a failed test left behind
    }

    void segmentContent_readMarkAndPath_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("markedAsRead");
        QTest::addColumn<bool>("unwritten");
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << QByteArray() << true << false << QString();
        QTest::newRow("all marks") << QByteArray("*****") << true << false << "*****";
        QTest::newRow("path") << QByteArray("/a/b.ssj") << false << false << "/a/b.ssj";
        QTest::newRow("path then marks") << QByteArray("a***") << false << false << "a***";
        QTest::newRow("fresh segment") << QByteArray(6, '\0') << false << true << QString();
        // A segment rounded up to whole pages: the path ends at the first zero byte.
        QTest::newRow("page padding") << QByteArray("C:/jobs/a.ssj\0\0\0\0", 17) << false << false << "C:/jobs/a.ssj";
        QTest::newRow("Latin-1 byte") << QByteArray("/r\xe9sum\xe9.stl") << false << false
                                      << QStringLiteral("/r\u00e9sum\u00e9.stl");
    }

    void segmentContent_readMarkAndPath()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, markedAsRead);
        QFETCH(bool, unwritten);
        QFETCH(QString, path);
        QCOMPARE(HandOffSegment::isMarkedAsRead(content), markedAsRead);
        QCOMPARE(HandOffSegment::isUnwritten(content), unwritten);
        QCOMPARE(HandOffSegment::pathOf(content), path);
    }

    // Paths from one writer, each taken once: exactly its bytes in the segment, Latin-1
    // letters unchanged, a relative path of an existing file made absolute; a path outside
    // Latin-1 refused.
    void writtenPaths_areEachTakenOnceAndMarkedAsRead()
    {
        QTemporaryDir dir;
        QVERIFY(QFile(dir.filePath(QStringLiteral("part.stl"))).open(QIODevice::WriteOnly));
        SharedMemoryWriter writer(uniqueKey());
        SharedMemoryListener listener(uniqueKey());
        QSignalSpy added(&listener, &SharedMemoryListener::fileAddedToSharedMemory);

        QVERIFY(writer.writeFilePathToSharedMemory(QStringLiteral("/jobs/part.ssj")));
        {
            // Exactly the path's bytes, no terminator.
            QSharedMemory view(uniqueKey());
            QVERIFY(view.attach(QSharedMemory::ReadOnly));
            QCOMPARE(contentOf(view), QByteArray("/jobs/part.ssj"));
        }
        listener.checkSharedMemory();
        // The writer still holds the segment, now all marks: a second poll takes nothing.
        listener.checkSharedMemory();
        QCOMPARE(added.count(), 1);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(writer.isMemoryMarkedAsRead());
        QVERIFY(clock.elapsed() < 1000);

        // A shorter path than the first (the new segment has the new path's size), a relative
        // one naming a file, and a relative text that names no file (a URL, say).
        const QString latin1 = QStringLiteral("/d\u00e9j\u00e0 \u00bd.obj");
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        for (const QString &path : {latin1, QStringLiteral("part.stl"), QStringLiteral("file:///C:/jobs/a.ssj")}) {
            QVERIFY(writer.writeFilePathToSharedMemory(path));
            listener.checkSharedMemory();
            QVERIFY(writer.isMemoryMarkedAsRead());
        }
        QDir::setCurrent(previous);
        // Latin-1 would turn these characters into '?' and name another file: refused.
        QVERIFY(!writer.writeFilePathToSharedMemory(QStringLiteral("/home/user/\u6a21\u578b.stl")));
        listener.checkSharedMemory();
        QStringList taken;
        for (const QList<QVariant> &signal : qAsConst(added))
            taken << signal.at(0).toString();
        QCOMPARE(taken,
            QStringList({QStringLiteral("/jobs/part.ssj"), latin1,
                QFileInfo(dir.filePath(QStringLiteral("part.stl"))).absoluteFilePath(),
                QStringLiteral("file:///C:/jobs/a.ssj")}));
    }

    void listener_takesOnlyAWrittenPath_blanksAreConsumed()
    {
        // A writer has created the segment (all zero bytes) but not yet copied the path in.
        // Taking it now would lose the path and mark it read too early.
        QSharedMemory segment(uniqueKey());
        QVERIFY(segment.create(6));
        const auto write = [&segment](const char *bytes) {
            segment.lock();
            std::memcpy(segment.data(), bytes, 6);
            segment.unlock();
        };
        SharedMemoryListener listener(uniqueKey());
        QSignalSpy added(&listener, &SharedMemoryListener::fileAddedToSharedMemory);
        listener.checkSharedMemory();
        QCOMPARE(added.count(), 0);
        QCOMPARE(contentOf(segment), QByteArray(6, '\0'));
        // Blanks are taken but name no file.
        write("      ");
        listener.checkSharedMemory();
        QCOMPARE(added.count(), 0);
        QCOMPARE(contentOf(segment), QByteArray("******"));
        write("/a.stl");
        listener.checkSharedMemory();
        QCOMPARE(added.count(), 1);
        QCOMPARE(added.at(0).at(0).toString(), QStringLiteral("/a.stl"));
        QCOMPARE(contentOf(segment), QByteArray("******"));
    }

    // Two starts at once (the shell opens two files): the second writer finds the first
    // one's segment and waits for the running instance to take it; within its limit only.
    void occupiedSegment_writerWaitsUntilItIsTaken_givesUpAfterTheLimit()
    {
        SharedMemoryWriter first(uniqueKey());
        QVERIFY(first.writeFilePathToSharedMemory(QStringLiteral("/jobs/first.ssj")));

        SharedMemoryWriter second(uniqueKey());
        second.setTimeoutMs(300);
        LogCapture log;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!second.writeFilePathToSharedMemory(QStringLiteral("/jobs/second.ssj")));
        QVERIFY(clock.elapsed() >= 300);
        QVERIFY(clock.elapsed() < 3000);
        // Nothing of its own to wait for: the wait ends at once.
        clock.restart();
        QVERIFY(second.isMemoryMarkedAsRead());
        QVERIFY(clock.elapsed() < 1000);

        // The running instance takes the first start's path, untouched, a little later.
        QString takenFirst;
        QThread *runningInstance = QThread::create([&] {
            QThread::msleep(300);
            SharedMemoryListener listener(uniqueKey());
            QObject::connect(&listener, &SharedMemoryListener::fileAddedToSharedMemory,
                [&](const QString &filePath) { takenFirst = filePath; });
            listener.checkSharedMemory();
            first.isMemoryMarkedAsRead(); // the first start lets go of its segment
        });
        runningInstance->start();
        second.setTimeoutMs(5000);
        clock.restart();
        const bool written = second.writeFilePathToSharedMemory(QStringLiteral("/jobs/second.ssj"));
        const qint64 waited = clock.elapsed();
        QVERIFY(runningInstance->wait(10000));
        delete runningInstance;
        QVERIFY(written);
        QVERIFY(waited >= 250);
        QCOMPARE(takenFirst, QStringLiteral("/jobs/first.ssj"));

        SharedMemoryListener listener(uniqueKey());
        QSignalSpy added(&listener, &SharedMemoryListener::fileAddedToSharedMemory);
        listener.checkSharedMemory();
        QCOMPARE(added.count(), 1);
        QCOMPARE(added.at(0).at(0).toString(), QStringLiteral("/jobs/second.ssj"));
    }

    void pathNeverRead_writerGivesUpAfterTheLimitAndLetsGo()
    {
        // The running instance died or stopped reading: the second start must end.
        SharedMemoryWriter writer(uniqueKey());
        writer.setTimeoutMs(400);
        QVERIFY(writer.writeFilePathToSharedMemory(QStringLiteral("/jobs/lost.ssj")));

        LogCapture log;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!writer.isMemoryMarkedAsRead());
        QVERIFY(clock.elapsed() >= 400);
        QVERIFY(clock.elapsed() < 3000);

        // The segment went with it: a later start can hand over its own path.
        QVERIFY(!segmentExists(uniqueKey()));
    }

    void receiver_routesByExtension_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("printJob");
        QTest::newRow("ssj") << "/jobs/a.ssj" << true;
        QTest::newRow("SSJ upper case") << "C:/Jobs/A.SSJ" << true;
        QTest::newRow("stl") << "/models/a.stl" << false;
        QTest::newRow("ssj before another extension") << "/jobs/a.ssj.stl" << false;
        QTest::newRow("ssj without a dot") << "/jobs/assj" << false;
        QTest::newRow("shorter than four") << "ssj" << false;
    }

    void receiver_routesByExtension()
    {
        QFETCH(QString, path);
        QFETCH(bool, printJob);
        FileHandOffReceiver receiver(uniqueKey());
        QSignalSpy viewer(&receiver, &FileHandOffReceiver::loadSSJToViewer);
        QSignalSpy models(&receiver, &FileHandOffReceiver::addModels);

        receiver.openFileFromSharedMemory(path);
        QCOMPARE(viewer.count(), printJob ? 1 : 0);
        QCOMPARE(models.count(), printJob ? 0 : 1);
        if (printJob)
            QCOMPARE(viewer.at(0).at(0).toString(), path);
        else
            QCOMPARE(models.at(0).at(0).toStringList(), QStringList {path});
    }
};

QTEST_GUILESS_MAIN(TestFileHandOff)
#include "tst_filehandoff.moc"
