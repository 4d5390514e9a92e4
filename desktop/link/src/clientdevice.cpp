#include "clientdevice.h"

#include "printererrors.h"

#include "protocol.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QMutex>
#include <QMutexLocker>
#include <QTcpSocket>
#include <QTimer>

#include <atomic>

namespace {

const QString kSendingPrintJob = QStringLiteral("Status_SendingPrintJob");
const QString kResinData = QStringLiteral("Send_ResinData");
const QString kNetworkInfo = QStringLiteral("Send_NetworkInfo");
const QString kJunkTypeName = QStringLiteral("Junk Type Name");
const QString kRequestProgress = QStringLiteral("Request_PrintProgress");
const QString kPrintProgress = QStringLiteral("Send_PrintProgress");
const QString kPrintDone = QStringLiteral("Send_PrintDone");
const QString kFileTransfer = QStringLiteral("Client_Request_FileTransfer");
const QString kRequestUpdate = QStringLiteral("Request_Update");
const QString kPrintingError = QStringLiteral("Send_PrintingError");
const QString kPauseDone = QStringLiteral("Send_PauseMovementDone");
const QString kResumeDone = QStringLiteral("Send_ResumeMovementDone");
const QString kPause = QStringLiteral("Request_PausePrint");
const QString kResume = QStringLiteral("Request_ResumePrint");
const QString kCancel = QStringLiteral("Request_CancelPrint");
const QString kNewGrayscale = QStringLiteral("Send_NewGrayscale");

std::atomic<double> s_timeScale {1.0};

QMutex s_sshMutex;
bool s_sshSettingsSet = false;
SshSettings s_sshSettings;
QString s_updateProgramPath;
QString s_updateScriptPath;

QString besideProgram(const QString &fileName)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + fileName;
}

int scaled(int ms)
{
    return qMax(1, static_cast<int>(ms * s_timeScale.load()));
}

bool isHandshakeMessage(const QString &message)
{
    const QStringList fields = message.split(QLatin1Char(','));
    return fields.size() >= 6 && fields.at(0) == QLatin1String(Protocol::kHandshakeName);
}

} // namespace

ClientDevice::ClientDevice(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientDevice::readClientMessage);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &ClientDevice::bytesWereWritten);
    m_socket->write(Protocol::rawFrame(QLatin1String(Protocol::kMarker) + QLatin1String(Protocol::kGreeting)));
    m_socket->flush();
}

ClientDevice::~ClientDevice() = default;

void ClientDevice::setTimeScale(double scale)
{
    s_timeScale = scale > 0.0 ? scale : 1.0;
}

double ClientDevice::timeScale()
{
    return s_timeScale.load();
}

void ClientDevice::setSshSettings(const SshSettings &settings)
{
    QMutexLocker locker(&s_sshMutex);
    s_sshSettings = settings;
    s_sshSettingsSet = true;
}

SshSettings ClientDevice::sshSettings()
{
    QMutexLocker locker(&s_sshMutex);
    return s_sshSettingsSet ? s_sshSettings : SshSettings::fromEnvironment();
}

void ClientDevice::setUpdateFiles(const QString &programPath, const QString &scriptPath)
{
    QMutexLocker locker(&s_sshMutex);
    s_updateProgramPath = programPath;
    s_updateScriptPath = scriptPath;
}

QString ClientDevice::updateProgramPath()
{
    QMutexLocker locker(&s_sshMutex);
    return s_updateProgramPath.isEmpty() ? besideProgram(QStringLiteral("Vatnode")) : s_updateProgramPath;
}

QString ClientDevice::updateScriptPath()
{
    QMutexLocker locker(&s_sshMutex);
    return s_updateScriptPath.isEmpty() ? besideProgram(QStringLiteral("VatnodeUpdateScript")) : s_updateScriptPath;
}

QString ClientDevice::sshHost() const
{
    return SshLink::hostForPeerAddress(m_socket->peerAddress().toString());
}

bool ClientDevice::sendUpdatedClientPayload()
{
    const QString program = updateProgramPath();
    const QString script = updateScriptPath();
    m_jobFilePath = program;
    const QString host = sshHost();
    qDebug() << "ClientDevice::sendUpdatedClientPayload. Updating the printer program of serial" << m_serial << "at"
             << host;

    const bool programExists = QFileInfo::exists(program);
    const bool scriptExists = QFileInfo::exists(script);
    if (!programExists || !scriptExists) {
        qDebug().nospace() << "ERROR -- ClientDevice::sendUpdatedClientPayload. Required files missing. Updated "
                              "Client Exists: "
                           << programExists << " Update script exists: " << scriptExists;
        emit sendMessageToGUI(QStringLiteral("The printer %1 needs a software update, but the update files are "
                                             "missing: %2")
                                  .arg(m_serial, QDir::toNativeSeparators(programExists ? script : program)));
        return false;
    }
    SshLink link(sshSettings());
    if (!link.connectTo(host)) {
        emit sendMessageToGUI(QStringLiteral("The printer %1 needs a software update, but it could not be "
                                             "reached over SSH. %2")
                                  .arg(m_serial, link.errorString()));
        return false;
    }
    if (!link.uploadUpdate(program, script)) {
        emit sendMessageToGUI(
            QStringLiteral("The software update of printer %1 failed. %2").arg(m_serial, link.errorString()));
        return false;
    }
    link.closeChannel();
    qDebug() << "ClientDevice::sendUpdatedClientPayload. Update installed on serial" << m_serial;
    emit broadcastIP();
    return true;
}

bool ClientDevice::downloadPrinterFiles(const QString &location)
{
    if (!QDir().mkpath(location)) {
        qDebug() << "ERROR. ClientDevice::downloadPrinterFiles. Could not create" << location;
        emit sendMessageToGUI(
            QStringLiteral("Could not create the folder %1.").arg(QDir::toNativeSeparators(location)));
        return false;
    }
    const SshSettings settings = sshSettings();
    const QString home
        = settings.remoteHome.endsWith(QLatin1Char('/')) ? settings.remoteHome : settings.remoteHome + QLatin1Char('/');
    const QList<QPair<QString, QString>> files = {
        {home + QStringLiteral("Tessora_Client_Config"), QStringLiteral("OrbelleConfig")},
        {home + QStringLiteral("LogFile_Vatnode"), QStringLiteral("LogFileOB")},
    };
    bool allFetched = true;
    for (const auto &file : files) {
        SshLink link(settings);
        if (!link.connectTo(sshHost()) || !link.downloadFile(file.first, location + QLatin1Char('/') + file.second)) {
            emit sendMessageToGUI(
                QStringLiteral("Could not fetch %1 from printer %2. %3").arg(file.first, m_serial, link.errorString()));
            allFetched = false;
        }
    }
    return allFetched;
}

QList<Resin> ClientDevice::desktopDefaultResinList()
{
    QList<Resin> list = Resin::defaultResinList();
    for (Resin &resin : list) {
        if (resin.name == QLatin1String("White")) {
            resin.c20 = 5.0;
            resin.c50 = 10.0;
            resin.c100 = 15.0;
        }
    }
    return list;
}

QString ClientDevice::errorText(int errorNum)
{
    return PrinterErrors::text(errorNum);
}

QString ClientDevice::statusName() const
{
    switch (m_status) {
    case Printing:
        return QLatin1String(Protocol::kStatusPrinting);
    case Paused:
        return QLatin1String(Protocol::kStatusPaused);
    case Ready:
        break;
    }
    return QLatin1String(Protocol::kStatusReady);
}

QStringList ClientDevice::resinDataAsStringList() const
{
    QStringList out;
    for (const Resin &r : m_resins) {
        out << r.name;
        for (double v : {r.a20, r.a50, r.a100, r.c20, r.c50, r.c100})
            out << QString::number(v, 'g', 6);
    }
    return out;
}

bool ClientDevice::hasResin(const QString &name) const
{
    for (const Resin &r : m_resins) {
        if (r.name == name)
            return true;
    }
    return false;
}

Resin ClientDevice::getResinFromName(const QString &name) const
{
    for (const Resin &r : m_resins) {
        if (r.name == name)
            return r;
    }
    qDebug() << "ERROR. ClientDevice::getResinFromName - resin not found: " << name;
    return Resin(QStringLiteral("ResinERROR"));
}

// ---- reading ---------------------------------------------------------------------------

void ClientDevice::readClientMessage()
{
    if (isMessageUnserialized())
        readUnserializedMessage();
    else
        readSerializedMessages();
}

bool ClientDevice::isMessageUnserialized()
{
    if (m_framingDecided)
        return m_legacy;
    // A framed printer's bytes start with the high byte of N, zero: the copy reads empty.
    const QString text = Protocol::asciiUpToZero(m_socket->peek(m_socket->bytesAvailable()));
    m_legacy = false;
    const QStringList messages = Protocol::extractMessages(text);
    for (const QString &message : messages) {
        if (isHandshakeMessage(message))
            m_legacy = true;
    }
    return m_legacy;
}

void ClientDevice::readUnserializedMessage()
{
    restartHeartbeatTimeout();
    const QString text = Protocol::asciiUpToZero(m_socket->readAll());
    qDebug() << "ClientDevice::readUnserializedMessage: " << text;
    const QStringList messages = Protocol::extractMessages(text);
    for (const QString &message : messages) {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        processMessage(message);
    }
}

void ClientDevice::readSerializedMessages()
{
    qDebug() << "ClientDevice::readSerializedMessage. Start.";
    restartHeartbeatTimeout();
    // Every complete frame buffered now is handled in this notification.
    while (m_socket->state() == QAbstractSocket::ConnectedState) {
        QString text;
        const Protocol::FrameStatus status = Protocol::readFrame(m_socket, &text);
        if (status == Protocol::FrameStatus::Invalid) {
            qWarning() << "ERROR. ClientDevice::readSerializedMessage. Invalid frame length"
                       << "from serial" << m_serial << "- dropping the printer";
            stopHeartbeat();
            finishFile();
            m_socket->disconnect(this);
            m_socket->abort();
            emit protocolError();
            return;
        }
        if (status != Protocol::FrameStatus::Complete)
            return;
        qDebug() << "ClientDevice::readSerializedMessage " << text;
        const QStringList messages = Protocol::extractMessages(text);
        for (const QString &message : messages) {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                return;
            processMessage(message);
        }
    }
}

// ---- dispatcher ------------------------------------------------------------------------

void ClientDevice::processMessage(const QString &message)
{
    m_framingDecided = true;
    qDebug() << "ClientDevice::processMessage: " << loggable(message);
    const QStringList fields = message.split(QLatin1Char(','));
    const QString &name = fields.at(0);

    if (name == QLatin1String(Protocol::kHandshakeName)) {
        handleHandshake(fields);
    } else if (name == kPrintProgress) {
        m_lastLayer = fields.value(1).toInt();
        m_lastPercent = fields.value(2).toInt();
        m_lastTimeLeft = fields.value(3).toInt();
        const QString ssjName = fields.value(4);
        const QString resinName = fields.value(5);
        const int thickness = fields.value(6).toInt();
        qDebug() << "ClientDevice: PrintProgress. ssj name: " << ssjName << " resinName: " << resinName
                 << " Layer thickness: " << thickness;
        emit printProgressGUI(m_lastLayer, m_lastPercent, m_lastTimeLeft, ssjName, resinName, thickness);
    } else if (name == kPrintDone) {
        m_status = Ready;
        m_sincePrintDone.restart();
        emit printDoneGUI();
    } else if (name == kFileTransfer) {
        sendSSJHeaders();
    } else if (name == kRequestUpdate) {
        qDebug() << "ClientDevice::processMessage. Update requested by serial" << m_serial;
        emit updateRequested(m_serial);
        sendUpdatedClientPayload();
    } else if (name == kPrintingError) {
        m_lastError = fields.value(1).toInt();
        qDebug() << "Printing Error: " << m_lastError << errorText(m_lastError);
        emit transmit_receivedPrinterError(m_lastError);
    } else if (name == kPauseDone) {
        qDebug() << "Client device. received pause movement done";
        emit pauseCompleted();
    } else if (name == kResumeDone) {
        qDebug() << "Client device. received resume movement done";
        emit resumeCompleted();
    } else if (name == kPause) {
        qDebug() << "Client Device. button pause started";
        emit pauseStarted();
    } else if (name == kResume) {
        qDebug() << "Client Device. button resume started";
        emit resumeStarted();
    } else if (name == kCancel) {
        qDebug() << "Client Device. button cancel print";
        emit printCancelled();
    } else if (name == QLatin1String(Protocol::kKeepAlive)) {
        qDebug() << "Client Device. Received keep alive message.";
    } else if (name == kNewGrayscale) {
        // A grayscale grid from the printer is not used by the desktop.
    } else {
        qDebug() << "ERROR. ClientDevice::processMessage. Unrecognized first word in message "
                    "from Client. Message: "
                 << message << " For Serial: " << m_serial;
    }
}

void ClientDevice::handleHandshake(const QStringList &fields)
{
    m_serial = fields.value(1);
    m_nickname = fields.value(2);
    m_model = fields.value(3);
    m_version = fields.value(4).toDouble();
    qDebug() << "ClientDevice handshake. Version: " << m_version << " Model: " << m_model;

    if (m_model.contains(QLatin1String("pro"), Qt::CaseInsensitive)) {
        qDebug() << "ClientDevice::processMessage. Attempted to connect to pro -- disconnecting";
        m_socket->close();
        return;
    }

    const QString status = fields.value(5);
    if (status == QLatin1String(Protocol::kStatusPaused))
        m_status = Paused;
    else if (status == QLatin1String(Protocol::kStatusPrinting))
        m_status = Printing;
    else
        m_status = Ready;

    if (!Protocol::isAcceptedVersion(m_version)) {
        if (m_status == Ready) {
            qDebug() << "ClientDevice::processMessage. Printer version" << m_version
                     << "outside the accepted window; update requested for serial" << m_serial;
            emit updateRequested(m_serial);
            sendUpdatedClientPayload();
            return;
        }
        emit sendMessageToGUI(updateNotice);
    }

    startHeartbeat();

    const QString resinText = fields.value(6);
    m_resins = Resin::fromString(resinText);
    if (resinText.isEmpty()) {
        qDebug() << "ERROR. ClientDevice::processMessage. Resin list was size 0. Sending "
                    "default resin times";
        sendResins(desktopDefaultResinList());
    }
    m_wifiNames = fields.value(7).split(QLatin1String(Protocol::kWifiSeparator));
    m_gParameter = fields.size() >= 9 ? fields.at(8).mid(1).toInt() : 0;

    m_handshakeCompleted = true;
    // Decided before the signal: a receiver may start a print at once, and a
    // progress request sent after its job line would land in the job stream.
    const bool printingAtHandshake = m_status == Printing;
    emit handshakeCompleted(m_serial, m_nickname, statusName());
    if (printingAtHandshake)
        sendSerializedString(kRequestProgress);
    qDebug() << "ClientDevice. Completed handshake. Serial: " << m_serial << " NickName: " << m_nickname;
}

// ---- sending ---------------------------------------------------------------------------

QString ClientDevice::loggable(const QString &message) const
{
    if (!message.contains(kNetworkInfo))
        return message;
    QStringList pieces = message.split(kNetworkInfo);
    if (pieces.size() > 2)
        pieces[2] = QString(pieces.at(2).size(), QLatin1Char('*'));
    return pieces.join(kNetworkInfo);
}

void ClientDevice::sendSerializedString(const QString &message)
{
    if (m_legacy) {
        sendUnserializedString(message);
    } else {
        const QString text = QLatin1String(Protocol::kMarker) + message;
        qDebug() << "ClientDevice::sendSerializedString: " << loggable(text) << "Client with serial: " << m_serial;
        m_socket->write(Protocol::frame(text));
        m_socket->flush();
    }
    restartHeartbeatSend();
}

void ClientDevice::sendUnserializedString(const QString &message)
{
    const QString text = QLatin1String(Protocol::kMarker) + message;
    qDebug() << "ClientDevice::sendUnserializedString: " << loggable(text) << "Client with serial: " << m_serial;
    m_socket->write(Protocol::rawFrame(text));
    m_socket->flush();
}

void ClientDevice::sendPrintJob(const PrintJob &job)
{
    m_job = job;
    m_status = Printing;
    sendSerializedString(kSendingPrintJob + QLatin1Char(',') + job.toString());
}

void ClientDevice::sendPause()
{
    m_status = Paused;
    sendSerializedString(kPause);
}

void ClientDevice::sendResume()
{
    m_status = Printing;
    sendSerializedString(kResume);
}

void ClientDevice::sendCancel()
{
    sendSerializedString(kCancel);
}

void ClientDevice::sendReprint()
{
    qDebug() << "ClientDevice::sendReprint()";
    sendSerializedString(QStringLiteral("Request_Reprint"));
}

void ClientDevice::sendNewNickname(const QString &nickname)
{
    m_nickname = nickname;
    sendSerializedString(QStringLiteral("Server_NewNickname,") + nickname);
}

void ClientDevice::sendPlatformUp()
{
    sendSerializedString(QStringLiteral("Request_PlatformUp"));
}
void ClientDevice::sendPlatformDown()
{
    sendSerializedString(QStringLiteral("Request_PlatformDown"));
}
void ClientDevice::sendTiltUp()
{
    sendSerializedString(QStringLiteral("Request_TiltUp"));
}
void ClientDevice::sendTiltDown()
{
    sendSerializedString(QStringLiteral("Request_TiltDown"));
}
void ClientDevice::sendResetNetwork()
{
    sendSerializedString(QStringLiteral("Request_ResetNetwork"));
}
void ClientDevice::sendQaGCommand()
{
    sendSerializedString(QStringLiteral("Request_QA_GCommand"));
}
void ClientDevice::sendProjectGrid()
{
    sendSerializedString(QStringLiteral("Request_QA_ProjectGrid"));
}

void ClientDevice::sendTurnOffProjector()
{
    sendSerializedString(QStringLiteral("Request_QA_TurnOffProjector"));
}

void ClientDevice::sendNewGParameter(int value)
{
    m_gParameter = value;
    m_gParameterReset = false;
    sendSerializedString(QStringLiteral("Send_GParameter,") + QString::number(value));
}

void ClientDevice::sendNewFactoryGParameter(int value)
{
    m_gParameter = value;
    m_gParameterReset = false;
    sendSerializedString(QStringLiteral("Send_FactoryGParameter,") + QString::number(value));
}

void ClientDevice::sendResetGParameter()
{
    m_gParameterReset = true;
    sendSerializedString(QStringLiteral("Send_ResetGParameterToFactory"));
}

void ClientDevice::sendBoardCommand(const QString &command)
{
    sendSerializedString(QStringLiteral("Send_PiToBoardCommand,") + command);
}

void ClientDevice::sendNewSerialAndModel(const QString &serial, const QString &model)
{
    sendSerializedString(QStringLiteral("Send_NewSerialAndModel,") + serial + QLatin1Char(',') + model);
}

void ClientDevice::sendNetworkInfo(const QString &name, const QString &password)
{
    sendSerializedString(kNetworkInfo + name + kNetworkInfo + password + kNetworkInfo + kJunkTypeName);
}

bool ClientDevice::sendResins(const QList<Resin> &resins)
{
    if (m_version < Protocol::kMinAcceptedVersion) {
        qDebug() << "ERROR -- ClientDevice::sendResins. Actual client version number is less "
                    "than expected client version number. Actual client: "
                 << m_version << " Expected: " << Protocol::kMinAcceptedVersion;
        return false;
    }
    sendSerializedString(kResinData + Resin::toString(resins));
    m_resins = resins;
    return true;
}

bool ClientDevice::updateFineTuneFactor(const QString &resinName, int layerThickness, double factor)
{
    QList<Resin> copy = m_resins;
    for (Resin &r : copy) {
        if (r.name != resinName)
            continue;
        if (layerThickness == 20)
            r.fineTuneFactor20 = factor;
        else if (layerThickness == 50)
            r.fineTuneFactor50 = factor;
        else if (layerThickness == 100)
            r.fineTuneFactor100 = factor;
    }
    return sendResins(copy);
}

bool ClientDevice::updateResinScale(const QString &resinName, int layerThickness, double xScale, double yScale)
{
    qDebug() << "ClientDevice::updateResinScale. Resin Name: " << resinName << " Layer thickness: " << layerThickness;
    QList<Resin> copy = m_resins;
    for (Resin &r : copy) {
        if (r.name != resinName)
            continue;
        if (layerThickness == 20) {
            r.scaleX20 = xScale;
            r.scaleY20 = yScale;
        } else if (layerThickness == 50) {
            r.scaleX50 = xScale;
            r.scaleY50 = yScale;
        } else if (layerThickness == 100) {
            r.scaleX100 = xScale;
            r.scaleY100 = yScale;
        }
    }
    return sendResins(copy);
}

bool ClientDevice::replaceResins(const QString &listText)
{
    return sendResins(Resin::fromString(listText));
}

void ClientDevice::closeConnection()
{
    stopHeartbeat();
    finishFile();
    m_socket->disconnect(this);
    m_socket->close();
}

// ---- heartbeat -------------------------------------------------------------------------

void ClientDevice::startHeartbeat()
{
    if (m_heartbeatTimeout)
        return;
    m_heartbeatTimeout = std::make_unique<QTimer>();
    m_heartbeatTimeout->setInterval(scaled(Protocol::kHeartbeatTimeoutMs));
    connect(m_heartbeatTimeout.get(), &QTimer::timeout, this, &ClientDevice::connectionHeartbeatTimedOut);
    m_heartbeatSend = std::make_unique<QTimer>();
    m_heartbeatSend->setInterval(scaled(Protocol::kHeartbeatIntervalMs));
    connect(m_heartbeatSend.get(), &QTimer::timeout, this, &ClientDevice::sendConnectionHeartbeatMessage);
    m_heartbeatTimeout->start();
    m_heartbeatSend->start();
}

void ClientDevice::stopHeartbeat()
{
    m_heartbeatTimeout.reset();
    m_heartbeatSend.reset();
}

void ClientDevice::restartHeartbeatTimeout()
{
    if (m_heartbeatTimeout)
        m_heartbeatTimeout->start();
}

void ClientDevice::restartHeartbeatSend()
{
    if (m_heartbeatSend)
        m_heartbeatSend->start();
}

void ClientDevice::sendConnectionHeartbeatMessage()
{
    if (m_writingFile) {
        qDebug() << "ERROR.  ClientDevice::sendConnectionAliveMessage. Writing file.";
        return;
    }
    restartHeartbeatSend();
    sendSerializedString(QLatin1String(Protocol::kKeepAlive));
}

void ClientDevice::connectionHeartbeatTimedOut()
{
    qDebug() << "ClientDevice::connectionAliveTimedOut";
    // The timer that called us is destroyed later, once its signal has returned.
    if (m_heartbeatTimeout)
        m_heartbeatTimeout.release()->deleteLater();
    m_heartbeatSend.reset();
    finishFile();
    m_socket->disconnect(this);
    m_socket->close();
    emit socketAliveTimedOut();
}

// ---- job stream ------------------------------------------------------------------------

void ClientDevice::sendSSJHeaders()
{
    m_writingFile = true;
    m_localFile.close();
    m_localFile.setFileName(m_jobFilePath);
    if (!m_localFile.open(QIODevice::ReadOnly)) {
        qDebug() << "ERROR. ClientDevice::sendSSJHeaders(). open file error. File: " << m_jobFilePath
                 << " Error: " << m_localFile.errorString() << "\nAbsolute file path: " << m_localFile.fileName();
        m_writingFile = false;
        return;
    }
    m_status = Printing;
    qDebug() << "Send Headers. FileName: " << m_jobFilePath;
    const QByteArray header = Protocol::jobStreamHeader(m_jobFilePath, m_localFile.size());
    m_totalBytes = header.size() + m_localFile.size();
    m_bytesWritten = 0;
    const qint64 accepted = m_socket->write(header);
    m_bytesToWrite = m_totalBytes - qMax<qint64>(accepted, 0);
}

void ClientDevice::bytesWereWritten(qint64 numBytes)
{
    if (!m_writingFile)
        return;
    restartHeartbeatSend();
    qDebug() << "Update Transfer Progress. Bytes Written: " << m_bytesWritten << "/" << m_totalBytes;
    m_bytesWritten += numBytes;
    emit sendBytesWritten(m_bytesWritten, m_totalBytes);
    // Chunks of 4096 bytes, but several kept queued: with one chunk per
    // notification the link would idle between notifications. Each chunk is copied
    // into the socket's buffer (write from a pointer) rather than queued as an array of
    // its own: the socket sends one buffer block per notification, and its blocks hold
    // four chunks.
    constexpr qint64 kQueuedBytes = 64 * Protocol::kChunkBytes;
    while (m_bytesToWrite > 0 && m_socket->bytesToWrite() < kQueuedBytes) {
        const QByteArray chunk = m_localFile.read(qMin(Protocol::kChunkBytes, m_bytesToWrite));
        if (chunk.isEmpty()) {
            qDebug() << "ERROR. ClientDevice::bytesWereWritten. Job file ended early:" << m_localFile.errorString();
            m_bytesToWrite = 0;
            break;
        }
        const qint64 written = m_socket->write(chunk.constData(), chunk.size());
        if (written <= 0)
            break;
        m_bytesToWrite -= written;
    }
    if (m_bytesToWrite <= 0)
        m_localFile.close();
    // A command frame written meanwhile is counted too: finish on the file's last chunk.
    if (m_bytesToWrite <= 0 && m_bytesWritten >= m_totalBytes) {
        finishFile();
        qDebug() << "Done writing file";
    }
}

void ClientDevice::finishFile()
{
    m_localFile.close();
    m_totalBytes = 0;
    m_bytesWritten = 0;
    m_bytesToWrite = 0;
    m_writingFile = false;
}
