// Both real programs, walked through every command the desktop can send in every state of
// the printer: idle, receiving a job, printing, paused, after a cancel, after a printing
// error. vatnode-boardsim plays the board, vatnode runs under an X server of the test's
// own, and the desktop is the desktop program's own printer link (Server and its device
// sessions) in this process.
//
// After every state the two ends must agree: the status the desktop's record shows is the
// one the printer gives a desktop that connects afresh, and that desktop follows the print
// it finds to its end. Every print must be whole: its layers reach the board once each
// and in order, no print is started again from its first layer, and a job sent while
// other commands were waiting arrives byte for byte. A nickname and a job's name that
// carry the protocol's separator and marker cross both ways unchanged.
#include "faultharness.h"
#include "printerstate.h"
#include "server.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace Faults;

namespace {

using Activity = PrinterState::Activity;

// The heights of the layer moves of each print, one list per print started on the board:
// a print is a reset ("R", then the G line) followed by layer moves; a reset that no layer
// follows (the G command of the printer controls) is none.
QList<QList<int>> printsOnTheBoard(const Board &board)
{
    QList<QList<int>> prints;
    bool reset = false;
    for (const QString &line : board.received()) {
        if (line == QLatin1String("R"))
            reset = true;
        if (!line.startsWith(QLatin1Char('N')))
            continue;
        if (reset || prints.isEmpty())
            prints.append(QList<int>());
        reset = false;
        prints.last().append(line.mid(1).toInt());
    }
    return prints;
}

} // namespace

class TestSessionWalk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyCommandInEveryState_bothEndsAgree_everyPrintWhole_data();
    void everyCommandInEveryState_bothEndsAgree_everyPrintWhole();

private:
    // Every command of the desktop that leaves the printer's print alone when it is
    // carried out, or is refused.
    void sendEveryCommand();
    // Sends a job and waits until the printer prints it.
    // A long exposure leaves time to pause or unplug before the print ends on a busy machine.
    bool startPrint(const QString &job, int layers, int cureTime = 2);
    bool waitForActivity(Activity activity, int timeoutMs = 30000);
    // Drops the connection and lets the printer connect afresh: its handshake says what it
    // is doing, which the record must have said before.
    void reconnectAndCompare();
    // What the desktop's record of the printer says.
    const PrinterState &record() const { return m_record; }

    QTemporaryDir m_dir;
    XServer m_x;
    std::unique_ptr<Rig> m_rig;
    std::unique_ptr<DesktopLink> m_desktop;
    QString m_small;
    QString m_large;
    PrinterState m_record;
    QSet<QString> m_reportedNames; // the job names of every progress report
    int m_printsStarted = 0;
    int m_lastLayers = 0;
    int m_refusalsBefore = 0;
};

void TestSessionWalk::initTestCase()
{
    QString error;
    QVERIFY2(prepare(m_dir, m_x, &error), qPrintable(error));
    // Its name carries the protocol's separator and marker, and an argument placeholder.
    m_small = makeSampleJob(m_dir.path(), QStringLiteral("part, v2 %1 *header*Send_PrintDone.ssj"), 10, &error);
    QVERIFY2(!m_small.isEmpty(), qPrintable(error));
    // About a megabyte a layer: its stream spans many reads of the printer.
    m_large = makeNoiseJob(m_dir.path(), QStringLiteral("noise.ssj"), 6, &error);
    QVERIFY2(!m_large.isEmpty(), qPrintable(error));

    m_rig = std::make_unique<Rig>(m_dir.filePath(QStringLiteral("walk")), m_x.display());
    QVERIFY2(m_rig->start(&error), qPrintable(error));
    m_desktop = std::make_unique<DesktopLink>(m_rig->printer.discoveryPort());
    QObject::connect(
        &m_desktop->server(), &Server::printerStateChanged, [this](const PrinterState &state) { m_record = state; });
    QObject::connect(&m_desktop->server(), &Server::updatePrintProgress,
        [this](const QString &, int, int, int, const QString &name, const QString &, int) { m_reportedNames << name; });
    QVERIFY(m_desktop->waitForPrinter(30000));
    QVERIFY(waitFor([this] { return record().status == QLatin1String("PrintStatus_Ready"); }, 10000));
}

void TestSessionWalk::cleanupTestCase()
{
    m_desktop.reset();
    if (m_rig)
        FAULTS_VERIFY_NONE(m_rig->problems());
}

bool TestSessionWalk::waitForActivity(Activity activity, int timeoutMs)
{
    return waitFor([&] { return record().activity == activity; }, timeoutMs);
}

bool TestSessionWalk::startPrint(const QString &job, int layers, int cureTime)
{
    PrintJob settings = quickJob(layers);
    settings.cureTime = cureTime;
    m_desktop->server().sendPrintJob(m_desktop->serial, job, settings);
    ++m_printsStarted;
    m_lastLayers = layers;
    return waitFor([this] { return printsOnTheBoard(m_rig->board).size() == m_printsStarted; }, 30000);
}

void TestSessionWalk::sendEveryCommand()
{
    Server &server = m_desktop->server();
    const QString serial = m_desktop->serial;
    m_refusalsBefore = m_rig->printer.logCount(QStringLiteral("Refused while printing"));
    server.sendPlatformUp(serial);
    server.sendPlatformDown(serial);
    server.sendTiltUp(serial);
    server.sendTiltDown(serial);
    server.sendNetworkedGCommand(serial);
    server.sendProjectGrid(serial);
    server.sendTurnOffProjector(serial);
    server.sendBoardCommand(serial, QStringLiteral("K250"));
    server.changeNickName(serial, QStringLiteral("Walk, %1 *header*Send_PrintDone"));
    server.sendNewGParameter(serial, 0);
    server.sendNewFactoryGParameter(serial, 0);
    server.resetGParameter(serial);
    server.sendNewResinFineTuneFactor(serial, QStringLiteral("Clear"), 50, 1.05);
    server.sendNewResinScalingFactor(serial, QStringLiteral("Clear"), 50, 1.0, 1.0);
    server.sendNewSerialAndModel(serial, serial, record().model);
    server.setNetworkInfo(serial, QStringLiteral("Workshop, upstairs"), QStringLiteral("secret-pass-99"));
    server.sendResetNetworkSettings(serial);
    server.reprint(serial);
}

void TestSessionWalk::reconnectAndCompare()
{
    const PrinterState before = m_record;
    QVERIFY(m_desktop->reconnect(30000));
    // A print may have ended meanwhile; the record follows at once, and must say the same.
    QVERIFY(waitFor([&] { return record().status == m_desktop->status; }, 5000));
    if (before.activity == Activity::Paused)
        QCOMPARE(m_desktop->status, QStringLiteral("PrintStatus_Paused"));
    QCOMPARE(record().nickname, QStringLiteral("Walk, %1 *header*Send_PrintDone"));
}

void TestSessionWalk::everyCommandInEveryState_bothEndsAgree_everyPrintWhole_data()
{
    QTest::addColumn<QString>("state");
    // In walking order: each state starts where the one before left the printer.
    for (const char *state : {"idle", "receiving", "printing", "paused", "after a cancel", "after an error"})
        QTest::newRow(state) << QString::fromLatin1(state);
}

void TestSessionWalk::everyCommandInEveryState_bothEndsAgree_everyPrintWhole()
{
    QFETCH(QString, state);
    Server &server = m_desktop->server();
    const QString serial = m_desktop->serial;
    bool busy = true;

    if (state == QLatin1String("idle")) {
        busy = false;
    } else if (state == QLatin1String("receiving")) {
        // Everything sent while the job streams waits for the stream's end, then meets a
        // printing printer.
        server.sendPrintJob(serial, m_large, quickJob(6));
        ++m_printsStarted;
        m_lastLayers = 6;
        QVERIFY(record().commandsWait);
    } else if (state == QLatin1String("printing")) {
        QVERIFY(startPrint(m_small, 10));
        QVERIFY(waitForActivity(Activity::Printing));
    } else if (state == QLatin1String("paused")) {
        QVERIFY(startPrint(m_small, 10, 10));
        server.pauseJob(serial);
        QVERIFY(waitForActivity(Activity::Paused));
    } else if (state == QLatin1String("after a cancel")) {
        QVERIFY(startPrint(m_small, 10));
        server.cancelJob(serial);
        QVERIFY(waitFor([this] { return record().outcome == PrinterState::Outcome::Cancelled; }, 60000));
        busy = false;
    } else {
        QVERIFY(startPrint(m_small, 10, 10));
        m_rig->board.control("unplug");
        QVERIFY(waitFor([this] { return record().outcome == PrinterState::Outcome::Failed; }, 60000));
        QCOMPARE(record().lastError, 202);
        m_rig->board.control("plug");
        QVERIFY(m_rig->printer.waitForLog(QStringLiteral("Client::printerUSBConnected"), 2, 30000));
        busy = false;
    }

    const QString reprintRead = QStringLiteral("Process Read Server:  \"Request_Reprint\"");
    const int reprintsRead = m_rig->printer.logCount(reprintRead);
    sendEveryCommand();
    // The reprint is the last command: a printer that was idle prints its last job again.
    if (!busy && m_printsStarted > 0)
        ++m_printsStarted;
    QVERIFY2(
        m_rig->printer.waitForLog(reprintRead, reprintsRead + 1, 60000), qPrintable(m_rig->printer.log().right(3000)));
    const int refused = busy ? 11 : 0;
    QVERIFY2(waitFor(
                 [&] {
                     return m_rig->printer.logCount(QStringLiteral("Refused while printing")) - m_refusalsBefore
                         >= refused;
                 },
                 30000),
        qPrintable(m_rig->printer.log().right(3000)));
    QVERIFY(!record().commandsWait);
    if (state == QLatin1String("receiving"))
        QCOMPARE(fileBytes(m_rig->printer.path(QStringLiteral("MySSJFile.ssj"))), fileBytes(m_large));
    QVERIFY(waitFor([this] { return printsOnTheBoard(m_rig->board).size() == m_printsStarted; }, 30000));
    reconnectAndCompare();
    const bool foundPrinting = m_desktop->status == QLatin1String("PrintStatus_Printing")
        || m_desktop->status == QLatin1String("PrintStatus_Paused");

    // Whatever runs ends whole before the next state; the paused print is resumed first.
    if (record().activity == Activity::Paused) {
        server.resumeJob(serial);
        QVERIFY(waitForActivity(Activity::Printing));
    }
    QVERIFY(waitForActivity(Activity::Ready, 120000));
    // A print the desktop found at the reconnect is followed to its end.
    if (foundPrinting)
        QCOMPARE(record().outcome, PrinterState::Outcome::Finished);
    const QList<QList<int>> prints = printsOnTheBoard(m_rig->board);
    QCOMPARE(prints.size(), m_printsStarted);
    for (const QList<int> &heights : prints) {
        for (int i = 1; i < heights.size(); ++i)
            QVERIFY2(heights.at(i) > heights.at(i - 1), "a print went back down");
    }
    // Every progress report named a job as it was sent.
    QVERIFY2(QSet<QString>(m_reportedNames)
                 .subtract({QFileInfo(m_small).fileName(), QFileInfo(m_large).fileName()})
                 .isEmpty(),
        qPrintable(m_reportedNames.values().join(QLatin1Char('|'))));
    QCOMPARE(m_reportedNames.isEmpty(), m_printsStarted == 0);
    // A print that was neither cancelled nor cut off reached its last layer (a reprint
    // prints the last job again).
    if (record().outcome == PrinterState::Outcome::Finished)
        QCOMPARE(prints.last().size(), m_lastLayers);
}

QTEST_MAIN(TestSessionWalk)
#include "tst_sessionwalk.moc"
