#include "printingthread.h"

#include "printjob.h"
#include "ssj.h"
#include "terminal.h"
#include "timescale.h"

#include <QDebug>
#include <QThread>
#include <QTimer>

#include <algorithm>

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

double PrintingThread::adhesionFactor(int layer)
{
    if (layer < 3)
        return 1.0;
    if (layer < 6)
        return 0.75;
    if (layer < 9)
        return 0.5;
    return 0.25;
}

int PrintingThread::gParameterNumber()
{
    return Terminal::g_param.mid(1).toInt();
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
    m_firstLayerWaitStarted = false;
    m_cycleStarted = false;
    m_height = 0;
    m_percentDone = 0;

    qDebug() << "Run Job. Job. Smart slices: " << SSJ::getNumImages();
    m_remainingMinutes = getTotalPrintTime(job);
    emit sendLayerComplete(0, 0, m_remainingMinutes);

    const int g = gParameterNumber();
    if (g < 0)
        m_baselineSent = false;
    m_startFromG = g >= 0;

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
        m_height = gParameterNumber();
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
    double exposure = m_cureTime;
    if (m_currentLayer < m_adhesionLayers) {
        const double factor = adhesionFactor(m_currentLayer);
        m_height += m_adhesionThickness / 10;
        qDebug() << "Run Advanced Transition. Projecting Slice. Time: " << factor * m_adhesionCureTime
                 << " Layer: " << m_currentLayer;
        exposure = std::max(factor * m_adhesionCureTime, m_cureTime);
    } else {
        const int left = m_totalLayers - m_currentLayer;
        qDebug() << "DONE WITH TILT CYCLE NORMAL. SECONDS LEFT: " << left * kSecondsPerMove + left * m_cureTime;
        m_height += m_layerThickness / 10;
    }
    emit projectImageFromPO(image);
    ++m_currentLayer;
    getRemainingPrintTime();
    m_percentDone = int(m_currentLayer * 100.0 / m_totalLayers);
    afterDelay(double(int(exposure * 1000.0)), &PrintingThread::startNextTiltCycle);
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
    if (status() != Printing) {
        qDebug() << "PrintingThread::pausePrint. Not printing. Status: " << status();
        return;
    }
    setStatus(Paused);
}

void PrintingThread::resumePrint()
{
    const int current = status();
    if (current == Printing) {
        // Sending the board's toggle now would pause a running board.
        qDebug() << "ERROR.  PrintingThread::resumePrint. Called while status = printing";
        return;
    }
    if (current == PausedAfterReset) {
        setStatus(Printing);
        m_currentLayer = 0;
        m_firstLayerWaitStarted = false;
        emit sendResetPrinter();
        return;
    }
    if (current != Paused) {
        qDebug() << "PrintingThread::resumePrint. Nothing to resume. Status: " << current;
        return;
    }
    setStatus(Printing);
    qDebug() << "PrintingThread::resumePrint.";
    if (m_boardPaused) {
        m_boardPaused = false;
        emit resumeInTerminal();
    }
    // Otherwise the pause had not reached the board yet: the running cycle
    // simply goes on.
}

void PrintingThread::cancelPrint()
{
    qDebug() << " PrintingThread::cancelPrint()";
    const int current = status();
    if (current == Finished || current == Idle || current == Cancelled)
        return;
    setStatus(Cancelled);
    if (current == Paused || current == PausedAfterReset) {
        m_boardPaused = false;
        doneWithTiltCycle();
    }
}

void PrintingThread::abortPrint()
{
    const int current = status();
    if (current == Finished || current == Idle)
        return;
    qDebug() << "PrintingThread::abortPrint. The board's link was lost. Ending the print at layer" << m_currentLayer;
    // Late timers of this print must not act any more.
    ++m_generation;
    m_boardPaused = false;
    m_cycleStarted = false;
    m_firstLayerWaitStarted = false;
    m_currentLayer = -1;
    // Idle rather than Finished: the board's homing once it is back is not the end of
    // a print, and must not be reported as "print done".
    setStatus(Idle);
    projectBlack();
}

void PrintingThread::doneWithGMovement(const QString &answer)
{
    qDebug() << "PrintingThread::doneWithGMovement" << answer << " target z: " << QStringLiteral("Z%1").arg(m_height);
}

void PrintingThread::doneWithResumeMovement()
{
    doneWithTiltCycle();
}
