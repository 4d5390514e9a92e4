// The printer's reading of what the desktop sends, through the printer's own session: one
// Client for the whole run (with its board link, printing thread, watchdog, settings and
// simulated system), handed one end of a local socket pair per input as the desktop's
// connection. The input's bytes arrive from the other end: the greeting, frames and the
// messages in them, job and update streams with the job files they deliver, every
// message of the catalogue. What the session answers is read back from the pair.
// Discovery datagrams are read by Protocol::parseDatagram, the session's datagram reader
// (the session's own socket would try to connect to the announced address).
//
// Between inputs the session is put back to waiting: a print an input started (there is
// no board to answer it) is ended as when the board's link is lost, and the connection is
// closed.
//
// Input: byte 0 holds options, the rest is what arrives.
//   bits 0-2  how the bytes are cut into notifications (Fuzz::pieces)
//   bit 3     the greeting was already handled: the connection starts ready
//   bit 4     program updates over the connection are enabled on this printer
//   bit 7     the rest is one discovery datagram, not a TCP stream
//
// Rules checked besides the sanitizers':
//  - everything the printer writes is whole frames, and every message in them has the
//    number of fields its name gives it, whatever free text the desktop sent (nicknames,
//    serials, file and resin names travel encoded);
//  - an accepted datagram names an IPv4 address and a port in 1..65535, and the datagram
//    the desktop would write for them reads back the same.
#include "fuzzsupport.h"

#include "client.h"
#include "printingthread.h"
#include "protocol.h"
#include "systemactions.h"
#include "timescale.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QThread>

#include <memory>

namespace {

constexpr uint8_t kStartReady = 0x08;
constexpr uint8_t kUpdatesEnabled = 0x10;
constexpr uint8_t kDatagram = 0x80;

Client &session()
{
    static Client *client = [] {
        QDir::setCurrent(Fuzz::workDir());
        // Timers run at a hundredth: the greeting's time-out, a heartbeat or a print's
        // first-layer wait take milliseconds, and the start-up's network test barely waits.
        TimeScale::setFactor(0.01);
        SystemActions::configure(false, Fuzz::workDir() + QStringLiteral("/system-root"));
        SystemActions::setSimulatedOutput(QStringLiteral("ifconfig wlan0"), QStringLiteral("inet addr:192.168.1.20"));
        SystemActions::setSimulatedOutput(
            QStringLiteral("sudo iwlist wlan0 scan | grep ESSID"), QStringLiteral("ESSID:\"Workshop\""));
        ClientOptions options;
        options.serialPort = Fuzz::workDir() + QStringLiteral("/no-board");
        options.discoveryPort = 0;
        Client::setOptions(options);
        // Lives for the whole process, as in the program.
        return new Client;
    }();
    return *client;
}

// Fields of each message the printer may send, the name included; -1: any number.
int expectedFields(const QString &name)
{
    static const QHash<QString, int> fields = {
        {QStringLiteral("Tessora_Client"), 9},
        {QStringLiteral("Send_PrintProgress"), 7},
        {QStringLiteral("Send_PrintStatus"), 2},
        {QStringLiteral("Send_RequestRefused"), 4},
        {QStringLiteral("Send_PrintingError"), 2},
        {QStringLiteral("Send_PrintDone"), 1},
        {QStringLiteral("Client_Request_FileTransfer"), 1},
        {QStringLiteral("Request_Update"), 1},
        {QStringLiteral("Send_PauseMovementDone"), 1},
        {QStringLiteral("Send_ResumeMovementDone"), 1},
        {QStringLiteral("Request_PausePrint"), 1},
        {QStringLiteral("Request_ResumePrint"), 1},
        {QStringLiteral("Request_CancelPrint"), 1},
        {QStringLiteral("Connection-Alive"), 1},
        {QStringLiteral("Send_NewGrayscale"), -1}, // JSON with commas of its own
    };
    return fields.value(name, 0);
}

void checkWhatThePrinterSaid(const QByteArray &written)
{
    QBuffer buffer;
    buffer.setData(written);
    buffer.open(QIODevice::ReadOnly);
    for (;;) {
        QString text;
        const Protocol::FrameStatus status = Protocol::readFrame(&buffer, &text);
        if (status == Protocol::FrameStatus::Incomplete) {
            FUZZ_CHECK(buffer.bytesAvailable() == 0,
                QStringLiteral("%1 bytes of an unfinished frame").arg(buffer.bytesAvailable()));
            return;
        }
        FUZZ_CHECK(status == Protocol::FrameStatus::Complete, QStringLiteral("the printer wrote an invalid frame"));
        const QStringList messages = Protocol::extractMessages(text);
        FUZZ_CHECK(!messages.isEmpty(), QStringLiteral("a frame without message: ") + text);
        for (const QString &message : messages) {
            const QStringList fields = message.split(QLatin1Char(','));
            const int expected = expectedFields(fields.first());
            FUZZ_CHECK(expected != 0, QStringLiteral("the printer sent an unknown message: ") + message);
            FUZZ_CHECK(expected < 0 || fields.size() == expected,
                QStringLiteral("%1 fields instead of %2: ").arg(fields.size()).arg(expected) + message);
        }
    }
}

// Ends what an input left running: a print (no board answers it) as when the board's
// link is lost, and the connection.
void backToWaiting(Client &client)
{
    QMetaObject::invokeMethod(client.printingThread(), "abortPrint", Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
    client.connectionAliveTimedOut();
    QCoreApplication::processEvents();
}

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

    Client &client = session();
    ClientOptions clientOptions = Client::options();
    clientOptions.allowNetworkUpdate = options & kUpdatesEnabled;
    Client::setOptions(clientOptions);

    Fuzz::SocketPair pair;
    FUZZ_CHECK(pair.isValid(), QStringLiteral("no socket pair"));
    client.adoptConnection(pair.releaseSocket());
    QList<QByteArray> pieces;
    if (options & kStartReady)
        pieces << QByteArray(Protocol::kMarker) + Message::kGreeting;
    pieces << Fuzz::pieces(stream, options);
    for (const QByteArray &piece : qAsConst(pieces)) {
        const bool open = pair.deliver(piece);
        // What the printing thread and the timers queued meanwhile.
        QCoreApplication::processEvents();
        if (!open)
            break;
    }
    pair.drain();
    checkWhatThePrinterSaid(pair.received());

    backToWaiting(client);
    return 0;
}
