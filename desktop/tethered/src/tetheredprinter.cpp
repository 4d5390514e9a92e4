#include "tetheredprinter.h"

#include "crushedprintjob.h"
#include "imageprovider.h"
#include "printererrors.h"
#include "printererrorwatchdog.h"
#include "printerstate.h"
#include "printingthread.h"
#include "printrule.h"
#include "printwiring.h"
#include "resincatalogue.h"
#include "ssj.h"
#include "terminal.h"
#include "timescale.h"

#include <QDebug>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

// As the printer: the board homes twice after it appears, and takes a print once settled.
constexpr int kSecondHomingMs = 1500;
constexpr int kBoardSettledMs = 2000;
// How long the last commands to the board may take to go out when the runner ends.
constexpr int kLastWordsMs = 1000;

const QString kBoardStopped = QStringLiteral("the printer's board stopped answering");

// What the print rule knows of a tethered printer: its pixel size, and as its own resins
// the desktop's catalogue (so calibration factors of 1 unless the catalogue has others).
PrinterState tetheredPrinterState(bool pixels75, const QList<Resin> &catalogue)
{
    PrinterState printer;
    printer.serial = QStringLiteral("tethered");
    printer.nickname = QStringLiteral("the tethered printer");
    printer.model = pixels75 ? QStringLiteral("tethered 75") : QStringLiteral("tethered 100");
    printer.resins = catalogue;
    return printer;
}

} // namespace

TetheredPrinter::TetheredPrinter(QObject *parent)
    : QObject(parent)
    , m_printing(new PrintingThread)
    , m_printingQThread(new QThread(this))
    , m_movementTimer(new QTimer(this))
{
    m_printing->setStatus(PrintingThread::Idle);
    m_movementTimer->setSingleShot(true);
    connect(m_movementTimer, &QTimer::timeout, this, [this] { fail(kBoardStopped); });
    wireThread();

    m_printingQThread->setObjectName(QStringLiteral("TetheredPrintingThread"));
    m_printing->moveToThread(m_printingQThread);
    connect(m_printingQThread, &QThread::finished, m_printing, &QObject::deleteLater);
    m_printingQThread->start();
}

TetheredPrinter::~TetheredPrinter()
{
    // The lamp goes off whatever a print was doing, and the last commands go out before the
    // port closes with the board link: the event loop that would write them may not turn again.
    if (m_board && m_state != Idle)
        m_board->turnOffProjector();
    QSerialPort *port = m_board ? Terminal::serial : nullptr;
    while (port && port->isOpen() && port->bytesToWrite() > 0) {
        if (!port->waitForBytesWritten(kLastWordsMs))
            break;
    }
    m_printingQThread->quit();
    m_printingQThread->wait();
}

void TetheredPrinter::wireThread()
{
    PrintingThread *pt = m_printing;
    connect(pt, &PrintingThread::statusChanged, this, [this](int status) { m_threadStatus = status; });
    connect(pt, &PrintingThread::setGlobalScale, this, [this](double x, double y) {
        m_scaleX = x;
        m_scaleY = y;
    });
    connect(pt, &PrintingThread::projectImageFromPO, this, &TetheredPrinter::showFrame);
    connect(pt, &PrintingThread::sendLayerComplete, this, &TetheredPrinter::progress);
    connect(pt, &PrintingThread::pauseConfirmed, this, [this] {
        if (m_state == PausingWhileMoving)
            setState(Paused);
    });
    connect(pt, &PrintingThread::resumeConfirmed, this, [this] {
        if (m_state == ResumingWhileMoving)
            setState(Printing);
    });
    connect(pt, &PrintingThread::requestRefused, this,
        [this](const QString &request, const QString &) { requestRefused(request); });
    // Every command that moves the platform waits for the board's answer to it.
    for (auto command : {&PrintingThread::pauseInTerminalBeforeReset, &PrintingThread::pauseInTerminal,
             &PrintingThread::resumeInTerminal, &PrintingThread::sendFinishPrint})
        connect(pt, command, this, &TetheredPrinter::movementStarted);
    connect(pt, &PrintingThread::sendResetPrinter, this, &TetheredPrinter::movementStarted);
    connect(pt, &PrintingThread::sendMovePrinterToLayer, this, &TetheredPrinter::movementStarted);
}

void TetheredPrinter::connectBoard()
{
    if (m_board)
        return;
    m_board = new Terminal(this);
    if (!m_serialPort.isEmpty())
        m_board->setFixedPortName(m_serialPort);
    m_watchdog = m_board->beginWatchdog();
    PrintWiring::connect(m_printing, m_board, m_watchdog);
    connect(m_board, &Terminal::printerConnected, this, &TetheredPrinter::boardAppeared);
    connect(m_board, &Terminal::usbConnectionClosed, this, [this] { m_boardReady = false; });
    connect(m_board, &Terminal::f_movementDone, this, &TetheredPrinter::finishMovementDone);
    connect(m_board, &Terminal::printerResetDone, this, [this] {
        if (m_state == WaitingForBoard && m_jobHanded)
            setState(Printing);
    });
    connect(m_watchdog, &PrinterErrorWatchdog::printerErrorOccured, this,
        [this](int code) { fail(PrinterErrors::text(code)); });
    for (auto answer : {&Terminal::printerResetDone, &Terminal::printerTiltCycleDone, &Terminal::pauseMovementDone,
             &Terminal::resumeMovementDone, &Terminal::f_movementDone})
        connect(m_board, answer, this, &TetheredPrinter::movementEnded);
}

void TetheredPrinter::setSerialPort(const QString &path)
{
    m_serialPort = path;
    if (m_board)
        m_board->setFixedPortName(path);
}

void TetheredPrinter::setPixels75(bool pixels75)
{
    m_pixels75 = pixels75;
}

TetheredPrinter::State TetheredPrinter::state() const
{
    return m_state;
}

void TetheredPrinter::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

bool TetheredPrinter::start(const QString &jobPath, const QString &resinName, QString *error)
{
    QString refusal;
    if (m_state != Idle) {
        refusal = QStringLiteral("A print is already running on the tethered printer.");
    } else {
        PrintRule::JobFacts facts;
        const QList<Resin> catalogue = m_resins.isEmpty() ? ResinCatalogue::builtIn() : m_resins;
        if (PrintRule::readJob(jobPath, &facts, &refusal)) {
            const PrintRule::Decision decision
                = PrintRule::jobForPrint(catalogue, tetheredPrinterState(m_pixels75, catalogue), facts, resinName);
            refusal = decision.refusal;
            m_job = decision.job;
        }
    }
    // Read once more, whole, for the layers: the rule read only what it decides by.
    auto layers = std::make_unique<CrushedPrintJob>();
    QFile file(jobPath);
    if (refusal.isEmpty() && !layers->loadCPJ(&file))
        refusal = QStringLiteral("The print job %1 could not be read (%2).").arg(jobPath, layers->errorString());
    if (!refusal.isEmpty()) {
        qDebug().noquote() << "ERROR. TetheredPrinter::start. " + refusal;
        if (error)
            *error = refusal;
        return false;
    }
    SSJ::adopt(std::move(layers));
    m_jobHanded = false;
    connectBoard();
    setState(WaitingForBoard);
    if (m_boardReady)
        runJob();
    return true;
}

void TetheredPrinter::runJob()
{
    qDebug() << "TetheredPrinter::runJob. Layers: " << m_job.numImages;
    m_jobHanded = true;
    m_threadStatus = PrintingThread::Printing;
    Terminal::printOrPauseInProgress = false;
    PrintingThread *pt = m_printing;
    PrintJob *job = &m_job;
    const int g = Terminal::gParameterNumber();
    QMetaObject::invokeMethod(
        pt,
        [pt, job, g] {
            pt->setGParameter(g);
            pt->runJob(job, nullptr);
        },
        Qt::QueuedConnection);
}

void TetheredPrinter::boardAppeared()
{
    qDebug() << "TetheredPrinter::boardAppeared";
    m_boardReady = false;
    const int connection = ++m_boardConnections;
    m_board->turnOffProjector();
    m_board->turnOnMotors();
    m_board->resetPlatformAndTank();
    QTimer::singleShot(TimeScale::ms(kSecondHomingMs), this, [this, connection] {
        if (connection == m_boardConnections)
            m_board->resetPlatformAndTank();
    });
    QTimer::singleShot(TimeScale::ms(kBoardSettledMs), this, [this, connection] { boardSettled(connection); });
}

void TetheredPrinter::boardSettled(int connection)
{
    if (connection != m_boardConnections)
        return;
    m_boardReady = true;
    if (m_state == WaitingForBoard && !m_jobHanded)
        runJob();
}

void TetheredPrinter::pause()
{
    if (m_state != Printing && !(m_state == WaitingForBoard && m_jobHanded))
        return;
    setState(PausingWhileMoving);
    QMetaObject::invokeMethod(m_printing, &PrintingThread::pausePrint, Qt::QueuedConnection);
}

void TetheredPrinter::resume()
{
    if (m_state != Paused && m_state != PausingWhileMoving)
        return;
    setState(ResumingWhileMoving);
    QMetaObject::invokeMethod(m_printing, &PrintingThread::resumePrint, Qt::QueuedConnection);
}

void TetheredPrinter::cancel()
{
    if (m_state == Idle || m_state == Cancelling)
        return;
    if (!m_jobHanded) {
        // The board never had the print: nothing moves, nothing to wait for.
        setState(Idle);
        emit finished(true);
        return;
    }
    setState(Cancelling);
    QMetaObject::invokeMethod(m_printing, &PrintingThread::cancelPrint, Qt::QueuedConnection);
}

void TetheredPrinter::requestRefused(const QString &request)
{
    // The printing thread knew better: the print stays as it was.
    if (m_state == PausingWhileMoving && request.contains(QLatin1String("Pause")))
        setState(Printing);
    else if (m_state == ResumingWhileMoving && request.contains(QLatin1String("Resume")))
        setState(Paused);
}

void TetheredPrinter::movementStarted()
{
    if (m_state != Idle)
        m_movementTimer->start(TimeScale::ms(movementTimeoutSeconds * 1000.0));
}

void TetheredPrinter::movementEnded()
{
    m_movementTimer->stop();
}

void TetheredPrinter::finishMovementDone()
{
    // Only the final movement of a print ends it (a pause during the reset makes one too).
    if (m_state == Idle || m_threadStatus != PrintingThread::Finished)
        return;
    const bool cancelled = m_state == Cancelling;
    qDebug() << "TetheredPrinter::finishMovementDone. Cancelled: " << cancelled;
    m_movementTimer->stop();
    setState(Idle);
    emit finished(cancelled);
}

void TetheredPrinter::fail(const QString &message)
{
    if (m_state == Idle)
        return;
    qDebug().noquote() << "ERROR. TetheredPrinter::fail. " + message;
    m_movementTimer->stop();
    QMetaObject::invokeMethod(m_printing, &PrintingThread::abortPrint, Qt::QueuedConnection);
    QMetaObject::invokeMethod(m_watchdog, &PrinterErrorWatchdog::printAbandoned, Qt::QueuedConnection);
    m_board->turnOffProjector();
    setState(Idle);
    emit failed(message);
}

void TetheredPrinter::showFrame(const QImage &image)
{
    emit frame(ProjectionPage::scaledToProjector(image, m_scaleX, m_scaleY));
}
