#include "fleetprinter.h"

#include "crushedprintjob.h"
#include "messages.h"
#include "resin.h"

#include <QFile>

#include <sys/socket.h>

namespace {

// Time the board needs for the movement of a pause or a resume.
constexpr int kMovementMs = 300;
// Layers of the job a printer is already printing when the desktop connects: more than
// any run reports.
constexpr int kLongJobLayers = 1000000;

} // namespace

FleetPrinter::FleetPrinter(const Options &options)
    : m_options(options)
{
    m_link.expectJob(options.jobPath);
    // The fleet feeds job streams itself, to learn the name they carry.
    m_link.holdStream = true;
    QObject::connect(&m_link.socket, &QTcpSocket::readyRead, &m_link, [this] { onReadyRead(); });
    QObject::connect(&m_link.socket, &QAbstractSocket::disconnected, &m_link, [this] {
        if (m_killed || m_lost)
            return;
        m_lost = true;
        m_layerTimer.stop();
        m_heartbeatSend.stop();
        m_heartbeatTimeout.stop();
        problem(QStringLiteral("connection ended by the desktop: %1").arg(m_link.socket.errorString()));
    });

    m_layerTimer.setInterval(options.layerIntervalMs);
    QObject::connect(&m_layerTimer, &QTimer::timeout, &m_link, [this] { nextLayer(); });
    m_heartbeatSend.setInterval(scaled(Protocol::kHeartbeatIntervalMs));
    QObject::connect(&m_heartbeatSend, &QTimer::timeout, &m_link, [this] {
        ++m_heartbeatsSent;
        sendMessage(QLatin1String(Message::kKeepAlive));
    });
    m_heartbeatTimeout.setInterval(scaled(Protocol::kHeartbeatTimeoutMs));
    QObject::connect(&m_heartbeatTimeout, &QTimer::timeout, &m_link, [this] { connectionTimedOut(); });

    if (options.printingAtStart) {
        m_state = State::Printing;
        m_job.resinName = QStringLiteral("Clear");
        m_job.layerThickness = 50;
        m_job.numImages = kLongJobLayers;
        m_fileName = QStringLiteral("fleet-%1.ssj").arg(options.serial);
    }
}

FleetPrinter::~FleetPrinter()
{
    m_layerTimer.stop();
    m_heartbeatSend.stop();
    m_heartbeatTimeout.stop();
    m_link.socket.disconnect(&m_link);
    m_link.socket.abort();
}

int FleetPrinter::scaled(int ms) const
{
    return qMax(1, static_cast<int>(ms * m_options.timeScale));
}

bool FleetPrinter::connectTo(quint16 port)
{
    return m_link.connectTo(port);
}

bool FleetPrinter::isConnected() const
{
    return m_link.socket.state() == QAbstractSocket::ConnectedState;
}

void FleetPrinter::problem(const QString &text)
{
    m_problems << QStringLiteral("%1: %2").arg(m_options.serial, text);
}

void FleetPrinter::onReadyRead()
{
    if (m_killed || m_lost)
        return;
    // Any bytes from the desktop show that it is alive.
    if (m_heartbeatTimeout.isActive())
        m_heartbeatTimeout.start();
    if (!m_handshakeSent && !m_link.greeting.isEmpty()) {
        if (m_link.greeting != QLatin1String(Protocol::kMarker) + QLatin1String(Message::kGreeting))
            problem(QStringLiteral("unexpected greeting: %1").arg(m_link.greeting));
        const QString status = Protocol::statusName(m_state == State::Printing ? 0 : 5);
        sendMessage(Protocol::handshakeReply(m_options.serial, m_options.nickname, m_options.model,
            Protocol::printerVersionText(), status, Resin::toString(Resin::defaultResinList()),
            {QStringLiteral("ShopNet"), QStringLiteral("ShopNet-5G")}, QStringLiteral("g0")));
        m_handshakeSent = true;
        startHeartbeat();
        if (m_state == State::Printing && !m_quiet)
            m_layerTimer.start();
    }
    while (m_messagesSeen < m_link.messages.size())
        handleMessage(m_link.messages.at(m_messagesSeen++));
    feedStream();
}

void FleetPrinter::startHeartbeat()
{
    m_heartbeatSend.start();
    m_heartbeatTimeout.start();
}

void FleetPrinter::connectionTimedOut()
{
    // As the printer does: nothing from the desktop for the whole time-out ends the link.
    ++m_timeouts;
    m_lost = true;
    m_layerTimer.stop();
    m_heartbeatSend.stop();
    m_heartbeatTimeout.stop();
    problem(QStringLiteral("heartbeat time-out: nothing from the desktop for %1 ms")
                .arg(scaled(Protocol::kHeartbeatTimeoutMs)));
    m_link.socket.abort();
}

void FleetPrinter::handleMessage(const QString &message)
{
    using M = Message::Match;
    struct Route {
        const char *name;
        M match;
        void (*handle)(FleetPrinter &printer, const QString &message);
    };
    static const Route routes[] = {
        {Message::kKeepAlive, M::Equals, [](FleetPrinter &p, const QString &) { ++p.m_heartbeatsReceived; }},
        {Message::kSendingPrintJob, M::StartsWith, [](FleetPrinter &p, const QString &m) { p.acceptJobLine(m); }},
        {Message::kRequestProgress, M::Equals, [](FleetPrinter &p, const QString &) { p.sendProgress(); }},
        {Message::kPausePrint, M::Equals, [](FleetPrinter &p, const QString &) { p.pause(); }},
        {Message::kResumePrint, M::Equals, [](FleetPrinter &p, const QString &) { p.resume(); }},
        {Message::kCancelPrint, M::Equals,
            [](FleetPrinter &p, const QString &) {
                ++p.m_cancels;
                p.m_state = State::Ready;
                p.m_layerTimer.stop();
            }},
        // The printer keeps the list; nothing to answer.
        {Message::kResinData, M::StartsWith, [](FleetPrinter &, const QString &) {}},
    };
    for (const Route &route : routes) {
        if (Message::matches(message, route.name, route.match)) {
            route.handle(*this, message);
            return;
        }
    }
    problem(QStringLiteral("unexpected message from the desktop: %1").arg(message));
}

void FleetPrinter::acceptJobLine(const QString &message)
{
    // FakePrinter has asked for the file already; the stream follows.
    if (!PrintJob::isCompleteLine(message))
        problem(QStringLiteral("incomplete job line: %1").arg(message));
    m_job = PrintJob();
    m_job.setFromString(message);
    m_jobPending = true;
    m_layerTimer.stop();
    m_state = State::Ready;
}

void FleetPrinter::pause()
{
    if (m_state != State::Printing)
        return;
    m_state = State::Paused;
    m_layerTimer.stop();
    QTimer::singleShot(scaled(kMovementMs), &m_link, [this] {
        if (m_killed || m_lost)
            return;
        ++m_pausesAnswered;
        sendMessage(QLatin1String(Message::kPauseDone));
    });
}

void FleetPrinter::resume()
{
    if (m_state != State::Paused)
        return;
    m_state = State::Printing;
    QTimer::singleShot(scaled(kMovementMs), &m_link, [this] {
        if (m_killed || m_lost)
            return;
        ++m_resumesAnswered;
        sendMessage(QLatin1String(Message::kResumeDone));
        if (m_state == State::Printing && !m_quiet)
            m_layerTimer.start();
    });
}

void FleetPrinter::feedStream()
{
    std::unique_ptr<JobStreamReceiver> &receiver = m_link.receiver;
    if (!receiver)
        return;
    while (JobStreamReceiver::consumeKeepAlive(&m_link.socket))
        ++m_heartbeatsReceived;
    const JobStreamReceiver::Result result = receiver->feed(&m_link.socket);
    if (result == JobStreamReceiver::NeedMore)
        return;
    const QString name = receiver->fileName();
    const QString error = receiver->errorString();
    receiver.reset();
    m_link.streamResult = result;
    m_jobPending = false;
    // Frames behind the stream wait in the socket: have them read as a new notification.
    if (m_link.socket.bytesAvailable() > 0)
        QMetaObject::invokeMethod(&m_link.socket, "readyRead", Qt::QueuedConnection);
    if (result == JobStreamReceiver::Failed) {
        problem(QStringLiteral("job stream failed: %1").arg(error));
        return;
    }
    ++m_jobsReceived;

    QFile received(m_options.jobPath);
    const QByteArray bytes = received.open(QIODevice::ReadOnly) ? received.readAll() : QByteArray();
    received.close();
    bool intact = true;
    if (!m_options.expectedJobPath.isEmpty()) {
        QFile expected(m_options.expectedJobPath);
        if (!expected.open(QIODevice::ReadOnly) || expected.readAll() != bytes) {
            problem(QStringLiteral("received job differs from %1 (%2 bytes received)")
                        .arg(m_options.expectedJobPath)
                        .arg(bytes.size()));
            intact = false;
        }
    }
    CrushedPrintJob job;
    if (!job.loadCPJ(&received)) {
        problem(QStringLiteral("received job does not load: %1").arg(job.errorString()));
        intact = false;
    } else if (job.getTotalLayers() != m_job.numImages) {
        problem(QStringLiteral("received job has %1 layers, the job line announced %2")
                    .arg(job.getTotalLayers())
                    .arg(m_job.numImages));
        intact = false;
    }
    if (intact)
        ++m_jobsIntact;

    // Print it: one report per layer, then the end of the print.
    m_fileName = name;
    m_layer = 0;
    m_state = State::Printing;
    if (!m_quiet)
        m_layerTimer.start();
}

void FleetPrinter::sendMessage(const QString &message)
{
    if (m_killed || m_lost || !isConnected())
        return;
    m_link.send(message);
    if (m_heartbeatSend.isActive())
        m_heartbeatSend.start();
}

void FleetPrinter::sendProgress()
{
    if (m_killed || m_lost || !isConnected())
        return;
    const int layers = qMax(1, m_job.numImages);
    const int percent = static_cast<int>(100LL * m_layer / layers);
    const int minutesLeft = static_cast<int>(static_cast<qint64>(layers - m_layer) * m_options.layerIntervalMs / 60000);
    sendMessage(QLatin1String(Message::kPrintProgress)
        + QStringLiteral(",%1,%2,%3,%4,%5,%6")
              .arg(m_layer)
              .arg(percent)
              .arg(minutesLeft)
              .arg(m_fileName, m_job.resinName)
              .arg(m_job.layerThickness));
    ++m_progressSent;
}

void FleetPrinter::nextLayer()
{
    if (m_state != State::Printing || m_quiet || m_jobPending)
        return;
    ++m_layer;
    sendProgress();
    if (m_layer >= m_job.numImages)
        finishJob();
}

void FleetPrinter::finishJob()
{
    m_layerTimer.stop();
    m_state = State::Ready;
    ++m_printsDone;
    sendMessage(QLatin1String(Message::kPrintDone));
}

void FleetPrinter::setQuiet(bool quiet)
{
    m_quiet = quiet;
    if (quiet)
        m_layerTimer.stop();
    else if (m_state == State::Printing && m_handshakeSent && !m_killed && !m_lost)
        m_layerTimer.start();
}

void FleetPrinter::kill(KillMode mode)
{
    m_killed = true;
    m_layerTimer.stop();
    m_heartbeatSend.stop();
    m_heartbeatTimeout.stop();
    switch (mode) {
    case KillMode::Close:
        m_link.socket.abort();
        break;
    case KillMode::Reset: {
        // A zero linger time makes the close send a reset instead of the orderly end.
        const qintptr fd = m_link.socket.socketDescriptor();
        if (fd >= 0) {
            linger option {};
            option.l_onoff = 1;
            option.l_linger = 0;
            ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &option, sizeof option);
        }
        m_link.socket.abort();
        break;
    }
    case KillMode::Silent:
        // Still connected, but deaf and mute: the bytes of the desktop pile up unread.
        QObject::disconnect(&m_link.socket, &QIODevice::readyRead, nullptr, nullptr);
        break;
    }
}
