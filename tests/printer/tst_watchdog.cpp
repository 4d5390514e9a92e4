// The error watchdog: one hardware condition per test, the numbered error (or
// none) as outcome, timings checked in scaled time.

#include "printererrorwatchdog.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

// With the factor 0.02: grace 300 ms, check period 400 ms, cycle timeout 1200 ms.
const double factor = 0.02;
const int graceMs = 300;
const int checkMs = 400;
const int cycleMs = 1200;
// Timers may fire a little early (coarse timers) and late (a loaded machine
// running sanitizers).
const int lateSlackMs = 1500;

QList<int> codes(const QSignalSpy &spy)
{
    QList<int> result;
    for (const QList<QVariant> &arguments : spy)
        result.append(arguments.at(0).toInt());
    return result;
}

} // namespace

class WatchdogTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    // Projector watch.
    void projectorConfirmedEvery10s_raisesNothing_thenSilenceRaises204Once();
    void lampOffReport_withinGrace_isNoError_afterGrace_raises205Each();
    void turnOnAgain_startsAFreshGrace();

    // Cycle watch.
    void cycleNotCompleted_raises201AfterTimeout();
    void repeatedArmingWhileCyclesComplete_neverRaises201();

    // Link and display.
    void usbConnectionClosed_raises202EachTime_screenCountOtherThanOneRaises203();
};

void WatchdogTest::init()
{
    TimeScale::setFactor(factor);
}

// ---- Projector watch -------------------------------------------------------

void WatchdogTest::projectorConfirmedEvery10s_raisesNothing_thenSilenceRaises204Once()
{
    PrinterErrorWatchdog dog;
    QSignalSpy errors(&dog, &PrinterErrorWatchdog::printerErrorOccured);
    QTimer lamp; // the board repeating "P1" every 10 s
    connect(&lamp, &QTimer::timeout, &dog, &PrinterErrorWatchdog::dataReceived_projectorOn);

    dog.turnOnProjector();
    lamp.start(TimeScale::ms(10000));
    QTest::qWait(graceMs + 4 * checkMs);
    QCOMPARE(codes(errors), QList<int> {});
    QVERIFY(dog.projectorWatchActive());

    // The board stops confirming: the watch was running all along.
    lamp.stop();
    QTRY_COMPARE_WITH_TIMEOUT(codes(errors), QList<int> {PrinterErrors::LampNotConfirmed}, 2 * checkMs + lateSlackMs);

    // No further checks after the first 204.
    QTest::qWait(3 * checkMs);
    QCOMPARE(codes(errors), QList<int> {PrinterErrors::LampNotConfirmed});
}

void WatchdogTest::lampOffReport_withinGrace_isNoError_afterGrace_raises205Each()
{
    PrinterErrorWatchdog dog;
    QSignalSpy errors(&dog, &PrinterErrorWatchdog::printerErrorOccured);

    dog.turnOnProjector();
    dog.dataReceived_projectorOn();
    dog.dataReceived_projectorOff(); // the lamp is still starting
    QTest::qWait(graceMs / 2);
    dog.dataReceived_projectorOff();
    QCOMPARE(codes(errors), QList<int> {});
    QVERIFY(!dog.projectorWatchActive());

    QTRY_VERIFY_WITH_TIMEOUT(dog.projectorWatchActive(), graceMs + lateSlackMs);
    dog.dataReceived_projectorOff();
    dog.dataReceived_projectorOff();
    QCOMPARE(codes(errors), (QList<int> {PrinterErrors::LampTurnedOff, PrinterErrors::LampTurnedOff}));
}

void WatchdogTest::turnOnAgain_startsAFreshGrace()
{
    // Wider periods here: the test tells apart timers a fraction of a period apart.
    TimeScale::setFactor(0.05);
    const int grace = 750;
    const int check = 1000;
    PrinterErrorWatchdog dog;
    QSignalSpy errors(&dog, &PrinterErrorWatchdog::printerErrorOccured);

    dog.turnOnProjector();
    QTest::qWait(grace * 7 / 10);
    dog.turnOffProjector();
    dog.turnOnProjector();
    // Past the end of the first grace period, inside the second one: a timer
    // left over from the first switch-on must not start the watch early.
    QTest::qWait(grace * 7 / 10);
    QVERIFY(!dog.projectorWatchActive());
    dog.dataReceived_projectorOff();
    QCOMPARE(codes(errors), QList<int> {});

    // Likewise once a check period runs: switching on again starts a new grace
    // instead of letting the old check run.
    dog.dataReceived_projectorOn();
    QTRY_VERIFY_WITH_TIMEOUT(dog.projectorWatchActive(), grace + lateSlackMs);
    QTest::qWait(check / 2);
    dog.turnOnProjector(); // no "P1" since: the old check would raise 204 after half a period
    QTest::qWait(check * 3 / 4);
    QCOMPARE(codes(errors), QList<int> {});
}

// ---- Cycle watch -----------------------------------------------------------

void WatchdogTest::cycleNotCompleted_raises201AfterTimeout()
{
    PrinterErrorWatchdog dog;
    QSignalSpy errors(&dog, &PrinterErrorWatchdog::printerErrorOccured);

    QElapsedTimer clock;
    clock.start();
    dog.startTiltCycleTimer();
    QVERIFY(dog.cycleExpected());
    QTRY_VERIFY_WITH_TIMEOUT(errors.count() > 0, cycleMs + lateSlackMs);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(codes(errors), QList<int> {PrinterErrors::TiltCycleTimedOut});
    QVERIFY2(elapsed >= cycleMs * 9 / 10, qPrintable(QString::number(elapsed)));

    QTest::qWait(cycleMs / 2);
    QCOMPARE(codes(errors), QList<int> {PrinterErrors::TiltCycleTimedOut}); // one timeout, one error
}

void WatchdogTest::repeatedArmingWhileCyclesComplete_neverRaises201()
{
    PrinterErrorWatchdog dog;
    QSignalSpy errors(&dog, &PrinterErrorWatchdog::printerErrorOccured);

    // Each cycle takes half the timeout and the next move follows shortly
    // after, over several timeouts: at every earlier cycle's deadline a later
    // cycle is in progress.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3 * cycleMs) {
        dog.startTiltCycleTimer();
        QTest::qWait(cycleMs / 2);
        dog.dataReceived_printCycleCompleted();
        QVERIFY(!dog.cycleExpected());
        QTest::qWait(cycleMs / 20);
    }
    QTest::qWait(cycleMs + cycleMs / 4);
    QCOMPARE(codes(errors), QList<int> {});
}

// ---- Link and display ------------------------------------------------------

void WatchdogTest::usbConnectionClosed_raises202EachTime_screenCountOtherThanOneRaises203()
{
    PrinterErrorWatchdog dog;
    QSignalSpy errors(&dog, &PrinterErrorWatchdog::printerErrorOccured);

    dog.usbConnectionClosed();
    dog.usbConnectionClosed();
    QCOMPARE(codes(errors), (QList<int> {PrinterErrors::BoardLost, PrinterErrors::BoardLost}));

    // The projector is the only screen: a second one, or none, is an error.
    dog.numScreensChanged(2);
    dog.numScreensChanged(1);
    dog.numScreensChanged(0);
    QCOMPARE(codes(errors),
        (QList<int> {PrinterErrors::BoardLost, PrinterErrors::BoardLost, PrinterErrors::DisplayChanged,
            PrinterErrors::DisplayChanged}));
}

QTEST_GUILESS_MAIN(WatchdogTest)
#include "tst_watchdog.moc"
