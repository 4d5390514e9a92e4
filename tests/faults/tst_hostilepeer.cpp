// Hosts on loopback that do not play the desktop's part, against the real printer program:
// one that takes the printer's connection and then says nothing, one that greets in two
// pieces; and free texts that carry the protocol's own separators and marker (the Wi-Fi
// names the printer sees, a nickname, a job's file name). The printer must never be
// captured, and no text may shift a field or slip in a message.
#include "faultharness.h"
#include "printerstate.h"
#include "protocol.h"
#include "server.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

using namespace Faults;

namespace {

const QStringList kWifiNames
    = {QStringLiteral("Cafe, 2nd floor"), QStringLiteral("Lab*header*Send_PrintDone"), QStringLiteral("100%2C sure")};

// Makes the printer connect to `listener` by announcing it, as a desktop would.
QTcpSocket *lure(QTcpServer &listener, quint16 printerDiscoveryPort)
{
    QUdpSocket udp;
    udp.writeDatagram(Protocol::datagram(QStringLiteral("127.0.0.1"), listener.serverPort()),
        QHostAddress(QHostAddress::LocalHost), printerDiscoveryPort);
    if (!listener.waitForNewConnection(10000))
        return nullptr;
    return listener.nextPendingConnection();
}

} // namespace

class TestHostilePeer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void silentHost_isDropped_printerFindsTheDesktop();
    void greetingInTwoPieces_answeredWithWholeFields();
    void freeTexts_crossBothWaysUnchanged();

private:
    QTemporaryDir m_dir;
    XServer m_x;
    std::unique_ptr<Rig> m_rig;
};

void TestHostilePeer::initTestCase()
{
    QString error;
    QVERIFY2(prepare(m_dir, m_x, &error), qPrintable(error));
    // What the printer's Wi-Fi scan finds nearby.
    QFile scan(m_dir.filePath(QStringLiteral("scan.txt")));
    QVERIFY(scan.open(QIODevice::WriteOnly));
    for (const QString &name : kWifiNames)
        scan.write(QStringLiteral("          ESSID:\"%1\"\n").arg(name).toUtf8());
    scan.close();
    m_rig = std::make_unique<Rig>(m_dir.filePath(QStringLiteral("printer")), m_x.display());
    m_rig->printer.setExtraArguments({QStringLiteral("--simulate-output"),
        QStringLiteral("sudo iwlist wlan0 scan | grep ESSID=") + scan.fileName()});
    QVERIFY2(m_rig->start(&error), qPrintable(error));
}

void TestHostilePeer::cleanupTestCase()
{
    if (m_rig) {
        const QString problems = m_rig->problems();
        m_rig->printer.stop();
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }
}

void TestHostilePeer::silentHost_isDropped_printerFindsTheDesktop()
{
    QTcpServer hostile;
    QVERIFY(hostile.listen(QHostAddress(QHostAddress::LocalHost)));
    std::unique_ptr<QTcpSocket> captured(lure(hostile, m_rig->printer.discoveryPort()));
    QVERIFY(captured);

    // The host says nothing; the desktop keeps announcing itself and gets the printer
    // once the printer has given up on the host.
    DesktopLink desktop(m_rig->printer.discoveryPort());
    QVERIFY(desktop.waitForPrinter(30000));
    QVERIFY(m_rig->printer.logCount(QStringLiteral("Client::greetingTimedOut")) >= 1);
    QVERIFY(waitFor(
        [&] {
            return captured->state() != QAbstractSocket::ConnectedState || !captured->isValid()
                || captured->waitForDisconnected(100);
        },
        10000));
}

void TestHostilePeer::greetingInTwoPieces_answeredWithWholeFields()
{
    QTcpServer host;
    QVERIFY(host.listen(QHostAddress(QHostAddress::LocalHost)));
    // The printer is free again once the last test's desktop is gone.
    std::unique_ptr<QTcpSocket> socket;
    QVERIFY(waitFor(
        [&] {
            socket.reset(lure(host, m_rig->printer.discoveryPort()));
            return socket != nullptr;
        },
        30000));
    socket->write("*header*Tess");
    socket->flush();
    QVERIFY(m_rig->printer.waitForLog(QStringLiteral("Client::readHandshake"), 1, 10000));
    socket->write("ora_Server");
    socket->flush();

    QString text;
    QVERIFY(waitFor(
        [&] {
            socket->waitForReadyRead(50);
            return Protocol::readFrame(socket.get(), &text) == Protocol::FrameStatus::Complete;
        },
        10000));
    const QStringList messages = Protocol::extractMessages(text);
    QCOMPARE(messages.size(), 1);
    const QStringList fields = messages.first().split(QLatin1Char(','));
    QCOMPARE(fields.size(), 9);
    QCOMPARE(fields.at(0), QStringLiteral("Tessora_Client"));
    QStringList wifi;
    for (const QString &name : fields.at(7).split(QLatin1String(Protocol::kWifiSeparator)))
        wifi << Protocol::decodeField(name);
    QCOMPARE(wifi, kWifiNames);
}

void TestHostilePeer::freeTexts_crossBothWaysUnchanged()
{
    DesktopLink desktop(m_rig->printer.discoveryPort());
    PrinterState record;
    int printsDone = 0;
    QObject::connect(
        &desktop.server(), &Server::printerStateChanged, [&](const PrinterState &state) { record = state; });
    QObject::connect(&desktop.server(), &Server::updatePrintDone, [&] { ++printsDone; });
    QVERIFY(desktop.waitForPrinter(30000));
    QCOMPARE(record.wifiNames, kWifiNames);
    QCOMPARE(printsDone, 0);

    // A nickname with the separator, the marker and an argument placeholder survives the
    // printer's settings and its next handshake.
    const QString nickname = QStringLiteral("Bench, left %1 *header*Send_PrintDone");
    desktop.server().changeNickName(desktop.serial, nickname);
    QVERIFY(m_rig->printer.waitForLog(QStringLiteral("Server_NewNickname"), 1, 10000));
    const QString serial = desktop.serial;
    desktop.serial.clear();
    desktop.server().manuallyDisconnectPrinter(serial);
    QVERIFY(desktop.waitForPrinter(30000));
    QCOMPARE(record.nickname, nickname);

    // So does a job's file name, in every progress report.
    QString error;
    const QString job
        = makeSampleJob(m_dir.path(), QStringLiteral("part, v2 %1 *header*Send_PrintDone.ssj"), 3, &error);
    QVERIFY2(!job.isEmpty(), qPrintable(error));
    QStringList reportedNames;
    QObject::connect(&desktop.server(), &Server::updatePrintProgress,
        [&](const QString &, int, int, int, const QString &ssjName, const QString &, int) {
            reportedNames << ssjName;
        });
    desktop.server().sendPrintJob(desktop.serial, job, quickJob(3, QStringLiteral("Clear, tinted")));
    QVERIFY(waitFor([&] { return printsDone == 1; }, 60000));
    QVERIFY(reportedNames.size() >= 3);
    QCOMPARE(QSet<QString>(reportedNames.begin(), reportedNames.end()),
        QSet<QString>({QStringLiteral("part, v2 %1 *header*Send_PrintDone.ssj")}));
    QCOMPARE(record.jobName, QStringLiteral("part, v2 %1 *header*Send_PrintDone.ssj"));
}

QTEST_MAIN(TestHostilePeer)
#include "tst_hostilepeer.moc"
