// ClientDevice against a fake printer on loopback: handshake rules, framing, dispatcher,
// the printer's record, commands, free text, resin edits, heartbeat and the job stream.
#include "clientdevice.h"
#include "fakeprinter.h"
#include "logcapture.h"
#include "timescale.h"
#include "waiting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {
const QString kReady = QStringLiteral("PrintStatus_Ready");
const QString kPrinting = QStringLiteral("PrintStatus_Printing");
const QString kPaused = QStringLiteral("PrintStatus_Paused");
using Activity = PrinterState::Activity;
using Outcome = PrinterState::Outcome;

bool writeJobFile(const QString &path, int size)
{
    QByteArray content(size, '\0');
    for (int i = 0; i < size; ++i)
        content[i] = static_cast<char>((i * 131) ^ (i >> 9));
    return writeFileBytes(path, content);
}
} // namespace

class TestClientDevice : public QObject
{
    Q_OBJECT

private:
    QTcpServer m_listener;
    std::unique_ptr<FakePrinter> m_printer;
    QPointer<ClientDevice> m_device;

    // A fake printer connected to a fresh device; the greeting has arrived.
    void connectPrinter(bool legacy = false)
    {
        m_printer = std::make_unique<FakePrinter>(legacy);
        QVERIFY(m_printer->connectTo(m_listener.serverPort()));
        QVERIFY(m_listener.waitForNewConnection(2000));
        m_device = new ClientDevice(m_listener.nextPendingConnection());
        QTRY_VERIFY(!m_printer->greeting.isEmpty());
    }

    // Connected and handshaken with the given status and resin list text.
    void handshake(const QString &version, const QString &status, const QString &resins)
    {
        connectPrinter();
        QSignalSpy done(m_device.data(), &ClientDevice::handshakeCompleted);
        m_printer->send(FakePrinter::reply(QStringLiteral("S1"), QStringLiteral("Orbelle"), version, status, resins));
        QTRY_COMPARE(done.count(), 1);
    }

    QString defaultText() const { return Resin::toString(Resin::defaultResinList()); }

    // A message from the printer, handled once the record was published for it; or a
    // desktop command written "!pause", "!resume", "!cancel", "!reprint".
    void step(const QString &step, QSignalSpy &published)
    {
        const QMap<QString, void (ClientDevice::*)()> commands
            = {{"!pause", &ClientDevice::sendPause}, {"!resume", &ClientDevice::sendResume},
                {"!cancel", &ClientDevice::sendCancel}, {"!reprint", &ClientDevice::sendReprint}};
        if (commands.contains(step))
            return (m_device->*commands.value(step))();
        const int before = published.count();
        m_printer->send(step);
        QTRY_VERIFY2(published.count() > before, qPrintable(step));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_listener.listen(QHostAddress::LocalHost, 0));
        // Update requests here stop at the missing update files, before any SSH.
        ClientDevice::setUpdateFiles(QStringLiteral("/nonexistent/Vatnode"), QStringLiteral("/nonexistent/script"));
    }

    void cleanup()
    {
        delete m_device.data();
        m_printer.reset();
        TimeScale::setFactor(1.0);
    }

    // The handshake reply decides: a printer too old is asked to update, a newer one is
    // served with a notice, a Pro model is not served at all.
    void handshake_byVersionAndModel_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("fields");
        QTest::addColumn<QString>("outcome");
        const QString orbelle = QStringLiteral("Orbelle");
        QTest::newRow("4.3, idle: update asked") << orbelle << "4.3" << kReady << 9 << "update";
        QTest::newRow("4.4") << orbelle << "4.4" << kReady << 9 << "complete";
        QTest::newRow("4.51, eight fields: G parameter 0") << orbelle << "4.51" << kReady << 8 << "complete";
        QTest::newRow("5.0, paused") << orbelle << "5.0" << kPaused << 9 << "complete";
        QTest::newRow("5.1, printing: notice") << orbelle << "5.1" << kPrinting << 9 << "notice";
        QTest::newRow("PRO") << QStringLiteral("PRO-75") << "4.51" << kReady << 9 << "closed";
        QTest::newRow("pro inside") << QStringLiteral("xproy") << "4.51" << kReady << 9 << "closed";
    }

    void handshake_byVersionAndModel()
    {
        QFETCH(QString, model);
        QFETCH(QString, version);
        QFETCH(QString, status);
        QFETCH(int, fields);
        QFETCH(QString, outcome);
        connectPrinter();
        QCOMPARE(m_printer->greeting, QStringLiteral("*header*Tessora_Server"));
        QSignalSpy done(m_device.data(), &ClientDevice::handshakeCompleted);
        QSignalSpy update(m_device.data(), &ClientDevice::updateRequested);
        QSignalSpy notice(m_device.data(), &ClientDevice::sendMessageToGUI);
        QSignalSpy closed(&m_printer->socket, &QTcpSocket::disconnected);
        m_printer->send(FakePrinter::reply(QStringLiteral("S1"), model, version, status, defaultText(), fields));
        if (outcome == QLatin1String("closed") || outcome == QLatin1String("update")) {
            if (outcome == QLatin1String("closed"))
                QTRY_COMPARE(closed.count(), 1);
            else
                QTRY_COMPARE(update.value(0).value(0).toString(), QStringLiteral("S1"));
            QTest::qWait(100);
            QCOMPARE(done.count(), 0);
            QVERIFY(!m_device->isHandshakeCompleted());
            return;
        }
        QTRY_COMPARE(done.count(), 1);
        QCOMPARE(update.count(), 0);
        QCOMPARE(m_device->gParameter(), fields == 9 ? 7 : 0);
        if (outcome == QLatin1String("complete")) {
            QCOMPARE(notice.count(), 0);
            QCOMPARE(done.at(0).at(2).toString(), status);
            QCOMPARE(m_device->resins(), Resin::defaultResinList());
            QVERIFY(!m_device->isLegacyPrinter());
            return;
        }
        QCOMPARE(notice.value(0).value(0).toString(), ClientDevice::updateNotice);
        QCOMPARE(done.at(0).at(2).toString(), kPrinting);
        QVERIFY(m_printer->waitForMessage(QStringLiteral("Request_PrintProgress")));
    }

    void handshake_emptyResinList_answeredWithDesktopDefault()
    {
        handshake(QStringLiteral("4.51"), kReady, QString());
        const QList<Resin> expected = ClientDevice::desktopDefaultResinList();
        QVERIFY(m_printer->waitForMessage(QStringLiteral("Send_ResinData") + Resin::toString(expected)));
        QCOMPARE(m_device->resins(), expected);
        QCOMPARE(m_device->getResinFromName(QStringLiteral("White")).c50, 10.0);
    }

    void legacyPrinter_rawHandshake_answeredWithRawFrames()
    {
        connectPrinter(true);
        QSignalSpy done(m_device.data(), &ClientDevice::handshakeCompleted);
        m_printer->send(FakePrinter::reply(
            QStringLiteral("SL"), QStringLiteral("Orbelle"), QStringLiteral("4.51"), kPrinting, defaultText()));
        QTRY_COMPARE(done.count(), 1);
        QVERIFY(m_device->isLegacyPrinter());
        QTRY_VERIFY(m_printer->rawTexts.contains(QStringLiteral("*header*Request_PrintProgress")));
        m_device->sendPause();
        QTRY_VERIFY(m_printer->rawTexts.contains(QStringLiteral("*header*Request_PausePrint")));
    }

    void dispatcher_everyMessage_reachesItsSignal_othersChangeNothing()
    {
        handshake(QStringLiteral("4.51"), kPrinting, defaultText());
        ClientDevice *d = m_device.data();
        QSignalSpy progress(d, &ClientDevice::printProgressGUI);
        QSignalSpy done(d, &ClientDevice::printDoneGUI);
        QSignalSpy error(d, &ClientDevice::transmit_receivedPrinterError);
        QSignalSpy pauseDone(d, &ClientDevice::pauseCompleted);
        QSignalSpy resumeDone(d, &ClientDevice::resumeCompleted);
        QSignalSpy pauseStart(d, &ClientDevice::pauseStarted);
        QSignalSpy resumeStart(d, &ClientDevice::resumeStarted);
        QSignalSpy cancelled(d, &ClientDevice::printCancelled);
        QSignalSpy update(d, &ClientDevice::updateRequested);
        const QList<QSignalSpy *> all
            = {&progress, &done, &error, &pauseDone, &resumeDone, &pauseStart, &resumeStart, &cancelled, &update};
        struct Case {
            QString message;
            QSignalSpy *spy;
        };
        const QList<Case> cases = {
            {"Send_PrintProgress,12,40,33,job.ssj,Clear,50", &progress},
            {"Send_PrintingError,204", &error},
            {"Send_PauseMovementDone", &pauseDone},
            {"Send_ResumeMovementDone", &resumeDone},
            {"Request_PausePrint", &pauseStart},
            {"Request_ResumePrint", &resumeStart},
            {"Request_CancelPrint", &cancelled},
            {"Request_Update", &update},
            {"Send_PrintDone", &done},
        };
        // Frames that change nothing (a keep-alive, a grayscale, an unknown message) come in
        // one packet with the first report: that one is still handled, and alone.
        QByteArray ignored;
        for (const char *message : {"Connection-Alive", "Send_NewGrayscale,{}", "Bogus,1"})
            ignored += Protocol::frame(QLatin1String(Protocol::kMarker) + message);
        for (const Case &c : cases) {
            QList<int> before;
            for (QSignalSpy *spy : all)
                before << spy->count();
            m_printer->sendBytes((c.spy == &progress ? ignored : QByteArray())
                + Protocol::frame(QLatin1String(Protocol::kMarker) + c.message));
            QTRY_COMPARE(c.spy->count(), before.at(all.indexOf(c.spy)) + 1);
            for (int i = 0; i < all.size(); ++i) {
                if (all.at(i) != c.spy)
                    QVERIFY2(all.at(i)->count() == before.at(i), qPrintable(c.message));
            }
        }
        QCOMPARE(progress.at(0), QVariantList({12, 40, 33, QStringLiteral("job.ssj"), QStringLiteral("Clear"), 50}));
        QCOMPARE(m_device->lastTimeLeft(), 33);
        QCOMPARE(error.at(0).at(0).toInt(), 204);
        QCOMPARE(m_device->lastErrorNumber(), 204);
        QCOMPARE(m_device->lastErrorText(), QStringLiteral("the projector lamp did not confirm it is on"));
        QCOMPARE(update.at(0).at(0).toString(), QStringLiteral("S1"));
        QCOMPARE(m_device->status(), ClientDevice::Ready); // after Send_PrintDone
    }

    void record_followsRequestsAndReports_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("activity");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("lastError");
        const auto row = [](const char *name, const QString &status, const QStringList &steps, Activity activity,
                             Outcome outcome = Outcome::None, int error = 0) {
            QTest::newRow(name) << status << steps << int(activity) << int(outcome) << error;
        };
        const QString refused = "Send_RequestRefused,%1,%2," + Protocol::encodeField("nothing, to do");
        row("pause asked", kPrinting, {"!pause"}, Activity::Pausing);
        row("pause confirmed", kPrinting, {"!pause", "Send_PauseMovementDone"}, Activity::Paused);
        row("button pause", kPrinting, {"Request_PausePrint"}, Activity::Pausing);
        row("resume asked", kPaused, {"!resume"}, Activity::Resuming);
        row("resume confirmed", kPaused, {"!resume", "Send_ResumeMovementDone"}, Activity::Printing);
        row("button resume", kPaused, {"Request_ResumePrint"}, Activity::Resuming);
        row("progress ends resuming", kPaused, {"!resume", "Send_PrintProgress,3,5,60,a.ssj,Clear,50"},
            Activity::Printing);
        row("cancel asked", kPrinting, {"!cancel"}, Activity::Cancelling);
        row("cancel then done", kPrinting, {"!cancel", "Send_PrintDone"}, Activity::Ready, Outcome::Cancelled);
        row("button cancel, status ready", kPrinting, {"Request_CancelPrint", "Send_PrintStatus," + kReady},
            Activity::Ready, Outcome::Cancelled);
        row("done", kPrinting, {"Send_PrintDone"}, Activity::Ready, Outcome::Finished);
        row("status ready", kPrinting, {"Send_PrintStatus," + kReady}, Activity::Ready, Outcome::Finished);
        row("error, print goes on", kPrinting, {"Send_PrintingError,204"}, Activity::Printing, Outcome::None, 204);
        row("error, print ended", kPrinting, {"Send_PrintingError,202", "Send_PrintStatus," + kReady}, Activity::Ready,
            Outcome::Failed, 202);
        row("status paused while printing", kPrinting, {"Send_PrintStatus," + kPaused}, Activity::Pausing);
        row("status paused, movement done", kPrinting, {"Send_PrintStatus," + kPaused, "Send_PauseMovementDone"},
            Activity::Paused);
        row("movement done, status paused", kPrinting, {"Send_PauseMovementDone", "Send_PrintStatus," + kPaused},
            Activity::Paused);
        row("status printing while paused", kPaused, {"Send_PrintStatus," + kPrinting}, Activity::Resuming);
        row("status printing while ready", kReady, {"Send_PrintStatus," + kPrinting}, Activity::Printing);
        row("pause refused", kPrinting, {"!pause", refused.arg("Request_PausePrint", kPrinting)}, Activity::Printing);
        row("resume refused", kPaused, {"!resume", refused.arg("Request_ResumePrint", kPaused)}, Activity::Paused);
        row("cancel refused, then done", kPrinting,
            {"!cancel", refused.arg("Request_CancelPrint", kPrinting), "Send_PrintDone"}, Activity::Ready,
            Outcome::Finished);
        row("reprint after a failed print", kPrinting,
            {"Send_PrintingError,205", "Send_PrintStatus," + kReady, "!reprint"}, Activity::Printing);
        row("reprint refused", kPrinting, {"Send_PrintDone", "!reprint", refused.arg("Request_Reprint", kReady)},
            Activity::Ready, Outcome::Finished);
    }

    // The record: the printer's status refined by the requests in flight, and how the last
    // print ended.
    void record_followsRequestsAndReports()
    {
        QFETCH(QString, status);
        QFETCH(QStringList, steps);
        handshake(QStringLiteral("4.51"), status, defaultText());
        QSignalSpy published(m_device.data(), &ClientDevice::stateChanged);
        for (const QString &s : qAsConst(steps))
            step(s, published);
        const PrinterState state = m_device->state();
        QTEST(int(state.activity), "activity");
        QTEST(int(state.outcome), "outcome");
        QTEST(state.lastError, "lastError");
        // What went out is what went to the pages.
        QCOMPARE(int(published.last().at(0).value<PrinterState>().activity), int(state.activity));
    }

    // An edit for a resin the printer does not have, or for 75 microns (no factors there),
    // changes nothing: the list goes out as it was.
    void resinEdits_unknownNameOrThickness75_sendListUnchanged()
    {
        handshake(QStringLiteral("4.51"), kReady, defaultText());
        const QString unchanged = "Send_ResinData" + defaultText();
        for (const QPair<QString, int> &edit : QList<QPair<QString, int>>({{"Purple", 50}, {"Clear", 75}})) {
            m_printer->messages.clear();
            QVERIFY(m_device->updateFineTuneFactor(edit.first, edit.second, 1.3));
            QVERIFY(m_printer->waitForMessage(unchanged));
            m_printer->messages.clear();
            QVERIFY(m_device->updateResinScale(edit.first, edit.second, 1.1, 1.1));
            QVERIFY(m_printer->waitForMessage(unchanged));
        }
        QCOMPARE(m_device->resins(), Resin::defaultResinList());
    }

    void resinEdits_version43_refused()
    {
        handshake(QStringLiteral("4.3"), kPrinting, defaultText());
        QVERIFY(!m_device->updateFineTuneFactor(QStringLiteral("Clear"), 50, 1.2));
        QVERIFY(!m_device->replaceResins(defaultText()));
        m_device->sendPlatformUp(); // a marker: everything before it has arrived
        QVERIFY(m_printer->waitForMessage(QStringLiteral("Request_PlatformUp")));
        QVERIFY(m_printer->messages.filter(QStringLiteral("Send_ResinData")).isEmpty());
    }

    // Commands asked during the transfer wait for its end, then go out in order: a frame
    // inside the stream would corrupt the job.
    void jobStream_byteIdenticalWithHeader_commandsAndHeartbeatWaitForItsEnd()
    {
        TimeScale::setFactor(0.05); // 100 ms interval, 750 ms time-out
        QTemporaryDir dir;
        const QString jobPath = dir.filePath(QStringLiteral("cube.ssj"));
        QVERIFY(writeJobFile(jobPath, 24 * 1024 * 1024 + 123));
        const QByteArray content = fileBytes(jobPath);
        handshake(QStringLiteral("4.51"), kReady, defaultText());
        const QString target = dir.filePath(QStringLiteral("received.ssj"));
        m_printer->expectJob(target);
        // The printer reads slowly at first, so the desktop is still writing the stream.
        m_printer->socket.setReadBufferSize(64 * 1024);
        m_printer->holdStream = true;
        QTimer beat;
        connect(&beat, &QTimer::timeout, this, [this] { m_printer->send(QStringLiteral("Connection-Alive")); });
        beat.start(100);

        QSignalSpy progress(m_device.data(), &ClientDevice::sendBytesWritten);
        QSignalSpy published(m_device.data(), &ClientDevice::stateChanged);
        LogCapture log;
        PrintJob job;
        job.resinName = QStringLiteral("Clear");
        job.numImages = 80;
        m_device->setJobFilePath(jobPath);
        QVERIFY(m_device->sendPrintJob(job));
        QCOMPARE(m_device->status(), ClientDevice::Printing);
        QCOMPARE(m_device->state().activity, Activity::Sending);
        QCOMPARE(m_device->state().jobName, QStringLiteral("cube.ssj"));
        QVERIFY(m_device->state().commandsWait);
        m_device->sendNewNickname(QStringLiteral("Left"));
        QVERIFY(m_printer->waitForMessage("Status_SendingPrintJob," + job.toString()));
        QTRY_VERIFY(m_device->isWritingFile());
        m_device->sendPlatformUp();
        m_device->sendReprint();
        QVERIFY(!m_device->sendPrintJob(job)); // one job at a time
        QTest::qWait(500);
        QVERIFY(m_device->isWritingFile());
        QCOMPARE(m_device->waitingCommands(), 3);
        QCOMPARE(m_device->state().nickname, QStringLiteral("Left"));
        QVERIFY(log.lines().filter(QStringLiteral("sendConnectionAliveMessage. Writing file.")).size() >= 2);
        m_printer->holdStream = false;
        m_printer->socket.setReadBufferSize(0);
        QMetaObject::invokeMethod(&m_printer->socket, "readyRead", Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(m_printer->streamResult != JobStreamReceiver::NeedMore, 60000);
        QCOMPARE(m_printer->streamResult, JobStreamReceiver::Done);
        QCOMPARE(m_printer->keepAlivesInStream, 0);

        QVERIFY(fileBytes(target) == content);
        const qint64 nameFrame = 4 + 2 * jobPath.size();
        const qint64 total = 16 + nameFrame + content.size();
        QTRY_VERIFY(!m_device->isWritingFile());
        QCOMPARE(progress.last().at(0).toLongLong(), total);
        QCOMPARE(progress.last().at(1).toLongLong(), total);
        QVERIFY(m_printer->waitForMessage(QStringLiteral("Request_Reprint")));
        QCOMPARE(m_printer->messages.mid(1, 3),
            QStringList({"Server_NewNickname,Left", "Request_PlatformUp", "Request_Reprint"}));
        const PrinterState state = m_device->state();
        QVERIFY(!state.commandsWait);
        QCOMPARE(state.activity, Activity::Printing);
        QCOMPARE(state.bytesSent, total);
        QCOMPARE(state.bytesTotal, total);
        // The record went out every few percent of the stream, not for each chunk.
        QVERIFY2(published.count() < 80, qPrintable(QString::number(published.count())));
        // The heartbeat resumes after the stream.
        m_printer->messages.clear();
        QVERIFY(m_printer->waitForMessage(QStringLiteral("Connection-Alive")));
    }

    void job_unopenableFile_nothingSentAndUserTold()
    {
        handshake(QStringLiteral("4.51"), kReady, defaultText());
        QSignalSpy told(m_device.data(), &ClientDevice::sendMessageToGUI);
        m_device->setJobFilePath(QStringLiteral("/nonexistent/job.ssj"));
        QVERIFY(!m_device->sendPrintJob(PrintJob()));
        QCOMPARE(told.count(), 1);
        QVERIFY(told.at(0).at(0).toString().contains(QLatin1String("job.ssj")));
        QCOMPARE(m_device->state().activity, Activity::Ready);
        m_device->sendPlatformUp(); // not held back: nothing waits, and no job line went out
        QVERIFY(m_printer->waitForMessage(QStringLiteral("Request_PlatformUp")));
        QCOMPARE(m_printer->messages, QStringList({QStringLiteral("Request_PlatformUp")}));
    }

    // The file shrank after it was opened: the printer would wait for the missing bytes with
    // its heartbeat held, so the connection ends (the printer drops the partial file).
    void job_fileEndsEarly_connectionClosedAndUserTold()
    {
        QTemporaryDir dir;
        const QString jobPath = dir.filePath(QStringLiteral("short.ssj"));
        QVERIFY(writeJobFile(jobPath, 300 * 1024));
        handshake(QStringLiteral("4.51"), kReady, defaultText());
        m_printer->expectJob(dir.filePath(QStringLiteral("got.ssj")));
        QSignalSpy told(m_device.data(), &ClientDevice::sendMessageToGUI);
        QSignalSpy closedByUs(m_device.data(), &ClientDevice::connectionClosed);
        QSignalSpy closed(&m_printer->socket, &QTcpSocket::disconnected);
        m_device->setJobFilePath(jobPath);
        QVERIFY(m_device->sendPrintJob(PrintJob()));
        QVERIFY(QFile::resize(jobPath, 10 * 1024));
        QTRY_COMPARE(closed.count(), 1);
        QCOMPARE(closedByUs.count(), 1);
        QCOMPARE(told.count(), 1);
        QVERIFY(told.at(0).at(0).toString().contains(QLatin1String("short.ssj")));
        QCOMPARE(m_printer->streamResult, JobStreamReceiver::NeedMore);
    }

    // A printer that does not take the job answers the job line with a refusal (or, an
    // older one, with error 206) instead of the transfer request.
    void job_refused_recordBackAndWaitingCommandsGo_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("told");
        QTest::addColumn<int>("activity");
        QTest::newRow("refused") << "Send_RequestRefused,Status_SendingPrintJob,PrintStatus_Printing,"
                + Protocol::encodeField(QStringLiteral("busy, printing"))
                                 << "NickS1 did not start the job: busy, printing" << int(Activity::Printing);
        QTest::newRow("error 206") << "Send_PrintingError,206"
                                   << "NickS1 did not start the job: " + ClientDevice::errorText(206)
                                   << int(Activity::Ready);
    }

    void job_refused_recordBackAndWaitingCommandsGo()
    {
        QFETCH(QString, answer);
        QTemporaryDir dir;
        const QString jobPath = dir.filePath(QStringLiteral("next.ssj"));
        QVERIFY(writeJobFile(jobPath, 1000));
        handshake(QStringLiteral("4.51"), kReady, defaultText());
        m_printer->send(QStringLiteral("Send_PrintDone")); // the last print, "last.ssj"
        m_printer->send(QStringLiteral("Send_PrintProgress,9,100,0,last.ssj,Clear,50"));
        QTRY_COMPARE(m_device->state().jobName, QStringLiteral("last.ssj"));
        QSignalSpy told(m_device.data(), &ClientDevice::sendMessageToGUI);
        m_device->setJobFilePath(jobPath);
        QVERIFY(m_device->sendPrintJob(PrintJob()));
        m_device->sendTiltUp();
        QCOMPARE(m_device->waitingCommands(), 1);
        QVERIFY(m_printer->waitForMessage("Status_SendingPrintJob," + PrintJob().toString()));
        QVERIFY(!m_printer->messages.contains(QStringLiteral("Request_TiltUp")));
        m_printer->send(answer);
        QVERIFY(m_printer->waitForMessage(QStringLiteral("Request_TiltUp")));
        QTEST(told.value(0).value(0).toString(), "told");
        const PrinterState state = m_device->state();
        QTEST(int(state.activity), "activity");
        QVERIFY(!state.commandsWait);
        QCOMPARE(state.jobName, QStringLiteral("last.ssj"));
        QCOMPARE(state.outcome, Outcome::Finished);
    }

    // Free text travels encoded both ways (a job's name in the progress reports too:
    // tst_hostilepeer, with the real printer); the network credentials cannot be, so those a
    // printer could not read back are refused.
    void freeText_decodedInEncodedOut()
    {
        connectPrinter();
        QSignalSpy done(m_device.data(), &ClientDevice::handshakeCompleted);
        const QString odd = QStringLiteral("a,b*c%d");
        m_printer->send(Protocol::handshakeReply(odd + "S", odd + "N", odd + "M", QStringLiteral("4.51"), kPrinting,
            defaultText(), {odd, QStringLiteral("plain")}, QStringLiteral("g3")));
        QTRY_COMPARE(done.count(), 1);
        const PrinterState state = m_device->state();
        QCOMPARE(
            QStringList({state.serial, state.nickname, state.model}), QStringList({odd + "S", odd + "N", odd + "M"}));
        QCOMPARE(state.wifiNames, QStringList({odd, QStringLiteral("plain")}));
        QCOMPARE(state.gParameter, 3);

        m_device->sendNewNickname(odd);
        m_device->sendNewSerialAndModel(odd, QStringLiteral("M,2"));
        QVERIFY(m_printer->waitForMessage(QStringLiteral("Send_NewSerialAndModel,a%2Cb%2Ac%25d,M%2C2")));
        QVERIFY(m_printer->messages.contains(QStringLiteral("Server_NewNickname,a%2Cb%2Ac%25d")));

        QSignalSpy told(m_device.data(), &ClientDevice::sendMessageToGUI);
        QVERIFY(!m_device->sendNetworkInfo(QStringLiteral("net*header*x"), QStringLiteral("pw")));
        QVERIFY(!m_device->sendNetworkInfo(QStringLiteral("net"), QStringLiteral("pwSend_NetworkInfo")));
        QVERIFY(m_device->sendNetworkInfo(QStringLiteral("Café, 2.4 GHz"), QStringLiteral("p,w*")));
        QVERIFY(m_printer->waitForMessage(
            QStringLiteral("Send_NetworkInfoCafé, 2.4 GHzSend_NetworkInfop,w*Send_NetworkInfoJunk Type Name")));
        QCOMPARE(told.count(), 2);
        QCOMPARE(m_printer->messages.filter(QStringLiteral("Send_NetworkInfo")).size(), 1);
    }

    // The update's files: next to the desktop program (as the build lays them out), else
    // where the package installs them; a missing file is named where it was expected.
    void updateFiles_besideProgramOrInstalled_data()
    {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("expected");
        QTest::newRow("build folder") << QStringList {"bin/Vatnode"} << "bin/Vatnode";
        QTest::newRow("both: beside wins") << QStringList {"bin/Vatnode", "lib/tessora/Vatnode"} << "bin/Vatnode";
        QTest::newRow("installed") << QStringList {"lib/tessora/Vatnode"} << "lib/tessora/Vatnode";
        QTest::newRow("installed, missing") << QStringList {"lib/tessora/VatnodeUpdateScript"}
                                            << "lib/tessora/Vatnode";
        QTest::newRow("nowhere") << QStringList {} << "bin/Vatnode";
    }
    void updateFiles_besideProgramOrInstalled()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, expected);
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
        for (const QString &file : present)
            QVERIFY(writeFileBytes(prefix.filePath(file), "x"));
        QCOMPARE(ClientDevice::deliveredFile(prefix.filePath(QStringLiteral("bin")), QStringLiteral("Vatnode")),
            prefix.filePath(expected));
        // The build puts both under the names the update uses next to its programs.
        for (const QString &name : {QStringLiteral("Vatnode"), QStringLiteral("VatnodeUpdateScript")})
            QVERIFY2(QFileInfo::exists(ClientDevice::deliveredFile(QCoreApplication::applicationDirPath(), name)),
                qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestClientDevice)
#include "tst_clientdevice.moc"
