#pragma once

#include "printererrors.h"

#include <QObject>

class QTimer;

// Watches the hardware during work and reports trouble as numbered errors
// (PrinterErrors::Code):
//   TiltCycleTimedOut a started tilt cycle was not reported done within 60 s;
//   BoardLost         the serial link to the board reported an error;
//   DisplayChanged    the number of screens changed to anything but 1;
//   LampNotConfirmed  the projector should be on but no "P1" arrived during a 20 s
//                     check (the first check starts 15 s after switching on);
//   LampTurnedOff     the board reported "P0" while the projector should be on and
//                     watched.
// Each is logged as "ERROR <number> PrinterErrorWatchdog::<method>. <text>".
// It only reports (printerErrorOccured); it never stops a print itself.
// Lives on a thread of its own; every period is scaled by TimeScale.
class PrinterErrorWatchdog : public QObject
{
    Q_OBJECT

public:
    explicit PrinterErrorWatchdog(QObject *parent = nullptr);

    bool projectorShouldBeOn() const { return m_projectorShouldBeOn; }
    bool cycleExpected() const { return m_cycleExpected; }
    bool projectorWatchActive() const { return m_projectorWatchActive; }

    static constexpr double projectorGracePeriod = 15.0; // seconds
    static constexpr double projectorCheckPeriod = 20.0; // seconds
    static constexpr double cycleTimeout = 60.0; // seconds

public slots:
    void turnOnProjector();
    void turnOffProjector();
    void finishPrint();
    void startTiltCycleTimer();
    void dataReceived_printCycleCompleted();
    void dataReceived_projectorOn();
    void dataReceived_projectorOff();
    void usbConnectionClosed();
    void numScreensChanged(int count);
    // A print given up midway (its runner stopped it on an error of its own): no cycle and
    // no lamp is expected any more, so none of its watches reports later.
    void printAbandoned();

    void expectProjectorTurnOnAfterDelay();
    void wasProjectorOnReceived_timeout();
    void wasTiltCycleCompleted_timeout();

signals:
    void printerErrorOccured(int code);

private:
    void raise(PrinterErrors::Code code, const QString &methodAndText);

    bool m_projectorShouldBeOn = false;
    bool m_cycleExpected = false;
    bool m_projectorAnswerSeen = false;
    bool m_projectorWatchActive = false;
    QTimer *m_graceTimer = nullptr;
    QTimer *m_checkTimer = nullptr;
    QTimer *m_cycleTimer = nullptr;
};
