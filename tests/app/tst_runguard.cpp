// The single-instance guard in one process, with a helper process that leaves
// a segment behind as a crashed instance would.
#include "runguard.h"
#include "testpaths.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSharedMemory>
#include <QtTest>

#include <memory>

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

bool leaveSegmentBehind(const QString &key, int size)
{
    QProcess helper;
    helper.start(TestPaths::executable(QStringLiteral("app_segmenthelper")), {key, QString::number(size)});
    return helper.waitForFinished(10000) && helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0;
}

} // namespace

class TestRunGuard : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { removeSegment(RunGuard::generateKeyHash(uniqueKey(), QStringLiteral("_sharedmemKey"))); }

    void keyHash_isLowerHexSha1OfUtf8KeyAndSalt_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("salt");
        QTest::addColumn<QString>("expected");
        // The names every Tessora build must agree on.
        QTest::newRow("lock key") << "Tessora"
                                  << "_memLockKey"
                                  << "0f57923ec549667d1d88c9f8180c3f506279976a";
        QTest::newRow("segment key") << "Tessora"
                                     << "_sharedmemKey"
                                     << "ccc8883e591099a78b4c7a6832b506f7b281a4a4";
        // Hashed as UTF-8 bytes, not Latin-1 or UTF-16.
        QTest::newRow("non-ASCII key") << QStringLiteral("T\u00ebssora") << "_memLockKey"
                                       << "19816768ee124524c6cbb1d264a7932df7f67bcb";
    }

    void keyHash_isLowerHexSha1OfUtf8KeyAndSalt()
    {
        QFETCH(QString, key);
        QFETCH(QString, salt);
        QFETCH(QString, expected);
        QCOMPARE(RunGuard::generateKeyHash(key, salt), expected);
    }

    void tryToRun_holdsTheSegmentOnTheDerivedKey()
    {
        RunGuard guard(uniqueKey());
        QVERIFY(guard.tryToRun());

        QSharedMemory probe(RunGuard::generateKeyHash(uniqueKey(), QStringLiteral("_sharedmemKey")));
        QVERIFY2(probe.attach(QSharedMemory::ReadOnly), qPrintable(probe.errorString()));
        QCOMPARE(probe.size(), RunGuard::segmentSize);
        probe.detach();

        guard.release();
        QVERIFY(!probe.attach(QSharedMemory::ReadOnly));
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
};

QTEST_GUILESS_MAIN(TestRunGuard)
#include "tst_runguard.moc"
