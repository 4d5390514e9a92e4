// A print across the network with the real programs: vatnode-boardsim on a
// pseudo-terminal, vatnode under Xvfb, and tessora-cli as the desktop, all on
// loopback. Jobs the print rule refuses, and a printer that needs a software update,
// end the command with the reason.
#include "fakeprinter.h"
#include "testpaths.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kScale = QStringLiteral("0.02");

// Ports of this test run, apart from other runs on the same machine.
int portBase()
{
    return 30000 + int(QCoreApplication::applicationPid() % 90) * 100;
}

} // namespace

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

private:
    QStringList networkOptions(int baseOffset) const;
    QProcess *runCli(const QStringList &arguments);

    QTemporaryDir m_dir;
    QProcess m_board;
    QProcess m_printer;
    QString m_job;
    QString m_job75; // the same layers, described as sliced for 75-micron printers
};

QStringList TestNetworkPrint::networkOptions(int baseOffset) const
{
    return {QStringLiteral("--discovery-target"), QStringLiteral("127.0.0.1"), QStringLiteral("--discovery-port"),
        QString::number(portBase()), QStringLiteral("--base-port"), QString::number(portBase() + baseOffset),
        QStringLiteral("--time-scale"), kScale};
}

void TestNetworkPrint::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty())
        QSKIP("xvfb-run is not installed");
    QVERIFY(m_dir.isValid());

    // A small job from the sample part's layers.
    QProcess layers;
    layers.start(TestPaths::executable(QStringLiteral("ssj-sample-layers")),
        {m_dir.filePath(QStringLiteral("layers")), QStringLiteral("--count"), QStringLiteral("4")});
    QVERIFY(layers.waitForFinished(60000) && layers.exitCode() == 0);
    m_job = m_dir.filePath(QStringLiteral("part.ssj"));
    QStringList pack {QStringLiteral("ssj"), QStringLiteral("pack")};
    for (const QString &name :
        QDir(m_dir.filePath(QStringLiteral("layers"))).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name))
        pack << m_dir.filePath(QStringLiteral("layers/") + name);
    m_job75 = m_dir.filePath(QStringLiteral("part75.ssj"));
    for (const QStringList &output : {QStringList {QStringLiteral("-o"), m_job},
             QStringList {QStringLiteral("-o"), m_job75, QStringLiteral("--description"),
                 QStringLiteral("sliced at 75 microns")}}) {
        QProcess packer;
        packer.start(TestPaths::executable(QStringLiteral("tessora-cli")), pack + output);
        QVERIFY(packer.waitForFinished(60000) && packer.exitCode() == 0);
    }

    m_board.start(TestPaths::executable(QStringLiteral("vatnode-boardsim")),
        {QStringLiteral("--link"), m_dir.filePath(QStringLiteral("board")), QStringLiteral("--speed"), kScale});
    QVERIFY(m_board.waitForStarted() && m_board.waitForReadyRead(10000));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    m_printer.setProcessEnvironment(env);
    m_printer.setProcessChannelMode(QProcess::MergedChannels);
    m_printer.setStandardOutputFile(m_dir.filePath(QStringLiteral("vatnode.out")));
    m_printer.start(QStringLiteral("xvfb-run"),
        {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 1280x800x24"),
            TestPaths::executable(QStringLiteral("vatnode")), QStringLiteral("--workdir"),
            m_dir.filePath(QStringLiteral("printer")), QStringLiteral("--serial-port"),
            m_dir.filePath(QStringLiteral("board")), QStringLiteral("--time-scale"), kScale,
            QStringLiteral("--discovery-port"), QString::number(portBase())});
    QVERIFY(m_printer.waitForStarted());
}

void TestNetworkPrint::cleanupTestCase()
{
    // vatnode first: xvfb-run then stops its X server itself and ends.
    // The pattern is anchored at vatnode's own command line: xvfb-run's holds
    // the same words, and killing it would leave its X server behind.
    QProcess::execute(QStringLiteral("pkill"),
        {QStringLiteral("-f"),
            QStringLiteral("^") + TestPaths::executable(QStringLiteral("vatnode")) + QStringLiteral(" --workdir")});
    for (QProcess *process : {&m_printer, &m_board}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        if (process != &m_printer || !process->waitForFinished(10000))
            process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished();
    }
}

QProcess *TestNetworkPrint::runCli(const QStringList &arguments)
{
    auto *cli = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    cli->setProcessEnvironment(env);
    cli->start(TestPaths::executable(QStringLiteral("tessora-cli")), arguments);
    return cli;
}

void TestNetworkPrint::printers_listsTheConnectedPrinter()
{
    QProcess *cli = runCli(QStringList {QStringLiteral("printers"), QStringLiteral("--json"), QStringLiteral("--wait"),
                               QStringLiteral("8")}
        + networkOptions(10));
    QVERIFY(cli->waitForFinished(60000));
    QCOMPARE(cli->exitCode(), 0);
    const QJsonArray printers = QJsonDocument::fromJson(cli->readAllStandardOutput()).array();
    QCOMPARE(printers.size(), 1);
    const QJsonObject printer = printers.first().toObject();
    QVERIFY(printer.value(QStringLiteral("serial")).toString().startsWith(QStringLiteral("OBW-TEST")));
    QCOMPARE(printer.value(QStringLiteral("model")).toString(), QStringLiteral("OBP100V1"));
    QCOMPARE(printer.value(QStringLiteral("version")).toDouble(), 4.51);
    QCOMPARE(printer.value(QStringLiteral("status")).toString(), QStringLiteral("PrintStatus_Ready"));
}

void TestNetworkPrint::print_sendsTheJobAndFollowsItToTheEnd()
{
    QProcess *cli = runCli(QStringList {QStringLiteral("print"), m_job, QStringLiteral("--resin"),
                               QStringLiteral("Clear"), QStringLiteral("--wait"), QStringLiteral("30")}
        + networkOptions(20));
    QVERIFY(cli->waitForFinished(120000));
    const QString err = QString::fromLocal8Bit(cli->readAllStandardError());
    QVERIFY2(cli->exitCode() == 0, qPrintable(err));
    QCOMPARE(QString::fromLocal8Bit(cli->readAllStandardOutput()), QStringLiteral("print done\n"));
    QVERIFY(err.contains(QStringLiteral("4 layers, Clear at 50 microns")));
    QVERIFY(err.contains(QStringLiteral("sending job")));
    QVERIFY(err.contains(QStringLiteral("printing: 100/100")));
}

void TestNetworkPrint::print_interactiveCancel_endsThePrint()
{
    QProcess *cli = runCli(QStringList {QStringLiteral("print"), m_job, QStringLiteral("--resin"),
                               QStringLiteral("Clear"), QStringLiteral("--interactive")}
        + networkOptions(30));
    QString err;
    QElapsedTimer clock;
    clock.start();
    while (!err.contains(QStringLiteral("printing:")) && clock.elapsed() < 60000) {
        cli->waitForReadyRead(100);
        err += QString::fromLocal8Bit(cli->readAllStandardError());
    }
    QVERIFY2(err.contains(QStringLiteral("printing:")), qPrintable(err));
    cli->write("cancel\n");
    QVERIFY(cli->waitForFinished(60000));
    QCOMPARE(cli->exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(cli->readAllStandardOutput()), QStringLiteral("print cancelled\n"));
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
    QProcess *cli = runCli(QStringList {QStringLiteral("print"), job75 ? m_job75 : m_job, QStringLiteral("--resin"),
                               resin, QStringLiteral("--wait"), QStringLiteral("30")}
        + networkOptions(job75 ? 50 : 40));
    QVERIFY(cli->waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(cli->readAllStandardError());
    QCOMPARE(cli->exitCode(), 1);
    QVERIFY2(err.contains(words), qPrintable(err));
    QVERIFY(err.contains(QStringLiteral("Nothing was sent to the printer.")));
}

void TestNetworkPrint::print_printerNeedsAnUpdate_failsWithoutConsent()
{
    // An old printer that connects by itself (the real one hears no announcement on this
    // port); nothing may reach it over SSH.
    const int basePort = portBase() + 60;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    env.insert(QStringLiteral("TESSORA_SSH_PORT"), QStringLiteral("1"));
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start(TestPaths::executable(QStringLiteral("tessora-cli")),
        {QStringLiteral("print"), m_job, QStringLiteral("--resin"), QStringLiteral("Clear"), QStringLiteral("--wait"),
            QStringLiteral("30"), QStringLiteral("--discovery-target"), QStringLiteral("127.0.0.1"),
            QStringLiteral("--discovery-port"), QString::number(portBase() + 99), QStringLiteral("--base-port"),
            QString::number(basePort)});
    FakePrinter printer;
    QVERIFY(QTest::qWaitFor([&] { return printer.connectTo(quint16(basePort + 1)); }, 30000));
    QVERIFY(QTest::qWaitFor([&] { return !printer.greeting.isEmpty(); }, 30000));
    printer.send(FakePrinter::reply(QStringLiteral("OLD-1"), QStringLiteral("OBP100V1"), QStringLiteral("4.0"),
        QStringLiteral("PrintStatus_Ready")));
    QVERIFY(cli.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(err.contains(QStringLiteral("error: printer OLD-1 needs a software update; run again with --allow-update "
                                         "to install it")),
        qPrintable(err));
}

QTEST_GUILESS_MAIN(TestNetworkPrint)
#include "tst_networkprint.moc"
