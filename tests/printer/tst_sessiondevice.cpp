// The printer's front button, its self-update over the connection, the rollback to the
// previous program and the retrofit board's end-of-print tilt: a whole session against
// the simulated board on a pseudo-terminal (the button reaches the session as the
// board's "BP" / "BR"), a fake desktop on loopback, system actions in simulation.
#include "printingthread.h"
#include "sessionharness.h"
#include "ssj.h"
#include "systemactions.h"
#include "terminal.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QSettings>
#include <QtTest>

namespace {

const QString kShutdown = QStringLiteral("sudo shutdown -h now");
const QString kReboot = QStringLiteral("sudo reboot");
const QString kEnableAccessPoint = QStringLiteral("sudo update-rc.d hostapd enable");
const QString kUpdateScript = QStringLiteral("/home/pi/updateClientScript");
const QString kRollbackScript = QStringLiteral("/home/pi/rollbackClientScript");
const QString kRollbackResins = QStringLiteral("*Red!5!10!15!3!20!20!20!20!1!1!1");

// Every log line of the session, from whichever thread wrote it.
QMutex logMutex;
QStringList logLines;
QtMessageHandler previousHandler = nullptr;

void captureLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker lock(&logMutex);
    logLines << message.simplified();
}

QStringList loggedStartingWith(const QString &prefix)
{
    QMutexLocker lock(&logMutex);
    QStringList found;
    for (const QString &line : qAsConst(logLines))
        if (line.startsWith(prefix))
            found << line;
    return found;
}

int decisions()
{
    return loggedStartingWith(QStringLiteral("Button multi press timeout.")).size();
}

QStringList requestsTo(const FakeDesktop &desktop)
{
    return desktop.messagesStartingWith(QStringLiteral("Request_"));
}

// The board link is up once the session has sent its start-up commands.
bool waitForBoardLink(Session &session)
{
    return waitFor([&] {
        const QStringList lines = session.board().receivedLines();
        return lines.contains(QStringLiteral("P0"))
            && (lines.count(QStringLiteral("R110")) == 2 || lines.contains(QStringLiteral("f")));
    });
}

// Presses the front button `times` times in quick succession. Each "BP" and "BR" is
// written once the session has read the one before, so that each reaches it on its own
// and in order (the board link reads a press before a release within one read), and at
// once, since at this time scale 10 ms after a release the series is over. The last
// press is held `holdLastMs` before its release.
bool pressButton(Session &session, int times, int holdLastMs = 0)
{
    BoardSimulator &board = session.board();
    Terminal *terminal = session.client().terminal();
    int pressed = 0;
    int released = 0;
    const QMetaObject::Connection onPress = QObject::connect(terminal, &Terminal::buttonPressed, [&] {
        ++pressed;
        if (pressed < times || holdLastMs == 0)
            board.release();
        else
            QTimer::singleShot(holdLastMs, &board, &BoardSimulator::release);
    });
    const QMetaObject::Connection onRelease = QObject::connect(terminal, &Terminal::buttonReleased, [&] {
        ++released;
        if (released < times)
            board.press();
    });
    board.press();
    const bool done = waitFor([&] { return released >= times; }, 5000 + holdLastMs);
    QObject::disconnect(onPress);
    QObject::disconnect(onRelease);
    return done && pressed == times;
}

// The press counts of the session's decisions, in order.
QList<int> decidedCounts()
{
    static const QRegularExpression count(QStringLiteral("^Button multi press timeout\\. Count: (\\d+) "));
    QList<int> counts;
    for (const QString &line : loggedStartingWith(QStringLiteral("Button multi press timeout.")))
        counts << count.match(line).captured(1).toInt();
    return counts;
}

// Presses `times` times and waits for the session's decision on the series; empty when
// it was decided as one series, otherwise why not.
QString pressAndDecide(Session &session, int times)
{
    const int before = decisions();
    if (!pressButton(session, times))
        return QStringLiteral("not every press and release of the board reached the session");
    const auto decided = [before] {
        int sum = 0;
        for (int count : decidedCounts().mid(before))
            sum += count;
        return sum;
    };
    if (!waitFor([&] { return decided() >= times; }))
        return QStringLiteral("no decision on %1 presses").arg(times);
    if (decisions() != before + 1)
        return QStringLiteral("%1 presses were decided as %2 series: more than 10 ms passed between a release "
                              "and the next press, the machine is too busy for this time scale")
            .arg(times)
            .arg(decisions() - before);
    return QString();
}

#define PRESS_AND_DECIDE(session, times)                                                                               \
    do {                                                                                                               \
        const QString why = pressAndDecide(session, times);                                                            \
        QVERIFY2(why.isEmpty(), qPrintable(why));                                                                      \
    } while (false)

// Sends a job of `layers` layers, each exposed `cureSeconds` (before the time scale).
bool startPrint(Session &session, int layers, int cureSeconds)
{
    FakeDesktop &desktop = session.desktop();
    if (!desktop.startJob(QStringLiteral("0,0,%1,50,50,%2,Clear,1,1,1").arg(cureSeconds).arg(layers)))
        return false;
    desktop.sendStream(QStringLiteral("part.ssj"), session.makeJob(layers));
    return waitFor([&] { return session.client().printingThread()->status() == PrintingThread::Printing; });
}

// Empty when the script was written below the sandbox with exactly `text` (or, when
// `scriptThere`, left as it was), made executable, and then started once; otherwise what
// went wrong.
QString scriptWrittenAndStarted(Session &session, const QString &scriptPath, const QString &text)
{
    const QString script = SystemActions::path(scriptPath);
    if (!script.startsWith(session.path(QStringLiteral("system-root"))))
        return QStringLiteral("script outside the sandbox: ") + script;
    const QString written = QString::fromUtf8(fileBytes(script));
    if (written != text)
        return QStringLiteral("script text differs: ") + written;
    const QStringList commands = SystemActions::simulatedCommands();
    const int chmod = int(commands.indexOf(QStringLiteral("sudo chmod 777 ") + scriptPath));
    if (chmod < 0 || chmod >= commands.indexOf(scriptPath))
        return QStringLiteral("script made executable wrongly: ") + commands.join(QLatin1Char('|'));
    if (commands.count(scriptPath) != 1)
        return QStringLiteral("script started %1 times").arg(commands.count(scriptPath));
    return QString();
}

} // namespace

class TestSessionDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void singlePresses_pauseIgnoreDuringPauseMovementResume_thenOtherCountsWhilePrinting();
    void pressesWhileIdle_ignoredOrCancelOrError_data();
    void pressesWhileIdle_ignoredOrCancelOrError();
    void fivePressesWhileIdle_forceAccessPointAndReboot();
    void sevenOrMorePresses_storeOldResinListAndStartRollback();
    void longPress_cutsPowerAndShutsDown_laterPressesIgnored();
    void updateOverConnection_writesProgramAndStartsScriptWhenComplete();
    void retrofitBoard_printEndTiltsTankUpAndReportsDoneOnce();
};

void TestSessionDevice::init()
{
    {
        QMutexLocker lock(&logMutex);
        logLines.clear();
    }
    previousHandler = qInstallMessageHandler(captureLog);
}

void TestSessionDevice::cleanup()
{
    qInstallMessageHandler(previousHandler);
    SSJ::releaseCPJ();
    Client::boardIsOldVersion = false;
}

void TestSessionDevice::singlePresses_pauseIgnoreDuringPauseMovementResume_thenOtherCountsWhilePrinting()
{
    Session session;
    QVERIFY(session.connectDesktop());
    QVERIFY(waitForBoardLink(session));
    FakeDesktop &desktop = session.desktop();
    BoardSimulator &board = session.board();
    PrintingThread *printing = session.client().printingThread();

    // A layer is exposed 400 ms: a press right after a move's answer falls in an
    // exposure, and the pause movement comes only at the end of the next move.
    int moveAnswers = 0;
    QObject::connect(&board, &BoardSimulator::answerSent, &board, [&](const QByteArray &answer) {
        if (answer.startsWith('F') && !answer.startsWith("F\r\n"))
            ++moveAnswers;
    });
    QVERIFY(startPrint(session, 10, 20));
    QVERIFY(waitFor([&] { return moveAnswers >= 1; }));
    board.clearReceivedLines();
    desktop.messages.clear();

    PRESS_AND_DECIDE(session, 1);
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Request_PausePrint")); }));
    QVERIFY(waitFor([&] { return printing->status() == PrintingThread::Paused; }));

    // A single press while the pause movement has not ended yet.
    PRESS_AND_DECIDE(session, 1);
    QVERIFY2(!desktop.messages.contains(QStringLiteral("Send_PauseMovementDone")),
        "the pause movement ended before the second press; the scenario did not happen");

    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PauseMovementDone")); }));
    QCOMPARE(board.receivedLines().count(QStringLiteral("R410")), 1);
    QVERIFY(desktop.messages.indexOf(QStringLiteral("Request_PausePrint"))
        < desktop.messages.indexOf(QStringLiteral("Send_PauseMovementDone")));
    QCOMPARE(requestsTo(desktop), QStringList {QStringLiteral("Request_PausePrint")});
    const int movesWhenPaused = movesOf(board.receivedLines());
    QTest::qWait(300);
    QCOMPARE(movesOf(board.receivedLines()), movesWhenPaused);
    QCOMPARE(printing->status(), int(PrintingThread::Paused));

    // Paused: one press resumes.
    PRESS_AND_DECIDE(session, 1);
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Request_ResumePrint")); }));
    QVERIFY(waitFor([&] { return board.receivedLines().count(QStringLiteral("R410")) == 2; }));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_ResumeMovementDone")); }));
    QVERIFY(waitFor([&] { return movesOf(board.receivedLines()) > movesWhenPaused; }));
    QCOMPARE(printing->status(), int(PrintingThread::Printing));

    // While printing, 5 presses (a network reset, which reboots) and 7 (a rollback, which
    // restarts the program) are refused.
    const QStringList commandsBefore = SystemActions::simulatedCommands();
    PRESS_AND_DECIDE(session, 5);
    QVERIFY(
        waitFor([&] { return !desktop.messagesStartingWith("Send_RequestRefused,Request_ResetNetwork,").isEmpty(); }));
    PRESS_AND_DECIDE(session, 7);
    QVERIFY(waitFor([&] { return !desktop.messagesStartingWith("Send_RequestRefused,Rollback,").isEmpty(); }));
    QTest::qWait(50);
    QCOMPARE(SystemActions::simulatedCommands(), commandsBefore);
    QCOMPARE(requestsTo(desktop).size(), 2);
    QCOMPARE(board.receivedLines().count(QStringLiteral("R410")), 2);
    QCOMPARE(printing->status(), int(PrintingThread::Printing));

    // Three presses cancel: the desktop is told, and the print ends early.
    PRESS_AND_DECIDE(session, 3);
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Request_CancelPrint")); }));
    QVERIFY(desktop.waitForMessage(QStringLiteral("Send_PrintDone")));
    QCOMPARE(printing->status(), int(PrintingThread::Finished));
    QVERIFY(movesOf(board.receivedLines()) < 9);
    QVERIFY(!SystemActions::simulatedCommands().contains(kShutdown));
}

void TestSessionDevice::pressesWhileIdle_ignoredOrCancelOrError_data()
{
    QTest::addColumn<int>("presses");
    QTest::addColumn<QStringList>("requests");
    QTest::newRow("one: ignored") << 1 << QStringList();
    QTest::newRow("two") << 2 << QStringList();
    QTest::newRow("three: cancel all the same") << 3 << QStringList {QStringLiteral("Request_CancelPrint")};
    QTest::newRow("seven without a previous program") << 7 << QStringList();
}

void TestSessionDevice::pressesWhileIdle_ignoredOrCancelOrError()
{
    QFETCH(int, presses);
    QFETCH(QStringList, requests);
    Session session;
    QVERIFY(session.connectDesktop());
    QVERIFY(waitForBoardLink(session));
    QTest::qWait(50);
    session.board().clearReceivedLines();
    const QStringList commandsBefore = SystemActions::simulatedCommands();
    const QString resinsBefore = settingValue(QStringLiteral("resinData"));

    PRESS_AND_DECIDE(session, presses);
    if (!requests.isEmpty())
        QVERIFY(waitFor([&] { return requestsTo(session.desktop()) == requests; }));

    QTest::qWait(100);
    QCOMPARE(requestsTo(session.desktop()), requests);
    QCOMPARE(SystemActions::simulatedCommands(), commandsBefore);
    QCOMPARE(session.board().receivedLines(), QStringList());
    QCOMPARE(session.client().printingThread()->status(), int(PrintingThread::Idle));
    QCOMPARE(settingValue(QStringLiteral("resinData")), resinsBefore);
    QVERIFY(!SystemActions::exists(kRollbackScript));
}

void TestSessionDevice::fivePressesWhileIdle_forceAccessPointAndReboot()
{
    Session session;
    QVERIFY(session.connectDesktop());
    QVERIFY(waitForBoardLink(session));
    QVERIFY(!SystemActions::simulatedCommands().contains(kEnableAccessPoint));

    PRESS_AND_DECIDE(session, 5);
    QVERIFY(waitFor([] { return SystemActions::simulatedCommands().contains(kReboot); }));
    QVERIFY(SystemActions::simulatedCommands().contains(kEnableAccessPoint));
    QVERIFY(
        session.systemFile(QStringLiteral("/etc/network/interfaces")).contains(QStringLiteral("address 192.168.42.1")));
    QCOMPARE(settingValue(QStringLiteral("broadcastingDirect")), QStringLiteral("true"));
    QVERIFY(requestsTo(session.desktop()).isEmpty());
}

// Eight presses, with the rollback script of an earlier version already there, which
// restarted the program in simulation: it is replaced (seven without a previous program:
// the presses while idle).
void TestSessionDevice::sevenOrMorePresses_storeOldResinListAndStartRollback()
{
    Session session([](const QString &dir) {
        writeFileBytes(dir + QStringLiteral("/Vatnode_previous"), "old program");
        writeFileBytes(dir + QStringLiteral("/system-root") + kRollbackScript,
            "sudo rm Vatnode\nsudo mv Vatnode_previous Vatnode\nsudo chmod 777 Vatnode\n./Vatnode");
    });
    QVERIFY(session.connectDesktop());
    QVERIFY(waitForBoardLink(session));
    QVERIFY(settingValue(QStringLiteral("resinData")) != kRollbackResins);

    PRESS_AND_DECIDE(session, 8);
    QVERIFY(waitFor([] { return SystemActions::simulatedCommands().contains(kRollbackScript); }));
    QCOMPARE(settingValue(QStringLiteral("resinData")), kRollbackResins);
    const QString why = scriptWrittenAndStarted(session, kRollbackScript,
        QStringLiteral("sudo rm Vatnode\nsudo mv Vatnode_previous Vatnode\nsudo chmod 777 Vatnode\n"
                       "if systemctl cat vatnode.service >/dev/null 2>&1; then sudo systemctl --no-block restart "
                       "vatnode; else ./Vatnode --live-system; fi"));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    // The program files themselves are the script's business.
    QCOMPARE(fileBytes(session.path(QStringLiteral("Vatnode_previous"))), QByteArray("old program"));
}

void TestSessionDevice::longPress_cutsPowerAndShutsDown_laterPressesIgnored()
{
    Session session;
    QVERIFY(session.connectDesktop());
    QVERIFY(waitForBoardLink(session));
    QTest::qWait(50);
    BoardSimulator &board = session.board();
    board.clearReceivedLines();

    // The shutdown comes a second (scaled) after the board was told to cut the power.
    bool shutdownBeforePowerCut = false;
    QObject::connect(&board, &BoardSimulator::lineReceived, &board, [&](const QString &line) {
        if (line == QLatin1String("r322"))
            shutdownBeforePowerCut = SystemActions::simulatedCommands().contains(kShutdown);
    });
    QElapsedTimer held;
    held.start();
    board.press();
    QVERIFY(waitFor([] { return SystemActions::simulatedCommands().contains(kShutdown); }));
    const qint64 untilShutdown = held.elapsed();
    QVERIFY2(untilShutdown >= 70, qPrintable(QString::number(untilShutdown))); // 3000 + 1000 ms, scaled
    QVERIFY(!shutdownBeforePowerCut);
    board.release();
    QVERIFY(waitFor([&] { return loggedStartingWith(QStringLiteral("Client::buttonReleaseReceived.")).size() == 1; }));

    const QStringList lines = board.receivedLines();
    const int powerCut = lines.indexOf(QStringLiteral("r322"));
    QVERIFY(powerCut >= 0);
    QVERIFY(lines.indexOf(QStringLiteral("p10"), powerCut) > powerCut);
    QVERIFY(lines.indexOf(QStringLiteral("P0"), powerCut) > powerCut);

    // Shutting down: nothing the button does counts any more.
    QVERIFY(pressButton(session, 3));
    QVERIFY(pressButton(session, 1, 150));
    QTest::qWait(100);
    QCOMPARE(decisions(), 0);
    QVERIFY(requestsTo(session.desktop()).isEmpty());
    QCOMPARE(board.receivedLines().count(QStringLiteral("r322")), 1);
    QCOMPARE(SystemActions::simulatedCommands().count(kShutdown), 1);
}

void TestSessionDevice::updateOverConnection_writesProgramAndStartsScriptWhenComplete()
{
    Session session({}, [](ClientOptions &options) { options.allowNetworkUpdate = true; });
    QVERIFY(session.connectDesktop());
    FakeDesktop &desktop = session.desktop();
    desktop.send(QStringLiteral("Send_UpdatedClient"));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Request_Update")); }));

    // The update stream is taken whole, heartbeats included: the desktop stays quiet.
    desktop.heartbeat = false;
    QByteArray program(300 * 1024, '\0');
    for (int i = 0; i < program.size(); ++i)
        program[i] = char((i * 131 + i / 977) & 0xff);
    const QByteArray stream = Protocol::jobStreamHeader(QStringLiteral("Vatnode"), program.size()) + program;
    desktop.sendRaw(stream.left(stream.size() / 2));
    QTest::qWait(100);
    QVERIFY(!SystemActions::simulatedCommands().contains(kUpdateScript));
    desktop.sendRaw(stream.mid(stream.size() / 2));

    QVERIFY(waitFor([] { return SystemActions::simulatedCommands().contains(kUpdateScript); }));
    QVERIFY(fileBytes(session.path(QStringLiteral("Vatnode_update"))) == program);
    const QString why = scriptWrittenAndStarted(session, kUpdateScript,
        QStringLiteral("sudo rm Vatnode\nsudo mv Vatnode_update Vatnode\nsudo chmod 777 Vatnode\n"
                       "if systemctl cat vatnode.service >/dev/null 2>&1; then sudo systemctl --no-block restart "
                       "vatnode; else ./Vatnode --live-system; fi"));
    QVERIFY2(why.isEmpty(), qPrintable(why));
    QVERIFY(!SystemActions::simulatedCommands().contains(kReboot));
}

// The model in the settings file (a model sent by the desktop: test_session).
void TestSessionDevice::retrofitBoard_printEndTiltsTankUpAndReportsDoneOnce()
{
    Session session([](const QString &dir) {
        QSettings settings(dir + QStringLiteral("/Tessora_Client_Config"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("printerSerial"), QStringLiteral("OBW-1"));
        settings.setValue(QStringLiteral("printerModel"), QStringLiteral("OBP100V1-OLD"));
        settings.setValue(QStringLiteral("broadcastingDirect"), false);
    });
    QVERIFY(session.ok());
    BoardSimulator &board = session.board();
    FakeDesktop &desktop = session.desktop();

    QElapsedTimer clock;
    clock.start();
    QList<qint64> tiltUpAt;
    QList<qint64> tiltStopAt;
    bool armDuplicate = false;
    bool duplicateReported = false;
    QObject::connect(&board, &BoardSimulator::lineReceived, &board, [&](const QString &line) {
        if (line == QLatin1String("r565")) {
            tiltUpAt << clock.elapsed();
            // The board reports the end of a movement a second time during the tilt.
            if (armDuplicate && !duplicateReported) {
                duplicateReported = true;
                session.client().terminal()->processChunk(QByteArrayLiteral("F\r\n"));
            }
        } else if (line == QLatin1String("r343")) {
            tiltStopAt << clock.elapsed();
        }
    });

    // Start-up on a retrofit board: no motor power command; the board finishes (and so
    // tilts) instead of homing.
    QVERIFY(waitFor([&] { return tiltStopAt.size() == 1; }));
    QVERIFY(!board.receivedLines().contains(QStringLiteral("p11")));
    QVERIFY(!board.receivedLines().contains(QStringLiteral("R110")));
    QCOMPARE(session.connectAndHandshake().value(3), QStringLiteral("OBP100V1-OLD"));
    QTest::qWait(100);
    board.clearReceivedLines();
    desktop.messages.clear();
    tiltUpAt.clear();
    tiltStopAt.clear();
    armDuplicate = true;

    QVERIFY(startPrint(session, 2, 1));
    QVERIFY(waitFor([&] { return desktop.messages.contains(QStringLiteral("Send_PrintDone")); }, 20000));
    QVERIFY(waitFor([&] { return tiltStopAt.size() == 1; }));
    QTest::qWait(300);

    QCOMPARE(desktop.messages.count(QStringLiteral("Send_PrintDone")), 1);
    QVERIFY(duplicateReported);
    QCOMPARE(tiltUpAt.size(), 1);
    QCOMPARE(tiltStopAt.size(), 1);
    const qint64 tilt = tiltStopAt.first() - tiltUpAt.first();
    QVERIFY2(tilt >= 10 && tilt < 1000, qPrintable(QString::number(tilt))); // 1400 ms, scaled
    const QStringList lines = board.receivedLines();
    QCOMPARE(movesOf(lines), 2);
    QVERIFY(lines.lastIndexOf(QStringLiteral("f")) < lines.indexOf(QStringLiteral("r565")));
    QVERIFY(lines.indexOf(QStringLiteral("r565")) < lines.indexOf(QStringLiteral("r343")));
    QVERIFY(!lines.contains(QStringLiteral("p11")));
    QCOMPARE(session.client().printingThread()->status(), int(PrintingThread::Finished));
}

QTEST_MAIN(TestSessionDevice)
#include "tst_sessiondevice.moc"
