// The board link: reply rules, the exact command lines on the wire (to the simulated
// board on a pseudo-terminal), connection and reconnection of a named port, the
// discovery decision, and the calls into the error watchdog.

#include "boardsim.h"
#include "printererrorwatchdog.h"
#include "terminal.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const int waitMs = 5000;

// Waits until `board` received at least `count` lines, lets a little more time pass so
// that extra lines would show, and takes them all, each ended with a line feed.
QByteArray take(BoardSimulator &board, int count)
{
    // A short result shows in the caller's comparison.
    (void)QTest::qWaitFor([&] { return board.receivedLines().size() >= count; }, waitMs);
    QTest::qWait(50);
    QByteArray lines;
    for (const QString &line : board.receivedLines())
        lines += line.toLatin1() + '\n';
    board.clearReceivedLines();
    return lines;
}

const QByteArray resetSequence = "R110\n&\nD1000\nE2000\nJ550\nK80\nL80\nW50\nX50\np11\nR\ng0\n";

} // namespace

Q_DECLARE_METATYPE(Terminal::PortListing)

class TerminalTest : public QObject
{
    Q_OBJECT

private:
    QString linkPath() const { return m_dir->filePath(QStringLiteral("board")); }
    // A Terminal whose port is a path where no board is: discovery never runs.
    std::unique_ptr<Terminal> detachedTerminal();
    // A Terminal connected to m_board, with the connection's own "P0" taken.
    std::unique_ptr<Terminal> connectedTerminal();

    // The board at its own pace: a pause is answered after a second, a move after three.
    bool startBoard()
    {
        m_board = std::make_unique<BoardSimulator>();
        return m_board->start(linkPath());
    }
    QByteArray take(int count) { return ::take(*m_board, count); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<BoardSimulator> m_board;

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Reply rules.
    void replies_raiseOnlyTheirSignal_data();
    void replies_raiseOnlyTheirSignal();

    // Discovery decision.
    void lastPortIsBoard_data();
    void lastPortIsBoard();

    // Command lines on the wire.
    void resetPrinter_sendsResetInitParamsMotorsAndStartHeight();
    void commandTable_sendsExactLines();
    void pausePrinter_secondRequestBeforeAnswer_sendsNothing();
    void parameterWithLineBreak_isNotSentToBoard();

    // Connection.
    void namedPort_appearingLater_isOpenedAndAnnounced();
    void linkLost_isAnnouncedAndPortReopenedWhenBoardReturns();

    // Watchdog.
    void moveCommand_unanswered_raises201();
    void projectorOn_unconfirmed_raises204();
    void beginWatchdog_runsOnOwnThread_destructorClearsSharedPointers();
};

std::unique_ptr<Terminal> TerminalTest::detachedTerminal()
{
    auto terminal = std::make_unique<Terminal>();
    terminal->setFixedPortName(m_dir->filePath(QStringLiteral("no-board-here")));
    return terminal;
}

std::unique_ptr<Terminal> TerminalTest::connectedTerminal()
{
    if (!startBoard())
        return nullptr;
    auto terminal = std::make_unique<Terminal>();
    QSignalSpy connected(terminal.get(), &Terminal::printerConnected);
    terminal->setFixedPortName(linkPath());
    if (!QTest::qWaitFor([&] { return connected.count() == 1; }, waitMs))
        return nullptr;
    if (take(1) != "P0\n")
        return nullptr;
    return terminal;
}

void TerminalTest::initTestCase()
{
    // Scan every 10 ms, cycle timeout 600 ms, projector grace and check 150 + 200 ms.
    TimeScale::setFactor(0.01);
}

void TerminalTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TerminalTest::cleanup()
{
    m_board.reset();
    m_dir.reset();
    Terminal::g_param = QStringLiteral("g0");
    Terminal::d_param = QStringLiteral("D1000");
    Terminal::x_param = QStringLiteral("X50");
    Terminal::printOrPauseInProgress = false;
}

// ---- Reply rules -----------------------------------------------------------

void TerminalTest::replies_raiseOnlyTheirSignal_data()
{
    // Chunks in order, split at ";"; "g=<text>" sets the G parameter first, "busy" marks a
    // pause request in progress. Then the counts of: reset done, G movement done, tilt cycle
    // done, finish movement done, lamp off, lamp on, button pressed, button released,
    // pause done, resume done.
    QTest::addColumn<QString>("chunks");
    QTest::addColumn<QString>("counts");
    QTest::newRow("the reset answer is Z with the G number") << "Z0\r\n"
                                                             << "1 0 0 0 0 0 0 0 0 0";
    QTest::newRow("another Z is a G movement") << "Z150\r\n"
                                               << "0 1 0 0 0 0 0 0 0 0";
    QTest::newRow("with g-5, Z0 and Z-50 are movements") << "g=g-5;Z0\r\n;Z-5\r\n;Z-50\r\n"
                                                         << "1 2 0 0 0 0 0 0 0 0";
    QTest::newRow("Z0 after a self reset is none, the next one is") << "WSNSD\r\n;Z0\r\n;Z0\r\n"
                                                                    << "1 0 0 0 0 0 0 0 0 0";
    QTest::newRow("F alone ends the cycle") << "F"
                                            << "0 0 1 0 0 0 0 0 0 0";
    QTest::newRow("a move's answer ends the cycle") << "F150\n"
                                                    << "0 0 1 0 0 0 0 0 0 0";
    QTest::newRow("F CR LF finishes and ends the cycle") << "F\r\n"
                                                         << "0 0 1 1 0 0 0 0 0 0";
    QTest::newRow("lamp off, lamp on") << "P0\r\n;P1\r\n"
                                       << "0 0 0 0 1 1 0 0 0 0";
    QTest::newRow("button pressed and released") << "BP\r\n;BR\r\n"
                                                 << "0 0 0 0 0 0 1 1 0 0";
    QTest::newRow("pause answer") << "busy;Pause1\r\n"
                                  << "0 0 0 0 0 0 0 0 1 0";
    QTest::newRow("resume answer") << "busy;Pause0\r\n"
                                   << "0 0 0 0 0 0 0 0 0 1";
    QTest::newRow("several replies in one chunk") << "P1\r\nBP\r\nPause1\r\nF\r\n"
                                                  << "0 0 1 1 0 1 1 0 1 0";
}

void TerminalTest::replies_raiseOnlyTheirSignal()
{
    QFETCH(QString, chunks);
    QFETCH(QString, counts);
    auto terminal = detachedTerminal();
    Terminal *t = terminal.get();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (const char *signal : {SIGNAL(printerResetDone()), SIGNAL(g_movementDone(QString)),
             SIGNAL(printerTiltCycleDone()), SIGNAL(f_movementDone()), SIGNAL(dataReceived_projectorOff()),
             SIGNAL(dataReceived_projectorOn()), SIGNAL(buttonPressed()), SIGNAL(buttonReleased()),
             SIGNAL(pauseMovementDone()), SIGNAL(resumeMovementDone())})
        spies.push_back(std::make_unique<QSignalSpy>(t, signal));
    for (const QString &chunk : chunks.split(QLatin1Char(';'))) {
        if (chunk.startsWith(QLatin1String("g=")))
            Terminal::g_param = chunk.mid(2);
        else if (chunk == QLatin1String("busy"))
            Terminal::printOrPauseInProgress = true;
        else
            t->processChunk(chunk.toLatin1());
    }
    QStringList seen;
    for (const auto &spy : spies)
        seen << QString::number(spy->count());
    QCOMPARE(seen.join(QLatin1Char(' ')), counts);
    // A pause answer (which is no "P1") clears the request in progress.
    QVERIFY(!Terminal::printOrPauseInProgress);
    QVERIFY(!t->boardResetFlag());
}

// ---- Discovery decision ----------------------------------------------------

void TerminalTest::lastPortIsBoard_data()
{
    using Ports = QList<Terminal::PortListing>;
    QTest::addColumn<Ports>("ports");
    QTest::addColumn<bool>("isBoard");

    const Terminal::PortListing byDescription {
        QStringLiteral("Duvu Ruvaz COM Port"), QStringLiteral("/dev/ttyACM0"), QStringLiteral("1234")};
    const Terminal::PortListing byVendor {
        QStringLiteral("USB Serial"), QStringLiteral("/dev/ttyACM1"), QStringLiteral("9808")};
    const Terminal::PortListing other {QStringLiteral("ttyS0"), QStringLiteral("/dev/ttyS0"), QString()};

    QTest::newRow("no ports") << Ports {} << false;
    QTest::newRow("board listed last, by description") << Ports {other, byDescription} << true;
    QTest::newRow("board listed last, by vendor 9808") << Ports {other, byVendor} << true;
    QTest::newRow("board listed first") << Ports {byDescription, other} << false;
    QTest::newRow("vendor as hexadecimal text")
        << Ports {{QStringLiteral("USB Serial"), QStringLiteral("/dev/ttyACM0"), QStringLiteral("2650")}} << false;
    QTest::newRow("description must match exactly")
        << Ports {{QStringLiteral("Duvu Ruvaz COM Port 2"), QStringLiteral("/dev/ttyACM0"), QString()}} << false;
}

void TerminalTest::lastPortIsBoard()
{
    QFETCH(QList<Terminal::PortListing>, ports);
    QFETCH(bool, isBoard);
    QCOMPARE(Terminal::lastPortIsBoard(ports), isBoard);
}

// ---- Command lines ---------------------------------------------------------

void TerminalTest::resetPrinter_sendsResetInitParamsMotorsAndStartHeight()
{
    auto terminal = connectedTerminal();
    QVERIFY(terminal);
    terminal->resetPrinter();
    QCOMPARE(take(12), resetSequence);

    // Changed parameters are forwarded.
    Terminal::d_param = QStringLiteral("D1200");
    Terminal::x_param = QStringLiteral("X45");
    Terminal::g_param = QStringLiteral("g-5");
    terminal->resetPrinter();
    QByteArray expected = "R110\n&\nD1200\nE2000\nJ550\nK80\nL80\nW50\nX45\np11\nR\ng-5\n";
    QCOMPARE(take(int(expected.count('\n'))), expected);

    // A retrofit board has no motor power line.
    terminal->setRetrofitBoard(true);
    terminal->resetPrinter();
    expected = "R110\n&\nD1200\nE2000\nJ550\nK80\nL80\nW50\nX45\nR\ng-5\n";
    QCOMPARE(take(int(expected.count('\n'))), expected);
    terminal->turnOnMotors();
    terminal->turnOffMotors();
    QCOMPARE(take(1), QByteArray("p10\n"));
}

void TerminalTest::commandTable_sendsExactLines()
{
    auto terminal = connectedTerminal();
    QVERIFY(terminal);
    Terminal *t = terminal.get();

    // The reset's parts: the test above; every manual move's stop: test_session.
    const struct {
        const char *name;
        std::function<void()> call;
        QByteArray lines;
    } table[] = {
        {"goToLayerHeight", [t] { t->goToLayerHeight(150); }, "N150\n"},
        {"goToLayerHeight below the baseline", [t] { t->goToLayerHeight(-20); }, "N-20\n"},
        {"finishPrint", [t] { t->finishPrint(); }, "P0\nf\n"},
        {"setPrinterBaselineToCurrentPosition", [t] { t->setPrinterBaselineToCurrentPosition(); }, "O0\n"},
        {"goToLayerHeight_G", [t] { t->goToLayerHeight_G(75); }, "G75\n"},
        {"turnOnProjector", [t] { t->turnOnProjector(); }, "P1\n"},
        {"turnOffProjector", [t] { t->turnOffProjector(); }, "P0\n"},
        {"turnOnMotors", [t] { t->turnOnMotors(); }, "p11\n"},
        {"turnOffMotors", [t] { t->turnOffMotors(); }, "p10\n"},
        {"movePlatformUp_Start", [t] { t->movePlatformUp_Start(); }, "r232\n"},
        {"movePlatformDown_Start", [t] { t->movePlatformDown_Start(); }, "r434\n"},
        {"tiltTankUp_Start", [t] { t->tiltTankUp_Start(); }, "r565\n"},
        {"tiltTankDown_Start", [t] { t->tiltTankDown_Start(); }, "r787\n"},
        {"movePlatformUp_Stop", [t] { t->movePlatformUp_Stop(); }, "r343\n"},
        {"cutoffPowerIn30Seconds", [t] { t->cutoffPowerIn30Seconds(); }, "r322\n"},
        {"runBuzzer", [t] { t->runBuzzer(3, 250); }, "BUZZF3\nBUZZR250\n"},
        {"blinkLED connect", [t] { t->blinkLED(100, 1); }, "BLT100\nBLC1\n"},
        {"blinkLED refresh", [t] { t->blinkLED(20, 100); }, "BLT20\nBLC100\n"},
        {"fadeLED", [t] { t->fadeLED(1000); }, "BLT255\nBLU0\nBLF1000\n"},
        {"writeOnSerial", [t] { t->writeOnSerial(QStringLiteral("XYZ")); }, "XYZ\n"},
    };

    for (const auto &row : table) {
        row.call();
        const QByteArray sent = take(int(row.lines.count('\n')));
        QVERIFY2(sent == row.lines,
            qPrintable(QStringLiteral("%1 sent \"%2\"")
                           .arg(QLatin1String(row.name), QString::fromLatin1(sent.toPercentEncoding()))));
    }
}

void TerminalTest::pausePrinter_secondRequestBeforeAnswer_sendsNothing()
{
    auto terminal = connectedTerminal();
    QVERIFY(terminal);
    QSignalSpy paused(terminal.get(), &Terminal::pauseMovementDone);
    QSignalSpy resumed(terminal.get(), &Terminal::resumeMovementDone);

    terminal->pausePrinter();
    terminal->pausePrinter();
    terminal->resumePrinter();
    QCOMPARE(take(1), QByteArray("R410\n"));
    QVERIFY(Terminal::printOrPauseInProgress);

    // The board's answer clears the request.
    QTRY_COMPARE_WITH_TIMEOUT(paused.count(), 1, waitMs);
    QVERIFY(!Terminal::printOrPauseInProgress);

    terminal->resumePrinter();
    QCOMPARE(take(1), QByteArray("R410\n"));
    QTRY_COMPARE_WITH_TIMEOUT(resumed.count(), 1, waitMs);
    QVERIFY(!Terminal::printOrPauseInProgress);
}

void TerminalTest::parameterWithLineBreak_isNotSentToBoard()
{
    auto terminal = connectedTerminal();
    QVERIFY(terminal);

    // A start height holding a line break would smuggle a second command line.
    Terminal::g_param = QStringLiteral("g0\nR110");
    terminal->sendGCommand_forQA();
    QCOMPARE(take(1), QByteArray("R\n"));

    terminal->writeOnSerial(QStringLiteral("P1\rP0"));
    terminal->turnOffMotors();
    QCOMPARE(take(1), QByteArray("p10\n"));
}

// ---- Connection ------------------------------------------------------------

void TerminalTest::namedPort_appearingLater_isOpenedAndAnnounced()
{
    auto terminal = std::make_unique<Terminal>();
    QSignalSpy connected(terminal.get(), &Terminal::printerConnected);
    terminal->setFixedPortName(linkPath());

    QTest::qWait(100); // ten scans without a board
    QCOMPARE(connected.count(), 0);
    QVERIFY(!Terminal::serial->isOpen());
    // Nothing can go out, so no answer can come: a pause must not stay "in progress".
    terminal->pausePrinter();
    QVERIFY(!Terminal::printOrPauseInProgress);

    QVERIFY(startBoard());
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, waitMs);
    QVERIFY(Terminal::serial->isOpen());
    QCOMPARE(Terminal::serial->baudRate(), 9600);
    QCOMPARE(Terminal::serial->dataBits(), QSerialPort::Data8);
    QCOMPARE(Terminal::serial->parity(), QSerialPort::NoParity);
    QCOMPARE(Terminal::serial->stopBits(), QSerialPort::OneStop);
    QCOMPARE(Terminal::serial->flowControl(), QSerialPort::NoFlowControl);
    // The lamp is switched off whenever the link is established.
    QCOMPARE(take(1), QByteArray("P0\n"));

    // Connected: the scan stops, no further announcement; a pause goes out.
    QTest::qWait(100);
    QCOMPARE(connected.count(), 1);
    terminal->pausePrinter();
    QCOMPARE(take(1), QByteArray("R410\n"));
}

void TerminalTest::linkLost_isAnnouncedAndPortReopenedWhenBoardReturns()
{
    auto terminal = connectedTerminal();
    QVERIFY(terminal);
    QSignalSpy connected(terminal.get(), &Terminal::printerConnected);
    QSignalSpy closed(terminal.get(), &Terminal::usbConnectionClosed);
    QSignalSpy on(terminal.get(), &Terminal::dataReceived_projectorOn);

    terminal->pausePrinter(); // sent, never answered: the link goes first
    QCOMPARE(take(1), QByteArray("R410\n"));
    QVERIFY(Terminal::printOrPauseInProgress);

    // At full time the next scan is a second away: the dead port must be
    // closed long before, not left signalling (and spinning the event loop).
    TimeScale::setFactor(1.0);
    m_board->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, waitMs);
    QCOMPARE(connected.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!Terminal::serial->isOpen(), 300);
    TimeScale::setFactor(0.01);

    // While the board is away, commands are dropped and nothing is announced again.
    terminal->turnOffMotors();
    QTest::qWait(100);
    QCOMPARE(closed.count(), 1);
    QCOMPARE(connected.count(), 0);

    QVERIFY(m_board->plug());
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, waitMs);
    QCOMPARE(take(1), QByteArray("P0\n"));

    // Commands reach the new port, each reply is handled once.
    terminal->turnOnProjector();
    QCOMPARE(take(1), QByteArray("P1\n"));
    QTRY_COMPARE_WITH_TIMEOUT(on.count(), 1, waitMs);
    QTest::qWait(50);
    QCOMPARE(on.count(), 1);

    // The pause lost with the old link does not block pausing on the new one.
    terminal->pausePrinter();
    QCOMPARE(take(1), QByteArray("R410\n"));
}

// ---- Watchdog --------------------------------------------------------------

void TerminalTest::moveCommand_unanswered_raises201()
{
    QList<int> codes;
    QObject sink;
    auto terminal = connectedTerminal();
    QVERIFY(terminal);
    PrinterErrorWatchdog *dog = terminal->beginWatchdog();
    connect(dog, &PrinterErrorWatchdog::printerErrorOccured, &sink, [&codes](int code) { codes.append(code); });

    m_board->stall(); // the move is never answered
    QElapsedTimer clock;
    clock.start();
    terminal->goToLayerHeight(150);
    QCOMPARE(take(1), QByteArray("N150\n"));

    QTRY_VERIFY_WITH_TIMEOUT(!codes.isEmpty(), waitMs);
    QCOMPARE(codes, QList<int> {PrinterErrors::TiltCycleTimedOut});
    QVERIFY2(clock.elapsed() >= 540, qPrintable(QString::number(clock.elapsed()))); // 60 s scaled, less timer slack
}

void TerminalTest::projectorOn_unconfirmed_raises204()
{
    QList<int> codes;
    QObject sink;
    auto terminal = connectedTerminal();
    QVERIFY(terminal);
    PrinterErrorWatchdog *dog = terminal->beginWatchdog();
    connect(dog, &PrinterErrorWatchdog::printerErrorOccured, &sink, [&codes](int code) { codes.append(code); });

    m_board->lampSilent();
    terminal->turnOnProjector();
    QCOMPARE(take(1), QByteArray("P1\n"));
    QTRY_COMPARE_WITH_TIMEOUT(codes, QList<int> {PrinterErrors::LampNotConfirmed}, waitMs);

    // Switching off (as the print's finish does) ends the watch: no error after it.
    terminal->turnOnProjector();
    QTest::qWait(250); // past the 150 ms grace, inside the first check
    terminal->turnOffProjector();
    QCOMPARE(take(2), QByteArray("P1\nP0\n"));
    QTest::qWait(400);
    QCOMPARE(codes, QList<int> {PrinterErrors::LampNotConfirmed});
}

void TerminalTest::beginWatchdog_runsOnOwnThread_destructorClearsSharedPointers()
{
    {
        auto terminal = connectedTerminal();
        QVERIFY(terminal);
        PrinterErrorWatchdog *dog = terminal->beginWatchdog();
        QCOMPARE(Terminal::watchDog, dog);
        QVERIFY(dog->thread() != QThread::currentThread());
        QVERIFY(dog->thread()->isRunning());
        QVERIFY(Terminal::serial);
    }
    QCOMPARE(Terminal::serial, nullptr);
    QCOMPARE(Terminal::watchDog, nullptr);

    // A new Terminal finds the same board again.
    auto again = connectedTerminal();
    QVERIFY(again);
    QVERIFY(Terminal::serial);
}

QTEST_GUILESS_MAIN(TerminalTest)
#include "tst_terminal.moc"
