// A whole print through the real programs: vatnode-boardsim on a pseudo-terminal, and
// vatnode --print-file on a small job under an X server of the test's own, with every
// projected frame saved. (The board's faults in the middle of a print: the fault tests.)
#include "crushedprintjob.h"
#include "faultharness.h"
#include "printtime.h"
#include "testjobs.h"
#include "testpaths.h"

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace Faults;

namespace {

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
    QString errorText;
    QStringList boardLines;
    QStringList frames;
};

// A job of `layers` layers, printed by vatnode on the simulated board.
class Bench
{
public:
    explicit Bench(int layers)
        : m_board(m_dir.path())
    {
        m_ok = layersJob(layers, layerImage).saveCPJ(jobPath());
    }

    bool ok() const { return m_ok; }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString jobPath() const { return path(QStringLiteral("job.ssj")); }

    // Prints with the job line's `fields` and the scene graph `backend`, saving every frame
    // unless told not to.
    PrintRun run(const QString &backend, const QString &fields, bool saveFrames = true)
    {
        PrintRun result;
        XServer screen; // each print on a screen of its own, as on a printer just switched on
        if (!screen.start(&result.errorText) || !m_board.start())
            return result;
        QProcess printer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), screen.display());
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), backend);
        // Mesa's drivers and the X libraries leave allocations behind at exit.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false")); // its words, not its chatter
        printer.setProcessEnvironment(env);
        QStringList arguments {QStringLiteral("--workdir"), path(QStringLiteral("work")),
            QStringLiteral("--serial-port"), m_board.linkPath(), QStringLiteral("--time-scale"), timeScaleText(),
            QStringLiteral("--print-file"), jobPath(), QStringLiteral("--job"), fields};
        if (saveFrames)
            arguments << QStringLiteral("--frames-dir") << path(QStringLiteral("frames"));
        printer.start(TestPaths::executable(QStringLiteral("vatnode")), arguments);
        if (!printer.waitForFinished(180000)) {
            printer.kill();
            printer.waitForFinished();
        } else if (printer.exitStatus() == QProcess::NormalExit) {
            result.exitCode = printer.exitCode();
        }
        result.errorText = QString::fromLocal8Bit(printer.readAllStandardError());
        result.boardLines = m_board.received();
        result.frames
            = QDir(path(QStringLiteral("frames"))).entryList({QStringLiteral("frame_*.png")}, QDir::Files, QDir::Name);
        return result;
    }

private:
    QTemporaryDir m_dir;
    Board m_board;
    bool m_ok = false;
};

// What a frame shows (shownLayer) when the layers are projected at the job's scale.
int classifyFrame(const QImage &frame, int layers, QSize scaled)
{
    QList<QImage> expected;
    for (int layer = 0; layer < layers; ++layer)
        expected << layerImage(layer).scaled(scaled, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return shownLayer(frame, expected);
}

// Seconds from the print's reset ("R110" followed by "&") to the finish command ("f"), by the
// time stamps of the board's log; -1 when either is missing.
double resetToFinishSeconds(const QString &log)
{
    QList<QTime> stamps;
    QStringList lines;
    for (const QString &entry : log.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        stamps << QTime::fromString(entry.section(QLatin1Char(' '), 0, 0), QStringLiteral("hh:mm:ss.zzz"));
        lines << entry.section(QLatin1Char(' '), 1);
    }
    const int reset = int(lines.indexOf(QStringLiteral("&"))) - 1;
    const int finish = int(lines.indexOf(QStringLiteral("f"), reset));
    if (reset < 0 || lines.at(reset) != QLatin1String("R110") || finish < 0)
        return -1.0;
    return stamps.at(reset).msecsTo(stamps.at(finish)) / 1000.0;
}

} // namespace

class TestPrintFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void print_runsResetLayersAndFinish_data();
    void print_runsResetLayersAndFinish();
    void damagedJob_isNotPrinted();
    void shortJob_takesItsEstimatedTime();
};

void TestPrintFile::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QSKIP("Xvfb is not installed");
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
    Bench bench(6);
    QVERIFY(bench.ok());
    // Two adhesion layers of 50 microns, four of 100, scaled by 1.01 x 0.99.
    const PrintRun run = bench.run(backend, QStringLiteral("2,1,0.5,100,50,6,Clear,1.01,0.99,1"));
    QVERIFY2(run.exitCode == 0, qPrintable(run.errorText.right(3000)));
    QVERIFY(run.errorText.contains(QStringLiteral("vatnode: print done")));

    // The board connects: projector off, motors on, a homing, the LED fading (the printer
    // runs its own access point), the link's own projector off, a second homing. Then the
    // reset sequence, the lamp before the first move, one move per layer at the right
    // height, the lamp off and the finish.
    const QStringList lines = run.boardLines;
    QCOMPARE(lines.mid(0, 8).join(QLatin1Char(' ')), QStringLiteral("P0 p11 R110 BLT255 BLU0 BLF1000 P0 R110"));
    const QStringList reset = {"R110", "&", "D1000", "E2000", "J550", "K80", "L80", "W50", "X50", "p11", "R", "g0"};
    const int resetAt = int(lines.indexOf(QStringLiteral("&"))) - 1;
    QVERIFY2(resetAt >= 0, qPrintable(lines.join(QLatin1Char(' '))));
    QCOMPARE(lines.mid(resetAt, reset.size()), reset);
    QCOMPARE(
        lines.filter(QRegularExpression(QStringLiteral("^N"))), QStringList({"N5", "N10", "N20", "N30", "N40", "N50"}));
    QVERIFY(lines.indexOf(QStringLiteral("P1")) > resetAt);
    QVERIFY(lines.indexOf(QStringLiteral("P1")) < lines.indexOf(QStringLiteral("N5")));
    QCOMPARE(lines.mid(lines.size() - 2), QStringList({"P0", "f"}));
    QCOMPARE(lines.count(QStringLiteral("f")), 1);

    // The frames: black, then each layer at 1292 x 792 followed by black.
    QStringList shown;
    for (const QString &name : run.frames) {
        const QImage frame(bench.path(QStringLiteral("frames/") + name));
        QCOMPARE(frame.size(), QSize(1280, 800));
        const int kind = classifyFrame(frame, 6, QSize(1292, 792));
        shown << (kind == -1 ? QStringLiteral("black") : kind == -2 ? QStringLiteral("?") : QString::number(kind));
    }
    QCOMPARE(shown,
        QStringList({"black", "0", "black", "1", "black", "2", "black", "3", "black", "4", "black", "5", "black"}));
}

void TestPrintFile::damagedJob_isNotPrinted()
{
    Bench bench(3);
    QVERIFY(bench.ok());
    QVERIFY(QFile::resize(bench.jobPath(), QFileInfo(bench.jobPath()).size() / 2));
    const QString vatnode = TestPaths::executable(QStringLiteral("vatnode"));
    // The cut job; a job line too short; more layers than an int holds.
    const QList<QPair<QString, int>> jobs
        = {{"0,0,1,100,100,3,Clear,1,1,1", 1}, {"1,2,3", 2}, {"0,0,1,100,100,3000000000,Clear,1,1,1", 1}};
    for (const auto &job : jobs) {
        QProcess printer;
        printer.start(vatnode,
            {QStringLiteral("--workdir"), bench.path(QStringLiteral("work")), QStringLiteral("--serial-port"),
                bench.path(QStringLiteral("no-board")), QStringLiteral("--print-file"), bench.jobPath(),
                QStringLiteral("--job"), job.first});
        QVERIFY(printer.waitForFinished(60000));
        QCOMPARE(printer.exitCode(), job.second);
        if (job.second == 1)
            QVERIFY(printer.readAllStandardError().contains("error: cannot print"));
    }
}

void TestPrintFile::shortJob_takesItsEstimatedTime()
{
    // A printer second lasts 200 ms: the fixed costs of each step (a layer unpacked, a frame
    // drawn, a serial line) stay small next to the cycle on a loaded machine.
    if (qEnvironmentVariableIsSet("TESSORA_TEST_TIME_SCALE"))
        QSKIP("an emulated printer's own costs per layer say nothing of the real one's time");
    const auto restore = qScopeGuard([scale = kTimeScale] { kTimeScale = scale; });
    kTimeScale = 0.2;
    Bench bench(5);
    QVERIFY(bench.ok());
    const QString fields = QStringLiteral("1,4,2,100,50,5,Clear,1,1,1");
    const PrintRun run = bench.run(QStringLiteral("software"), fields, false);
    QVERIFY2(run.exitCode == 0, qPrintable(run.errorText.right(3000)));

    // Measured by the board, from the reset to the finish command: everything but the final
    // movement.
    PrintJob job;
    job.setFromString(QStringLiteral("job,") + fields);
    const PrintTimeEstimate estimate = PrintTimeEstimate::of(job);
    const double expected = (estimate.totalSeconds() - estimate.finishSeconds) * 0.2;
    const double measured
        = resetToFinishSeconds(QString::fromLatin1(fileBytes(bench.path(QStringLiteral("board.log")))));
    qInfo("estimated %.3f s, measured %.3f s", expected, measured);
    QVERIFY(qAbs(measured - expected) <= 0.03 * measured);
}

QTEST_GUILESS_MAIN(TestPrintFile)
#include "tst_printfile.moc"
