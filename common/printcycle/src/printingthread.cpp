#include "printingthread.h"

#include "messages.h"
#include "printjob.h"
#include "ssj.h"
#include "timescale.h"

#include <QDebug>
#include <QThread>
#include <QTimer>

namespace {
constexpr int kProjectorWidth = 1280;
constexpr int kProjectorHeight = 800;
constexpr double kSecondsPerMove = 10.0;
} // namespace

PrintingThread::PrintingThread(QObject *parent)
    : QObject(parent)
{
}

void PrintingThread::setResinSettle(bool enabled, int microseconds)
{
    m_resinSettleEnabled = enabled;
    m_resinSettleTime = microseconds;
}

int PrintingThread::getTotalPrintTime(const PrintJob *job)
{
    return job ? job->printerTotalMinutes() : 0;
}

void PrintingThread::setStatus(int status)
{
    if (m_status.exchange(status) != status)
        emit statusChanged(status);
}

void PrintingThread::refuse(const char *request, const QString &reason)
{
    qDebug() << "PrintingThread. Request refused: " << request << reason;
    emit requestRefused(QLatin1String(request), reason);
}

QString PrintingThread::notPausedReason() const
{
    switch (status()) {
    case Printing:
        return QStringLiteral("The print is not paused");
    case Cancelled:
        return QStringLiteral("The print is being cancelled");
    default:
        return QStringLiteral("No print is running");
    }
}

void PrintingThread::confirmOwedPause()
{
    if (!m_pauseOwed)
        return;
    m_pauseOwed = false;
    emit pauseConfirmed();
}

void PrintingThread::afterDelay(double milliseconds, void (PrintingThread::*slot)())
{
    // A timer belongs to the print that started it: after a cancel and a new
    // start, a late timer of the old print must not act on the new one.
    const quint64 generation = m_generation;
    QTimer::singleShot(TimeScale::ms(milliseconds), this, [this, generation, slot] {
        if (generation == m_generation)
            (this->*slot)();
    });
}

void PrintingThread::projectBlack()
{
    QImage black(kProjectorWidth, kProjectorHeight, QImage::Format_RGB32);
    black.fill(QColor(QStringLiteral("black")));
    emit projectImageFromPO(black);
}

void PrintingThread::runJob(PrintJob *job, SSJ *ssj)
{
    if (!job)
        return;
    ++m_generation;
    setStatus(Printing);
    emit setGlobalScale(job->scaleX, job->scaleY);
    job->printInfo();

    m_adhesionCureTime = job->adhesionLayerCureTime;
    m_adhesionLayers = job->numAdhesionLayers;
    m_adhesionThickness = job->adhesionThickness;
    m_layerThickness = job->layerThickness;
    m_totalLayers = job->numImages;
    m_cureTime = job->getFineTuneFactorCureTime();
    m_job = ssj;
    m_boardPaused = false;
    m_pauseOwed = false;
    m_resumeOwed = false;
    m_firstLayerWaitStarted = false;
    m_cycleStarted = false;
    m_height = 0;
    m_percentDone = 0;

    qDebug() << "Run Job. Job. Smart slices: " << SSJ::getNumImages();
    m_remainingMinutes = getTotalPrintTime(job);
    emit sendLayerComplete(0, 0, m_remainingMinutes);

    if (m_gParameter < 0)
        m_baselineSent = false;
    m_startFromG = m_gParameter >= 0;

    m_currentLayer = 0;
    emit sendResetPrinter();
}

void PrintingThread::doneWithReset()
{
    qDebug() << "PrintingThread. Done with Reset. Cur Layer Num: " << m_currentLayer;
    const int current = status();
    if (current == Paused) {
        setStatus(PausedAfterReset);
        m_boardPaused = false;
        emit pauseInTerminalBeforeReset();
        qDebug() << "Done w/ Reset while Paused";
        return;
    }
    // A reset answer when no print waits for one (the board homed for another
    // reason) must not start the last job again.
    if (current != Printing && current != Cancelled) {
        qDebug() << "PrintingThread::doneWithReset. No print waiting for a reset. Status: " << current;
        return;
    }
    if (m_currentLayer <= 0)
        printImagesAfterReset();
    else
        qDebug() << "PrintingThread::doneWithReset. false reset received";
}

void PrintingThread::printImagesAfterReset()
{
    qDebug() << "PrintImagesAfterReset. Total Layers: " << m_totalLayers << " PrintingThreadStatus: " << status();
    if (m_baselineSent && !m_startFromG) {
        qDebug() << "PrintingThread::printImagesAfterReset.o0AlreadySent.Returning";
        return;
    }
    // A second acknowledgement of the same reset would start a second
    // first-layer wait, and so two cycles running at once.
    if (m_firstLayerWaitStarted) {
        qDebug() << "PrintingThread::printImagesAfterReset. Reset already acknowledged. Returning";
        return;
    }
    if (m_totalLayers < 1 || status() == Cancelled) {
        // Nothing to print (or cancelled during the reset): the board runs its
        // finish movement, which ends the print.
        setStatus(Finished);
        m_currentLayer = -1;
        emit sendFinishPrint();
        return;
    }

    setStatus(Printing);
    if (m_startFromG) {
        m_height = m_gParameter;
    } else {
        emit sendSetPrinterBaselineToCurrentPosition();
        m_height = 0;
        m_baselineSent = true;
    }
    m_currentLayer = 0;
    m_firstLayerWaitStarted = true;
    projectBlack();

    qDebug() << "Print Images after reset before single shot";
    afterDelay(firstLayerDelay * 1000.0, &PrintingThread::doneWithTiltCycle);
    afterDelay(firstLayerDelay * 500.0, &PrintingThread::sendProjectorOn);
    qDebug() << "After single shot";
}

void PrintingThread::sendProjectorOn()
{
    emit sendTurnOnProjector();
}

void PrintingThread::doneWithTiltCycle()
{
    qDebug() << "PrintingThread::DONE WITH TILT CYCLE. Cur layer: " << m_currentLayer;
    if (m_resinSettleEnabled) {
        qDebug() << "****NOTE: PrintingThread::doneWithTiltCycle. Enable resin settle time is enabled. Time:"
                 << m_resinSettleTime;
        QThread::usleep(static_cast<unsigned long>(TimeScale::ms(m_resinSettleTime / 1000.0)) * 1000ul);
    }
    m_cycleStarted = false;

    switch (status()) {
    case Finished:
    case Idle:
        return; // late or repeated board answers
    case Cancelled:
        setStatus(Finished);
        m_currentLayer = -1;
        projectBlack();
        emit sendFinishPrint();
        return;
    case Paused:
        projectBlack();
        m_boardPaused = true;
        emit pauseInTerminal();
        return;
    case PausedAfterReset:
        qDebug() << "PrintingThread::doneWithTiltCycle - paused before reset done";
        return;
    default:
        break;
    }

    if (m_currentLayer < 0)
        return;
    if (m_currentLayer >= m_totalLayers) {
        setStatus(Finished);
        emit sendFinishPrint();
        m_currentLayer = -1;
        return;
    }

    const QImage image = SSJ::getOneImage(m_currentLayer);
    const int exposureMs = LayerCycle::exposureMs(m_currentLayer, m_adhesionLayers, m_adhesionCureTime, m_cureTime);
    if (m_currentLayer < m_adhesionLayers) {
        m_height += m_adhesionThickness / 10;
        qDebug() << "Run Advanced Transition. Projecting Slice. Time: "
                 << adhesionFactor(m_currentLayer) * m_adhesionCureTime << " Layer: " << m_currentLayer;
    } else {
        const int left = m_totalLayers - m_currentLayer;
        qDebug() << "DONE WITH TILT CYCLE NORMAL. SECONDS LEFT: " << left * kSecondsPerMove + left * m_cureTime;
        m_height += m_layerThickness / 10;
    }
    emit projectImageFromPO(image);
    ++m_currentLayer;
    getRemainingPrintTime();
    m_percentDone = int(m_currentLayer * 100.0 / m_totalLayers);
    afterDelay(exposureMs, &PrintingThread::startNextTiltCycle);
}

void PrintingThread::startNextTiltCycle()
{
    qDebug() << "PrintingThread::startNextTiltCycle.";
    if (status() == Finished || status() == Idle) {
        // A cancel while paused finished the print during this exposure.
        projectBlack();
        return;
    }
    if (m_cycleStarted) {
        qDebug() << "ERROR. PrintingThread::startNextTiltCycle _consecutiveCyclesCalled.";
        return;
    }
    projectBlack();
    emit sendMovePrinterToLayer(m_height);
    emit sendLayerComplete(m_currentLayer + 1, m_percentDone, m_remainingMinutes);
    m_cycleStarted = true;
}

int PrintingThread::getRemainingPrintTime()
{
    const int c = m_currentLayer;
    const int a = m_adhesionLayers;
    const int n = m_totalLayers;
    if (c < a)
        m_remainingMinutes
            = int(((n - a) * m_cureTime + (a - c) * m_adhesionCureTime + (n - c) * kSecondsPerMove) / 60);
    else if (c > n)
        m_remainingMinutes = 0;
    else
        m_remainingMinutes = int(((n - c) * kSecondsPerMove + (n - c) * m_cureTime) / 60);
    return m_remainingMinutes;
}

void PrintingThread::pausePrint()
{
    qDebug() << " PrintingThread::pausePrint()";
    // Only a running print can pause: a pause of a finished or idle printer
    // would leave it reported as paused with nothing to resume.
    const int current = status();
    if (current == Paused || current == PausedAfterReset) {
        refuse(Message::kPausePrint, QStringLiteral("The print is already paused"));
        return;
    }
    if (current != Printing) {
        refuse(Message::kPausePrint, notPausedReason());
        return;
    }
    setStatus(Paused);
    m_pauseOwed = true;
}

void PrintingThread::resumePrint()
{
    const int current = status();
    if (current == PausedAfterReset) {
        // The pause's finish movement may not be reported yet: the pause is done as far
        // as the desktop is concerned, and the print starts again from the reset.
        confirmOwedPause();
        setStatus(Printing);
        m_currentLayer = 0;
        m_firstLayerWaitStarted = false;
        emit sendResetPrinter();
        emit resumeConfirmed();
        return;
    }
    if (current != Paused) {
        if (current == Printing) // sending the board's toggle now would pause a running board
            qDebug() << "ERROR.  PrintingThread::resumePrint. Called while status = printing";
        refuse(Message::kResumePrint, notPausedReason());
        return;
    }
    setStatus(Printing);
    qDebug() << "PrintingThread::resumePrint.";
    if (m_boardPaused) {
        // The board confirms the pause (if it has not yet) and then the resume, in order.
        m_boardPaused = false;
        m_resumeOwed = true;
        emit resumeInTerminal();
        return;
    }
    // The pause had not reached the board yet: the running cycle simply goes on, and
    // both requests are done.
    confirmOwedPause();
    emit resumeConfirmed();
}

void PrintingThread::cancelPrint()
{
    qDebug() << " PrintingThread::cancelPrint()";
    const int current = status();
    if (current == Cancelled)
        return;
    if (current == Finished || current == Idle) {
        refuse(Message::kCancelPrint, QStringLiteral("No print is running"));
        return;
    }
    // A pause that the board was not told of is over with the print; one it was told
    // of is confirmed by the board's answer.
    if (!(current == Paused && m_boardPaused))
        confirmOwedPause();
    setStatus(Cancelled);
    if (current == Paused || current == PausedAfterReset) {
        m_boardPaused = false;
        doneWithTiltCycle();
    }
}

void PrintingThread::abortPrint()
{
    const int current = status();
    if (current == Finished) {
        // The final movement of a print may have been under way.
        emit printAborted();
        return;
    }
    if (current == Idle)
        return;
    qDebug() << "PrintingThread::abortPrint. The board's link was lost. Ending the print at layer" << m_currentLayer;
    // Late timers of this print must not act any more.
    ++m_generation;
    m_boardPaused = false;
    m_cycleStarted = false;
    m_firstLayerWaitStarted = false;
    m_currentLayer = -1;
    if (m_pauseOwed)
        refuse(Message::kPausePrint, QStringLiteral("The board's link was lost"));
    if (m_resumeOwed)
        refuse(Message::kResumePrint, QStringLiteral("The board's link was lost"));
    m_pauseOwed = false;
    m_resumeOwed = false;
    // Idle rather than Finished: the board's homing once it is back is not the end of
    // a print, and must not be reported as "print done".
    setStatus(Idle);
    projectBlack();
    emit printAborted();
}

void PrintingThread::doneWithGMovement(const QString &answer)
{
    qDebug() << "PrintingThread::doneWithGMovement" << answer << " target z: " << QStringLiteral("Z%1").arg(m_height);
}

void PrintingThread::doneWithResumeMovement()
{
    // Only the answer to this print's resume goes on with the print: a stray one would
    // start a second cycle.
    if (!m_resumeOwed) {
        qDebug() << "PrintingThread::doneWithResumeMovement. No resume waiting for it";
        return;
    }
    m_resumeOwed = false;
    emit resumeConfirmed();
    doneWithTiltCycle();
}

void PrintingThread::doneWithPauseMovement()
{
    if (!m_pauseOwed) {
        qDebug() << "PrintingThread::doneWithPauseMovement. No pause waiting for it";
        return;
    }
    m_pauseOwed = false;
    emit pauseConfirmed();
}

void PrintingThread::doneWithFinishMovement()
{
    // A pause during the reset ends in the finish movement.
    if (status() == PausedAfterReset)
        confirmOwedPause();
}
