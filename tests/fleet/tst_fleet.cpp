// Twenty printers on one desktop: the printers (FleetPrinter) run in this process, the
// desktop's Server in fleet-desktop, all on loopback. One run is shared by the checks
// below; the heartbeat timings are scaled down so that a silent printer is dropped in
// seconds instead of fifteen. The run checks itself as it goes (handshakes, nicknames,
// statuses, progress per serial, jobs, pauses, cancels, drops, survivors, the desktop's
// clean end): every check of it must hold (those of a rejoin that came too late aside),
// and its figures must show that each phase did what it meant to.
#include "fleetrun.h"
#include "testpaths.h"

#include <QtTest>

class TestFleet : public QObject
{
    Q_OBJECT

private:
    FleetResult m_result;

private slots:
    void initTestCase()
    {
        FleetOptions options;
        options.printers = 20;
        options.jobPrinters = 4;
        options.jobLayers = 30;
        options.layerIntervalMs = 50;
        options.timeScale = 0.3; // heartbeat every 600 ms, time-out after 4.5 s
        options.loadMs = 8000;
        options.afterKillMs = 2000;
        options.rejoiners = 1;
        options.desktopProgram = TestPaths::executable(QStringLiteral("fleet-desktop"));
        options.note = [](const QString &text) { qInfo("%s", qPrintable(text)); };
        m_result = runFleet(options);
        qInfo("\n%s", qPrintable(m_result.summary()));
    }

    void everyCheckHeld()
    {
        QVERIFY(m_result.checks > 100);
        QVERIFY2(m_result.problems.isEmpty(), qPrintable(m_result.problems.join(QLatin1Char('\n'))));
        // No heartbeat ran out under the load, on either side.
        QCOMPARE(m_result.desktopTimeouts + m_result.printerTimeouts + m_result.lostPrinters, 0);
    }

    // Every phase did its work, so that the checks above are not vacuous.
    void everyPhaseRan()
    {
        QCOMPARE(m_result.connected, 20);
        QVERIFY(m_result.progressSent > 1000);
        QVERIFY(m_result.heartbeatsFromDesktop > 0 && m_result.heartbeatsToDesktop > 0);
        QCOMPARE(m_result.jobsSent, 4);
        QCOMPARE(m_result.pausesSent, 2);
        QCOMPARE(m_result.cancelsSent, 1);
        QCOMPARE(m_result.killed.size(), 3);
        QCOMPARE(m_result.killedSilent, 1);
        QVERIFY(m_result.progressSentAfterKill > 0);
    }

    // A printer loses its power and comes back, with its serial, before the desktop has
    // timed out its old connection; the user then prints on it.
    void rejoin_printerStaysShownAndGetsItsJob()
    {
        QCOMPARE(m_result.rejoined.size(), 1);
        QCOMPARE(m_result.rejoinHandshakes, 1);
        const QStringList held = m_result.rejoinProblems.filter(QStringLiteral("devices of it"));
        QVERIFY2(held.isEmpty(), qPrintable(held.join(QLatin1Char('\n'))));
        if (m_result.rejoinWindowMissed > 0)
            QSKIP("the old connection had timed out before the printer came back: nothing to check");
        QVERIFY2(m_result.shownGoneWhileConnected.isEmpty(), qPrintable(m_result.shownGoneWhileConnected.join(' ')));
        QVERIFY2(m_result.rejoinJobsLost.isEmpty(), qPrintable(m_result.rejoinJobsLost.join(' ')));
    }
};

QTEST_GUILESS_MAIN(TestFleet)
#include "tst_fleet.moc"
