#pragma once

#include "printtime.h"

#include <QImage>
#include <QObject>

#include <atomic>

class PrintJob;
class SSJ;

// Runs one print, layer by layer, on a thread of its own.
//
// The cycle of a layer: its image is projected for the exposure time, the
// image goes black, the board tilts the vat and raises the platform by one
// layer ("N<height>"), and its cycle-done answer starts the next layer. Before
// the first layer the board is reset and homed, then the lamp comes on half-way
// through a five-second wait. Everything is driven by signals and single-shot
// timers (scaled by TimeScale), never by a loop.
//
// Heights are in board units of 10 micrometres.
//
// Pause and resume requests are answered from here, where the status is current: each
// accepted one is confirmed once its movement is done (pauseConfirmed(),
// resumeConfirmed()), in the order the requests came, and the others are refused
// (requestRefused()).
class PrintingThread : public QObject
{
    Q_OBJECT

public:
    enum Status {
        Printing = 0,
        Paused = 1,
        PausedAfterReset = 2,
        Cancelled = 3,
        Finished = 4,
        Idle = 5,
    };

    explicit PrintingThread(QObject *parent = nullptr);

    // Read directly by the session from another thread.
    int status() const { return m_status.load(); }
    // Emits statusChanged() when the status changes.
    void setStatus(int status);

    int currentLayer() const { return m_currentLayer; }
    int height() const { return m_height; }
    int totalLayers() const { return m_totalLayers; }
    int percentDone() const { return m_percentDone; }
    int remainingMinutes() const { return m_remainingMinutes; }
    double cureTime() const { return m_cureTime; }

    // Printer settings "enableResinSettleTime" and "resinSettleTime" (microseconds).
    void setResinSettle(bool enabled, int microseconds);

    static constexpr int firstLayerDelay = LayerCycle::firstLayerDelaySeconds;

    // Printer time in whole minutes: exposures plus 10 s of movement per layer,
    // the fine-tune factor clamped as for printing.
    static int getTotalPrintTime(const PrintJob *job);
    // Exposure factor of an adhesion layer: 1, 0.75, 0.5, 0.25 by groups of three.
    static double adhesionFactor(int layer) { return LayerCycle::adhesionFactor(layer); }

public slots:
    // The board's G parameter number for the next print: where its layers start, taken
    // once at the start of each print. Queue it to this thread before runJob().
    void setGParameter(int g) { m_gParameter = g; }
    void runJob(PrintJob *job, SSJ *ssj);
    void pausePrint();
    void resumePrint();
    void cancelPrint();
    // The board's link was lost mid-print: the print cannot go on (the board homes itself
    // when it is back, and its lamp is off), so it ends here without a finish movement and
    // the printer is ready for the next job.
    void abortPrint();
    void doneWithReset();
    void doneWithTiltCycle();
    void doneWithGMovement(const QString &answer);
    void doneWithResumeMovement();
    // The board's answer to a pause ("Pause1") and to a finish movement ("F").
    void doneWithPauseMovement();
    void doneWithFinishMovement();
    void startNextTiltCycle();
    void sendProjectorOn();
    void printImagesAfterReset();
    int getRemainingPrintTime();

signals:
    void projectImageFromPO(QImage image);
    bool sendResetPrinter();
    void sendSetPrinterBaselineToCurrentPosition();
    void sendMovePrinterToLayer(int height);
    void sendGCommandToLayer(int height);
    void sendFinishPrint();
    void sendTurnOnProjector();
    void pauseInTerminal();
    void pauseInTerminalBeforeReset();
    void resumeInTerminal();
    void sendLayerComplete(int layer, int percent, int remainingMinutes);
    void setGlobalScale(double scaleX, double scaleY);
    void statusChanged(int status);
    // A pause or resume request is done, or was not carried out (`request` is its
    // message name, `reason` words for the user).
    void pauseConfirmed();
    void resumeConfirmed();
    void requestRefused(const QString &request, const QString &reason);
    // The print ended without its final movement, or that movement will never be
    // reported (the board's link was lost).
    void printAborted();

private:
    void refuse(const char *request, const QString &reason);
    QString notPausedReason() const;
    void confirmOwedPause();
    void projectBlack();
    void afterDelay(double milliseconds, void (PrintingThread::*slot)());

    double m_adhesionCureTime = 0;
    int m_adhesionLayers = 0;
    double m_cureTime = 0;
    int m_layerThickness = 0;
    int m_currentLayer = -1;
    int m_adhesionThickness = 0;
    int m_height = 0;
    int m_totalLayers = 0;
    int m_remainingMinutes = 0;
    int m_percentDone = 0;
    bool m_resinSettleEnabled = false;
    int m_resinSettleTime = 2000000;
    bool m_baselineSent = false;
    bool m_startFromG = false;
    std::atomic<int> m_status {Idle};
    SSJ *m_job = nullptr;
    bool m_cycleStarted = false;
    int m_gParameter = 0;
    bool m_boardPaused = false; // the board was told to pause and not yet to resume
    bool m_pauseOwed = false; // an accepted pause is not confirmed yet
    bool m_resumeOwed = false; // the board was told to resume and has not confirmed it
    bool m_firstLayerWaitStarted = false;
    quint64 m_generation = 0; // one per started print, to tell late timers apart
};
