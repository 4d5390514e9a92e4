// The desktop goes away in the middle of a print (its process killed) and a
// new one starts: the printer prints on alone, and the new desktop finds it
// printing and follows its progress to the end.
#include "faultharness.h"
#include "server.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

using namespace Faults;

namespace {

int movesReceived(const Board &board)
{
    int moves = 0;
    for (const QString &line : board.received()) {
        if (line.startsWith(QLatin1Char('N')))
            ++moves;
    }
    return moves;
}

// The layer number of every progress report the printer sent.
QList<int> progressLayers(const QString &log)
{
    static const QRegularExpression report(QStringLiteral("sendString:\\s+\"Send_PrintProgress,(\\d+),"));
    QList<int> layers;
    QRegularExpressionMatchIterator it = report.globalMatch(log);
    while (it.hasNext())
        layers << it.next().captured(1).toInt();
    return layers;
}

} // namespace

class TestDesktopRestart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void desktopRestartedMidPrint_printerPrintsOn_newDesktopFollows();

private:
    QTemporaryDir m_dir;
    XServer m_x;
    QString m_job;
};

void TestDesktopRestart::initTestCase()
{
    QString error;
    QVERIFY2(prepare(m_dir, m_x, &error), qPrintable(error));
    m_job = makeSampleJob(m_dir.path(), QStringLiteral("part.ssj"), 16, &error);
    QVERIFY2(!m_job.isEmpty(), qPrintable(error));
}

void TestDesktopRestart::desktopRestartedMidPrint_printerPrintsOn_newDesktopFollows()
{
    Rig rig(m_dir.filePath(QStringLiteral("restart")), m_x.display());
    QString error;
    QVERIFY2(rig.start(&error), qPrintable(error));
    constexpr int kLayers = 16;

    Cli first(rig.printArguments(m_job, 60));
    QVERIFY(first.start());
    // Two layers done (the report of layer 0 comes first).
    QVERIFY2(
        waitFor([&] { return progressLayers(rig.printer.log()).size() >= 3; }, 60000), qPrintable(first.transcript()));
    first.kill();
    const int layerAtKill = progressLayers(rig.printer.log()).constLast();
    const int movesAtKill = movesReceived(rig.board);

    // The printer notices the desktop is gone and prints on.
    QVERIFY2(rig.printer.waitForLog(QStringLiteral("Client::connectionAliveTimedOut"), 1, 10000),
        qPrintable(rig.printer.log().right(3000)));
    QVERIFY2(waitFor([&] { return movesReceived(rig.board) > movesAtKill; }, 20000),
        qPrintable(rig.board.received().join(QLatin1Char(' '))));

    // A new desktop program lists it as printing.
    Cli list(QStringList {
                 QStringLiteral("printers"), QStringLiteral("--json"), QStringLiteral("--wait"), QStringLiteral("2")}
        + Cli::network(rig.printer.discoveryPort(), rig.nextBasePort()));
    QVERIFY(list.start());
    QVERIFY2(list.waitForFinished(30000) && list.exitCode() == 0, qPrintable(list.transcript()));
    const QJsonArray printers = QJsonDocument::fromJson(list.out().toUtf8()).array();
    QCOMPARE(printers.size(), 1);
    const QString serial = printers.first().toObject().value(QStringLiteral("serial")).toString();
    QCOMPARE(
        printers.first().toObject().value(QStringLiteral("status")).toString(), QStringLiteral("PrintStatus_Printing"));

    // The new desktop's printer link (what its window shows) gets the progress
    // of the print it did not start, and its end.
    DesktopLink desktop(rig.printer.discoveryPort());
    QList<int> layers;
    QList<int> percents;
    QString resin;
    bool done = false;
    QObject::connect(&desktop.server(), &Server::updatePrintProgress,
        [&](const QString &from, int layer, int percent, int, const QString &, const QString &resinName, int) {
            if (from != serial)
                return;
            layers << layer;
            percents << percent;
            resin = resinName;
        });
    QObject::connect(&desktop.server(), &Server::updatePrintDone, [&](const QString &from) { done = from == serial; });
    QVERIFY(desktop.waitForPrinter(20000));
    const QString connectedStatus = desktop.status;
    QCOMPARE(connectedStatus, QStringLiteral("PrintStatus_Printing"));
    QVERIFY2(waitFor([&] { return !layers.isEmpty(); }, 10000), "no progress after the handshake");
    // The first report answers the new desktop's request: where the print stands now.
    QVERIFY2(layers.first() > layerAtKill,
        qPrintable(QStringLiteral("layer %1 after layer %2 at the restart").arg(layers.first()).arg(layerAtKill)));
    QVERIFY2(waitFor([&] { return done; }, 60000), qPrintable(rig.printer.log().right(3000)));
    QCOMPARE(resin, QStringLiteral("Clear"));
    QVERIFY(layers.constLast() >= kLayers);
    QCOMPARE(percents.constLast(), 100);
    for (int i = 1; i < layers.size(); ++i)
        QVERIFY(layers.at(i) >= layers.at(i - 1));

    const QString problems = rig.problems();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
    outcome(QStringLiteral("desktop restarted"),
        QStringLiteral("desktop killed after layer %1 of %2; the printer printed on; the new desktop listed it as "
                       "%3, was told where it stood at once (layer %4), then followed it to %5% and print done")
            .arg(layerAtKill)
            .arg(kLayers)
            .arg(connectedStatus)
            .arg(layers.first())
            .arg(percents.constLast()));
}

QTEST_GUILESS_MAIN(TestDesktopRestart)
#include "tst_desktoprestart.moc"
