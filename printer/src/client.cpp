// The session: construction, wiring, projection, reports and board events.
// The desktop protocol is in clientnetwork.cpp, settings, network set-up,
// button and self-update in clientsystem.cpp.
#include "client.h"

#include "imageprovider.h"
#include "jobstreamreceiver.h"
#include "messages.h"
#include "printererrors.h"
#include "printererrorwatchdog.h"
#include "printersettings.h"
#include "printingthread.h"
#include "printwiring.h"
#include "protocol.h"
#include "ssj.h"
#include "terminal.h"
#include "timescale.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QRandomGenerator>
#include <QScreen>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>

namespace {

ClientOptions g_options;

constexpr int kLongPressMs = 3000;
constexpr int kMultiPressMs = 500;

} // namespace

QQuickView *view = nullptr;
ImageProvider *imageProvider = nullptr;

bool Client::boardIsOldVersion = false;
const QString Client::settingsFileName = QStringLiteral("Tessora_Client_Config");
const QString Client::jobFileName = QStringLiteral("MySSJFile.ssj");
const QString Client::updateFileName = QStringLiteral("Vatnode_update");
const QString Client::previousProgramFileName = QStringLiteral("Vatnode_previous");

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
    ProjectionPage::initResources();
    Q_INIT_RESOURCE(vatnode); // the scene and the calibration grid live in a static library

    // 1-2. Fields.
    m_serial = QStringLiteral("OBW-TEST");
    m_nickname = QStringLiteral("Test Client");
    qDebug() << "Vatnode Constructor. Version Number: " << version;

    // 3. Board link and front button.
    m_terminal = new Terminal(this);
    if (!g_options.serialPort.isEmpty())
        m_terminal->setFixedPortName(g_options.serialPort);
    setUpFrontButton();

    // 4. Dark projector.
    m_terminal->turnOffProjector();

    // 5-6. The connection socket is made when a desktop is found; the
    // announcement socket listens from now on.
    m_udpSocket = new QUdpSocket(this);
    if (!m_udpSocket->bind(QHostAddress::AnyIPv4, quint16(g_options.discoveryPort),
            QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        qDebug() << "ERROR. Client::Client. Cannot listen for announcements on port" << g_options.discoveryPort
                 << m_udpSocket->errorString();
    connect(m_udpSocket, &QUdpSocket::readyRead, this, &Client::processDatagram);

    // 7. A provisional identity until the settings give the real one.
    const int random = int(QRandomGenerator::global()->generate() % 10000);
    qDebug() << "Random num: " << random;
    m_serial += QString::number(random);
    m_nickname += QString::number(random);

    // 8. Settings.
    readOrCreateSettings();

    // 9. Printing thread and watchdog.
    setPrintingThreadConnections();

    // 10-11. Network.
    if (hasNetworkConnection())
        qDebug() << "Has network connection. No direct broadcast";
    else
        deployDirectNetwork();
    m_wifiNames = getAvailableWifiNetworks();
    qDebug().noquote() << "Network List:\n" + m_wifiNames.join(QLatin1Char('\n'));

    if (!g_options.printFile.isEmpty()) {
        // A print from disk waits for the board; one that never appears fails.
        m_boardWaitTimer = new QTimer(this);
        m_boardWaitTimer->setSingleShot(true);
        connect(m_boardWaitTimer, &QTimer::timeout, this, [this] {
            endPrintFromFile(1,
                QStringLiteral("no motor board answered on %1")
                    .arg(g_options.serialPort.isEmpty() ? QStringLiteral("any serial port") : g_options.serialPort));
        });
        m_boardWaitTimer->start(std::max(5000, TimeScale::ms(60000)));
    }
}

void Client::setUpFrontButton()
{
    m_longPressTimer = new QTimer(this);
    m_longPressTimer->setSingleShot(true);
    m_longPressTimer->setInterval(TimeScale::ms(kLongPressMs));
    connect(m_longPressTimer, &QTimer::timeout, this, &Client::shutDownFromButtonTimeout);
    m_multiPressTimer = new QTimer(this);
    m_multiPressTimer->setSingleShot(true);
    m_multiPressTimer->setInterval(TimeScale::ms(kMultiPressMs));
    connect(m_multiPressTimer, &QTimer::timeout, this, &Client::buttonMultiPressTimeout);
    connect(m_terminal, &Terminal::buttonPressed, this, &Client::buttonPressReceived);
    connect(m_terminal, &Terminal::buttonReleased, this, &Client::buttonReleaseReceived);
}

void Client::readOrCreateSettings()
{
    m_settings = std::make_unique<PrinterSettings>(settingsFileName);
    if (m_settings->exists()) {
        qDebug() << "File location: " << QDir::current().absoluteFilePath(settingsFileName);
        readSettingsFromFile();
    } else {
        qDebug() << "Client::Client - creating settings file";
        writeInitialSettings();
    }
    if (m_settings->contains(QStringLiteral("grayscale"))) {
        m_grid.setFromJSONString(m_settings->value(QStringLiteral("grayscale")).toString());
    } else {
        m_grid.setNumRowsAndColumns(GrayscaleGrid::defaultNumRows, GrayscaleGrid::defaultNumColumns);
        storeSetting(QStringLiteral("grayscale"), m_grid.getJSONString());
    }
}

Client::~Client()
{
    if (m_receiver)
        m_receiver->abort();
    m_printingQThread->quit();
    m_printingQThread->wait();
}

void Client::setPrintingThreadConnections()
{
    qDebug() << "setPrintingThreadConnections";
    m_printingThread = new PrintingThread;
    m_printingThread->setResinSettle(m_enableResinSettleTime, m_resinSettleTime);
    m_printingThread->setStatus(PrintingThread::Idle);
    m_watchdog = m_terminal->beginWatchdog();

    PrintingThread *pt = m_printingThread;
    Terminal *board = m_terminal;
    PrinterErrorWatchdog *watchdog = m_watchdog;

    PrintWiring::connect(pt, board, watchdog);
    connect(board, &Terminal::f_movementDone, this, &Client::doneWithFMovement);
    connect(pt, &PrintingThread::pauseConfirmed, this, &Client::sendMessagePauseDone);
    connect(pt, &PrintingThread::resumeConfirmed, this, &Client::sendMessageResumeDone);
    connect(pt, &PrintingThread::requestRefused, this, &Client::refuseRequest);
    connect(pt, &PrintingThread::statusChanged, this, &Client::printStatusChanged);
    connect(pt, &PrintingThread::printAborted, this, &Client::printAborted);
    connect(board, &Terminal::printerConnected, this, &Client::printerUSBConnected);
    connect(pt, &PrintingThread::setGlobalScale, this, &Client::setGlobalScale);
    connect(pt, &PrintingThread::projectImageFromPO, this, &Client::projectImage);
    connect(pt, &PrintingThread::sendLayerComplete, this, &Client::sendCurrentPrintProgress);
    connect(this, &Client::sendRunPrintJob, pt, &PrintingThread::runJob);
    connect(this, &Client::pausePrint, pt, &PrintingThread::pausePrint);
    connect(this, &Client::resumePrint, pt, &PrintingThread::resumePrint);
    connect(this, &Client::cancelPrint, pt, &PrintingThread::cancelPrint);
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::screenAdded, this, &Client::screenCountChanged);
        connect(app, &QGuiApplication::screenRemoved, this, &Client::screenCountChanged);
    }
    connect(watchdog, &PrinterErrorWatchdog::printerErrorOccured, this, &Client::printingErrorDetected);

    m_printingQThread = new QThread(this);
    m_printingQThread->setObjectName(QStringLiteral("PrintingThread"));
    m_printingThread->moveToThread(m_printingQThread);
    connect(m_printingQThread, &QThread::finished, m_printingThread, &QObject::deleteLater);
    m_printingQThread->start();
}

QString Client::getPrintThreadStatus() const
{
    if (!m_printActive)
        return Protocol::statusName(PrintingThread::Idle);
    // A finished or cancelled print still runs its final movement: printing.
    const bool paused = m_threadStatus == PrintingThread::Paused || m_threadStatus == PrintingThread::PausedAfterReset;
    return Protocol::statusName(paused ? PrintingThread::Paused : PrintingThread::Printing);
}

QString Client::busyReason() const
{
    if (m_printActive)
        return QStringLiteral("A print is in progress");
    if (m_readState == ReceivingJob)
        return QStringLiteral("A print job is being received");
    if (m_readState == ReceivingUpdate)
        return QStringLiteral("A program update is being received");
    return QString();
}

bool Client::refuseWhileBusy(const char *method, const QString &request)
{
    const QString reason = busyReason();
    if (reason.isEmpty())
        return false;
    qDebug().noquote()
        << QStringLiteral("NOTICE. %1. Refused while printing: %2. %3").arg(QLatin1String(method), request, reason);
    sendRefusal(request, reason);
    return true;
}

void Client::sendRefusal(const QString &request, const QString &reason)
{
    sendString(QStringList {
        QLatin1String(Message::kRequestRefused), request, getPrintThreadStatus(), Protocol::encodeField(reason)}
                   .join(QLatin1String(Protocol::kSeparator)));
}

void Client::refuseRequest(const QString &request, const QString &reason)
{
    qDebug() << "NOTICE. Client::refuseRequest. Refused: " << request << reason;
    if (request == QLatin1String(Message::kPausePrint))
        m_pauseInProgress = false; // no pause movement will end
    sendRefusal(request, reason);
}

void Client::reportStatus()
{
    const QString name = getPrintThreadStatus();
    if (name == m_reportedStatus)
        return;
    m_reportedStatus = name;
    if (m_connected && m_readState != AwaitingGreeting)
        sendString(QLatin1String(Message::kPrintStatus) + QLatin1String(Protocol::kSeparator) + name);
}

void Client::printStatusChanged(int status)
{
    m_threadStatus = status;
    reportStatus();
}

void Client::printAborted()
{
    if (!m_printActive)
        return;
    qDebug() << "NOTICE. Client::printAborted. The print ended without its final movement";
    m_printActive = false;
    reportStatus();
}

// ---- Projection -------------------------------------------------------------

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
    const QImage scaled = ProjectionPage::scaledToProjector(image, m_globalScaleX, m_globalScaleY);
    qDebug() << "projectImage(). set new image provider image. Image Size: " << scaled.width() << scaled.height();
    ProjectionPage::show(view, imageProvider, scaled);
    if (!g_options.framesDir.isEmpty())
        saveFrame();
}

void Client::saveFrame()
{
    if (!view)
        return;
    const QString path = ProjectionPage::framePath(g_options.framesDir, ++m_framesSaved);
    if (!ProjectionPage::saveFrame(view, path))
        qDebug() << "ERROR. Client::saveFrame. Cannot save frame: " << path;
}

void Client::setGlobalScale(double scaleX, double scaleY)
{
    m_globalScaleX = scaleX;
    m_globalScaleY = scaleY;
}

// ---- Print from disk --------------------------------------------------------

void Client::startPrintFromFile()
{
    m_printFileStarted = true;
    if (m_boardWaitTimer)
        m_boardWaitTimer->stop();
    // The fields are those of the desktop's job line, after its keyword.
    // The fields were checked before the job was loaded.
    m_currentJob.setFromString(QLatin1String(Message::kSendingPrintJob) + QLatin1Char(',') + g_options.jobFields);
    std::fprintf(stderr, "vatnode: printing %s, %d layers\n", qPrintable(g_options.printFile), m_currentJob.numImages);
    runPrintThread(&m_currentJob, nullptr);
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

// ---- Reports ----------------------------------------------------------------

void Client::sendCurrentPrintProgress(int layerNum, int percent, int timeLeft)
{
    qDebug() << "Client::sendCurrentPrintProgress start. is connected to server: " << (m_connected ? "true" : "false");
    m_lastLayer = layerNum;
    m_lastPercent = percent;
    m_lastTimeLeft = timeLeft;
    if (m_connected) {
        // File and resin names are free text: encoded, and never run through arg().
        const QStringList fields {QLatin1String(Message::kPrintProgress), QString::number(layerNum),
            QString::number(percent), QString::number(timeLeft), Protocol::encodeField(m_receivedFileName),
            Protocol::encodeField(m_currentJob.resinName), QString::number(m_currentJob.layerThickness)};
        sendString(fields.join(QLatin1String(Protocol::kSeparator)));
    }
    if (m_printFileStarted && !m_printFileEnded)
        std::fprintf(stderr, "vatnode: %d%% done, about %d min left\n", percent, timeLeft);
    qDebug() << "Client::sendCurrentPrintProgress end";
}

void Client::doneWithFMovement()
{
    qDebug() << "Client::doneWithFMovement";
    // A pause during the reset also ends in a finish movement: the printing thread
    // confirms that pause.
    if (m_threadStatus != PrintingThread::Finished || m_endOfPrintTiltPending)
        return;
    if (boardIsOldVersion) {
        // The older board ends a print (and its start-up) with the tank tilted up.
        m_endOfPrintTiltPending = true;
        m_terminal->tiltTankUp_Start();
        QTimer::singleShot(TimeScale::ms(1400), this, &Client::tiltTankUp_Stop);
    }
    // Only the final movement of a print ends it.
    if (!m_printActive)
        return;
    m_printActive = false;
    sendPrintDone();
    reportStatus();
    if (m_printFileStarted)
        endPrintFromFile(0, QStringLiteral("print done"));
}

void Client::sendPrintDone()
{
    if (m_connected)
        sendString(QLatin1String(Message::kPrintDone));
}

void Client::sendMessagePauseDone()
{
    m_pauseInProgress = false;
    sendString(QLatin1String(Message::kPauseDone));
}

void Client::sendMessageResumeDone()
{
    sendString(QLatin1String(Message::kResumeDone));
}

void Client::printingErrorDetected(int errorNum)
{
    qDebug() << "Client::printingErrorDetected - " << errorNum;
    sendString(QLatin1String(Message::kPrintingError) + QLatin1Char(',') + QString::number(errorNum));
    if (m_printFileStarted)
        endPrintFromFile(1, QStringLiteral("printing error %1: %2").arg(errorNum).arg(PrinterErrors::text(errorNum)));
}

// ---- Board ------------------------------------------------------------------

void Client::printerUSBConnected()
{
    qDebug() << "Client::printerUSBConnected";
    m_terminal->turnOffProjector();
    if (!boardIsOldVersion)
        m_terminal->turnOnMotors();
    resetPlatformAndTankOnBootup();
    if (!boardIsOldVersion) {
        if (m_isBroadcastingDirect)
            m_terminal->fadeLED(1000);
        else
            m_terminal->blinkLED(100, 1);
    }
    // A print from disk starts once the board has settled from its start-up
    // homing, so that the two never mix.
    if (!g_options.printFile.isEmpty() && !m_printFileStarted)
        QTimer::singleShot(TimeScale::ms(2000), this, [this] {
            if (!m_printFileStarted)
                startPrintFromFile();
        });
}

void Client::resetPlatformAndTankOnBootup()
{
    if (boardIsOldVersion) {
        m_printingThread->setStatus(PrintingThread::Finished);
        m_terminal->finishPrint();
        return;
    }
    resetPlatformAndTank();
    QTimer::singleShot(TimeScale::ms(1500), this, &Client::resetPlatformAndTank);
}

void Client::resetPlatformAndTank()
{
    m_terminal->resetPlatformAndTank();
}

void Client::movePlatformUp_Start()
{
    m_terminal->movePlatformUp_Start();
    QTimer::singleShot(TimeScale::ms(1000), this, &Client::movePlatformUp_Stop);
}

void Client::movePlatformDown_Start()
{
    m_terminal->movePlatformDown_Start();
    QTimer::singleShot(TimeScale::ms(1000), this, &Client::movePlatformDown_Stop);
}

void Client::tiltTankUp_Start()
{
    m_terminal->tiltTankUp_Start();
    QTimer::singleShot(TimeScale::ms(500), this, &Client::tiltTankUp_Stop);
}

void Client::tiltTankDown_Start()
{
    m_terminal->tiltTankDown_Start();
    QTimer::singleShot(TimeScale::ms(500), this, &Client::tiltTankDown_Stop);
}

void Client::movePlatformUp_Stop()
{
    m_terminal->movePlatformUp_Stop();
}

void Client::movePlatformDown_Stop()
{
    m_terminal->movePlatformDown_Stop();
}

void Client::tiltTankUp_Stop()
{
    m_terminal->tiltTankUp_Stop();
    m_endOfPrintTiltPending = false;
}

void Client::tiltTankDown_Stop()
{
    m_terminal->tiltTankDown_Stop();
}

void Client::turnOnMotors()
{
    m_terminal->turnOnMotors();
}

void Client::screenCountChanged()
{
    QMetaObject::invokeMethod(
        m_watchdog, "numScreensChanged", Qt::QueuedConnection, Q_ARG(int, QGuiApplication::screens().size()));
}
