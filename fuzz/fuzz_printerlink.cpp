// The printer's reading of what the desktop sends: the greeting, frames and the messages in
// them, the arguments of the messages that carry data, job streams (header, name frame,
// keep-alive frames in front of them) and the job file they deliver; and the discovery
// datagram.
//
// The session (Client) reads from the TCP socket it creates itself when a datagram names a
// desktop, and its reading steps are private; a Client also brings the board link, the
// printing thread and the settings with it. So this target drives the same building blocks
// the session reads with - Protocol::asciiUpToZero, Protocol::readFrame,
// Protocol::extractMessages, JobStreamReceiver, PrintJob, Resin, GrayscaleGrid,
// CrushedPrintJob, Protocol::parseDatagram - in the session's order and with its read
// states, on a QTcpSocket (one end of a local socket pair) as in the program. Keep
// PrinterSide below in step with Client::receivedNetworkMessage() and what it calls
// (clientnetwork.cpp).
//
// Input: byte 0 holds options, the rest is what arrives.
//   bits 0-2  how the bytes are cut into notifications (Fuzz::pieces)
//   bit 3     the greeting was already handled: the connection starts ready
//   bit 4     program updates over the connection are enabled on this printer
//   bit 7     the rest is one discovery datagram, not a TCP stream
//
// Rules checked besides the sanitizers':
//  - a job stream's receiver takes exactly the bytes it counts, never more than the
//    stream's total: what follows the stream stays for the next reader;
//  - a resin list the printer stores reads back as the same list;
//  - an accepted datagram names an IPv4 address and a port in 1..65535, and the datagram
//    the desktop would write for them reads back the same.
#include "fuzzsupport.h"

#include "crushedprintjob.h"
#include "grayscalegrid.h"
#include "jobstreamreceiver.h"
#include "printjob.h"
#include "protocol.h"
#include "resin.h"

#include <QFile>
#include <QHostAddress>

#include <memory>

namespace {

constexpr uint8_t kStartReady = 0x08;
constexpr uint8_t kUpdatesEnabled = 0x10;
constexpr uint8_t kDatagram = 0x80;

class PrinterSide : public QObject
{
public:
    enum ReadState { AwaitingGreeting = 0, Ready = 1, ReceivingJob = 3, ReceivingUpdate = 4 };

    PrinterSide(QTcpSocket *socket, bool ready, bool updates)
        : m_socket(socket)
        , m_updates(updates)
    {
        if (ready) {
            m_state = Ready;
            m_legacyCheckArmed = true;
        }
        m_grid.setNumRowsAndColumns(GrayscaleGrid::defaultNumRows, GrayscaleGrid::defaultNumColumns);
        connect(m_socket, &QTcpSocket::readyRead, this, &PrinterSide::receivedNetworkMessage);
    }

    ~PrinterSide() override
    {
        if (m_receiver)
            m_receiver->abort();
    }

private:
    // Client::receivedNetworkMessage
    void receivedNetworkMessage()
    {
        if (!m_connected)
            return;
        switch (m_state) {
        case AwaitingGreeting:
            readHandshake();
            break;
        case ReceivingJob:
        case ReceivingUpdate:
            receiveStream();
            break;
        default:
            readSerializedMessage();
            break;
        }
    }

    // Client::readHandshake: as many bytes as the greeting has, whether or not they are all there.
    void readHandshake()
    {
        const QString greeting = QLatin1String(Protocol::kMarker) + QLatin1String(Protocol::kGreeting);
        const QString text = Protocol::asciiUpToZero(m_socket->read(greeting.size()));
        if (text == greeting)
            handleGreeting();
        m_legacyCheckArmed = true;
        if (m_connected && m_socket->bytesAvailable() > 0)
            readSerializedMessage();
    }

    void handleGreeting()
    {
        // The reply is one frame with the handshake fields.
        const QByteArray reply = Protocol::frame(QLatin1String(Protocol::kMarker)
            + Protocol::handshakeReply(QStringLiteral("OBW-FUZZ"), QStringLiteral("Fuzz"), QStringLiteral("OBP100V1"),
                Protocol::printerVersionText(), Protocol::statusName(5), Resin::toString(m_resins), {},
                QStringLiteral("g0")));
        m_socket->write(reply);
        m_state = Ready;
    }

    // Client::readSerializedMessage
    void readSerializedMessage()
    {
        if (m_legacyCheckArmed) {
            m_legacyCheckArmed = false;
            if (Protocol::asciiUpToZero(m_socket->peek(m_socket->bytesAvailable()))
                    .contains(QLatin1String(Protocol::kMarker))) {
                closeConnection(); // raw frames from the desktop
                return;
            }
        }
        while (m_connected && (m_state == Ready || m_state == AwaitingGreeting)) {
            QString text;
            const Protocol::FrameStatus status = Protocol::readFrame(m_socket, &text);
            if (status == Protocol::FrameStatus::Incomplete)
                return;
            if (status == Protocol::FrameStatus::Invalid) {
                closeConnection();
                return;
            }
            for (const QString &message : Protocol::extractMessages(text)) {
                processMessage(message);
                if (!m_connected)
                    return;
            }
        }
        if (m_connected && m_socket->bytesAvailable() > 0 && (m_state == ReceivingJob || m_state == ReceivingUpdate))
            receiveStream();
    }

    // Client::processMessage
    void processMessage(const QString &message)
    {
        if (m_state == AwaitingGreeting) {
            if (message == QLatin1String(Protocol::kGreeting))
                handleGreeting();
            else
                closeConnection();
            return;
        }
        if (m_state == Ready)
            dispatch(message);
    }

    // Client::dispatch: the same tests in the same order, which decides the reader a
    // message reaches; branches that only act on the printer do nothing here.
    void dispatch(const QString &message)
    {
        const auto has = [&message](const char *name) { return message.contains(QLatin1String(name)); };
        const auto is = [&message](const char *name) { return message == QLatin1String(name); };
        const QStringList fields = message.split(QLatin1Char(','));
        if (has("Status_SendingPrintJob")) {
            if (!PrintJob::isCompleteLine(message))
                return;
            m_state = ReceivingJob;
            startStream(QStringLiteral("MySSJFile.ssj"));
            m_job = PrintJob();
            m_job.setFromString(message);
            m_job.printInfo();
            (void)m_job.printerTotalMinutes();
            (void)m_job.getFineTuneFactorCureTime();
        } else if (has("Send_UpdatedClient")) {
            if (!m_updates)
                return;
            m_state = ReceivingUpdate;
            startStream(QStringLiteral("Vatnode_update"));
        } else if (has("Send_ResinData")) {
            const QString text = message.split(QStringLiteral("Send_ResinData")).value(1);
            if (Resin::isOldResinFormat(text)) {
                closeConnection();
                return;
            }
            m_resins = Resin::fromString(text);
            const QString stored = Resin::toString(m_resins);
            FUZZ_CHECK(Resin::toString(Resin::fromString(stored)) == stored,
                QStringLiteral("stored resin list reads back differently: ") + stored);
        } else if (has("Send_NetworkInfo")) {
            (void)message.split(QStringLiteral("Send_NetworkInfo")).value(3);
        } else if (is("Request_PrintProgress") || is("Request_PausePrint") || is("Request_CancelPrint")
            || is("Request_ResumePrint")) {
        } else if (has("Server_NewNickname")) {
            (void)fields.value(1);
        } else if (has("Request_PlatformUp") || has("Request_PlatformDown") || has("Request_TiltUp")
            || has("Request_TiltDown")) {
        } else if (has("Request_Reprint")) {
            m_state = Ready;
        } else if (has("Request_ResetNetwork") || has("Server_QUITCLIENT") || has("Request_QA_GCommand")
            || has("Request_QA_G0") || has("Request_QA_ProjectGrid") || has("Request_QA_ProjectBlue")
            || has("Request_QA_TurnOffProjector")) {
        } else if (has("Send_NewSerialAndModel")) {
            (void)fields.value(2);
        } else if (has("Connection-Alive")) {
        } else if (has("Request_Grayscale")) {
            (void)m_grid.getJSONChunks();
        } else if (has("Send_NewGrayscale")) {
            const int start
                = int(message.indexOf(QLatin1String("Send_NewGrayscale"))) + int(qstrlen("Send_NewGrayscale")) + 1;
            m_grid.setFromJSONString(message.mid(start));
        } else if (has("Send_GParameter") || has("Send_FactoryGParameter")) {
            bool ok = false;
            (void)fields.value(1).toInt(&ok);
        } else if (has("Send_ResetGParameterToFactory")) {
        } else if (has("Send_PiToBoardCommand")) {
            (void)fields.value(1).mid(1);
        } else {
            m_legacyCheckArmed = true; // unrecognised
        }
    }

    void startStream(const QString &fileName)
    {
        if (m_receiver)
            m_receiver->abort();
        m_receiver = std::make_unique<JobStreamReceiver>(Fuzz::workDir() + QLatin1Char('/') + fileName);
        m_receiver->setMaxBytes(qint64(1) << 30);
        m_streamFile = Fuzz::workDir() + QLatin1Char('/') + fileName;
    }

    // Client::receiveFile and Client::receiveUpdatedClient
    void receiveStream()
    {
        while (JobStreamReceiver::consumeKeepAlive(m_socket)) { }
        if (!m_receiver)
            startStream(m_state == ReceivingJob ? QStringLiteral("MySSJFile.ssj") : QStringLiteral("Vatnode_update"));
        const qint64 availableBefore = m_socket->bytesAvailable();
        const qint64 receivedBefore = m_receiver->received();
        const JobStreamReceiver::Result result = m_receiver->feed(m_socket);
        if (result == JobStreamReceiver::Failed) {
            closeConnection();
            return;
        }
        const qint64 taken = availableBefore - m_socket->bytesAvailable();
        FUZZ_CHECK(taken == m_receiver->received() - receivedBefore,
            QStringLiteral("receiver took %1 bytes and counted %2")
                .arg(taken)
                .arg(m_receiver->received() - receivedBefore));
        FUZZ_CHECK(m_receiver->received() <= m_receiver->total(),
            QStringLiteral("received %1 of %2").arg(m_receiver->received()).arg(m_receiver->total()));
        if (result == JobStreamReceiver::NeedMore)
            return;
        m_receiver.reset();
        if (m_state == ReceivingUpdate)
            return; // the update script takes over; the state stays
        m_state = Ready;
        loadReceivedJob();
        if (m_connected && m_socket->bytesAvailable() > 0)
            readSerializedMessage();
    }

    // Client::loadReceivedJobAndPrint, up to the printing thread.
    void loadReceivedJob()
    {
        CrushedPrintJob probe;
        QFile file(m_streamFile);
        if (probe.loadCPJ(&file))
            (void)probe.getTotalLayers();
    }

    void closeConnection()
    {
        if (m_receiver) {
            m_receiver->abort();
            m_receiver.reset();
        }
        m_socket->disconnect(this);
        m_socket->close();
        m_connected = false;
        m_state = AwaitingGreeting;
    }

    QTcpSocket *m_socket;
    bool m_updates;
    int m_state = AwaitingGreeting;
    bool m_connected = true;
    bool m_legacyCheckArmed = false;
    std::unique_ptr<JobStreamReceiver> m_receiver;
    QString m_streamFile;
    PrintJob m_job;
    QList<Resin> m_resins;
    GrayscaleGrid m_grid;
};

void readDatagram(const QByteArray &datagram)
{
    QString ip;
    int port = 0;
    if (!Protocol::parseDatagram(datagram, &ip, &port))
        return;
    FUZZ_CHECK(QHostAddress(ip).protocol() == QAbstractSocket::IPv4Protocol && port >= 1 && port <= 65535,
        QStringLiteral("accepted ip %1 port %2").arg(ip).arg(port));
    QString ipAgain;
    int portAgain = 0;
    FUZZ_CHECK(Protocol::parseDatagram(Protocol::datagram(ip, port), &ipAgain, &portAgain) && ipAgain == ip
            && portAgain == port,
        QStringLiteral("the datagram for ip %1 port %2 does not read back").arg(ip).arg(port));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    if (size < 1)
        return 0;
    const uint8_t options = data[0];
    const QByteArray stream = Fuzz::bytes(data + 1, size - 1);
    if (options & kDatagram) {
        readDatagram(stream);
        return 0;
    }

    Fuzz::SocketPair pair;
    if (!pair.isValid())
        Fuzz::fail(__FILE__, __LINE__, "pair.isValid()", QStringLiteral("no socket pair"));
    PrinterSide printer(pair.socket(), options & kStartReady, options & kUpdatesEnabled);
    for (const QByteArray &piece : Fuzz::pieces(stream, options)) {
        if (!pair.deliver(piece))
            break;
    }
    return 0;
}
