// Server on loopback: listening port, the announcement to 127.0.0.1, devices kept apart by
// serial, relayed reports and records, dropping devices, sending a job, the server on a
// thread of its own, updates only with consent, and SSH work off the server's thread.
#include "clientdevice.h"
#include "crushedprintjob.h"
#include "fakeprinter.h"
#include "logcapture.h"
#include "protocol.h"
#include "server.h"
#include "sshlink.h"
#include "ssj.h"
#include "timescale.h"
#include "waiting.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
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
        QCOMPARE(server.currentPort(), testBasePort() + 2);
    }

    // As in the program: the server on a thread of its own, reached only through queued
    // calls and signals; its devices live there too, and it is destroyed there.
    void onItsOwnThread_servesThroughQueuedCalls()
    {
        m_server.reset();
        while (m_discovery.hasPendingDatagrams())
            m_discovery.receiveDatagram();
        QThread thread;
        auto *server = new Server;
        configure(server);
        server->moveToThread(&thread);
        connect(&thread, &QThread::finished, server, &QObject::deleteLater);
        QStringList connectedSerials;
        connect(server, &Server::printerConnected, this,
            [&](const QString &serial, const QString &, const QString &) { connectedSerials << serial; });
        QList<PrinterState> states; // the records arrive queued too
        connect(server, &Server::printerStateChanged, this, [&](const PrinterState &state) { states << state; });
        thread.start();

        QVERIFY(QMetaObject::invokeMethod(server, "broadcastIP", Qt::QueuedConnection));
        QTRY_VERIFY(m_discovery.hasPendingDatagrams());
        QString ip;
        int port = 0;
        QVERIFY(Protocol::parseDatagram(m_discovery.receiveDatagram().data(), &ip, &port));

        FakePrinter printer;
        QVERIFY(printer.connectTo(static_cast<quint16>(port)));
        QTRY_VERIFY(!printer.greeting.isEmpty());
        printer.send(FakePrinter::reply(QStringLiteral("TT1"), QStringLiteral("Orbelle"), QStringLiteral("4.51"),
            kReady, Resin::toString(Resin::defaultResinList())));
        QTRY_COMPARE(connectedSerials, QStringList({QStringLiteral("TT1")}));
        QTRY_VERIFY(!states.isEmpty() && states.last().serial == QStringLiteral("TT1"));

        QThread *deviceThread = nullptr;
        QVERIFY(QMetaObject::invokeMethod(
            server, [&] { deviceThread = server->devices().value(0)->thread(); }, Qt::BlockingQueuedConnection));
        QCOMPARE(deviceThread, &thread);
        QVERIFY(
            QMetaObject::invokeMethod(server, "pauseJob", Qt::QueuedConnection, Q_ARG(QString, QStringLiteral("TT1"))));
        QVERIFY(printer.waitForMessage(QStringLiteral("Request_PausePrint")));

        thread.quit();
        QVERIFY(thread.wait(5000));
        QTRY_COMPARE(printer.socket.state(), QAbstractSocket::UnconnectedState);
    }

    // Reports come with the serial of the printer that sent them; commands and a job go to
    // the printer named, and to none for an unknown serial.
    void twoPrinters_keptApartBySerial()
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

        m_server->pauseJob(QStringLiteral("NOPE"));
        m_server->pauseJob(QStringLiteral("AAA"));
        m_server->sendBoardCommand(QStringLiteral("BBB"), QStringLiteral("G12"));
        QVERIFY(a->waitForMessage(QStringLiteral("Request_PausePrint")));
        QVERIFY(b->waitForMessage(QStringLiteral("Send_PiToBoardCommand,G12")));
        QCOMPARE(a->messages, QStringList({QStringLiteral("Request_PausePrint")}));
        QVERIFY(!b->messages.contains(QStringLiteral("Request_PausePrint")));

        // A job goes to the printer named only, streamed whole; its layer count is read from
        // the file, without the window's job holder.
        QTemporaryDir dir;
        const QString jobPath = dir.filePath(QStringLiteral("five.ssj"));
        CrushedPrintJob five;
        five.setVersion(1);
        five.clearAll(5);
        QVERIFY(five.saveCPJ(jobPath));
        SSJ::releaseCPJ();
        a->messages.clear();
        b->messages.clear();
        a->expectJob(dir.filePath(QStringLiteral("got.ssj")));
        QSignalSpy written(m_server.get(), &Server::sendUpdateBytesWritten);
        PrintJob job;
        job.resinName = QStringLiteral("Gray");
        job.numImages = 1;
        m_server->setPrintJobToSend(QStringLiteral("AAA"), jobPath, job);
        m_server->sendPrint();
        QTRY_COMPARE(a->streamResult, JobStreamReceiver::Done);
        job.numImages = 5;
        QCOMPARE(a->messages.first(), "Status_SendingPrintJob," + job.toString());
        QVERIFY(SSJ::m_pJob == nullptr);
        const QByteArray content = fileBytes(jobPath);
        QVERIFY(fileBytes(dir.filePath(QStringLiteral("got.ssj"))) == content);
        const qint64 total = 16 + 4 + 2 * jobPath.size() + content.size();
        QTRY_COMPARE(written.last().at(0).toLongLong(), total);
        QVERIFY(m_server->getDeviceFromSerial(QStringLiteral("AAA"))->isPrinting());
        QVERIFY(b->messages.isEmpty());
    }

    void deviceReports_relayedWithSerial()
    {
        auto p = addPrinter(QStringLiteral("R1"), kPrinting);
        QVERIFY(p);
        using Relay = void (Server::*)(const QString &);
        const QList<QPair<QString, Relay>> reports = {{"Send_PauseMovementDone", &Server::pauseCompleted},
            {"Request_PausePrint", &Server::pauseStarted}, {"Send_ResumeMovementDone", &Server::resumeCompleted},
            {"Request_ResumePrint", &Server::resumeStarted}, {"Request_CancelPrint", &Server::printCancelled},
            {"Request_Update", &Server::updateRequested}, {"Send_PrintDone", &Server::updatePrintDone}};
        QSignalSpy states(m_server.get(), &Server::printerStateChanged);
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (const auto &report : reports) {
            spies.push_back(std::make_unique<QSignalSpy>(m_server.get(), report.second));
            p->send(report.first);
        }
        QTRY_COMPARE(spies.back()->count(), 1);
        for (const auto &spy : spies) {
            QCOMPARE(spy->count(), 1);
            QCOMPARE(spy->at(0).at(0).toString(), QStringLiteral("R1"));
        }
        QVERIFY(!m_server->getDeviceFromSerial(QStringLiteral("R1"))->isPrinting());
        const PrinterState last = states.last().at(0).value<PrinterState>();
        QCOMPARE(last.serial, QStringLiteral("R1"));
        QCOMPARE(last.activity, PrinterState::Activity::Ready);
        QCOMPARE(last.outcome, PrinterState::Outcome::Cancelled); // the printer's button
    }

    void serialSlots_sendTheirMessages()
    {
        auto p = addPrinter(QStringLiteral("Q1"));
        QVERIFY(p);
        const QString s = QStringLiteral("Q1");
        LogCapture log;
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
        const QStringList expected = {"Request_ResumePrint", "Request_CancelPrint", "Server_NewNickname,Left",
            "Request_Reprint", "Request_PlatformUp", "Request_PlatformDown", "Request_TiltUp", "Request_TiltDown",
            "Send_GParameter,4", "Send_FactoryGParameter,5", "Send_ResetGParameterToFactory", "Request_QA_GCommand",
            "Request_QA_ProjectGrid", "Request_QA_TurnOffProjector", "Request_ResetNetwork",
            "Send_NetworkInfoNetSend_NetworkInfopw123456Send_NetworkInfoJunk Type Name", "Send_NewSerialAndModel,Q2,M"};
        QTRY_COMPARE(p->messages, expected);
        QVERIFY(!log.lines().join('\n').contains(QLatin1String("pw123456")));
        ClientDevice *device = m_server->getDeviceFromSerial(s);
        QCOMPARE(device->nickname(), QStringLiteral("Left"));
        QCOMPARE(device->gParameter(), 5);
        QVERIFY(device->isGParameterReset());
    }

    void resinSlots_editAndReport()
    {
        auto p = addPrinter(QStringLiteral("R5"));
        QVERIFY(p);
        QCOMPARE(m_server->getResinDataAsStringList(QStringLiteral("R5")).size(), 42);
        QList<Resin> two = {Resin(QStringLiteral("A")), Resin(QStringLiteral("B"))};
        m_server->updateResins(QStringLiteral("R5"), Resin::toString(two));
        QVERIFY(p->waitForMessage("Send_ResinData" + Resin::toString(two)));
        two[0].fineTuneFactor20 = 0.9;
        m_server->sendNewResinFineTuneFactor(QStringLiteral("R5"), QStringLiteral("A"), 20, 0.9);
        QVERIFY(p->waitForMessage("Send_ResinData" + Resin::toString(two)));
        two[1].scaleX50 = 1.05;
        two[1].scaleY50 = 1.04;
        m_server->sendNewResinScalingFactor(QStringLiteral("R5"), QStringLiteral("B"), 50, 1.05, 1.04);
        QVERIFY(p->waitForMessage("Send_ResinData" + Resin::toString(two)));
        QCOMPARE(m_server->getResinDataAsStringList(QStringLiteral("R5")).size(), 14);
    }

    // Power cut: the printer's old connection stays open on the desktop's side while the
    // printer comes back under the same serial.
    void printerBackUnderItsSerial_replacesItsOldConnection()
    {
        TimeScale::setFactor(0.05);
        auto old = addPrinter(QStringLiteral("R1"));
        QVERIFY(old);
        QSignalSpy gone(m_server.get(), &Server::printerDisconnected);
        auto back = addPrinter(QStringLiteral("R1"));
        QVERIFY(back);
        QTRY_COMPARE(m_server->devices().size(), 1);
        // Commands reach the printer that is there.
        m_server->pauseJob(QStringLiteral("R1"));
        QVERIFY(back->waitForMessage(QStringLiteral("Request_PausePrint")));
        QVERIFY(!old->messages.contains(QStringLiteral("Request_PausePrint")));
        // The old connection's time-out passes while the printer keeps reporting: it is
        // not reported gone.
        for (int i = 0; i < 6; ++i) {
            back->send(QStringLiteral("Send_PrintProgress,1,1,1,job.ssj,Clear,50"));
            QTest::qWait(int(Protocol::kHeartbeatTimeoutMs * 0.05 / 4));
        }
        QCOMPARE(gone.count(), 0);
        QCOMPARE(m_server->devices().size(), 1);
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
        QTest::addColumn<bool>("allowed"); // setUpdatesAllowed beforehand
        QTest::addColumn<bool>("install"); // installUpdate() after the request
        QTest::newRow("old version, no consent") << true << false << false;
        QTest::newRow("old version, installUpdate") << true << false << true;
        QTest::newRow("old version, allowed") << true << true << false;
        QTest::newRow("printer asks, no consent") << false << false << false;
        QTest::newRow("printer asks, installUpdate") << false << false << true;
    }

    void update_installedOnlyWithConsent()
    {
        QFETCH(bool, viaHandshake);
        QFETCH(bool, allowed);
        QFETCH(bool, install);
        TimeScale::setFactor(0.02); // 40 ms heartbeat, 300 ms time-outs
        m_server->setUpdatesAllowed(allowed);
        QSignalSpy requested(m_server.get(), &Server::updateRequested);
        QSignalSpy connected(m_server.get(), &Server::printerConnected);
        QSignalSpy attempted(m_server.get(), &Server::sendMessageToGUI); // "update files are missing"
        auto p
            = addPrinter(QStringLiteral("U1"), kReady, viaHandshake ? QStringLiteral("4.3") : QStringLiteral("4.51"));
        QVERIFY(p);
        QTimer timer;
        beat(timer, {p.get()});
        if (!viaHandshake)
            p->send(QStringLiteral("Request_Update"));
        QTRY_COMPARE(requested.count(), 1);
        QCOMPARE(requested.at(0).at(0).toString(), QStringLiteral("U1"));
        if (install)
            m_server->installUpdate(QStringLiteral("U1"));
        if (allowed || install) {
            QTRY_COMPARE(attempted.count(), 1);
            QVERIFY(attempted.at(0).at(0).toString().contains(QLatin1String("update files are missing")));
        } else {
            // Kept, with its heartbeat, past the time-out that drops a connection without
            // a handshake: ten keep-alives take longer.
            QTRY_VERIFY(p->messages.count(QStringLiteral("Connection-Alive")) >= 10);
            QCOMPARE(attempted.count(), 0);
            QCOMPARE(m_server->devices().size(), 1);
        }
        QCOMPARE(connected.count(), viaHandshake ? 0 : 1);
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
