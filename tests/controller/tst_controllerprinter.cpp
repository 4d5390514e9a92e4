// The controller with its real Server (on the Server's own thread) and fake printers on
// loopback: the resin merge when a printer connects, the print job a printer receives
// (exposure from the catalogue, calibration from the printer), refused prints, calibration
// edits and prints, the compression parameter, printer reports, the printer list, and a
// printer that stays connected while the window's thread is busy.
#include "clientdevice.h"
#include "controllertesting.h"
#include "fakeprinter.h"
#include "myglwidget.h"
#include "patience.h"
#include "printjob.h"
#include "server.h"
#include "timescale.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QNetworkDatagram>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <QUrl>

#include <functional>
#include <memory>

using namespace ControllerTesting;

namespace {

const QString kReady = QStringLiteral("PrintStatus_Ready");
const QString kResinData = QStringLiteral("Send_ResinData");
const QString kJobLine = QStringLiteral("Status_SendingPrintJob,");

Resin *find(QList<Resin> &list, const QString &name)
{
    for (Resin &r : list) {
        if (r.name == name)
            return &r;
    }
    return nullptr;
}

// The resin lists the printer was sent, in order.
QList<QList<Resin>> resinListsSent(const FakePrinter &printer)
{
    QList<QList<Resin>> lists;
    for (const QString &message : printer.messages) {
        if (message.startsWith(kResinData))
            lists << Resin::fromString(message.mid(kResinData.size()));
    }
    return lists;
}

QStringList jobLinesSent(const FakePrinter &printer)
{
    QStringList lines;
    for (const QString &message : printer.messages) {
        if (message.startsWith(kJobLine))
            lines << message;
    }
    return lines;
}

} // namespace

class TestControllerPrinter : public QObject
{
    Q_OBJECT

private:
    QUdpSocket m_discovery;
    QTemporaryDir m_dir;
    std::unique_ptr<MyGLWidget> m_widget;
    int m_barriers = 0;

    // A fake printer whose handshake the controller has seen, with the record its device
    // session publishes at the handshake (the desktop's defaults for an empty resin list).
    std::unique_ptr<FakePrinter> connectPrinter(
        const QString &serial, const QString &model, const QString &resins, const QString &status = kReady)
    {
        auto printer = std::make_unique<FakePrinter>();
        QSignalSpy connected(m_widget.get(), &MyGLWidget::sendPrinterConnected_networking);
        if (!printer->connectTo(static_cast<quint16>(serverPort(*m_widget))))
            return nullptr;
        if (!QTest::qWaitFor([&] { return !printer->greeting.isEmpty(); }, TestPatience::kWaitMs))
            return nullptr;
        printer->send(FakePrinter::reply(serial, model, QStringLiteral("4.51"), status, resins));
        if (!QTest::qWaitFor([&] { return connected.count() == 1; }, TestPatience::kWaitMs))
            return nullptr;
        const QList<Resin> list
            = resins.isEmpty() ? ClientDevice::desktopDefaultResinList() : Resin::fromString(resins);
        publish(*m_widget, printerRecord(serial, model, list));
        return printer;
    }

    // Everything the controller sent the printer before this call has arrived once this
    // returns true: the connection keeps the order of messages.
    bool barrier(FakePrinter *printer, const QString &serial)
    {
        const QString mark = QStringLiteral("barrier-%1").arg(++m_barriers);
        m_widget->boardCommand(serial, mark);
        return printer->waitForMessage(QStringLiteral("Send_PiToBoardCommand,") + mark, TestPatience::kWaitMs);
    }

    QString jobFile(const QString &name, double thicknessMm, int layers)
    {
        const QString path = m_dir.filePath(name);
        if (!QFile::exists(path) && !writeJob(path, thicknessMm, layers, QStringLiteral("sliced at 100 microns")))
            return {};
        return path;
    }

    // The catalogue as a printer would hold it, with Clear calibrated at 50 microns.
    QList<Resin> calibratedCatalogue() const
    {
        QList<Resin> list = m_widget->resinListA();
        Resin *clear = find(list, QStringLiteral("Clear"));
        clear->scaleX50 = 0.9;
        clear->scaleY50 = 0.95;
        clear->fineTuneFactor50 = 1.1;
        clear->fineTuneFactor100 = 1.2;
        // The printer's own exposure settings are never used for a print.
        clear->c50 = 99;
        clear->a50 = 77;
        clear->numAdhesionLayers = 8;
        return list;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_discovery.bind(QHostAddress(QHostAddress::LocalHost), 0));
        keepNetworkOnLoopback(m_discovery.localPort());
        QVERIFY(m_dir.isValid());
        // An update request would stop at the missing update files, before any SSH.
        ClientDevice::setUpdateFiles(QStringLiteral("/nonexistent/Vatnode"), QStringLiteral("/nonexistent/script"));
    }

    void init()
    {
        m_widget = std::make_unique<MyGLWidget>();
        QVERIFY(serverPort(*m_widget, true) > 0);
    }

    void cleanup()
    {
        m_widget.reset();
        qunsetenv("TESSORA_TIME_SCALE");
        TimeScale::setFactor(1.0);
        while (m_discovery.hasPendingDatagrams())
            m_discovery.receiveDatagram();
    }

    // ---- resin merge on connection

    void connect_emptyResinList_printerEndsWithTheWholeCatalogue()
    {
        QSignalSpy status(m_widget.get(), &MyGLWidget::sendUpdatePrinterConnectedStatus);
        auto printer = connectPrinter(QStringLiteral("E1"), QStringLiteral("Orbelle"), QString());
        QVERIFY(printer);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toBool(), true);
        QVERIFY(barrier(printer.get(), QStringLiteral("E1")));

        // The device answers an empty list with the desktop defaults; the controller then
        // adds every catalogue resin the printer lacks, after the printer's own profiles.
        const QList<QList<Resin>> sent = resinListsSent(*printer);
        QCOMPARE(sent.size(), 2);
        const QList<Resin> defaults = ClientDevice::desktopDefaultResinList();
        const QList<Resin> finalList = sent.last();
        QCOMPARE(finalList.mid(0, defaults.size()), defaults);
        QStringList expectedAdded;
        for (const Resin &r : m_widget->resinListA()) {
            if (!namesOf(defaults).contains(r.name))
                expectedAdded << r.name;
        }
        QCOMPARE(namesOf(finalList.mid(defaults.size())), expectedAdded);
        for (const Resin &r : m_widget->resinListA())
            QVERIFY2(namesOf(finalList).contains(r.name), qPrintable(r.name));
        QCOMPARE(profileOf(finalList, QStringLiteral("Surgical Guide")),
            profileOf(m_widget->resinListA(), QStringLiteral("Surgical Guide")));
    }

    void connect_75MicronModel_getsListB()
    {
        m_widget->setTo75Microns();
        m_widget->saveResinCureTimes({QStringLiteral("OnlyB"), 20, 20, 20, 5, 10, 15});
        m_widget->setTo100Microns();
        const QString known = Resin::toString(calibratedCatalogue());
        auto printer75 = connectPrinter(QStringLiteral("B1"), QStringLiteral("Orbelle75"), known);
        QVERIFY(printer75);
        auto printer100 = connectPrinter(QStringLiteral("A1"), QStringLiteral("Orbelle"), known);
        QVERIFY(printer100);
        QVERIFY(barrier(printer75.get(), QStringLiteral("B1")));
        QVERIFY(barrier(printer100.get(), QStringLiteral("A1")));
        QCOMPARE(resinListsSent(*printer100).size(), 0);
        QCOMPARE(resinListsSent(*printer75).size(), 1);
        QCOMPARE(namesOf(resinListsSent(*printer75).last()).last(), QStringLiteral("OnlyB"));

        QVERIFY(m_widget->isPrinter75Microns(QStringLiteral("B1")));
        QVERIFY(!m_widget->isPrinter75Microns(QStringLiteral("A1")));
        QCOMPARE(m_widget->getResinNames(QStringLiteral("B1")), QStringList({QStringLiteral("OnlyB")}));
        QCOMPARE(m_widget->getResinNames(QStringLiteral("A1")).size(), 22);
    }

    // ---- printing

    void printSSJ_calibratedClearAt50_catalogueExposureAndPrinterFactors()
    {
        auto printer
            = connectPrinter(QStringLiteral("P1"), QStringLiteral("Orbelle"), Resin::toString(calibratedCatalogue()));
        QVERIFY(printer);
        const QString job = jobFile(QStringLiteral("five50.ssj"), 0.05, 5);
        const QString received = m_dir.filePath(QStringLiteral("received.ssj"));
        printer->expectJob(received);
        QSignalSpy progress(m_widget.get(), &MyGLWidget::sendTransferNetworkJobProgress);

        m_widget->printSSJ(QStringLiteral("P1"), QUrl::fromLocalFile(job).toString(), QStringLiteral("Clear"));
        QCOMPARE(m_widget->jobPath(), job);
        QCOMPARE(m_widget->jobLayerThickness(), 50);
        QCOMPARE(m_widget->selectedPrinter(), QStringLiteral("P1"));

        QTRY_COMPARE_WITH_TIMEOUT(jobLinesSent(*printer).size(), 1, TestPatience::kWaitMs);
        PrintJob sent;
        sent.setFromString(jobLinesSent(*printer).first());
        QCOMPARE(sent.cureTime, 10.0);
        QCOMPARE(sent.adhesionLayerCureTime, 30.0);
        QCOMPARE(sent.numAdhesionLayers, 3);
        QCOMPARE(sent.adhesionThickness, 20);
        QCOMPARE(sent.layerThickness, 50);
        QCOMPARE(sent.numImages, 5);
        QCOMPARE(sent.resinName, QStringLiteral("Clear"));
        QCOMPARE(sent.scaleX, 0.9);
        QCOMPARE(sent.scaleY, 0.95);
        QCOMPARE(sent.fineTuneFactor, 1.1);

        QTRY_COMPARE_WITH_TIMEOUT(printer->streamResult, JobStreamReceiver::Done, TestPatience::kWaitMs);
        QFile original(job);
        QFile copy(received);
        QVERIFY(original.open(QIODevice::ReadOnly) && copy.open(QIODevice::ReadOnly));
        QVERIFY(original.readAll() == copy.readAll());
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(0).toInt() == 100, TestPatience::kWaitMs);
    }

    void printSSJ_twoPrintersWithinTheDelay_eachGetsItsOwnJob()
    {
        const QString known = Resin::toString(calibratedCatalogue());
        auto first = connectPrinter(QStringLiteral("T1"), QStringLiteral("Orbelle"), known);
        auto second = connectPrinter(QStringLiteral("T2"), QStringLiteral("Orbelle"), known);
        QVERIFY(first && second);
        // The printers take the jobs: commands sent meanwhile wait for the transfers' end.
        first->expectJob(m_dir.filePath(QStringLiteral("T1.ssj")));
        second->expectJob(m_dir.filePath(QStringLiteral("T2.ssj")));
        m_widget->printSSJ(
            QStringLiteral("T1"), jobFile(QStringLiteral("five50.ssj"), 0.05, 5), QStringLiteral("Gray"));
        m_widget->printSSJ(
            QStringLiteral("T2"), jobFile(QStringLiteral("three100.ssj"), 0.1, 3), QStringLiteral("White"));
        QTRY_COMPARE_WITH_TIMEOUT(jobLinesSent(*first).size(), 1, TestPatience::kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(jobLinesSent(*second).size(), 1, TestPatience::kWaitMs);
        QVERIFY(barrier(first.get(), QStringLiteral("T1")));
        QVERIFY(barrier(second.get(), QStringLiteral("T2")));
        QCOMPARE(jobLinesSent(*first).size(), 1);
        PrintJob one;
        one.setFromString(jobLinesSent(*first).first());
        PrintJob two;
        two.setFromString(jobLinesSent(*second).first());
        QCOMPARE(one.resinName, QStringLiteral("Gray"));
        QCOMPARE(one.layerThickness, 50);
        QCOMPARE(one.numImages, 5);
        QCOMPARE(two.resinName, QStringLiteral("White"));
        QCOMPARE(two.layerThickness, 100);
        QCOMPARE(two.numImages, 3);
        QCOMPARE(two.cureTime, 15.0);
        QCOMPARE(two.adhesionLayerCureTime, 45.0);
    }

    void printSSJ_refused_nothingSentAndTheUserIsTold_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<double>("thicknessMm");
        QTest::addColumn<QString>("resin");
        QTest::addColumn<QString>("told");
        QTest::newRow("Castable at 100") << QStringLiteral("three100.ssj") << 0.1 << QStringLiteral("Castable")
                                         << QStringLiteral("not offered for layers of 100 microns");
        QTest::newRow("Surgical Guide at 20") << QStringLiteral("two20.ssj") << 0.02 << QStringLiteral("Surgical Guide")
                                              << QStringLiteral("not offered for layers of 20 microns");
        QTest::newRow("75-micron layers") << QStringLiteral("two75.ssj") << 0.075 << QStringLiteral("Clear")
                                          << QStringLiteral("layers of 75 microns");
        QTest::newRow("unreadable file") << QString() << 0.0 << QStringLiteral("Clear")
                                         << QStringLiteral("could not be read");
    }

    void printSSJ_refused_nothingSentAndTheUserIsTold()
    {
        QFETCH(QString, file);
        QFETCH(double, thicknessMm);
        QFETCH(QString, resin);
        QFETCH(QString, told);
        auto printer
            = connectPrinter(QStringLiteral("R1"), QStringLiteral("Orbelle"), Resin::toString(calibratedCatalogue()));
        QVERIFY(printer);
        const QString path
            = file.isEmpty() ? m_dir.filePath(QStringLiteral("nothing-here.ssj")) : jobFile(file, thicknessMm, 2);
        QSignalSpy popup(m_widget.get(), &MyGLWidget::sendMessagePopup);
        QSignalSpy send(m_widget.get(), &MyGLWidget::sendPrintJob);

        m_widget->printSSJ(QStringLiteral("R1"), path, resin);
        QCOMPARE(popup.count(), 1);
        QVERIFY2(popup.at(0).at(0).toString().contains(told), qPrintable(popup.at(0).at(0).toString()));
        QTest::qWait(150); // past the print delay
        QVERIFY(barrier(printer.get(), QStringLiteral("R1")));
        QCOMPARE(send.count(), 0);
        QCOMPARE(jobLinesSent(*printer).size(), 0);
        QVERIFY(!m_widget->isPrinterBusy(QStringLiteral("R1")));
    }

    // ---- calibration

    void calibrationEdits_sendThePrintersWholeList()
    {
        auto printer
            = connectPrinter(QStringLiteral("C1"), QStringLiteral("Orbelle"), Resin::toString(m_widget->resinListA()));
        QVERIFY(printer);
        const QString serial = QStringLiteral("C1");
        const QString clear = QStringLiteral("Clear");
        m_widget->setResinFineTuneFactor(serial, clear, 20, 1.05);
        m_widget->setResinScalingFactor(serial, clear, 100, 1.0, 0.98);
        QVERIFY(barrier(printer.get(), serial));
        const QList<Resin> sent = resinListsSent(*printer).last();
        QCOMPARE(profileOf(sent, clear).fineTuneFactor20, 1.05);
        QCOMPARE(profileOf(sent, clear).scaleY100, 0.98);
        QCOMPARE(profileOf(sent, QStringLiteral("Gray")), profileOf(m_widget->resinListA(), QStringLiteral("Gray")));
    }

    void modifyResinFineTuneFactor_addsTheChangeToThePrintersFactor()
    {
        auto printer
            = connectPrinter(QStringLiteral("M1"), QStringLiteral("Orbelle"), Resin::toString(calibratedCatalogue()));
        QVERIFY(printer);
        const QString serial = QStringLiteral("M1");
        QSignalSpy fineTune(m_widget.get(), &MyGLWidget::sendNewResinFineTuneFactor);

        m_widget->modifyResinFineTuneFactor(serial, QStringLiteral("Gray"), 50, -0.05);
        QCOMPARE(fineTune.count(), 1);
        QCOMPARE(fineTune.at(0).at(3).toDouble(), 0.95);
        QVERIFY(barrier(printer.get(), serial));
        const QList<Resin> sent = resinListsSent(*printer).last();
        QCOMPARE(profileOf(sent, QStringLiteral("Gray")).fineTuneFactor50, 0.95);
        QCOMPARE(profileOf(sent, QStringLiteral("Clear")), profileOf(calibratedCatalogue(), QStringLiteral("Clear")));

        // Any other thickness starts from the 100-micron factor and is passed on as it is.
        m_widget->modifyResinFineTuneFactor(serial, QStringLiteral("Clear"), 75, -0.05);
        QCOMPARE(fineTune.count(), 2);
        QCOMPARE(fineTune.at(1).at(2).toInt(), 75);
        QCOMPARE(fineTune.at(1).at(3).toDouble(), 1.15);
        QVERIFY(barrier(printer.get(), serial));
        QCOMPARE(resinListsSent(*printer).last(), sent);
    }

    void modifyResinScalingFactor_multipliesThePrintersScale()
    {
        auto printer
            = connectPrinter(QStringLiteral("S1"), QStringLiteral("Orbelle"), Resin::toString(calibratedCatalogue()));
        QVERIFY(printer);
        const QString serial = QStringLiteral("S1");
        QSignalSpy scaling(m_widget.get(), &MyGLWidget::sendNewResinScalingFactor);

        m_widget->modifyResinScalingFactor(serial, QStringLiteral("Clear"), 50, 0.5, 2.0);
        QCOMPARE(scaling.count(), 1);
        QVERIFY(barrier(printer.get(), serial));
        const Resin clear = profileOf(resinListsSent(*printer).last(), QStringLiteral("Clear"));
        QCOMPARE(clear.scaleX50, 0.45);
        QCOMPARE(clear.scaleY50, 1.9);

        m_widget->modifyResinScalingFactor(serial, QStringLiteral("Clear"), 75, 0.5, 2.0);
        QCOMPARE(scaling.count(), 1);
    }

    void runFineTunePrint_twelveJobs_byModelKindAndThickness()
    {
        const QString known = Resin::toString(calibratedCatalogue());
        auto printer100 = connectPrinter(QStringLiteral("K1"), QStringLiteral("Orbelle"), known);
        auto printer75 = connectPrinter(QStringLiteral("K2"), QStringLiteral("Orbelle75"), known);
        QVERIFY(printer100 && printer75);
        printer100->expectJob(m_dir.filePath(QStringLiteral("K1.ssj")));
        printer75->expectJob(m_dir.filePath(QStringLiteral("K2.ssj")));
        // A printer takes one job at a time: each print waits for the last one's transfer.
        const bool jobsBuilt = QFileInfo(QStringLiteral(":/stl_ssj/calibration_20layer_100P.ssj")).isFile();
        const auto transferred = [&](FakePrinter *printer, int jobs) {
            return !jobsBuilt
                || QTest::qWaitFor(
                    [&] {
                        return jobLinesSent(*printer).size() == jobs && printer->streamResult == JobStreamReceiver::Done
                            && !printer->receiver;
                    },
                    TestPatience::kWaitMs);
        };
        QHash<FakePrinter *, int> printsOf;
        QStringList paths;
        for (int thickness : {20, 50, 100}) {
            for (const QString &serial : {QStringLiteral("K1"), QStringLiteral("K2")}) {
                const bool is75 = serial == QLatin1String("K2");
                FakePrinter *printer = is75 ? printer75.get() : printer100.get();
                const QString model = is75 ? QStringLiteral("75Q") : QStringLiteral("100P");
                m_widget->runFineTunePrint_tolerance(serial, QStringLiteral("Clear"), thickness);
                QCOMPARE(m_widget->jobPath(),
                    QStringLiteral(":/stl_ssj/calibration_%1layer_%2.ssj").arg(thickness).arg(model));
                paths << m_widget->jobPath();
                QVERIFY(transferred(printer, ++printsOf[printer]));
                m_widget->runFineTunePrint_dimensions(serial, QStringLiteral("Clear"), thickness);
                QCOMPARE(m_widget->jobPath(),
                    QStringLiteral(":/stl_ssj/dimensionalAccuracy_%1layer_%2.ssj").arg(thickness).arg(model));
                paths << m_widget->jobPath();
                QVERIFY(transferred(printer, ++printsOf[printer]));
            }
        }
        QCOMPARE(paths.size(), 12);
        QCOMPARE(QSet<QString>(paths.begin(), paths.end()).size(), 12);

        // Nothing for another thickness or an unknown printer.
        m_widget->runFineTunePrint_tolerance(QStringLiteral("K1"), QStringLiteral("Clear"), 75);
        m_widget->runFineTunePrint_dimensions(QStringLiteral("NOSUCH"), QStringLiteral("Clear"), 50);
        QCOMPARE(m_widget->jobPath(), paths.last());

        // The calibration jobs, once built into the program, go out as any other print.
        if (!QFileInfo(paths.first()).isFile())
            QSKIP("The calibration jobs are not among the resources of this build");
        QTRY_COMPARE_WITH_TIMEOUT(jobLinesSent(*printer100).size(), 6, TestPatience::kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(jobLinesSent(*printer75).size(), 6, TestPatience::kWaitMs);
        QList<int> thicknesses;
        for (const QString &line : jobLinesSent(*printer100)) {
            PrintJob sent;
            sent.setFromString(line);
            QVERIFY(sent.numImages > 0);
            QCOMPARE(sent.resinName, QStringLiteral("Clear"));
            QCOMPARE(sent.scaleX, sent.layerThickness == 50 ? 0.9 : 1.0);
            thicknesses << sent.layerThickness;
        }
        QCOMPARE(thicknesses, QList<int>({20, 20, 50, 50, 100, 100}));
    }

    // ---- compression parameter

    void gParameter_setResetAndFactoryValue()
    {
        auto printer
            = connectPrinter(QStringLiteral("G1"), QStringLiteral("Orbelle"), Resin::toString(calibratedCatalogue()));
        QVERIFY(printer);
        const QString serial = QStringLiteral("G1");
        QCOMPARE(m_widget->getGParameter(serial), 7); // the fake printer reports "g7"
        QVERIFY(m_widget->isGParameterDetermined(serial));
        m_widget->modifyPrinterGParameter(serial, 42);
        QVERIFY(printer->waitForMessage(QStringLiteral("Send_GParameter,42"), TestPatience::kWaitMs));
        m_widget->resetPrinterGParameter(serial);
        QVERIFY(printer->waitForMessage(QStringLiteral("Send_ResetGParameterToFactory"), TestPatience::kWaitMs));
        m_widget->setFactoryGParameter(serial, 30);
        QVERIFY(printer->waitForMessage(QStringLiteral("Send_FactoryGParameter,30"), TestPatience::kWaitMs));
    }

    // ---- reports from the printer

    void printerReports_reachThePageWithTheSerial()
    {
        auto printer
            = connectPrinter(QStringLiteral("Q1"), QStringLiteral("Orbelle"), Resin::toString(calibratedCatalogue()));
        QVERIFY(printer);
        QSignalSpy error(m_widget.get(), &MyGLWidget::transmit_receivedPrinterError);
        QSignalSpy progress(m_widget.get(), &MyGLWidget::updatePrintProgress_networkForQML);
        QSignalSpy done(m_widget.get(), &MyGLWidget::updatePrintDone_networkForQML);
        QSignalSpy paused(m_widget.get(), &MyGLWidget::pauseCompleted);
        printer->send(QStringLiteral("Send_PrintingError,202"));
        printer->send(QStringLiteral("Send_PrintProgress,3,60,12,job.ssj,Clear,50"));
        printer->send(QStringLiteral("Send_PauseMovementDone"));
        printer->send(QStringLiteral("Send_PrintDone"));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, TestPatience::kWaitMs);
        QCOMPARE(error.count(), 1);
        QCOMPARE(error.at(0).at(0).toString(), QStringLiteral("Q1"));
        QVERIFY(error.at(0).at(1).toString().contains(QStringLiteral("the printer lost its motor board")));
        QCOMPARE(progress.count(), 1);
        QCOMPARE(progress.at(0),
            QVariantList({QStringLiteral("Q1"), 3, 60, 12, QStringLiteral("job.ssj"), QStringLiteral("Clear"), 50}));
        QCOMPARE(paused.at(0).at(0).toString(), QStringLiteral("Q1"));
        QCOMPARE(done.at(0).at(0).toString(), QStringLiteral("Q1"));
    }

    // ---- printer list and management

    void printerList_connectRenameDisconnect()
    {
        const QString known = Resin::toString(calibratedCatalogue());
        auto first = connectPrinter(QStringLiteral("L1"), QStringLiteral("Orbelle"), known);
        auto second = connectPrinter(QStringLiteral("L2"), QStringLiteral("Orbelle75"), known);
        QVERIFY(first && second);
        QCOMPARE(m_widget->getPrinterSerialsAndNames(),
            QStringList(
                {QStringLiteral("L1"), QStringLiteral("NickL1"), QStringLiteral("L2"), QStringLiteral("NickL2")}));
        QCOMPARE(m_widget->isPrinterConnectedOnAdhoc(), QStringLiteral("L1"));
        QCOMPARE(m_widget->getPrinterNetworkList(QStringLiteral("L2")),
            QStringList({QStringLiteral("wifiA"), QStringLiteral("wifiB")}));

        m_widget->manage_changeNickName(QStringLiteral("L2"), QStringLiteral("Bench"));
        QVERIFY(second->waitForMessage(QStringLiteral("Server_NewNickname,Bench"), TestPatience::kWaitMs));

        m_widget->setSelectedPrinter(QStringLiteral("L2"));
        m_widget->networkedTurnOffProjector();
        QVERIFY(second->waitForMessage(QStringLiteral("Request_QA_TurnOffProjector"), TestPatience::kWaitMs));
        m_widget->moveTankUp(QStringLiteral("L1"));
        QVERIFY(first->waitForMessage(QStringLiteral("Request_TiltUp"), TestPatience::kWaitMs));

        QSignalSpy status(m_widget.get(), &MyGLWidget::sendUpdatePrinterConnectedStatus);
        QSignalSpy gone(m_widget.get(), &MyGLWidget::sendPrinterDisconnected_networking);
        m_widget->manage_disconnectPrinter(QStringLiteral("L1"));
        QTRY_COMPARE_WITH_TIMEOUT(gone.count(), 1, 10000);
        QCOMPARE(gone.at(0).at(0).toString(), QStringLiteral("L1"));
        QCOMPARE(status.at(0).at(0).toBool(), true);
        QCOMPARE(m_widget->getPrinterSerialsAndNames().size(), 2);
        QCOMPARE(m_widget->getPrinterSerialsAndNames().first(), QStringLiteral("L2"));
        m_widget->manage_disconnectPrinter(QStringLiteral("L2"));
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 2, 10000);
        QCOMPARE(status.at(1).at(0).toBool(), false);
        QVERIFY(m_widget->isPrinterConnectedOnAdhoc().isNull());
    }

    // ---- the link's own thread

    void windowThreadBlocked_pastTheHeartbeatTimeOut_printerStaysConnected()
    {
        // Every heartbeat timer at 1/20: the desktop beats every 100 ms and gives a silent
        // printer up after 750 ms, as does a printer.
        m_widget.reset();
        qputenv("TESSORA_TIME_SCALE", "0.05");
        m_widget = std::make_unique<MyGLWidget>();
        const int port = serverPort(*m_widget, true);
        QSignalSpy connected(m_widget.get(), &MyGLWidget::sendPrinterConnected_networking);
        QSignalSpy gone(m_widget.get(), &MyGLWidget::sendPrinterDisconnected_networking);

        // The printer keeps its own time on a thread of its own, as a real one does.
        QThread printerThread;
        QObject printerSide;
        printerSide.moveToThread(&printerThread);
        printerThread.start();
        std::unique_ptr<FakePrinter> printer;
        QTimer *beat = nullptr;
        const auto onPrinterThread = [&](const std::function<void()> &work) {
            QMetaObject::invokeMethod(&printerSide, work, Qt::BlockingQueuedConnection);
        };
        const auto desktopBeats = [&] {
            int count = 0;
            onPrinterThread([&] { count = printer->messages.count(QLatin1String(Message::kKeepAlive)); });
            return count;
        };
        bool greeted = false;
        onPrinterThread([&] {
            printer = std::make_unique<FakePrinter>();
            greeted = printer->connectTo(static_cast<quint16>(port)) && printer->socket.waitForReadyRead(10000);
            printer->send(FakePrinter::reply(QStringLiteral("H1"), QStringLiteral("Orbelle"), QStringLiteral("4.51"),
                kReady, Resin::toString(calibratedCatalogue())));
            beat = new QTimer(&printerSide);
            QObject::connect(
                beat, &QTimer::timeout, &printerSide, [&] { printer->send(QLatin1String(Message::kKeepAlive)); });
            beat->start(100);
        });
        QVERIFY(greeted);
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(desktopBeats() > 0, 10000);

        // A long job on the window's thread (slicing, supports): nearly three time-outs.
        const int before = desktopBeats();
        QThread::msleep(2000);
        QVERIFY2(desktopBeats() >= before + 5, qPrintable(QString::number(desktopBeats() - before)));
        QTest::qWait(1500); // two more time-outs with the window's thread free again
        QCOMPARE(gone.count(), 0);

        onPrinterThread([&] {
            delete beat;
            printer.reset();
        });
        printerThread.quit();
        printerThread.wait();
    }
};

QTEST_MAIN(TestControllerPrinter)
#include "tst_controllerprinter.moc"
