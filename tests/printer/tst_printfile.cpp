// A whole print through the real programs: vatnode-boardsim on a
// pseudo-terminal, and vatnode --print-file on a small job under Xvfb, with
// every projected frame saved.
#include "crushedprintjob.h"
#include "protocol.h"
#include "testpaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <functional>

namespace {

constexpr double kScale = 0.05; // printer and board time: 1 s takes 50 ms

// Layer n of the test job: a white square whose column tells the layer, and a
// grey-free shape so that scaling shows.
QImage layerImage(int layer)
{
    QImage image(1280, 800, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.fillRect(QRect(100 + 60 * layer, 100, 40, 40), Qt::white);
    painter.fillRect(QRect(600, 500, 600, 250), Qt::white); // reaches past the right edge when scaled up
    return image;
}

struct PrintRun {
    int exitCode = -1;
    QString stderrText;
    QStringList boardLines;
    QStringList frames;
};

class Bench
{
public:
    explicit Bench(const QString &jobFields, int layers)
        : m_fields(jobFields)
    {
        CrushedPrintJob job;
        job.setVersion(1);
        job.setLayerThickness(0.1);
        job.clearAll(0);
        for (int layer = 0; layer < layers; ++layer) {
            QImage image = layerImage(layer);
            job.addImage(&image);
        }
        m_job = m_dir.filePath(QStringLiteral("job.ssj"));
        m_ok = job.saveCPJ(m_job);
    }

    bool ok() const { return m_ok; }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString jobPath() const { return m_job; }

    static constexpr const char *kReportStatus
        = "\"$@\"; status=$?; echo \"vatnode exit status: $status\" >&2; exit $status";

    // Starts the board and the printer; `duringPrint` is called every 20 ms
    // with the board's log so far and may play the hardware.
    PrintRun run(
        const QString &quickBackend, const std::function<void(const QStringList &, QProcess &)> &duringPrint = {})
    {
        PrintRun result;
        QProcess board;
        board.setProcessChannelMode(QProcess::SeparateChannels);
        board.start(TestPaths::executable(QStringLiteral("vatnode-boardsim")),
            {QStringLiteral("--link"), path(QStringLiteral("board")), QStringLiteral("--speed"),
                QString::number(kScale), QStringLiteral("--log"), path(QStringLiteral("board.log"))});
        if (!board.waitForStarted() || !board.waitForReadyRead(10000))
            return result;

        QProcess printer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), quickBackend);
        // Mesa's drivers and the X libraries leave allocations behind at exit
        // that are not ours to chase; every other sanitizer check stays on.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        printer.setProcessEnvironment(env);
        // vatnode's own exit status is passed out on standard error as well: xvfb-run
        // replaces it by its own when cleaning up after the X server fails.
        printer.start(QStringLiteral("xvfb-run"),
            {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1280x800x24"), QStringLiteral("sh"),
                QStringLiteral("-c"), QString::fromLatin1(kReportStatus), QStringLiteral("sh"),
                TestPaths::executable(QStringLiteral("vatnode")), QStringLiteral("--workdir"),
                path(QStringLiteral("work")), QStringLiteral("--serial-port"), path(QStringLiteral("board")),
                QStringLiteral("--time-scale"), QString::number(kScale), QStringLiteral("--frames-dir"),
                path(QStringLiteral("frames")), QStringLiteral("--print-file"), m_job, QStringLiteral("--job"),
                m_fields});
        QElapsedTimer clock;
        clock.start();
        while (!printer.waitForFinished(20) && clock.elapsed() < 180000) {
            if (duringPrint)
                duringPrint(boardLines(), board);
            if (board.bytesToWrite() > 0)
                board.waitForBytesWritten(1000);
        }
        if (printer.state() != QProcess::NotRunning) {
            printer.kill();
            printer.waitForFinished();
        } else {
            result.exitCode = printer.exitCode();
        }
        result.stderrText = QString::fromLocal8Bit(printer.readAllStandardError());
        const QRegularExpressionMatch status
            = QRegularExpression(QStringLiteral("vatnode exit status: (\\d+)")).match(result.stderrText);
        if (status.hasMatch())
            result.exitCode = status.captured(1).toInt();
        board.terminate();
        board.waitForFinished(5000);
        result.boardLines = boardLines();
        result.frames
            = QDir(path(QStringLiteral("frames"))).entryList({QStringLiteral("frame_*.png")}, QDir::Files, QDir::Name);
        return result;
    }

    // The command lines the board received, without their time stamps.
    QStringList boardLines() const
    {
        QFile file(path(QStringLiteral("board.log")));
        QStringList lines;
        if (!file.open(QIODevice::ReadOnly))
            return lines;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const int space = line.indexOf(' ');
            if (space > 0)
                lines << QString::fromLatin1(line.mid(space + 1)).trimmed();
        }
        return lines;
    }

private:
    QTemporaryDir m_dir;
    QString m_job;
    QString m_fields;
    bool m_ok = false;
};

// What a frame shows: -1 for all black, the layer number when it equals that
// layer at the job's scale, -2 for anything else.
int classifyFrame(const QImage &frame, int layers, QSize scaled)
{
    const QImage rgb = frame.convertToFormat(QImage::Format_RGB32);
    bool black = true;
    for (int y = 0; y < rgb.height() && black; ++y)
        for (int x = 0; x < rgb.width() && black; ++x)
            black = (rgb.pixel(x, y) & 0xFFFFFF) == 0;
    if (black)
        return -1;
    for (int layer = 0; layer < layers; ++layer) {
        QImage expected(rgb.size(), QImage::Format_RGB32);
        expected.fill(Qt::black);
        QPainter painter(&expected);
        painter.drawImage(0, 0, layerImage(layer).scaled(scaled, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        painter.end();
        if (expected == rgb)
            return layer;
    }
    return -2;
}

int countOf(const QStringList &lines, const QString &line)
{
    return int(std::count(lines.begin(), lines.end(), line));
}

} // namespace

class TestPrintFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void print_runsResetLayersAndFinish_data();
    void print_runsResetLayersAndFinish();
    void boardStopsAnsweringMoves_failsWithError201();
    void boardUnplugged_failsWithError202();
    void lampSilent_failsWithError204();
    void lampReportsOff_failsWithError205();
    void damagedJob_isNotPrinted();
    void simulatedWifiNames_travelEncodedInTheHandshake();
};

void TestPrintFile::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty())
        QSKIP("xvfb-run is not installed");
    QVERIFY(QFileInfo::exists(TestPaths::executable(QStringLiteral("vatnode"))));
    QVERIFY(QFileInfo::exists(TestPaths::executable(QStringLiteral("vatnode-boardsim"))));
}

void TestPrintFile::print_runsResetLayersAndFinish_data()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("software scene") << QStringLiteral("software");
    QTest::newRow("OpenGL scene") << QString();
}

void TestPrintFile::print_runsResetLayersAndFinish()
{
    QFETCH(QString, backend);
    // Two adhesion layers of 50 microns, four of 100, scaled by 1.01 x 0.99.
    Bench bench(QStringLiteral("2,1,0.5,100,50,6,Clear,1.01,0.99,1"), 6);
    QVERIFY(bench.ok());
    const PrintRun run = bench.run(backend);
    QVERIFY2(run.exitCode == 0, qPrintable(run.stderrText.right(3000)));
    QVERIFY(run.stderrText.contains(QStringLiteral("vatnode: print done")));

    // The board: the projector dark on connection, the reset sequence, the
    // lamp before the first move, one move per layer at the right height, then
    // the lamp off and the finish.
    const QStringList lines = run.boardLines;
    // The board connects: projector off, motors on, a homing, the LED fading
    // (the printer runs its own access point), the link's own projector off,
    // a second homing.
    QCOMPARE(lines.mid(0, 8).join(QLatin1Char(' ')), QStringLiteral("P0 p11 R110 BLT255 BLU0 BLF1000 P0 R110"));
    const QStringList reset = {"R110", "&", "D1000", "E2000", "J550", "K80", "L80", "W50", "X50", "p11", "R", "g0"};
    const int resetAt = int(lines.indexOf(QStringLiteral("&"))) - 1;
    QVERIFY2(resetAt >= 0, qPrintable(lines.join(QLatin1Char(' '))));
    QCOMPARE(lines.mid(resetAt, reset.size()), reset);
    QStringList moves;
    for (const QString &line : lines)
        if (line.startsWith(QLatin1Char('N')))
            moves << line;
    QCOMPARE(moves, QStringList({"N5", "N10", "N20", "N30", "N40", "N50"}));
    QVERIFY(lines.indexOf(QStringLiteral("P1")) > resetAt);
    QVERIFY(lines.indexOf(QStringLiteral("P1")) < lines.indexOf(QStringLiteral("N5")));
    QCOMPARE(lines.mid(lines.size() - 2), QStringList({"P0", "f"}));
    QCOMPARE(countOf(lines, QStringLiteral("f")), 1);

    // The frames: black, then each layer at 1292 x 792 followed by black.
    QStringList shown;
    for (const QString &name : run.frames) {
        const QImage frame(bench.path(QStringLiteral("frames/") + name));
        QCOMPARE(frame.size(), QSize(1280, 800));
        const int kind = classifyFrame(frame, 6, QSize(1292, 792));
        shown << (kind == -1 ? QStringLiteral("black") : kind == -2 ? QStringLiteral("?") : QString::number(kind));
    }
    qDebug().noquote() << "frames shown:" << shown.join(QLatin1Char(' '));
    QCOMPARE(shown,
        QStringList({"black", "0", "black", "1", "black", "2", "black", "3", "black", "4", "black", "5", "black"}));
}

void TestPrintFile::boardStopsAnsweringMoves_failsWithError201()
{
    Bench bench(QStringLiteral("0,0,2,100,100,10,Clear,1,1,1"), 10);
    bool stalled = false;
    const PrintRun run = bench.run(QStringLiteral("software"), [&stalled](const QStringList &lines, QProcess &board) {
        if (!stalled && lines.contains(QStringLiteral("N10"))) {
            board.write("stall\n");
            stalled = true;
        }
    });
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(
        run.stderrText.contains(QStringLiteral("error: printing error 201")), qPrintable(run.stderrText.right(2000)));
}

void TestPrintFile::boardUnplugged_failsWithError202()
{
    Bench bench(QStringLiteral("0,0,2,100,100,10,Clear,1,1,1"), 10);
    bool unplugged = false;
    const PrintRun run = bench.run(QStringLiteral("software"), [&unplugged](const QStringList &lines, QProcess &board) {
        if (!unplugged && lines.contains(QStringLiteral("N20"))) {
            board.write("unplug\n");
            unplugged = true;
        }
    });
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(
        run.stderrText.contains(QStringLiteral("error: printing error 202")), qPrintable(run.stderrText.right(2000)));
}

void TestPrintFile::lampSilent_failsWithError204()
{
    // Long enough to outlast the lamp's grace and two checks (55 s).
    Bench bench(QStringLiteral("0,0,5,100,100,12,Clear,1,1,1"), 12);
    bool silenced = false;
    const PrintRun run = bench.run(QStringLiteral("software"), [&silenced](const QStringList &lines, QProcess &board) {
        // Once the lamp is on, it stops confirming.
        if (!silenced && lines.contains(QStringLiteral("P1"))) {
            board.write("lamp-silent\n");
            silenced = true;
        }
    });
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(
        run.stderrText.contains(QStringLiteral("error: printing error 204")), qPrintable(run.stderrText.right(2000)));
}

void TestPrintFile::lampReportsOff_failsWithError205()
{
    Bench bench(QStringLiteral("0,0,5,100,100,12,Clear,1,1,1"), 12);
    bool reported = false;
    const PrintRun run = bench.run(QStringLiteral("software"), [&reported](const QStringList &lines, QProcess &board) {
        // Past the lamp's 15 s grace: five layers of 5 s plus moves.
        if (!reported && lines.contains(QStringLiteral("N50"))) {
            board.write("lamp-off\n");
            reported = true;
        }
    });
    QVERIFY2(run.exitCode == 1, qPrintable(run.stderrText.right(3000)));
    QVERIFY2(
        run.stderrText.contains(QStringLiteral("error: printing error 205")), qPrintable(run.stderrText.right(2000)));
}

void TestPrintFile::damagedJob_isNotPrinted()
{
    Bench bench(QStringLiteral("0,0,1,100,100,3,Clear,1,1,1"), 3);
    QFile job(bench.jobPath());
    QVERIFY(job.open(QIODevice::ReadWrite));
    QVERIFY(job.resize(job.size() / 2));
    job.close();

    QProcess printer;
    printer.start(TestPaths::executable(QStringLiteral("vatnode")),
        {QStringLiteral("--workdir"), bench.path(QStringLiteral("work")), QStringLiteral("--serial-port"),
            bench.path(QStringLiteral("board")), QStringLiteral("--print-file"), bench.jobPath(),
            QStringLiteral("--job"), QStringLiteral("0,0,1,100,100,3,Clear,1,1,1")});
    QVERIFY(printer.waitForFinished(60000));
    QCOMPARE(printer.exitCode(), 1);
    QVERIFY(QString::fromLocal8Bit(printer.readAllStandardError()).contains(QStringLiteral("error: cannot print")));

    QProcess usage;
    usage.start(TestPaths::executable(QStringLiteral("vatnode")),
        {QStringLiteral("--print-file"), bench.jobPath(), QStringLiteral("--job"), QStringLiteral("1,2,3")});
    QVERIFY(usage.waitForFinished(60000));
    QCOMPARE(usage.exitCode(), 2);

    // Fields that make no sense (more layers than an int holds) are refused as a failure.
    usage.start(TestPaths::executable(QStringLiteral("vatnode")),
        {QStringLiteral("--print-file"), bench.jobPath(), QStringLiteral("--job"),
            "0,0,1,100,100,3000000000,Clear,1,1,1"});
    QVERIFY(usage.waitForFinished(60000));
    QCOMPARE(usage.exitCode(), 1);
    QVERIFY(usage.readAllStandardError().contains("error: cannot print this job"));
}

// The real program with simulated Wi-Fi names holding "," and "*header*", against a desktop played here.
void TestPrintFile::simulatedWifiNames_travelEncodedInTheHandshake()
{
    Bench bench(QString(), 0);
    QFile scan(bench.path(QStringLiteral("iwlist.txt")));
    QVERIFY(scan.open(QIODevice::WriteOnly));
    scan.write("ESSID:\"Cafe, upstairs\"\nESSID:\"*header*Send_PrintDone\"\n");
    scan.close();
    QTcpServer desktop;
    QUdpSocket discovery;
    QVERIFY(desktop.listen(QHostAddress::LocalHost, 0) && discovery.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const quint16 discoveryPort = discovery.localPort();
    discovery.close(); // free for the printer

    qputenv("QT_QPA_PLATFORM", "offscreen"); // no screen needed, the printer inherits both
    qputenv("QT_QUICK_BACKEND", "software");
    QProcess printer;
    printer.start(TestPaths::executable(QStringLiteral("vatnode")),
        {QStringLiteral("--workdir"), bench.path(QStringLiteral("work")), QStringLiteral("--serial-port"),
            bench.path(QStringLiteral("no-board")), QStringLiteral("--time-scale"), QString::number(kScale),
            QStringLiteral("--discovery-port"), QString::number(discoveryPort), QStringLiteral("--simulate-output"),
            "sudo iwlist wlan0 scan | grep ESSID=" + scan.fileName()});
    const auto stop = qScopeGuard([&printer] {
        printer.kill();
        printer.waitForFinished();
    });
    QElapsedTimer clock;
    clock.start();
    while (!desktop.hasPendingConnections() && clock.elapsed() < 60000) {
        discovery.writeDatagram(Protocol::datagram(QStringLiteral("127.0.0.1"), desktop.serverPort()),
            QHostAddress::LocalHost, discoveryPort);
        QTest::qWait(100); // until the printer listens and connects
    }
    QVERIFY(desktop.hasPendingConnections());
    QTcpSocket *connection = desktop.nextPendingConnection();
    connection->write(QByteArrayLiteral("*header*Tessora_Server"));
    QString text;
    for (clock.restart(); text.isEmpty() && clock.elapsed() < 20000; QTest::qWait(20))
        Protocol::readFrame(connection, &text);
    const QStringList messages = Protocol::extractMessages(text);
    QCOMPARE(messages.size(), 1); // nothing injected
    QCOMPARE(messages.first().count(','), 8);
    QCOMPARE(Protocol::decodeField(messages.first().section(',', 7, 7)),
        QStringLiteral("Cafe, upstairs*&next&**header*Send_PrintDone"));
}

QTEST_GUILESS_MAIN(TestPrintFile)
#include "tst_printfile.moc"
