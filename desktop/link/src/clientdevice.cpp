#include "clientdevice.h"

#include "messages.h"
#include "printererrors.h"
#include "protocol.h"
#include "timescale.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QTcpSocket>
#include <QThreadPool>
#include <QTimer>

namespace {

const QString kJunkTypeName = QStringLiteral("Junk Type Name");
const QString kNoFile = QStringLiteral("NOFILE");

// The record is published while a job is sent each time this many more percent went out.
constexpr qint64 kPublishPercentStep = 2;

QMutex s_sshMutex;
bool s_sshSettingsSet = false;
SshSettings s_sshSettings;
QString s_updateProgramPath;
QString s_updateScriptPath;

// The desktop's side of the heartbeat; at least a millisecond however small the scale.
int scaled(int ms)
{
    return qMax(1, TimeScale::ms(ms));
}

// SSH work waits for the network for up to its time-out per step: it gets threads of its
// own, apart from the global pool that other work may fill.
Q_GLOBAL_STATIC(QThreadPool, s_sshPool)

QThreadPool *sshPool()
{
    return s_sshPool();
}

QString keyChangeAdvice()
{
    return QStringLiteral("If the printer's computer was replaced, remove its line from %1 and try again.")
        .arg(QDir::toNativeSeparators(KnownPrinterKeys::storePath()));
}

// A status name as the printer reports it; anything unknown reads as ready.
QString knownStatus(const QString &name)
{
    if (name == QLatin1String(Protocol::kStatusPrinting) || name == QLatin1String(Protocol::kStatusPaused))
        return name;
    return QLatin1String(Protocol::kStatusReady);
}

PrinterState::Activity activityForStatus(const QString &status)
{
    if (status == QLatin1String(Protocol::kStatusPrinting))
        return PrinterState::Activity::Printing;
    if (status == QLatin1String(Protocol::kStatusPaused))
        return PrinterState::Activity::Paused;
    return PrinterState::Activity::Ready;
}

bool isHandshakeMessage(const QString &message)
{
    const QStringList fields = message.split(QLatin1Char(','));
    return fields.size() >= 6 && fields.at(0) == QLatin1String(Message::kHandshake);
}

} // namespace

ClientDevice::ClientDevice(QTcpSocket *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientDevice::readClientMessage);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &ClientDevice::bytesWereWritten);
    m_socket->write(Protocol::rawFrame(QLatin1String(Protocol::kMarker) + QLatin1String(Message::kGreeting)));
    m_socket->flush();
}

ClientDevice::~ClientDevice() = default;

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

QString ClientDevice::deliveredFile(const QString &programDir, const QString &fileName)
{
    const QDir dir(programDir);
    const QString beside = dir.filePath(fileName);
    const QString installedDir = QDir::cleanPath(dir.filePath(QStringLiteral("../lib/tessora")));
    const QString installed = QDir(installedDir).filePath(fileName);
    if (QFileInfo::exists(beside))
        return beside;
    if (QFileInfo::exists(installedDir))
        return installed;
    return beside;
}

QString ClientDevice::updateProgramPath()
{
    QMutexLocker locker(&s_sshMutex);
    return s_updateProgramPath.isEmpty() ? deliveredFile(QCoreApplication::applicationDirPath(), QStringLiteral("Vatnode")) : s_updateProgramPath;
}

QString ClientDevice::updateScriptPath()
{
    QMutexLocker locker(&s_sshMutex);
    return s_updateScriptPath.isEmpty() ? deliveredFile(QCoreApplication::applicationDirPath(), QStringLiteral("VatnodeUpdateScript")) : s_updateScriptPath;
}

QString ClientDevice::sshHost() const
{
    return SshLink::hostForPeerAddress(m_socket->peerAddress().toString());
}

// The work gets copies only; its outcome comes back through a relay object on this
// device's thread, and is dropped there when the device is gone by then.
void ClientDevice::runSshWork(std::function<SshOutcome()> work, std::function<void()> onSuccess)
{
    m_sshWorkRunning = true;
    auto *relay = new QObject;
    relay->moveToThread(thread());
    QPointer<ClientDevice> device(this);
    sshPool()->start([work = std::move(work), onSuccess = std::move(onSuccess), relay, device] {
        const SshOutcome outcome = work();
        QMetaObject::invokeMethod(
            relay,
            [relay, device, outcome, onSuccess] {
                relay->deleteLater();
                if (!device)
                    return;
                device->m_sshWorkRunning = false;
                if (!outcome.ok)
                    emit device->sendMessageToGUI(outcome.message);
                else if (onSuccess)
                    onSuccess();
                emit device->sshWorkFinished(outcome.ok);
            },
            Qt::QueuedConnection);
    });
}

bool ClientDevice::sendUpdatedClientPayload()
{
    const QString program = updateProgramPath();
    const QString script = updateScriptPath();
    const QString host = sshHost();
    const QString serial = m_state.serial;
    qDebug() << "ClientDevice::sendUpdatedClientPayload. Updating the printer program of serial" << serial << "at"
             << host;
    if (m_sshWorkRunning) {
        qDebug() << "ERROR. ClientDevice::sendUpdatedClientPayload. SSH work already running for serial" << serial;
        return false;
    }
    const bool programExists = QFileInfo::exists(program);
    const bool scriptExists = QFileInfo::exists(script);
    if (!programExists || !scriptExists) {
        qDebug().nospace() << "ERROR -- ClientDevice::sendUpdatedClientPayload. Required files missing. Updated "
                              "Client Exists: "
                           << programExists << " Update script exists: " << scriptExists;
        emit sendMessageToGUI(QStringLiteral("The printer %1 needs a software update, but the update files are "
                                             "missing: %2")
                                  .arg(serial, QDir::toNativeSeparators(programExists ? script : program)));
        return false;
    }
    const SshSettings settings = sshSettings();
    const auto installed = [this] {
        qDebug() << "ClientDevice::sendUpdatedClientPayload. Update installed on serial" << m_state.serial;
        m_updateRequested = false;
        emit broadcastIP();
    };
    runSshWork(
        [settings, host, serial, program, script]() -> SshOutcome {
            SshLink link(settings);
            if (!link.connectToPrinter(host, serial)) {
                if (link.hostKeyChanged())
                    return {
                        false, link.errorString() + QStringLiteral("; nothing was installed. ") + keyChangeAdvice()};
                return {false,
                    QStringLiteral("The printer %1 needs a software update, but it could not be reached over SSH. %2")
                        .arg(serial, link.errorString())};
            }
            if (!link.uploadUpdate(program, script))
                return {false,
                    QStringLiteral("The software update of printer %1 failed. %2").arg(serial, link.errorString())};
            link.closeChannel();
            return {true, QString()};
        },
        installed);
    return true;
}

bool ClientDevice::downloadPrinterFiles(const QString &location)
{
    if (m_sshWorkRunning) {
        qDebug() << "ERROR. ClientDevice::downloadPrinterFiles. SSH work already running for serial" << m_state.serial;
        emit sendMessageToGUI(QStringLiteral("%1 is still busy with an earlier transfer; try again when it has "
                                             "ended.")
                                  .arg(printerName()));
        return false;
    }
    if (!QDir().mkpath(location)) {
        qDebug() << "ERROR. ClientDevice::downloadPrinterFiles. Could not create" << location;
        emit sendMessageToGUI(
            QStringLiteral("Could not create the folder %1.").arg(QDir::toNativeSeparators(location)));
        return false;
    }
    const SshSettings settings = sshSettings();
    const QString host = sshHost();
    const QString serial = m_state.serial;
    runSshWork([settings, host, serial, location]() -> SshOutcome {
        const QString home = settings.remoteHome.endsWith(QLatin1Char('/')) ? settings.remoteHome
                                                                            : settings.remoteHome + QLatin1Char('/');
        const QList<QPair<QString, QString>> files = {
            {home + QStringLiteral("Tessora_Client_Config"), QStringLiteral("OrbelleConfig")},
            {home + QStringLiteral("LogFile_Vatnode"), QStringLiteral("LogFileOB")},
        };
        SshOutcome outcome {true, QString()};
        for (const auto &file : files) {
            SshLink link(settings);
            if (!link.connectToPrinter(host, serial)) {
                if (link.hostKeyChanged())
                    return {false, link.errorString() + QStringLiteral("; nothing was fetched. ") + keyChangeAdvice()};
            } else if (link.downloadFile(file.first, location + QLatin1Char('/') + file.second)) {
                continue;
            }
            outcome.ok = false;
            outcome.message += (outcome.message.isEmpty() ? QString() : QStringLiteral("\n"))
                + QStringLiteral("Could not fetch %1 from printer %2. %3").arg(file.first, serial, link.errorString());
        }
        return outcome;
    });
    return true;
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

ClientDevice::Status ClientDevice::status() const
{
    switch (m_state.activity) {
    case PrinterState::Activity::Ready:
        return Ready;
    case PrinterState::Activity::Pausing:
    case PrinterState::Activity::Paused:
        return Paused;
    default:
        return Printing;
    }
}

QString ClientDevice::statusName() const
{
    switch (status()) {
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
    for (const Resin &r : m_state.resins) {
        out << r.name;
        for (int thickness : Resin::layerThicknesses)
            out << QString::number(r.adhesionCureTime(thickness), 'g', 6);
        for (int thickness : Resin::layerThicknesses)
            out << QString::number(r.cureTime(thickness), 'g', 6);
    }
    return out;
}

QString ClientDevice::printerName() const
{
    return m_state.nickname.isEmpty() ? m_state.serial : m_state.nickname;
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
                       << "from serial" << m_state.serial << "- dropping the printer";
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
    if (const Handler handle = handlers().value(fields.at(0))) {
        handle(*this, fields);
        return;
    }
    qDebug() << "ERROR. ClientDevice::processMessage. Unrecognized first word in message "
                "from Client. Message: "
             << message << " For Serial: " << m_state.serial;
}

// The printer's messages by name (field 0), each with what it does.
const QHash<QString, ClientDevice::Handler> &ClientDevice::handlers()
{
    using D = ClientDevice;
    using F = const QStringList &;
    static const QHash<QString, Handler> table = {
        {QLatin1String(Message::kHandshake), [](D &d, F fields) { d.handleHandshake(fields); }},
        {QLatin1String(Message::kPrintProgress), [](D &d, F fields) { d.handleProgress(fields); }},
        {QLatin1String(Message::kPrintDone), [](D &d, F) { d.handlePrintDone(); }},
        {QLatin1String(Message::kFileTransfer), [](D &d, F) { d.sendSSJHeaders(); }},
        {QLatin1String(Message::kRequestUpdate),
            [](D &d, F) {
                qDebug() << "ClientDevice::processMessage. Update requested by serial" << d.m_state.serial;
                d.m_updateRequested = true;
                emit d.updateRequested(d.m_state.serial);
            }},
        {QLatin1String(Message::kPrintingError),
            [](D &d, F fields) { d.handlePrintingError(fields.value(1).toInt()); }},
        {QLatin1String(Message::kPrintStatus), [](D &d, F fields) { d.handleStatusReport(fields.value(1)); }},
        {QLatin1String(Message::kRequestRefused), [](D &d, F fields) { d.handleRefusal(fields); }},
        {QLatin1String(Message::kPauseDone),
            [](D &d, F) {
                qDebug() << "Client device. received pause movement done";
                d.handlePauseDone();
                emit d.pauseCompleted();
            }},
        {QLatin1String(Message::kResumeDone),
            [](D &d, F) {
                qDebug() << "Client device. received resume movement done";
                d.handleResumeDone();
                emit d.resumeCompleted();
            }},
        // The printer's front button.
        {QLatin1String(Message::kPausePrint),
            [](D &d, F) {
                qDebug() << "Client Device. button pause started";
                d.handleButton(PrinterState::Activity::Pausing);
                emit d.pauseStarted();
            }},
        {QLatin1String(Message::kResumePrint),
            [](D &d, F) {
                qDebug() << "Client Device. button resume started";
                d.handleButton(PrinterState::Activity::Resuming);
                emit d.resumeStarted();
            }},
        {QLatin1String(Message::kCancelPrint),
            [](D &d, F) {
                qDebug() << "Client Device. button cancel print";
                d.handleButton(PrinterState::Activity::Cancelling);
                emit d.printCancelled();
            }},
        {QLatin1String(Message::kKeepAlive), [](D &, F) { qDebug() << "Client Device. Received keep alive message."; }},
        // A grayscale grid from the printer is not used by the desktop.
        {QLatin1String(Message::kNewGrayscale), [](D &, F) {}},
    };
    return table;
}

void ClientDevice::handleHandshake(const QStringList &fields)
{
    m_state.serial = Protocol::decodeField(fields.value(1));
    m_state.nickname = Protocol::decodeField(fields.value(2));
    m_state.model = Protocol::decodeField(fields.value(3));
    m_state.version = fields.value(4).toDouble();
    qDebug() << "ClientDevice handshake. Version: " << m_state.version << " Model: " << m_state.model;

    if (m_state.model.contains(QLatin1String("pro"), Qt::CaseInsensitive)) {
        qDebug() << "ClientDevice::processMessage. Attempted to connect to pro -- disconnecting";
        m_socket->close();
        return;
    }

    m_state.status = knownStatus(fields.value(5));
    m_state.activity = activityForStatus(m_state.status);

    if (!Protocol::isAcceptedVersion(m_state.version)) {
        if (m_state.activity == PrinterState::Activity::Ready) {
            qDebug() << "ClientDevice::processMessage. Printer version" << m_state.version
                     << "outside the accepted window; update requested for serial" << m_state.serial;
            // The connection is kept, heartbeat and all, until the update is installed
            // (with the user's consent) or the printer goes; it is not a usable printer.
            m_awaitingUpdate = true;
            m_updateRequested = true;
            startHeartbeat();
            emit updateRequested(m_state.serial);
            return;
        }
        emit sendMessageToGUI(updateNotice);
    }

    startHeartbeat();

    const QString resinText = fields.value(6);
    m_state.resins = Resin::fromString(resinText);
    if (resinText.isEmpty()) {
        qDebug() << "ERROR. ClientDevice::processMessage. Resin list was size 0. Sending "
                    "default resin times";
        sendResins(desktopDefaultResinList());
    }
    m_state.wifiNames.clear();
    const QStringList wifiNames = fields.value(7).split(QLatin1String(Protocol::kWifiSeparator));
    for (const QString &name : wifiNames)
        m_state.wifiNames << Protocol::decodeField(name);
    m_state.gParameter = fields.size() >= 9 ? fields.at(8).mid(1).toInt() : 0;

    m_handshakeCompleted = true;
    m_awaitingUpdate = false;
    // Decided before the signal: a receiver may start a print at once (its progress
    // request then waits behind the job). The record follows the signal, so that a
    // receiver knows the printer before its first record.
    const bool printingAtHandshake = m_state.activity == PrinterState::Activity::Printing;
    emit handshakeCompleted(m_state.serial, m_state.nickname, statusName());
    publish();
    if (printingAtHandshake)
        sendSerializedString(QLatin1String(Message::kRequestProgress));
    qDebug() << "ClientDevice. Completed handshake. Serial: " << m_state.serial << " NickName: " << m_state.nickname;
}

void ClientDevice::handleProgress(const QStringList &fields)
{
    m_state.layer = fields.value(1).toInt();
    m_state.percent = fields.value(2).toInt();
    m_state.timeLeft = fields.value(3).toInt();
    const QString ssjName = Protocol::decodeField(fields.value(4));
    const QString resinName = Protocol::decodeField(fields.value(5));
    const int thickness = fields.value(6).toInt();
    qDebug() << "ClientDevice: PrintProgress. ssj name: " << ssjName << " resinName: " << resinName
             << " Layer thickness: " << thickness;
    if (!ssjName.isEmpty() && ssjName != kNoFile)
        m_state.jobName = ssjName;
    if (m_state.activity == PrinterState::Activity::Sending || m_state.activity == PrinterState::Activity::Resuming)
        m_state.activity = PrinterState::Activity::Printing;
    publish();
    emit printProgressGUI(m_state.layer, m_state.percent, m_state.timeLeft, ssjName, resinName, thickness);
}

// The print ended; a cancel asked or pressed during it makes it a cancelled one.
void ClientDevice::handlePrintDone()
{
    m_sincePrintDone.restart();
    // The end of an earlier print while the next job is on its way changes nothing shown.
    if (m_state.activity == PrinterState::Activity::Sending) {
        emit printDoneGUI();
        return;
    }
    m_state.activity = PrinterState::Activity::Ready;
    m_state.status = QLatin1String(Protocol::kStatusReady);
    m_state.outcome = m_cancelAsked ? PrinterState::Outcome::Cancelled : PrinterState::Outcome::Finished;
    publish();
    emit printDoneGUI();
}

void ClientDevice::handlePrintingError(int errorNum)
{
    qDebug() << "Printing Error: " << errorNum << errorText(errorNum);
    // A job line the printer could not take is answered with an error instead of the
    // transfer request: that job did not start.
    if (m_jobAwaitingTransfer) {
        abandonJob();
        emit sendMessageToGUI(QStringLiteral("%1 did not start the job: %2").arg(printerName(), errorText(errorNum)));
        releaseWaitingCommands();
    }
    m_state.lastError = errorNum;
    publish();
    emit transmit_receivedPrinterError(errorNum);
}

PrinterState::Outcome ClientDevice::endingOutcome() const
{
    if (m_cancelAsked)
        return PrinterState::Outcome::Cancelled;
    return m_state.lastError != 0 ? PrinterState::Outcome::Failed : PrinterState::Outcome::Finished;
}

// The printer's own word on its status. While a job is on its way the record keeps showing
// the transfer; otherwise the activity follows, waiting for the movement a pause or resume
// still has to make.
void ClientDevice::handleStatusReport(const QString &status)
{
    using A = PrinterState::Activity;
    m_state.status = knownStatus(status);
    const A now = m_state.activity;
    if (now != A::Sending) {
        if (m_state.status == QLatin1String(Protocol::kStatusReady)) {
            if (now != A::Ready) {
                m_state.activity = A::Ready;
                m_state.outcome = endingOutcome();
            }
        } else if (m_state.status == QLatin1String(Protocol::kStatusPrinting)) {
            if (now == A::Ready) {
                beginPrint(m_state.jobName);
                m_state.activity = A::Printing;
            } else if (now == A::Paused) {
                m_state.activity = A::Resuming;
            }
        } else if (now == A::Ready) {
            m_state.activity = A::Paused;
        } else if (now == A::Printing) {
            m_state.activity = A::Pausing;
        }
    }
    publish();
}

void ClientDevice::handleRefusal(const QStringList &fields)
{
    using A = PrinterState::Activity;
    const QString request = fields.value(1);
    const QString reason = Protocol::decodeField(fields.value(3));
    if (!fields.value(2).isEmpty())
        m_state.status = knownStatus(fields.value(2));
    qDebug() << "ClientDevice::handleRefusal. Serial:" << m_state.serial << "refused" << request << "Reason:" << reason;

    QString what;
    bool jobRefused = false;
    if (request == QLatin1String(Message::kSendingPrintJob) || request == QLatin1String(Message::kReprint)) {
        what = QStringLiteral("did not start the job");
        jobRefused = m_jobAwaitingTransfer || request == QLatin1String(Message::kReprint);
        if (m_jobAwaitingTransfer)
            abandonJob();
        else if (request == QLatin1String(Message::kReprint))
            restorePrint();
    } else if (request == QLatin1String(Message::kPausePrint)) {
        what = QStringLiteral("did not pause the print");
    } else if (request == QLatin1String(Message::kResumePrint)) {
        what = QStringLiteral("did not resume the print");
    } else if (request == QLatin1String(Message::kCancelPrint)) {
        what = QStringLiteral("did not cancel the print");
        m_cancelAsked = false;
    } else if (request == QLatin1String(Message::kNetworkInfo)) {
        what = QStringLiteral("did not change its network");
    } else if (request.startsWith(QLatin1String(Message::kResinData))) {
        what = QStringLiteral("did not store the resin list");
    } else {
        what = QStringLiteral("refused %1").arg(request);
    }
    // Whatever was asked did not happen: the printer's status says what it does.
    const A now = m_state.activity;
    if (jobRefused || now == A::Pausing || now == A::Resuming || now == A::Cancelling)
        m_state.activity = activityForStatus(m_state.status);
    publish();
    emit sendMessageToGUI(reason.isEmpty() ? QStringLiteral("%1 %2.").arg(printerName(), what)
                                           : QStringLiteral("%1 %2: %3").arg(printerName(), what, reason));
    if (jobRefused)
        releaseWaitingCommands();
}

void ClientDevice::handlePauseDone()
{
    const PrinterState::Activity now = m_state.activity;
    if (now == PrinterState::Activity::Pausing || now == PrinterState::Activity::Printing)
        m_state.activity = PrinterState::Activity::Paused;
    publish();
}

void ClientDevice::handleResumeDone()
{
    const PrinterState::Activity now = m_state.activity;
    if (now == PrinterState::Activity::Resuming || now == PrinterState::Activity::Paused)
        m_state.activity = PrinterState::Activity::Printing;
    publish();
}

// The printer's front button paused, resumed or cancelled the print.
void ClientDevice::handleButton(PrinterState::Activity activity)
{
    if (m_state.isPrinting()) {
        m_cancelAsked = m_cancelAsked || activity == PrinterState::Activity::Cancelling;
        m_state.activity = activity;
    }
    publish();
}

// ---- the record ------------------------------------------------------------------------

void ClientDevice::publish()
{
    if (m_handshakeCompleted)
        emit stateChanged(m_state);
}

void ClientDevice::beginPrint(const QString &jobName)
{
    m_cancelAsked = false;
    m_state.jobName = jobName;
    m_state.outcome = PrinterState::Outcome::None;
    m_state.lastError = 0;
    m_state.layer = 0;
    m_state.percent = 0;
    m_state.timeLeft = -1;
}

// Back to the print fields before the job or reprint that did not start.
void ClientDevice::restorePrint()
{
    m_state.jobName = m_beforeJob.jobName;
    m_state.outcome = m_beforeJob.outcome;
    m_state.lastError = m_beforeJob.lastError;
    m_state.layer = m_beforeJob.layer;
    m_state.percent = m_beforeJob.percent;
    m_state.timeLeft = m_beforeJob.timeLeft;
    m_state.activity = activityForStatus(m_state.status);
}

// The job line went out but the job will not: the record goes back, the file is closed
// and the commands that waited may go.
void ClientDevice::abandonJob()
{
    m_jobAwaitingTransfer = false;
    m_localFile.close();
    restorePrint();
    m_state.commandsWait = false;
    m_state.bytesSent = 0;
    m_state.bytesTotal = 0;
}

// ---- sending ---------------------------------------------------------------------------

QString ClientDevice::loggable(const QString &message) const
{
    const QLatin1String marker(Message::kNetworkInfo);
    if (!message.contains(marker))
        return message;
    QStringList pieces = message.split(marker);
    if (pieces.size() > 2)
        pieces[2] = QString(pieces.at(2).size(), QLatin1Char('*'));
    return pieces.join(marker);
}

void ClientDevice::sendSerializedString(const QString &message)
{
    if (deferWhileSending([this, message] { writeMessage(message); }))
        return;
    writeMessage(message);
}

bool ClientDevice::deferWhileSending(std::function<void()> command)
{
    if (!m_state.commandsWait)
        return false;
    qDebug() << "ClientDevice. A job is being sent; the command waits for its end. Serial:" << m_state.serial;
    m_waiting.append(std::move(command));
    return true;
}

void ClientDevice::releaseWaitingCommands()
{
    const QList<std::function<void()>> waiting = std::move(m_waiting);
    m_waiting.clear();
    for (const std::function<void()> &command : waiting)
        command();
}

void ClientDevice::writeMessage(const QString &message)
{
    if (m_legacy) {
        sendUnserializedString(message);
    } else {
        const QString text = QLatin1String(Protocol::kMarker) + message;
        qDebug() << "ClientDevice::sendSerializedString: " << loggable(text)
                 << "Client with serial: " << m_state.serial;
        m_socket->write(Protocol::frame(text));
        m_socket->flush();
    }
    restartHeartbeatSend();
}

void ClientDevice::sendUnserializedString(const QString &message)
{
    const QString text = QLatin1String(Protocol::kMarker) + message;
    qDebug() << "ClientDevice::sendUnserializedString: " << loggable(text) << "Client with serial: " << m_state.serial;
    m_socket->write(Protocol::rawFrame(text));
    m_socket->flush();
}

bool ClientDevice::sendPrintJob(const PrintJob &job)
{
    const QString fileName = QFileInfo(m_jobFilePath).fileName();
    if (m_state.commandsWait) {
        qDebug() << "ERROR. ClientDevice::sendPrintJob. A job is still being sent to serial" << m_state.serial;
        emit sendMessageToGUI(
            QStringLiteral("%1 is still receiving a job; %2 was not sent.").arg(printerName(), fileName));
        return false;
    }
    // Opened before the job line: once the printer has the line it waits for the stream.
    m_localFile.close();
    m_localFile.setFileName(m_jobFilePath);
    if (!m_localFile.open(QIODevice::ReadOnly)) {
        qDebug() << "ERROR. ClientDevice::sendPrintJob. open file error. File: " << m_jobFilePath
                 << " Error: " << m_localFile.errorString();
        emit sendMessageToGUI(QStringLiteral("Could not open the job file %1 (%2); nothing was sent to %3.")
                                  .arg(fileName, m_localFile.errorString(), printerName()));
        return false;
    }
    m_job = job;
    m_beforeJob = m_state;
    beginPrint(fileName);
    m_state.activity = PrinterState::Activity::Sending;
    m_state.bytesSent = 0;
    // The stream announces the size the file had now; a file that shrinks later ends early.
    m_jobFileSize = m_localFile.size();
    m_state.bytesTotal = Protocol::jobStreamHeader(m_jobFilePath, m_jobFileSize).size() + m_jobFileSize;
    m_state.commandsWait = true;
    m_jobAwaitingTransfer = true;
    m_publishedBytes = 0;
    writeMessage(QLatin1String(Message::kSendingPrintJob) + QLatin1Char(',') + job.toString());
    publish();
    return true;
}

void ClientDevice::sendPause()
{
    if (deferWhileSending([this] { sendPause(); }))
        return;
    if (m_state.isPrinting() && m_state.activity != PrinterState::Activity::Paused) {
        m_state.activity = PrinterState::Activity::Pausing;
        publish();
    }
    sendSerializedString(QLatin1String(Message::kPausePrint));
}

void ClientDevice::sendResume()
{
    if (deferWhileSending([this] { sendResume(); }))
        return;
    if (m_state.isPrinting() && m_state.activity != PrinterState::Activity::Printing) {
        m_state.activity = PrinterState::Activity::Resuming;
        publish();
    }
    sendSerializedString(QLatin1String(Message::kResumePrint));
}

void ClientDevice::sendCancel()
{
    if (deferWhileSending([this] { sendCancel(); }))
        return;
    if (m_state.isPrinting()) {
        m_cancelAsked = true;
        m_state.activity = PrinterState::Activity::Cancelling;
        publish();
    }
    sendSerializedString(QLatin1String(Message::kCancelPrint));
}

void ClientDevice::sendReprint()
{
    if (deferWhileSending([this] { sendReprint(); }))
        return;
    qDebug() << "ClientDevice::sendReprint()";
    m_beforeJob = m_state;
    beginPrint(m_state.jobName);
    m_state.activity = PrinterState::Activity::Printing;
    publish();
    sendSerializedString(QLatin1String(Message::kReprint));
}

void ClientDevice::sendNewNickname(const QString &nickname)
{
    m_state.nickname = nickname;
    publish();
    sendSerializedString(QLatin1String(Message::kNewNickname) + QLatin1Char(',') + Protocol::encodeField(nickname));
}

void ClientDevice::sendPlatformUp()
{
    sendSerializedString(QLatin1String(Message::kPlatformUp));
}
void ClientDevice::sendPlatformDown()
{
    sendSerializedString(QLatin1String(Message::kPlatformDown));
}
void ClientDevice::sendTiltUp()
{
    sendSerializedString(QLatin1String(Message::kTiltUp));
}
void ClientDevice::sendTiltDown()
{
    sendSerializedString(QLatin1String(Message::kTiltDown));
}
void ClientDevice::sendResetNetwork()
{
    sendSerializedString(QLatin1String(Message::kResetNetwork));
}
void ClientDevice::sendQaGCommand()
{
    sendSerializedString(QLatin1String(Message::kQaGCommand));
}
void ClientDevice::sendProjectGrid()
{
    sendSerializedString(QLatin1String(Message::kQaProjectGrid));
}

void ClientDevice::sendTurnOffProjector()
{
    sendSerializedString(QLatin1String(Message::kQaTurnOffProjector));
}

void ClientDevice::sendNewGParameter(int value)
{
    m_state.gParameter = value;
    m_state.gParameterReset = false;
    publish();
    sendSerializedString(QLatin1String(Message::kGParameter) + QLatin1Char(',') + QString::number(value));
}

void ClientDevice::sendNewFactoryGParameter(int value)
{
    m_state.gParameter = value;
    m_state.gParameterReset = false;
    publish();
    sendSerializedString(QLatin1String(Message::kFactoryGParameter) + QLatin1Char(',') + QString::number(value));
}

void ClientDevice::sendResetGParameter()
{
    m_state.gParameterReset = true;
    publish();
    sendSerializedString(QLatin1String(Message::kResetGParameter));
}

void ClientDevice::sendBoardCommand(const QString &command)
{
    sendSerializedString(QLatin1String(Message::kBoardCommand) + QLatin1Char(',') + command);
}

void ClientDevice::sendNewSerialAndModel(const QString &serial, const QString &model)
{
    sendSerializedString(QLatin1String(Message::kNewSerialAndModel) + QLatin1Char(',') + Protocol::encodeField(serial)
        + QLatin1Char(',') + Protocol::encodeField(model));
}

bool ClientDevice::sendNetworkInfo(const QString &name, const QString &password)
{
    // The printer splits this message at "Send_NetworkInfo" and every message at the
    // marker: such a name or password would arrive cut.
    const QString marker = QString::fromLatin1(Message::kNetworkInfo);
    for (const QString &unreadable : {QString::fromLatin1(Protocol::kMarker), marker}) {
        if (name.contains(unreadable) || password.contains(unreadable)) {
            qDebug() << "ERROR. ClientDevice::sendNetworkInfo. Name or password holds" << unreadable
                     << "- nothing sent to serial" << m_state.serial;
            emit sendMessageToGUI(QStringLiteral("A network name or password may not contain \"%1\": no printer "
                                                 "could read it. Nothing was sent to %2.")
                                      .arg(unreadable, printerName()));
            return false;
        }
    }
    sendSerializedString(marker + name + marker + password + marker + kJunkTypeName);
    return true;
}

bool ClientDevice::sendResins(const QList<Resin> &resins)
{
    if (m_state.version < Protocol::kMinAcceptedVersion) {
        qDebug() << "ERROR -- ClientDevice::sendResins. Actual client version number is less "
                    "than expected client version number. Actual client: "
                 << m_state.version << " Expected: " << Protocol::kMinAcceptedVersion;
        return false;
    }
    sendSerializedString(QLatin1String(Message::kResinData) + Resin::toString(resins));
    m_state.resins = resins;
    publish();
    return true;
}

bool ClientDevice::updateFineTuneFactor(const QString &resinName, int layerThickness, double factor)
{
    QList<Resin> copy = m_state.resins;
    for (Resin &r : copy) {
        if (r.name != resinName)
            continue;
        r.setFineTuneFactor(layerThickness, factor);
    }
    return sendResins(copy);
}

bool ClientDevice::updateResinScale(const QString &resinName, int layerThickness, double xScale, double yScale)
{
    qDebug() << "ClientDevice::updateResinScale. Resin Name: " << resinName << " Layer thickness: " << layerThickness;
    QList<Resin> copy = m_state.resins;
    for (Resin &r : copy) {
        if (r.name != resinName)
            continue;
        r.setScale(layerThickness, xScale, yScale);
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

// Closed from this side, as if the printer had gone: the Server drops the device.
void ClientDevice::dropConnection()
{
    stopHeartbeat();
    finishFile();
    m_socket->disconnect(this);
    m_socket->abort();
    emit connectionClosed();
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

// Held back from the job line on: a printer waiting for the stream would read anything but
// a whole frame as the stream's first bytes.
void ClientDevice::sendConnectionHeartbeatMessage()
{
    if (m_state.commandsWait) {
        qDebug() << "ERROR.  ClientDevice::sendConnectionAliveMessage. Writing file.";
        return;
    }
    restartHeartbeatSend();
    writeMessage(QLatin1String(Message::kKeepAlive));
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
    if (!m_jobAwaitingTransfer) {
        // The printer waits for a stream that is not coming: it would hold its heartbeat
        // until the connection ends, so end it now.
        qDebug() << "ERROR. ClientDevice::sendSSJHeaders(). Transfer asked without a job. Serial: " << m_state.serial;
        dropConnection();
        return;
    }
    m_jobAwaitingTransfer = false;
    m_writingFile = true;
    qDebug() << "Send Headers. FileName: " << m_jobFilePath;
    const QByteArray header = Protocol::jobStreamHeader(m_jobFilePath, m_jobFileSize);
    m_totalBytes = header.size() + m_jobFileSize;
    m_state.bytesTotal = m_totalBytes;
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
    m_state.bytesSent = qMin(m_bytesWritten, m_totalBytes);
    if ((m_state.bytesSent - m_publishedBytes) * 100 >= m_totalBytes * kPublishPercentStep) {
        m_publishedBytes = m_state.bytesSent;
        publish();
    }
    streamJob();
}

// Chunks of 4096 bytes, but several kept queued: with one chunk per notification the link
// would idle between notifications. Each chunk is copied into the socket's buffer (write
// from a pointer) rather than queued as an array of its own: the socket sends one buffer
// block per notification, and its blocks hold four chunks.
void ClientDevice::streamJob()
{
    constexpr qint64 kQueuedBytes = 64 * Protocol::kChunkBytes;
    while (m_bytesToWrite > 0 && m_socket->bytesToWrite() < kQueuedBytes) {
        const QByteArray chunk = m_localFile.read(qMin(Protocol::kChunkBytes, m_bytesToWrite));
        if (chunk.isEmpty()) {
            // The printer would wait for the missing bytes with its heartbeat held: it
            // drops a partial job when the connection ends, and reconnects.
            qDebug() << "ERROR. ClientDevice::bytesWereWritten. Job file ended early:" << m_localFile.errorString()
                     << "Serial:" << m_state.serial;
            emit sendMessageToGUI(QStringLiteral("Reading the job file %1 failed after %2 of %3 bytes (%4); the "
                                                 "connection to %5 was closed so that it drops the partial job.")
                                      .arg(QFileInfo(m_jobFilePath).fileName())
                                      .arg(m_totalBytes - m_bytesToWrite)
                                      .arg(m_totalBytes)
                                      .arg(m_localFile.errorString(), printerName()));
            dropConnection();
            return;
        }
        const qint64 written = m_socket->write(chunk.constData(), chunk.size());
        if (written <= 0)
            break;
        m_bytesToWrite -= written;
    }
    if (m_bytesToWrite <= 0)
        m_localFile.close();
    // Finished when every byte of the stream has gone out.
    if (m_bytesToWrite <= 0 && m_bytesWritten >= m_totalBytes)
        finishTransfer();
}

void ClientDevice::finishTransfer()
{
    finishFile();
    qDebug() << "Done writing file";
    // The printer starts the print as soon as it has the whole file.
    if (m_state.activity == PrinterState::Activity::Sending)
        m_state.activity = PrinterState::Activity::Printing;
    m_state.bytesSent = m_state.bytesTotal;
    m_state.commandsWait = false;
    publish();
    releaseWaitingCommands();
}

void ClientDevice::finishFile()
{
    m_localFile.close();
    m_totalBytes = 0;
    m_bytesWritten = 0;
    m_bytesToWrite = 0;
    m_writingFile = false;
}
