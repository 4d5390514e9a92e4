// The controller without printers on the wire: its announcement on loopback, the built-in
// resin catalogue and its edits, the print rule, print time estimates, job file paths and
// queries, the job viewer, the printers' records as the pages see them (and a printer gone),
// the prints and calibration prints it hands the Server, transfer progress, printer error
// words, and the calls into the page.
#include "controllertesting.h"
#include "jobfiles.h"
#include "myglwidget.h"
#include "printerlistmodel.h"
#include "printrule.h"
#include "resincatalogue.h"
#include "server.h"
#include "sliceimageprovider.h"
#include "waiting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QUrl>

#include <memory>

using namespace ControllerTesting;

class TestMyGLWidget : public QObject
{
    Q_OBJECT

private:
    QUdpSocket m_discovery;
    QTemporaryDir m_dir;
    std::unique_ptr<MyGLWidget> m_widget;

    QString jobFile(const QString &name, double thicknessMm, int layers, const QString &description)
    {
        const QString path = m_dir.filePath(name);
        if (!QFile::exists(path) && !writeJob(path, thicknessMm, layers, description))
            return {};
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_discovery.bind(QHostAddress(QHostAddress::LocalHost), 0));
        keepNetworkOnLoopback(m_discovery.localPort());
        QVERIFY(m_dir.isValid());
    }

    void init() { m_widget = std::make_unique<MyGLWidget>(); }

    void cleanup()
    {
        m_widget.reset();
        keepNetworkOnLoopback(m_discovery.localPort());
        while (m_discovery.hasPendingDatagrams())
            m_discovery.receiveDatagram();
    }

    // ---- network set-up

    void construction_announcesOnLoopbackAfterItsDelay_thenEveryInterval()
    {
        QCOMPARE(serverPort(*m_widget), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_discovery.hasPendingDatagrams(), 10000);
        const int port = serverPort(*m_widget);
        const int basePort = qEnvironmentVariableIntValue("TESSORA_BASE_PORT");
        QVERIFY(port > basePort && port <= basePort + 50);
        QCOMPARE(m_discovery.receiveDatagram().data(), QByteArray("ip:127.0.0.1port:") + QByteArray::number(port));
        // A printer switched on later hears one of the next announcements.
        m_widget->setAnnounceInterval(50);
        const auto drain = [this] {
            int count = 0;
            for (; m_discovery.hasPendingDatagrams(); ++count)
                m_discovery.receiveDatagram();
            return count;
        };
        int heard = 0;
        QTRY_VERIFY_WITH_TIMEOUT((heard += drain()) >= 3, 10000);
    }

    void construction_unusableTarget_announcesOnLoopbackNotBroadcast()
    {
        m_widget.reset();
        qputenv("TESSORA_DISCOVERY_TARGET", "no address");
        qputenv("TESSORA_BASE_PORT", "99999");
        m_widget = std::make_unique<MyGLWidget>();
        QHostAddress target;
        int discoveryPort = 0;
        int tcpBasePort = 0;
        onServerThread(*m_widget, [&](Server &server) {
            target = server.discoveryTarget();
            discoveryPort = server.discoveryPort();
            tcpBasePort = server.basePort();
        });
        QCOMPARE(target, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(discoveryPort, static_cast<int>(m_discovery.localPort()));
        QVERIFY(tcpBasePort != 99999);
    }

    // ---- resin catalogue

    void resinData_sevenTextsPerProfile_savedBackUnchanged()
    {
        const QStringList data = m_widget->getResinDataAsStringList();
        QCOMPARE(data.size(), 22 * 7);
        // The adhesion layer count is every profile's, in both lists; the cure-time page sends
        // back what it was given, and the count set meanwhile must survive the save.
        m_widget->setNumResinAdhesionLayers(6);
        for (const QList<Resin> &list : {m_widget->resinListA(), m_widget->resinListB()}) {
            for (const Resin &r : list)
                QCOMPARE(r.numAdhesionLayers, 6);
        }
        QVariantList shown;
        for (const QString &text : data.mid(0, 14))
            shown << text;
        m_widget->saveResinCureTimes(shown);
        QCOMPARE(
            namesOf(m_widget->resinListA()), QStringList({QStringLiteral("Gray"), QStringLiteral("Dental Model")}));
        QCOMPARE(m_widget->resinListA().at(0).numAdhesionLayers, 6);
        QCOMPARE(m_widget->resinListA().at(0).c100, 14.0);
    }

    void saveResinCureTimes_convertsCleansNamesAndIgnoresAnIncompleteEntry()
    {
        const QVariantList data = {QStringLiteral("Grey, matte"), 31, 32, 33, 4, 8.5, 12, QStringLiteral("a*b!c"),
            QStringLiteral("40"), QStringLiteral("x"), 40.5, -1, QStringLiteral("6"), 9, QStringLiteral("Dropped")};
        m_widget->saveResinCureTimes(data);
        const QList<Resin> list = m_widget->resinListA();
        QCOMPARE(namesOf(list), QStringList({QStringLiteral("Grey matte"), QStringLiteral("a b c")}));
        // Both names survive a trip through a printer's resin list.
        QCOMPARE(namesOf(Resin::fromString(Resin::toString(list))), namesOf(list));
        QCOMPARE(list.at(0).a100, 33.0);
        QCOMPARE(list.at(0).c50, 8.5);
        QCOMPARE(list.at(1).a50, 0.0); // "x" does not convert
        QCOMPARE(list.at(1).c100, 9.0);
        QCOMPARE(m_widget->resinListB().size(), 22);
    }

    // ---- print time: minutes for 10 mm, -1 for a thickness the resin does not offer

    void getPrintTime_data()
    {
        QTest::addColumn<int>("thickness");
        QTest::addColumn<QString>("resin");
        QTest::addColumn<int>("minutes");
        // 200 layers: exposures 3 x 30 + 197 x 10, moves 200 x 3, reset, wait and finish 10:
        // 2670 s = 44.5 min
        QTest::newRow("Clear at 50") << 50 << QStringLiteral("Clear") << 45;
        // The default profile: 10 s at 50 microns, 20 s adhesion: 2640 s
        QTest::newRow("unknown resin") << 50 << QStringLiteral("Nope") << 44;
        QTest::newRow("Surgical Guide at 20") << 20 << QStringLiteral("Surgical Guide") << -1;
        QTest::newRow("Clear at 75") << 75 << QStringLiteral("Clear") << -1;
    }

    void getPrintTime()
    {
        QFETCH(int, thickness);
        QFETCH(QString, resin);
        QTEST(m_widget->getPrintTime(thickness, 10.0, QString(), resin), "minutes");
    }

    // ---- job files

    void normalisedPath_fileUrlsBecomePlainPaths()
    {
        const QString path
            = jobFile(QStringLiteral("with space.ssj"), 0.05, 2, QStringLiteral("sliced at 100 microns"));
        QVERIFY(!path.isEmpty());
        QCOMPARE(JobFiles::normalisedPath(path), path);
        QCOMPARE(JobFiles::normalisedPath(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)), path);
        QCOMPARE(JobFiles::normalisedPath(QStringLiteral("file://") + path), path);
        // The form of "file:///C:/jobs/a.ssj" elsewhere than on Windows: "file:" and "///"
        // are cut, leaving a path relative to the working folder.
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QCOMPARE(JobFiles::normalisedPath(QStringLiteral("file:///with space.ssj")), QStringLiteral("with space.ssj"));
        // A path that is no URL is never cut down to another file.
        QCOMPARE(
            JobFiles::normalisedPath(QStringLiteral("xxxxxwith space.ssj")), QStringLiteral("xxxxxwith space.ssj"));
        // Missing files stay as named, so that the loader's error names them.
        const QString missing = m_dir.filePath(QStringLiteral("missing.ssj"));
        QCOMPARE(JobFiles::normalisedPath(QUrl::fromLocalFile(missing).toString()), missing);
    }

    void ssjSaveName_appendsTheExtensionOnce()
    {
        QCOMPARE(JobFiles::ssjSaveName(QStringLiteral("part")), QStringLiteral("part.ssj"));
        QCOMPARE(JobFiles::ssjSaveName(QStringLiteral("/jobs/part.SSJ")), QStringLiteral("/jobs/part.SSJ"));
        QCOMPARE(JobFiles::ssjSaveName(QStringLiteral("/jobs/part.ssj")), QStringLiteral("/jobs/part.ssj"));
        QCOMPARE(JobFiles::ssjSaveName(QStringLiteral("part.stl")), QStringLiteral("part.stl.ssj"));
        QCOMPARE(JobFiles::ssjSaveName(QString()), QString());
    }

    void proposedJobFileName_fromTheModelsNames_data()
    {
        QTest::addColumn<QStringList>("models");
        QTest::addColumn<QString>("proposed");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("one") << QStringList {QStringLiteral("/models/bunny.stl")} << QStringLiteral("bunny.ssj");
        QTest::newRow("two, in order") << QStringList {QStringLiteral("/a/bunny.stl"), QStringLiteral("C:/b/cube.OBJ")}
                                       << QStringLiteral("bunny+cube.ssj");
        QTest::newRow("copies once") << QStringList {QStringLiteral("cube.stl"), QStringLiteral("bunny.stl"),
            QStringLiteral("cube.stl")} << QStringLiteral("cube+bunny.ssj");
        QTest::newRow("dotted name") << QStringList {QStringLiteral("/m/part.v2.stl")} << QStringLiteral("part.v2.ssj");
    }

    void proposedJobFileName_fromTheModelsNames()
    {
        QFETCH(QStringList, models);
        QFETCH(QString, proposed);
        QCOMPARE(JobFiles::proposedJobFileName(models), proposed);
    }

    // The save dialog starts where the last job went, while that folder is still there.
    void jobFolder_remembersTheLastFolderUsed()
    {
        QTemporaryDir store;
        QSettings settings(store.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        QCOMPARE(JobFiles::jobFolder(settings), desktop);
        const QString jobs = store.filePath(QStringLiteral("jobs"));
        QVERIFY(QDir().mkpath(jobs));
        JobFiles::rememberJobFolder(settings, jobs + QStringLiteral("/bunny.ssj"));
        JobFiles::rememberJobFolder(settings, QString()); // a cancelled dialog
        QCOMPARE(JobFiles::jobFolder(settings), jobs);
        settings.sync();
        QCOMPARE(JobFiles::jobFolder(QSettings(settings.fileName(), QSettings::IniFormat)), jobs);
        QVERIFY(QDir(jobs).removeRecursively());
        QCOMPARE(JobFiles::jobFolder(settings), desktop);
    }

    void ssjQueries_readTheFileHeader()
    {
        const QString at75 = jobFile(QStringLiteral("q75.ssj"), 0.05, 5, QStringLiteral("sliced at 75 microns"));
        const QString at100 = jobFile(QStringLiteral("q100.ssj"), 0.1, 3, QStringLiteral("sliced at 100 microns"));
        const QString other = jobFile(QStringLiteral("qother.ssj"), 0.02, 2, QStringLiteral("jobdesc"));
        const QString url75 = QUrl::fromLocalFile(at75).toString();
        QCOMPARE(m_widget->requestSSJThickness(url75), 50);
        QCOMPARE(m_widget->requestSSJThickness(other), 20);
        QCOMPARE(m_widget->requestSSJResolution(url75), 75);
        QCOMPARE(m_widget->requestSSJResolution(at100), 100);
        QCOMPARE(m_widget->requestSSJResolution(other), -1);
        // 5 layers of 50 microns with "Clear": 3 x 30 + 2 x 10 + 5 x 3 + 10 = 135 s
        QCOMPARE(m_widget->requestSSJPrintTime(url75, QString(), QStringLiteral("Clear")), 2);
        QCOMPARE(m_widget->requestSSJPrintTime(QString(), QString(), QStringLiteral("Clear")), 0);
        QCOMPARE(m_widget->requestSSJPrintTime(at100, QString(), QStringLiteral("Castable")), -1);
        QCOMPARE(m_widget->requestSSJThickness(m_dir.filePath(QStringLiteral("gone.ssj"))), 0);

        // The resin is measured away from the window's thread; each answer names its file.
        QSignalSpy measured(m_widget.get(), &MyGLWidget::ssjVolumeMeasured);
        m_widget->requestSSJVolume(at100);
        m_widget->requestSSJVolume(m_dir.filePath(QStringLiteral("gone.ssj")));
        QTRY_COMPARE_WITH_TIMEOUT(measured.count(), 2, TestPatience::kWaitMs);
        const int first = measured.at(0).at(0).toString() == at100 ? 0 : 1;
        QVERIFY(measured.at(first).at(1).toDouble() > 0.0);
        QCOMPARE(measured.at(1 - first).at(1).toDouble(), -1.0);
    }

    // ---- job viewer

    void viewer_stepsThroughTheLayers_whileOtherJobsAreRead_untilCleared()
    {
        const auto allNA = [this] {
            return m_widget->requestNextSSJViewerImage() == QLatin1String("n/a")
                && m_widget->requestPrevSSJViewerImage() == QLatin1String("n/a")
                && m_widget->requestSSJViewerImage(0.5) == QLatin1String("n/a")
                && m_widget->requestTotalSlicesSSJViewer() == QLatin1String("n/a");
        };
        QVERIFY(allNA());
        QVERIFY(m_widget->lastShownImage().isNull());

        const QString path = jobFile(QStringLiteral("five.ssj"), 0.05, 5, QStringLiteral("sliced at 100 microns"));
        const auto shownLayer = [&] {
            const int white = whitePixels(m_widget->lastShownImage());
            for (int layer = 0; layer < 5; ++layer) {
                if (white == layerBar(layer).width() * layerBar(layer).height())
                    return layer;
            }
            return -1;
        };
        QCOMPARE(m_widget->setSSJViewerPath(QUrl::fromLocalFile(path).toString()), QStringLiteral("1"));
        QCOMPARE(shownLayer(), 0);
        QCOMPARE(m_widget->requestTotalSlicesSSJViewer(), QStringLiteral("5"));
        for (int expected = 2; expected <= 5; ++expected) {
            QCOMPARE(m_widget->requestNextSSJViewerImage(), QString::number(expected));
            QCOMPARE(shownLayer(), expected - 1);
        }
        QCOMPARE(m_widget->requestNextSSJViewerImage(), QStringLiteral("5"));
        QCOMPARE(m_widget->requestPrevSSJViewerImage(), QStringLiteral("4"));
        QCOMPARE(shownLayer(), 3);
        QCOMPARE(m_widget->requestSSJViewerImage(0.5), QStringLiteral("3"));
        QCOMPARE(m_widget->requestSSJViewerImage(-1.0), QStringLiteral("1"));
        QCOMPARE(m_widget->requestPrevSSJViewerImage(), QStringLiteral("1"));

        // Reading another job's header leaves the viewer on its own file.
        const QString two = jobFile(QStringLiteral("two.ssj"), 0.1, 2, QStringLiteral("sliced at 100 microns"));
        QCOMPARE(m_widget->requestSSJThickness(two), 100);
        QCOMPARE(m_widget->requestTotalSlicesSSJViewer(), QStringLiteral("5"));
        QCOMPARE(m_widget->requestSSJViewerImage(7.0), QStringLiteral("5"));
        QCOMPARE(shownLayer(), 4);

        // Closing shows black.
        m_widget->clearSSJViewerPath();
        QVERIFY(!m_widget->lastShownImage().isNull());
        QCOMPARE(whitePixels(m_widget->lastShownImage()), 0);
        QVERIFY(allNA());

        // An unreadable file leaves it closed, and the user is told.
        const QString bad = m_dir.filePath(QStringLiteral("bad.ssj"));
        QVERIFY(writeFileBytes(bad, "not a job"));
        QSignalSpy popup(m_widget.get(), &MyGLWidget::sendMessagePopup);
        QCOMPARE(m_widget->setSSJViewerPath(bad), QStringLiteral("n/a"));
        QCOMPARE(popup.count(), 1);
        QVERIFY(popup.at(0).at(0).toString().contains(QStringLiteral("bad.ssj")));
        QVERIFY(allNA());
    }

    // ---- the print rule (window and command line)

    void printRule_decidesTheJobLine_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("thickness");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("resin");
        QTest::addColumn<QString>("refusal"); // part of the words; empty when accepted
        QTest::addColumn<double>("cureTime");
        QTest::addColumn<double>("scaleX");
        const QString at75 = QStringLiteral("sliced at 75 microns");
        const QString at100 = QStringLiteral("sliced at 100 microns");
        const QString p100 = QStringLiteral("Orbelle");
        const QString p75 = QStringLiteral("Orbelle75");
        const QString clear = QStringLiteral("Clear");
        QTest::newRow("100 job, 100 printer") << at100 << 50 << p100 << clear << QString() << 10.0 << 0.9;
        QTest::newRow("75 job, 75 printer") << at75 << 50 << p75 << clear << QString() << 10.0 << 0.9;
        QTest::newRow("no pixel size") << QStringLiteral("jobdesc") << 100 << p75 << clear << QString() << 15.0 << 1.0;
        QTest::newRow("printer lacks resin")
            << at100 << 50 << p100 << QStringLiteral("Castable") << QString() << 9.0 << 1.0;
        QTest::newRow("75 job, 100 printer") << at75 << 50 << p100 << clear
                                             << QStringLiteral("was sliced for 75-micron printers; NickP is a "
                                                               "100-micron printer and would print it 33 % too large")
                                             << 0.0 << 0.0;
        QTest::newRow("100 job, 75 printer")
            << at100 << 50 << p75 << clear << QStringLiteral("75-micron printer and would print it 25 % too small")
            << 0.0 << 0.0;
        QTest::newRow("75-micron layers")
            << at100 << 75 << p100 << clear << QStringLiteral("part.ssj has layers of 75 microns") << 0.0 << 0.0;
        QTest::newRow("not offered") << at100 << 100 << p100 << QStringLiteral("Castable")
                                     << QStringLiteral("The resin Castable is not offered for layers of 100 microns")
                                     << 0.0 << 0.0;
        QTest::newRow("unknown resin") << at100 << 50 << p100 << QStringLiteral("Unobtainium")
                                       << QStringLiteral("There is no resin Unobtainium among the resins for "
                                                         "100-micron printers (Gray, Dental Model, Clear,")
                                       << 0.0 << 0.0;
        QTest::newRow("damaged calibration") << at100 << 50 << p100 << QStringLiteral("Gray")
                                             << QStringLiteral("the horizontal scale 0 is not within") << 0.0 << 0.0;
    }

    void printRule_decidesTheJobLine()
    {
        QFETCH(QString, description);
        QFETCH(int, thickness);
        QFETCH(QString, model);
        QFETCH(QString, resin);
        QFETCH(QString, refusal);
        QFETCH(double, cureTime);
        QFETCH(double, scaleX);
        // The printer's Clear is calibrated at 50 microns; its exposure settings never count.
        Resin printersClear(QStringLiteral("Clear"));
        printersClear.scaleX50 = 0.9;
        printersClear.c50 = printersClear.c100 = 99;
        printersClear.numAdhesionLayers = 8;
        Resin printersGray(QStringLiteral("Gray"));
        printersGray.scaleX50 = 0;
        const PrintRule::Decision decision = PrintRule::jobForPrint(ResinCatalogue::builtIn(),
            printerRecord(QStringLiteral("P"), model, {printersClear, printersGray}),
            {QStringLiteral("part.ssj"), thickness, 5, description}, resin);
        QVERIFY2(decision.refusal.contains(refusal), qPrintable(decision.refusal));
        if (!refusal.isEmpty()) {
            QVERIFY(decision.refusal.endsWith(QStringLiteral("Nothing was sent to the printer.")));
            return;
        }
        QVERIFY2(decision.accepted(), qPrintable(decision.refusal));
        const PrintJob &job = decision.job;
        QCOMPARE(QList<double>({job.cureTime, job.adhesionLayerCureTime, job.scaleX}),
            QList<double>({cureTime, 30.0, scaleX}));
        QCOMPARE(QList<int>({job.numAdhesionLayers, job.layerThickness, job.numImages}), QList<int>({3, thickness, 5}));
    }

    // ---- what the pages are told of a printer: its last record

    void answers_comeFromThePrintersLastRecord_untilItLeaves_thenNothingIsSent()
    {
        const QString serial = QStringLiteral("B1");
        Resin clear(QStringLiteral("Clear"));
        clear.scaleX50 = 0.9;
        PrinterState printer = printerRecord(serial, QStringLiteral("Orbelle75"), {clear});
        printer.activity = PrinterState::Activity::Printing;
        printer.gParameter = 42;
        m_widget->updatePrinterState(printer);
        QVERIFY(m_widget->isPrinterBusy(serial) && m_widget->isPrinter75Microns(serial));
        QVERIFY(m_widget->isGParameterDetermined(serial) && m_widget->wasResinCalibrated(serial, clear.name, 50));
        QCOMPARE(m_widget->getGParameter(serial), 42);
        QCOMPARE(m_widget->getPrinterNetworkList(serial), printer.wifiNames);
        QCOMPARE(m_widget->resinFactors(serial, clear.name, 50).value(QStringLiteral("scaleX")).toDouble(), 0.9);
        QCOMPARE(m_widget->getPrinterSerialsAndNames(), QStringList({serial, QStringLiteral("NickB1")}));

        printer.activity = PrinterState::Activity::Ready;
        printer.gParameterReset = true;
        printer.nickname = QStringLiteral("Bench");
        printer.resins.clear();
        m_widget->updatePrinterState(printer);
        QVERIFY(!m_widget->isPrinterBusy(serial) && !m_widget->isGParameterDetermined(serial));
        QVERIFY(!m_widget->wasResinCalibrated(serial, clear.name, 50));
        QCOMPARE(m_widget->getPrinterNicknameFromSerial(serial), QStringLiteral("Bench"));

        // Gone, it is unknown: every answer is empty and its commands send nothing.
        m_widget->printerDisconnected_networked(serial);
        QSignalSpy gParameter(m_widget.get(), &MyGLWidget::sendNewGParameter);
        QSignalSpy fineTune(m_widget.get(), &MyGLWidget::sendNewResinFineTuneFactor);
        QSignalSpy scaling(m_widget.get(), &MyGLWidget::sendNewResinScalingFactor);
        QSignalSpy print(m_widget.get(), &MyGLWidget::sendPrintJob);
        QVERIFY(!m_widget->isPrinterBusy(serial) && !m_widget->isPrinter75Microns(serial));
        QCOMPARE(m_widget->getGParameter(serial), 0);
        QCOMPARE(m_widget->getPrinterNicknameFromSerial(serial), QString());
        QCOMPARE(m_widget->getResinNames(serial).size(), 22);
        QCOMPARE(m_widget->getPrinterSerialsAndNames(), QStringList());
        m_widget->modifyPrinterGParameter(serial, 40);
        m_widget->modifyResinFineTuneFactor(serial, clear.name, 50, 0.1);
        m_widget->modifyResinScalingFactor(serial, clear.name, 50, 1.1, 1.1);
        m_widget->runFineTunePrint_tolerance(serial, clear.name, 50);
        m_widget->printSSJ(
            serial, jobFile(QStringLiteral("five.ssj"), 0.05, 5, QStringLiteral("sliced at 100 microns")), clear.name);
        QTest::qWait(150); // the print delay: nothing may follow it
        QCOMPARE(gParameter.count() + fineTune.count() + scaling.count() + print.count(), 0);
    }

    // ---- prints: each waits the print delay in a queue, with the job the rule decided for it

    void printSSJ_twoWithinTheDelay_eachKeepsItsJob_printFolderGoesAfterItsTransfer()
    {
        QTemporaryDir folder(
            QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/tessora-print-XXXXXX"));
        const QString job = folder.filePath(QStringLiteral("part.ssj"));
        QVERIFY(writeJob(job, 0.05, 5, QStringLiteral("sliced at 100 microns")));
        const QString other = jobFile(QStringLiteral("three100.ssj"), 0.1, 3, QStringLiteral("sliced at 100 microns"));
        PrinterState printer = printerRecord(QStringLiteral("P1"), QStringLiteral("Orbelle"));
        m_widget->updatePrinterState(printer);
        m_widget->updatePrinterState(printerRecord(QStringLiteral("P2"), QStringLiteral("Orbelle")));
        QSignalSpy handed(m_widget.get(), &MyGLWidget::sendPrintJob);
        m_widget->printSSJ(QStringLiteral("P1"), job, QStringLiteral("Gray"));
        m_widget->printSSJ(QStringLiteral("P2"), other, QStringLiteral("White"));
        QTRY_COMPARE_WITH_TIMEOUT(handed.count(), 2, 60000);
        QCOMPARE(handed.at(0).mid(0, 2), QVariantList({QStringLiteral("P1"), job}));
        QCOMPARE(handed.at(1).mid(0, 2), QVariantList({QStringLiteral("P2"), other}));
        const PrintJob one = handed.at(0).at(2).value<PrintJob>();
        const PrintJob two = handed.at(1).at(2).value<PrintJob>();
        QCOMPARE(QStringList({one.resinName, two.resinName}),
            QStringList({QStringLiteral("Gray"), QStringLiteral("White")}));
        QCOMPARE(QList<int>({one.layerThickness, one.numImages, two.layerThickness, two.numImages}),
            QList<int>({50, 5, 100, 3}));

        for (PrinterState::Activity activity : {PrinterState::Activity::Sending, PrinterState::Activity::Printing}) {
            QVERIFY(QFile::exists(job));
            printer.activity = activity;
            m_widget->updatePrinterState(printer);
        }
        QVERIFY(!QDir(folder.path()).exists());
    }

    // A resin the rule refuses, a file that cannot be read.
    void printSSJ_refused_nothingHandedOnAndTheUserIsTold()
    {
        const QString job = jobFile(QStringLiteral("three100.ssj"), 0.1, 3, QStringLiteral("sliced at 100 microns"));
        m_widget->updatePrinterState(printerRecord(QStringLiteral("R1"), QStringLiteral("Orbelle")));
        QSignalSpy popup(m_widget.get(), &MyGLWidget::sendMessagePopup);
        QSignalSpy handed(m_widget.get(), &MyGLWidget::sendPrintJob);
        m_widget->printSSJ(QStringLiteral("R1"), job, QStringLiteral("Castable"));
        m_widget->printSSJ(
            QStringLiteral("R1"), m_dir.filePath(QStringLiteral("nothing-here.ssj")), QStringLiteral("Clear"));
        QCOMPARE(popup.count(), 2);
        QVERIFY(popup.at(0).at(0).toString().contains(QStringLiteral("not offered for layers of 100 microns")));
        QVERIFY(popup.at(1).at(0).toString().contains(QStringLiteral("could not be read")));
        QTest::qWait(150); // past the print delay
        QCOMPARE(handed.count(), 0);
        QVERIFY(!m_widget->isPrinterBusy(QStringLiteral("R1")));
    }

    // The calibration prints, chosen by the printer's pixel size and the thickness, go out as
    // any other print.
    void runFineTunePrint_twelveJobs_byModelKindAndThickness()
    {
        Resin clear(QStringLiteral("Clear"));
        clear.scaleX50 = 0.9;
        m_widget->updatePrinterState(printerRecord(QStringLiteral("K1"), QStringLiteral("Orbelle"), {clear}));
        m_widget->updatePrinterState(printerRecord(QStringLiteral("K2"), QStringLiteral("Orbelle75"), {clear}));
        QSignalSpy handed(m_widget.get(), &MyGLWidget::sendPrintJob);
        QStringList paths;
        for (int thickness : {20, 50, 100}) {
            for (const QString &serial : {QStringLiteral("K1"), QStringLiteral("K2")}) {
                const QString model = serial == QLatin1String("K2") ? QStringLiteral("75Q") : QStringLiteral("100P");
                m_widget->runFineTunePrint_tolerance(serial, clear.name, thickness);
                QCOMPARE(m_widget->jobPath(),
                    QStringLiteral(":/stl_ssj/calibration_%1layer_%2.ssj").arg(thickness).arg(model));
                paths << m_widget->jobPath();
                m_widget->runFineTunePrint_dimensions(serial, clear.name, thickness);
                QCOMPARE(m_widget->jobPath(),
                    QStringLiteral(":/stl_ssj/dimensionalAccuracy_%1layer_%2.ssj").arg(thickness).arg(model));
                paths << m_widget->jobPath();
            }
        }
        // Nothing for another thickness or an unknown printer.
        m_widget->runFineTunePrint_tolerance(QStringLiteral("K1"), clear.name, 75);
        m_widget->runFineTunePrint_dimensions(QStringLiteral("NOSUCH"), clear.name, 50);
        QCOMPARE(m_widget->jobPath(), paths.last());

        if (!QFileInfo(paths.first()).isFile())
            QSKIP("The calibration jobs are not among the resources of this build");
        QTRY_COMPARE_WITH_TIMEOUT(handed.count(), 12, 60000);
        for (int i = 0; i < paths.size(); ++i) {
            const PrintJob sent = handed.at(i).at(2).value<PrintJob>();
            QCOMPARE(handed.at(i).at(1).toString(), paths.at(i));
            QVERIFY(sent.numImages > 0);
            QCOMPARE(sent.resinName, clear.name);
            QCOMPARE(sent.scaleX, sent.layerThickness == 50 ? 0.9 : 1.0);
        }
    }

    // ---- reports passed on to the page

    void updateNetworkBytesWritten_percentOfTheTotal()
    {
        QSignalSpy progress(m_widget.get(), &MyGLWidget::sendTransferNetworkJobProgress);
        m_widget->updateNetworkBytesWritten(100, 0);
        QCOMPARE(progress.count(), 0);
        m_widget->updateNetworkBytesWritten(2047, 4096);
        m_widget->updateNetworkBytesWritten(Q_INT64_C(5000000000), Q_INT64_C(10000000000));
        m_widget->updateNetworkBytesWritten(4096, 4096);
        QCOMPARE(progress.count(), 3);
        QCOMPARE(progress.at(0).at(0).toInt(), 49);
        QCOMPARE(progress.at(1).at(0).toInt(), 50);
        QCOMPARE(progress.at(2).at(0).toInt(), 100);
    }

    void printerError_reachesThePageInWords()
    {
        QSignalSpy spy(m_widget.get(), &MyGLWidget::transmit_receivedPrinterError);
        m_widget->network_printerErrorReceived(QStringLiteral("S9"), 205);
        m_widget->network_printerErrorReceived(QStringLiteral("S9"), 17);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("S9"));
        const QString known = spy.at(0).at(1).toString();
        QVERIFY2(
            known.contains(QStringLiteral("205")) && known.contains(QStringLiteral("the projector lamp turned off")),
            qPrintable(known));
        QVERIFY(spy.at(1).at(1).toString().contains(QStringLiteral("unknown printer error 17")));
        QVERIFY(!known.contains(QStringLiteral("PLACEHOLDER")));
    }

    // ---- the page's functions

    // The page found as the topmost item of a component (in the program's view, the view's
    // root object: the page tests drive that one).
    void pageFunctions_reachTheRootObject()
    {
        m_widget.reset();
        qmlRegisterType<MyGLWidget>("OpenGLUnderQML", 1, 0, "MyGLWidget");
        QQmlEngine engine;
        auto *provider = new SliceImageProvider;
        engine.addImageProvider(QStringLiteral("colors"), provider);
        QQmlComponent component(&engine);
        component.setData(
            "import QtQuick 2.0\n"
            "import OpenGLUnderQML 1.0\n"
            "Item {\n"
            "    property string calls: ''\n"
            "    function projectSlice(id) { calls += 'project ' + id + ';' }\n"
            "    function advanceSliceStage(p) { calls += 'slice ' + p + ';' }\n"
            "    function advancePrintStage(p, t, l) { calls += 'print ' + p + ' ' + t + ' ' + l + ';' }\n"
            "    MyGLWidget { id: controller; objectName: 'controller' }\n"
            "}\n",
            QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("page.qml"))));
        std::unique_ptr<QObject> page(component.create());
        QVERIFY2(page, qPrintable(component.errorString()));
        auto *controller = page->findChild<MyGLWidget *>(QStringLiteral("controller"));
        QVERIFY(controller);

        controller->updateSliceProgress(42);
        controller->updateSliceProgress(-3);
        controller->updatePrinting(7, 30, 120);
        controller->printCompleted();
        QImage slice = layerImage(2);
        controller->projectSlice(slice);
        QCOMPARE(
            page->property("calls").toString(), QStringLiteral("slice 42;print 30 120 7;print 100 0 0;project 1_1;"));
        QCOMPARE(provider->image(1), slice);

        const QString path = jobFile(QStringLiteral("five.ssj"), 0.05, 5, QStringLiteral("sliced at 100 microns"));
        QCOMPARE(controller->setSSJViewerPath(path), QStringLiteral("1"));
        QCOMPARE(whitePixels(provider->image(1)), layerBar(0).width() * layerBar(0).height());
    }
};

QTEST_MAIN(TestMyGLWidget)
#include "tst_myglwidget.moc"
