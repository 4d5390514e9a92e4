// The controller with its real Server (on the Server's own thread) and fake printers on
// loopback: the resin merge when a printer connects, the print job a printer receives
// (exposure from the catalogue, calibration from the printer), calibration edits, and the
// printer list with its commands. (Prints decided without a printer on the wire are in
// tst_myglwidget; the printer's reports reaching the controller, and a printer that stays
// connected while the window's thread is busy, in tst_windowprint.)
#include "clientdevice.h"
#include "controllertesting.h"
#include "fakeprinter.h"
#include "myglwidget.h"
#include "printjob.h"
#include "waiting.h"

#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QUrl>

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

QStringList sentStartingWith(const FakePrinter &printer, const QString &prefix)
{
    return printer.messages.filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix)));
}

// The resin lists the printer was sent, in order.
QList<QList<Resin>> resinListsSent(const FakePrinter &printer)
{
    QList<QList<Resin>> lists;
    for (const QString &message : sentStartingWith(printer, kResinData))
        lists << Resin::fromString(message.mid(kResinData.size()));
    return lists;
}

QStringList jobLinesSent(const FakePrinter &printer)
{
    return sentStartingWith(printer, kJobLine);
}

PrintJob jobSent(const FakePrinter &printer)
{
    PrintJob job;
    job.setFromString(jobLinesSent(printer).value(0));
    return job;
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
        // Published the way the Server publishes it: from its thread's object, queued.
        emit m_widget->server()->printerStateChanged(printerRecord(serial, model, list));
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
        while (m_discovery.hasPendingDatagrams())
            m_discovery.receiveDatagram();
    }

    // ---- resin merge on connection

    // The device answers an empty list with the desktop defaults; the controller then adds
    // every resin of the model's list (A for 100 microns, B for 75) the printer lacks, after the
    // printer's own profiles.
    void connect_printerEndsWithItsModelsWholeList()
    {
        m_widget->setTo75Microns();
        m_widget->saveResinCureTimes({QStringLiteral("OnlyB"), 20, 20, 20, 5, 10, 15});
        m_widget->setTo100Microns();
        QSignalSpy status(m_widget.get(), &MyGLWidget::sendUpdatePrinterConnectedStatus);
        const QString known = Resin::toString(calibratedCatalogue());
        auto empty = connectPrinter(QStringLiteral("E1"), QStringLiteral("Orbelle"), QString());
        auto printer75 = connectPrinter(QStringLiteral("B1"), QStringLiteral("Orbelle75"), known);
        auto printer100 = connectPrinter(QStringLiteral("A1"), QStringLiteral("Orbelle"), known);
        QVERIFY(empty && printer75 && printer100);
        QCOMPARE(status.first().at(0).toBool(), true);
        QVERIFY(barrier(empty.get(), QStringLiteral("E1")) && barrier(printer75.get(), QStringLiteral("B1"))
            && barrier(printer100.get(), QStringLiteral("A1")));

        const QList<QList<Resin>> sent = resinListsSent(*empty);
        QCOMPARE(sent.size(), 2);
        const QList<Resin> defaults = ClientDevice::desktopDefaultResinList();
        const QList<Resin> finalList = sent.last();
        QCOMPARE(finalList.mid(0, defaults.size()), defaults);
        QList<Resin> expectedAdded;
        for (const Resin &r : m_widget->resinListA()) {
            if (!namesOf(defaults).contains(r.name))
                expectedAdded << r;
        }
        QCOMPARE(finalList.mid(defaults.size()), expectedAdded);

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
        const QString job = m_dir.filePath(QStringLiteral("five50.ssj"));
        QVERIFY(writeJob(job, 0.05, 5, QStringLiteral("sliced at 100 microns")));
        const QString received = m_dir.filePath(QStringLiteral("received.ssj"));
        printer->expectJob(received);
        QSignalSpy progress(m_widget.get(), &MyGLWidget::sendTransferNetworkJobProgress);

        m_widget->printSSJ(QStringLiteral("P1"), QUrl::fromLocalFile(job).toString(), QStringLiteral("Clear"));
        QCOMPARE(m_widget->selectedPrinter(), QStringLiteral("P1"));

        QTRY_COMPARE_WITH_TIMEOUT(jobLinesSent(*printer).size(), 1, TestPatience::kWaitMs);
        const PrintJob sent = jobSent(*printer);
        QCOMPARE(sent.resinName, QStringLiteral("Clear"));
        QCOMPARE(
            QList<double>({sent.cureTime, sent.adhesionLayerCureTime, sent.scaleX, sent.scaleY, sent.fineTuneFactor}),
            QList<double>({10.0, 30.0, 0.9, 0.95, 1.1}));
        QCOMPARE(QList<int>({sent.numAdhesionLayers, sent.adhesionThickness, sent.layerThickness, sent.numImages}),
            QList<int>({3, 20, 50, 5}));
        // The file itself travels as the link tests check it; here, to its end.
        QTRY_COMPARE_WITH_TIMEOUT(printer->streamResult, JobStreamReceiver::Done, TestPatience::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(0).toInt() == 100, TestPatience::kWaitMs);
    }

    // ---- calibration

    // Each edit changes one profile at one thickness, and the printer gets its whole list.
    void calibrationEdits_changeTheirProfileAtTheirThickness_onThePrintersWholeList()
    {
        auto printer
            = connectPrinter(QStringLiteral("C1"), QStringLiteral("Orbelle"), Resin::toString(calibratedCatalogue()));
        QVERIFY(printer);
        const QString serial = QStringLiteral("C1");
        const QString clear = QStringLiteral("Clear");
        const QString gray = QStringLiteral("Gray");
        QSignalSpy fineTune(m_widget.get(), &MyGLWidget::sendNewResinFineTuneFactor);
        QSignalSpy scaling(m_widget.get(), &MyGLWidget::sendNewResinScalingFactor);
        m_widget->setResinFineTuneFactor(serial, clear, 20, 1.05);
        m_widget->setResinScalingFactor(serial, clear, 100, 1.0, 0.98);
        // A fine-tune change is added to the printer's factor, a scale correction multiplies
        // its scale.
        m_widget->modifyResinFineTuneFactor(serial, gray, 50, -0.05);
        m_widget->modifyResinScalingFactor(serial, clear, 50, 0.5, 2.0);
        QList<Resin> expected = calibratedCatalogue();
        find(expected, clear)->fineTuneFactor20 = 1.05;
        find(expected, clear)->scaleY100 = 0.98;
        find(expected, gray)->fineTuneFactor50 = 0.95;
        find(expected, clear)->scaleX50 = 0.45;
        find(expected, clear)->scaleY50 = 1.9;
        QVERIFY(barrier(printer.get(), serial));
        QCOMPARE(resinListsSent(*printer).last(), expected);

        // Any other thickness starts from the 100-micron factor and is passed on as it is,
        // the list unchanged; a scale has no other thickness.
        const int scalings = scaling.count();
        m_widget->modifyResinFineTuneFactor(serial, clear, 75, -0.05);
        QCOMPARE(fineTune.last().at(2).toInt(), 75);
        QCOMPARE(fineTune.last().at(3).toDouble(), 1.15);
        m_widget->modifyResinScalingFactor(serial, clear, 75, 0.5, 2.0);
        QCOMPARE(scaling.count(), scalings);
        QVERIFY(barrier(printer.get(), serial));
        QCOMPARE(resinListsSent(*printer).last(), expected);
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
        m_widget->modifyPrinterGParameter(QStringLiteral("L1"), 42);
        m_widget->resetPrinterGParameter(QStringLiteral("L1"));
        m_widget->setFactoryGParameter(QStringLiteral("L1"), 30);
        QVERIFY(first->waitForMessage(QStringLiteral("Send_FactoryGParameter,30"), TestPatience::kWaitMs));
        QCOMPARE(sentStartingWith(*first, QStringLiteral("Send_")).filter(QStringLiteral("GParameter")),
            QStringList({QStringLiteral("Send_GParameter,42"), QStringLiteral("Send_ResetGParameterToFactory"),
                QStringLiteral("Send_FactoryGParameter,30")}));

        m_widget->manage_changeNickName(QStringLiteral("L2"), QStringLiteral("Bench"));
        QVERIFY(second->waitForMessage(QStringLiteral("Server_NewNickname,Bench"), TestPatience::kWaitMs));

        m_widget->setSelectedPrinter(QStringLiteral("L2"));
        m_widget->networkedTurnOffProjector();
        QVERIFY(second->waitForMessage(QStringLiteral("Request_QA_TurnOffProjector"), TestPatience::kWaitMs));

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
};

QTEST_MAIN(TestControllerPrinter)
#include "tst_controllerprinter.moc"
