// The controller without printers on the wire: its announcement on loopback, the built-in
// resin catalogue and its edits, the print rule, print time estimates, job file paths and
// queries, the job viewer, the printers' records as the pages see them, transfer progress,
// printer error words, unknown printers, and the calls into the page.
#include "controllertesting.h"
#include "jobfiles.h"
#include "myglwidget.h"
#include "printerlistmodel.h"
#include "printrule.h"
#include "resincatalogue.h"
#include "resinv3.h"
#include "server.h"
#include "sliceimageprovider.h"

#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickView>
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
        QVERIFY(port > basePort() && port <= basePort() + 50);
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

    void catalogue_namesAreThoseAPrinterKeepsFromCatalogueIds()
    {
        // A printer rolled back from resin ids to names must keep profiles that match the
        // catalogue by name: every catalogue resin except "Castable" has an id.
        const QStringList ids = {QStringLiteral("1001"), QStringLiteral("1002"), QStringLiteral("1003"),
            QStringLiteral("1004"), QStringLiteral("1005"), QStringLiteral("2001"), QStringLiteral("3001"),
            QStringLiteral("3002"), QStringLiteral("3003"), QStringLiteral("3004"), QStringLiteral("3005"),
            QStringLiteral("4001"), QStringLiteral("4002"), QStringLiteral("4003"), QStringLiteral("4004"),
            QStringLiteral("4005"), QStringLiteral("4006"), QStringLiteral("4007"), QStringLiteral("4008"),
            QStringLiteral("4009"), QStringLiteral("4010")};
        QString v3Text;
        for (const QString &id : ids) {
            ResinV3 record;
            record.resinId = id;
            record.name = QStringLiteral("v3 name ") + id;
            v3Text += QLatin1Char('*') + record.toString();
        }
        QStringList expected = namesOf(Resin::fromString(v3Text));
        QCOMPARE(expected.size(), 21);
        expected.insert(11, QStringLiteral("Castable"));

        QCOMPARE(namesOf(m_widget->resinListA()), expected);
        QCOMPARE(m_widget->resinListB(), m_widget->resinListA());
        QCOMPARE(m_widget->getResinNames(), expected);
    }

    void getResinDataAsStringList_sevenTextsPerProfileOfTheModesList()
    {
        const QStringList data = m_widget->getResinDataAsStringList();
        QCOMPARE(data.size(), 22 * 7);
        const int at = data.indexOf(QStringLiteral("Surgical Guide"));
        QCOMPARE(at % 7, 0);
        QCOMPARE(data.mid(at, 7),
            QStringList({QStringLiteral("Surgical Guide"), QStringLiteral("20"), QStringLiteral("20"),
                QStringLiteral("20"), QStringLiteral("-1"), QStringLiteral("2.2"), QStringLiteral("3.6")}));
    }

    void saveResinCureTimes_fifteenEntries_twoProfilesLastEntryIgnored()
    {
        const QVariantList data = {QStringLiteral("Clear"), 31, 32, 33, 4, 8.5, 12, QStringLiteral("Mine"),
            QStringLiteral("40"), QStringLiteral("x"), 40.5, -1, QStringLiteral("6"), 9, QStringLiteral("Dropped")};
        m_widget->saveResinCureTimes(data);
        const QList<Resin> list = m_widget->resinListA();
        QCOMPARE(namesOf(list), QStringList({QStringLiteral("Clear"), QStringLiteral("Mine")}));
        QCOMPARE(list.at(0).a20, 31.0);
        QCOMPARE(list.at(0).a100, 33.0);
        QCOMPARE(list.at(0).c50, 8.5);
        QCOMPARE(list.at(1).a50, 0.0); // "x" does not convert
        QCOMPARE(list.at(1).c20, -1.0);
        QCOMPARE(list.at(1).c100, 9.0);
        QCOMPARE(list.at(1).numAdhesionLayers, 3);
        QCOMPARE(m_widget->resinListB().size(), 22);
    }

    void saveResinCureTimes_namesThatWouldBreakAListOrAMessage_areCleaned()
    {
        m_widget->saveResinCureTimes(
            {QStringLiteral("Grey, matte"), 20, 20, 20, 5, 10, 15, QStringLiteral("a*b!c"), 20, 20, 20, 5, 10, 15});
        QCOMPARE(namesOf(m_widget->resinListA()), QStringList({QStringLiteral("Grey matte"), QStringLiteral("a b c")}));
        // Both survive a trip through a printer's resin list.
        QCOMPARE(namesOf(Resin::fromString(Resin::toString(m_widget->resinListA()))), namesOf(m_widget->resinListA()));
    }

    void saveResinCureTimes_keepsTheAdhesionLayerCount()
    {
        // The cure-time page sends back what it was given: the adhesion layer count set
        // meanwhile must survive the save.
        m_widget->setNumResinAdhesionLayers(6);
        QVariantList data;
        const QStringList shown = m_widget->getResinDataAsStringList().mid(0, 14);
        for (const QString &text : shown)
            data << text;
        m_widget->saveResinCureTimes(data);
        QCOMPARE(
            namesOf(m_widget->resinListA()), QStringList({QStringLiteral("Gray"), QStringLiteral("Dental Model")}));
        QCOMPARE(m_widget->resinListA().at(0).numAdhesionLayers, 6);
        QCOMPARE(m_widget->resinListA().at(0).c100, 14.0);
    }

    void modes_chooseTheListWhereNoPrinterIsNamed()
    {
        m_widget->setTo75Microns();
        m_widget->saveResinCureTimes({QStringLiteral("Only75"), 20, 20, 20, 5, 10, 15});
        QCOMPARE(m_widget->getResinNames(), QStringList({QStringLiteral("Only75")}));
        QCOMPARE(m_widget->getResinNames(QStringLiteral("NOSUCH")), QStringList({QStringLiteral("Only75")}));
        m_widget->setTo100Microns();
        QCOMPARE(m_widget->getResinNames().size(), 22);
        QCOMPARE(m_widget->getPrintTime(50, 10.0, QString(), QStringLiteral("Only75")),
            m_widget->getPrintTime(50, 10.0, QString(), QStringLiteral("ResinERROR")));
    }

    void setNumResinAdhesionLayers_changesEveryProfileOfBothLists()
    {
        m_widget->setNumResinAdhesionLayers(5);
        for (const QList<Resin> &list : {m_widget->resinListA(), m_widget->resinListB()}) {
            for (const Resin &r : list)
                QCOMPARE(r.numAdhesionLayers, 5);
        }
        // (10 x 195 + 5 x 30 + 200 x 8.75) / 60 = 64.17
        QCOMPARE(m_widget->getPrintTime(50, 10.0, QString(), QStringLiteral("Clear")), 64);
    }

    // ---- print time: minutes for 10 mm, -1 for a thickness the resin does not offer

    void getPrintTime_data()
    {
        QTest::addColumn<int>("thickness");
        QTest::addColumn<QString>("resin");
        QTest::addColumn<int>("minutes");
        // 200 layers: (10 x 197 + 3 x 30 + 200 x 8.75) / 60 = 63.5
        QTest::newRow("Clear at 50") << 50 << QStringLiteral("Clear") << 63;
        // The default profile: 10 s at 50 microns, 20 s adhesion: (1970 + 60 + 1750) / 60 = 63
        QTest::newRow("unknown resin") << 50 << QStringLiteral("Nope") << 63;
        QTest::newRow("Surgical Guide at 20") << 20 << QStringLiteral("Surgical Guide") << -1;
        QTest::newRow("Castable at 100") << 100 << QStringLiteral("Castable") << -1;
        QTest::newRow("Clear at 75") << 75 << QStringLiteral("Clear") << -1;
        QTest::newRow("Clear at 0") << 0 << QStringLiteral("Clear") << -1;
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
        QCOMPARE(JobFiles::normalisedPath(QUrl::fromLocalFile(path).toString()), path);
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
        QCOMPARE(JobFiles::normalisedPath(missing), missing);
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

    void ssjQueries_readTheFileHeader()
    {
        const QString at75 = jobFile(QStringLiteral("q75.ssj"), 0.05, 5, QStringLiteral("sliced at 75 microns"));
        const QString at100 = jobFile(QStringLiteral("q100.ssj"), 0.1, 3, QStringLiteral("sliced at 100 microns"));
        const QString other = jobFile(QStringLiteral("qother.ssj"), 0.02, 2, QStringLiteral("jobdesc"));
        const QString url75 = QUrl::fromLocalFile(at75).toString();
        QCOMPARE(m_widget->requestSSJThickness(url75), 50);
        QCOMPARE(m_widget->requestSSJThickness(at100), 100);
        QCOMPARE(m_widget->requestSSJThickness(other), 20);
        QCOMPARE(m_widget->requestSSJResolution(url75), 75);
        QCOMPARE(m_widget->requestSSJResolution(at100), 100);
        QCOMPARE(m_widget->requestSSJResolution(other), -1);
        // 5 layers of 50 microns with "Clear": (10 x 2 + 3 x 30 + 5 x 8.75) / 60 = 2.56
        QCOMPARE(m_widget->requestSSJPrintTime(url75, QString(), QStringLiteral("Clear")), 2);
        QCOMPARE(m_widget->requestSSJPrintTime(QString(), QString(), QStringLiteral("Clear")), 0);
        QCOMPARE(m_widget->requestSSJPrintTime(at100, QString(), QStringLiteral("Castable")), -1);
        QCOMPARE(m_widget->requestSSJThickness(m_dir.filePath(QStringLiteral("gone.ssj"))), 0);
    }

    // ---- job viewer

    void viewer_beforeAnyFile_everyQueryIsNA()
    {
        QCOMPARE(m_widget->requestNextSSJViewerImage(), QStringLiteral("n/a"));
        QCOMPARE(m_widget->requestPrevSSJViewerImage(), QStringLiteral("n/a"));
        QCOMPARE(m_widget->requestSSJViewerImage(0.5), QStringLiteral("n/a"));
        QCOMPARE(m_widget->requestTotalSlicesSSJViewer(), QStringLiteral("n/a"));
        QVERIFY(m_widget->lastShownImage().isNull());
    }

    void viewer_fiveLayers_stepsAndShowsEachLayer()
    {
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
        QCOMPARE(m_widget->lastShownImage().size(), QSize(1280, 800));
        QCOMPARE(m_widget->lastShownImage().pixel(layerBar(0).topLeft()), 0xFFFFFFFFu);
        QCOMPARE(shownLayer(), 0);
        QCOMPARE(m_widget->requestTotalSlicesSSJViewer(), QStringLiteral("5"));
        for (int expected = 2; expected <= 5; ++expected) {
            QCOMPARE(m_widget->requestNextSSJViewerImage(), QString::number(expected));
            QCOMPARE(shownLayer(), expected - 1);
        }
        QCOMPARE(m_widget->requestNextSSJViewerImage(), QStringLiteral("5"));
        QCOMPARE(m_widget->requestPrevSSJViewerImage(), QStringLiteral("4"));
        QCOMPARE(shownLayer(), 3);
        QCOMPARE(m_widget->requestSSJViewerImage(1.0), QStringLiteral("5"));
        QCOMPARE(shownLayer(), 4);
        QCOMPARE(m_widget->requestSSJViewerImage(0.5), QStringLiteral("3"));
        QCOMPARE(m_widget->requestSSJViewerImage(0.0), QStringLiteral("1"));
        QCOMPARE(m_widget->requestPrevSSJViewerImage(), QStringLiteral("1"));
        QCOMPARE(m_widget->requestSSJViewerImage(7.0), QStringLiteral("5"));
        QCOMPARE(m_widget->requestSSJViewerImage(-1.0), QStringLiteral("1"));
    }

    void viewer_clear_showsBlackAndCloses()
    {
        const QString path = jobFile(QStringLiteral("five.ssj"), 0.05, 5, QStringLiteral("sliced at 100 microns"));
        QCOMPARE(m_widget->setSSJViewerPath(path), QStringLiteral("1"));
        m_widget->clearSSJViewerPath();
        QCOMPARE(whitePixels(m_widget->lastShownImage()), 0);
        QVERIFY(!m_widget->lastShownImage().isNull());
        QCOMPARE(m_widget->requestNextSSJViewerImage(), QStringLiteral("n/a"));
        QCOMPARE(m_widget->requestTotalSlicesSSJViewer(), QStringLiteral("n/a"));
    }

    void viewer_keepsItsFileWhileOtherJobsAreRead()
    {
        const QString five = jobFile(QStringLiteral("five.ssj"), 0.05, 5, QStringLiteral("sliced at 100 microns"));
        const QString two = jobFile(QStringLiteral("two.ssj"), 0.1, 2, QStringLiteral("sliced at 100 microns"));
        QCOMPARE(m_widget->setSSJViewerPath(five), QStringLiteral("1"));
        QCOMPARE(m_widget->requestSSJThickness(two), 100);
        QCOMPARE(m_widget->requestTotalSlicesSSJViewer(), QStringLiteral("5"));
        QCOMPARE(m_widget->requestSSJViewerImage(1.0), QStringLiteral("5"));
        QCOMPARE(whitePixels(m_widget->lastShownImage()), layerBar(4).width() * layerBar(4).height());
    }

    void viewer_unreadableFile_staysClosedAndTellsTheUser()
    {
        const QString bad = m_dir.filePath(QStringLiteral("bad.ssj"));
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a job");
        file.close();
        QSignalSpy popup(m_widget.get(), &MyGLWidget::sendMessagePopup);
        QCOMPARE(m_widget->setSSJViewerPath(bad), QStringLiteral("n/a"));
        QCOMPARE(popup.count(), 1);
        QVERIFY(popup.at(0).at(0).toString().contains(QStringLiteral("bad.ssj")));
        QCOMPARE(m_widget->requestNextSSJViewerImage(), QStringLiteral("n/a"));
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

    void answers_comeFromThePrintersLastRecord_untilItLeaves()
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

        m_widget->printerDisconnected_networked(serial);
        QVERIFY(!m_widget->isPrinter75Microns(serial) && m_widget->isPrinterConnectedOnAdhoc().isNull());
    }

    void saveResinCureTimes_forAPrinter_editsTheListOfItsModel()
    {
        m_widget->updatePrinterState(printerRecord(QStringLiteral("B1"), QStringLiteral("Orbelle75")));
        m_widget->saveResinCureTimes({QStringLiteral("Only75"), 20, 20, 20, 5, 10, 15}, QStringLiteral("B1"));
        QCOMPARE(m_widget->getResinNames(QStringLiteral("B1")), QStringList({QStringLiteral("Only75")}));
        QCOMPARE(m_widget->getResinDataAsStringList(QStringLiteral("B1")).first(), QStringLiteral("Only75"));
        QCOMPARE(m_widget->resinListA().size(), 22); // also the platform's list, 100 microns here
    }

    void printSSJ_printFolder_goesOnceItsTransferHasEnded()
    {
        QTemporaryDir folder(
            QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/tessora-print-XXXXXX"));
        const QString job = folder.filePath(QStringLiteral("part.ssj"));
        QVERIFY(writeJob(job, 0.05, 5, QStringLiteral("sliced at 100 microns")));
        PrinterState printer = printerRecord(QStringLiteral("P1"), QStringLiteral("Orbelle"));
        m_widget->updatePrinterState(printer);
        QSignalSpy handed(m_widget.get(), &MyGLWidget::sendPrintJob);
        m_widget->printSSJ(QStringLiteral("P1"), job, QStringLiteral("Clear"));
        QTRY_COMPARE_WITH_TIMEOUT(handed.count(), 1, 60000);
        QCOMPARE(handed.at(0).mid(0, 2), QVariantList({QStringLiteral("P1"), job}));
        QCOMPARE(handed.at(0).at(2).value<PrintJob>().numImages, 5);
        for (PrinterState::Activity activity : {PrinterState::Activity::Sending, PrinterState::Activity::Printing}) {
            QVERIFY(QFile::exists(job));
            printer.activity = activity;
            m_widget->updatePrinterState(printer);
        }
        QVERIFY(!QDir(folder.path()).exists());
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

    void printerError_reachesThePageInWords_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("words");
        QTest::newRow("201") << 201 << QStringLiteral("the vat tilt did not finish in time");
        QTest::newRow("205") << 205 << QStringLiteral("the projector lamp turned off during the print");
        QTest::newRow("206") << 206 << QStringLiteral("the printer could not read the job");
        QTest::newRow("unknown") << 17 << QStringLiteral("unknown printer error 17");
    }

    void printerError_reachesThePageInWords()
    {
        QFETCH(int, error);
        QFETCH(QString, words);
        QSignalSpy spy(m_widget.get(), &MyGLWidget::transmit_receivedPrinterError);
        m_widget->network_printerErrorReceived(QStringLiteral("S9"), error);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("S9"));
        const QString message = spy.at(0).at(1).toString();
        QVERIFY2(message.contains(words), qPrintable(message));
        QVERIFY(message.contains(QString::number(error)));
        QVERIFY(!message.contains(QStringLiteral("PLACEHOLDER")));
    }

    // ---- unknown printers

    void unknownSerial_answersFalseAndSendsNothing()
    {
        const QString serial = QStringLiteral("NOSUCH");
        QSignalSpy gParameter(m_widget.get(), &MyGLWidget::sendNewGParameter);
        QSignalSpy factory(m_widget.get(), &MyGLWidget::sendNewFactoryGParameter);
        QSignalSpy reset(m_widget.get(), &MyGLWidget::resetGParameter);
        QSignalSpy fineTune(m_widget.get(), &MyGLWidget::sendNewResinFineTuneFactor);
        QSignalSpy scaling(m_widget.get(), &MyGLWidget::sendNewResinScalingFactor);
        QSignalSpy print(m_widget.get(), &MyGLWidget::sendPrintJob);
        const QString job = jobFile(QStringLiteral("five.ssj"), 0.05, 5, QStringLiteral("sliced at 100 microns"));

        QVERIFY(!m_widget->isPrinterBusy(serial));
        QVERIFY(!m_widget->isPrinterBusy(QString()));
        QVERIFY(!m_widget->isPrinter75Microns(serial));
        QVERIFY(!m_widget->isGParameterDetermined(serial));
        QCOMPARE(m_widget->getGParameter(serial), 0);
        QVERIFY(!m_widget->wasResinCalibrated(serial, QStringLiteral("Clear"), 50));
        QCOMPARE(m_widget->getPrinterNicknameFromSerial(serial), QString());
        QCOMPARE(m_widget->getPrinterNetworkList(serial), QStringList());
        QCOMPARE(m_widget->getResinNames(serial).size(), 22);
        QVERIFY(m_widget->isPrinterConnectedOnAdhoc().isNull());
        QCOMPARE(m_widget->getPrinterSerialsAndNames(), QStringList());
        m_widget->modifyPrinterGParameter(serial, 40);
        m_widget->resetPrinterGParameter(serial);
        m_widget->setFactoryGParameter(serial, 40);
        m_widget->modifyResinFineTuneFactor(serial, QStringLiteral("Clear"), 50, 0.1);
        m_widget->modifyResinScalingFactor(serial, QStringLiteral("Clear"), 50, 1.1, 1.1);
        m_widget->runFineTunePrint_tolerance(serial, QStringLiteral("Clear"), 50);
        m_widget->printSSJ(serial, job, QStringLiteral("Clear"));
        QTest::qWait(150); // the print delay: nothing may follow it
        QCOMPARE(gParameter.count() + factory.count() + reset.count() + fineTune.count() + scaling.count(), 0);
        QCOMPARE(print.count(), 0);
    }

    // ---- the page's functions

    void pageFunctions_reachTheRootObject_data()
    {
        QTest::addColumn<bool>("inView");
        QTest::newRow("component") << false;
        QTest::newRow("view") << true;
    }

    void pageFunctions_reachTheRootObject()
    {
        QFETCH(bool, inView);
        m_widget.reset();
        qmlRegisterType<MyGLWidget>("OpenGLUnderQML", 1, 0, "MyGLWidget");
        const QByteArray page
            = "import QtQuick 2.0\n"
              "import OpenGLUnderQML 1.0\n"
              "Item {\n"
              "    property string calls: ''\n"
              "    property string printer: 'SER9'\n"
              "    function projectSlice(id) { calls += 'project ' + id + ';' }\n"
              "    function advanceSliceStage(p) { calls += 'slice ' + p + ';' }\n"
              "    function advancePrintStage(p, t, l) { calls += 'print ' + p + ' ' + t + ' ' + l + ';' }\n"
              "    function setSelectedPrinter() { controller.setSelectedPrinter(printer) }\n"
              "    MyGLWidget { id: controller; objectName: 'controller' }\n"
              "}\n";
        const QString pagePath = m_dir.filePath(QStringLiteral("page.qml"));
        QFile file(pagePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(page);
        file.close();

        std::unique_ptr<QQuickView> view;
        std::unique_ptr<QQmlEngine> engine;
        std::unique_ptr<QObject> root;
        auto *provider = new SliceImageProvider;
        if (inView) {
            view = std::make_unique<QQuickView>();
            view->engine()->addImageProvider(QStringLiteral("colors"), provider);
            view->setSource(QUrl::fromLocalFile(pagePath));
            QCOMPARE(view->status(), QQuickView::Ready);
        } else {
            engine = std::make_unique<QQmlEngine>();
            engine->addImageProvider(QStringLiteral("colors"), provider);
            QQmlComponent component(engine.get(), QUrl::fromLocalFile(pagePath));
            root.reset(component.create());
            QVERIFY2(root, qPrintable(component.errorString()));
        }
        QObject *pageRoot = inView ? view->rootObject() : root.get();
        auto *controller = pageRoot->findChild<MyGLWidget *>(QStringLiteral("controller"));
        QVERIFY(controller);

        controller->updateSliceProgress(42);
        controller->updateSliceProgress(-3);
        controller->updatePrinting(7, 30, 120);
        controller->printCompleted();
        QImage slice = layerImage(2);
        controller->projectSlice(slice);
        QCOMPARE(pageRoot->property("calls").toString(),
            QStringLiteral("slice 42;print 30 120 7;print 100 0 0;project 1_1;"));
        QCOMPARE(provider->image(1), slice);

        QSignalSpy grid(controller, &MyGLWidget::sendProjectGrid);
        controller->networkedProjectGrid();
        QCOMPARE(grid.count(), 1);
        QCOMPARE(grid.at(0).at(0).toString(), QStringLiteral("SER9"));

        const QString path = jobFile(QStringLiteral("five.ssj"), 0.05, 5, QStringLiteral("sliced at 100 microns"));
        QCOMPARE(controller->setSSJViewerPath(path), QStringLiteral("1"));
        QCOMPARE(whitePixels(provider->image(1)), layerBar(0).width() * layerBar(0).height());
    }

    void pageFunctions_withoutPage_doNothing()
    {
        QSignalSpy grid(m_widget.get(), &MyGLWidget::sendProjectGrid);
        m_widget->networkedProjectGrid();
        QCOMPARE(grid.count(), 0);
        m_widget->setSelectedPrinter(QStringLiteral("S4"));
        m_widget->networkedProjectGrid();
        QCOMPARE(grid.count(), 1);
        QCOMPARE(grid.at(0).at(0).toString(), QStringLiteral("S4"));
        QImage slice = layerImage(1);
        m_widget->projectSlice(slice);
        QCOMPARE(m_widget->lastShownImage(), slice);
    }
};

QTEST_MAIN(TestMyGLWidget)
#include "tst_myglwidget.moc"
