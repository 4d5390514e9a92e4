#include "client.h"

#include "imageprovider.h"
#include "printererrorwatchdog.h"
#include "printingthread.h"
#include "ssj.h"
#include "terminal.h"
#include "timescale.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

ClientOptions g_options;

constexpr double kProjectorWidth = 1280.0;
constexpr double kProjectorHeight = 800.0;

QString errorText(int code)
{
    switch (code) {
    case 201:
        return QStringLiteral("the board did not finish a tilt cycle in time");
    case 202:
        return QStringLiteral("the USB link to the board was lost");
    case 203:
        return QStringLiteral("the projector display was lost or another screen appeared");
    case 204:
        return QStringLiteral("the projector did not confirm that it is on");
    case 205:
        return QStringLiteral("the projector reported off while it should be on");
    default:
        return QStringLiteral("unknown error");
    }
}

} // namespace

void Client::setOptions(const ClientOptions &options)
{
    g_options = options;
}

const ClientOptions &Client::options()
{
    return g_options;
}

Client::Client(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<PrintJob *>("PrintJob*");
    qRegisterMetaType<SSJ *>("SSJ*");

    m_terminal = new Terminal(this);
    if (!g_options.serialPort.isEmpty())
        m_terminal->setFixedPortName(g_options.serialPort);
    m_watchdog = m_terminal->beginWatchdog();

    m_printingThread = new PrintingThread;
    m_printingQThread = new QThread(this);
    m_printingQThread->setObjectName(QStringLiteral("PrintingThread"));
    m_printingThread->moveToThread(m_printingQThread);
    connect(m_printingQThread, &QThread::finished, m_printingThread, &QObject::deleteLater);
    m_printingQThread->start();

    PrintingThread *pt = m_printingThread;
    Terminal *board = m_terminal;
    PrinterErrorWatchdog *watchdog = m_watchdog;

    // Session to printing thread.
    connect(this, &Client::sendRunPrintJob, pt, &PrintingThread::runJob);
    connect(this, &Client::pausePrint, pt, &PrintingThread::pausePrint);
    connect(this, &Client::resumePrint, pt, &PrintingThread::resumePrint);
    connect(this, &Client::cancelPrint, pt, &PrintingThread::cancelPrint);

    // Printing thread to board, session and watchdog.
    connect(pt, &PrintingThread::sendResetPrinter, board, &Terminal::resetPrinter);
    connect(pt, &PrintingThread::sendSetPrinterBaselineToCurrentPosition, board,
            &Terminal::setPrinterBaselineToCurrentPosition);
    connect(pt, &PrintingThread::sendTurnOnProjector, board, &Terminal::turnOnProjector);
    connect(pt, &PrintingThread::sendFinishPrint, board, &Terminal::finishPrint);
    connect(pt, &PrintingThread::sendFinishPrint, watchdog, &PrinterErrorWatchdog::finishPrint);
    connect(pt, &PrintingThread::sendMovePrinterToLayer, board, &Terminal::goToLayerHeight);
    connect(pt, &PrintingThread::sendGCommandToLayer, board, &Terminal::goToLayerHeight_G);
    connect(pt, &PrintingThread::pauseInTerminal, board, &Terminal::pausePrinter);
    connect(pt, &PrintingThread::resumeInTerminal, board, &Terminal::resumePrinter);
    connect(pt, &PrintingThread::pauseInTerminalBeforeReset, board, &Terminal::finishPrint);
    connect(pt, &PrintingThread::projectImageFromPO, this, &Client::projectImage);
    connect(pt, &PrintingThread::setGlobalScale, this, &Client::setGlobalScale);
    connect(pt, &PrintingThread::sendLayerComplete, this, &Client::sendCurrentPrintProgress);

    // Board answers.
    connect(board, &Terminal::printerResetDone, pt, &PrintingThread::doneWithReset);
    connect(board, &Terminal::g_movementDone, pt, &PrintingThread::doneWithGMovement);
    connect(board, &Terminal::resumeMovementDone, pt, &PrintingThread::doneWithResumeMovement);
    connect(board, &Terminal::printerTiltCycleDone, pt, &PrintingThread::doneWithTiltCycle);
    connect(board, &Terminal::printerTiltCycleDone, watchdog, &PrinterErrorWatchdog::dataReceived_printCycleCompleted);
    connect(board, &Terminal::f_movementDone, this, &Client::doneWithFMovement);
    connect(board, &Terminal::printerConnected, this, &Client::printerUSBConnected);
    connect(board, &Terminal::dataReceived_projectorOn, watchdog, &PrinterErrorWatchdog::dataReceived_projectorOn);
    connect(board, &Terminal::dataReceived_projectorOff, watchdog, &PrinterErrorWatchdog::dataReceived_projectorOff);
    connect(board, &Terminal::usbConnectionClosed, watchdog, &PrinterErrorWatchdog::usbConnectionClosed);

    // Hardware errors.
    connect(watchdog, &PrinterErrorWatchdog::printerErrorOccured, this, &Client::printingErrorDetected);
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::screenAdded, this, &Client::screenCountChanged);
        connect(app, &QGuiApplication::screenRemoved, this, &Client::screenCountChanged);
    }

    if (!g_options.printFile.isEmpty()) {
        // A print from disk waits for the board; one that never appears fails.
        m_boardWaitTimer = new QTimer(this);
        m_boardWaitTimer->setSingleShot(true);
        connect(m_boardWaitTimer, &QTimer::timeout, this, [this] {
            endPrintFromFile(1, QStringLiteral("no motor board answered on %1")
                                    .arg(g_options.serialPort.isEmpty() ? QStringLiteral("any serial port")
                                                                        : g_options.serialPort));
        });
        m_boardWaitTimer->start(std::max(5000, TimeScale::ms(60000)));
    }
}

Client::~Client()
{
    m_printingQThread->quit();
    m_printingQThread->wait();
}

void Client::projectImage(QImage image)
{
    // Showing an image processes events, and with them possibly the next
    // queued projection: that one waits until this one is on screen (and saved),
    // so images are always shown whole and in order.
    m_pendingImages.enqueue(image);
    if (m_projecting)
        return;
    m_projecting = true;
    while (!m_pendingImages.isEmpty())
        showImage(m_pendingImages.dequeue());
    m_projecting = false;
}

void Client::showImage(const QImage &image)
{
    qDebug() << "Projecting image";
    QQuickItem *root = view ? view->rootObject() : nullptr;
    const QImage scaled = image.scaled(int(m_globalScaleX * kProjectorWidth), int(m_globalScaleY * kProjectorHeight),
                                       Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (imageProvider)
        imageProvider->image = scaled;
    qDebug() << "projectImage(). set new image provider image. Image Size: " << scaled.width() << scaled.height();
    if (root)
        QMetaObject::invokeMethod(root, "projectSlice", Qt::AutoConnection, Q_ARG(QVariant, QVariant(15)));
    QCoreApplication::processEvents();
    if (!g_options.framesDir.isEmpty())
        saveFrame();
}

void Client::saveFrame()
{
    if (!view)
        return;
    const QImage frame = view->grabWindow();
    const QString path = QDir(g_options.framesDir)
                             .filePath(QStringLiteral("frame_%1.png").arg(++m_framesSaved, 6, 10, QLatin1Char('0')));
    if (frame.isNull() || !frame.save(path, "PNG"))
        qDebug() << "ERROR. Client::saveFrame. Cannot save frame: " << path;
}

void Client::setGlobalScale(double scaleX, double scaleY)
{
    m_globalScaleX = scaleX;
    m_globalScaleY = scaleY;
}

void Client::printerUSBConnected()
{
    qDebug() << "Client::printerUSBConnected";
    if (!g_options.printFile.isEmpty() && !m_printFileStarted)
        startPrintFromFile();
}

void Client::startPrintFromFile()
{
    m_printFileStarted = true;
    if (m_boardWaitTimer)
        m_boardWaitTimer->stop();
    // The fields are those of the desktop's job line, after its keyword.
    m_currentJob.setFromString(QStringLiteral("Status_SendingPrintJob,") + g_options.jobFields);
    std::fprintf(stderr, "vatnode: printing %s, %d layers\n", qPrintable(g_options.printFile), m_currentJob.numImages);
    emit sendRunPrintJob(&m_currentJob, nullptr);
}

void Client::endPrintFromFile(int exitCode, const QString &message)
{
    if (m_printFileEnded)
        return;
    m_printFileEnded = true;
    std::fprintf(stderr, "%s%s\n", exitCode == 0 ? "vatnode: " : "error: ", qPrintable(message));
    std::fflush(stderr);
    QCoreApplication::exit(exitCode);
}

void Client::doneWithFMovement()
{
    qDebug() << "Client::doneWithFMovement";
    if (m_printFileStarted && m_printingThread->status() == PrintingThread::Finished)
        endPrintFromFile(0, QStringLiteral("print done"));
}

void Client::printingErrorDetected(int code)
{
    qDebug() << "Client::printingErrorDetected. Error: " << code;
    if (m_printFileStarted)
        endPrintFromFile(1, QStringLiteral("printing error %1: %2").arg(code).arg(errorText(code)));
}

void Client::sendCurrentPrintProgress(int layer, int percent, int remainingMinutes)
{
    qDebug() << "Client::sendCurrentPrintProgress. Layer: " << layer << " Percent: " << percent
             << " Minutes left: " << remainingMinutes;
    if (m_printFileStarted && !m_printFileEnded)
        std::fprintf(stderr, "vatnode: %d%% done, about %d min left\n", percent, remainingMinutes);
}

void Client::screenCountChanged()
{
    QMetaObject::invokeMethod(m_watchdog, "numScreensChanged", Qt::QueuedConnection,
                              Q_ARG(int, QGuiApplication::screens().size()));
}
