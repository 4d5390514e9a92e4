#include "jobstreamreceiver.h"
#include "logcapture.h"
#include "printjob.h"
#include "printtime.h"
#include "protocol.h"
#include "testbytes.h"
#include "waiting.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <limits>
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
    qint64 bytesAvailable() const override { return m_pending.size() + QIODevice::bytesAvailable(); }

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

// Pseudo-random file bytes, seeded so that a failure repeats.
QByteArray randomBytes(int size)
{
    QRandomGenerator generator(4051);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

const QString jobName = QStringLiteral("/home/ana/Jobs/Zähne \U0001D11E.ssj");
const QString storedName = QStringLiteral("Zähne \U0001D11E.ssj");

PrintJob exampleJob()
{
    PrintJob job;
    job.numAdhesionLayers = 5;
    job.adhesionLayerCureTime = 30.0;
    job.cureTime = 8.0;
    job.layerThickness = 100;
    job.adhesionThickness = 100;
    job.numImages = 100;
    job.resinName = QStringLiteral("Clear");
    return job;
}

} // namespace

Q_DECLARE_METATYPE(Protocol::FrameStatus)

// The wire of the desktop-printer link: frames, raw text, message splitting, discovery
// datagram, handshake reply, the print job line (with the times derived from a job on
// either side), and receiving a job stream into a file.
class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_target = m_dir->filePath(QStringLiteral("printjob.ssj"));
    }

    void cleanup() { m_dir.reset(); }

    // ---- Frames ----
    void frame_equalsDataStreamBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString(QLatin1String(""));
        QTest::newRow("latin1 and surrogate pair") << QStringLiteral("Zähne \U0001D11E €");
        QTest::newRow("4096 letters") << QString(4096, QLatin1Char('x'));
    }

    void frame_equalsDataStreamBytes()
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

    void twoFrames_everySplitPoint_completeOnlyWhenWhole()
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

    void invalidLength_isRefusedAndNothingConsumed_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::newRow("null string") << 0xFFFFFFFFu;
        QTest::newRow("16 MiB + 2") << quint32(Protocol::kMaxFrameBytes + 2);
        QTest::newRow("odd, small") << 3u;
        QTest::newRow("odd, 16 MiB - 1") << quint32(Protocol::kMaxFrameBytes - 1);
    }

    void invalidLength_isRefusedAndNothingConsumed()
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

        // The largest length is awaited, not refused.
        qint64 frameBytes = 0;
        QCOMPARE(Protocol::peekFrame(bigEndian32(quint32(Protocol::kMaxFrameBytes)), &frameBytes),
            Protocol::FrameStatus::Incomplete);
        QCOMPARE(frameBytes, Protocol::kMaxFrameBytes + 4);
    }

    void frameBytes_andRawFrame_isUtf8AndReadsBackUpToZero()
    {
        QCOMPARE(Protocol::frame(QStringLiteral("A")), QByteArray::fromHex("000000020041"));
        // A null text never goes out as the refused 0xFFFFFFFF count.
        QCOMPARE(Protocol::frame(QString()), QByteArray::fromHex("00000000"));

        const QString greeting = QStringLiteral("*header*Tessora_Server");
        const QByteArray raw = Protocol::rawFrame(greeting);
        QCOMPARE(raw.size(), 22);
        QCOMPARE(Protocol::asciiUpToZero(raw + QByteArray(3, '\0') + "tail"), greeting);
        QCOMPARE(Protocol::rawFrame(QStringLiteral("ü")), QByteArray("\xc3\xbc"));
        // A framed text starts with the zero high byte of its count: it reads as empty text.
        QCOMPARE(Protocol::asciiUpToZero(Protocol::frame(greeting)), QString());
    }

    // ---- Messages ----
    void extractMessages_splitsAtEveryMarker_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("no marker") << QStringLiteral("Tessora_Server") << QStringList();
        QTest::newRow("marker A marker B")
            << QStringLiteral("*header*A*header*B") << QStringList {QStringLiteral("A"), QStringLiteral("B")};
        QTest::newRow("marker twice then B")
            << QStringLiteral("*header**header*B") << QStringList {QString(), QStringLiteral("B")};
        QTest::newRow("marker only") << QStringLiteral("*header*") << QStringList {QString()};
        QTest::newRow("piece before first marker dropped")
            << QStringLiteral("junk*header*A,1,2") << QStringList {QStringLiteral("A,1,2")};
    }

    void extractMessages_splitsAtEveryMarker()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, messages);
        QCOMPARE(Protocol::extractMessages(text), messages);
    }

    // ---- Discovery ----
    void datagram_buildsAndParsesBack()
    {
        const QByteArray bytes = Protocol::datagram(QStringLiteral("10.0.0.20"), 50501);
        QCOMPARE(bytes, QByteArray("ip:10.0.0.20port:50501"));

        QString ip;
        int port = 0;
        QVERIFY(Protocol::parseDatagram(bytes, &ip, &port));
        QCOMPARE(ip, QStringLiteral("10.0.0.20"));
        QCOMPARE(port, 50501);

        // Text after a zero byte is not part of the datagram.
        QVERIFY(Protocol::parseDatagram(
            Protocol::datagram(QStringLiteral("192.168.1.7"), 50550) + QByteArray(1, '\0') + "99", &ip, &port));
        QCOMPARE(ip, QStringLiteral("192.168.1.7"));
        QCOMPARE(port, 50550);
    }

    void parseDatagram_malformed_isRefusedAndLeavesOutputs_data()
    {
        // (Ports out of range, IPv6 and partial addresses are fuzz regressions of printerlink.)
        QTest::addColumn<QByteArray>("datagram");
        for (const char *datagram : {"ip:10.0.0.20", "xip:10.0.0.20port:50501", "ip:10.0.0.20port:0",
                 "ip:10.0.0.20port:50a01", "ip:10.0.0.20port:+50501", "ip:10.0.0.20port: 50501",
                 "ip:999.1.1.1port:50501", "ip: 10.0.0.20port:50501"})
            QTest::newRow(datagram) << QByteArray(datagram);
        QTest::newRow("zero before port") << QByteArray("ip:10.0.0.20\0port:50501", 23);
    }

    void parseDatagram_malformed_isRefusedAndLeavesOutputs()
    {
        QFETCH(QByteArray, datagram);
        QString ip = QStringLiteral("unchanged");
        int port = -7;
        QVERIFY(!Protocol::parseDatagram(datagram, &ip, &port));
        QCOMPARE(ip, QStringLiteral("unchanged"));
        QCOMPARE(port, -7);
    }

    // ---- Handshake ----
    void handshakeReply_statusNamesAndVersion_areTheWireTexts()
    {
        QCOMPARE(Protocol::handshakeReply(QStringLiteral("SN42"), QStringLiteral("Vat"), QStringLiteral("Orbelle"),
                     Protocol::printerVersionText(), Protocol::statusName(5), QString(), QStringList(),
                     QStringLiteral("g0")),
            QStringLiteral("Tessora_Client,SN42,Vat,Orbelle,4.51,PrintStatus_Ready,,,g0"));
        QCOMPARE(Protocol::handshakeReply(QStringLiteral("SN1"), QStringLiteral("N"), QStringLiteral("M"),
                     QStringLiteral("4.51"), QStringLiteral("PrintStatus_Printing"),
                     QStringLiteral("*ResinFormatVersion:2!Grey"), {QStringLiteral("Home"), QStringLiteral("Lab 2")},
                     QStringLiteral("g12")),
            QStringLiteral("Tessora_Client,SN1,N,M,4.51,PrintStatus_Printing,*ResinFormatVersion:2!Grey,"
                           "Home*&next&*Lab 2,g12"));

        QCOMPARE(Protocol::statusName(0), QStringLiteral("PrintStatus_Printing"));
        QCOMPARE(Protocol::statusName(1), QStringLiteral("PrintStatus_Paused"));
        QCOMPARE(Protocol::statusName(2), QStringLiteral("PrintStatus_Paused")); // paused after a reset
        QCOMPARE(Protocol::statusName(3), QStringLiteral("PrintStatus_Ready"));
        QCOMPARE(Protocol::statusName(-1), QStringLiteral("PrintStatus_Ready")); // no printing thread

        QVERIFY(Protocol::isAcceptedVersion(4.4));
        QVERIFY(Protocol::isAcceptedVersion(5.0));
        QVERIFY(!Protocol::isAcceptedVersion(4.3));
        QVERIFY(!Protocol::isAcceptedVersion(5.1));
    }

    // ---- Job stream ----
    void jobStreamHeader_sizesMatchNameAndFile()
    {
        // "/a/b.ssj": a name frame of 4 + 8 * 2 = 20 bytes; T = 16 + 20 + 1000.
        QCOMPARE(Protocol::jobStreamHeader(QStringLiteral("/a/b.ssj"), 1000),
            bigEndian64(1036) + bigEndian64(20) + Protocol::frame(QStringLiteral("/a/b.ssj")));
        // 27 UTF-16 code units (the clef is a surrogate pair): a frame of 58 bytes.
        QCOMPARE(Protocol::jobStreamHeader(jobName, 5), bigEndian64(79) + bigEndian64(58) + Protocol::frame(jobName));
        QCOMPARE(Protocol::jobStreamHeader(QString(), 0), bigEndian64(20) + bigEndian64(4) + QByteArray(4, '\0'));
        QCOMPARE(Protocol::jobStreamHeader(QStringLiteral("big"), qint64(5) << 30).left(16),
            bigEndian64(26 + (qint64(5) << 30)) + bigEndian64(10));
    }

    void jobStream_fedInPieces_endsDoneWithSameBytes_data()
    {
        QTest::addColumn<int>("pieceSize");
        for (int size : {1, 3, 16, 17, 4096})
            QTest::addRow("%d", size) << size;
    }

    void jobStream_fedInPieces_endsDoneWithSameBytes()
    {
        QFETCH(int, pieceSize);
        const QByteArray content = randomBytes(9000);
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
            QVERIFY2(
                !QFile::exists(m_target) || result == JobStreamReceiver::Done, "target appeared before the last byte");
        }
        QCOMPARE(result, JobStreamReceiver::Done);
        QCOMPARE(receiver.fileName(), storedName);
        QCOMPARE(receiver.total(), qint64(stream.size()));
        QCOMPARE(receiver.received(), qint64(stream.size()));
        QCOMPARE(fileBytes(m_target), content);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList {QStringLiteral("printjob.ssj")});
    }

    void jobStream_afterKeepAlive_endsAtItsLastByte_evenForAnEmptyFile()
    {
        QVERIFY(writeFileBytes(m_target, "previous job"));
        const QByteArray keepAlive = Protocol::frame(QStringLiteral("*header*Connection-Alive"));
        const QByteArray next = Protocol::frame(QStringLiteral("*header*Request_PrintProgress"));
        LogCapture log;
        for (const QByteArray &content : {QByteArray(), randomBytes(10000)}) {
            const QByteArray stream
                = Protocol::jobStreamHeader(QStringLiteral("/x/empty.ssj"), content.size()) + content;
            FeedDevice device;
            device.append(keepAlive + stream + next);
            // A keep-alive in front is consumed alone; the stream that follows is not one.
            QVERIFY(JobStreamReceiver::consumeKeepAlive(&device));
            QCOMPARE(device.bytesAvailable(), qint64(stream.size() + next.size()));
            QVERIFY(!JobStreamReceiver::consumeKeepAlive(&device));

            JobStreamReceiver receiver(m_target);
            QCOMPARE(receiver.feed(&device), JobStreamReceiver::Done);
            QCOMPARE(fileBytes(m_target), content);
            QCOMPARE(receiver.fileName(), QStringLiteral("empty.ssj"));
            QCOMPARE(device.bytesAvailable(), qint64(next.size()));

            // Done is final: nothing more is taken.
            QCOMPARE(receiver.feed(&device), JobStreamReceiver::Done);
            QString text;
            QCOMPARE(Protocol::readFrame(&device, &text), Protocol::FrameStatus::Complete);
            QCOMPARE(text, QStringLiteral("*header*Request_PrintProgress"));
        }
    }

    void jobStream_abortedOrDestroyedMidway_keepsPreviousTarget()
    {
        QVERIFY(writeFileBytes(m_target, "previous job"));
        const QByteArray content = randomBytes(9000);
        const QByteArray stream = Protocol::jobStreamHeader(jobName, content.size()) + content;
        LogCapture log;
        for (const bool aborted : {true, false}) {
            {
                JobStreamReceiver receiver(m_target);
                FeedDevice device;
                // Aborted halfway, or destroyed one byte short.
                device.append(stream.left(aborted ? stream.size() / 2 : stream.size() - 1));
                QCOMPARE(receiver.feed(&device), JobStreamReceiver::NeedMore);
                QCOMPARE(fileBytes(m_target), QByteArray("previous job"));
                if (aborted) {
                    receiver.abort();
                    QCOMPARE(receiver.feed(&device), JobStreamReceiver::Failed);
                    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 1); // no partial file left
                }
            }
            QCOMPARE(fileBytes(m_target), QByteArray("previous job"));
            QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList {QStringLiteral("printjob.ssj")});
        }
    }

    void jobStream_badHeader_failsWithoutTarget_data()
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

        QTest::newRow("T negative") << bigEndian64(-1) + bigEndian64(s) + name + body << unlimited << true;
        QTest::newRow("S negative") << bigEndian64(t) + bigEndian64(-20) + name + body << unlimited << true;
        QTest::newRow("S odd") << bigEndian64(t) + bigEndian64(s + 1) + name + body << unlimited << true;
        QTest::newRow("T < 16 + S") << bigEndian64(16 + s - 1) + bigEndian64(s) + name + body << unlimited << true;
        QTest::newRow("T > maxBytes") << bigEndian64(t) + bigEndian64(s) + name + body << t - 1 << true;
        QTest::newRow("S beyond any frame")
            << bigEndian64(qint64(1) << 40) + bigEndian64(qint64(1) << 30) + name + body << unlimited << true;
        QTest::newRow("S larger than the name frame")
            << bigEndian64(t) + bigEndian64(s + 2) + name + body << unlimited << false;
        QTest::newRow("name frame null") << bigEndian64(t) + bigEndian64(s) + bigEndian32(0xFFFFFFFFu) + name.mid(4)
                + body << unlimited << false;
    }

    void jobStream_badHeader_failsWithoutTarget()
    {
        QFETCH(QByteArray, stream);
        QFETCH(qint64, maxBytes);
        QFETCH(bool, failsAtHeader);
        LogCapture log;
        JobStreamReceiver receiver(m_target);
        receiver.setMaxBytes(maxBytes);
        FeedDevice device;
        device.append(stream.left(16));
        QCOMPARE(receiver.feed(&device), failsAtHeader ? JobStreamReceiver::Failed : JobStreamReceiver::NeedMore);
        device.append(stream.mid(16));
        QCOMPARE(receiver.feed(&device), JobStreamReceiver::Failed);
        QVERIFY(!receiver.errorString().isEmpty());
        QVERIFY(log.lines().contains(receiver.errorString()));
        QVERIFY(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    // ---- Keep-alive ----
    void keepAlive_streamBytesContainingText_areLeft_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray keepAlive = Protocol::frame(QStringLiteral("*header*Connection-Alive"));
        QTest::newRow("text as UTF-8 in file bytes") << QByteArray("*header*Connection-Alive tail");
        QTest::newRow("frame not at the front") << QByteArray("xy") + keepAlive;
        QTest::newRow("keep-alive frame incomplete") << keepAlive.left(keepAlive.size() - 1);
        QTest::newRow("complete frame, other text")
            << Protocol::frame(QStringLiteral("*header*Connection-Dead")) + keepAlive;
        QTest::newRow("null count") << bigEndian32(0xFFFFFFFFu) + keepAlive;
    }

    void keepAlive_streamBytesContainingText_areLeft()
    {
        QFETCH(QByteArray, bytes);
        FeedDevice device;
        device.append(bytes);
        QVERIFY(!JobStreamReceiver::consumeKeepAlive(&device));
        QCOMPARE(device.bytesAvailable(), qint64(bytes.size()));
        QCOMPARE(device.readAll(), bytes);
    }

    // ---- The print job line ----
    void fineTuneFactor_isClampedToRange_neverScalesAdhesionLayers()
    {
        PrintJob job;
        job.cureTime = 10.0;
        for (const auto &factorAndSeconds : {QPair<double, double> {0.5, 7.0}, {1.1, 11.0}, {1.5, 13.0}}) {
            job.fineTuneFactor = factorAndSeconds.first;
            QCOMPARE(job.getFineTuneFactorCureTime(), factorAndSeconds.second);
        }

        // All layers are adhesion layers: only their cure time and the movement count.
        job = exampleJob();
        job.numAdhesionLayers = job.numImages;
        QCOMPARE(job.printerTotalMinutes(), 66); // (100 * 30 + 100 * 10) / 60
        job.fineTuneFactor = 1.3;
        QCOMPARE(job.printerTotalMinutes(), 66);
    }

    void totalTimes_hundredLayerJob_clampedFactor_absurdValuesGiveZero()
    {
        PrintJob job = exampleJob();
        QCOMPARE(job.printerTotalMinutes(), 31); // (150 + 760 + 1000) / 60 = 31.8

        job.fineTuneFactor = 2.0;
        QCOMPARE(job.printerTotalMinutes(), 35); // 5 * 30 + 95 * 8 * 1.3 + 100 * 10 = 2138 s

        job.cureTime = 1e300;
        job.numImages = std::numeric_limits<int>::max();
        job.numAdhesionLayers = std::numeric_limits<int>::min();
        QCOMPARE(job.printerTotalMinutes(), 0);
    }

    // ---- the printer time of a job, part by part of the layer cycle

    void printTime_exposuresFollowTheLayerCycle_data()
    {
        // The job line's fields: adhesion layers, adhesion cure, cure, thicknesses, layers, ...
        QTest::addColumn<QString>("job");
        QTest::addColumn<double>("exposure");
        QTest::newRow("four adhesion layers, the fourth at 0.75") << "4,20,5,50,50,10,R,1,1,1" << 60 + 15 + 6 * 5.0;
        QTest::newRow("adhesion never below the cure time") << "12,20,5,50,50,12,R,1,1,1" << 60 + 45 + 30 + 15.0;
        QTest::newRow("past the last step") << "25,40,5,50,50,30,R,1,1,1" << 120 + 90 + 60 + 16 * 10 + 25.0;
        QTest::newRow("more adhesion layers than layers") << "5,30,8,50,50,2,R,1,1,1" << 60.0;
        QTest::newRow("factor clamped, adhesion untouched") << "5,30,8,50,50,100,R,1,1,2" << 90 + 45 + 95 * 10.4;
        QTest::newRow("no layers") << "3,30,8,50,50,0,R,1,1,1" << 0.0;
    }

    void printTime_exposuresFollowTheLayerCycle()
    {
        QFETCH(QString, job);
        QFETCH(double, exposure);
        PrintJob record;
        record.setFromString(QStringLiteral("job,") + job);
        PrinterTiming timing;
        timing.resinSettleEnabled = true;
        timing.resinSettleSeconds = 0.5;
        const PrintTimeEstimate estimate = PrintTimeEstimate::of(record, timing);
        QCOMPARE(qRound(estimate.exposureSeconds * 1000), qRound(exposure * 1000));
        // Every layer one motion cycle and one settle, one settle more after the first wait.
        const int layers = record.numImages;
        QCOMPARE(estimate.totalSeconds(), exposure + layers * 3.5 + (layers > 0 ? 2 + 5 + 3 + 0.5 : 2 + 3));
    }

    // Every field read, compared as the record writes it again.
    void line_readsEveryField_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("fields");
        QTest::newRow("example") << "Status_SendingPrintJob,5,27.25,8,100,50,120,Tough Grey,1.01,0.99,1.15"
                                 << "5,27.25,8,100,50,120,Tough Grey,1.01,0.99,1.15";
        // Integers are decimal only; non-finite numbers would reach timers and image sizes.
        QTest::newRow("unconvertible or missing: zero") << "Kw,five,,8s,1e2,0x10,7.5,,nan,inf,-" << "0,0,0,0,0,0,,0,0,0";
        QTest::newRow("short line: the rest zero") << "Kw,5,30,8" << "5,30,8,0,0,0,,0,0,0";
    }

    void line_readsEveryField()
    {
        QFETCH(QString, line);
        QFETCH(QString, fields);
        PrintJob job = exampleJob();
        job.setFromString(line);
        QCOMPARE(job.toString(), fields);
    }

    void exampleRecord_toString_givesTenElements_doublesWithSixDigits()
    {
        PrintJob job = exampleJob();
        QCOMPARE(job.toString(), QStringLiteral("5,30,8,100,100,100,Clear,1,1,1"));
        job.layerThickness = 50;
        job.numImages = 120;
        job.cureTime = 1.23456789;
        job.scaleY = 0.000012;
        QCOMPARE(job.toString(), QStringLiteral("5,30,1.23457,50,100,120,Clear,1,1.2e-05,1"));
    }

    void isCompleteLine_needsKeywordAndTenFields()
    {
        QVERIFY(PrintJob::isCompleteLine(QStringLiteral("Kw,5,30,8,100,100,100,Clear,1,1,1")));
        QVERIFY(PrintJob::isCompleteLine(QStringLiteral("Kw,,,,,,,,,,"))); // empty fields count
        QVERIFY(!PrintJob::isCompleteLine(exampleJob().toString())); // no keyword
        QVERIFY(!PrintJob::isCompleteLine(QString()));
    }

    void lineProblem_refusesNonsenseValues_data()
    {
        // One element of a good line replaced, and whether the line is refused then.
        QTest::addColumn<int>("element");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("refused");
        static const struct {
            int element;
            const char *text;
            bool refused;
        } rows[] = {{8, "0.5", false}, {9, "2", false}, {3, "600", false}, {2, "0", false}, {10, "5", false},
            {4, "1", false}, {5, "1000", false}, {8, "0", true}, {9, "-1", true}, {8, "2.01", true}, {8, "inf", true},
            {9, "one", true}, {3, "0", true}, {3, "600.5", true}, {3, "nan", true}, {2, "-1", true}, {2, "3600", true},
            {6, "0", true}, {6, "3000000000", true}, {1, "3000000000", true}, {1, "-2", true}, {4, "0", true},
            {5, "1001", true}, {4, "50.5", true}, {10, "0", true}, {10, "", true}};
        for (const auto &row : rows)
            QTest::addRow("element %d = '%s'", row.element, row.text)
                << row.element << QString::fromLatin1(row.text) << row.refused;
    }

    void lineProblem_refusesNonsenseValues()
    {
        QFETCH(int, element);
        QFETCH(QString, text);
        QFETCH(bool, refused);
        QStringList parts = QStringLiteral("Kw,5,30,8,100,100,100,Clear,1,1,1").split(',');
        parts[element] = text;
        QCOMPARE(PrintJob::lineProblem(parts.join(',')).isEmpty(), !refused);
        PrintJob job; // a record the desktop fills is judged alike
        job.setFromString(parts.join(','));
        QVERIFY(refused || job.problem().isEmpty());
        QVERIFY(!PrintJob::lineProblem(QStringLiteral("Kw,5,30,8")).isEmpty());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_target;
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
