// ssj-contact-sheet run as the demo runs it: a job and the frames a print
// saved give a sheet where each shown layer's projected frame and sliced layer
// are the same lit shape, whatever black frames came between.
#include "contactsheet.h"
#include "crushedprintjob.h"
#include "testimages.h"
#include "testjobs.h"
#include "testpaths.h"

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kLayers = 5; // layer 0 blank, layer k lights the k-th quarter
const QSize kLayerSize(128, 80);

QImage layerImage(int layer)
{
    QImage image = blackImage(kLayerSize.width(), kLayerSize.height());
    if (layer > 0)
        QPainter(&image).fillRect(QRect((layer - 1) * 32, 0, 32, 80), Qt::white);
    return image;
}

// The middle of quarter `quarter` of a thumbnail drawn in `box`.
QPoint quarterMiddle(const QRect &box, int quarter)
{
    return QPoint(box.left() + box.width() * (2 * quarter + 1) / 8, box.center().y());
}

struct Run {
    int exitCode = -1;
    QString err;
};

Run runSheet(const QStringList &arguments)
{
    QProcess process;
    process.start(TestPaths::executable(QStringLiteral("ssj-contact-sheet")), arguments);
    Run run;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class TestContactSheet : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_job;

    // Frames as vatnode saves them; -1 a black frame, else that layer.
    QString writeFrames(const QString &name, const QList<int> &shown)
    {
        const QDir dir(m_dir.filePath(name));
        QDir().mkpath(dir.path());
        for (int i = 0; i < shown.size(); ++i) {
            const QImage frame = shown.at(i) < 0 ? blackImage(kLayerSize.width(), kLayerSize.height())
                                                 : layerImage(shown.at(i));
            frame.save(dir.filePath(QStringLiteral("frame_%1.png").arg(i + 1, 6, 10, QLatin1Char('0'))));
        }
        return dir.path();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        bool added = false;
        CrushedPrintJob job = layersJob(kLayers, layerImage, &added);
        QVERIFY(added);
        m_job = m_dir.filePath(QStringLiteral("job.ssj"));
        QVERIFY(job.saveCPJ(m_job));
    }

    void sheet_showsEachLayerWithItsFrame_data()
    {
        QTest::addColumn<QList<int>>("shown");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("expectedLayers");
        const QList<int> printed {0, -1, 1, -1, 2, -1, 3, -1, 4, -1};
        QTest::newRow("every layer") << printed << 8 << QList<int> {1, 2, 3, 4};
        QTest::newRow("three spread") << printed << 3 << QList<int> {1, 3, 4};
        QTest::newRow("paused after layer 2")
            << QList<int> {-1, 0, -1, 1, -1, 2, -1, -1, -1, 3, -1, 4, -1} << 8 << QList<int> {1, 2, 3, 4};
    }

    void sheet_showsEachLayerWithItsFrame()
    {
        QFETCH(QList<int>, shown);
        QFETCH(int, count);
        QFETCH(QList<int>, expectedLayers);
        const QString frames = writeFrames(QTest::currentDataTag(), shown);
        const QString sheetPath = m_dir.filePath(QStringLiteral("%1.png").arg(QTest::currentDataTag()));
        const Run run = runSheet({m_job, frames, QStringLiteral("-o"), sheetPath, QStringLiteral("--count"),
            QString::number(count)});
        QCOMPARE(run.exitCode, 0);
        const QImage sheet(sheetPath);
        QCOMPARE(sheet.size(), ContactSheet::sheetSize(expectedLayers.size()));
        for (int i = 0; i < expectedLayers.size(); ++i) {
            for (int quarter = 0; quarter < 4; ++quarter) {
                const bool lit = quarter == expectedLayers.at(i) - 1;
                const QPoint inFrame = quarterMiddle(ContactSheet::frameRect(i), quarter);
                const QPoint inLayer = quarterMiddle(ContactSheet::layerRect(i), quarter);
                QVERIFY2(isLit(sheet.pixel(inFrame)) == lit, qPrintable(QStringLiteral("pair %1, frame").arg(i)));
                QVERIFY2(isLit(sheet.pixel(inLayer)) == lit, qPrintable(QStringLiteral("pair %1, layer").arg(i)));
            }
        }
        // The place of a pair after the last one shows the background (as the corner does).
        if (expectedLayers.size() % ContactSheet::kColumns != 0)
            QCOMPARE(sheet.pixel(ContactSheet::frameRect(expectedLayers.size()).center()), sheet.pixel(0, 0));
    }

    void failures_exitStatusAndNoSheet_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        const QString noFrames = m_dir.filePath(QStringLiteral("no-frames"));
        QDir().mkpath(noFrames);
        const QString sheet = m_dir.filePath(QStringLiteral("failed.png"));
        QTest::newRow("no frames") << QStringList {m_job, noFrames, "-o", sheet} << 1;
        QTest::newRow("only black frames")
            << QStringList {m_job, writeFrames(QStringLiteral("black"), {-1, -1}), "-o", sheet} << 1;
        QTest::newRow("no job") << QStringList {m_dir.filePath("none.ssj"), noFrames, "-o", sheet} << 1;
        QTest::newRow("no output") << QStringList {m_job, noFrames} << 2;
        QTest::newRow("count zero") << QStringList {m_job, noFrames, "-o", sheet, "--count", "0"} << 2;
    }

    void failures_exitStatusAndNoSheet()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const Run run = runSheet(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(!run.err.isEmpty());
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("failed.png"))));
    }
};

QTEST_GUILESS_MAIN(TestContactSheet)
#include "tst_contactsheet.moc"
