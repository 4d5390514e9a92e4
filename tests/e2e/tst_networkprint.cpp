// A print across the network with the real programs: vatnode-boardsim on a
// pseudo-terminal, vatnode under an X server of the test's own, and tessora-cli as the
// desktop, all on loopback. Jobs the print rule refuses, and a printer that needs a
// software update, end the command with the reason.
#include "fakeprinter.h"
#include "faultharness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Faults;

class TestNetworkPrint : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void printers_listsTheConnectedPrinter();
    void print_sendsTheJobAndFollowsItToTheEnd();
    void print_interactiveCancel_endsThePrint();
    void print_refusedByThePrintRule_failsWithItsWords_data();
    void print_refusedByThePrintRule_failsWithItsWords();
    void print_printerNeedsAnUpdate_failsWithoutConsent();

private:
    QTemporaryDir m_dir;
    XServer m_x;
    std::unique_ptr<Rig> m_rig;
    QString m_job;
    QString m_job75; // the same layers, described as sliced for 75-micron printers
};

void TestNetworkPrint::initTestCase()
{
    QString error;
    QVERIFY2(prepare(m_dir, m_x, &error), qPrintable(error));
    m_job = makeSampleJob(m_dir.path(), QStringLiteral("part.ssj"), 4, &error, QStringLiteral("sliced at 100 microns"));
    m_job75
        = makeSampleJob(m_dir.path(), QStringLiteral("part75.ssj"), 4, &error, QStringLiteral("sliced at 75 microns"));
    QVERIFY2(!m_job.isEmpty() && !m_job75.isEmpty(), qPrintable(error));
    m_rig = std::make_unique<Rig>(m_dir.filePath(QStringLiteral("rig")), m_x.display());
    QVERIFY2(m_rig->start(&error), qPrintable(error));
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

QTEST_GUILESS_MAIN(TestNetworkPrint)
#include "tst_networkprint.moc"
