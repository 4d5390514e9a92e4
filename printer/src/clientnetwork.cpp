// The session's side of the desktop protocol: discovery, connection,
// greeting and handshake, frames, heartbeat, the job stream and the
// dispatcher of the desktop's messages.
#include "client.h"

#include "crushedprintjob.h"
#include "jobstreamreceiver.h"
#include "messages.h"
#include "networkconfig.h"
#include "printererrors.h"
#include "printersettings.h"
#include "printingthread.h"
#include "protocol.h"
#include "ssj.h"
#include "terminal.h"
#include "timescale.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QStorageInfo>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <QVector>

#include <algorithm>

namespace {

// A Wi-Fi message carries the password: it is never logged in clear.
QString loggable(const QString &message)
{
    const QString marker = QLatin1String(Message::kNetworkInfo);
    if (!message.contains(marker))
        return message;
    QStringList pieces = message.split(marker);
    if (pieces.size() > 2)
        pieces[2] = NetworkConfig::maskedPassword(pieces[2]);
    return pieces.join(marker);
}

bool isSignedInteger(const QString &text)
{
    bool ok = false;
    text.toInt(&ok);
    return ok && !text.contains(QLatin1Char('+')) && !text.trimmed().isEmpty() && text.trimmed() == text;
}

} // namespace

// ---- Discovery and connection -----------------------------------------------

void Client::processDatagram()
{
    while (m_udpSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udpSocket->receiveDatagram(4096);
        const QByteArray data = datagram.data();
        qDebug() << "Client read datagram: " << Protocol::asciiUpToZero(data);
        QString ip;
        int port = 0;
        if (!Protocol::parseDatagram(data, &ip, &port)) {
            qDebug() << "ERROR. Client::processDatagram. Not an announcement";
            continue;
        }
        if (m_connected)
            continue;
        connectToServerViaDatagram(ip, port);
    }
}

void Client::connectToServerViaDatagram(const QString &ip, int port)
{
    qDebug() << "Client::connectToServerViaDatagram. Ip: " << ip << " port: " << port;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    auto *socket = new QTcpSocket(this);
    socket->connectToHost(QHostAddress(ip), quint16(port), QIODevice::ReadWrite);
    if (!socket->waitForConnected(Protocol::kConnectTimeoutMs)) {
        qDebug() << "Client::connectToServerViaDatagram. Timed out. Ignoring this IP.";
        socket->deleteLater();
        return;
    }
    adoptConnection(socket);
}

void Client::adoptConnection(QTcpSocket *socket)
{
    if (m_socket && m_socket != socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    socket->setParent(this);
    m_socket = socket;
    m_readState = AwaitingGreeting;
    m_connected = true;
    m_legacyCheckArmed = false;
    connect(m_socket, &QTcpSocket::readyRead, this, &Client::receivedNetworkMessage);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &Client::socketError);
    // A host that accepts the connection and never greets must not keep the printer
    // from every other desktop: it gets as long as a silent desktop does.
    if (!m_greetingTimer) {
        m_greetingTimer = new QTimer(this);
        m_greetingTimer->setSingleShot(true);
        connect(m_greetingTimer, &QTimer::timeout, this, &Client::greetingTimedOut);
    }
    m_greetingTimer->start(TimeScale::ms(Protocol::kHeartbeatTimeoutMs));
}

void Client::greetingTimedOut()
{
    if (!m_connected || m_readState != AwaitingGreeting)
        return;
    qDebug() << "NOTICE. Client::greetingTimedOut. No greeting within" << Protocol::kHeartbeatTimeoutMs
             << "ms. Closing the connection.";
    closeConnection();
}

void Client::socketError(QAbstractSocket::SocketError error)
{
    qDebug() << "Socket Error: " << error;
    m_connected = false;
    connectionAliveTimedOut();
}

void Client::closeConnection()
{
    if (m_greetingTimer)
        m_greetingTimer->stop();
    delete m_heartbeatTimeoutTimer;
    m_heartbeatTimeoutTimer = nullptr;
    delete m_heartbeatSendTimer;
    m_heartbeatSendTimer = nullptr;
    if (m_receiver) {
        // A transfer cut short leaves the previous job as it was.
        m_receiver->abort();
        m_receiver.reset();
    }
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->close();
    }
    m_connected = false;
    m_readState = AwaitingGreeting;
}

// ---- Reading ----------------------------------------------------------------

void Client::receivedNetworkMessage()
{
    if (!m_socket)
        return;
    qDebug() << "Client::receivedNetworkMessage. curServerReadFlags: " << m_readState;
    // Bytes of a stream keep the connection alive. Between messages only a whole
    // frame does: a frame that never completes, while the desktop's keep-alives
    // pile up behind it, would otherwise hold the session without a message
    // being handled, for ever.
    if (m_readState == ReceivingJob || m_readState == ReceivingUpdate)
        resetConnectionHeartbeatTimer();
    switch (m_readState) {
    case AwaitingGreeting:
        readHandshake();
        break;
    case ReceivingJob:
        receiveFile();
        break;
    case ReceivingUpdate:
        receiveUpdatedClient();
        break;
    default:
        readSerializedMessage();
        break;
    }
}

void Client::readHandshake()
{
    const QByteArray greeting = QByteArray(Protocol::kMarker) + Message::kGreeting;
    const QByteArray buffered = m_socket->peek(greeting.size());
    if (buffered.size() < greeting.size() && greeting.startsWith(buffered)) {
        // The greeting may come in several segments: wait for the rest.
        qDebug() << "Client::readHandshake. Greeting incomplete, bytes so far: " << buffered.size();
        return;
    }
    // A frame (it starts with a zero byte) is left to the frame reader, which closes the
    // connection on any message but the greeting; other bytes that cannot begin the
    // greeting are read and dropped.
    if (buffered == greeting || !buffered.startsWith('\0'))
        m_socket->read(buffered.size());
    const QString text = Protocol::asciiUpToZero(buffered);
    qDebug() << "Client::readHandshake. Read: " << text;
    if (buffered == greeting)
        handleGreeting();
    else
        qDebug() << "ERROR - Client::readHandshake(). Message read was not handshake. It was: " << text;
    m_legacyCheckArmed = true;
    if (m_socket && m_socket->bytesAvailable() > 0)
        readSerializedMessage();
}

void Client::handleGreeting()
{
    if (m_greetingTimer)
        m_greetingTimer->stop();
    m_reportedStatus = getPrintThreadStatus();
    sendString(Protocol::handshakeReply(m_serial, m_nickname, m_model, QString::number(version, 'g', 6),
        m_reportedStatus, Resin::toString(m_resins), m_wifiNames, Terminal::g_param));
    qDebug() << "Handshake Successful. Print thread status: " << m_reportedStatus;
    m_readState = Ready;
    startKeepAliveTimers();
}

void Client::readSerializedMessage()
{
    if (m_legacyCheckArmed) {
        m_legacyCheckArmed = false;
        if (Protocol::asciiUpToZero(m_socket->peek(m_socket->bytesAvailable()))
                .contains(QLatin1String(Protocol::kMarker))) {
            handleUnserializedMessage();
            return;
        }
    }
    // Every complete frame that is buffered is handled now: one that waited
    // for the next notification could wait for ever.
    while (m_socket && (m_readState == Ready || m_readState == AwaitingGreeting)) {
        QString text;
        const Protocol::FrameStatus status = Protocol::readFrame(m_socket, &text);
        if (status == Protocol::FrameStatus::Incomplete)
            return;
        if (status == Protocol::FrameStatus::Invalid) {
            qDebug() << "ERROR. Client::readSerializedMessage. Frame length not acceptable. Closing connection.";
            closeConnection();
            return;
        }
        resetConnectionHeartbeatTimer();
        for (const QString &message : Protocol::extractMessages(text)) {
            processMessage(message);
            if (!m_socket || !m_connected)
                return;
        }
    }
    // A message switched to receiving a stream: what follows it is stream.
    if (m_socket && m_socket->bytesAvailable() > 0) {
        if (m_readState == ReceivingJob)
            receiveFile();
        else if (m_readState == ReceivingUpdate)
            receiveUpdatedClient();
    }
}

void Client::handleUnserializedMessage()
{
    qDebug() << "Client::handleUnserializedMessage. The desktop sends unframed messages. Closing connection.";
    closeConnection();
}

// ---- Sending and heartbeat --------------------------------------------------

void Client::sendString(const QString &message)
{
    qDebug() << "sendString: " << message;
    if (!m_socket || !m_socket->isOpen()) {
        qDebug() << "Client::sendString. Not Connected";
        return;
    }
    m_socket->write(Protocol::frame(QLatin1String(Protocol::kMarker) + message));
    m_socket->flush();
    if (m_heartbeatSendTimer && m_heartbeatSendTimer->isActive())
        m_heartbeatSendTimer->start();
}

void Client::startKeepAliveTimers()
{
    delete m_heartbeatTimeoutTimer;
    delete m_heartbeatSendTimer;
    m_heartbeatTimeoutTimer = new QTimer(this);
    m_heartbeatTimeoutTimer->setInterval(TimeScale::ms(Protocol::kHeartbeatTimeoutMs));
    connect(m_heartbeatTimeoutTimer, &QTimer::timeout, this, &Client::connectionAliveTimedOut);
    m_heartbeatSendTimer = new QTimer(this);
    m_heartbeatSendTimer->setInterval(TimeScale::ms(Protocol::kHeartbeatIntervalMs));
    connect(m_heartbeatSendTimer, &QTimer::timeout, this, &Client::sendConnectionAliveMessage);
    m_heartbeatTimeoutTimer->start();
    m_heartbeatSendTimer->start();
}

void Client::resetConnectionHeartbeatTimer()
{
    if (m_heartbeatTimeoutTimer && m_heartbeatTimeoutTimer->isActive())
        m_heartbeatTimeoutTimer->start();
}

void Client::sendConnectionAliveMessage()
{
    sendString(QLatin1String(Message::kKeepAlive));
    if (m_heartbeatSendTimer)
        m_heartbeatSendTimer->start();
}

void Client::connectionAliveTimedOut()
{
    qDebug() << "Client::connectionAliveTimedOut";
    closeConnection();
}

// ---- Job stream -------------------------------------------------------------

void Client::resetFileTransferVariables()
{
    if (m_receiver)
        m_receiver->abort();
    m_receiver.reset();
    limitStreamReadBuffer(false);
}

void Client::limitStreamReadBuffer(bool streaming)
{
    // A stream is read piece by piece as it arrives: a bounded socket buffer keeps each
    // read small enough to stay in the processor's cache, which roughly doubles the rate
    // on loopback. Messages need the whole frame buffered, so the bound goes with the stream.
    if (m_socket)
        m_socket->setReadBufferSize(streaming ? 256 * 1024 : 0);
}

void Client::processPrintJob(const QString &message)
{
    qDebug() << "Process PrintJobs";
    m_currentJob = PrintJob();
    m_currentJob.setFromString(message);
    m_currentJob.printInfo();
}

void Client::receiveFile()
{
    qDebug() << "Client::receiveFile. Start";
    if (!m_socket)
        return;
    // Keep-alive frames sent just before the stream are skipped; the stream
    // bytes behind them are read at once.
    while (JobStreamReceiver::consumeKeepAlive(m_socket))
        qDebug() << "Client::receiveFile. pendingMessage Is YES KeepAlive\n\n\n";
    if (!m_receiver) {
        m_receiver = std::make_unique<JobStreamReceiver>(jobFileName);
        m_receiver->setMaxBytes(QStorageInfo(QDir::currentPath()).bytesAvailable());
        limitStreamReadBuffer(true);
    }
    const JobStreamReceiver::Result result = m_receiver->feed(m_socket);
    if (result == JobStreamReceiver::NeedMore)
        return;
    if (result == JobStreamReceiver::Failed) {
        qDebug() << "ERROR. Client::receiveFile. " << m_receiver->errorString() << " Closing connection.";
        closeConnection();
        return;
    }
    m_receivedFileName = m_receiver->fileName();
    m_receiver.reset();
    limitStreamReadBuffer(false);
    m_readState = Ready;
    loadReceivedJobAndPrint();
    if (m_socket && m_socket->bytesAvailable() > 0)
        readSerializedMessage();
}

void Client::loadReceivedJobAndPrint()
{
    // A job that does not load whole is not printed, and the job loaded
    // before stays loaded (a reprint still prints it). It is read once, and
    // handed over only while no print reads the loaded one.
    auto job = std::make_unique<CrushedPrintJob>();
    QFile file(jobFileName);
    if (!job->loadCPJ(&file)) {
        qDebug() << "ERROR. Client::loadReceivedJobAndPrint. Job file cannot be printed: " << job->errorString();
        printingErrorDetected(PrinterErrors::JobUnreadable);
        return;
    }
    if (refuseWhileBusy("Client::loadReceivedJobAndPrint", QLatin1String(Message::kSendingPrintJob)))
        return;
    SSJ::adopt(std::move(job));
    m_lastJob = m_currentJob;
    m_haveLastJob = true;
    runPrintThread(&m_lastJob, nullptr);
}

void Client::runPrintThread(PrintJob *job, SSJ *ssj)
{
    // The job is read on the printing thread from now on; the session changes neither
    // it nor the loaded layers until the print has ended. The G parameter goes with it,
    // queued ahead of the job, so that the printing thread never reads the board link's.
    m_printActive = true;
    m_threadStatus = PrintingThread::Printing;
    const int g = Terminal::gParameterNumber();
    PrintingThread *printing = m_printingThread;
    QMetaObject::invokeMethod(
        printing, [printing, g] { printing->setGParameter(g); }, Qt::QueuedConnection);
    emit sendRunPrintJob(job, ssj);
    reportStatus();
}

void Client::reprint()
{
    if (!m_haveLastJob) {
        qDebug() << "NOTICE. Client::reprint. No job to print again";
        sendRefusal(QLatin1String(Message::kReprint), QStringLiteral("No job was received to print again"));
        return;
    }
    m_currentJob = m_lastJob;
    runPrintThread(&m_lastJob, nullptr);
}

void Client::receiveUpdatedClient()
{
    if (!m_socket)
        return;
    // A keep-alive frame in front of the stream must not end up in the
    // program file.
    while (JobStreamReceiver::consumeKeepAlive(m_socket))
        qDebug() << "Client::receiveUpdatedClient. Keep-alive message skipped";
    if (!m_receiver) {
        m_receiver = std::make_unique<JobStreamReceiver>(updateFileName);
        m_receiver->setMaxBytes(QStorageInfo(QDir::currentPath()).bytesAvailable());
        limitStreamReadBuffer(true);
    }
    const JobStreamReceiver::Result result = m_receiver->feed(m_socket);
    qDebug() << "Client::receiveUpdatedClient Receive File. Bytes Received: " << m_receiver->received() << "/"
             << m_receiver->total();
    if (result == JobStreamReceiver::NeedMore)
        return;
    if (result == JobStreamReceiver::Failed) {
        qDebug() << "ERROR. Client::receiveUpdatedClient. " << m_receiver->errorString();
        closeConnection();
        return;
    }
    m_receiver.reset();
    limitStreamReadBuffer(false);
    qDebug() << "Client::receiveUpdatedClient. Done receiving update";
    runUpdateScript();
}

// ---- Dispatcher -------------------------------------------------------------

void Client::processMessage(const QString &message)
{
    if (m_readState == AwaitingGreeting) {
        if (message == QLatin1String(Message::kGreeting)) {
            handleGreeting();
            return;
        }
        qDebug() << "NOTICE: Unsuccesful handshake with server. Received: " << loggable(message);
        closeConnection();
        return;
    }
    if (m_readState != Ready)
        return;
    qDebug() << "Client. Process Read Server: " << loggable(message);
    dispatch(message);
}

// One row of the dispatcher: the message it handles, how its name is recognised, whether
// it waits while the printer is busy (busyReason()), and what it does.
struct Client::Route {
    enum Busy {
        Allowed, // carried out whatever the printer does
        RefusedAsNamed, // refused while busy, as the request of this row's name
        RefusedAsSent, // refused while busy, as the request in the message's field 0
    };
    const char *name;
    Message::Match match;
    Busy busy;
    // Without a handler the row only refuses: it matches while the printer is busy only.
    void (*handle)(Client &client, const QString &message);
};

const QVector<Client::Route> &Client::routes()
{
    using M = Message::Match;
    using R = Route;
    // Tried in this order; the first row that matches handles the message.
    static const QVector<Route> table = {
        {Message::kSendingPrintJob, M::Contains, R::RefusedAsNamed,
            [](Client &c, const QString &m) { c.acceptJobLine(m); }},
        {Message::kUpdatedClient, M::Contains, R::RefusedAsNamed,
            [](Client &c, const QString &) { c.acceptUpdateOffer(); }},
        {Message::kResinData, M::Contains, R::Allowed, [](Client &c, const QString &m) { c.processSentResinData(m); }},
        {Message::kNetworkInfo, M::Contains, R::RefusedAsNamed,
            [](Client &c, const QString &m) { c.processSentNetworkData(m); }},
        {Message::kRequestProgress, M::Equals, R::Allowed,
            [](Client &c, const QString &) {
                c.sendCurrentPrintProgress(c.m_lastLayer, c.m_lastPercent, c.m_lastTimeLeft);
            }},
        {Message::kPausePrint, M::Equals, R::Allowed, [](Client &c, const QString &) { emit c.pausePrint(); }},
        {Message::kCancelPrint, M::Equals, R::Allowed, [](Client &c, const QString &) { emit c.cancelPrint(); }},
        // The printing thread confirms or refuses it.
        {Message::kResumePrint, M::Equals, R::Allowed, [](Client &c, const QString &) { emit c.resumePrint(); }},
        {Message::kNewNickname, M::Contains, R::Allowed, [](Client &c, const QString &m) { c.processNewNickname(m); }},
        // The platform and the vat are the print's while it runs; so are the projector and
        // the board's moves, below.
        {Message::kPlatformUp, M::Contains, R::RefusedAsSent,
            [](Client &c, const QString &) { c.movePlatformUp_Start(); }},
        {Message::kPlatformDown, M::Contains, R::RefusedAsSent,
            [](Client &c, const QString &) { c.movePlatformDown_Start(); }},
        {Message::kTiltUp, M::Contains, R::RefusedAsSent, [](Client &c, const QString &) { c.tiltTankUp_Start(); }},
        {Message::kTiltDown, M::Contains, R::RefusedAsSent, [](Client &c, const QString &) { c.tiltTankDown_Start(); }},
        {Message::kReprint, M::Contains, R::RefusedAsNamed,
            [](Client &c, const QString &) {
                c.reprint();
                c.m_readState = Ready;
            }},
        {Message::kResetNetwork, M::Contains, R::RefusedAsNamed,
            [](Client &c, const QString &) {
                if (!c.hasEthernetConnection())
                    c.forceDeployDirectNetwork();
            }},
        {Message::kQuitClient, M::Contains, R::RefusedAsNamed,
            [](Client &, const QString &) { QCoreApplication::quit(); }},
        // A board command is refused here, with the QA requests, before the rows between.
        {Message::kBoardCommand, M::Contains, R::RefusedAsSent, nullptr},
        {Message::kQaGCommand, M::Contains, R::RefusedAsSent,
            [](Client &c, const QString &) { c.m_terminal->sendGCommand_forQA(); }},
        {Message::kQaG0, M::Contains, R::RefusedAsSent,
            [](Client &c, const QString &) { c.m_terminal->sendGCommand_forQA(); }},
        {Message::kQaProjectGrid, M::Contains, R::RefusedAsSent,
            [](Client &c, const QString &) { c.projectCalibration(false); }},
        {Message::kQaProjectBlue, M::Contains, R::RefusedAsSent,
            [](Client &c, const QString &) { c.projectCalibration(true); }},
        {Message::kQaTurnOffProjector, M::Contains, R::RefusedAsSent,
            [](Client &c, const QString &) { c.m_terminal->turnOffProjector(); }},
        {Message::kNewSerialAndModel, M::Contains, R::Allowed,
            [](Client &c, const QString &m) { c.processNewSerialAndModel(m); }},
        {Message::kKeepAlive, M::Contains, R::Allowed,
            [](Client &, const QString &) {
                qDebug() << "Client::processReadServer - Connection alive message received";
            }},
        {Message::kRequestGrayscale, M::Contains, R::Allowed,
            [](Client &c, const QString &) { c.sendGrayscaleGridInChunks(); }},
        {Message::kNewGrayscale, M::Contains, R::Allowed, [](Client &c, const QString &m) { c.setGrayscaleChunk(m); }},
        {Message::kGParameter, M::Contains, R::Allowed,
            [](Client &c, const QString &m) { c.setGParameter(m.split(QLatin1Char(',')).value(1), false); }},
        {Message::kFactoryGParameter, M::Contains, R::Allowed,
            [](Client &c, const QString &m) { c.setGParameter(m.split(QLatin1Char(',')).value(1), true); }},
        {Message::kResetGParameter, M::Contains, R::Allowed,
            [](Client &c, const QString &) { c.resetGParameterToFactory(); }},
        {Message::kBoardCommand, M::Contains, R::Allowed, [](Client &c, const QString &m) { c.runBoardCommand(m); }},
    };
    return table;
}

void Client::dispatch(const QString &message)
{
    for (const Route &route : routes()) {
        if (!Message::matches(message, route.name, route.match))
            continue;
        if (!route.handle && busyReason().isEmpty())
            continue;
        if (route.busy != Route::Allowed) {
            const QString request = route.busy == Route::RefusedAsNamed ? QString::fromLatin1(route.name)
                                                                        : message.split(QLatin1Char(',')).value(0);
            if (refuseWhileBusy("Client::processMessage", request))
                return;
        }
        if (route.handle)
            route.handle(*this, message);
        return;
    }
    qDebug() << "ERROR. ProcessReadServer. Unrecognized message: " << message;
    m_legacyCheckArmed = true;
}

void Client::acceptJobLine(const QString &message)
{
    const QString problem = PrintJob::lineProblem(message);
    if (!problem.isEmpty()) {
        qDebug() << "ERROR. Client::processMessage. Print job refused: " << problem << ". Line: " << message;
        sendString(
            QLatin1String(Message::kPrintingError) + QLatin1Char(',') + QString::number(PrinterErrors::JobUnreadable));
        return;
    }
    m_readState = ReceivingJob;
    resetFileTransferVariables();
    processPrintJob(message);
    sendString(QLatin1String(Message::kFileTransfer));
}

void Client::acceptUpdateOffer()
{
    if (!options().allowNetworkUpdate) {
        qDebug() << "NOTICE. Client. Program update over the connection refused: not enabled on this printer";
        return;
    }
    m_readState = ReceivingUpdate;
    resetFileTransferVariables();
    sendString(QLatin1String(Message::kRequestUpdate));
}

void Client::projectCalibration(bool white)
{
    m_terminal->turnOnProjector();
    if (!white) {
        projectImage(QImage(QStringLiteral(":/images/100micronprojectcalibrationgrid.png")));
        return;
    }
    QImage image(1280, 800, QImage::Format_RGB32);
    image.fill(QColor(QStringLiteral("white")));
    projectImage(image);
}

void Client::setGrayscaleChunk(const QString &message)
{
    const QLatin1String name(Message::kNewGrayscale);
    m_grid.setFromJSONString(message.mid(int(message.indexOf(name)) + name.size() + 1));
}

void Client::resetGParameterToFactory()
{
    const QString factory = m_settings->contains(QStringLiteral("factoryGParameter"))
        ? m_settings->value(QStringLiteral("factoryGParameter")).toString()
        : QStringLiteral("g0");
    if (storeOrRefuse(QLatin1String(Message::kResetGParameter), QStringLiteral("gParameter"), factory))
        Terminal::g_param = factory;
}

void Client::setGParameter(const QString &value, bool factory)
{
    // Only a whole number makes a G parameter the board understands.
    if (!isSignedInteger(value)) {
        qDebug() << "ERROR. Client. G parameter is not a whole number: " << value;
        return;
    }
    const QString request = factory ? QLatin1String(Message::kFactoryGParameter) : QLatin1String(Message::kGParameter);
    const QString parameter = QStringLiteral("g") + value;
    if (!storeOrRefuse(request, QStringLiteral("gParameter"), parameter))
        return;
    Terminal::g_param = parameter;
    if (factory) {
        storeOrRefuse(request, QStringLiteral("factoryGParameter"), parameter);
        qDebug() << "Client - Factory GParam Received. G Val: " << Terminal::g_param;
    } else {
        qDebug() << "Client - newGParam Received. G Val: " << Terminal::g_param;
    }
}

void Client::runBoardCommand(const QString &message)
{
    const QString command = message.split(QLatin1Char(',')).value(1);
    if (command.isEmpty())
        return;
    const QChar c = command.at(0).toLower();
    const QString rest = command.mid(1);
    qDebug() << "First char: " << c << " lastChar: " << rest;
    // A letter alone is no value: "g" as the homing line would never be answered.
    const bool digitsOnly = !rest.isEmpty() && std::all_of(rest.begin(), rest.end(), [](QChar ch) {
        return ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
    });
    if (digitsOnly) {
        switch (c.toLatin1()) {
        case 'd':
            Terminal::d_param = QStringLiteral("D") + rest;
            break;
        case 'e':
            Terminal::e_param = QStringLiteral("E") + rest;
            break;
        case 'j':
            Terminal::j_param = QStringLiteral("J") + rest;
            break;
        case 'k':
            Terminal::k_param = QStringLiteral("K") + rest;
            break;
        case 'l':
            Terminal::l_param = QStringLiteral("L") + rest;
            break;
        case 'w':
            Terminal::w_param = QStringLiteral("W") + rest;
            break;
        case 'x':
            Terminal::x_param = QStringLiteral("X") + rest;
            break;
        case 'g':
            Terminal::g_param = QStringLiteral("g") + rest;
            break;
        default:
            break;
        }
    }
    m_terminal->writeOnSerial(command);
}

void Client::sendGrayscaleGridInChunks()
{
    for (const QString &chunk : m_grid.getJSONChunks())
        sendString(QLatin1String(Message::kNewGrayscale) + QLatin1Char(',') + chunk);
}

// ---- Data from the desktop --------------------------------------------------

void Client::processSentResinData(const QString &message)
{
    const QString text = message.split(QLatin1String(Message::kResinData)).value(1);
    // Every profile begins with "*": a text without one would leave the printer with
    // no profiles at all.
    if (!text.contains(QLatin1Char('*'))) {
        qDebug() << "ERROR. Client::processSentResinData. Resin list without any profile refused; the stored list "
                    "stays. Text: "
                 << text.left(200);
        sendRefusal(QLatin1String(Message::kResinData), QStringLiteral("The resin list has no profiles"));
        return;
    }
    if (Resin::isOldResinFormat(text)) {
        qDebug() << "Client::processSentResinData. Old resin format refused. Closing connection.";
        connectionAliveTimedOut();
        return;
    }
    QList<Resin> resins = Resin::fromString(text);
    // The list travels inside the comma-separated handshake: no name may carry a comma.
    for (Resin &resin : resins)
        resin.name.replace(QLatin1Char(','), QLatin1Char(' '));
    if (storeOrRefuse(QLatin1String(Message::kResinData), QStringLiteral("resinData"), Resin::toString(resins)))
        m_resins = resins;
}

void Client::processNewNickname(const QString &message)
{
    const QStringList fields = message.split(QLatin1Char(','));
    if (fields.size() < 2)
        return;
    const QString nickname = Protocol::decodeField(fields.at(1));
    if (storeOrRefuse(QLatin1String(Message::kNewNickname), QStringLiteral("printerNickName"), nickname))
        m_nickname = nickname;
}

void Client::processNewSerialAndModel(const QString &message)
{
    const QStringList fields = message.split(QLatin1Char(','));
    if (fields.size() < 3) {
        qDebug() << "ERROR. Client::processNewSerialAndModel. Serial and model expected: " << message;
        return;
    }
    const QString serial = Protocol::decodeField(fields.at(1));
    const QString model = Protocol::decodeField(fields.at(2));
    if (!storeOrRefuse(QLatin1String(Message::kNewSerialAndModel), QStringLiteral("printerModel"), model)
        || !storeOrRefuse(QLatin1String(Message::kNewSerialAndModel), QStringLiteral("printerSerial"), serial)) {
        storeSetting(QStringLiteral("printerModel"), m_model);
        return;
    }
    m_serial = serial;
    m_model = model;
    boardIsOldVersion = m_model.contains(QLatin1String("OLD"), Qt::CaseInsensitive);
    m_terminal->setRetrofitBoard(boardIsOldVersion);
    saveDirectNetworkSettings(determineDirectNetworkName(), QString::fromLatin1(NetworkConfig::accessPointPassPhrase));
}

void Client::processSentNetworkData(const QString &message)
{
    const QStringList pieces = message.split(QLatin1String(Message::kNetworkInfo));
    if (pieces.size() < 4) {
        qDebug() << "ERROR. Client::processSentNetworkData. Name, password and type expected";
        return;
    }
    saveNetworkInfo(pieces.at(1), pieces.at(2), pieces.at(3));
}
