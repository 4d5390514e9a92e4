// Server on loopback: listening port, the announcement to 127.0.0.1, devices kept apart by
// serial, commands and resin edits on the wire, dropping devices, updates only with
// consent, and SSH work off the server's thread.
#include "clientdevice.h"
#include "fakeprinter.h"
#include "logcapture.h"
#include "protocol.h"
#include "server.h"
#include "sshlink.h"
#include "timescale.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

namespace {
const QString kReady = QStringLiteral("PrintStatus_Ready");
const QString kPrinting = QStringLiteral("PrintStatus_Printing");
// A base port away from the program's default, different per process.
int testBasePort()
{
    return 52000 + static_cast<int>(QCoreApplication::applicationPid() % 500) * 10;
}
} // namespace

class TestServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Server> m_server;
    QUdpSocket m_discovery;
    QTemporaryDir m_keys;

    // A server of this test run: its own ports, announcing to the test's socket.
    void configure(Server *server)
    {
        server->setBasePort(testBasePort());
        server->setDiscoveryPort(m_discovery.localPort());
        server->setDiscoveryTarget(QHostAddress::LocalHost);
    }

    // Keep-alives from the printers, every heartbeat interval.
    static void beat(QTimer &timer, const QList<FakePrinter *> &printers)
    {
        QObject::connect(&timer, &QTimer::timeout, [printers] {
            for (FakePrinter *p : printers)
                p->send(QStringLiteral("Connection-Alive"));
        });
        timer.start(qMax(1, int(Protocol::kHeartbeatIntervalMs * TimeScale::factor())));
    }

    // A fake printer that answered the greeting with the given serial; unless its version
    // needs an update, its handshake completed.
    std::unique_ptr<FakePrinter> addPrinter(
        const QString &serial, const QString &status = kReady, const QString &version = QStringLiteral("4.51"))
    {
        auto printer = std::make_unique<FakePrinter>();
        QSignalSpy connected(m_server.get(), &Server::printerConnected);
        QSignalSpy update(m_server.get(), &Server::updateRequested);
        if (!printer->connectTo(static_cast<quint16>(m_server->currentPort())))
            return nullptr;
        if (!QTest::qWaitFor([&] { return !printer->greeting.isEmpty(); }, 5000))
            return nullptr;
        printer->send(FakePrinter::reply(
            serial, QStringLiteral("Orbelle"), version, status, Resin::toString(Resin::defaultResinList())));
        if (!QTest::qWaitFor([&] { return connected.count() + update.count() == 1; }, 5000))
            return nullptr;
        return printer;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_discovery.bind(QHostAddress(QHostAddress::LocalHost), 0));
        QVERIFY(m_keys.isValid());
        KnownPrinterKeys::setStorePath(m_keys.filePath(QStringLiteral("known.ini")));
    }

    void init()
    {
        // An install stops at the missing update files, before any SSH.
        ClientDevice::setUpdateFiles(QStringLiteral("/nonexistent/Vatnode"), QStringLiteral("/nonexistent/script"));
        m_server = std::make_unique<Server>();
        configure(m_server.get());
        m_server->broadcastIP();
        QVERIFY(m_server->currentPort() > 0);
    }

    void cleanup()
    {
        m_server.reset();
        TimeScale::setFactor(1.0);
        while (m_discovery.hasPendingDatagrams())
            m_discovery.receiveDatagram();
    }

    // The first free port above the base, announced to loopback, again on the same port.
    void broadcastIP_announcesLoopbackAndTheFirstFreePort()
    {
        const QByteArray expected = QByteArray("ip:127.0.0.1port:") + QByteArray::number(m_server->currentPort());
        QVERIFY(m_server->currentPort() >= testBasePort() + 1 && m_server->currentPort() <= testBasePort() + 50);
        QTRY_VERIFY(m_discovery.hasPendingDatagrams());
        QCOMPARE(m_discovery.receiveDatagram().data(), expected);
        m_server->broadcastIP();
        QTRY_VERIFY(m_discovery.hasPendingDatagrams());
        QCOMPARE(m_discovery.receiveDatagram().data(), expected);

        m_server.reset();
        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::Any, static_cast<quint16>(testBasePort() + 1)));
        Server server;
        configure(&server);
        server.broadcastIP();
        // The next port up, or a later one when another program on the machine holds it.
        QVERIFY(server.currentPort() > testBasePort() + 1 && server.currentPort() <= testBasePort() + 50);
    }

    // Reports come with the serial of the printer that sent them; every command and resin
    // edit goes to the printer named, as its message, and to none for an unknown serial.
    void twoPrinters_keptApartBySerial_commandsOnTheWire()
    {
        auto a = addPrinter(QStringLiteral("AAA"));
        auto b = addPrinter(QStringLiteral("BBB"), kPrinting);
        QVERIFY(a && b);
        QCOMPARE(m_server->devices().size(), 2);

        QSignalSpy progress(m_server.get(), &Server::updatePrintProgress);
        b->send(QStringLiteral("Send_PrintProgress,3,10,50,job.ssj,Clear,50"));
        QTRY_COMPARE(progress.count(), 1);
        QCOMPARE(progress.at(0).at(0).toString(), QStringLiteral("BBB"));
        QCOMPARE(progress.at(0).at(1).toInt(), 3);

        QSignalSpy error(m_server.get(), &Server::transmitPrinterError);
        a->send(QStringLiteral("Send_PrintingError,201"));
        QTRY_COMPARE(error.count(), 1);
        QCOMPARE(error.at(0), QVariantList({QStringLiteral("AAA"), 201}));

        const QString s = QStringLiteral("AAA");
        LogCapture log;
        m_server->pauseJob(QStringLiteral("NOPE"));
        m_server->pauseJob(s);
        m_server->resumeJob(s);
        m_server->cancelJob(s);
        m_server->changeNickName(s, QStringLiteral("Left"));
        m_server->reprint(s);
        m_server->sendPlatformUp(s);
        m_server->sendPlatformDown(s);
        m_server->sendTiltUp(s);
        m_server->sendTiltDown(s);
        m_server->sendNewGParameter(s, 4);
        m_server->sendNewFactoryGParameter(s, 5);
        m_server->resetGParameter(s);
        m_server->sendNetworkedGCommand(s);
        m_server->sendProjectGrid(s);
        m_server->sendTurnOffProjector(s);
        m_server->sendNewGrayscale(s, QStringLiteral("{}"));
        m_server->sendResetNetworkSettings(s);
        m_server->setNetworkInfo(s, QStringLiteral("Net"), QStringLiteral("pw123456"));
        m_server->sendNewSerialAndModel(s, QStringLiteral("Q2"), QStringLiteral("M"));
        m_server->sendBoardCommand(QStringLiteral("BBB"), QStringLiteral("G12"));
        const QStringList expected = {"Request_PausePrint", "Request_ResumePrint", "Request_CancelPrint",
            "Server_NewNickname,Left", "Request_Reprint", "Request_PlatformUp", "Request_PlatformDown",
            "Request_TiltUp", "Request_TiltDown", "Send_GParameter,4", "Send_FactoryGParameter,5",
            "Send_ResetGParameterToFactory", "Request_QA_GCommand", "Request_QA_ProjectGrid",
            "Request_QA_TurnOffProjector", "Request_ResetNetwork",
            "Send_NetworkInfoNetSend_NetworkInfopw123456Send_NetworkInfoJunk Type Name", "Send_NewSerialAndModel,Q2,M"};
        QTRY_COMPARE(a->messages, expected);
        QVERIFY(b->waitForMessage(QStringLiteral("Send_PiToBoardCommand,G12")));
        QCOMPARE(b->messages, QStringList({"Request_PrintProgress", "Send_PiToBoardCommand,G12"})); // it prints
        QVERIFY(!log.lines().join('\n').contains(QLatin1String("pw123456")));
        ClientDevice *device = m_server->getDeviceFromSerial(s);
        QCOMPARE(device->nickname(), QStringLiteral("Left"));
        QCOMPARE(device->gParameter(), 5);
        QVERIFY(device->isGParameterReset());

        // Resin edits send the whole list with the change.
        QCOMPARE(m_server->getResinDataAsStringList(QStringLiteral("BBB")).size(), 42);
        QList<Resin> two = {Resin(QStringLiteral("A")), Resin(QStringLiteral("B"))};
        m_server->updateResins(QStringLiteral("BBB"), Resin::toString(two));
        QVERIFY(b->waitForMessage("Send_ResinData" + Resin::toString(two)));
        two[0].fineTuneFactor20 = 0.9;
        m_server->sendNewResinFineTuneFactor(QStringLiteral("BBB"), QStringLiteral("A"), 20, 0.9);
        QVERIFY(b->waitForMessage("Send_ResinData" + Resin::toString(two)));
        two[1].scaleX50 = 1.05;
        two[1].scaleY50 = 1.04;
        m_server->sendNewResinScalingFactor(QStringLiteral("BBB"), QStringLiteral("B"), 50, 1.05, 1.04);
        QVERIFY(b->waitForMessage("Send_ResinData" + Resin::toString(two)));
        QCOMPARE(m_server->getResinDataAsStringList(QStringLiteral("BBB")).size(), 14);
    }

    void connectionWithoutHandshake_isDroppedAfterTheTimeout()
    {
        TimeScale::setFactor(0.01);
        FakePrinter silent;
        QVERIFY(silent.connectTo(static_cast<quint16>(m_server->currentPort())));
        QTRY_COMPARE(m_server->devices().size(), 1);
        QSignalSpy gone(m_server.get(), &Server::printerDisconnected);
        QSignalSpy closed(&silent.socket, &QTcpSocket::disconnected);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->devices().size(), 0, 3000);
        QTRY_COMPARE(closed.count(), 1);
        QCOMPARE(gone.count(), 0); // it was never announced
    }

    void printerGone_deviceDroppedAndReported_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("printer closes its socket") << "close";
        QTest::newRow("absurd frame length") << "frame"; // each such length: tst_protocol
        QTest::newRow("disconnected by hand") << "manual";
    }

    void printerGone_deviceDroppedAndReported()
    {
        QFETCH(QString, how);
        auto p = addPrinter(QStringLiteral("C1"));
        QVERIFY(p);
        QSignalSpy gone(m_server.get(), &Server::printerDisconnected);
        QSignalSpy closed(&p->socket, &QTcpSocket::disconnected);
        if (how == QLatin1String("close"))
            p->socket.disconnectFromHost();
        else if (how == QLatin1String("frame"))
            p->sendBytes(QByteArray("\x7f\xff\xff\xfe", 4));
        else
            m_server->manuallyDisconnectPrinter(QStringLiteral("C1"));
        QTRY_COMPARE(gone.count(), 1);
        QCOMPARE(gone.at(0).at(0).toString(), QStringLiteral("C1"));
        QVERIFY(m_server->devices().isEmpty());
        QTRY_COMPARE(closed.count(), 1);
    }

    void update_installedOnlyWithConsent_data()
    {
        QTest::addColumn<bool>("viaHandshake"); // an old version, or the printer asks
        QTest::newRow("old version") << true;
        QTest::newRow("printer asks") << false;
    }

    // Asked for an update, the server waits for the user's consent (installUpdate); the
    // install then stops at the missing update files.
    void update_installedOnlyWithConsent()
    {
        QFETCH(bool, viaHandshake);
        TimeScale::setFactor(0.02); // 40 ms heartbeat, 300 ms time-outs
        QSignalSpy requested(m_server.get(), &Server::updateRequested);
        QSignalSpy connected(m_server.get(), &Server::printerConnected);
        QSignalSpy attempted(m_server.get(), &Server::sendMessageToGUI);
        auto p
            = addPrinter(QStringLiteral("U1"), kReady, viaHandshake ? QStringLiteral("4.3") : QStringLiteral("4.51"));
        QVERIFY(p);
        QTimer timer;
        beat(timer, {p.get()});
        if (!viaHandshake)
            p->send(QStringLiteral("Request_Update"));
        QTRY_COMPARE(requested.count(), 1);
        QCOMPARE(requested.at(0).at(0).toString(), QStringLiteral("U1"));
        // Kept, with its heartbeat, past the time-out that drops a connection without a
        // handshake: ten keep-alives take longer.
        QTRY_VERIFY(p->messages.count(QStringLiteral("Connection-Alive")) >= 10);
        QCOMPARE(attempted.count(), 0);
        QCOMPARE(m_server->devices().size(), 1);
        QCOMPARE(connected.count(), viaHandshake ? 0 : 1);
        m_server->installUpdate(QStringLiteral("U1"));
        QTRY_COMPARE(attempted.count(), 1);
        QVERIFY(attempted.at(0).at(0).toString().contains(QLatin1String("update files are missing")));
    }

    // The SSH work of one printer (here with an SSH server that never answers) runs off
    // the server's thread: the other printers keep their heartbeat meanwhile.
    void sshWork_blocked_otherPrintersKeepTheirHeartbeat()
    {
        // Any existing files will do: the upload never gets that far.
        ClientDevice::setUpdateFiles(QCoreApplication::applicationFilePath(), QCoreApplication::applicationFilePath());
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        SshSettings ssh;
        ssh.port = silent.serverPort();
        ssh.timeoutSeconds = 2;
        ClientDevice::setSshSettings(ssh);
        TimeScale::setFactor(0.05); // 100 ms heartbeat, 750 ms time-out
        m_server->setUpdatesAllowed(true);
        auto other = addPrinter(QStringLiteral("B1"));
        auto asking = addPrinter(QStringLiteral("A1"));
        QVERIFY(other && asking);
        QTimer timer;
        beat(timer, {other.get(), asking.get()});
        QSignalSpy told(m_server.get(), &Server::sendMessageToGUI);
        QSignalSpy gone(m_server.get(), &Server::printerDisconnected);

        asking->send(QStringLiteral("Request_Update"));
        const int before = other->messages.count(QStringLiteral("Connection-Alive"));
        QTRY_COMPARE_WITH_TIMEOUT(told.count(), 1, 20000);
        QVERIFY2(told.at(0).at(0).toString().contains(QLatin1String("could not be reached")),
            qPrintable(told.at(0).at(0).toString()));
        const int during = other->messages.count(QStringLiteral("Connection-Alive")) - before;
        QVERIFY2(during >= 5, qPrintable(QString::number(during)));
        QCOMPARE(gone.count(), 0);
        ClientDevice::setSshSettings(SshSettings::fromEnvironment());
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
