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

bool waitFor(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < ms)
        QTest::qWait(5);
    return condition();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString settingValue(const QString &key)
{
    QSettings settings(kSettingsFile, QSettings::IniFormat);
    return settings.value(key).toString();
}

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

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
}

// The printer's own test for a G parameter: text it would store.
bool wouldBeAcceptedAsGParameter(const QString &text)
{
    bool ok = false;
    text.toInt(&ok);
    return ok && !text.contains(QLatin1Char('+')) && !text.trimmed().isEmpty() && text.trimmed() == text;
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
        if (roll < 14)
            return randomBytes();
        if (roll < 26)
            return randomTextFrame();
        if (roll < 33)
            return absurdLength();
        if (roll < 37)
            return longerThanFollows();
        if (roll < 45)
            return truncatedThenDisconnect();
        if (roll < 50)
            return rawHeaderText();
        if (roll < 87)
            return catalogueMessage();
        return hostileStream();
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

    // Random text of every sort of character: ASCII, separators of the
    // protocol's messages, control characters, any BMP code unit (lone
    // surrogates included) and pairs outside the BMP. Never "*header*".
    QString text(int size)
    {
        static const QString separators = QStringLiteral(",!*:&=;#[]\"\\\n\r\t ");
        QString out;
        out.reserve(size + 1);
        while (out.size() < size) {
            const int roll = bounded(100);
            if (roll < 45)
                out += QChar(ushort(between(0x20, 0x7e)));
            else if (roll < 60)
                out += separators.at(bounded(separators.size()));
            else if (roll < 70)
                out += QChar(ushort(bounded(0x20)));
            else if (roll < 90)
                out += QChar(ushort(bounded(0x10000)));
            else {
                const uint codePoint = uint(between(0x10000, 0x10ffff));
                out += QChar(QChar::highSurrogate(codePoint));
                out += QChar(QChar::lowSurrogate(codePoint));
            }
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

    QString oddText()
    {
        static const QStringList crafted = {
            QString(),
            QStringLiteral(" "),
            QStringLiteral("\n"),
            QStringLiteral("a=b"),
            QStringLiteral("[General]"),
            QStringLiteral("x\nprinterSerial=HACKED\n[Other]"),
            QStringLiteral(";comment"),
            QStringLiteral("#hash"),
            QStringLiteral("\\"),
            QStringLiteral("\"quoted\""),
            QStringLiteral("%U%s%n"),
            QStringLiteral("@Variant(\\0\\0\\0\\x7f)"),
            QStringLiteral("@ByteArray(abc)"),
            QStringLiteral("@@x"),
            QStringLiteral("\u00fc\u20ac\U0001D11E"),
            QString(QChar(0xD800)),
            QString(QChar(0xDFFF)) + QChar(0xD800),
            QString(QChar(0)),
            QStringLiteral("trailing  "),
            QString(3000, QLatin1Char('n')),
        };
        if (chance(50))
            return crafted.at(bounded(crafted.size()));
        return text(between(0, 200)).remove(QLatin1Char(','));
    }

    QByteArray messageFrame(const QString &message)
    {
        return Protocol::frame(QLatin1String(Protocol::kMarker) + message);
    }

    HostileInput randomBytes()
    {
        HostileInput input;
        input.kind = QStringLiteral("random bytes");
        input.bytes = bytes(bounded(kMaxRandomBytes + 1));
        input.endsBatch = input.bytes.size() >= 4;
        return input;
    }

    HostileInput randomTextFrame()
    {
        HostileInput input;
        input.kind = QStringLiteral("frame of random text");
        QString content = text(bounded(4097));
        if (chance(50))
            content.prepend(QLatin1String(Protocol::kMarker));
        if (chance(20))
            content += QLatin1String(Protocol::kMarker) + text(bounded(64));
        input.bytes = Protocol::frame(content);
        return input;
    }

    HostileInput absurdLength()
    {
        HostileInput input;
        input.kind = QStringLiteral("absurd frame length");
        static const quint32 lengths[] = {0xFFFFFFFFu, 0x7FFFFFF0u, 0x80000000u, 0x01000002u, 0xFFFFFFFEu};
        quint32 length;
        switch (bounded(3)) {
        case 0:
            length = lengths[bounded(int(std::size(lengths)))];
            break;
        case 1:
            length = quint32(between(0, 4096)) * 2 + 1;
            break; // odd
        default:
            length = quint32(Protocol::kMaxFrameBytes) + 2 + 2 * m_random.bounded(1u << 28);
            break;
        }
        input.bytes = bigEndian32(length) + bytes(bounded(256));
        input.endsBatch = true;
        return input;
    }

    // A valid length, but fewer bytes follow: whatever comes next is read as
    // the rest of the frame.
    HostileInput longerThanFollows()
    {
        HostileInput input;
        input.kind = QStringLiteral("frame longer than what follows");
        const quint32 length
            = chance(50) ? quint32(Protocol::kMaxFrameBytes) : quint32(between(8 * 1024, 4 * 1024 * 1024)) & ~1u;
        input.bytes = bigEndian32(length) + Protocol::frame(QStringLiteral("*header*Request_PrintProgress")).mid(4)
            + bytes(bounded(1024));
        return input;
    }

    HostileInput truncatedThenDisconnect()
    {
        HostileInput input;
        input.kind = QStringLiteral("truncated frame, then disconnect");
        const QByteArray whole = chance(50) ? catalogueMessage().bytes : Protocol::frame(text(between(1, 2048)));
        input.bytes = whole.left(between(1, int(whole.size()) - 1));
        input.endsBatch = true;
        input.disconnectAfter = true;
        return input;
    }

    HostileInput rawHeaderText()
    {
        HostileInput input;
        input.kind = QStringLiteral("raw \"*header*\" text");
        const QString message = chance(50) ? QStringLiteral("Request_PrintProgress") : text(bounded(200));
        input.bytes = Protocol::rawFrame(QLatin1String(Protocol::kMarker) + message);
        input.endsBatch = true;
        return input;
    }

    // A valid frame with one message of the printer's catalogue and random
    // arguments. Left out: "Server_QUITCLIENT" (ends the program),
    // "Request_ResetNetwork" (rewrites the network set-up and reboots) and
    // network credentials the printer would accept (the same). Nickname,
    // serial, model and resin list change legitimately; the test restores them.
    HostileInput catalogueMessage()
    {
        static const QStringList plainNames = {
            QStringLiteral("Send_UpdatedClient"),
            QStringLiteral("Request_PrintProgress"),
            QStringLiteral("Request_PausePrint"),
            QStringLiteral("Request_CancelPrint"),
            QStringLiteral("Request_ResumePrint"),
            QStringLiteral("Request_PlatformUp"),
            QStringLiteral("Request_PlatformDown"),
            QStringLiteral("Request_TiltUp"),
            QStringLiteral("Request_TiltDown"),
            QStringLiteral("Request_Reprint"),
            QStringLiteral("Request_QA_GCommand"),
            QStringLiteral("Request_QA_G0"),
            QStringLiteral("Request_QA_ProjectGrid"),
            QStringLiteral("Request_QA_ProjectBlue"),
            QStringLiteral("Request_QA_TurnOffProjector"),
            QStringLiteral("Connection-Alive"),
            QStringLiteral("Request_Grayscale"),
            QStringLiteral("Send_ResetGParameterToFactory"),
        };
        HostileInput input;
        input.kind = QStringLiteral("catalogue message");
        QString message;
        switch (bounded(10)) {
        case 0: {
            // A print job line: short ones are answered with error 206; a
            // complete one with garbage fields switches to receiving a stream,
            // which the desktop then breaks off.
            const int fields = chance(60) ? between(0, 9) : between(10, 20);
            message = QStringLiteral("Status_SendingPrintJob");
            for (int i = 0; i < fields; ++i)
                message += QLatin1Char(',')
                    + (chance(50) ? QString::number(qint64(m_random.generate64()))
                                  : text(between(0, 12)).remove(QLatin1Char(',')));
            if (fields + 1 < 11) {
                input.answers206 = 1;
            } else {
                input.endsBatch = true;
                input.disconnectAfter = true;
            }
            break;
        }
        case 1:
            message = resinDataMessage(&input);
            break;
        case 2:
            message = networkInfoMessage();
            break;
        case 3:
            message = QStringLiteral("Server_NewNickname") + (chance(90) ? QLatin1Char(',') + oddText() : QString());
            break;
        case 4: {
            message = QStringLiteral("Send_NewSerialAndModel");
            const int fields = between(0, 3);
            for (int i = 0; i < fields; ++i)
                message += QLatin1Char(',') + oddText();
            break;
        }
        case 5:
            message = grayscaleMessage();
            break;
        case 6: {
            const QString name
                = chance(50) ? QStringLiteral("Send_GParameter") : QStringLiteral("Send_FactoryGParameter");
            static const QStringList refused = {QString(), QStringLiteral("abc"), QStringLiteral("5\nR110"),
                QStringLiteral("1e3"), QStringLiteral("+5"), QStringLiteral(" 5"), QStringLiteral("99999999999"),
                QStringLiteral("0x10"), QStringLiteral("--1"), QStringLiteral("5.5")};
            QString argument = chance(50) ? refused.at(bounded(refused.size())) : text(between(0, 20));
            if (wouldBeAcceptedAsGParameter(argument.section(QLatin1Char(','), 0, 0)))
                argument.prepend(QLatin1Char('x'));
            message = name + (chance(90) ? QLatin1Char(',') + argument : QString());
            break;
        }
        case 7: {
            static const QStringList odd = {QString(), QStringLiteral("g"), QStringLiteral("k"), QStringLiteral("d"),
                QStringLiteral("x"), QStringLiteral("N"), QStringLiteral("Nabc"), QStringLiteral("g-1"),
                QStringLiteral("\x01"), QStringLiteral("\u00e9"), QString(300, QLatin1Char('j'))};
            message = QStringLiteral("Send_PiToBoardCommand") + (chance(90) ? QStringLiteral(",") : QString())
                + (chance(50) ? odd.at(bounded(odd.size())) : text(between(0, 40)));
            break;
        }
        default: {
            message = plainNames.at(bounded(plainNames.size()));
            if (chance(40))
                message += QLatin1Char(',') + text(between(0, 40));
            break;
        }
        }
        input.bytes = messageFrame(message);
        return input;
    }

    QString resinDataMessage(HostileInput *input)
    {
        QString list;
        const int entries = between(0, 4);
        for (int e = 0; e < entries; ++e) {
            list += QLatin1Char('*');
            const int heading = bounded(4);
            if (heading == 0)
                list += QStringLiteral("ResinFormatVersion:2!");
            else if (heading == 1)
                list += QStringLiteral("ResinFormatVersion:3!");
            const int fields = between(0, 22);
            for (int f = 0; f < fields; ++f) {
                list += chance(50) ? QString::number(between(-5, 500)) : text(between(0, 10)).remove(QLatin1Char('*'));
                list += QLatin1Char('!');
            }
        }
        if (chance(20))
            list = text(between(0, 300));
        // An entry without its version heading is the old format: the printer
        // hangs up on it.
        if (list.contains(QLatin1Char('*')))
            input->endsBatch = true;
        return QStringLiteral("Send_ResinData") + list;
    }

    // Always refused: a piece is missing, or the name or password breaks a rule.
    QString networkInfoMessage()
    {
        const QString marker = QStringLiteral("Send_NetworkInfo");
        QString name = asciiText(between(1, 20));
        QString password = asciiText(between(8, 40));
        const QString type = text(between(0, 20));
        switch (bounded(7)) {
        case 0:
            return marker + (chance(50) ? text(between(0, 40)) : name + marker + password);
        case 1:
            name.clear();
            break;
        case 2:
            name.insert(bounded(name.size() + 1), QStringList {"\"", "\n", "\\", "\x01"}.at(bounded(4)));
            break;
        case 3:
            name = asciiText(between(33, 80));
            break;
        case 4:
            password = asciiText(between(0, 7));
            break;
        case 5:
            password = asciiText(between(64, 200));
            break;
        default:
            password.insert(bounded(password.size() + 1), QStringList {"\"", "\r", "\\", "\x7f"}.at(bounded(4)));
            break;
        }
        return marker + name + marker + password + marker + type;
    }

    QString grayscaleMessage()
    {
        const QString name = QStringLiteral("Send_NewGrayscale,");
        switch (bounded(5)) {
        case 0:
            return name + text(between(0, 300));
        case 1:
            return name
                + QStringLiteral("{\"numRows\":%1,\"numColumns\":%2,\"startRow\":0,\"endRow\":%1}")
                      .arg(chance(50) ? QStringLiteral("1e300") : QString::number(m_random.generate64()))
                      .arg(chance(50) ? QStringLiteral("-7") : QString::number(m_random.generate()));
        case 2:
            return name
                + QStringLiteral(
                    "{\"numRows\":1,\"numColumns\":65536,\"startRow\":0,\"endRow\":1,\"r0c5\":\"999999999999\"}");
        case 3:
            return name
                + QStringLiteral("{\"numRows\":8,\"numColumns\":13,\"startRow\":-2147483648,\"endRow\":2147483647,")
                + QStringLiteral("\"r3c1\":[1,2],\"r3c2\":{},\"r3c3\":null}");
        default:
            return name + QStringLiteral("[") + QString(between(1, 5000), QLatin1Char('[')) + QStringLiteral("]");
        }
    }

    // "Status_SendingPrintJob" with a valid line, then a job stream the
    // printer must refuse, or one cut short before the desktop disconnects.
    HostileInput hostileStream()
    {
        HostileInput input;
        input.kind = QStringLiteral("hostile job stream");
        input.endsBatch = true;
        const QByteArray nameFrame = Protocol::frame(chance(50) ? QStringLiteral("hostile.ssj") : text(between(0, 40)));
        const qint64 nameBytes = nameFrame.size();
        const QByteArray body = bytes(between(0, 2048));
        QByteArray stream;
        switch (bounded(10)) {
        case 0: // negative total
            stream = bigEndian64(-qint64(between(1, 1 << 30))) + bigEndian64(nameBytes) + nameFrame + body;
            break;
        case 1: // negative name size
            stream = bigEndian64(16 + nameBytes + body.size()) + bigEndian64(-qint64(between(1, 1 << 30))) + nameFrame
                + body;
            break;
        case 2: { // impossible name size: odd, below a frame header, or beyond any frame
            const qint64 sizes[] = {
                nameBytes + 1, qint64(between(0, 3)), Protocol::kMaxFrameBytes + 6, std::numeric_limits<qint64>::max()};
            stream = bigEndian64(16 + nameBytes + body.size()) + bigEndian64(sizes[bounded(4)]) + nameFrame + body;
            break;
        }
        case 3: // total smaller than its own header
            stream = bigEndian64(between(0, int(16 + nameBytes - 1))) + bigEndian64(nameBytes) + nameFrame + body;
            break;
        case 4: // larger than any disk
            stream = bigEndian64(chance(50) ? std::numeric_limits<qint64>::max() : (qint64(1) << 60))
                + bigEndian64(nameBytes) + nameFrame + body;
            break;
        case 5: // the name frame is not as long as the header says
            stream = bigEndian64(16 + nameBytes + 2 + body.size()) + bigEndian64(nameBytes + 2) + nameFrame
                + QByteArray(2, 'x') + body;
            break;
        case 6: // the name frame's own length is refused
            stream = bigEndian64(16 + 8 + body.size()) + bigEndian64(8) + bigEndian32(0xFFFFFFFFu) + QByteArray(4, 'x')
                + body;
            break;
        case 7: // cut short inside the header
            stream = (bigEndian64(16 + nameBytes + body.size()) + bigEndian64(nameBytes)).left(between(0, 15));
            input.disconnectAfter = true;
            break;
        case 8: // cut short inside the name
            stream = (bigEndian64(16 + nameBytes + body.size()) + bigEndian64(nameBytes) + nameFrame)
                         .left(16 + bounded(int(nameBytes)));
            input.disconnectAfter = true;
            break;
        default: // cut short inside the body, possibly of a large declared size
            stream = bigEndian64(16 + nameBytes + body.size() + 1 + (chance(50) ? 0 : qint64(between(0, 1 << 30))))
                + bigEndian64(nameBytes) + nameFrame + body;
            input.disconnectAfter = true;
            break;
        }
        input.bytes = messageFrame(kValidJobLine) + stream;
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
    int reconnections = 0;
    int stalls = 0;
    QMap<QString, int> kinds;

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
            ++kinds[input.kind];
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
        ++reconnections;
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
    const QStringList boardParameters = {Terminal::d_param, Terminal::e_param, Terminal::j_param, Terminal::k_param,
        Terminal::l_param, Terminal::w_param, Terminal::x_param, Terminal::g_param};
    const auto restoreBoardParameters = qScopeGuard([&] {
        Terminal::d_param = boardParameters[0];
        Terminal::e_param = boardParameters[1];
        Terminal::j_param = boardParameters[2];
        Terminal::k_param = boardParameters[3];
        Terminal::l_param = boardParameters[4];
        Terminal::w_param = boardParameters[5];
        Terminal::x_param = boardParameters[6];
        Terminal::g_param = boardParameters[7];
        Client::boardIsOldVersion = false;
        QLoggingCategory::setFilterRules(QString());
    });

    QElapsedTimer wholeTest;
    wholeTest.start();
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
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintDone")); }, 30000));
    QCOMPARE(readFile(session.path(kJobFile)), firstJob);
    desktop.messages.clear();

    const QByteArray settingsBefore = readFile(session.path(kSettingsFile));
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

    QElapsedTimer clock;
    clock.start();
    const qint64 rssBefore = residentBytes();
    qint64 rssMiddle = -1;

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
        if (i == kInputs / 2)
            rssMiddle = residentBytes();
    }
    const qint64 barrageMs = clock.elapsed();
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
    QCOMPARE(readFile(session.path(kSettingsFile)), settingsBefore);

    // The job from before the barrage is untouched, and no partial transfer is left behind.
    QCOMPARE(readFile(session.path(kJobFile)), firstJob);
    const QStringList leftovers
        = QDir(session.path(QString())).entryList({kJobFile + QStringLiteral(".*")}, QDir::Files);
    QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(QLatin1Char(' '))));

    // Memory stayed bounded.
    QVERIFY(rssBefore > 0 && rssAfter > 0);
    QVERIFY2(rssAfter - rssBefore < kMaxGrowthBytes,
        qPrintable(QStringLiteral("RSS grew from %1 to %2").arg(megabytes(rssBefore), megabytes(rssAfter))));

    // A reprint started by the barrage is stopped; then the next valid job prints to its end.
    desktop.send(QStringLiteral("Request_CancelPrint"));
    QVERIFY(waitFor([&] { return !session.client().printActive(); }, 10000));
    session.board().clearReceivedLines();
    desktop.messages.clear();
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,3,Clear,1,1,1")));
    const QByteArray lastJob = session.makeJob(3);
    desktop.sendStream(QStringLiteral("after-the-barrage.ssj"), lastJob);
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintDone")); }, 30000));
    int moves = 0;
    for (const QString &line : session.board().receivedLines())
        moves += line.startsWith(QLatin1Char('N')) ? 1 : 0;
    QCOMPARE(moves, 3);
    QCOMPARE(readFile(session.path(kJobFile)), lastJob);

    qInfo().noquote() << QStringLiteral("Inputs sent: %1, reconnections: %2, stalls: %3")
                             .arg(barrage.sent)
                             .arg(barrage.reconnections)
                             .arg(barrage.stalls);
    for (auto it = barrage.kinds.cbegin(); it != barrage.kinds.cend(); ++it)
        qInfo().noquote() << QStringLiteral("  %1: %2").arg(it.key()).arg(it.value());
    qInfo().noquote() << QStringLiteral("RSS before: %1, half-way: %2, after: %3")
                             .arg(megabytes(rssBefore), megabytes(rssMiddle), megabytes(rssAfter));
    qInfo().noquote() << QStringLiteral("Barrage: %1 s, whole test: %2 s")
                             .arg(double(barrageMs) / 1000.0, 0, 'f', 1)
                             .arg(double(wholeTest.elapsed()) / 1000.0, 0, 'f', 1);
}

QTEST_MAIN(TestSessionReliability)
#include "tst_sessionreliability.moc"
