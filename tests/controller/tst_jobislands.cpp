// Islands of a job as the window shows them: the viewer's list, its red overlay and the layer
// a click on an island goes to, the height of the shown layer, and the warning given after
// slicing and before a job is saved or sent, with the folder a job waits in meanwhile.
#include "controllertesting.h"
#include "jobfiles.h"
#include "jobfileviewer.h"
#include "myglwidget.h"
#include "testjobs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QVariantMap>

#include <memory>

using namespace ControllerTesting;

namespace {

int pixelsOfColour(const QImage &image, QRgb colour, const QRect &within = QRect())
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    const QRect area = within.isNull() ? argb.rect() : within;
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += argb.pixel(x, y) == colour;
    return count;
}

} // namespace

class TestJobIslands : public QObject
{
    Q_OBJECT

private:
    QUdpSocket m_discovery;
    QTemporaryDir m_dir;
    std::unique_ptr<MyGLWidget> m_widget;

    // Saves the job and opens it in the viewer; the path, or empty when either fails.
    QString openJob(const QString &name, CrushedPrintJob job)
    {
        const QString path = m_dir.filePath(name);
        return job.saveCPJ(path) && m_widget->setSSJViewerPath(path) == QStringLiteral("1") ? path : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_discovery.bind(QHostAddress(QHostAddress::LocalHost), 0));
        keepNetworkOnLoopback(m_discovery.localPort());
        QVERIFY(m_dir.isValid());
    }

    void init() { m_widget = std::make_unique<MyGLWidget>(); }
    void cleanup() { m_widget.reset(); }

    // ---- the viewer's list

    void viewer_listsIslandsOverFivePixels_withAreaAndPosition_data()
    {
        QTest::addColumn<QRect>("block");
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("listed");
        QTest::addColumn<double>("area");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        // 128 × 80 pixels: the centre lies between pixels 63 and 64, 39 and 40.
        QTest::newRow("5 pixels: tolerated")
            << QRect(60, 30, 5, 1) << "sliced at 100 microns" << 0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("6 pixels") << QRect(60, 30, 6, 1) << "sliced at 100 microns" << 1 << 0.06 << -0.1 << 0.95;
        QTest::newRow("upper right, 100 µm")
            << QRect(100, 10, 10, 8) << "sliced at 100 microns" << 1 << 0.8 << 4.1 << 2.6;
        QTest::newRow("lower left, 75 µm")
            << QRect(20, 60, 10, 8) << "sliced at 75 microns" << 1 << 0.45 << -2.925 << -1.8;
    }

    void viewer_listsIslandsOverFivePixels_withAreaAndPosition()
    {
        QFETCH(QRect, block);
        QFETCH(QString, description);
        QFETCH(int, listed);
        QFETCH(double, area);
        QFETCH(double, x);
        QFETCH(double, y);
        QVERIFY(!openJob("list.ssj", floatingBlockJob(6, 3, block, 0.05, QSize(128, 80), description)).isEmpty());
        const QVariantList islands = m_widget->requestSSJViewerIslands();
        QCOMPARE(islands.size(), listed);
        if (listed == 0)
            return;
        const QVariantMap island = islands.first().toMap();
        QCOMPARE(island.value("layer").toInt(), 4);
        QCOMPARE(island.value("pixels").toLongLong(), qint64(block.width()) * block.height());
        QVERIFY2(qAbs(island.value("area").toDouble() - area) < 1e-9 && qAbs(island.value("x").toDouble() - x) < 1e-9
                && qAbs(island.value("y").toDouble() - y) < 1e-9,
            qPrintable(island.value("text").toString()));
    }

    // ---- the overlay and the click on an island

    void viewer_clickOnIsland_showsItsLayer_withTheIslandRed()
    {
        const QRect block(60, 30, 10, 8);
        QVERIFY(!openJob("click.ssj", floatingBlockJob(8, 5, block)).isEmpty());
        QCOMPARE(pixelsOfColour(m_widget->lastShownImage(), JobFileViewer::kIslandColour), 0);

        QCOMPARE(m_widget->requestSSJViewerIsland(0), QStringLiteral("6"));
        const QImage shown = m_widget->lastShownImage();
        // Exactly the block is red; the post standing on the platform stays white.
        QCOMPARE(pixelsOfColour(shown, JobFileViewer::kIslandColour, block), block.width() * block.height());
        QCOMPARE(pixelsOfColour(shown, JobFileViewer::kIslandColour), block.width() * block.height());
        QCOMPARE(pixelsOfColour(shown, 0xFFFFFFFFu), 36);

        // Above, the block rests on itself: no red.
        QCOMPARE(m_widget->requestNextSSJViewerImage(), QStringLiteral("7"));
        QCOMPARE(pixelsOfColour(m_widget->lastShownImage(), JobFileViewer::kIslandColour), 0);
        QCOMPARE(pixelsOfColour(m_widget->lastShownImage(), 0xFFFFFFFFu), 36 + block.width() * block.height());

        // Highlighting off redraws the island's layer plain; on again, red.
        QCOMPARE(m_widget->requestSSJViewerLayer(6), QStringLiteral("6"));
        m_widget->setSSJViewerIslandsShown(false);
        QCOMPARE(pixelsOfColour(m_widget->lastShownImage(), JobFileViewer::kIslandColour), 0);
        m_widget->setSSJViewerIslandsShown(true);
        QCOMPARE(
            pixelsOfColour(m_widget->lastShownImage(), JobFileViewer::kIslandColour), block.width() * block.height());

        QCOMPARE(m_widget->requestSSJViewerIsland(1), QStringLiteral("n/a"));
        QCOMPARE(m_widget->requestSSJViewerLayer(0), QStringLiteral("1"));
        QCOMPARE(m_widget->requestSSJViewerLayer(99), QStringLiteral("8"));
    }

    void viewer_closedOrNeverOpened_hasNoIslandsNorText_unreadableJobNoWarning()
    {
        QSignalSpy found(m_widget.get(), &MyGLWidget::islandsFound);
        QVERIFY(!m_widget->warnOfIslands(m_dir.filePath(QStringLiteral("missing.ssj"))));
        QCOMPARE(found.count(), 0);
        QVERIFY(m_widget->requestSSJViewerIslands().isEmpty());
        QCOMPARE(m_widget->requestSSJViewerIsland(0), QStringLiteral("n/a"));
        QCOMPARE(m_widget->requestSSJViewerLayer(1), QStringLiteral("n/a"));
        QVERIFY(m_widget->requestSSJViewerLayerText().isEmpty());

        QVERIFY(!openJob("closed.ssj", floatingBlockJob(4, 2, QRect(60, 30, 10, 8))).isEmpty());
        QCOMPARE(m_widget->requestSSJViewerIslands().size(), 1);
        m_widget->clearSSJViewerPath();
        QVERIFY(m_widget->requestSSJViewerIslands().isEmpty());
    }

    // ---- the height of the shown layer

    void viewer_layerText_givesTheHeightReached_data()
    {
        QTest::addColumn<double>("thickness");
        QTest::addColumn<int>("layers");
        QTest::addColumn<int>("layer");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first of 100 µm") << 0.1 << 5 << 1 << "Layer 1 of 5 - 0.10 mm";
        QTest::newRow("third of 100 µm") << 0.1 << 5 << 3 << "Layer 3 of 5 - 0.30 mm";
        QTest::newRow("120th of 50 µm") << 0.05 << 400 << 120 << "Layer 120 of 400 - 6.00 mm";
        QTest::newRow("last of 20 µm") << 0.02 << 7 << 7 << "Layer 7 of 7 - 0.14 mm";
    }

    void viewer_layerText_givesTheHeightReached()
    {
        QFETCH(double, thickness);
        QFETCH(int, layers);
        QFETCH(int, layer);
        QVERIFY(!openJob("height.ssj", floatingBlockJob(layers, layers, QRect(60, 30, 10, 8), thickness, QSize(32, 20)))
                     .isEmpty());
        QCOMPARE(m_widget->requestSSJViewerLayer(layer), QString::number(layer));
        QTEST(m_widget->requestSSJViewerLayerText(), "expected");
    }

    // ---- the warning before a job is saved or sent

    void warning_firesWithIslands_andNotWithout_data()
    {
        QTest::addColumn<QList<QRect>>("blocks");
        QTest::addColumn<bool>("warned");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << QList<QRect>() << false << QString();
        QTest::newRow("5 pixels") << QList<QRect> {QRect(60, 30, 5, 1)} << false << QString();
        QTest::newRow("one") << QList<QRect> {QRect(60, 30, 7, 6)} << true
                             << "The supports leave 1 island (largest 42 px at layer 4).";
        QTest::newRow("touching at a corner: one") << QList<QRect> {QRect(60, 30, 4, 4), QRect(64, 34, 4, 4)} << true
                                                   << "The supports leave 1 island (largest 32 px at layer 4).";
        QTest::newRow("two apart") << QList<QRect> {QRect(60, 30, 4, 4), QRect(90, 50, 7, 6)} << true
                                   << "The supports leave 2 islands (largest 42 px at layer 4).";
    }

    void warning_firesWithIslands_andNotWithout()
    {
        QFETCH(QList<QRect>, blocks);
        QFETCH(bool, warned);
        CrushedPrintJob job = layersJob(6, [&](int layer) {
            QImage image = blackImage(128, 80);
            QPainter painter(&image);
            painter.fillRect(QRect(2, 2, 6, 6), Qt::white);
            for (const QRect &block : blocks)
                painter.fillRect(layer >= 3 ? block : QRect(), Qt::white);
            return image;
        });
        const QString path = m_dir.filePath(QStringLiteral("warn.ssj"));
        QVERIFY(job.saveCPJ(path));
        QSignalSpy found(m_widget.get(), &MyGLWidget::islandsFound);
        QCOMPARE(m_widget->warnOfIslands(path), warned);
        QCOMPARE(found.count(), warned ? 1 : 0);
        if (!warned)
            return;
        QCOMPARE(found.first().at(0).toString(), path);
        QTEST(found.first().at(1).toString(), "message");
        QCOMPARE(found.first().at(2).toInt(), 4);
    }

    void warning_namesCavitiesThatHoldResin_data()
    {
        QTest::addColumn<int>("floor");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("cavityLayer");
        QTest::newRow("closed box") << 3 << "1 closed cavity traps 11.4 mm³ of resin (layers 4-17); add a drain hole."
                                    << 4;
        QTest::newRow("open toward the platform") << 0
                                                  << "1 cavity open only toward the platform (layers 1-17) "
                                                     "pulls like a suction cup at every lift; add a vent hole."
                                                  << 1;
    }

    void warning_namesCavitiesThatHoldResin()
    {
        QFETCH(int, floor);
        const QString path = m_dir.filePath(QStringLiteral("cavity.ssj"));
        QVERIFY(hollowBoxJob(20, floor, 3).saveCPJ(path));
        QSignalSpy found(m_widget.get(), &MyGLWidget::islandsFound);
        QVERIFY(m_widget->warnOfIslands(path));
        QCOMPARE(found.count(), 1);
        QTEST(found.first().at(1).toString(), "message");
        QTEST(found.first().at(3).toInt(), "cavityLayer");
        // The viewer lists it after the islands, and draws it blue on its layers: the inside
        // of the box's walls (34 x 24 pixels), nothing outside.
        QCOMPARE(m_widget->setSSJViewerPath(path), QStringLiteral("1"));
        QCOMPARE(m_widget->requestSSJViewerIslands().size(), 1);
        QCOMPARE(m_widget->requestSSJViewerIsland(0), QString::number(found.first().at(3).toInt()));
        QCOMPARE(pixelsOfColour(m_widget->lastShownImage(), JobFileViewer::kCavityColour, QRect(23, 13, 34, 24)), 816);
        QCOMPARE(pixelsOfColour(m_widget->lastShownImage(), JobFileViewer::kCavityColour), 816);
    }

    // ---- the folder a sliced job waits in

    void scratchJob_keptReplacesTheDestination_discardedLeavesNothing()
    {
        const QString destination = m_dir.filePath(QStringLiteral("kept.ssj"));
        QFile old(destination);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older job");
        old.close();

        const QString scratch = m_widget->scratchJobPath(destination);
        QCOMPARE(QFileInfo(scratch).fileName(), QStringLiteral("kept.ssj"));
        QVERIFY(JobFiles::isInPrintFolder(scratch));
        QVERIFY(floatingBlockJob(3, 1, QRect(60, 30, 10, 8)).saveCPJ(scratch));
        const qint64 size = QFileInfo(scratch).size();

        QVERIFY(m_widget->keepScratchJob(scratch, destination));
        QCOMPARE(QFileInfo(destination).size(), size);
        QVERIFY(!QFileInfo::exists(QFileInfo(scratch).absolutePath()));
        QCOMPARE(m_widget->setSSJViewerPath(destination), QStringLiteral("1"));

        const QString other = m_widget->scratchJobPath(destination);
        QVERIFY(floatingBlockJob(3, 1, QRect(60, 30, 10, 8)).saveCPJ(other));
        m_widget->discardScratchJob(other);
        QVERIFY(!QFileInfo::exists(QFileInfo(other).absolutePath()));
        QVERIFY(!m_widget->keepScratchJob(other, destination));
        QCOMPARE(QFileInfo(destination).size(), size);
    }
};

QTEST_MAIN(TestJobIslands)
#include "tst_jobislands.moc"
