// The connection between desktop and printer breaks while a job is on its
// way: the printer keeps the job it had, waits for a desktop again, and the
// desktop, told of the loss, sends the job again and it prints.
#include "faultharness.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Faults;

Q_DECLARE_METATYPE(Faults::LinkCutter::Cut)

class TestTransferCut : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectionBrokenMidTransfer_printerKeepsItsJob_desktopSendsAgain_data();
    void connectionBrokenMidTransfer_printerKeepsItsJob_desktopSendsAgain();

private:
    QTemporaryDir m_dir;
    XServer m_x;
    // One printer for every break: each leaves it as the next one finds it.
    std::unique_ptr<Rig> m_rig;
    QStringList m_jobs;
    int m_held = 0; // the job the printer holds
};

void TestTransferCut::initTestCase()
{
    QString error;
    QVERIFY2(prepare(m_dir, m_x, &error), qPrintable(error));
    for (const QString &name : {QStringLiteral("first.ssj"), QStringLiteral("second.ssj")}) {
        m_jobs << makeSampleJob(m_dir.path(), name, 1, &error);
        QVERIFY2(!m_jobs.constLast().isEmpty(), qPrintable(error));
    }
    QVERIFY(fileBytes(m_jobs.at(0)) != fileBytes(m_jobs.at(1)));

    m_rig = std::make_unique<Rig>(m_dir.filePath(QStringLiteral("printer")), m_x.display());
    QVERIFY2(m_rig->start(&error), qPrintable(error));
    // A first job prints: the printer holds it.
    Cli print(m_rig->printArguments(m_jobs.at(0), 60));
    QVERIFY(print.start());
    QVERIFY2(print.waitForFinished(90000) && print.exitCode() == 0, qPrintable(print.transcript()));
    QCOMPARE(print.out(), QStringLiteral("print done\n"));
    QCOMPARE(fileBytes(m_rig->printer.path(QStringLiteral("MySSJFile.ssj"))), fileBytes(m_jobs.at(0)));
}

void TestTransferCut::cleanupTestCase()
{
    if (!m_rig)
        return;
    const QString problems = m_rig->problems();
    m_rig.reset();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void TestTransferCut::connectionBrokenMidTransfer_printerKeepsItsJob_desktopSendsAgain_data()
{
    // Where in the job stream (its 16 size bytes, the file's name, then the
    // file) the link breaks, as a share of the stream: 0 in the size bytes.
    QTest::addColumn<double>("share");
    QTest::addColumn<LinkCutter::Cut>("how");
    // Both ends see the connection end at once.
    QTest::newRow("reset in the stream header") << 0.0 << LinkCutter::Cut::Close;
    QTest::newRow("reset half-way") << 0.5 << LinkCutter::Cut::Close;
    QTest::newRow("reset one byte short") << 1.0 << LinkCutter::Cut::Close;
    // Nothing more arrives on either side: each end finds out by its heartbeat.
    QTest::newRow("cable pulled half-way") << 0.5 << LinkCutter::Cut::Silence;
}

void TestTransferCut::connectionBrokenMidTransfer_printerKeepsItsJob_desktopSendsAgain()
{
    QFETCH(double, share);
    QFETCH(LinkCutter::Cut, how);
    QVERIFY(m_rig);
    Rig &rig = *m_rig;
    const QString stored = rig.printer.path(QStringLiteral("MySSJFile.ssj"));
    const QString held = m_jobs.at(m_held);
    const QString sent = m_jobs.at(1 - m_held);
    QCOMPARE(fileBytes(stored), fileBytes(held));

    // The stream: sizes (16 bytes), the desktop's path of the file as a frame, the file.
    const qint64 streamBytes = 16 + 4 + 2 * sent.size() + QFileInfo(sent).size();
    const qint64 relayed = share <= 0.0 ? 10 : share >= 1.0 ? streamBytes - 1 : qint64(streamBytes * share);
    LinkCutter cutter(rig.printer.discoveryPort());
    QVERIFY(cutter.start());
    cutter.cutStreamAfter(relayed, how);
    const int received = rig.printer.logCount(QStringLiteral("Done receiving file"));
    const int closes = rig.printer.logCount(QStringLiteral("Client::connectionAliveTimedOut"));
    Cli broken(QStringList {QStringLiteral("print"), sent, QStringLiteral("--resin"), QStringLiteral("Clear"),
                   QStringLiteral("--wait"), QStringLiteral("60")}
        + Cli::network(cutter.tapPort(), rig.nextBasePort()));
    QVERIFY(broken.start());
    QVERIFY2(broken.waitForFinished(90000), qPrintable(broken.transcript()));
    QVERIFY(cutter.hasCut());
    QCOMPARE(cutter.streamBytesRelayed(), relayed);

    // The desktop says the connection is lost.
    QVERIFY2(broken.exitCode() == 1, qPrintable(broken.transcript()));
    const QString reported = lineWith(broken.err(), QStringLiteral("error: "));
    QVERIFY2(reported == QLatin1String("error: connection lost"), qPrintable(broken.transcript()));
    QVERIFY(broken.out().isEmpty());

    // The printer dropped the connection and the partial job with it: it
    // holds its previous job, whole, and nothing of this one beside it.
    QVERIFY2(rig.printer.waitForLog(QStringLiteral("Client::connectionAliveTimedOut"), closes + 1, 20000),
        qPrintable(rig.printer.log().right(3000)));
    QVERIFY(rig.printer.isRunning());
    QCOMPARE(rig.printer.logCount(QStringLiteral("Done receiving file")), received);
    QCOMPARE(fileBytes(stored), fileBytes(held));
    QCOMPARE(leftoversBeside(stored), QStringList());
    if (relayed >= 16) // the printer read the sizes: the stream is the one counted here
        QVERIFY(rig.printer.log().contains(QStringLiteral("/%1\n").arg(streamBytes)));

    // Waiting again: the next desktop finds it ready, sends the job again,
    // and it prints to the end.
    const int mark = rig.printer.log().size();
    Cli again(rig.printArguments(sent, 60));
    QVERIFY(again.start());
    QVERIFY2(again.waitForFinished(90000) && again.exitCode() == 0, qPrintable(again.transcript()));
    QCOMPARE(again.out(), QStringLiteral("print done\n"));
    const QString handshake = lineWith(rig.printer.log().mid(mark), QStringLiteral("Handshake Successful"));
    QVERIFY2(handshake.contains(QStringLiteral("PrintStatus_Ready")), qPrintable(handshake));
    QCOMPARE(fileBytes(stored), fileBytes(sent));
    QCOMPARE(leftoversBeside(stored), QStringList());
    m_held = 1 - m_held;

    outcome(QStringLiteral("transfer cut (%1)").arg(QLatin1String(QTest::currentDataTag())),
        QStringLiteral("link broken after %1 of %2 stream bytes; desktop: \"%3\"; printer kept its previous job "
                       "intact, dropped the partial one, reconnected ready; sent again: \"%4\"")
            .arg(relayed)
            .arg(streamBytes)
            .arg(reported, again.out().trimmed()));
}

QTEST_GUILESS_MAIN(TestTransferCut)
#include "tst_transfercut.moc"
