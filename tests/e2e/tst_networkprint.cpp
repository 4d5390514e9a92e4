// A print across the network with the real programs: vatnode-boardsim on a
// pseudo-terminal, vatnode under Xvfb, and tessora-cli as the desktop, all on
// loopback.
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
    void print_unknownResin_failsWithTheList();

private:
    QStringList networkOptions(int baseOffset) const;
    QProcess *runCli(const QStringList &arguments);

    QTemporaryDir m_dir;
    QProcess m_board;
    QProcess m_printer;
    QString m_job;
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
    pack << QStringLiteral("-o") << m_job;
    QProcess packer;
    packer.start(TestPaths::executable(QStringLiteral("tessora-cli")), pack);
    QVERIFY(packer.waitForFinished(60000) && packer.exitCode() == 0);

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

void TestNetworkPrint::print_unknownResin_failsWithTheList()
{
    QProcess *cli = runCli(QStringList {QStringLiteral("print"), m_job, QStringLiteral("--resin"),
                               QStringLiteral("Unobtainium"), QStringLiteral("--wait"), QStringLiteral("30")}
        + networkOptions(40));
    QVERIFY(cli->waitForFinished(60000));
    QCOMPARE(cli->exitCode(), 1);
    const QString err = QString::fromLocal8Bit(cli->readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("error: printer")) && err.contains(QStringLiteral("no resin \"Unobtainium\"")),
        qPrintable(err));
    QVERIFY(err.contains(QStringLiteral("Clear")));
}

QTEST_GUILESS_MAIN(TestNetworkPrint)
#include "tst_networkprint.moc"
