// The layer cycle against a fake board that answers every command.
#include "crushedprintjob.h"
#include "printingthread.h"
#include "printjob.h"
#include "ssj.h"
#include "terminal.h"
#include "timescale.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

constexpr double kScale = 0.02; // 1 s of printer time is 20 ms here

// What the printing thread asked of the board, in order, with the time.
struct Event {
    QString what;
    qint64 at;
};

// Answers like the board: a reset is acknowledged, a move reports its cycle
// done, a resume is confirmed. Each answer can be held back.
class FakeBoard : public QObject
{
    Q_OBJECT
public:
    explicit FakeBoard(PrintingThread *thread)
        : m_thread(thread)
    {
        m_clock.start();
        connect(thread, &PrintingThread::sendResetPrinter, this, [this] {
            log(QStringLiteral("reset"));
            if (answerResets)
                QTimer::singleShot(TimeScale::ms(2000), m_thread, &PrintingThread::doneWithReset);
        });
        connect(thread, &PrintingThread::sendMovePrinterToLayer, this, [this](int height) {
            log(QStringLiteral("N%1").arg(height));
            if (answerMoves)
                QTimer::singleShot(TimeScale::ms(3000), m_thread, &PrintingThread::doneWithTiltCycle);
        });
        on(&PrintingThread::sendSetPrinterBaselineToCurrentPosition, "O0");
        on(&PrintingThread::sendTurnOnProjector, "P1");
        // The board's finish answer also reads as a cycle done.
        on(&PrintingThread::sendFinishPrint, "f", 3000, &PrintingThread::doneWithTiltCycle);
        on(&PrintingThread::pauseInTerminal, "pause", 1000, &PrintingThread::doneWithPauseMovement);
        on(&PrintingThread::pauseInTerminalBeforeReset, "f-before-reset", 3000, &PrintingThread::doneWithFinishMovement);
        on(&PrintingThread::resumeInTerminal, "resume", 1000, &PrintingThread::doneWithResumeMovement);
        // The thread's answers to pause and resume requests, among the board's events.
        on(&PrintingThread::pauseConfirmed, "done:pause");
        on(&PrintingThread::resumeConfirmed, "done:resume");
        connect(thread, &PrintingThread::requestRefused, this, [this](const QString &what) { log("refused:" + what); });
        connect(thread, &PrintingThread::projectImageFromPO, this, [this](const QImage &image) {
            const int layer = layerOf(image);
            log(layer < 0 ? QStringLiteral("black") : QStringLiteral("layer%1").arg(layer));
        });
        connect(thread, &PrintingThread::sendLayerComplete, this, [this](int layer, int percent, int minutes) {
            progress << QStringLiteral("%1/%2/%3").arg(layer).arg(percent).arg(minutes);
        });
    }

    // Layers are told apart by the column of their white square.
    static int layerOf(const QImage &image)
    {
        for (int layer = 0; layer < 40; ++layer)
            if (image.pixel(100 + 20 * layer, 50) == 0xFFFFFFFFu)
                return layer;
        return -1;
    }

    QStringList names() const
    {
        QStringList list;
        for (const Event &event : events)
            list << event.what;
        return list;
    }
    qint64 timeOf(const QString &what) const
    {
        for (const Event &event : events)
            if (event.what == what)
                return event.at;
        return -1;
    }
    QStringList answers() const { return names().filter(QRegularExpression(QStringLiteral("^(done|refused):"))); }
    QStringList layersAndMoves() const { return names().filter(QRegularExpression(QStringLiteral("^(layer|N)"))); }

    QList<Event> events;
    QStringList progress;
    bool answerResets = true;
    bool answerMoves = true;

private:
    void log(const QString &what) { events.append({what, m_clock.elapsed()}); }

    // Logs `name` when the thread emits `signal`; with `answer`, the board answers after
    // `boardMs` of its time.
    template <typename Signal>
    void on(Signal signal, const char *name, int boardMs = 0, void (PrintingThread::*answer)() = nullptr)
    {
        connect(m_thread, signal, this, [this, name, boardMs, answer] {
            log(QLatin1String(name));
            if (answer)
                QTimer::singleShot(TimeScale::ms(boardMs), m_thread, answer);
        });
    }

    PrintingThread *m_thread;
    QElapsedTimer m_clock;
};

PrintJob jobLine(const QString &fields)
{
    PrintJob job;
    job.setFromString(QStringLiteral("Status_SendingPrintJob,") + fields);
    return job;
}

} // namespace

class TestPrintingThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase() { SSJ::releaseCPJ(); }

    void adhesionLayers_exposeByFactorButNeverBelowCureTime();
    void firstLayer_waitsFiveSecondsWithLampOnHalfway();
    void progress_reportsTotalThenEveryLayer();
    void pauseAndResumeRequests_confirmedOrRefusedInOrder_data();
    void pauseAndResumeRequests_confirmedOrRefusedInOrder();
    void repeatedResetAcknowledgement_isIgnored_data();
    void repeatedResetAcknowledgement_isIgnored();
    void resetAcknowledgementWithoutPrint_startsNothing();
    void newPrintAfterCancel_ignoresTheOldPrintsTimers();
    void secondMoveForOneCycle_isRefused();

private:
    void waitForFinish(FakeBoard &board, int timeoutMs = 20000);

    QTemporaryDir m_dir;
    QString m_jobPath;
};

void TestPrintingThread::initTestCase()
{
    TimeScale::setFactor(kScale);
    // Twenty layers of 1280 x 800, layer n with a square at column 100 + 20n.
    CrushedPrintJob job;
    job.setVersion(1);
    job.setLayerThickness(0.1);
    job.clearAll(0);
    for (int layer = 0; layer < 20; ++layer) {
        QImage image(1280, 800, QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.fillRect(QRect(95 + 20 * layer, 45, 10, 10), Qt::white);
        painter.end();
        QVERIFY(job.addImage(&image));
    }
    m_jobPath = m_dir.filePath(QStringLiteral("job.ssj"));
    QVERIFY(job.saveCPJ(m_jobPath));
    QVERIFY(SSJ::loadCPJ(m_jobPath));
}

void TestPrintingThread::init()
{
    Terminal::g_param = QStringLiteral("g0");
}

void TestPrintingThread::pauseAndResumeRequests_confirmedOrRefusedInOrder_data()
{
    // Steps: "start" the job, "wait:<event>" of the board, a request ("pause", "resume",
    // "cancel", "abort": the board's link is lost), "idle" for 10 s, "at:<layers and moves>"
    // so far, "no:<event>" so far, "count:<event>=<n>", "last:<event>" at once.
    QTest::addColumn<QString>("job");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<QString>("moves"); // all layers and moves once the print finished
    const QString four = QStringLiteral("0,0,3,100,100,4,Clear,1,1,1");
    QTest::newRow("nothing to pause or resume") << four << "pause resume"
                                                << "refused:Request_PausePrint refused:Request_ResumePrint"
                                                << "";
    QTest::newRow("resume while printing, pause twice")
        << four << "start wait:layer0 resume pause pause wait:done:pause resume"
        << "refused:Request_ResumePrint refused:Request_PausePrint done:pause done:resume"
        << "";
    QTest::newRow("pause and resume within one exposure never toggle the board")
        << "0,0,5,100,100,3,Clear,1,1,1"
        << "start wait:layer0 pause resume resume wait:f no:pause no:resume"
        << "done:pause done:resume refused:Request_ResumePrint"
        << "layer0 N10 layer1 N20 layer2 N30";
    QTest::newRow("pause during an exposure: after its cycle, resumed with the next layer")
        << four
        << "start wait:layer1 pause wait:pause at:layer0,N10,layer1,N20 idle at:layer0,N10,layer1,N20 resume"
           " wait:f count:resume=1"
        << "done:pause done:resume"
        << "layer0 N10 layer1 N20 layer2 N30 layer3 N40";
    QTest::newRow("pause during the reset: finished, resume restarts from the reset")
        << "0,0,1,100,100,2,Clear,1,1,1"
        << "start pause wait:f-before-reset no:layer0 resume wait:f count:reset=2"
        << "done:pause done:resume"
        << "layer0 N10 layer1 N20";
    QTest::newRow("cancel before the pause reached the board") << four << "start wait:layer0 pause cancel"
                                                               << "done:pause"
                                                               << "";
    QTest::newRow("cancel while paused finishes at once") << "0,0,1,100,100,5,Clear,1,1,1"
                                                          << "start wait:layer0 pause wait:pause cancel last:f idle"
                                                          << "done:pause"
                                                          << "layer0 N10";
    QTest::newRow("cancel while exposing finishes after the cycle") << "0,0,2,100,100,5,Clear,1,1,1"
                                                                    << "start wait:layer1 cancel"
                                                                    << ""
                                                                    << "layer0 N10 layer1 N20";
    QTest::newRow("board lost before the pause was done") << four << "start wait:layer0 pause abort"
                                                          << "refused:Request_PausePrint"
                                                          << "";
}

void TestPrintingThread::pauseAndResumeRequests_confirmedOrRefusedInOrder()
{
    QFETCH(QString, job);
    QFETCH(QString, steps);
    QFETCH(QString, answers);
    QFETCH(QString, moves);
    PrintingThread thread;
    FakeBoard board(&thread);
    PrintJob printJob = jobLine(job);
    for (const QString &step : steps.split(' ')) {
        const QString what = step.section(':', 1);
        if (step == QLatin1String("start"))
            thread.runJob(&printJob, nullptr);
        else if (step == QLatin1String("idle"))
            QTest::qWait(TimeScale::ms(10000));
        else if (step.startsWith(QLatin1String("wait:")))
            QTRY_VERIFY_WITH_TIMEOUT(board.names().contains(what), 10000);
        else if (step.startsWith(QLatin1String("at:")))
            QCOMPARE(board.layersAndMoves().join(','), what);
        else if (step.startsWith(QLatin1String("no:")))
            QVERIFY2(!board.names().contains(what), qPrintable(step));
        else if (step.startsWith(QLatin1String("last:")))
            QCOMPARE(board.names().last(), what);
        else if (step.startsWith(QLatin1String("count:")))
            QCOMPARE(int(board.names().count(what.section('=', 0, 0))), what.section('=', 1).toInt());
        else
            QVERIFY(QMetaObject::invokeMethod(&thread, qPrintable(step + "Print")));
    }
    QTRY_COMPARE_WITH_TIMEOUT(board.answers().size(), answers.isEmpty() ? 0 : int(answers.count(' ')) + 1, 10000);
    if (steps.startsWith(QLatin1String("start")) && !steps.endsWith(QLatin1String("abort")))
        waitForFinish(board);
    QTest::qWait(TimeScale::ms(5000)); // late board answers confirm nothing more
    QCOMPARE(board.answers().join(' '), answers);
    QVERIFY(board.names().count(QStringLiteral("f")) <= 1);
    if (!moves.isEmpty()) {
        QCOMPARE(board.layersAndMoves().join(' '), moves);
        QCOMPARE(thread.status(), int(PrintingThread::Finished));
    }
}

void TestPrintingThread::waitForFinish(FakeBoard &board, int timeoutMs)
{
    QTRY_VERIFY_WITH_TIMEOUT(board.names().contains(QStringLiteral("f")), timeoutMs);
}

void TestPrintingThread::adhesionLayers_exposeByFactorButNeverBelowCureTime()
{
    QCOMPARE(PrintingThread::adhesionFactor(2), 1.0);
    QCOMPARE(PrintingThread::adhesionFactor(3), 0.75);
    QCOMPARE(PrintingThread::adhesionFactor(8), 0.5);
    QCOMPARE(PrintingThread::adhesionFactor(11), 0.25);

    // Seven adhesion layers of 20 s and 50 microns, cure time 12 s: 20, 20, 20, 15, 15, 15,
    // then 10 held up to 12, then 12. Each layer once, at its height (in 10 µm).
    PrintingThread thread;
    FakeBoard board(&thread);
    PrintJob job = jobLine(QStringLiteral("7,20,12,100,50,8,Clear,1,1,1"));
    thread.runJob(&job, nullptr);
    waitForFinish(board);
    QCOMPARE(board.layersAndMoves().join(' '),
        QStringLiteral("layer0 N5 layer1 N10 layer2 N15 layer3 N20 layer4 N25 layer5 N30 layer6 N35 layer7 N45"));
    const double expected[8] = {20, 20, 20, 15, 15, 15, 12, 12};
    for (int layer = 0; layer < 8; ++layer) {
        const qint64 shown = board.timeOf(QStringLiteral("layer%1").arg(layer));
        qint64 dark = -1;
        for (const Event &event : qAsConst(board.events))
            if (event.at >= shown && event.what.startsWith(QLatin1Char('N'))) {
                dark = event.at;
                break;
            }
        const qint64 exposure = dark - shown;
        const qint64 wanted = qint64(expected[layer] * 1000 * kScale);
        QVERIFY2(exposure >= wanted - 5 && exposure < wanted + 250,
            qPrintable(QStringLiteral("layer %1 exposed %2 ms, wanted %3 ms").arg(layer).arg(exposure).arg(wanted)));
    }
}

void TestPrintingThread::firstLayer_waitsFiveSecondsWithLampOnHalfway()
{
    PrintingThread thread;
    FakeBoard board(&thread);
    PrintJob job = jobLine(QStringLiteral("0,0,1,100,100,2,Clear,1,1,1"));
    thread.runJob(&job, nullptr);
    waitForFinish(board);
    // The reset answer arrives 2 s after the reset; black is projected at once.
    const qint64 acknowledged = board.timeOf(QStringLiteral("black"));
    const qint64 lamp = board.timeOf(QStringLiteral("P1"));
    const qint64 first = board.timeOf(QStringLiteral("layer0"));
    QVERIFY(acknowledged >= 0 && lamp > acknowledged && first > lamp);
    QVERIFY2(lamp - acknowledged >= 2500 * kScale - 5, qPrintable(QString::number(lamp - acknowledged)));
    QVERIFY2(first - acknowledged >= 5000 * kScale - 5, qPrintable(QString::number(first - acknowledged)));
    QVERIFY(first - acknowledged < 5000 * kScale + 250);
    QCOMPARE(board.names().count(QStringLiteral("P1")), 1);
    QVERIFY(!board.names().contains(QStringLiteral("O0"))); // g0: start from the g height
}

void TestPrintingThread::progress_reportsTotalThenEveryLayer()
{
    PrintingThread thread;
    FakeBoard board(&thread);
    // 3 layers of 6 s: total (3 * 6 + 30) / 60 = 0 minutes; use 30 s layers.
    PrintJob job = jobLine(QStringLiteral("0,0,30,100,100,3,Clear,1,1,1"));
    QCOMPARE(PrintingThread::getTotalPrintTime(&job), 2); // (90 + 30) / 60
    thread.runJob(&job, nullptr);
    waitForFinish(board, 30000);
    // After layer n (counted from 1) the report carries n + 1, its percent and
    // the minutes left: ((3 - n) * 10 + (3 - n) * 30) / 60.
    QCOMPARE(board.progress, QStringList({"0/0/2", "2/33/1", "3/66/0", "4/100/0"}));
}

void TestPrintingThread::repeatedResetAcknowledgement_isIgnored_data()
{
    QTest::addColumn<int>("gParameter");
    QTest::addColumn<QStringList>("moves");
    QTest::newRow("g0") << 0 << QStringList({"N10", "N20", "N30"});
    QTest::newRow("g-5: baseline then from 0") << -5 << QStringList({"N10", "N20", "N30"});
    QTest::newRow("g30: from the g height") << 30 << QStringList({"N40", "N50", "N60"});
}

void TestPrintingThread::repeatedResetAcknowledgement_isIgnored()
{
    QFETCH(int, gParameter);
    QFETCH(QStringList, moves);
    PrintingThread thread;
    FakeBoard board(&thread);
    thread.setGParameter(gParameter);
    PrintJob job = jobLine(QStringLiteral("0,0,1,100,100,3,Clear,1,1,1"));
    thread.runJob(&job, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(board.names().contains(QStringLiteral("black")), 10000);
    thread.doneWithReset(); // the board repeats its answer
    waitForFinish(board);
    QCOMPARE(board.names().filter(QRegularExpression(QStringLiteral("^N"))), moves);
    QCOMPARE(board.names().count(QStringLiteral("layer0")), 1);
    QCOMPARE(board.names().count(QStringLiteral("O0")), gParameter < 0 ? 1 : 0);
}

void TestPrintingThread::resetAcknowledgementWithoutPrint_startsNothing()
{
    PrintingThread thread;
    FakeBoard board(&thread);
    thread.doneWithReset(); // idle
    PrintJob job = jobLine(QStringLiteral("0,0,1,100,100,1,Clear,1,1,1"));
    thread.runJob(&job, nullptr);
    waitForFinish(board);
    board.events.clear();
    thread.doneWithReset(); // finished: the board homed for another reason
    QTest::qWait(TimeScale::ms(8000));
    QVERIFY(board.events.isEmpty());
    QCOMPARE(thread.status(), int(PrintingThread::Finished));
}

void TestPrintingThread::newPrintAfterCancel_ignoresTheOldPrintsTimers()
{
    PrintingThread thread;
    FakeBoard board(&thread);
    PrintJob job = jobLine(QStringLiteral("0,0,1,100,100,2,Clear,1,1,1"));
    thread.runJob(&job, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(board.names().contains(QStringLiteral("black")), 10000); // in the first-layer wait
    thread.cancelPrint();
    board.answerResets = false;
    thread.runJob(&job, nullptr); // a new print before the old wait ends
    QTest::qWait(TimeScale::ms(8000));
    // The old print's wait ran out meanwhile; the new print still waits for its reset.
    QVERIFY(!board.names().contains(QStringLiteral("layer0")));
    QCOMPARE(thread.status(), int(PrintingThread::Printing));
    board.answerResets = true;
    thread.doneWithReset();
    waitForFinish(board);
    QCOMPARE(board.layersAndMoves(), QStringList({"layer0", "N10", "layer1", "N20"}));
}

void TestPrintingThread::secondMoveForOneCycle_isRefused()
{
    PrintingThread thread;
    FakeBoard board(&thread);
    board.answerMoves = false;
    PrintJob job = jobLine(QStringLiteral("0,0,1,100,100,3,Clear,1,1,1"));
    thread.runJob(&job, nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(board.names().contains(QStringLiteral("N10")), 10000);
    thread.startNextTiltCycle(); // a second exposure end for the same layer
    QCOMPARE(board.names().count(QStringLiteral("N10")), 1);
    thread.cancelPrint();
}

QTEST_GUILESS_MAIN(TestPrintingThread)
#include "tst_printingthread.moc"
