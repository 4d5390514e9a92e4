// The printer session through its real sockets: a fake desktop on loopback,
// the simulated board on a pseudo-terminal, system actions in simulation.
#include "fulldisk.h"
#include "printersettings.h"
#include "printingthread.h"
#include "sessionharness.h"
#include "ssj.h"
#include "systemactions.h"
#include "terminal.h"
#include "timescale.h"

#include <QSettings>
#include <QtTest>

namespace {

const QString kDone = QStringLiteral("Send_PrintDone");
const QString kProgress = QStringLiteral("Send_PrintProgress");

bool commandRan(const QString &command)
{
    return SystemActions::simulatedCommands().contains(command);
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SSJ::releaseCPJ(); }

    void firstStart_writesSettingsAndHandshakesWithThem();
    void wrongGreeting_keepsWaiting_otherMessageCloses();
    void badBytesAfterGreeting_closeTheConnection_data();
    void badBytesAfterGreeting_closeTheConnection();
    void silentDesktop_timesOutAndNextAnnouncementReconnects();
    void twoFramesInOnePacket_bothHandled_heartbeatWhenQuiet();
    void jobStream_withKeepAliveInFront_printsAndReportsDone();
    void boardFaultMidPrint_reportedAsItsPrintingError_data();
    void boardFaultMidPrint_reportedAsItsPrintingError();
    void largeStreamThenLargeFrameInOneWrite_bothHandled();
    void badStreamSizes_closeTheConnection_data();
    void badStreamSizes_closeTheConnection();
    void resinData_storedAsVersion2_oldFormatCloses();
    void nicknameSerialAndModel_areStored();
    void networkInfo_unsafeRefused_safeWritesClientConfigAndReboots();
    void manualMovesProjectorAndBoardCommands_reachTheBoard();
    void gParameters_areStoredAndReset();
    void grayscale_isSentInChunksAndMerged();
    void progressRequest_unknownMessage_andRefusalsWhileIdle();
};

void TestSession::firstStart_writesSettingsAndHandshakesWithThem()
{
    Session session;
    QVERIFY(session.ok());
    const QStringList fields = session.connectAndHandshake();
    QCOMPARE(fields.size(), 9);
    QCOMPARE(fields[0], QStringLiteral("Tessora_Client"));
    QVERIFY(QRegularExpression(QStringLiteral("^OBW-TEST\\d{1,4}$")).match(fields[1]).hasMatch());
    QCOMPARE(fields[2], QStringLiteral("Test Client") + fields[1].mid(8));
    QCOMPARE(fields.mid(3, 3), QStringList({"OBP100V1", "4.51", "PrintStatus_Ready"}));
    QCOMPARE(fields[6], Resin::toString(Resin::defaultResinList()));
    QCOMPARE(fields.mid(7), QStringList({"Workshop*&next&*Office 2", "g0"}));

    // The file the desktop downloads: exactly these keys. The settle time is stored as 0.
    QStringList keys = QSettings(QStringLiteral("Tessora_Client_Config"), QSettings::IniFormat).allKeys();
    keys.sort();
    QCOMPARE(keys,
        (QStringList {"broadcastingDirect", "enableResinSettleTime", "gParameter", "grayscale", "printerModel",
            "printerNickName", "printerSerial", "resinData", "resinSettleTime"}));
    QStringList values;
    for (const char *key : {"printerSerial", "broadcastingDirect", "enableResinSettleTime", "gParameter",
             "resinSettleTime", "resinData"})
        values << settingValue(QLatin1String(key));
    QCOMPARE(values, QStringList({fields[1], "true", "false", "g0", "0", fields[6]}));
    QVERIFY(settingValue(QStringLiteral("grayscale")).contains(QStringLiteral("\"numRows\":8")));
    // In access point mode already: no mode change, no reboot.
    QVERIFY(!commandRan(QStringLiteral("sudo reboot")));
}

void TestSession::wrongGreeting_keepsWaiting_otherMessageCloses()
{
    Session session;
    QVERIFY(session.ok());
    FakeDesktop &desktop = session.desktop();
    desktop.announce(session.discoveryPort());
    QVERIFY(desktop.waitForConnection());
    desktop.sendRaw(QByteArrayLiteral("*header*Tessora_Servex"));
    QTest::qWait(200);
    QVERIFY(desktop.connected());
    QVERIFY(desktop.messages.isEmpty());
    // Another message before the greeting closes the connection.
    desktop.send(QStringLiteral("Request_PrintProgress"));
    QVERIFY(waitFor([&] { return !desktop.connected(); }));
    QVERIFY(!session.client().isConnected());
    QVERIFY(desktop.messages.isEmpty());
}

void TestSession::badBytesAfterGreeting_closeTheConnection_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("raw frame") << QByteArrayLiteral("*header*Request_PrintProgress");
    QTest::newRow("absurd frame length") << QByteArray::fromHex("7ffffff0") + QByteArray(64, 'x');
}

void TestSession::badBytesAfterGreeting_closeTheConnection()
{
    QFETCH(QByteArray, bytes);
    Session session;
    QVERIFY(session.connectDesktop());
    session.desktop().sendRaw(bytes);
    QVERIFY(waitFor([&] { return !session.desktop().connected(); }));
}

void TestSession::silentDesktop_timesOutAndNextAnnouncementReconnects()
{
    Session session;
    session.desktop().heartbeat = false;
    QVERIFY(session.connectDesktop());
    // The desktop says nothing: after 15 s (scaled) the printer hangs up.
    QVERIFY(waitFor([&] { return !session.client().isConnected(); }));
    QVERIFY(waitFor([&] { return !session.desktop().connected(); }));
    session.desktop().messages.clear();
    QCOMPARE(session.connectAndHandshake().size(), 9);
    // A desktop that keeps its heartbeat keeps the connection.
    session.desktop().heartbeat = true;
    QTest::qWait(1000);
    QVERIFY(session.client().isConnected());
}

void TestSession::twoFramesInOnePacket_bothHandled_heartbeatWhenQuiet()
{
    Session session;
    QVERIFY(session.connectDesktop());
    QVERIFY(session.desktop().waitForMessage(QStringLiteral("Connection-Alive")));
    session.desktop().sendRaw(Protocol::frame(QStringLiteral("*header*Server_NewNickname,First"))
        + Protocol::frame(QStringLiteral("*header*Request_PrintProgress")));
    QVERIFY(session.desktop().waitForMessage(kProgress, 10000, true));
    QCOMPARE(session.client().nickname(), QStringLiteral("First"));
}

void TestSession::jobStream_withKeepAliveInFront_printsAndReportsDone()
{
    Session session;
    QVERIFY(session.connectDesktop());
    FakeDesktop &desktop = session.desktop();
    QVERIFY(desktop.startJob(QStringLiteral("1,2,1,50,50,3,Clear,1,1,1")));
    desktop.send(QStringLiteral("Connection-Alive"));
    desktop.sendStream(QStringLiteral("C:/Users/me/jobs/bracket.ssj"), session.makeJob(3));
    QVERIFY(desktop.waitForMessage(kDone, 30000));
    const QStringList progress = desktop.messagesStartingWith(kProgress);
    QVERIFY(progress.size() >= 3);
    QCOMPARE(progress.last().section(QLatin1Char(','), 4), QStringLiteral("bracket.ssj,Clear,50"));
    QCOMPARE(movesOf(session.board().receivedLines()), 3); // one move per layer
    QCOMPARE(session.client().readState(), int(Client::Ready));
}

// The board's faults mid-print reach the desktop as their printing error (the board lost:
// the fault tests).
void TestSession::boardFaultMidPrint_reportedAsItsPrintingError_data()
{
    QTest::addColumn<int>("error");
    QTest::newRow("moves no longer answered") << 201;
    QTest::newRow("lamp reports off") << 205;
}

void TestSession::boardFaultMidPrint_reportedAsItsPrintingError()
{
    QFETCH(int, error);
    Session session;
    // Slower than the session's usual speed: on a loaded machine a frame projected may hold
    // the thread longer than a heartbeat's time-out at 0.02, and the error would find the
    // desktop gone.
    TimeScale::setFactor(0.05);
    QVERIFY(session.connectDesktop());
    // Layers of 20 s: the lamp's grace of 15 s has passed by the second move.
    QVERIFY(session.desktop().startJob(QStringLiteral("0,0,20,50,50,4,Clear,1,1,1")));
    session.desktop().sendStream(QStringLiteral("fault.ssj"), session.makeJob(4));
    QVERIFY(waitFor([&] { return session.board().receivedLines().contains(QStringLiteral("N10")); }));
    if (error == 201)
        session.board().stall();
    else
        session.board().lampOff();
    QVERIFY(session.desktop().waitForMessage(QStringLiteral("Send_PrintingError,%1").arg(error), 20000));
}

// A stream is read through a bounded socket buffer; a frame larger than that bound right
// behind it must still be read whole once the stream ended. What was stored is no job: it
// is reported as error 206, and nothing prints.
void TestSession::largeStreamThenLargeFrameInOneWrite_bothHandled()
{
    Session session;
    QVERIFY(session.connectDesktop());
    FakeDesktop &desktop = session.desktop();
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,2,Clear,1,1,1")));
    const QByteArray body(3 * 1024 * 1024, 'x'); // stored whole, then refused as a job
    QString resins;
    for (int i = 0; i < 6000; ++i)
        resins += QStringLiteral("*ResinFormatVersion:2!Resin%1!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1").arg(i);
    const QByteArray frame = Protocol::frame(QStringLiteral("*header*Send_ResinData") + resins);
    QVERIFY(frame.size() > 512 * 1024);
    desktop.sendRaw(Protocol::jobStreamHeader(QStringLiteral("big.ssj"), body.size()) + body + frame);
    QVERIFY(desktop.waitForMessage(QStringLiteral("Send_PrintingError,206")));
    QCOMPARE(QFileInfo(session.path(QStringLiteral("MySSJFile.ssj"))).size(), body.size());
    QCOMPARE(session.client().printingThread()->status(), int(PrintingThread::Idle));
    QVERIFY(waitFor([&] { return session.client().resins().size() == 6000; }));
    QVERIFY(session.client().isConnected());
}

void TestSession::badStreamSizes_closeTheConnection_data()
{
    QTest::addColumn<QByteArray>("header");
    const auto sizes = [](qint64 total, qint64 nameSize) {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << total << nameSize;
        return bytes;
    };
    QTest::newRow("negative total") << sizes(-5, 10);
    QTest::newRow("negative name size") << sizes(100, -10);
    QTest::newRow("total smaller than its header") << sizes(20, 10);
    QTest::newRow("larger than the disk") << sizes(qint64(1) << 60, 10);
}

void TestSession::badStreamSizes_closeTheConnection()
{
    QFETCH(QByteArray, header);
    Session session;
    QVERIFY(session.connectDesktop());
    FakeDesktop &desktop = session.desktop();
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,2,Clear,1,1,1")));
    desktop.sendRaw(header + QByteArray(64, 'x'));
    QVERIFY(waitFor([&] { return !desktop.connected(); }));
    QVERIFY(!QFile::exists(session.path(QStringLiteral("MySSJFile.ssj"))));
}

void TestSession::resinData_storedAsVersion2_oldFormatCloses()
{
    Session session;
    QVERIFY(session.connectDesktop());
    FakeDesktop &desktop = session.desktop();
    desktop.send(
        QStringLiteral("Send_ResinData*ResinFormatVersion:3!1001!Slate!1.0!6!10!14!3!45!45!45!20!1!1!1!1!1!1!"
                       "1!1!1*ResinFormatVersion:3!3006!Unknown!1.0!-1!4.4!8!3!25!25!25!20!1!1!1!1!1!1!1!1!1"));
    QVERIFY(waitFor([&] { return session.client().resins().size() == 1; }));
    QCOMPARE(session.client().resins().first().name, QStringLiteral("Gray"));
    const QString stored = settingValue(QStringLiteral("resinData"));
    QVERIFY(stored.startsWith(QStringLiteral("*ResinFormatVersion:2!Gray!6!10!14")));

    // A text without any profile would leave the printer with none: refused, list kept.
    for (const char *text : {"", "ResinFormatVersion:2!Red!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"})
        desktop.send(QStringLiteral("Send_ResinData") + QLatin1String(text));
    QVERIFY(waitFor([&] { return refusalsOf(desktop, QStringLiteral("Send_ResinData")).size() == 2; }));
    QCOMPARE(session.client().resins().size(), 1);
    QCOMPARE(settingValue(QStringLiteral("resinData")), stored);

    desktop.send(QStringLiteral("Send_ResinData*Red!5!10!15!3!20!20!20!20!1!1!1"));
    QVERIFY(waitFor([&] { return !desktop.connected(); }));
    QCOMPARE(session.client().resins().size(), 1);
}

void TestSession::nicknameSerialAndModel_areStored()
{
    Session session;
    QVERIFY(session.connectDesktop());
    FakeDesktop &desktop = session.desktop();
    desktop.send(QStringLiteral("Server_NewNickname"));
    desktop.send(QStringLiteral("Server_NewNickname,Lab printer"));
    desktop.send(QStringLiteral("Send_NewSerialAndModel,OBW-7731,OBP100V1-OLD"));
    QVERIFY(waitFor([&] { return session.client().serial() == QLatin1String("OBW-7731"); }));
    QCOMPARE(session.client().nickname(), QStringLiteral("Lab printer"));
    QCOMPARE(settingValue(QStringLiteral("printerNickName")), QStringLiteral("Lab printer"));
    QCOMPARE(settingValue(QStringLiteral("printerSerial")), QStringLiteral("OBW-7731"));
    QCOMPARE(settingValue(QStringLiteral("printerModel")), QStringLiteral("OBP100V1-OLD"));
    QVERIFY(Client::isBoardRetrofitVersion());
    QVERIFY(session.systemFile(QStringLiteral("/etc/hostapd/hostapd.conf"))
                .contains(QStringLiteral("ssid=Orbelle-P-OBW-7731\n")));
    Client::boardIsOldVersion = false;

    // A full disk: what cannot be stored is refused and the printer stays as it was.
    const qint64 size = QFileInfo(session.path(QStringLiteral("Tessora_Client_Config"))).size();
    {
        FileSizeLimit full(size);
        desktop.send(QStringLiteral("Server_NewNickname,A much longer name for the lab printer"));
        desktop.send(QStringLiteral("Send_GParameter,123456789"));
        desktop.send(QStringLiteral("Send_NewSerialAndModel,OBW-7731-LONGER,OBP100V1-LONGER"));
        QVERIFY(waitFor([&] { return desktop.messagesStartingWith("Send_RequestRefused").size() == 3; }));
    }
    QCOMPARE(session.client().nickname(), QStringLiteral("Lab printer"));
    QCOMPARE(session.client().serial(), QStringLiteral("OBW-7731"));
    QCOMPARE(Terminal::g_param, QStringLiteral("g0"));
    QCOMPARE(settingValue(QStringLiteral("printerModel")), QStringLiteral("OBP100V1-OLD"));
}

void TestSession::networkInfo_unsafeRefused_safeWritesClientConfigAndReboots()
{
    Session session;
    QVERIFY(session.connectDesktop());
    FakeDesktop &desktop = session.desktop();
    const QString wpaPath = QStringLiteral("/etc/wpa_supplicant/wpa_supplicant.conf");
    desktop.send(QStringLiteral("Send_NetworkInfoWork\"shop\nSend_NetworkInfosecret-pass-99Send_NetworkInfoJunk"));
    desktop.send(QStringLiteral("Send_NetworkInfoWorkshopSend_NetworkInfoshortSend_NetworkInfoJunk"));
    QVERIFY(waitFor([&] { return refusalsOf(desktop, QStringLiteral("Send_NetworkInfo")).size() == 2; }));
    QTest::qWait(100);
    QVERIFY(session.systemFile(wpaPath).isEmpty());
    QVERIFY(!commandRan(QStringLiteral("sudo reboot")));

    desktop.send(
        QStringLiteral("Send_NetworkInfoWorkshopSend_NetworkInfosecret-pass-99Send_NetworkInfoJunk Type Name"));
    QVERIFY(waitFor([] { return commandRan(QStringLiteral("sudo reboot")); }));
    QVERIFY(session.systemFile(wpaPath).contains(QStringLiteral("ssid=\"Workshop\"\npsk=\"secret-pass-99\"")));
    QVERIFY(session.systemFile(QStringLiteral("/etc/network/interfaces"))
                .contains(QStringLiteral("iface wlan0 inet dhcp")));
    QVERIFY(commandRan(QStringLiteral("sudo update-rc.d hostapd disable")));
    QCOMPARE(settingValue(QStringLiteral("broadcastingDirect")), QStringLiteral("false"));
    QVERIFY(!fileBytes(session.path(QStringLiteral("LogFile_Vatnode"))).contains("secret-pass-99"));
}

void TestSession::manualMovesProjectorAndBoardCommands_reachTheBoard()
{
    Session session;
    QVERIFY(session.ok());
    // The start-up homing: twice, 1.5 s apart.
    QVERIFY(waitFor([&] { return session.board().receivedLines().count(QStringLiteral("R110")) == 2; }));
    QCOMPARE(session.connectAndHandshake().size(), 9);
    session.board().clearReceivedLines();
    // Each request once the board has the lines of the one before (a move's stop included).
    const QList<QPair<const char *, int>> requests
        = {{"Request_PlatformUp", 2}, {"Request_PlatformDown", 4}, {"Request_TiltUp", 6}, {"Request_TiltDown", 8},
            {"Request_QA_GCommand", 10}, {"Request_QA_ProjectGrid", 11}, {"Request_QA_TurnOffProjector", 12}};
    for (const auto &request : requests) {
        session.desktop().send(QLatin1String(request.first));
        QVERIFY(waitFor([&] { return session.board().receivedLines().size() >= request.second; }));
    }
    QCOMPARE(session.board().receivedLines().mid(0, 12).join(QLatin1Char(' ')),
        QStringLiteral("r232 r343 r434 r343 r565 r343 r787 r343 R g0 P1 P0"));

    // A board command reaches the board as it is; only digits after the letter set the parameter.
    const QString kBefore = Terminal::k_param;
    const auto guard = qScopeGuard([&] {
        Terminal::k_param = kBefore;
        Terminal::g_param = QStringLiteral("g0");
    });
    const QStringList expected = {"K250", "K250", "g12"};
    const QStringList commands = {"K250", "K2a", "G12"};
    for (int i = 0; i < commands.size(); ++i) {
        session.desktop().send(QStringLiteral("Send_PiToBoardCommand,") + commands[i]);
        QVERIFY(waitFor([&] { return session.board().receivedLines().contains(commands[i]); }));
        QCOMPARE(commands[i].startsWith('G') ? Terminal::g_param : Terminal::k_param, expected[i]);
    }
}

void TestSession::gParameters_areStoredAndReset()
{
    Session session;
    QVERIFY(session.connectDesktop());
    const auto guard = qScopeGuard([] { Terminal::g_param = QStringLiteral("g0"); });
    FakeDesktop &desktop = session.desktop();
    desktop.send(QStringLiteral("Send_GParameter,-5"));
    QVERIFY(waitFor([] { return Terminal::g_param == QLatin1String("g-5"); }));
    QCOMPARE(settingValue(QStringLiteral("gParameter")), QStringLiteral("g-5"));
    desktop.send(QStringLiteral("Send_GParameter,5\nR110")); // not a number: refused
    desktop.send(QStringLiteral("Send_FactoryGParameter,12"));
    QVERIFY(waitFor([] { return Terminal::g_param == QLatin1String("g12"); }));
    QCOMPARE(settingValue(QStringLiteral("factoryGParameter")), QStringLiteral("g12"));
    desktop.send(QStringLiteral("Send_GParameter,3"));
    desktop.send(QStringLiteral("Send_ResetGParameterToFactory"));
    QVERIFY(waitFor([] { return Terminal::g_param == QLatin1String("g12"); }));
    QCOMPARE(settingValue(QStringLiteral("gParameter")), QStringLiteral("g12"));
}

void TestSession::grayscale_isSentInChunksAndMerged()
{
    Session session;
    QVERIFY(session.connectDesktop());
    FakeDesktop &desktop = session.desktop();
    desktop.send(QStringLiteral("Request_Grayscale"));
    QVERIFY(waitFor([&] { return desktop.messagesStartingWith(QStringLiteral("Send_NewGrayscale")).size() == 3; }));
    const QString last = desktop.messagesStartingWith(QStringLiteral("Send_NewGrayscale"))[2];
    QVERIFY(last.contains(QStringLiteral("\"startRow\":6")) && last.contains(QStringLiteral("\"endRow\":8")));

    desktop.send(QStringLiteral("Send_NewGrayscale,{\"numRows\":8,\"numColumns\":13,\"startRow\":3,\"endRow\":4,")
        + QStringLiteral("\"r3c0\":\"128\",\"r3c1\":100}"));
    QVERIFY(waitFor([&] { return session.client().grayscaleGrid().getValue(3, 0) == 128; }));
    const GrayscaleGrid &grid = session.client().grayscaleGrid();
    QCOMPARE(QList<int>({grid.getValue(3, 1), grid.getValue(3, 2), grid.getValue(2, 2)}), QList<int>({100, 0, 255}));
}

void TestSession::progressRequest_unknownMessage_andRefusalsWhileIdle()
{
    Session session;
    QVERIFY(session.connectDesktop());
    FakeDesktop &desktop = session.desktop();
    desktop.send(QStringLiteral("Request_Frobnicate"));
    desktop.send(QStringLiteral("Send_UpdatedClient")); // updates over the connection are off
    const QStringList refused = {"Request_Reprint", "Request_PausePrint", "Request_ResumePrint"};
    for (const QString &request : refused + QStringList {"Status_SendingPrintJob,0,0,0,50,50,3,Clear,1,1,1"})
        desktop.send(request); // and a job with a cure time of 0, refused before its transfer
    desktop.send(QStringLiteral("Request_PrintProgress"));
    QVERIFY(desktop.waitForMessage(kProgress, 10000, true));
    QCOMPARE(desktop.messagesStartingWith(kProgress).first(),
        QStringLiteral("Send_PrintProgress,0,0,0,NOFILE,CLIENTDEFAULTRESINNAME,0"));
    QVERIFY(desktop.connected());
    // Nothing to print again, pause or resume: each is refused, nothing starts.
    for (const QString &request : refused)
        QVERIFY(waitFor([&] { return refusalsOf(desktop, request).size() == 1; }));
    QCOMPARE(desktop.messages.filter(
                 QRegularExpression("^(Send_PrintStatus|Send_PrintingError,206$|Client_Request|Request_Update)")),
        QStringList({"Send_PrintingError,206"}));
    QCOMPARE(session.client().readState(), int(Client::Ready));
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
