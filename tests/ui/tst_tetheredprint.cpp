// The printer tethered to this computer, from the window: the projector is the second screen of
// an X server with two, the board vatnode-boardsim on a pty, the job a model sliced by tessora-cli.
#include "crushedprintjob.h"
#include "faultharness.h"
#include "myglwidget.h"
#include "tessoraapp.h"
#include "testimages.h"
#include "testpaths.h"
#include "tetheredprinter.h"
#include "uitesting.h"

#include <QtTest>

using namespace UiTesting;

class TestTetheredPrint : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_shots, m_job;
    std::unique_ptr<Faults::Board> m_board;
    std::unique_ptr<TessoraWindow> m_app;
    QList<QImage> m_layers; // the job's lit layers
    QList<int> m_shown; // the layer each lit frame showed in the projection window, -1 for none

    QQuickWindow *window() { return &m_app->view(); }
    MyGLWidget *controller() { return qobject_cast<MyGLWidget *>(find(window(), QStringLiteral("controller"))); }
    QQuickWindow *projection() { return qobject_cast<QQuickWindow *>(controller()->projectionWindow()); }
    static QImage rgb(const QImage &image) { return image.convertToFormat(QImage::Format_RGB32); }
    static bool isBlack(const QImage &image) { return rgb(image) == rgb(blackImage(image.width(), image.height())); }
    // Each frame a layer, in the job's order (a layer may show again after a pause).
    bool shownInOrder() { return !m_shown.empty() && m_shown[0] >= 0 && std::is_sorted(m_shown.begin(), m_shown.end()); }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::screens().size(), 2);
        m_shots = screenshotDir(QStringLiteral("tessora-tethered"));
        // A 2 mm cube on its edge: each layer differs from the next.
        m_job = m_dir.filePath(QStringLiteral("cube.ssj"));
        Faults::Cli slice({"slice", TestPaths::sourceDir() + "/tests/data/meshes/binary_solidheader_cube20_with_hole.stl",
            "-o", m_job, "--layer", "100", "--scale", "0.1", "--rotate", "x:45"});
        QVERIFY2(slice.start() && slice.waitForFinished(120000) && !slice.exitCode(), qPrintable(slice.transcript()));
        CrushedPrintJob job;
        QFile file(m_job);
        QVERIFY(job.loadCPJ(&file));
        for (int i = 0; i < job.getTotalLayers(); ++i) {
            QImage layer = blackImage(1280, 800);
            job.setCurrentLayer(i);
            job.inflateCurrentSlice(&layer, 0, 0, false);
            if (!isBlack(layer))
                m_layers << rgb(layer);
        }
        QVERIFY(m_layers.size() > 10);

        Faults::kTimeScale = 0.02;
        m_board = std::make_unique<Faults::Board>(m_dir.path());
        QVERIFY(m_board->start());
        qputenv("TESSORA_TIME_SCALE", QByteArray::number(Faults::kTimeScale));
        qputenv("TESSORA_DISCOVERY_TARGET", "127.0.0.1");
        qputenv("TESSORA_DISCOVERY_PORT", QByteArray::number(Faults::freeUdpPort()));
        qputenv("TESSORA_BASE_PORT", QByteArray::number(Faults::freeTcpBasePort()));
        m_app = std::make_unique<TessoraWindow>();
        QVERIFY(m_app->show() && QTest::qWaitForWindowExposed(window()));
        // Connected after the controller: the frame has reached the projection window.
        connect(controller()->tetheredPrinter(), &TetheredPrinter::frame, this, [this](const QImage &frame) {
            const QImage shown = rgb(projection()->grabWindow());
            if (!isBlack(frame))
                m_shown << (shown == rgb(frame) ? int(m_layers.indexOf(shown)) : -1);
        });
    }

    // A screen beyond the second, a negative one, the window's own.
    void unusableScreen_refusedInWords()
    {
        for (const auto &[screen, words] : {std::pair<int, QString> {2, "this computer has no screen 2 (screens found: 2"},
                 {-1, "this computer has no screen -1"}, {0, "Screen 0 shows Tessora's window"}}) {
            QVERIFY(!controller()->printTethered(m_job, QStringLiteral("Clear"), screen, m_board->linkPath()));
            QTRY_VERIFY(find(window(), QStringLiteral("messageText"))->property("text").toString().contains(words));
            QVERIFY(controller()->tetheredState() == "idle" && !projection()->isVisible());
            QMetaObject::invokeMethod(find(window(), QStringLiteral("messageDialog")), "close");
        }
    }

    // Printed from the print dialog, paused and resumed from the controller, to its end.
    void jobFromPrintDialog_projectsEveryLayerThroughPauseUntilDone()
    {
        QSignalSpy ended(controller(), &MyGLWidget::tetheredPrintEnded);
        QObject *dialog = find(window(), QStringLiteral("printDialog"));
        QVERIFY(QMetaObject::invokeMethod(dialog, "openForJob", Q_ARG(QVariant, m_job)));
        QVERIFY(dialog->property("tethered").toBool()); // no printer on the network
        find(window(), QStringLiteral("printSerialPort"))->setProperty("text", m_board->linkPath());
        QQuickItem *start = findItem(window(), QStringLiteral("printStartButton"));
        QTRY_VERIFY(isUsable(start));
        QVERIFY(QMetaObject::invokeMethod(start, "clicked"));
        QTRY_VERIFY_WITH_TIMEOUT(m_shown.size() >= 3, TestPatience::kWaitMs);
        QVERIFY(projection()->isVisible() && projection()->screen() == QGuiApplication::screens().at(1));
        saveShot(projection(), m_shots, QStringLiteral("tethered-projection"));
        saveShot(window(), m_shots, QStringLiteral("tethered-printing"));
        controller()->pausePrint();
        QTRY_COMPARE_WITH_TIMEOUT(controller()->tetheredState(), QStringLiteral("paused"), TestPatience::kWaitMs);
        QVERIFY(isBlack(projection()->grabWindow())); // nothing lit while paused
        saveShot(window(), m_shots, QStringLiteral("tethered-paused")); // the progress, with Resume
        controller()->resumePrint();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 120000);
        QCOMPARE(ended.first().first().toString(), QStringLiteral("Print done: cube.ssj"));
        QVERIFY(shownInOrder() && QSet<int>(m_shown.begin(), m_shown.end()).size() == m_layers.size());
        QVERIFY(find(window(), QStringLiteral("tetheredPane"))->property("percent") == 100 && !projection()->isVisible());
    }

    void cancelledFromController_endsEarly()
    {
        m_shown.clear();
        QSignalSpy ended(controller(), &MyGLWidget::tetheredPrintEnded);
        // The dialog offers the board's port of the print that started last.
        QVERIFY(QMetaObject::invokeMethod(find(window(), QStringLiteral("printDialog")), "open"));
        QTRY_COMPARE(find(window(), QStringLiteral("printSerialPort"))->property("text").toString(), m_board->linkPath());
        QMetaObject::invokeMethod(find(window(), QStringLiteral("printDialog")), "close");
        QVERIFY(controller()->printTethered(m_job, QStringLiteral("Clear"), 1, m_board->linkPath()));
        QTRY_VERIFY_WITH_TIMEOUT(m_shown.size() >= 2, TestPatience::kWaitMs);
        controller()->cancelPrint();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, TestPatience::kWaitMs);
        QCOMPARE(ended.first().first().toString(), QStringLiteral("Print cancelled: cube.ssj"));
        QVERIFY(shownInOrder() && m_shown.last() < m_layers.size() - 1);
        QTRY_VERIFY(controller()->tetheredState() == "idle" && !projection()->isVisible());
    }
};

QTEST_MAIN(TestTetheredPrint)
#include "tst_tetheredprint.moc"
