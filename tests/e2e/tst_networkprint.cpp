// A print across the network with the real programs: vatnode-boardsim on a
// pseudo-terminal, vatnode under an X server of the test's own, and tessora-cli as the
// desktop, all on loopback. Jobs the print rule refuses, and a printer that needs a
// software update, end the command with the reason.
//
// Then faults that strike while a job is on its way to the printer: the connection breaks
// (reset, or a cable pulled), the printer program dies holding half the file, the
// printer's disk fills up. The desktop is told, the printer keeps the job it had, whole,
// with no piece of the new one beside it, and the next desktop finds it ready and prints.
//
// A file-size limit on the printer program plays the full disk: its writes past the
// limit fail with EFBIG, as they would with ENOSPC on a full disk. It does so only with
// SIGXFSZ ignored (a full disk raises no signal): otherwise the kernel kills vatnode at
// its first write past the limit, which comes already at start-up, when the window's
// shared-memory buffer (4 MB) is sized; with the signal ignored that sizing fails and Qt
// draws without shared memory.
#include "fakeprinter.h"
#include "faultharness.h"
#include "fulldisk.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Faults;

namespace {

enum class Fault { Reset, CablePulled, PrinterKilled, DiskFull };

// Room for the printer's log and a small job; not for the large one.
constexpr qint64 kFileSizeLimit = 1024 * 1024;

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestNetworkPrint : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void printers_listsTheConnectedPrinter();
    void print_sendsTheJobAndFollowsItToTheEnd();
    void print_interactiveCancel_endsThePrint();
    void print_refusedByThePrintRule_failsWithItsWords_data();
    void print_refusedByThePrintRule_failsWithItsWords();
    void print_printerNeedsAnUpdate_failsWithoutConsent();
    // Last: the full disk leaves the printer with its file-size limit.
    void faultMidTransfer_printerKeepsItsJob_nextJobPrints_data();
    void faultMidTransfer_printerKeepsItsJob_nextJobPrints();

private:
    QTemporaryDir m_dir;
    XServer m_x;
    // One printer for every test: each leaves it as the next one finds it.
    std::unique_ptr<Rig> m_rig;
    QString m_job;
    QString m_job75; // the same layers, described as sliced for 75-micron printers
    QStringList m_jobs; // two jobs that differ, sent in turn
    int m_held = 0; // the one of them the printer holds
    QString m_large;
};

void TestNetworkPrint::initTestCase()
{
    QString error;
    QVERIFY2(prepare(m_dir, m_x, &error), qPrintable(error));
    m_job = makeSampleJob(m_dir.path(), QStringLiteral("part.ssj"), 4, &error, QStringLiteral("sliced at 100 microns"));
    m_job75
        = makeSampleJob(m_dir.path(), QStringLiteral("part75.ssj"), 4, &error, QStringLiteral("sliced at 75 microns"));
    m_jobs = QStringList {m_job, makeSampleJob(m_dir.path(), QStringLiteral("other.ssj"), 1, &error)};
    QVERIFY2(!m_job.isEmpty() && !m_job75.isEmpty() && !m_jobs.last().isEmpty(), qPrintable(error));
    m_large = makeNoiseJob(m_dir.path(), QStringLiteral("large.ssj"), 3, &error);
    QVERIFY2(QFileInfo(m_large).size() > 2 * kFileSizeLimit, qPrintable(error));
    m_rig = std::make_unique<Rig>(m_dir.filePath(QStringLiteral("rig")), m_x.display());
    QVERIFY2(m_rig->start(&error), qPrintable(error));
}

void TestNetworkPrint::cleanupTestCase()
{
    if (m_rig)
        FAULTS_VERIFY_NONE(m_rig->problems());
}

void TestNetworkPrint::printers_listsTheConnectedPrinter()
{
    Cli cli(QStringList {
                QStringLiteral("printers"), QStringLiteral("--json"), QStringLiteral("--wait"), QStringLiteral("8")}
        + Cli::network(m_rig->printer.discoveryPort(), m_rig->nextBasePort()));
    QVERIFY(cli.start() && cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    const QJsonArray printers = QJsonDocument::fromJson(cli.out().toUtf8()).array();
    QCOMPARE(printers.size(), 1);
    const QJsonObject printer = printers.first().toObject();
    QVERIFY(printer.value(QStringLiteral("serial")).toString().startsWith(QStringLiteral("OBW-TEST")));
    QCOMPARE(printer.value(QStringLiteral("model")).toString(), QStringLiteral("OBP100V1"));
    QCOMPARE(printer.value(QStringLiteral("version")).toDouble(), 4.51);
    QCOMPARE(printer.value(QStringLiteral("status")).toString(), QStringLiteral("PrintStatus_Ready"));
}

void TestNetworkPrint::print_sendsTheJobAndFollowsItToTheEnd()
{
    Cli cli(m_rig->printArguments(m_job, 30));
    QVERIFY(cli.start() && cli.waitForFinished(120000));
    QVERIFY2(cli.exitCode() == 0 && cli.out() == QLatin1String("print done\n"), qPrintable(cli.transcript()));
    for (const char *step : {"4 layers, Clear at 50 microns", "sending job", "printing: 100/100"})
        QVERIFY2(cli.err().contains(QLatin1String(step)), step);
}

void TestNetworkPrint::print_interactiveCancel_endsThePrint()
{
    Cli cli(QStringList {QStringLiteral("print"), m_job, QStringLiteral("--resin"), QStringLiteral("Clear"),
                QStringLiteral("--interactive")}
        + Cli::network(m_rig->printer.discoveryPort(), m_rig->nextBasePort()));
    QVERIFY(cli.start());
    QVERIFY2(cli.waitForError(QStringLiteral("printing:"), 60000), qPrintable(cli.transcript()));
    cli.writeLine("cancel");
    QVERIFY(cli.waitForFinished(60000));
    QVERIFY2(cli.exitCode() == 0 && cli.out() == QLatin1String("print cancelled\n"), qPrintable(cli.transcript()));
}

void TestNetworkPrint::print_refusedByThePrintRule_failsWithItsWords_data()
{
    QTest::addColumn<bool>("job75");
    QTest::addColumn<QString>("resin");
    QTest::addColumn<QString>("words");
    // The desktop's words, as the window shows them.
    QTest::newRow("unknown resin") << false << QStringLiteral("Unobtainium")
                                   << QStringLiteral("error: There is no resin Unobtainium among the resins for "
                                                     "100-micron printers (Gray, Dental Model, Clear,");
    QTest::newRow("job for the other pixel size")
        << true << QStringLiteral("Clear")
        << QStringLiteral("error: The print job part75.ssj was sliced for 75-micron printers; ");
}

void TestNetworkPrint::print_refusedByThePrintRule_failsWithItsWords()
{
    QFETCH(bool, job75);
    QFETCH(QString, resin);
    QFETCH(QString, words);
    QStringList arguments = m_rig->printArguments(job75 ? m_job75 : m_job, 30);
    arguments[3] = resin;
    Cli cli(arguments);
    QVERIFY(cli.start() && cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(cli.err().contains(words), qPrintable(cli.err()));
    QVERIFY(cli.err().contains(QStringLiteral("Nothing was sent to the printer.")));
}

void TestNetworkPrint::print_printerNeedsAnUpdate_failsWithoutConsent()
{
    // An old printer that connects by itself (nobody hears the announcement on this port);
    // nothing may reach it over SSH.
    const int basePort = freeTcpBasePort();
    qputenv("TESSORA_SSH_PORT", "1");
    Cli cli(QStringList {QStringLiteral("print"), m_job, QStringLiteral("--resin"), QStringLiteral("Clear"),
                QStringLiteral("--wait"), QStringLiteral("30")}
        + Cli::network(freeUdpPort(), basePort));
    QVERIFY(cli.start());
    qunsetenv("TESSORA_SSH_PORT");
    FakePrinter printer;
    QVERIFY(waitFor([&] { return printer.connectTo(quint16(basePort + 1)); }, 30000));
    QVERIFY(waitFor([&] { return !printer.greeting.isEmpty(); }, 30000));
    printer.send(FakePrinter::reply(QStringLiteral("OLD-1"), QStringLiteral("OBP100V1"), QStringLiteral("4.0"),
        QStringLiteral("PrintStatus_Ready")));
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(cli.err().contains(QStringLiteral(
                 "error: printer OLD-1 needs a software update; run again with --allow-update to install it")),
        qPrintable(cli.err()));
}

void TestNetworkPrint::faultMidTransfer_printerKeepsItsJob_nextJobPrints_data()
{
    // Where in the job stream (its 16 size bytes, the file's name, then the file) the
    // fault strikes, as a share of the stream: 0 in the size bytes.
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<double>("share");
    // Both ends see the connection end at once.
    QTest::newRow("reset in the stream header") << Fault::Reset << 0.0;
    QTest::newRow("reset half-way") << Fault::Reset << 0.5;
    QTest::newRow("reset one byte short") << Fault::Reset << 1.0;
    // Nothing more arrives on either side: each end finds out by its heartbeat.
    QTest::newRow("cable pulled half-way") << Fault::CablePulled << 0.5;
    // The rest of the stream is held back, and the printer dies holding half the file.
    QTest::newRow("printer killed half-way") << Fault::PrinterKilled << 0.5;
    // Last: the printer keeps its limit from then on.
    QTest::newRow("disk full") << Fault::DiskFull << -1.0;
}

void TestNetworkPrint::faultMidTransfer_printerKeepsItsJob_nextJobPrints()
{
    QFETCH(Fault, fault);
    QFETCH(double, share);
    QVERIFY(m_rig);
    Rig &rig = *m_rig;
    const QString stored = rig.storedJob();
    const QString held = m_jobs.at(m_held);
    const QString sent = fault == Fault::DiskFull ? m_large : m_jobs.at(1 - m_held);
    if (fileBytes(stored) != fileBytes(held))
        FAULTS_VERIFY_NONE(rig.printToEnd(held));
    if (fault == Fault::DiskFull) {
        rig.printer.stop();
        const FileSizeLimit limit(kFileSizeLimit); // the printer started now inherits it
        QVERIFY(rig.restartPrinter());
    }

    // The stream: sizes (16 bytes), the desktop's path of the file as a frame, the file.
    const qint64 streamBytes = 16 + 4 + 2 * sent.size() + QFileInfo(sent).size();
    const qint64 relayed = share < 0.0 ? -1
        : share == 0.0                 ? 10
        : share >= 1.0                 ? streamBytes - 1
                                       : qint64(streamBytes * share);
    LinkCutter cutter(rig.printer.discoveryPort());
    QVERIFY(cutter.start());
    cutter.cutStreamAfter(relayed, fault == Fault::Reset ? LinkCutter::Cut::Close : LinkCutter::Cut::Silence);
    const QString done = QStringLiteral("Done receiving file");
    const QString closed = QStringLiteral("Client::connectionAliveTimedOut");
    const QString piece = QStringLiteral("Receive File. Bytes Received:");
    const int received = rig.printer.logCount(done);
    const int closes = rig.printer.logCount(closed);
    const int pieces = rig.printer.logCount(piece);
    Cli broken(rig.printArguments(sent, 60, cutter.tapPort()));
    QVERIFY(broken.start());
    if (fault == Fault::PrinterKilled) {
        QVERIFY(waitFor([&] { return cutter.hasCut(); }, 60000));
        QVERIFY(rig.printer.waitForLog(piece, pieces + 2, 10000));
        rig.printer.kill();
    }
    QVERIFY2(broken.waitForFinished(90000) && broken.exitCode() == 1 && broken.out().isEmpty(),
        qPrintable(broken.transcript()));
    const QString reported = lineWith(broken.err(), QStringLiteral("error: "));

    if (fault == Fault::DiskFull) {
        // The printer said why in its log.
        QVERIFY2(!reported.isEmpty(), qPrintable(broken.transcript()));
        QVERIFY2(rig.printer.waitForLog(QStringLiteral("writing file error!"), 1, 10000),
            qPrintable(rig.printer.log().right(3000)));
    } else {
        QVERIFY2(reported == QLatin1String("error: connection lost"), qPrintable(broken.transcript()));
        QVERIFY(cutter.hasCut());
        QCOMPARE(cutter.streamBytesRelayed(), relayed);
    }
    if (fault == Fault::PrinterKilled) {
        QVERIFY(rig.restartPrinter());
    } else if (fault != Fault::DiskFull) {
        // The printer dropped the connection, and the partial job with it.
        QVERIFY2(rig.printer.waitForLog(closed, closes + 1, 20000), qPrintable(rig.printer.log().right(3000)));
        if (relayed >= 16) // the printer read the sizes: the stream is the one counted here
            QVERIFY(rig.printer.log().contains(QStringLiteral("/%1\n").arg(streamBytes)));
    }
    // It holds its previous job, whole, and nothing of this one beside it.
    QVERIFY(rig.printer.isRunning());
    QCOMPARE(rig.printer.logCount(done), received);
    QCOMPARE(fileBytes(stored), fileBytes(held));
    QCOMPARE(leftoversBeside(stored), QStringList());

    // The next desktop finds it ready and its job prints to the end: the same job again,
    // or after a full disk a small one.
    const QString next = fault == Fault::DiskFull ? held : sent;
    const int mark = rig.printer.log().size();
    FAULTS_VERIFY_NONE(rig.printToEnd(next));
    const QString handshake = lineWith(rig.printer.log().mid(mark), QStringLiteral("Handshake Successful"));
    QVERIFY2(handshake.contains(QStringLiteral("PrintStatus_Ready")), qPrintable(handshake));
    QCOMPARE(fileBytes(stored), fileBytes(next));
    QCOMPARE(leftoversBeside(stored), QStringList());
    if (next == sent)
        m_held = 1 - m_held;

    const QString where = fault == Fault::DiskFull
        ? QStringLiteral("a %1-byte stream against a %2-byte file limit").arg(streamBytes).arg(kFileSizeLimit)
        : QStringLiteral("after %1 of %2 stream bytes").arg(relayed).arg(streamBytes);
    outcome(QStringLiteral("transfer fault (%1)").arg(QLatin1String(QTest::currentDataTag())),
        QStringLiteral("%1; desktop: \"%2\"; the printer kept its previous job intact and no partial file, and "
                       "printed the next one")
            .arg(where, reported));
}

QTEST_GUILESS_MAIN(TestNetworkPrint)
#include "tst_networkprint.moc"
