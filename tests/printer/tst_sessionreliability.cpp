// The printer session against a hostile peer: a thousand random, malformed or
// truncated frames, messages and job streams from a fake desktop on loopback.
// Afterwards the session still answers, its settings file and its stored job
// are as they were, its memory stayed bounded, and it prints the next job.
//
// Terms used here:
//   input    one hostile piece of traffic (bytes, a frame, a message, a stream);
//   batch    consecutive inputs written before the test looks at the printer
//            again; an input that may end the connection ends its batch;
//   probe    an incomplete print job line sent after a batch: the printer
//            answers it with "Send_PrintingError,206" (or, while a reprint the
//            barrage started runs, refuses it) and changes nothing, so its
//            answer proves that every byte before it was read;
//   stall    a connection the printer neither serves nor closes: the probe
//            stays unanswered.
//
// The printer's debug log is switched off (the barrage would make it megabytes
// of random text, and QTest stops printing after 2000 messages, figures
// included); QT_LOGGING_RULES="default.debug=true" brings it back.
#include "printingthread.h"
#include "protocol.h"
#include "resin.h"
#include "sessionharness.h"
#include "ssj.h"
#include "terminal.h"
#include "testbytes.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QMap>
#include <QRandomGenerator>
#include <QSettings>
#include <QtEndian>
#include <QtTest>

#include <functional>
#include <iterator>
#include <limits>

#if defined(__SANITIZE_ADDRESS__)
#define TESSORA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSORA_ASAN 1
#endif
#endif
#ifdef TESSORA_ASAN
extern "C" void __sanitizer_purge_allocator();
#endif

namespace {

constexpr int kInputs = 1000;
constexpr quint32 kSeed = 0x7e55'0a11u;
constexpr int kMaxBatch = 8;
constexpr int kSyncTimeoutMs = 3000;
constexpr qint64 kMaxGrowthBytes = 200 * 1024 * 1024;
constexpr int kMaxRandomBytes = 8 * 1024;

const QString kSettingsFile = QStringLiteral("Tessora_Client_Config");
const QString kJobFile = QStringLiteral("MySSJFile.ssj");
const QString kValidJobLine = QStringLiteral("Status_SendingPrintJob,0,0,1,50,50,2,Clear,1,1,1");
const QString kProbe = QStringLiteral("Status_SendingPrintJob,probe");
const QString kProbeAnswer = QStringLiteral("Send_PrintingError,206");
const QString kJobRefused = QStringLiteral("Send_RequestRefused,Status_SendingPrintJob,");

// VmRSS of this process. Under AddressSanitizer, freed memory first waits in a
// quarantine of up to 256 MB; it is released before measuring, so that the
// figure shows what is still in use rather than what was recently freed.
qint64 residentBytes()
{
#ifdef TESSORA_ASAN
    __sanitizer_purge_allocator();
#endif
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

int probeAnswers(const FakeDesktop &desktop)
{
    return int(desktop.messages.count(kProbeAnswer) + desktop.messagesStartingWith(kJobRefused).size());
}

// One piece of hostile traffic and what the test does around it.
struct HostileInput {
    QString kind;
    QByteArray bytes;
    bool endsBatch = false; // may end the connection: nothing follows it in the batch
    bool disconnectAfter = false; // the desktop closes its side once the bytes are written
    int answers206 = 0; // "Send_PrintingError,206" answers it asks for
};

// The barrage's traffic. The byte-level variety of frames and messages is the fuzz target's
// (fuzz_printerlink); here every kind of hostile traffic comes often enough to show what
// it leaves behind in a session that lives through all of it.
class BarrageGenerator
{
public:
    explicit BarrageGenerator(quint32 seed)
        : m_random(seed)
    {
    }

    HostileInput next()
    {
        const int roll = bounded(100);
        HostileInput input;
        if (roll < 14) {
            input = {QStringLiteral("random bytes"), bytes(bounded(kMaxRandomBytes + 1))};
            input.endsBatch = input.bytes.size() >= 4;
        } else if (roll < 26) {
            QString content = text(bounded(4097));
            if (chance(50))
                content.prepend(QLatin1String(Protocol::kMarker));
            input = {QStringLiteral("frame of random text"), Protocol::frame(content)};
        } else if (roll < 33) {
            // Longer than the frame cap, odd, or absurd.
            static const quint32 lengths[] = {0xFFFFFFFFu, 0x7FFFFFF0u, 0x80000000u, 0x01000002u};
            const quint32 length = chance(50) ? lengths[bounded(4)] : quint32(between(0, 4096)) * 2 + 1;
            input = {QStringLiteral("absurd frame length"), bigEndian32(length) + bytes(bounded(256)), true};
        } else if (roll < 37) {
            // A valid length, but fewer bytes follow: what comes next is read as the rest.
            const quint32 length = quint32(between(8 * 1024, int(Protocol::kMaxFrameBytes))) & ~1u;
            input = {QStringLiteral("frame longer than what follows"),
                bigEndian32(length) + Protocol::frame(QStringLiteral("*header*Request_PrintProgress")).mid(4)};
        } else if (roll < 45) {
            const QByteArray whole = chance(50) ? catalogueMessage().bytes : Protocol::frame(text(between(1, 2048)));
            input = {QStringLiteral("truncated frame, then disconnect"), whole.left(between(1, int(whole.size()) - 1)),
                true, true};
        } else if (roll < 50) {
            const QString message = chance(50) ? QStringLiteral("Request_PrintProgress") : text(bounded(200));
            input = {QStringLiteral("raw \"*header*\" text"),
                Protocol::rawFrame(QLatin1String(Protocol::kMarker) + message), true};
        } else if (roll < 87) {
            input = catalogueMessage();
        } else {
            input = hostileStream();
        }
        return input;
    }

private:
    int bounded(int limit) { return int(m_random.bounded(quint32(limit))); }
    int between(int low, int high) { return low + bounded(high - low + 1); }
    bool chance(int percent) { return bounded(100) < percent; }

    QByteArray bytes(int size)
    {
        QByteArray data(size, Qt::Uninitialized);
        for (char &c : data)
            c = char(m_random.bounded(256u));
        return data;
    }

    // Random text of every sort of character: ASCII, the protocol's separators, control
    // characters, any BMP code unit (lone surrogates included). Never "*header*".
    QString text(int size)
    {
        static const QString separators = QStringLiteral(",!*:&=;#[]\"\\\n\r\t ");
        QString out;
        while (out.size() < size) {
            const int roll = bounded(100);
            if (roll < 45)
                out += QChar(ushort(between(0x20, 0x7e)));
            else if (roll < 60)
                out += separators.at(bounded(separators.size()));
            else if (roll < 70)
                out += QChar(ushort(bounded(0x20)));
            else
                out += QChar(ushort(bounded(0x10000)));
        }
        return out.replace(QLatin1String(Protocol::kMarker), QStringLiteral("*head*"));
    }

    QString asciiText(int size)
    {
        QString out;
        for (int i = 0; i < size; ++i)
            out += QChar(ushort(between(0x21, 0x7e)));
        return out;
    }

    // Texts that would break a settings file or a message if stored or sent as they are.
    QString oddText()
    {
        static const QStringList crafted = {QString(), QStringLiteral("\n"), QStringLiteral("[General]"),
            QStringLiteral("x\nprinterSerial=HACKED\n[Other]"), QStringLiteral(";comment"), QStringLiteral("\\"),
            QStringLiteral("%U%s%n"), QStringLiteral("@Variant(\\0\\0\\0\\x7f)"), QStringLiteral("@ByteArray(abc)"),
            QString(QChar(0xD800)), QString(QChar(0)), QStringLiteral("trailing  "), QString(3000, QLatin1Char('n'))};
        return chance(50) ? crafted.at(bounded(crafted.size())) : text(between(0, 200)).remove(QLatin1Char(','));
    }

    // A valid frame with one message of the printer's catalogue and random arguments.
    // Left out: "Server_QUITCLIENT" (ends the program), "Request_ResetNetwork" (rewrites
    // the network set-up and reboots) and network credentials the printer would accept
    // (the same). Nickname, serial, model and resin list change legitimately; the test
    // restores them.
    HostileInput catalogueMessage()
    {
        static const QStringList plainNames = {"Send_UpdatedClient", "Request_PrintProgress", "Request_PausePrint",
            "Request_CancelPrint", "Request_ResumePrint", "Request_PlatformUp", "Request_PlatformDown",
            "Request_TiltUp", "Request_TiltDown", "Request_Reprint", "Request_QA_GCommand", "Request_QA_G0",
            "Request_QA_ProjectGrid", "Request_QA_ProjectBlue", "Request_QA_TurnOffProjector", "Connection-Alive",
            "Request_Grayscale", "Send_ResetGParameterToFactory"};
        HostileInput input;
        input.kind = QStringLiteral("catalogue message");
        QString message;
        switch (bounded(9)) {
        case 0: {
            // Short job lines are answered with error 206; a complete one with garbage fields
            // switches to receiving a stream, which the desktop then breaks off.
            const int fields = chance(60) ? between(0, 9) : between(10, 20);
            message = QStringLiteral("Status_SendingPrintJob");
            for (int i = 0; i < fields; ++i)
                message += QLatin1Char(',')
                    + (chance(50) ? QString::number(qint64(m_random.generate64()))
                                  : text(between(0, 12)).remove(QLatin1Char(',')));
            input.answers206 = fields < 10 ? 1 : 0;
            input.endsBatch = input.disconnectAfter = fields >= 10;
            break;
        }
        case 1: {
            QString list;
            for (int entries = between(0, 4); entries > 0; --entries) {
                list += QLatin1Char('*')
                    + QStringList({"", "", "ResinFormatVersion:2!", "ResinFormatVersion:3!"})[bounded(4)];
                for (int fields = between(0, 22); fields > 0; --fields)
                    list += (chance(50) ? QString::number(between(-5, 500)) : text(between(0, 10)).remove('*')) + '!';
            }
            // An entry without its version heading is the old format: the printer hangs up on it.
            input.endsBatch = list.contains(QLatin1Char('*'));
            message = QStringLiteral("Send_ResinData") + list;
            break;
        }
        case 2: {
            // Always refused: a piece is missing, or the name or the password breaks a rule.
            const QString marker = QStringLiteral("Send_NetworkInfo");
            const QString name = chance(50) ? asciiText(between(1, 20)) + "\"" : asciiText(between(33, 80));
            message = marker + (chance(30) ? text(between(0, 40)) : name + marker + asciiText(between(8, 40)) + marker);
            break;
        }
        case 3:
            message = QStringLiteral("Server_NewNickname") + (chance(90) ? QLatin1Char(',') + oddText() : QString());
            break;
        case 4:
            message = QStringLiteral("Send_NewSerialAndModel");
            for (int fields = between(0, 3); fields > 0; --fields)
                message += QLatin1Char(',') + oddText();
            break;
        case 5: {
            static const QStringList grids = {QStringLiteral("{\"numRows\":1e300,\"numColumns\":-7,\"startRow\":0}"),
                QStringLiteral(
                    "{\"numRows\":1,\"numColumns\":65536,\"startRow\":0,\"endRow\":1,\"r0c5\":\"9999999999\"}"),
                QStringLiteral("{\"numRows\":8,\"numColumns\":13,\"startRow\":-2147483648,\"endRow\":2147483647,"
                               "\"r3c1\":[1,2],\"r3c2\":{},\"r3c3\":null}"),
                QString(between(1, 5000), QLatin1Char('['))};
            message = QStringLiteral("Send_NewGrayscale,") + (chance(40) ? text(between(0, 300)) : grids[bounded(4)]);
            break;
        }
        case 6: {
            static const QStringList refused = {QString(), QStringLiteral("abc"), QStringLiteral("5\nR110"),
                QStringLiteral("1e3"), QStringLiteral("+5"), QStringLiteral(" 5"), QStringLiteral("99999999999"),
                QStringLiteral("0x10"), QStringLiteral("--1"), QStringLiteral("5.5")};
            message = (chance(50) ? QStringLiteral("Send_GParameter,") : QStringLiteral("Send_FactoryGParameter,"))
                + refused.at(bounded(refused.size()));
            break;
        }
        case 7: {
            static const QStringList odd = {QString(), QStringLiteral("g"), QStringLiteral("N"), QStringLiteral("Nabc"),
                QStringLiteral("g-1"), QStringLiteral("\x01"), QString(300, QLatin1Char('j'))};
            message = QStringLiteral("Send_PiToBoardCommand,")
                + (chance(50) ? odd.at(bounded(odd.size())) : text(between(0, 40)));
            break;
        }
        default:
            message = plainNames.at(bounded(plainNames.size()));
            if (chance(40))
                message += QLatin1Char(',') + text(between(0, 40));
            break;
        }
        input.bytes = Protocol::frame(QLatin1String(Protocol::kMarker) + message);
        return input;
    }

    // "Status_SendingPrintJob" with a valid line, then a job stream the printer must
    // refuse, or one cut short before the desktop disconnects.
    HostileInput hostileStream()
    {
        HostileInput input {QStringLiteral("hostile job stream"), {}, true};
        const QByteArray name = Protocol::frame(chance(50) ? QStringLiteral("hostile.ssj") : text(between(0, 40)));
        const qint64 n = name.size();
        const QByteArray body = bytes(between(0, 2048));
        const qint64 whole = 16 + n + body.size();
        const qint64 hugeSizes[] = {n + 1, qint64(between(0, 3)), Protocol::kMaxFrameBytes + 6,
            std::numeric_limits<qint64>::max(), -qint64(between(1, 1 << 30))};
        QByteArray stream;
        switch (bounded(8)) {
        case 0: // negative total, or larger than any disk
            stream = bigEndian64(chance(50) ? -qint64(between(1, 1 << 30)) : qint64(1) << 60) + bigEndian64(n);
            stream += name + body;
            break;
        case 1: // impossible name size: negative, odd, below a frame header, beyond any frame
            stream = bigEndian64(whole) + bigEndian64(hugeSizes[bounded(5)]) + name + body;
            break;
        case 2: // total smaller than its own header
            stream = bigEndian64(between(0, int(16 + n - 1))) + bigEndian64(n) + name + body;
            break;
        case 3: // the name frame is not as long as the header says
            stream = bigEndian64(whole + 2) + bigEndian64(n + 2) + name + QByteArray(2, 'x') + body;
            break;
        case 4: // the name frame's own length is refused
            stream = bigEndian64(24 + body.size()) + bigEndian64(8) + bigEndian32(0xFFFFFFFFu) + "xxxx" + body;
            break;
        default: // cut short inside the header, the name or the body (possibly of a large size)
            stream = bigEndian64(whole + 1 + (chance(50) ? 0 : qint64(between(0, 1 << 30)))) + bigEndian64(n) + name
                + body;
            stream = stream.left(std::max(1, bounded(int(stream.size()))));
            input.disconnectAfter = true;
            break;
        }
        input.bytes = Protocol::frame(QLatin1String(Protocol::kMarker) + kValidJobLine) + stream;
        return input;
    }

    QRandomGenerator m_random;
};

// Drives the barrage through one session and keeps the figures.
class Barrage
{
public:
    explicit Barrage(Session &session)
        : m_session(session)
    {
    }

    int sent = 0;
    int stalls = 0;

    // Writes the inputs of one batch, then makes sure the printer took them
    // (answers the probe) or hung up, and reconnects in that case.
    bool runBatch(const QVector<HostileInput> &batch)
    {
        FakeDesktop &desktop = m_session.desktop();
        int expected206 = 0;
        bool disconnect = false;
        for (const HostileInput &input : batch) {
            desktop.sendRaw(input.bytes);
            ++sent;
            expected206 += input.answers206;
            disconnect = disconnect || input.disconnectAfter;
        }
        if (disconnect) {
            // Pending bytes are written first; the heartbeat stops at once.
            desktop.socket()->disconnectFromHost();
        } else {
            desktop.send(kProbe);
            ++expected206;
        }
        waitFor([&] { return !desktop.connected() || answers206() >= expected206; }, kSyncTimeoutMs);
        if (desktop.connected() && answers206() >= expected206) {
            desktop.messages.clear();
            return true;
        }
        if (desktop.connected()) {
            ++stalls;
            QStringList batchKinds;
            for (const HostileInput &input : batch)
                batchKinds << input.kind;
            qWarning().noquote() << "Stall after" << sent << "inputs, batch:" << batchKinds.join(QStringLiteral(", "));
            desktop.socket()->abort();
        }
        return reconnect();
    }

    bool reconnect()
    {
        // The printer must notice the closed connection before it listens to
        // announcements again.
        if (!waitFor([&] { return !m_session.client().isConnected(); }, kSyncTimeoutMs))
            return false;
        // The fake desktop's keep-alive timer still runs from the last greeting:
        // a keep-alive written on the new connection before the greeting would be
        // taken for a wrong greeting. Quiet until the handshake is done.
        FakeDesktop &desktop = m_session.desktop();
        desktop.messages.clear();
        desktop.heartbeat = false;
        const bool handshaken = m_session.connectAndHandshake().size() == 9;
        desktop.heartbeat = true;
        return handshaken;
    }

private:
    int answers206() const { return probeAnswers(m_session.desktop()); }

    Session &m_session;
};

} // namespace

class TestSessionReliability : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SSJ::releaseCPJ(); }

    void hostileBarrage_sessionSurvives_settingsAndJobKept_nextJobPrints();
};

void TestSessionReliability::hostileBarrage_sessionSurvives_settingsAndJobKept_nextJobPrints()
{
    // Parameters of the board link are process-wide; the barrage may change them.
    QString *const parameters[] = {&Terminal::d_param, &Terminal::e_param, &Terminal::j_param, &Terminal::k_param,
        &Terminal::l_param, &Terminal::w_param, &Terminal::x_param, &Terminal::g_param};
    QStringList before;
    for (QString *parameter : parameters)
        before << *parameter;
    const auto restoreBoardParameters = qScopeGuard([&] {
        for (int i = 0; i < before.size(); ++i)
            *parameters[i] = before[i];
        Client::boardIsOldVersion = false;
        QLoggingCategory::setFilterRules(QString());
    });
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    Session session;
    QVERIFY(session.ok());
    FakeDesktop &desktop = session.desktop();
    const QStringList handshake = session.connectAndHandshake();
    QCOMPARE(handshake.size(), 9);

    // A job printed before the barrage.
    const QByteArray firstJob = session.makeJob(2);
    desktop.send(kValidJobLine);
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Client_Request_FileTransfer")); }, 10000));
    desktop.sendStream(QStringLiteral("first.ssj"), firstJob);
    QVERIFY(desktop.waitForMessage(QStringLiteral("Send_PrintDone"), 30000));
    QCOMPARE(fileBytes(session.path(kJobFile)), firstJob);
    desktop.messages.clear();

    const QByteArray settingsBefore = fileBytes(session.path(kSettingsFile));
    QVERIFY(!settingsBefore.isEmpty());
    const QString serial = session.client().serial();
    const QString nickname = session.client().nickname();
    const QString model = session.client().model();
    const QString resinData = settingValue(QStringLiteral("resinData"));
    QVERIFY(!resinData.isEmpty());
    const QStringList fixedKeys = {QStringLiteral("broadcastingDirect"), QStringLiteral("gParameter"),
        QStringLiteral("grayscale"), QStringLiteral("enableResinSettleTime"), QStringLiteral("resinSettleTime")};
    QMap<QString, QString> fixedBefore;
    for (const QString &key : fixedKeys)
        fixedBefore[key] = settingValue(key);

    const qint64 rssBefore = residentBytes();

    BarrageGenerator generator(kSeed);
    Barrage barrage(session);
    QVector<HostileInput> batch;
    for (int i = 0; i < kInputs; ++i) {
        batch << generator.next();
        if (batch.last().endsBatch || batch.size() == kMaxBatch || i == kInputs - 1) {
            QVERIFY2(barrage.runBatch(batch),
                qPrintable(QStringLiteral("no new connection after input %1 (%2)").arg(i).arg(batch.last().kind)));
            batch.clear();
        }
    }
    const qint64 rssAfter = residentBytes();

    // The session still answers: a fresh handshake works.
    QVERIFY(desktop.connected());
    desktop.socket()->disconnectFromHost();
    QVERIFY(barrage.reconnect());
    QCOMPARE(barrage.stalls, 0);

    // Keys no message of the barrage may change are as they were.
    for (const QString &key : fixedKeys)
        QCOMPARE(settingValue(key), fixedBefore.value(key));
    // Keys the barrage changes legitimately hold exactly what the session holds.
    QCOMPARE(settingValue(QStringLiteral("printerNickName")), session.client().nickname());
    QCOMPARE(settingValue(QStringLiteral("printerSerial")), session.client().serial());
    QCOMPARE(settingValue(QStringLiteral("printerModel")), session.client().model());
    QCOMPARE(settingValue(QStringLiteral("resinData")), Resin::toString(session.client().resins()));

    // Once the desktop sets them back, the file is byte for byte the one from before.
    desktop.send(QStringLiteral("Send_NewSerialAndModel,%1,%2").arg(serial, model));
    desktop.send(QStringLiteral("Server_NewNickname,") + nickname);
    desktop.send(QStringLiteral("Send_ResinData") + resinData);
    desktop.send(kProbe);
    QVERIFY(waitFor([&] { return probeAnswers(desktop) > 0; }, 10000));
    QCOMPARE(fileBytes(session.path(kSettingsFile)), settingsBefore);

    // The job from before the barrage is untouched, and no partial transfer is left behind.
    QCOMPARE(fileBytes(session.path(kJobFile)), firstJob);
    const QStringList leftovers
        = QDir(session.path(QString())).entryList({kJobFile + QStringLiteral(".*")}, QDir::Files);
    QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(QLatin1Char(' '))));

    // Memory stayed bounded.
    QVERIFY(rssBefore > 0 && rssAfter > 0);
    QVERIFY2(rssAfter - rssBefore < kMaxGrowthBytes,
        qPrintable(QStringLiteral("RSS grew from %1 to %2 bytes").arg(rssBefore).arg(rssAfter)));

    // A reprint started by the barrage is stopped; then the next valid job prints to its end.
    desktop.send(QStringLiteral("Request_CancelPrint"));
    QVERIFY(waitFor([&] { return !session.client().printActive(); }, 10000));
    session.board().clearReceivedLines();
    desktop.messages.clear();
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,3,Clear,1,1,1")));
    const QByteArray lastJob = session.makeJob(3);
    desktop.sendStream(QStringLiteral("after-the-barrage.ssj"), lastJob);
    QVERIFY(desktop.waitForMessage(QStringLiteral("Send_PrintDone"), 30000));
    QCOMPARE(movesOf(session.board().receivedLines()), 3);
    QCOMPARE(fileBytes(session.path(kJobFile)), lastJob);
}

QTEST_MAIN(TestSessionReliability)
#include "tst_sessionreliability.moc"
