#include "printererrorwatchdog.h"

#include "basiclogging.h"
#include "timescale.h"

#include <QDebug>
#include <QTimer>

// The three periods are single-shot member timers that are restarted, never
// stacked. With one timer per request, a timer armed for an earlier tilt cycle
// (or an earlier projector watch) would still fire later and look at the flags
// of the cycle or watch in progress then, raising a false TiltCycleTimedOut (or ending a
// grace period early). Restarting keeps exactly one pending check per watch.
PrinterErrorWatchdog::PrinterErrorWatchdog(QObject *parent)
    : QObject(parent)
    , m_graceTimer(new QTimer(this))
    , m_checkTimer(new QTimer(this))
    , m_cycleTimer(new QTimer(this))
{
    for (QTimer *timer : {m_graceTimer, m_checkTimer, m_cycleTimer})
        timer->setSingleShot(true);
    connect(m_graceTimer, &QTimer::timeout, this, &PrinterErrorWatchdog::expectProjectorTurnOnAfterDelay);
    connect(m_checkTimer, &QTimer::timeout, this, &PrinterErrorWatchdog::wasProjectorOnReceived_timeout);
    connect(m_cycleTimer, &QTimer::timeout, this, &PrinterErrorWatchdog::wasTiltCycleCompleted_timeout);
}

void PrinterErrorWatchdog::raise(PrinterErrors::Code code, const QString &methodAndText)
{
    logLine(QStringLiteral("ERROR %1 PrinterErrorWatchdog::").arg(int(code)) + methodAndText);
    emit printerErrorOccured(code);
}

// ---- Projector watch -------------------------------------------------------

void PrinterErrorWatchdog::turnOnProjector()
{
    m_projectorShouldBeOn = true;
    m_projectorAnswerSeen = false;
    m_projectorWatchActive = false;
    // A new watch: a check of the previous one must not run inside this grace.
    m_checkTimer->stop();
    m_graceTimer->start(TimeScale::ms(projectorGracePeriod * 1000.0));
}

void PrinterErrorWatchdog::expectProjectorTurnOnAfterDelay()
{
    m_projectorWatchActive = true;
    m_checkTimer->start(TimeScale::ms(projectorCheckPeriod * 1000.0));
}

void PrinterErrorWatchdog::dataReceived_projectorOn()
{
    m_projectorAnswerSeen = true;
}

void PrinterErrorWatchdog::wasProjectorOnReceived_timeout()
{
    if (!m_projectorShouldBeOn)
        return;
    m_projectorWatchActive = true;
    if (m_projectorAnswerSeen) {
        m_projectorAnswerSeen = false;
        m_checkTimer->start(TimeScale::ms(projectorCheckPeriod * 1000.0));
        return;
    }
    raise(PrinterErrors::LampNotConfirmed, QStringLiteral("wasProjectorOnReceived. Projector response timed out"));
}

void PrinterErrorWatchdog::dataReceived_projectorOff()
{
    if (m_projectorWatchActive && m_projectorShouldBeOn)
        raise(PrinterErrors::LampTurnedOff,
            QStringLiteral("dataReceived_projectorOff. Received P0 when the projector was supposed to be on."));
}

void PrinterErrorWatchdog::turnOffProjector()
{
    m_projectorShouldBeOn = false;
    m_projectorWatchActive = false;
    m_graceTimer->stop();
    m_checkTimer->stop();
}

void PrinterErrorWatchdog::finishPrint() { }

// ---- Cycle watch -----------------------------------------------------------

void PrinterErrorWatchdog::startTiltCycleTimer()
{
    qDebug() << "PrinterErrorWatchdog::startTiltCycleTimer.";
    m_cycleExpected = true;
    m_cycleTimer->start(TimeScale::ms(cycleTimeout * 1000.0));
}

void PrinterErrorWatchdog::dataReceived_printCycleCompleted()
{
    qDebug() << "PrinterErrorWatchdog::dataReceived_printCycleCompleted";
    m_cycleExpected = false;
    m_cycleTimer->stop();
}

void PrinterErrorWatchdog::wasTiltCycleCompleted_timeout()
{
    qDebug().noquote() << QStringLiteral("PrinterErrorWatchdog::wasTiltCycleCompleted_timeout: ")
            + (m_cycleExpected ? QStringLiteral("true") : QStringLiteral("false"));
    if (m_cycleExpected)
        raise(PrinterErrors::TiltCycleTimedOut,
            QStringLiteral("wasTiltCycleCompleted_timeout. Tilt cycle didn't complete after seconds: ")
                + QString::number(cycleTimeout));
}

// ---- Link and display ------------------------------------------------------

void PrinterErrorWatchdog::usbConnectionClosed()
{
    // No cycle completes without the board: the print ends, so no TiltCycleTimedOut follows.
    m_cycleExpected = false;
    m_cycleTimer->stop();
    raise(PrinterErrors::BoardLost, QStringLiteral("usbConnectionClosed. USB connection lost."));
}

void PrinterErrorWatchdog::printAbandoned()
{
    m_cycleExpected = false;
    m_cycleTimer->stop();
    turnOffProjector();
}

void PrinterErrorWatchdog::numScreensChanged(int count)
{
    // The projector is the printer's only screen.
    if (count != 1)
        raise(PrinterErrors::DisplayChanged,
            QStringLiteral("numScreensChanged. Curnumscreens: ") + QString::number(count));
}
