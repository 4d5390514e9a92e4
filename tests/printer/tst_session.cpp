// The printer session through its real sockets: a fake desktop on loopback,
// the simulated board on a pseudo-terminal, system actions in simulation.
#include "fulldisk.h"
#include "printersettings.h"
#include "printingthread.h"
#include "sessionharness.h"
#include "ssj.h"
#include "systemactions.h"
#include "terminal.h"

#include <QSettings>
#include <QtTest>

namespace {

constexpr int kWait = 10000;

bool waitFor(const std::function<bool()> &condition, int ms = kWait)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < ms)
        QTest::qWait(10);
    return condition();
}

QString settingValue(const QString &key)
{
    QSettings settings(QStringLiteral("Tessora_Client_Config"), QSettings::IniFormat);
    return settings.value(key).toString();
}

// Every refusal of `request`: the status and the reason it gives.
QList<QStringList> refusalsOf(const FakeDesktop &desktop, const QString &request)
{
    QList<QStringList> refusals;
    for (const QString &message : desktop.messagesStartingWith(QStringLiteral("Send_RequestRefused,") + request + ','))
        refusals << QStringList {message.section(',', 2, 2), Protocol::decodeField(message.section(',', 3))};
    return refusals;
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SSJ::releaseCPJ(); }

    void firstStart_writesSettingsAndHandshakesWithThem();
    void handshake_emptyResinsAndNetworks_leaveEmptyFields();
    void wrongGreeting_keepsWaiting_otherMessageCloses();
    void rawFramesAfterGreeting_closeTheConnection();
    void announcementWhileConnected_isIgnored();
    void silentDesktop_timesOutAndNextAnnouncementReconnects();
    void greeting_assembledFromPieces_orSilentHostDropped_data();
    void greeting_assembledFromPieces_orSilentHostDropped();
    void freeTexts_travelEncodedAndAreStoredDecoded();
    void heartbeat_isSentWhenQuiet();
    void twoFramesInOnePacket_areBothHandled();
    void absurdFrameLength_closesTheConnection();
    void jobStream_withKeepAliveInFront_printsAndReportsDone();
    void largeStreamThenLargeFrameInOneWrite_bothHandled();
    void brokenTransfer_keepsPreviousJobForReprint();
    void unloadableJob_isReportedAsError206();
    void badStreamSizes_closeTheConnection_data();
    void badStreamSizes_closeTheConnection();
    void resinData_storedAsVersion2_oldFormatCloses();
    void nicknameSerialAndModel_areStored();
    void networkInfo_writesClientConfigAndReboots();
    void networkInfo_unsafeCredentials_areRefused();
    void resetNetwork_forcesAccessPoint();
    void manualMovesAndProjector_reachTheBoard();
    void boardCommand_setsParametersOnlyForDigits();
    void gParameters_areStoredAndReset();
    void grayscale_isSentInChunksAndMerged();
    void progressRequest_andUnknownMessage();
    void updateOverConnection_isRefusedUnlessEnabled();
    void pauseResumeCancel_fromTheDesktop();
    void resumeAfterPauseDuringReset_isConfirmedAtOnce();
    void boardError_isReportedToTheDesktop();
    void requestsDuringPrint_areRefused_printEndsWhole();
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
    QCOMPARE(fields[3], QStringLiteral("OBP100V1"));
    QCOMPARE(fields[4], QStringLiteral("4.51"));
    QCOMPARE(fields[5], QStringLiteral("PrintStatus_Ready"));
    QCOMPARE(fields[6], Resin::toString(Resin::defaultResinList()));
    QCOMPARE(fields[7], QStringLiteral("Workshop*&next&*Office 2"));
    QCOMPARE(fields[8], QStringLiteral("g0"));

    QCOMPARE(settingValue(QStringLiteral("printerSerial")), fields[1]);
    QCOMPARE(settingValue(QStringLiteral("broadcastingDirect")), QStringLiteral("true"));
    QCOMPARE(settingValue(QStringLiteral("gParameter")), QStringLiteral("g0"));
    QVERIFY(settingValue(QStringLiteral("grayscale")).contains(QStringLiteral("\"numRows\":8")));
    // In access point mode already: no mode change, no reboot.
    QVERIFY(!SystemActions::simulatedCommands().contains(QStringLiteral("sudo reboot")));
}

void TestSession::handshake_emptyResinsAndNetworks_leaveEmptyFields()
{
    Session session([](const QString &dir) {
        QSettings settings(dir + QStringLiteral("/Tessora_Client_Config"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("printerSerial"), QStringLiteral("OBW-0042"));
        settings.setValue(QStringLiteral("printerNickName"), QStringLiteral("Bench"));
        settings.setValue(QStringLiteral("broadcastingDirect"), true);
        settings.setValue(QStringLiteral("resinData"), QString());
    });
    QVERIFY(session.ok());
    SystemActions::setSimulatedOutput(QStringLiteral("sudo iwlist wlan0 scan | grep ESSID"), QString());
    const QStringList fields = session.connectAndHandshake();
    QCOMPARE(fields.size(), 9);
    QCOMPARE(fields[1], QStringLiteral("OBW-0042"));
    QCOMPARE(fields[2], QStringLiteral("Bench"));
    QVERIFY(fields[6].isEmpty());
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
    desktop.greet();
    QVERIFY(waitFor([&] { return !desktop.messagesStartingWith(QStringLiteral("Tessora_Client")).isEmpty(); }));

    // A second printer connection that starts with another message is closed.
    Session other;
    QVERIFY(other.ok());
    other.desktop().announce(other.discoveryPort());
    QVERIFY(other.desktop().waitForConnection());
    other.desktop().sendRaw(QByteArrayLiteral("*header*Tessora_Servex"));
    QTest::qWait(100);
    other.desktop().send(QStringLiteral("Request_PrintProgress"));
    QVERIFY(waitFor([&] { return !other.desktop().connected(); }));
    QVERIFY(!other.client().isConnected());
}

void TestSession::rawFramesAfterGreeting_closeTheConnection()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    session.desktop().sendRaw(QByteArrayLiteral("*header*Request_PrintProgress"));
    QVERIFY(waitFor([&] { return !session.desktop().connected(); }));
}

void TestSession::announcementWhileConnected_isIgnored()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    QTcpSocket *first = session.desktop().socket();
    FakeDesktop second;
    QVERIFY(second.listen());
    second.announce(session.discoveryPort());
    QTest::qWait(300);
    QVERIFY(!second.connected());
    QCOMPARE(session.desktop().socket(), first);
    QVERIFY(session.desktop().connected());
}

void TestSession::silentDesktop_timesOutAndNextAnnouncementReconnects()
{
    Session session;
    QVERIFY(session.ok());
    session.desktop().heartbeat = false;
    QCOMPARE(session.connectAndHandshake().size(), 9);
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

void TestSession::greeting_assembledFromPieces_orSilentHostDropped_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    const QByteArray progress = Protocol::frame(QStringLiteral("*header*Request_PrintProgress"));
    QTest::newRow("greeting in two segments, a message behind it")
        << QByteArrayList {"*header*Tess", "ora_Server" + progress};
    QTest::newRow("nothing said") << QByteArrayList {};
    QTest::newRow("half a greeting") << QByteArrayList {"*header*Tess"};
}

void TestSession::greeting_assembledFromPieces_orSilentHostDropped()
{
    QFETCH(QByteArrayList, pieces);
    Session session;
    QVERIFY(session.ok());
    FakeDesktop &desktop = session.desktop();
    desktop.announce(session.discoveryPort());
    QVERIFY(desktop.waitForConnection());
    for (const QByteArray &piece : pieces) {
        desktop.sendRaw(piece);
        QTest::qWait(50); // each piece in a segment of its own
    }
    if (pieces.size() == 2) {
        QVERIFY(waitFor([&] { return !desktop.messagesStartingWith("Send_PrintProgress").isEmpty(); }));
        QCOMPARE(desktop.messagesStartingWith("Tessora_Client").value(0).count(','), 8);
        return;
    }
    // 15 s of printer time without a greeting: the printer hangs up; the next announcement connects.
    QVERIFY(waitFor([&] { return !desktop.connected(); }));
    QVERIFY(desktop.messages.isEmpty());
    QCOMPARE(session.connectAndHandshake().size(), 9);
}

void TestSession::freeTexts_travelEncodedAndAreStoredDecoded()
{
    Session session({}, QStringLiteral("wlan0 inet addr:192.168.1.20 Bcast"), {},
        QStringLiteral("ESSID:\"Cafe, upstairs\"\nESSID:\"*header*Send_PrintDone\"\n"));
    QVERIFY(session.ok());
    FakeDesktop &desktop = session.desktop();
    const QStringList handshake = session.connectAndHandshake();
    QCOMPARE(handshake.size(), 9);
    QCOMPARE(Protocol::decodeField(handshake[7]), QStringLiteral("Cafe, upstairs*&next&**header*Send_PrintDone"));

    // A file name with "," and "%1", a resin name with "%2": seven fields, each as it was.
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,1,Tough%2Grey,1,1,1")));
    desktop.sendStream(QStringLiteral("C:/jobs/bracket, v2 %1.ssj"), session.makeJob(1));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintDone")); }, 30000));
    const QStringList progress = desktop.messagesStartingWith(QStringLiteral("Send_PrintProgress")).last().split(',');
    QCOMPARE(progress.size(), 7);
    QCOMPARE(Protocol::decodeField(progress.mid(4).join(';')), QStringLiteral("bracket, v2 %1.ssj;Tough%2Grey;50"));

    // Encoded identity fields are stored decoded; resin names lose their commas.
    desktop.send(QStringLiteral("Server_NewNickname,Lab%2C north"));
    desktop.send(QStringLiteral("Send_NewSerialAndModel,OBW%2C7,OBP100V1"));
    desktop.send(
        QStringLiteral("Send_ResinData*ResinFormatVersion:2!Red, deep!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1"));
    QVERIFY(waitFor([&] { return session.client().resins().size() == 1; }));
    QCOMPARE(session.client().nickname() + ';' + session.client().serial(), QStringLiteral("Lab, north;OBW,7"));
    QCOMPARE(session.client().resins().first().name, QStringLiteral("Red  deep"));
}

void TestSession::heartbeat_isSentWhenQuiet()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    QVERIFY(waitFor([&] { return session.desktop().messages.contains(QStringLiteral("Connection-Alive")); }));
}

void TestSession::twoFramesInOnePacket_areBothHandled()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    session.desktop().sendRaw(Protocol::frame(QStringLiteral("*header*Server_NewNickname,First"))
        + Protocol::frame(QStringLiteral("*header*Request_PrintProgress")));
    QVERIFY(waitFor(
        [&] { return !session.desktop().messagesStartingWith(QStringLiteral("Send_PrintProgress")).isEmpty(); }));
    QCOMPARE(session.client().nickname(), QStringLiteral("First"));
}

void TestSession::absurdFrameLength_closesTheConnection()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    session.desktop().sendRaw(QByteArray::fromHex("7ffffff0") + QByteArray(64, 'x'));
    QVERIFY(waitFor([&] { return !session.desktop().connected(); }));
}

void TestSession::jobStream_withKeepAliveInFront_printsAndReportsDone()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    QVERIFY(desktop.startJob(QStringLiteral("1,2,1,50,50,3,Clear,1,1,1")));
    desktop.send(QStringLiteral("Connection-Alive"));
    desktop.sendStream(QStringLiteral("C:/Users/me/jobs/bracket.ssj"), session.makeJob(3));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintDone")); }, 30000));
    const QStringList progress = desktop.messagesStartingWith(QStringLiteral("Send_PrintProgress"));
    QVERIFY(progress.size() >= 3);
    QCOMPARE(progress.last().section(QLatin1Char(','), 4), QStringLiteral("bracket.ssj,Clear,50"));
    // The board saw one move per layer.
    int moves = 0;
    for (const QString &line : session.board().receivedLines())
        moves += line.startsWith(QLatin1Char('N')) ? 1 : 0;
    QCOMPARE(moves, 3);
    QCOMPARE(session.client().readState(), int(Client::Ready));
}

// A stream is read through a bounded socket buffer; a frame larger than that bound right
// behind it must still be read whole once the stream ended.
void TestSession::largeStreamThenLargeFrameInOneWrite_bothHandled()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,2,Clear,1,1,1")));
    const QByteArray body(3 * 1024 * 1024, 'x'); // stored whole, then refused as a job
    QString resins;
    for (int i = 0; i < 6000; ++i)
        resins += QStringLiteral("*ResinFormatVersion:2!Resin%1!5!10!15!3!20!20!20!20!1!1!1!1!1!1!1!1!1").arg(i);
    const QByteArray frame = Protocol::frame(QStringLiteral("*header*Send_ResinData") + resins);
    QVERIFY(frame.size() > 512 * 1024);
    desktop.sendRaw(Protocol::jobStreamHeader(QStringLiteral("big.ssj"), body.size()) + body + frame);
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintingError,206")); }));
    QCOMPARE(QFileInfo(session.path(QStringLiteral("MySSJFile.ssj"))).size(), body.size());
    QVERIFY(waitFor([&] { return session.client().resins().size() == 6000; }));
    QVERIFY(session.client().isConnected());
}

void TestSession::brokenTransfer_keepsPreviousJobForReprint()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    const QByteArray first = session.makeJob(2);
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,2,Clear,1,1,1")));
    desktop.sendStream(QStringLiteral("first.ssj"), first);
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintDone")); }, 30000));

    // A second job whose connection breaks half-way.
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,4,Clear,1,1,1")));
    const QByteArray second = session.makeJob(4);
    desktop.sendRaw(
        Protocol::jobStreamHeader(QStringLiteral("second.ssj"), second.size()) + second.left(second.size() / 2));
    QTest::qWait(100);
    desktop.socket()->abort();
    QVERIFY(waitFor([&] { return !session.client().isConnected(); }));
    QFile kept(session.path(QStringLiteral("MySSJFile.ssj")));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), first);

    // Reconnected, a reprint prints the first job again.
    desktop.messages.clear();
    QCOMPARE(session.connectAndHandshake().size(), 9);
    desktop.send(QStringLiteral("Request_Reprint"));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintDone")); }, 30000));
}

void TestSession::unloadableJob_isReportedAsError206()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,2,Clear,1,1,1")));
    desktop.sendStream(QStringLiteral("broken.ssj"), QByteArray("this is not a job file"));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintingError,206")); }));
    QTest::qWait(300);
    QCOMPARE(session.client().printingThread()->status(), int(PrintingThread::Idle));
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
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,2,Clear,1,1,1")));
    desktop.sendRaw(header + QByteArray(64, 'x'));
    QVERIFY(waitFor([&] { return !desktop.connected(); }));
    QVERIFY(!QFile::exists(session.path(QStringLiteral("MySSJFile.ssj"))));
}

void TestSession::resinData_storedAsVersion2_oldFormatCloses()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    const QString v3
        = QStringLiteral("*ResinFormatVersion:3!1001!Slate!1.0!6!10!14!3!45!45!45!20!1!1!1!1!1!1!1!1!1"
                         "*ResinFormatVersion:3!3006!Unknown!1.0!-1!4.4!8!3!25!25!25!20!1!1!1!1!1!1!1!1!1");
    desktop.send(QStringLiteral("Send_ResinData") + v3);
    QVERIFY(waitFor([&] { return session.client().resins().size() == 1; }));
    QCOMPARE(session.client().resins().first().name, QStringLiteral("Gray"));
    QVERIFY(settingValue(QStringLiteral("resinData")).startsWith(QStringLiteral("*ResinFormatVersion:2!Gray!6!10!14")));

    // A text without any profile would leave the printer with none: refused, list kept.
    const QString stored = settingValue(QStringLiteral("resinData"));
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
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
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

void TestSession::networkInfo_writesClientConfigAndReboots()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    session.desktop().send(
        QStringLiteral("Send_NetworkInfoWorkshopSend_NetworkInfosecret-pass-99Send_NetworkInfoJunk Type Name"));
    QVERIFY(waitFor([] { return SystemActions::simulatedCommands().contains(QStringLiteral("sudo reboot")); }));
    const QString wpa = session.systemFile(QStringLiteral("/etc/wpa_supplicant/wpa_supplicant.conf"));
    QVERIFY(wpa.contains(QStringLiteral("ssid=\"Workshop\"\npsk=\"secret-pass-99\"")));
    QVERIFY(session.systemFile(QStringLiteral("/etc/network/interfaces"))
                .contains(QStringLiteral("iface wlan0 inet dhcp")));
    QVERIFY(SystemActions::simulatedCommands().contains(QStringLiteral("sudo update-rc.d hostapd disable")));
    QCOMPARE(settingValue(QStringLiteral("broadcastingDirect")), QStringLiteral("false"));
    QFile log(session.path(QStringLiteral("LogFile_Vatnode")));
    if (log.open(QIODevice::ReadOnly))
        QVERIFY(!log.readAll().contains("secret-pass-99"));
}

void TestSession::networkInfo_unsafeCredentials_areRefused()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    session.desktop().send(
        QStringLiteral("Send_NetworkInfoWork\"shop\nSend_NetworkInfosecret-pass-99Send_NetworkInfoJunk"));
    session.desktop().send(QStringLiteral("Send_NetworkInfoWorkshopSend_NetworkInfoshortSend_NetworkInfoJunk"));
    session.desktop().send(QStringLiteral("Request_PrintProgress"));
    QVERIFY(waitFor(
        [&] { return !session.desktop().messagesStartingWith(QStringLiteral("Send_PrintProgress")).isEmpty(); }));
    QTest::qWait(100);
    QVERIFY(session.systemFile(QStringLiteral("/etc/wpa_supplicant/wpa_supplicant.conf")).isEmpty());
    QVERIFY(!SystemActions::simulatedCommands().contains(QStringLiteral("sudo reboot")));
    QCOMPARE(refusalsOf(session.desktop(), QStringLiteral("Send_NetworkInfo")).size(), 2);
}

void TestSession::resetNetwork_forcesAccessPoint()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    session.desktop().send(QStringLiteral("Request_ResetNetwork"));
    QVERIFY(waitFor([] { return SystemActions::simulatedCommands().contains(QStringLiteral("sudo reboot")); }));
    QVERIFY(SystemActions::simulatedCommands().contains(QStringLiteral("sudo update-rc.d hostapd enable")));
    QVERIFY(
        session.systemFile(QStringLiteral("/etc/network/interfaces")).contains(QStringLiteral("address 192.168.42.1")));
}

void TestSession::manualMovesAndProjector_reachTheBoard()
{
    Session session;
    QVERIFY(session.ok());
    // The start-up homing: twice, 1.5 s apart.
    QVERIFY(waitFor([&] { return session.board().receivedLines().count(QStringLiteral("R110")) == 2; }));
    QCOMPARE(session.connectAndHandshake().size(), 9);
    session.board().clearReceivedLines();
    FakeDesktop &desktop = session.desktop();
    // Each request once the board has the lines of the one before (a move's stop included).
    const QList<QPair<const char *, int>> requests
        = {{"Request_PlatformUp", 2}, {"Request_PlatformDown", 4}, {"Request_TiltUp", 6}, {"Request_TiltDown", 8},
            {"Request_QA_GCommand", 10}, {"Request_QA_ProjectGrid", 11}, {"Request_QA_TurnOffProjector", 12}};
    for (const auto &request : requests) {
        desktop.send(QLatin1String(request.first));
        QVERIFY(waitFor([&] { return session.board().receivedLines().size() >= request.second; }));
    }
    const QStringList expected
        = {"r232", "r343", "r434", "r343", "r565", "r343", "r787", "r343", "R", "g0", "P1", "P0"};
    QCOMPARE(session.board().receivedLines().mid(0, expected.size()).join(QLatin1Char(' ')),
        expected.join(QLatin1Char(' ')));
}

void TestSession::boardCommand_setsParametersOnlyForDigits()
{
    Session session;
    QVERIFY(session.ok());
    QVERIFY(waitFor([&] { return session.board().receivedLines().count(QStringLiteral("R110")) == 2; }));
    QCOMPARE(session.connectAndHandshake().size(), 9);
    session.board().clearReceivedLines();
    const QString kBefore = Terminal::k_param;
    session.desktop().send(QStringLiteral("Send_PiToBoardCommand,K250"));
    QVERIFY(waitFor([&] { return session.board().receivedLines().contains(QStringLiteral("K250")); }));
    QCOMPARE(Terminal::k_param, QStringLiteral("K250"));
    session.desktop().send(QStringLiteral("Send_PiToBoardCommand,K2a"));
    QVERIFY(waitFor([&] { return session.board().receivedLines().contains(QStringLiteral("K2a")); }));
    QCOMPARE(Terminal::k_param, QStringLiteral("K250"));
    session.desktop().send(QStringLiteral("Send_PiToBoardCommand,G12"));
    QVERIFY(waitFor([&] { return session.board().receivedLines().contains(QStringLiteral("G12")); }));
    QCOMPARE(Terminal::g_param, QStringLiteral("g12"));
    Terminal::k_param = kBefore;
    Terminal::g_param = QStringLiteral("g0");
}

void TestSession::gParameters_areStoredAndReset()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
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
    Terminal::g_param = QStringLiteral("g0");
}

void TestSession::grayscale_isSentInChunksAndMerged()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    desktop.send(QStringLiteral("Request_Grayscale"));
    QVERIFY(waitFor([&] { return desktop.messagesStartingWith(QStringLiteral("Send_NewGrayscale")).size() == 3; }));
    const QStringList chunks = desktop.messagesStartingWith(QStringLiteral("Send_NewGrayscale"));
    QVERIFY(chunks[2].contains(QStringLiteral("\"startRow\":6")));
    QVERIFY(chunks[2].contains(QStringLiteral("\"endRow\":8")));

    desktop.send(QStringLiteral("Send_NewGrayscale,{\"numRows\":8,\"numColumns\":13,\"startRow\":3,\"endRow\":4,")
        + QStringLiteral("\"r3c0\":\"128\",\"r3c1\":100}"));
    QVERIFY(waitFor([&] { return session.client().grayscaleGrid().getValue(3, 0) == 128; }));
    QCOMPARE(session.client().grayscaleGrid().getValue(3, 1), 100);
    QCOMPARE(session.client().grayscaleGrid().getValue(3, 2), 0);
    QCOMPARE(session.client().grayscaleGrid().getValue(2, 2), 255);
}

void TestSession::progressRequest_andUnknownMessage()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    desktop.send(QStringLiteral("Request_Frobnicate"));
    const QStringList refused = {"Request_Reprint", "Request_PausePrint", "Request_ResumePrint"};
    for (const QString &request : refused + QStringList {"Status_SendingPrintJob,0,0,0,50,50,3,Clear,1,1,1"})
        desktop.send(request); // and a job with a cure time of 0, refused before its transfer
    desktop.send(QStringLiteral("Request_PrintProgress"));
    QVERIFY(waitFor([&] { return !desktop.messagesStartingWith(QStringLiteral("Send_PrintProgress")).isEmpty(); }));
    QCOMPARE(desktop.messagesStartingWith(QStringLiteral("Send_PrintProgress")).first(),
        QStringLiteral("Send_PrintProgress,0,0,0,NOFILE,CLIENTDEFAULTRESINNAME,0"));
    QVERIFY(desktop.connected());
    // Nothing to print again, pause or resume: each is refused, nothing starts.
    for (const QString &request : refused)
        QVERIFY(waitFor([&] { return refusalsOf(desktop, request).size() == 1; }));
    QCOMPARE(desktop.messages.filter(QRegularExpression("^(Send_PrintStatus|Send_PrintingError,206$|Client_Request)")),
        QStringList({"Send_PrintingError,206"}));
}

void TestSession::updateOverConnection_isRefusedUnlessEnabled()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    session.desktop().send(QStringLiteral("Send_UpdatedClient"));
    session.desktop().send(QStringLiteral("Request_PrintProgress"));
    QVERIFY(waitFor(
        [&] { return !session.desktop().messagesStartingWith(QStringLiteral("Send_PrintProgress")).isEmpty(); }));
    QVERIFY(!session.desktop().messages.contains(QStringLiteral("Request_Update")));
    QCOMPARE(session.client().readState(), int(Client::Ready));
}

void TestSession::pauseResumeCancel_fromTheDesktop()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    QVERIFY(desktop.startJob(QStringLiteral("0,0,4,50,50,8,Clear,1,1,1")));
    desktop.sendStream(QStringLiteral("pause.ssj"), session.makeJob(8));
    QVERIFY(waitFor([&] { return desktop.messagesStartingWith(QStringLiteral("Send_PrintProgress,2,")).size() == 1; }));

    desktop.send(QStringLiteral("Request_PausePrint"));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PauseMovementDone")); }));
    QCOMPARE(session.client().getPrintThreadStatus(), QStringLiteral("PrintStatus_Paused"));
    QVERIFY(session.board().receivedLines().contains(QStringLiteral("R410")));
    const int progressWhilePaused = desktop.messagesStartingWith(QStringLiteral("Send_PrintProgress")).size();
    QTest::qWait(400);
    QCOMPARE(desktop.messagesStartingWith(QStringLiteral("Send_PrintProgress")).size(), progressWhilePaused);

    desktop.send(QStringLiteral("Request_ResumePrint"));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_ResumeMovementDone")); }));
    QVERIFY(waitFor([&] {
        return desktop.messagesStartingWith(QStringLiteral("Send_PrintProgress")).size() > progressWhilePaused;
    }));

    desktop.send(QStringLiteral("Request_CancelPrint"));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintDone")); }));
    QCOMPARE(session.client().getPrintThreadStatus(), QStringLiteral("PrintStatus_Ready"));
    QVERIFY(!desktop.messages.contains(QStringLiteral("Send_PrintProgress,9,100,0,pause.ssj,Clear,50")));
    QVERIFY(waitFor([&] { return desktop.messagesStartingWith("Send_PrintStatus").size() == 4; }));
    QCOMPARE(desktop.messagesStartingWith("Send_PrintStatus").join(';').remove("Send_PrintStatus,PrintStatus_"),
        QStringLiteral("Printing;Paused;Printing;Ready"));
}

void TestSession::resumeAfterPauseDuringReset_isConfirmedAtOnce()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,2,Clear,1,1,1")));
    desktop.sendStream(QStringLiteral("reset.ssj"), session.makeJob(2));
    QVERIFY(waitFor([&] { return session.board().receivedLines().contains(QStringLiteral("&")); }));
    desktop.send(QStringLiteral("Request_PausePrint")); // while the board homes
    // The homing ends in the finish movement, reported as the pause.
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PauseMovementDone")); }));
    QCOMPARE(session.client().printingThread()->status(), int(PrintingThread::PausedAfterReset));
    desktop.send(QStringLiteral("Request_ResumePrint"));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_ResumeMovementDone")); }, 500));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintDone")); }, 30000));
}

void TestSession::boardError_isReportedToTheDesktop()
{
    Session session;
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    QVERIFY(desktop.startJob(QStringLiteral("0,0,1,50,50,6,Clear,1,1,1")));
    desktop.sendStream(QStringLiteral("stall.ssj"), session.makeJob(6));
    QVERIFY(waitFor([&] { return session.board().receivedLines().contains(QStringLiteral("N5")); }));
    session.board().stall();
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintingError,201")); }));
}

void TestSession::requestsDuringPrint_areRefused_printEndsWhole()
{
    Session session({}, QStringLiteral("wlan0 inet addr:192.168.1.20 Bcast"),
        [](ClientOptions &options) { options.allowNetworkUpdate = true; });
    QVERIFY(session.ok());
    QCOMPARE(session.connectAndHandshake().size(), 9);
    FakeDesktop &desktop = session.desktop();
    const QString jobLine = QStringLiteral("Status_SendingPrintJob,0,0,2,50,50,6,Clear,1,1,1");
    const QString wifi = QStringLiteral("Send_NetworkInfoWorkshopSend_NetworkInfosecret-pass-99Send_NetworkInfoJunk");

    // Wi-Fi settings taken while idle reboot a second later: a job is being received by
    // then, so the reboot is refused.
    desktop.sendRaw(Protocol::frame("*header*" + wifi) + Protocol::frame("*header*" + jobLine));
    QVERIFY(waitFor([&] { return refusalsOf(desktop, "Send_NetworkInfo").size() == 1; }));
    QCOMPARE(refusalsOf(desktop, "Send_NetworkInfo").first(),
        QStringList({"PrintStatus_Ready", "A print job is being received"}));
    desktop.sendStream(QStringLiteral("whole.ssj"), session.makeJob(6));
    QVERIFY(waitFor([&] { return session.board().receivedLines().contains(QStringLiteral("N5")); }));

    // Everything that would restart the print, move what it moves or take the printer
    // away is refused.
    const QStringList names = {"Status_SendingPrintJob", "Request_Reprint", "Send_NetworkInfo", "Request_ResetNetwork",
        "Send_UpdatedClient", "Server_QUITCLIENT", "Request_PlatformUp", "Request_TiltDown", "Request_QA_GCommand",
        "Request_QA_TurnOffProjector", "Send_PiToBoardCommand"};
    QStringList requests = names;
    requests[0] = jobLine;
    requests[2] = wifi;
    requests.last() += QStringLiteral(",K250");
    for (const QString &request : requests)
        desktop.send(request);
    QVERIFY(waitFor([&] { return desktop.messagesStartingWith("Send_RequestRefused").size() == 12; }));
    for (const QString &name : names)
        QCOMPARE(refusalsOf(desktop, name).last(), QStringList({"PrintStatus_Printing", "A print is in progress"}));

    // The print goes on to its end, every layer once and in order; printing is reported
    // until its final movement is done.
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintDone")); }, 30000));
    QCOMPARE(session.board().receivedLines().filter(QRegularExpression("^N")),
        QStringList({"N5", "N10", "N15", "N20", "N25", "N30"}));
    QCOMPARE(session.board().receivedLines().filter(QRegularExpression("^(K250|r\\d+)$")).size(), 0);
    QCOMPARE(session.board().receivedLines().count(QStringLiteral("R")), 1);
    QCOMPARE(desktop.messages.filter(QRegularExpression("^(Client_Request_FileTransfer|Request_Update)")).size(), 1);
    QVERIFY(!SystemActions::simulatedCommands().contains(QStringLiteral("sudo reboot")));
    QVERIFY(waitFor([&] { return desktop.messagesStartingWith("Send_PrintStatus").size() == 2; }));
    QCOMPARE(desktop.messages.mid(desktop.messages.indexOf("Send_PrintDone")).filter("Send_PrintStatus"),
        QStringList({"Send_PrintStatus,PrintStatus_Ready"}));

    // The next job is taken; losing the board ends it (ready, no print done), and the
    // one after is taken again.
    desktop.messages.clear();
    QVERIFY(desktop.startJob(jobLine.section(',', 1)));
    desktop.sendStream(QStringLiteral("lost.ssj"), session.makeJob(6));
    QVERIFY(waitFor([&] { return session.board().receivedLines().count(QStringLiteral("N10")) == 2; }));
    session.board().unplug();
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintStatus,PrintStatus_Ready")); }));
    QVERIFY(!desktop.messages.contains(QStringLiteral("Send_PrintDone")));
    QVERIFY(desktop.startJob(jobLine.section(',', 1)));
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
