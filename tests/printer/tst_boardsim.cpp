// The simulated board, driven from the client side as the printer drives the
// real one: a QSerialPort on the link, command lines out, answers in.

#include "boardsim.h"
#include "testpaths.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

// Wall-clock checks only ever assert lower bounds tightly ("not before");
// upper bounds are generous so a loaded machine does not fail them.
constexpr int Generous = 5000;

// A client of the board: a real QSerialPort set up as the printer sets it up,
// recording every byte and when it arrived.
class Client : public QObject
{
public:
    explicit Client(const QString &path)
    {
        m_clock.start();
        m_port.setPortName(path);
        m_port.setBaudRate(QSerialPort::Baud9600);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
        connect(&m_port, &QSerialPort::readyRead, this, [this] {
            received += m_port.readAll();
            m_arrivals.push_back({m_clock.elapsed(), received.size()});
        });
    }

    bool open() { return m_port.open(QIODevice::ReadWrite); }
    QSerialPort &port() { return m_port; }
    qint64 now() const { return m_clock.elapsed(); }

    // Writes a command line one character per write, as the printer does, and
    // returns when it was sent.
    qint64 send(const QByteArray &line)
    {
        const qint64 sentAt = now();
        for (const char c : line + '\n') {
            m_port.write(&c, 1);
            m_port.flush();
        }
        return sentAt;
    }

    // When the bytes completing the first occurrence of text arrived; -1 if never.
    qint64 arrivalOf(const QByteArray &text) const
    {
        const int at = received.indexOf(text);
        if (at < 0)
            return -1;
        for (const auto &arrival : m_arrivals) {
            if (arrival.second >= at + text.size())
                return arrival.first;
        }
        return -1;
    }

    int countOf(const QByteArray &text) const { return received.count(text); }
    void clear()
    {
        received.clear();
        m_arrivals.clear();
    }

    QByteArray received;

private:
    QSerialPort m_port;
    QElapsedTimer m_clock;
    std::vector<std::pair<qint64, int>> m_arrivals;
};

// Checks that an answer came after the board's duration scaled by the speed:
// never before it, and clearly sooner than the unscaled duration. Returns what
// is wrong, or nothing.
QString delayProblem(qint64 took, const BoardSimulator &board, int boardMs)
{
    const int expected = board.scaled(boardMs);
    if (took < expected - 5)
        return QStringLiteral("answered after %1 ms, before the %2 ms it takes").arg(took).arg(expected);
    if (took >= boardMs / 2)
        return QStringLiteral("answered after %1 ms, not scaled to %2 ms").arg(took).arg(expected);
    return QString();
}

QString linkTarget(const QString &path)
{
    return QFileInfo(path).symLinkTarget();
}

bool linkExists(const QString &path)
{
    return QFileInfo(path).isSymLink() || QFileInfo::exists(path);
}

} // namespace

class BoardSimTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commands_answeredAfterTheirScaledDuration_data();
    void commands_answeredAfterTheirScaledDuration();

    void lampOn_confirmsAtOnceAndRepeats_untilLampOffCommand();

    void answersForAClosedClient_neverReachTheNextClient();

    void start_replacesSymlink_refusesFile_destructionRemovesLink();

    void executable_refusesBadUsage_cleansItsLinkOnTermination();

private:
    BoardSimulator *startBoard(double speed, const QString &log = QString());
    Client *openClient();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_link;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::unique_ptr<BoardSimulator> m_board;
};

void BoardSimTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_link = m_dir->filePath(QStringLiteral("board"));
}

void BoardSimTest::cleanup()
{
    m_clients.clear();
    m_board.reset();
    m_dir.reset();
}

BoardSimulator *BoardSimTest::startBoard(double speed, const QString &log)
{
    m_board = std::make_unique<BoardSimulator>();
    if (!m_board->start(m_link, speed, log)) {
        qWarning("cannot start the board: %s", qPrintable(m_board->errorString()));
        return nullptr;
    }
    return m_board.get();
}

Client *BoardSimTest::openClient()
{
    m_clients.push_back(std::make_unique<Client>(m_link));
    Client *client = m_clients.back().get();
    if (!client->open()) {
        qWarning("cannot open %s: %s", qPrintable(m_link), qPrintable(client->port().errorString()));
        return nullptr;
    }
    return client;
}

void BoardSimTest::commands_answeredAfterTheirScaledDuration_data()
{
    // Command lines, each with the answer it must get ("" for none), one at a time; each
    // answer comes after the row's duration scaled, and nothing else comes.
    QTest::addColumn<QStringList>("exchanges");
    QTest::addColumn<int>("duration");
    // The printer's whole reset: only the G line right after "R" is answered, after homing.
    QTest::newRow("reset") << QStringList({"g0>", "R>", "p11>", "g0>", "R110>", "&>", "D1000>", "E2000>", "J550>",
        "K80>", "L80>", "W50>", "X50>", "p11>", "R>", "g-5>Z-5\r\n"})
                           << int(BoardSimulator::HomingMs);
    // A move is answered with F and the height and LF; the finish with F and CR LF.
    QTest::newRow("move and finish") << QStringList({"N150>F150\n", "f>F\r\n"}) << int(BoardSimulator::MoveMs);
    QTest::newRow("pause toggles") << QStringList({"R410>Pause1\r\n", "R410>Pause0\r\n", "R410>Pause1\r\n"})
                                   << int(BoardSimulator::PauseToggleMs);
}

void BoardSimTest::commands_answeredAfterTheirScaledDuration()
{
    QFETCH(QStringList, exchanges);
    QFETCH(int, duration);
    BoardSimulator *board = startBoard(0.1);
    QVERIFY(board);
    Client *client = openClient();
    QVERIFY(client);
    QByteArray answers;
    for (const QString &exchange : exchanges) {
        const QByteArray answer = exchange.section('>', 1).toLatin1();
        const int before = client->received.size();
        const qint64 sentAt = client->send(exchange.section('>', 0, 0).toLatin1());
        answers += answer;
        if (answer.isEmpty())
            continue;
        QTRY_VERIFY_WITH_TIMEOUT(client->received.mid(before).contains(answer), Generous);
        const QString problem = delayProblem(client->arrivalOf(answers) - sentAt, *board, duration);
        QVERIFY2(problem.isEmpty(), qPrintable(exchange + ": " + problem));
    }
    QTest::qWait(board->scaled(duration) * 2);
    QCOMPARE(client->received, answers);
    QCOMPARE(board->receivedLines().size(), exchanges.size());
    QCOMPARE(board->isPaused(), exchanges.first().startsWith(QLatin1String("R410")));
}

void BoardSimTest::lampOn_confirmsAtOnceAndRepeats_untilLampOffCommand()
{
    BoardSimulator *board = startBoard(0.05); // confirmations every 500 ms
    QVERIFY(board);
    const int interval = board->scaled(BoardSimulator::LampRepeatMs);
    Client *client = openClient();
    QVERIFY(client);

    const qint64 sentAt = client->send("P1");
    QTRY_COMPARE_WITH_TIMEOUT(client->countOf("P1\r\n"), 1, Generous);
    QVERIFY(client->arrivalOf("P1\r\n") - sentAt < interval / 2);

    QTRY_COMPARE_WITH_TIMEOUT(client->countOf("P1\r\n"), 3, Generous);
    QCOMPARE(client->received, QByteArray("P1\r\nP1\r\nP1\r\n"));
    // Two repetitions cannot come sooner than two intervals after the first.
    QVERIFY(client->arrivalOf("P1\r\nP1\r\nP1\r\n") - client->arrivalOf("P1\r\n") >= 2 * interval - 10);

    client->clear();
    client->send("P0");
    QTRY_COMPARE_WITH_TIMEOUT(client->received, QByteArray("P0\r\n"), Generous);
    QTest::qWait(interval * 2 + interval / 2);
    QCOMPARE(client->received, QByteArray("P0\r\n"));
    QVERIFY(!board->isLampOn());
}

void BoardSimTest::answersForAClosedClient_neverReachTheNextClient()
{
    BoardSimulator *board = startBoard(0.02);
    QVERIFY(board);
    if (board->clientCount() < 0)
        QSKIP("opens of the pseudo-terminal cannot be watched here");

    // A client that writes and never reads, like a printer program killed mid-move: it
    // goes before the answer to its move.
    const int fd = ::open(QFile::encodeName(m_link).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "P0\nN150\n", 8), ssize_t(8));
    QTRY_VERIFY_WITH_TIMEOUT(board->receivedLines().contains("N150"), Generous);
    ::close(fd);
    QTRY_COMPARE_WITH_TIMEOUT(board->clientCount(), 0, Generous);
    QTest::qWait(board->scaled(BoardSimulator::MoveMs) * 2);

    Client *next = openClient();
    QVERIFY(next);
    next->send("P0");
    QTRY_COMPARE_WITH_TIMEOUT(next->received, QByteArray("P0\r\n"), Generous);
    QTest::qWait(board->scaled(BoardSimulator::MoveMs));
    QCOMPARE(next->received, QByteArray("P0\r\n"));
}

void BoardSimTest::start_replacesSymlink_refusesFile_destructionRemovesLink()
{
    // A symbolic link left by an earlier run is replaced; the board removes it when it goes.
    QVERIFY(QFile::link(m_dir->filePath("nowhere"), m_link));
    {
        BoardSimulator board;
        QVERIFY2(board.start(m_link, 1.0), qPrintable(board.errorString()));
        QCOMPARE(linkTarget(m_link), board.devicePath());
    }
    QVERIFY(!linkExists(m_link));

    // A regular file is never replaced.
    QFile file(m_link);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("precious");
    file.close();
    {
        BoardSimulator board;
        QVERIFY(!board.start(m_link, 1.0));
        QVERIFY(board.errorString().contains(m_link));
        QVERIFY(!board.isPlugged());
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("precious"));
}

// Start-up, control lines and the log of the program are what the fault tests and
// test_printfile drive the board with; here: what it refuses, and that it cleans up (a
// file where the link should be: the start above).
void BoardSimTest::executable_refusesBadUsage_cleansItsLinkOnTermination()
{
    const QString program = TestPaths::executable("vatnode-boardsim");
    const QList<QStringList> badUsages = {{}, {"--link", m_link, "--speed", "0"}, {"--link", m_link, "extra"}};
    for (const QStringList &arguments : badUsages) {
        QProcess sim;
        sim.start(program, arguments);
        QVERIFY(sim.waitForFinished(Generous));
        QVERIFY2(sim.exitStatus() == QProcess::NormalExit && sim.exitCode() == 2, qPrintable(arguments.join(' ')));
        QVERIFY(sim.readAllStandardError().contains("--link"));
        QVERIFY(!linkExists(m_link));
    }

    // Without standard input the board keeps answering; terminated, it removes its link.
    QProcess sim;
    sim.start(program, {"--link", m_link, "--speed", "0.01"});
    QVERIFY2(sim.waitForStarted(Generous), qPrintable(sim.errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), Generous);
    sim.closeWriteChannel();
    Client *client = openClient();
    QVERIFY(client);
    client->send("N7");
    QTRY_COMPARE_WITH_TIMEOUT(client->received, QByteArray("F7\n"), Generous);
    sim.terminate();
    QVERIFY(sim.waitForFinished(Generous));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!linkExists(m_link));
}

QTEST_GUILESS_MAIN(BoardSimTest)
#include "tst_boardsim.moc"
