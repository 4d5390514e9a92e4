// The printer tethered to this computer, from the window: the projector is the second screen of
// an X server with two, the board vatnode-boardsim on a pty, the job a model sliced by tessora-cli.
#include "controllertesting.h"
#include "crushedprintjob.h"
#include "faultharness.h"
#include "tessoraapp.h"
#include "testimages.h"
#include "testpaths.h"
#include "tetheredprinter.h"
#include "uitesting.h"

#include <QtTest>

using namespace UiTesting;

class TestTetheredWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_shots = screenshotDir(QStringLiteral("tessora-tethered"));
    QString m_job = m_dir.filePath(QStringLiteral("cube.ssj"));
    std::unique_ptr<Faults::Board> m_board;
    std::unique_ptr<TessoraWindow> m_app;
    QList<QImage> m_layers; // the job's lit layers
    QList<int> m_seen; // per lit frame, the layer the projection window showed then (-2: none)

    QQuickWindow *window() { return &m_app->view(); }
    QObject *named(const char *name) { return find(window(), QLatin1String(name)); }
    MyGLWidget *controller() { return qobject_cast<MyGLWidget *>(named("controller")); }
    QQuickWindow *projection() { return qobject_cast<QQuickWindow *>(controller()->projectionWindow()); }
    // Each frame a layer, in the job's order (a layer may show again after a pause).
    bool inOrder() { return !m_seen.empty() && m_seen[0] >= 0 && std::is_sorted(m_seen.begin(), m_seen.end()); }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::screens().size(), 2);
        Faults::Cli slice( // a 2 mm cube on its edge: each layer differs from the next
            {"slice", TestPaths::sourceDir() + "/tests/data/meshes/binary_solidheader_cube20_with_hole.stl", "-o",
                m_job, "--layer", "100", "--scale", "0.1", "--rotate", "x:45"});
        QVERIFY2(slice.start() && slice.waitForFinished(120000) && !slice.exitCode(), qPrintable(slice.transcript()));
        CrushedPrintJob job;
        QFile file(m_job);
        QVERIFY(job.loadCPJ(&file));
        for (int i = 0; i < job.getTotalLayers(); ++i) {
            QImage layer = blackImage(1280, 800);
            job.setCurrentLayer(i);
            job.inflateCurrentSlice(&layer, 0, 0, false);
            if (shownLayer(layer, {}) != -1)
                m_layers << layer;
        }
        QVERIFY((m_board = std::make_unique<Faults::Board>(m_dir.path()))->start());
        qputenv("TESSORA_TIME_SCALE", QByteArray::number(Faults::kTimeScale));
        ControllerTesting::keepNetworkOnLoopback(Faults::freeUdpPort());
        m_app = std::make_unique<TessoraWindow>();
        QVERIFY(m_app->show() && QTest::qWaitForWindowExposed(window()));
        connect(controller()->tetheredPrinter(), &TetheredPrinter::frame, this, [this] {
            if (const int layer = shownLayer(projection()->grabWindow(), m_layers); layer != -1)
                m_seen << layer;
        });
    }

    void unusableScreen_refusedInWords()
    {
        for (const auto &[screen, words] :
            {std::pair<int, QString> {2, "this computer has no screen 2 (screens found: 2"},
                {-1, "this computer has no screen -1"}, {0, "Screen 0 shows Tessora's window"}}) {
            QVERIFY(!controller()->printTethered(m_job, QStringLiteral("Clear"), screen, m_board->linkPath()));
            QTRY_VERIFY(named("messageText")->property("text").toString().contains(words));
            QVERIFY(controller()->tetheredState() == "idle" && !projection()->isVisible());
            QMetaObject::invokeMethod(named("messageDialog"), "close");
        }
        // The window's resin list decides, as for a networked print: Clear taken out of it is
        // refused.
        const QStringList resins = controller()->getResinDataAsStringList();
        QVariantList others;
        for (int first = 0; first + 7 <= resins.size(); first += 7)
            for (int i = first; i < first + 7 && resins[first] != QLatin1String("Clear"); ++i)
                others << resins[i];
        controller()->saveResinCureTimes(others);
        QVERIFY(!controller()->printTethered(m_job, QStringLiteral("Clear"), 1, m_board->linkPath()));
        QTRY_VERIFY(named("messageText")->property("text").toString().contains(QLatin1String("Clear")));
        QMetaObject::invokeMethod(named("messageDialog"), "close");
        controller()->saveResinCureTimes(QVariant(resins).toList());
    }

    void jobFromPrintDialog_projectsEveryLayerThroughPauseUntilDone()
    {
        QSignalSpy end(controller(), &MyGLWidget::tetheredPrintEnded);
        QVERIFY(QMetaObject::invokeMethod(named("printDialog"), "openForJob", Q_ARG(QVariant, m_job)));
        named("printSerialPort")->setProperty("text", m_board->linkPath());
        QTRY_VERIFY(isUsable(findItem(window(), QStringLiteral("printStartButton"))));
        QVERIFY(QMetaObject::invokeMethod(named("printStartButton"), "clicked"));
        QTRY_VERIFY_WITH_TIMEOUT(m_seen.size() >= 3, TestPatience::kWaitMs);
        QVERIFY(projection()->isVisible() && projection()->screen() == QGuiApplication::screens().at(1));
        saveShot(projection(), m_shots, QStringLiteral("tethered-projection"));
        saveShot(window(), m_shots, QStringLiteral("tethered-printing"));
        controller()->pausePrint();
        QTRY_COMPARE_WITH_TIMEOUT(controller()->tetheredState(), QStringLiteral("paused"), TestPatience::kWaitMs);
        QCOMPARE(shownLayer(projection()->grabWindow(), {}), -1); // nothing lit while paused
        saveShot(window(), m_shots, QStringLiteral("tethered-paused")); // the progress, with Resume
        controller()->resumePrint();
        QTRY_COMPARE_WITH_TIMEOUT(end.value(0).value(0).toString(), QStringLiteral("Print done: cube.ssj"), 120000);
        QVERIFY(inOrder() && QSet<int>(m_seen.begin(), m_seen.end()).size() == m_layers.size());
        QVERIFY(named("tetheredPane")->property("percent") == 100 && !projection()->isVisible());
    }

    void windowClosedWhilePrinting_cancelsThenCloses()
    {
        m_seen.clear();
        QSignalSpy end(controller(), &MyGLWidget::tetheredPrintEnded);
        QVERIFY(controller()->printTethered(m_job, QStringLiteral("Clear"), 1, m_board->linkPath()));
        QTRY_VERIFY_WITH_TIMEOUT(m_seen.size() >= 2, TestPatience::kWaitMs);
        window()->close();
        QVERIFY(window()->isVisible() && QMetaObject::invokeMethod(named("closeConfirmDialogYesButton"), "clicked"));
        QTRY_COMPARE_WITH_TIMEOUT(end.value(0).value(0).toString(), QStringLiteral("Print cancelled: cube.ssj"), 60000);
        QVERIFY(inOrder() && m_seen.last() < m_layers.size() - 1);
        QTRY_VERIFY(!window()->isVisible() && !projection()->isVisible());
    }

    // Last, as the board is stalled on the way.
    void boardStalled_stopsThePrintInWords()
    {
        QVERIFY(QMetaObject::invokeMethod(named("printDialog"), "recallTetheredPrinter")); // the last print's port
        QVERIFY(controller()->printTethered(m_job, "Clear", 1, named("printSerialPort")->property("text").toString()));
        QTRY_COMPARE_WITH_TIMEOUT(controller()->tetheredState(), QStringLiteral("printing"), TestPatience::kWaitMs);
        m_board->control("stall");
        QTRY_COMPARE_WITH_TIMEOUT(named("messageText")->property("text").toString(),
            QStringLiteral("The print of cube.ssj stopped: the printer's board stopped answering"), 60000);
        // Answering again, the board takes the next print to its end: no watch of the print
        // given up reports into it.
        m_board->control("unstall");
        QSignalSpy end(controller(), &MyGLWidget::tetheredPrintEnded);
        QVERIFY(controller()->printTethered(m_job, "Clear", 1, named("printSerialPort")->property("text").toString()));
        QTRY_COMPARE_WITH_TIMEOUT(end.count(), 1, 120000);
        QCOMPARE(end.value(0).value(0).toString(), QStringLiteral("Print done: cube.ssj"));
    }
};

QTEST_MAIN(TestTetheredWindow)
#include "tst_tetheredwindow.moc"
