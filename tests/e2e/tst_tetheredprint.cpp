// A printer tethered to the desktop, end to end: tessora-cli print-tethered on
// vatnode-boardsim's pseudo-terminal, projecting on the second screen of an X server of the
// test's own.
#include "faultharness.h"
#include "testjobs.h"

#include <QDir>
#include <QPainter>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

using namespace Faults;

namespace {

constexpr int kLayers = 5;
constexpr int kPrintMs = 120000;

// Layer n of the test jobs: a white square whose column tells the layer.
QImage layerImage(int layer)
{
    QImage image = blackImage(64, 40);
    QPainter(&image).fillRect(QRect(4 + 10 * layer, 5, 8, 6), Qt::white);
    return image;
}

// A job of such layers, `thicknessMm` thick, with that description.
bool saveJob(
    const QString &path, double thicknessMm = 0.1, const QString &description = QStringLiteral("sliced at 100 microns"))
{
    CrushedPrintJob job = layersJob(kLayers, layerImage);
    job.setLayerThickness(thicknessMm);
    job.setDescription(description);
    return job.saveCPJ(path);
}

} // namespace

class TestTetheredPrint : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            QSKIP("Xvfb is not installed");
        QString error;
        QVERIFY2(m_x.start(&error, 2), qPrintable(error));
        // The command's window goes to this server's screens.
        qputenv("DISPLAY", m_x.display().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("QT_QUICK_BACKEND", "software");
        QVERIFY(saveJob(m_dir.filePath(QStringLiteral("job.ssj"))));
    }

    void init()
    {
        m_board.reset(); // a board of its own for each print, on a link of its own
        const QString dir = m_dir.filePath(QStringLiteral("%1 %2").arg(
            QTest::currentTestFunction(), QTest::currentDataTag() ? QTest::currentDataTag() : ""));
        QDir().mkpath(dir);
        m_board = std::make_unique<Board>(dir);
        QVERIFY(m_board->start());
    }

    void print_projectsEveryLayerOnItsScreenAndFinishes()
    {
        const QString frames = m_dir.filePath(QStringLiteral("frames"));
        Cli cli(printArguments(QStringLiteral("job.ssj"), {QStringLiteral("--frames-dir"), frames}));
        QVERIFY(cli.start());
        QVERIFY2(cli.waitForFinished(kPrintMs) && cli.exitCode() == 0, qPrintable(cli.transcript()));
        QVERIFY(cli.out().contains(QStringLiteral("print done")));

        // Black before the first layer, then each layer followed by black.
        QList<QImage> layers; // as projected: scaled to 1280 x 800, nearest neighbour
        for (int layer = 0; layer < kLayers; ++layer)
            layers << layerImage(layer).scaled(1280, 800);
        QStringList shown;
        for (const QString &name : QDir(frames).entryList({QStringLiteral("frame_*.png")}, QDir::Files, QDir::Name))
            shown << QString::number(shownLayer(QImage(QDir(frames).filePath(name)), layers));
        QCOMPARE(shown, QStringList({"-1", "0", "-1", "1", "-1", "2", "-1", "3", "-1", "4", "-1"}));
        // One move a layer: the resin's three adhesion layers of 20 microns, then the job's of 100;
        // then the lamp off and the final movement.
        const QStringList lines = m_board->received();
        QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^N"))), QStringList({"N2", "N4", "N6", "N16", "N26"}));
        QCOMPARE(lines.mid(lines.size() - 2), QStringList({"P0", "f"}));
    }

    void pauseResumeCancel_eachWaitsForItsMovement()
    {
        Cli cli(printArguments(QStringLiteral("job.ssj"), {QStringLiteral("--interactive")}));
        QVERIFY(cli.start());
        QVERIFY2(cli.waitForError(QStringLiteral("(20%)"), kPrintMs), qPrintable(cli.transcript()));
        cli.writeLine("pause");
        QVERIFY2(cli.waitForError(QStringLiteral("print paused"), kPrintMs), qPrintable(cli.transcript()));
        // Paused: the platform stands, and the board was asked nothing since the pause.
        QCOMPARE(m_board->received().last(), QStringLiteral("R410"));
        cli.writeLine("resume");
        QVERIFY2(cli.waitForError(QStringLiteral("print resumed"), kPrintMs), qPrintable(cli.transcript()));
        cli.writeLine("cancel");
        QVERIFY2(cli.waitForFinished(kPrintMs) && cli.exitCode() == 0, qPrintable(cli.transcript()));
        QVERIFY(cli.out().contains(QStringLiteral("print cancelled")));
        const QStringList lines = m_board->received();
        QCOMPARE(lines.count(QStringLiteral("R410")), 2);
        QCOMPARE(lines.last(), QStringLiteral("f"));
        QVERIFY(lines.filter(QRegularExpression(QStringLiteral("^N"))).size() < kLayers);
    }

    void boardTrouble_endsThePrintInWords_data()
    {
        QTest::addColumn<QByteArray>("trouble");
        QTest::addColumn<QString>("words");
        QTest::newRow("board killed") << QByteArray() << QStringLiteral("the printer lost its motor board");
        QTest::newRow("board stalls") << QByteArray("stall") << QStringLiteral("the printer's board stopped answering");
    }

    void boardTrouble_endsThePrintInWords()
    {
        QFETCH(QByteArray, trouble);
        QFETCH(QString, words);
        Cli cli(printArguments(QStringLiteral("job.ssj")));
        QVERIFY(cli.start());
        QVERIFY2(cli.waitForError(QStringLiteral("(20%)"), kPrintMs), qPrintable(cli.transcript()));
        if (trouble.isEmpty())
            m_board.reset();
        else
            m_board->control(trouble);
        QVERIFY2(cli.waitForFinished(kPrintMs) && cli.exitCode() == 1, qPrintable(cli.transcript()));
        QVERIFY2(cli.err().contains(QStringLiteral("error: printing error: ") + words), qPrintable(cli.transcript()));
        if (m_board) // a board still there has its lamp turned off
            QTRY_COMPARE(m_board->received().last(), QStringLiteral("P0"));
    }

    void refusal_exitsOneWithWords_data()
    {
        QTest::addColumn<double>("thickness");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("words");
        const QString for100 = QStringLiteral("sliced at 100 microns");
        QTest::newRow("30-micron layers")
            << 0.03 << for100 << QStringList() << QStringLiteral("has layers of 30 microns");
        QTest::newRow("75-micron job") << 0.1 << QStringLiteral("sliced at 75 microns") << QStringList()
                                       << QStringLiteral("sliced for 75-micron printers");
        QTest::newRow("100-micron job on a 75") << 0.1 << for100 << QStringList({QStringLiteral("--printer-75")})
                                                << QStringLiteral("sliced for 100-micron printers");
        QTest::newRow("resin without 100 microns")
            << 0.1 << for100 << QStringList({QStringLiteral("--resin"), QStringLiteral("Castable")})
            << QStringLiteral("not offered for layers of 100");
        QTest::newRow("no such screen") << 0.1 << for100
                                        << QStringList({QStringLiteral("--screen"), QStringLiteral("2")})
                                        << QStringLiteral("Second screen not found. Screen count: 2");
    }

    void refusal_exitsOneWithWords()
    {
        QFETCH(double, thickness);
        QFETCH(QString, description);
        QFETCH(QStringList, options);
        QFETCH(QString, words);
        QVERIFY(saveJob(m_dir.filePath(QStringLiteral("refused.ssj")), thickness, description));
        Cli cli(printArguments(QStringLiteral("refused.ssj"), options));
        QVERIFY(cli.start());
        QVERIFY2(cli.waitForFinished(kPrintMs) && cli.exitCode() == 1, qPrintable(cli.transcript()));
        QVERIFY2(cli.err().contains(words), qPrintable(cli.transcript()));
        QVERIFY(!m_board->received().contains(QStringLiteral("R")));
    }

private:
    QStringList printArguments(const QString &job, const QStringList &more = {}) const
    {
        return QStringList {QStringLiteral("print-tethered"), m_dir.filePath(job), QStringLiteral("--resin"),
                   QStringLiteral("Clear"), QStringLiteral("--serial-port"), m_board->linkPath(),
                   QStringLiteral("--time-scale"), timeScaleText()}
        + more;
    }

    QTemporaryDir m_dir;
    XServer m_x;
    std::unique_ptr<Board> m_board;
};

QTEST_GUILESS_MAIN(TestTetheredPrint)
#include "tst_tetheredprint.moc"
