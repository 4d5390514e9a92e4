// The whole job in the desktop program's window, as a user does it: a real mesh is
// imported, scaled and supported, sliced to a job file, opened in the job viewer and
// printed on vatnode (with the simulated board, on loopback) until the printer reports the
// print done. The printer stays connected throughout, the window's long work included. Each
// stage is saved as a PNG (TESSORA_SCREENSHOT_DIR, else a folder in the temp dir); what the
// 3D view draws is tst_viewrendering's.
#include "crushedprintjob.h"
#include "faultharness.h"
#include "tessoraapp.h"
#include "testpaths.h"
#include "uitesting.h"

#include <QApplication>
#include <QDir>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace UiTesting;

namespace {

constexpr double kTimeScale = 0.02; // printer, board and desktop: 1 s takes 20 ms

// A button inside a popup, pressed as its click would: a click by position can miss while
// the popup is still opening on a busy machine.
bool press(QQuickItem *button)
{
    return button && isUsable(button) && QMetaObject::invokeMethod(button, "clicked");
}

} // namespace

class TestWindowPrint : public QObject
{
    Q_OBJECT

private:
    QQuickWindow *window() { return &m_app->view(); }
    QObject *root() { return m_app->view().rootObject(); }

    QTemporaryDir m_dir;
    QString m_shots;
    Faults::XServer m_printerScreen;
    std::unique_ptr<Faults::Rig> m_rig;
    std::unique_ptr<TessoraWindow> m_app;
    QStringList m_stages;

    void shoot(const QString &name)
    {
        QVERIFY(!saveShot(window(), m_shots, name).isNull());
        m_stages << name;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_shots = screenshotDir(QStringLiteral("tessora-windowprint"));

        // The printer projects full screen on an X server of its own: on the window's, it would
        // cover the window, which then draws nothing.
        Faults::kTimeScale = kTimeScale;
        QString error;
        QVERIFY2(m_printerScreen.start(&error), qPrintable(error));
        m_rig = std::make_unique<Faults::Rig>(m_dir.filePath(QStringLiteral("printer")), m_printerScreen.display());
        QVERIFY2(m_rig->start(&error), qPrintable(error));

        // The desktop announces itself to this printer only, on loopback, and keeps the
        // printer's time.
        qputenv("TESSORA_TIME_SCALE", QByteArray::number(kTimeScale));
        qputenv("TESSORA_DISCOVERY_TARGET", "127.0.0.1");
        qputenv("TESSORA_DISCOVERY_PORT", QByteArray::number(m_rig->printer.discoveryPort()));
        qputenv("TESSORA_BASE_PORT", QByteArray::number(m_rig->nextBasePort()));
        m_app = std::make_unique<TessoraWindow>();
        QVERIFY(m_app->show());
        m_app->view().resize(1100, 760);
        QVERIFY(QTest::qWaitForWindowExposed(window()));
    }

    void cleanupTestCase()
    {
        m_app.reset();
        if (m_rig) {
            const QString problems = m_rig->problems();
            m_rig->printer.stop();
            QVERIFY2(problems.isEmpty(), qPrintable(problems));
        }
        qInfo().noquote() << "Screenshots in" << m_shots << ":" << m_stages.join(QStringLiteral(", "));
    }

    void importSupportSliceAndPrint()
    {
        QObject *controller = find(window(), QStringLiteral("controller"));
        QVERIFY(controller);
        QSignalSpy printDone(controller, SIGNAL(updatePrintDone_networkForQML(QString)));
        QSignalSpy progress(
            controller, SIGNAL(updatePrintProgress_networkForQML(QString, int, int, int, QString, QString, int)));
        QSignalSpy gone(controller, SIGNAL(sendPrinterDisconnected_networking(QString)));

        // 1. The printer finds the desktop's announcement and connects.
        QQuickItem *printers = findItem(window(), QStringLiteral("printersButton"));
        QVERIFY(printers);
        QTRY_COMPARE_WITH_TIMEOUT(root()->property("printerCount").toInt(), 1, TestPatience::kWaitMs);
        shoot(QStringLiteral("01-printer-connected"));

        // 2. A real mesh, imported as the file dialog or a drop would hand it over.
        const QString mesh
            = QDir(TestPaths::sourceDir()).filePath(QStringLiteral("tests/data/meshes/binary_wuson_twin.stl"));
        QVERIFY(QMetaObject::invokeMethod(root(), "importModels", Q_ARG(QVariant, QVariant(QStringList {mesh}))));
        // This mesh was drawn in inches (under 1 unit across): the import asks, and the user
        // answers inches.
        QQuickItem *inches = findItem(window(), QStringLiteral("unitsPromptAcceptButton"));
        QTRY_VERIFY_WITH_TIMEOUT(isUsable(inches), 60000);
        shoot(QStringLiteral("02-import-question"));
        QVERIFY(click(window(), inches));
        QTRY_VERIFY_WITH_TIMEOUT(root()->property("hasModels").toBool(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!root()->property("busy").toBool(), 60000);
        shoot(QStringLiteral("03-model-imported"));

        // The mesh was drawn in inches (82 mm tall): small enough to print in seconds at 10 %.
        QQuickItem *scale = findItem(window(), QStringLiteral("scale"));
        QVERIFY(scale);
        QTRY_VERIFY_WITH_TIMEOUT(isUsable(scale), TestPatience::kWaitMs);
        const double height = root()->property("maxModelHeight").toDouble();
        QVERIFY2(qAbs(height - 3.24 * 25.4) < 0.5, qPrintable(QString::number(height)));
        scale->setProperty("text", QStringLiteral("10"));
        QVERIFY(click(window(), findItem(window(), QStringLiteral("applyScaleButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(
            qAbs(root()->property("maxModelHeight").toDouble() - height / 10) < 0.1, TestPatience::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!root()->property("busy").toBool(), TestPatience::kWaitMs);
        shoot(QStringLiteral("04-model-scaled"));

        // 3. Supports.
        QVERIFY(click(window(), findItem(window(), QStringLiteral("supportsTab"))));
        QQuickItem *addSupports = findItem(window(), QStringLiteral("addSupportsButton"));
        QTRY_VERIFY_WITH_TIMEOUT(isUsable(addSupports), TestPatience::kWaitMs);
        QVERIFY(click(window(), addSupports));
        QQuickItem *removeSupports = findItem(window(), QStringLiteral("removeSupportsButton"));
        QTRY_VERIFY_WITH_TIMEOUT(isUsable(removeSupports), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!root()->property("busy").toBool(), 60000);
        shoot(QStringLiteral("05-supports"));

        // 4. Slice to a file. The save dialog's "Choose file and slice" asks for the file with
        // the system's save dialog, then slices into it; the test names the file itself.
        const QString jobPath = m_dir.filePath(QStringLiteral("wuson.ssj"));
        bool saved = false;
        QVERIFY(QMetaObject::invokeMethod(findItem(window(), QStringLiteral("editor")), "saveSlices",
            Q_RETURN_ARG(bool, saved), Q_ARG(QString, jobPath), Q_ARG(int, 100), Q_ARG(bool, false)));
        QVERIFY(saved);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(jobPath) && !root()->property("busy").toBool(), 120000);
        CrushedPrintJob job;
        QFile file(jobPath);
        QVERIFY(job.loadCPJ(&file));
        QVERIFY(job.getTotalLayers() > 10);
        shoot(QStringLiteral("06-job-saved"));

        // Supports and slicing ran on the window's thread, for far longer than the printer's
        // heartbeat time-out at this test's speed (0.3 s): the printer link, on its own thread,
        // kept the printer connected.
        QCOMPARE(gone.count(), 0);
        QCOMPARE(root()->property("printerCount").toInt(), 1);

        // 5. The saved job, opened in the job viewer, printed with "Clear" until it is done.
        QVERIFY(QMetaObject::invokeMethod(root(), "openJobInViewer", Q_ARG(QVariant, jobPath)));
        QQuickItem *printJob = findItem(window(), QStringLiteral("printJobButton"));
        QTRY_VERIFY_WITH_TIMEOUT(isUsable(printJob), TestPatience::kWaitMs);
        shoot(QStringLiteral("07-job-viewer"));
        QVERIFY(press(printJob));
        QQuickItem *resin = findItem(window(), QStringLiteral("printResinCombo"));
        QTRY_VERIFY_WITH_TIMEOUT(isUsable(resin), TestPatience::kWaitMs);
        const int clear = resin->property("model").toStringList().indexOf(QStringLiteral("Clear"));
        QVERIFY(clear >= 0);
        resin->setProperty("currentIndex", clear);
        shoot(QStringLiteral("08-print-dialog"));
        QQuickItem *start = findItem(window(), QStringLiteral("printStartButton"));
        QTRY_VERIFY_WITH_TIMEOUT(isUsable(start), TestPatience::kWaitMs);
        QVERIFY(press(start));
        QTRY_VERIFY_WITH_TIMEOUT(progress.count() > 3, 120000);
        QVERIFY(click(window(), printers));
        shoot(QStringLiteral("09-printing"));
        QTRY_COMPARE_WITH_TIMEOUT(printDone.count(), 1, 300000);
        shoot(QStringLiteral("10-print-done"));
        QVERIFY(m_rig->printer.log().contains(QStringLiteral("print")));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestWindowPrint test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowprint.moc"
