#include "jobstreamreceiver.h"
#include "logcapture.h"
#include "protocol.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <memory>

namespace {

// A sequential device whose buffered bytes the test adds piece by piece, like a socket
// that has received part of what the peer sent.
class FeedDevice : public QIODevice
{
public:
    FeedDevice() { open(QIODevice::ReadOnly); }

    void append(const QByteArray &bytes) { m_pending.append(bytes); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return m_pending.size() + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = qMin<qint64>(maxSize, m_pending.size());
        if (count <= 0)
            return 0;
        memcpy(data, m_pending.constData(), static_cast<size_t>(count));
        m_pending.remove(0, static_cast<int>(count));
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_pending;
};

QByteArray bigEndian64(qint64 value)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToBigEndian<qint64>(value, bytes.data());
    return bytes;
}

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian<quint32>(value, bytes.data());
    return bytes;
}

// Pseudo-random file bytes, seeded so that a failure repeats.
QByteArray fileBytes(int size)
{
    QRandomGenerator generator(4051);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

const QString jobName = QStringLiteral("/home/ana/Jobs/Zähne \U0001D11E.ssj");
const QString storedName = QStringLiteral("Zähne \U0001D11E.ssj");

} // namespace

Q_DECLARE_METATYPE(Protocol::FrameStatus)

// The wire of the desktop-printer link: frames, raw text, message splitting, discovery
// datagram, handshake reply, and receiving a job stream into a file.
class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Frames
    void frame_equalsDataStreamBytes_data();
    void frame_equalsDataStreamBytes();
    void frame_singleLetter_isSixBytes();
    void twoFrames_everySplitPoint_completeOnlyWhenWhole();
    void readFrame_consumesOneFrameOnly();
    void invalidLength_isRefusedAndNothingConsumed_data();
    void invalidLength_isRefusedAndNothingConsumed();
    void largestLength_isAwaitedNotRefused();
    void rawFrame_isUtf8AndReadsBackUpToZero();

    // Messages
    void extractMessages_splitsAtEveryMarker_data();
    void extractMessages_splitsAtEveryMarker();

    // Discovery
    void datagram_buildsAndParsesBack();
    void parseDatagram_malformed_isRefusedAndLeavesOutputs_data();
    void parseDatagram_malformed_isRefusedAndLeavesOutputs();

    // Handshake
    void statusName_mapsThreadStatus_data();
    void statusName_mapsThreadStatus();
    void handshakeReply_emptyResinAndWifi_threeCommasBeforeG();
    void handshakeReply_wifiNamesJoinedByNextMarker();
    void version_isFourCharactersAndAccepted();

    // Job stream
    void jobStreamHeader_sizesMatchNameAndFile_data();
    void jobStreamHeader_sizesMatchNameAndFile();
    void jobStream_fedInPieces_endsDoneWithSameBytes_data();
    void jobStream_fedInPieces_endsDoneWithSameBytes();
    void jobStream_emptyFile_endsDone();
    void jobStream_bytesAfterStream_stayInDevice();
    void jobStream_cutThenAbort_keepsPreviousTarget();
    void jobStream_destroyedMidway_keepsPreviousTarget();
    void jobStream_badHeader_failsWithoutTarget_data();
    void jobStream_badHeader_failsWithoutTarget();
    void jobStream_unwritableFolder_failsWithWritingFileError();
    void jobStream_overLoopback_arrivesWhole();
    void jobStream_disconnectDuringTransfer_keepsPreviousJob();

    // Keep-alive during a stream
    void keepAlive_frameAtFront_isConsumedAlone();
    void keepAlive_streamBytesContainingText_areLeft_data();
    void keepAlive_streamBytesContainingText_areLeft();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_target;
};

void TestProtocol::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_target = m_dir->filePath(QStringLiteral("printjob.ssj"));
}

void TestProtocol::cleanup()
{
    m_dir.reset();
}

// ---- Frames ----

void TestProtocol::frame_equalsDataStreamBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString(QLatin1String(""));
    QTest::newRow("letter") << QStringLiteral("A");
    QTest::newRow("message") << QStringLiteral("*header*Tessora_Client,SN1,Vat,Model,4.51,"
                                               "PrintStatus_Ready,,,g0");
    QTest::newRow("latin1 and surrogate pair") << QStringLiteral("Zähne \U0001D11E €");
    QTest::newRow("4096 letters") << QString(4096, QLatin1Char('x'));
}

void TestProtocol::frame_equalsDataStreamBytes()
{
    QFETCH(QString, text);
    QByteArray expected;
    QDataStream stream(&expected, QIODevice::WriteOnly);
    stream << text;
    QCOMPARE(Protocol::frame(text), expected);

    // And back: the text survives a frame read.
    QBuffer buffer(&expected);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QString read;
    QCOMPARE(Protocol::readFrame(&buffer, &read), Protocol::FrameStatus::Complete);
    QCOMPARE(read, text);
}

void TestProtocol::frame_singleLetter_isSixBytes()
{
    QCOMPARE(Protocol::frame(QStringLiteral("A")), QByteArray::fromHex("000000020041"));
    // A null text never goes out as the refused 0xFFFFFFFF count.
    QCOMPARE(Protocol::frame(QString()), QByteArray::fromHex("00000000"));
}

void TestProtocol::twoFrames_everySplitPoint_completeOnlyWhenWhole()
{
    const QByteArray first = Protocol::frame(QStringLiteral("*header*Request_PrintProgress"));
    const QByteArray second = Protocol::frame(QStringLiteral("*header*Connection-Alive"));
    const QByteArray both = first + second;
    for (int split = 0; split <= both.size(); ++split) {
        const QByteArray buffered = both.left(split);
        qint64 frameBytes = -1;
        const Protocol::FrameStatus status = Protocol::peekFrame(buffered, &frameBytes);
        const bool whole = split >= first.size();
        QCOMPARE(status, whole ? Protocol::FrameStatus::Complete : Protocol::FrameStatus::Incomplete);
        QCOMPARE(frameBytes, split >= 4 ? qint64(first.size()) : qint64(0));

        FeedDevice device;
        device.append(buffered);
        QString text;
        QCOMPARE(Protocol::readFrame(&device, &text), status);
        QCOMPARE(device.bytesAvailable(), qint64(split - (whole ? first.size() : 0)));
        if (!whole)
            continue;
        QCOMPARE(text, QStringLiteral("*header*Request_PrintProgress"));
        const bool secondWhole = split == both.size();
        QCOMPARE(Protocol::readFrame(&device, &text),
                 secondWhole ? Protocol::FrameStatus::Complete : Protocol::FrameStatus::Incomplete);
        if (secondWhole)
            QCOMPARE(text, QStringLiteral("*header*Connection-Alive"));
    }
}

void TestProtocol::readFrame_consumesOneFrameOnly()
{
    QByteArray bytes = Protocol::frame(QString(QLatin1String(""))) + Protocol::frame(QStringLiteral("B"));
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QString text = QStringLiteral("unchanged");
    QCOMPARE(Protocol::readFrame(&buffer, &text), Protocol::FrameStatus::Complete);
    QVERIFY(text.isEmpty());
    QVERIFY(Protocol::extractMessages(text).isEmpty()); // N = 0: no message at all
    QCOMPARE(buffer.pos(), qint64(4));
    QCOMPARE(Protocol::readFrame(&buffer, &text), Protocol::FrameStatus::Complete);
    QCOMPARE(text, QStringLiteral("B"));
    QCOMPARE(Protocol::readFrame(&buffer, &text), Protocol::FrameStatus::Incomplete);
}

void TestProtocol::invalidLength_isRefusedAndNothingConsumed_data()
{
    QTest::addColumn<quint32>("length");
    QTest::newRow("null string") << 0xFFFFFFFFu;
    QTest::newRow("16 MiB + 2") << quint32(Protocol::kMaxFrameBytes + 2);
    QTest::newRow("odd, small") << 3u;
    QTest::newRow("odd, 16 MiB - 1") << quint32(Protocol::kMaxFrameBytes - 1);
}

void TestProtocol::invalidLength_isRefusedAndNothingConsumed()
{
    QFETCH(quint32, length);
    const QByteArray bytes = bigEndian32(length) + QByteArray(8, 'a');
    QCOMPARE(Protocol::peekFrame(bytes), Protocol::FrameStatus::Invalid);

    FeedDevice device;
    device.append(bytes);
    QString text = QStringLiteral("unchanged");
    QCOMPARE(Protocol::readFrame(&device, &text), Protocol::FrameStatus::Invalid);
    QCOMPARE(text, QStringLiteral("unchanged"));
    QCOMPARE(device.bytesAvailable(), qint64(bytes.size()));
}

void TestProtocol::largestLength_isAwaitedNotRefused()
{
    qint64 frameBytes = 0;
    QCOMPARE(Protocol::peekFrame(bigEndian32(quint32(Protocol::kMaxFrameBytes)), &frameBytes),
             Protocol::FrameStatus::Incomplete);
    QCOMPARE(frameBytes, Protocol::kMaxFrameBytes + 4);
}

void TestProtocol::rawFrame_isUtf8AndReadsBackUpToZero()
{
    const QString greeting = QStringLiteral("*header*Tessora_Server");
    const QByteArray raw = Protocol::rawFrame(greeting);
    QCOMPARE(raw.size(), 22);
    QCOMPARE(Protocol::asciiUpToZero(raw + QByteArray(3, '\0') + "tail"), greeting);
    QCOMPARE(Protocol::rawFrame(QStringLiteral("ü")), QByteArray("\xc3\xbc"));
    // A framed text starts with the zero high byte of its count: it reads as empty text.
    QCOMPARE(Protocol::asciiUpToZero(Protocol::frame(greeting)), QString());
}

// ---- Messages ----

void TestProtocol::extractMessages_splitsAtEveryMarker_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("empty text") << QString() << QStringList();
    QTest::newRow("no marker") << QStringLiteral("Tessora_Server") << QStringList();
    QTest::newRow("one") << QStringLiteral("*header*Connection-Alive")
                         << QStringList{QStringLiteral("Connection-Alive")};
    QTest::newRow("marker A marker B") << QStringLiteral("*header*A*header*B")
                                       << QStringList{QStringLiteral("A"), QStringLiteral("B")};
    QTest::newRow("marker twice then B") << QStringLiteral("*header**header*B")
                                         << QStringList{QString(), QStringLiteral("B")};
    QTest::newRow("marker only") << QStringLiteral("*header*") << QStringList{QString()};
    QTest::newRow("piece before first marker dropped")
        << QStringLiteral("junk*header*A,1,2") << QStringList{QStringLiteral("A,1,2")};
}

void TestProtocol::extractMessages_splitsAtEveryMarker()
{
    QFETCH(QString, text);
    QFETCH(QStringList, messages);
    QCOMPARE(Protocol::extractMessages(text), messages);
}

// ---- Discovery ----

void TestProtocol::datagram_buildsAndParsesBack()
{
    const QByteArray bytes = Protocol::datagram(QStringLiteral("10.0.0.20"), 50501);
    QCOMPARE(bytes, QByteArray("ip:10.0.0.20port:50501"));
    QCOMPARE(bytes.size(), 22);

    QString ip;
    int port = 0;
    QVERIFY(Protocol::parseDatagram(bytes, &ip, &port));
    QCOMPARE(ip, QStringLiteral("10.0.0.20"));
    QCOMPARE(port, 50501);

    // Text after a zero byte is not part of the datagram.
    QVERIFY(Protocol::parseDatagram(Protocol::datagram(QStringLiteral("192.168.1.7"), 50550)
                                        + QByteArray(1, '\0') + "99",
                                    &ip, &port));
    QCOMPARE(ip, QStringLiteral("192.168.1.7"));
    QCOMPARE(port, 50550);
}

void TestProtocol::parseDatagram_malformed_isRefusedAndLeavesOutputs_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no port key") << QByteArray("ip:10.0.0.20");
    QTest::newRow("no ip key") << QByteArray("10.0.0.20port:50501");
    QTest::newRow("ip key not first") << QByteArray("xip:10.0.0.20port:50501");
    QTest::newRow("port 0") << QByteArray("ip:10.0.0.20port:0");
    QTest::newRow("port 70000") << QByteArray("ip:10.0.0.20port:70000");
    QTest::newRow("port letters") << QByteArray("ip:10.0.0.20port:50a01");
    QTest::newRow("port empty") << QByteArray("ip:10.0.0.20port:");
    QTest::newRow("port signed") << QByteArray("ip:10.0.0.20port:+50501");
    QTest::newRow("port space") << QByteArray("ip:10.0.0.20port: 50501");
    QTest::newRow("port huge") << QByteArray("ip:10.0.0.20port:99999999999999999999");
    QTest::newRow("ip 999.1.1.1") << QByteArray("ip:999.1.1.1port:50501");
    QTest::newRow("ip empty") << QByteArray("ip:port:50501");
    QTest::newRow("ip IPv6") << QByteArray("ip:::1port:50501");
    QTest::newRow("ip name") << QByteArray("ip:localhostport:50501");
    QTest::newRow("ip two parts") << QByteArray("ip:10.1port:50501");
    QTest::newRow("ip leading zero") << QByteArray("ip:010.0.0.1port:50501");
    QTest::newRow("ip with space") << QByteArray("ip: 10.0.0.20port:50501");
    QTest::newRow("zero before port") << QByteArray("ip:10.0.0.20\0port:50501", 23);
}

void TestProtocol::parseDatagram_malformed_isRefusedAndLeavesOutputs()
{
    QFETCH(QByteArray, datagram);
    QString ip = QStringLiteral("unchanged");
    int port = -7;
    QVERIFY(!Protocol::parseDatagram(datagram, &ip, &port));
    QCOMPARE(ip, QStringLiteral("unchanged"));
    QCOMPARE(port, -7);
}

// ---- Handshake ----

void TestProtocol::statusName_mapsThreadStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("name");
    QTest::newRow("printing") << 0 << QStringLiteral("PrintStatus_Printing");
    QTest::newRow("paused") << 1 << QStringLiteral("PrintStatus_Paused");
    QTest::newRow("paused after reset") << 2 << QStringLiteral("PrintStatus_Paused");
    QTest::newRow("cancelled") << 3 << QStringLiteral("PrintStatus_Ready");
    QTest::newRow("finished") << 4 << QStringLiteral("PrintStatus_Ready");
    QTest::newRow("idle") << 5 << QStringLiteral("PrintStatus_Ready");
    QTest::newRow("no thread") << -1 << QStringLiteral("PrintStatus_Ready");
}

void TestProtocol::statusName_mapsThreadStatus()
{
    QFETCH(int, status);
    QFETCH(QString, name);
    QCOMPARE(Protocol::statusName(status), name);
}

void TestProtocol::handshakeReply_emptyResinAndWifi_threeCommasBeforeG()
{
    const QString reply = Protocol::handshakeReply(
        QStringLiteral("SN42"), QStringLiteral("Vat"), QStringLiteral("Orbelle"),
        Protocol::printerVersionText(), Protocol::statusName(5), QString(), QStringList(),
        QStringLiteral("g0"));
    QCOMPARE(reply, QStringLiteral("Tessora_Client,SN42,Vat,Orbelle,4.51,PrintStatus_Ready,,,g0"));
    QVERIFY(reply.endsWith(QStringLiteral(",,,g0")));
    const QStringList fields = reply.split(QLatin1Char(','));
    QCOMPARE(fields.size(), 9);
    QVERIFY(fields.at(6).isEmpty());
    QVERIFY(fields.at(7).isEmpty());
}

void TestProtocol::handshakeReply_wifiNamesJoinedByNextMarker()
{
    const QStringList networks{QStringLiteral("Home"), QStringLiteral("Lab 2")};
    const QString reply = Protocol::handshakeReply(
        QStringLiteral("SN1"), QStringLiteral("N"), QStringLiteral("M"), QStringLiteral("4.51"),
        QStringLiteral("PrintStatus_Printing"), QStringLiteral("*ResinFormatVersion:2!Grey"),
        networks, QStringLiteral("g12"));
    const QStringList fields = reply.split(QLatin1Char(','));
    QCOMPARE(fields.size(), 9);
    QCOMPARE(fields.at(0), QStringLiteral("Tessora_Client"));
    QCOMPARE(fields.at(6), QStringLiteral("*ResinFormatVersion:2!Grey"));
    QCOMPARE(fields.at(7).split(QLatin1String(Protocol::kWifiSeparator)), networks);
    QCOMPARE(fields.at(8), QStringLiteral("g12"));
}

void TestProtocol::version_isFourCharactersAndAccepted()
{
    QCOMPARE(Protocol::printerVersionText(), QStringLiteral("4.51"));
    QVERIFY(Protocol::isAcceptedVersion(Protocol::printerVersionText().toDouble()));
    QVERIFY(Protocol::isAcceptedVersion(4.4));
    QVERIFY(Protocol::isAcceptedVersion(5.0));
    QVERIFY(!Protocol::isAcceptedVersion(4.3));
    QVERIFY(!Protocol::isAcceptedVersion(5.1));
}

// ---- Job stream ----

void TestProtocol::jobStreamHeader_sizesMatchNameAndFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("fileSize");
    QTest::newRow("plain") << QStringLiteral("/a/b.ssj") << qint64(1000);
    QTest::newRow("empty name, empty file") << QString() << qint64(0);
    QTest::newRow("surrogate pair counts twice") << jobName << qint64(5);
    QTest::newRow("beyond 4 GiB") << QStringLiteral("big") << (qint64(5) << 30);
}

void TestProtocol::jobStreamHeader_sizesMatchNameAndFile()
{
    QFETCH(QString, name);
    QFETCH(qint64, fileSize);
    const QByteArray header = Protocol::jobStreamHeader(name, fileSize);
    const qint64 s = 4 + 2 * name.size();
    QCOMPARE(qint64(header.size()), 16 + s);
    QCOMPARE(qFromBigEndian<qint64>(header.constData()), 16 + s + fileSize);
    QCOMPARE(qFromBigEndian<qint64>(header.constData() + 8), s);
    QCOMPARE(header.mid(16), Protocol::frame(name));
}

void TestProtocol::jobStream_fedInPieces_endsDoneWithSameBytes_data()
{
    QTest::addColumn<int>("pieceSize");
    for (int size = 1; size <= 17; ++size)
        QTest::addRow("%d", size) << size;
    QTest::newRow("4096") << 4096;
}

void TestProtocol::jobStream_fedInPieces_endsDoneWithSameBytes()
{
    QFETCH(int, pieceSize);
    const QByteArray content = fileBytes(9000);
    const QByteArray header = Protocol::jobStreamHeader(jobName, content.size());
    const QByteArray stream = header + content;
    const qint64 nameEnd = header.size();
    LogCapture log;

    JobStreamReceiver receiver(m_target);
    FeedDevice device;
    JobStreamReceiver::Result result = JobStreamReceiver::NeedMore;
    for (int at = 0; at < stream.size(); at += pieceSize) {
        QCOMPARE(result, JobStreamReceiver::NeedMore);
        device.append(stream.mid(at, pieceSize));
        result = receiver.feed(&device);
        // Every byte fed is either counted or still waiting for a whole header or name.
        const qint64 fed = qMin(at + pieceSize, stream.size());
        QCOMPARE(receiver.received() + device.bytesAvailable(), fed);
        if (receiver.received() >= nameEnd)
            QCOMPARE(device.bytesAvailable(), qint64(0));
        QVERIFY2(!QFile::exists(m_target) || result == JobStreamReceiver::Done,
                 "target appeared before the last byte");
    }
    QCOMPARE(result, JobStreamReceiver::Done);
    QCOMPARE(receiver.fileName(), storedName);
    QCOMPARE(receiver.total(), qint64(stream.size()));
    QCOMPARE(receiver.received(), qint64(stream.size()));
    QCOMPARE(readFile(m_target), content);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("printjob.ssj")});

    const QStringList lines = log.lines();
    QVERIFY(lines.contains(QStringLiteral("File name: ") + storedName));
    QCOMPARE(lines.last(), QStringLiteral("Done receiving file"));
    QCOMPARE(lines.at(lines.size() - 2),
             QStringLiteral("Receive File. Bytes Received: %1/%1").arg(stream.size()));
}

void TestProtocol::jobStream_emptyFile_endsDone()
{
    writeFile(m_target, "previous job");
    LogCapture log;
    FeedDevice device;
    device.append(Protocol::jobStreamHeader(QStringLiteral("/x/empty.ssj"), 0));
    JobStreamReceiver receiver(m_target);
    QCOMPARE(receiver.feed(&device), JobStreamReceiver::Done);
    QCOMPARE(readFile(m_target), QByteArray());
    QCOMPARE(receiver.fileName(), QStringLiteral("empty.ssj"));
}

void TestProtocol::jobStream_bytesAfterStream_stayInDevice()
{
    const QByteArray content = fileBytes(10000);
    const QByteArray next = Protocol::frame(QStringLiteral("*header*Request_PrintProgress"));
    FeedDevice device;
    device.append(Protocol::jobStreamHeader(jobName, content.size()) + content + next);
    LogCapture log;
    JobStreamReceiver receiver(m_target);
    QCOMPARE(receiver.feed(&device), JobStreamReceiver::Done);
    QCOMPARE(device.bytesAvailable(), qint64(next.size()));
    QCOMPARE(readFile(m_target), content);

    // Done is final: nothing more is taken.
    QCOMPARE(receiver.feed(&device), JobStreamReceiver::Done);
    QString text;
    QCOMPARE(Protocol::readFrame(&device, &text), Protocol::FrameStatus::Complete);
    QCOMPARE(text, QStringLiteral("*header*Request_PrintProgress"));
}

void TestProtocol::jobStream_cutThenAbort_keepsPreviousTarget()
{
    writeFile(m_target, "previous job");
    const QByteArray content = fileBytes(9000);
    const QByteArray stream = Protocol::jobStreamHeader(jobName, content.size()) + content;
    LogCapture log;
    {
        JobStreamReceiver receiver(m_target);
        FeedDevice device;
        device.append(stream.left(stream.size() / 2));
        QCOMPARE(receiver.feed(&device), JobStreamReceiver::NeedMore);
        QCOMPARE(readFile(m_target), QByteArray("previous job"));
        receiver.abort();
        QCOMPARE(receiver.feed(&device), JobStreamReceiver::Failed);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("printjob.ssj")});
    }
    QCOMPARE(readFile(m_target), QByteArray("previous job"));
}

void TestProtocol::jobStream_destroyedMidway_keepsPreviousTarget()
{
    writeFile(m_target, "previous job");
    const QByteArray stream = Protocol::jobStreamHeader(jobName, 5000) + fileBytes(5000);
    LogCapture log;
    {
        JobStreamReceiver receiver(m_target);
        FeedDevice device;
        device.append(stream.left(stream.size() - 1));
        QCOMPARE(receiver.feed(&device), JobStreamReceiver::NeedMore);
    }
    QCOMPARE(readFile(m_target), QByteArray("previous job"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("printjob.ssj")});
}

void TestProtocol::jobStream_badHeader_failsWithoutTarget_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<qint64>("maxBytes");
    // Faults visible in T and S fail as soon as those 16 bytes are there.
    QTest::addColumn<bool>("failsAtHeader");
    const QByteArray name = Protocol::frame(QStringLiteral("/a/b.ssj")); // 20 bytes
    const qint64 s = name.size();
    const QByteArray body(64, 'b');
    const qint64 t = 16 + s + body.size();
    const qint64 unlimited = std::numeric_limits<qint64>::max();

    QTest::newRow("T negative") << bigEndian64(-1) + bigEndian64(s) + name + body << unlimited
                                << true;
    QTest::newRow("S negative") << bigEndian64(t) + bigEndian64(-20) + name + body << unlimited
                                << true;
    QTest::newRow("S = 2") << bigEndian64(t) + bigEndian64(2) + name + body << unlimited << true;
    QTest::newRow("S odd") << bigEndian64(t) + bigEndian64(s + 1) + name + body << unlimited
                           << true;
    QTest::newRow("T < 16 + S") << bigEndian64(16 + s - 1) + bigEndian64(s) + name + body
                                << unlimited << true;
    QTest::newRow("T > maxBytes") << bigEndian64(t) + bigEndian64(s) + name + body << t - 1
                                  << true;
    QTest::newRow("S beyond any frame")
        << bigEndian64(qint64(1) << 40) + bigEndian64(qint64(1) << 30) + name + body << unlimited
        << true;
    QTest::newRow("S larger than the name frame")
        << bigEndian64(t) + bigEndian64(s + 2) + name + body << unlimited << false;
    QTest::newRow("S smaller than the name frame")
        << bigEndian64(t) + bigEndian64(s - 2) + name + body << unlimited << false;
    QTest::newRow("name frame null") << bigEndian64(t) + bigEndian64(s) + bigEndian32(0xFFFFFFFFu)
                                            + name.mid(4) + body
                                     << unlimited << false;
}

void TestProtocol::jobStream_badHeader_failsWithoutTarget()
{
    QFETCH(QByteArray, stream);
    QFETCH(qint64, maxBytes);
    QFETCH(bool, failsAtHeader);
    LogCapture log;
    JobStreamReceiver receiver(m_target);
    receiver.setMaxBytes(maxBytes);
    FeedDevice device;
    device.append(stream.left(16));
    QCOMPARE(receiver.feed(&device),
             failsAtHeader ? JobStreamReceiver::Failed : JobStreamReceiver::NeedMore);
    device.append(stream.mid(16));
    QCOMPARE(receiver.feed(&device), JobStreamReceiver::Failed);
    QVERIFY(!receiver.errorString().isEmpty());
    QVERIFY(log.lines().contains(receiver.errorString()));
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

void TestProtocol::jobStream_unwritableFolder_failsWithWritingFileError()
{
    LogCapture log;
    JobStreamReceiver receiver(m_dir->filePath(QStringLiteral("missing/printjob.ssj")));
    FeedDevice device;
    device.append(Protocol::jobStreamHeader(jobName, 10) + fileBytes(10));
    QCOMPARE(receiver.feed(&device), JobStreamReceiver::Failed);
    QVERIFY(log.lines().contains(QStringLiteral("writing file error!")));
    QVERIFY(receiver.errorString().startsWith(QStringLiteral("writing file error!")));
}

namespace {

// A connected pair of TCP sockets on the loopback address.
struct LoopbackPair
{
    QTcpServer server;
    QTcpSocket sender;
    QTcpSocket *receiver = nullptr;

    bool connect()
    {
        if (!server.listen(QHostAddress::LocalHost))
            return false;
        sender.connectToHost(QHostAddress::LocalHost, server.serverPort());
        if (!sender.waitForConnected(Protocol::kConnectTimeoutMs)
            || !server.waitForNewConnection(Protocol::kConnectTimeoutMs))
            return false;
        receiver = server.nextPendingConnection();
        return receiver != nullptr;
    }
};

} // namespace

void TestProtocol::jobStream_overLoopback_arrivesWhole()
{
    LoopbackPair pair;
    QVERIFY(pair.connect());
    const QByteArray content = fileBytes(300000);
    const QByteArray next = Protocol::frame(QStringLiteral("*header*Request_PrintProgress"));
    pair.sender.write(Protocol::jobStreamHeader(jobName, content.size()) + content + next);

    LogCapture log;
    JobStreamReceiver receiver(m_target);
    JobStreamReceiver::Result result = JobStreamReceiver::NeedMore;
    QTRY_VERIFY_WITH_TIMEOUT((result = receiver.feed(pair.receiver)) != JobStreamReceiver::NeedMore,
                             10000);
    QCOMPARE(result, JobStreamReceiver::Done);
    QCOMPARE(readFile(m_target), content);
    QTRY_COMPARE(pair.receiver->bytesAvailable(), qint64(next.size()));
    QString text;
    QCOMPARE(Protocol::readFrame(pair.receiver, &text), Protocol::FrameStatus::Complete);
    QCOMPARE(text, QStringLiteral("*header*Request_PrintProgress"));
}

void TestProtocol::jobStream_disconnectDuringTransfer_keepsPreviousJob()
{
    writeFile(m_target, "previous job");
    LoopbackPair pair;
    QVERIFY(pair.connect());
    const QByteArray content = fileBytes(50000);
    pair.sender.write(Protocol::jobStreamHeader(jobName, content.size()) + content.left(20000));
    pair.sender.flush();
    pair.sender.disconnectFromHost();

    LogCapture log;
    JobStreamReceiver receiver(m_target);
    QTRY_COMPARE_WITH_TIMEOUT(pair.receiver->state(), QAbstractSocket::UnconnectedState, 10000);
    QCOMPARE(receiver.feed(pair.receiver), JobStreamReceiver::NeedMore);
    QVERIFY(receiver.received() > 16);
    QVERIFY(receiver.received() < receiver.total());
    receiver.abort(); // what the session does when the connection is gone
    QCOMPARE(readFile(m_target), QByteArray("previous job"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("printjob.ssj")});
}

// ---- Keep-alive ----

void TestProtocol::keepAlive_frameAtFront_isConsumedAlone()
{
    const QByteArray keepAlive = Protocol::frame(QStringLiteral("*header*Connection-Alive"));
    const QByteArray stream = Protocol::jobStreamHeader(jobName, 100) + fileBytes(100);
    FeedDevice device;
    device.append(keepAlive + stream);
    LogCapture log;
    QVERIFY(JobStreamReceiver::consumeKeepAlive(&device));
    QCOMPARE(device.bytesAvailable(), qint64(stream.size()));
    QVERIFY(log.lines().contains(
        QStringLiteral("Client::pendingMessageIsKeepAlive. Messagestring: *header*Connection-Alive")));

    // The rest is the stream, received whole.
    QVERIFY(!JobStreamReceiver::consumeKeepAlive(&device));
    JobStreamReceiver receiver(m_target);
    QCOMPARE(receiver.feed(&device), JobStreamReceiver::Done);
    QCOMPARE(readFile(m_target), fileBytes(100));
}

void TestProtocol::keepAlive_streamBytesContainingText_areLeft_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray keepAlive = Protocol::frame(QStringLiteral("*header*Connection-Alive"));
    QTest::newRow("text as UTF-8 in file bytes") << QByteArray("*header*Connection-Alive tail");
    QTest::newRow("frame not at the front") << QByteArray("xy") + keepAlive;
    QTest::newRow("keep-alive frame incomplete") << keepAlive.left(keepAlive.size() - 1);
    QTest::newRow("complete frame, other text")
        << Protocol::frame(QStringLiteral("*header*Connection-Dead")) + keepAlive;
    QTest::newRow("count prefix of file bytes") << bigEndian32(40) + QByteArray("Connection-Alive");
    QTest::newRow("null count") << bigEndian32(0xFFFFFFFFu) + keepAlive;
}

void TestProtocol::keepAlive_streamBytesContainingText_areLeft()
{
    QFETCH(QByteArray, bytes);
    FeedDevice device;
    device.append(bytes);
    QVERIFY(!JobStreamReceiver::consumeKeepAlive(&device));
    QCOMPARE(device.bytesAvailable(), qint64(bytes.size()));
    QCOMPARE(device.readAll(), bytes);
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
