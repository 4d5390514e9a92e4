// One printer on loopback, with the real programs: vatnode-boardsim on a pseudo-terminal,
// vatnode under an X server of the test's own, and tessora-cli as the desktop. A print
// across the network; jobs the print rule refuses, and a printer that needs a software
// update, end the command with the reason.
//
// Then faults that strike the printer program: it dies at once (SIGKILL: the kernel, a
// power cut) while it prints or while it stores its settings, and is started again; the
// motor board's USB link goes away and comes back within one exposure; hosts on loopback
// that do not play the desktop's part try to capture it. (A desktop that goes away
// mid-print and a new one that follows the print to its end: the session walk.)
//
// Last, faults that strike while a job is on its way to the printer: the connection breaks
// (reset, or a cable pulled), the printer program dies holding half the file, the
// printer's disk fills up. The desktop is told, the printer keeps the job it had, whole,
// with no piece of the new one beside it, and the next desktop finds it ready and prints.
//
// A file-size limit on the printer program plays the full disk: its writes past the
// limit fail with EFBIG, as they would with ENOSPC on a full disk. It does so only with
// SIGXFSZ ignored (a full disk raises no signal): otherwise the kernel kills vatnode at
// its first write past the limit, which comes already at start-up, when the window's
// shared-memory buffer (4 MB) is sized; with the signal ignored that sizing fails and Qt
// draws without shared memory.
#include "fakeprinter.h"
#include "faultharness.h"
#include "fulldisk.h"
#include "protocol.h"
#include "server.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace Faults;

namespace {

enum class Fault { Reset, CablePulled, PrinterKilled, DiskFull };

// Room for the printer's log and a small job; not for the large one.
constexpr qint64 kFileSizeLimit = 1024 * 1024;

// What the printer's Wi-Fi scan finds nearby: names with the protocol's own separators
// and marker.
const QStringList kWifiNames
    = {QStringLiteral("Cafe, 2nd floor"), QStringLiteral("Lab*header*Send_PrintDone"), QStringLiteral("100%2C sure")};

QString setting(const QString &file, const QString &key)
{
    return QSettings(file, QSettings::IniFormat).value(key).toString();
}

// Makes the printer connect to `listener` by announcing it, as a desktop would.
QTcpSocket *lure(QTcpServer &listener, quint16 printerDiscoveryPort)
{
    QUdpSocket udp;
    udp.writeDatagram(Protocol::datagram(QStringLiteral("127.0.0.1"), listener.serverPort()),
        QHostAddress(QHostAddress::LocalHost), printerDiscoveryPort);
    return listener.waitForNewConnection(10000) ? listener.nextPendingConnection() : nullptr;
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestNetworkPrint : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void printers_listsTheConnectedPrinter();
    void print_sendsTheJobAndFollowsItToTheEnd();
    void print_interactiveCancel_endsThePrint();
    void print_refusedByThePrintRule_failsWithItsWords_data();
    void print_refusedByThePrintRule_failsWithItsWords();
    void print_printerNeedsAnUpdate_failsWithoutConsent();
    void printerKilledMidPrint_jobKept_reconnectsOnNextAnnouncement();
    void printerKilledWhileStoringSettings_fileStaysWhole();
    void boardBackWithinAnExposure_printDoesNotGoOnDark();
    void hostileHosts_printerNotCaptured_answersWithWholeFields();
    // Last: the full disk leaves the printer with its file-size limit.
    void faultMidTransfer_printerKeepsItsJob_nextJobPrints_data();
    void faultMidTransfer_printerKeepsItsJob_nextJobPrints();

private:
    QTemporaryDir m_dir;
    XServer m_x;
    // One printer for every test: each leaves it as the next one finds it.
    std::unique_ptr<Rig> m_rig;
    QString m_job;
    QString m_job75; // the same layers, described as sliced for 75-micron printers
    QStringList m_jobs; // two jobs that differ, sent in turn
    int m_held = 0; // the one of them the printer holds
    QString m_large;
};

void TestNetworkPrint::initTestCase()
{
    QString error;
    QVERIFY2(prepare(m_dir, m_x, &error), qPrintable(error));
    m_job = makeSampleJob(m_dir.path(), QStringLiteral("part.ssj"), 4, &error, QStringLiteral("sliced at 100 microns"));
    m_job75
        = makeSampleJob(m_dir.path(), QStringLiteral("part75.ssj"), 4, &error, QStringLiteral("sliced at 75 microns"));
    m_jobs = QStringList {m_job, makeSampleJob(m_dir.path(), QStringLiteral("other.ssj"), 1, &error)};
    QVERIFY2(!m_job.isEmpty() && !m_job75.isEmpty() && !m_jobs.last().isEmpty(), qPrintable(error));
    m_large = makeNoiseJob(m_dir.path(), QStringLiteral("large.ssj"), 3, &error);
    QVERIFY2(QFileInfo(m_large).size() > 2 * kFileSizeLimit, qPrintable(error));
    QByteArray scan;
    for (const QString &name : kWifiNames)
        scan += QStringLiteral("          ESSID:\"%1\"\n").arg(name).toUtf8();
    QVERIFY(writeFileBytes(m_dir.filePath(QStringLiteral("scan.txt")), scan));
    m_rig = std::make_unique<Rig>(m_dir.filePath(QStringLiteral("rig")), m_x.display());
    m_rig->printer.setExtraArguments({QStringLiteral("--simulate-output"),
        QStringLiteral("sudo iwlist wlan0 scan | grep ESSID=") + m_dir.filePath(QStringLiteral("scan.txt"))});
    QVERIFY2(m_rig->start(&error), qPrintable(error));
}

void TestNetworkPrint::cleanupTestCase()
{
    if (m_rig)
        FAULTS_VERIFY_NONE(m_rig->problems());
}

void TestNetworkPrint::printers_listsTheConnectedPrinter()
{
    Cli cli(QStringList {
                QStringLiteral("printers"), QStringLiteral("--json"), QStringLiteral("--wait"), QStringLiteral("8")}
        + Cli::network(m_rig->printer.discoveryPort(), m_rig->nextBasePort()));
    QVERIFY(cli.start() && cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    const QJsonArray printers = QJsonDocument::fromJson(cli.out().toUtf8()).array();
    QCOMPARE(printers.size(), 1);
    const QJsonObject printer = printers.first().toObject();
    QVERIFY(printer.value(QStringLiteral("serial")).toString().startsWith(QStringLiteral("OBW-TEST")));
    QCOMPARE(printer.value(QStringLiteral("model")).toString(), QStringLiteral("OBP100V1"));
    QCOMPARE(printer.value(QStringLiteral("version")).toDouble(), 4.51);
    QCOMPARE(printer.value(QStringLiteral("status")).toString(), QStringLiteral("PrintStatus_Ready"));
}

void TestNetworkPrint::print_sendsTheJobAndFollowsItToTheEnd()
{
    Cli cli(m_rig->printArguments(m_job, 30));
    QVERIFY(cli.start() && cli.waitForFinished(120000));
    QVERIFY2(cli.exitCode() == 0 && cli.out() == QLatin1String("print done\n"), qPrintable(cli.transcript()));
    for (const char *step : {"4 layers, Clear at 50 microns", "sending job", "printing: 100/100"})
        QVERIFY2(cli.err().contains(QLatin1String(step)), step);
}

void TestNetworkPrint::print_interactiveCancel_endsThePrint()
{
    Cli cli(QStringList {QStringLiteral("print"), m_job, QStringLiteral("--resin"), QStringLiteral("Clear"),
                QStringLiteral("--interactive")}
        + Cli::network(m_rig->printer.discoveryPort(), m_rig->nextBasePort()));
    QVERIFY(cli.start());
    QVERIFY2(cli.waitForError(QStringLiteral("printing:"), 60000), qPrintable(cli.transcript()));
    cli.writeLine("cancel");
    QVERIFY(cli.waitForFinished(60000));
    QVERIFY2(cli.exitCode() == 0 && cli.out() == QLatin1String("print cancelled\n"), qPrintable(cli.transcript()));
}

void TestNetworkPrint::print_refusedByThePrintRule_failsWithItsWords_data()
{
    QTest::addColumn<bool>("job75");
    QTest::addColumn<QString>("resin");
    QTest::addColumn<QString>("words");
    // The desktop's words, as the window shows them.
    QTest::newRow("unknown resin") << false << QStringLiteral("Unobtainium")
                                   << QStringLiteral("error: There is no resin Unobtainium among the resins for "
                                                     "100-micron printers (Gray, Dental Model, Clear,");
    QTest::newRow("job for the other pixel size")
        << true << QStringLiteral("Clear")
        << QStringLiteral("error: The print job part75.ssj was sliced for 75-micron printers; ");
}

void TestNetworkPrint::print_refusedByThePrintRule_failsWithItsWords()
{
    QFETCH(bool, job75);
    QFETCH(QString, resin);
    QFETCH(QString, words);
    QStringList arguments = m_rig->printArguments(job75 ? m_job75 : m_job, 30);
    arguments[3] = resin;
    Cli cli(arguments);
    QVERIFY(cli.start() && cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(cli.err().contains(words), qPrintable(cli.err()));
    QVERIFY(cli.err().contains(QStringLiteral("Nothing was sent to the printer.")));
}

void TestNetworkPrint::print_printerNeedsAnUpdate_failsWithoutConsent()
{
    // An old printer that connects by itself (nobody hears the announcement on this port);
    // nothing may reach it over SSH.
    const int basePort = freeTcpBasePort();
    qputenv("TESSORA_SSH_PORT", "1");
    Cli cli(QStringList {QStringLiteral("print"), m_job, QStringLiteral("--resin"), QStringLiteral("Clear"),
                QStringLiteral("--wait"), QStringLiteral("30")}
        + Cli::network(freeUdpPort(), basePort));
    QVERIFY(cli.start());
    qunsetenv("TESSORA_SSH_PORT");
    FakePrinter printer;
    QVERIFY(waitFor([&] { return printer.connectTo(quint16(basePort + 1)); }, 30000));
    QVERIFY(waitFor([&] { return !printer.greeting.isEmpty(); }, 30000));
    printer.send(FakePrinter::reply(QStringLiteral("OLD-1"), QStringLiteral("OBP100V1"), QStringLiteral("4.0"),
        QStringLiteral("PrintStatus_Ready")));
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 1);
    QVERIFY2(cli.err().contains(QStringLiteral(
                 "error: printer OLD-1 needs a software update; run again with --allow-update to install it")),
        qPrintable(cli.err()));
}

void TestNetworkPrint::printerKilledMidPrint_jobKept_reconnectsOnNextAnnouncement()
{
    Rig &rig = *m_rig;
    const QString serial = setting(rig.settingsFile(), QStringLiteral("printerSerial"));
    QVERIFY2(serial.startsWith(QStringLiteral("OBW-TEST")), qPrintable(serial));

    Cli first(rig.printArguments(m_job, 60));
    QVERIFY(first.start());
    QVERIFY2(first.waitForError(QStringLiteral("printing: 25/100"), 60000), qPrintable(first.transcript()));
    rig.printer.kill();
    QVERIFY2(first.waitForFinished(30000) && first.exitCode() == 1
            && first.err().contains(QStringLiteral("error: connection lost")),
        qPrintable(first.transcript()));
    QCOMPARE(fileBytes(rig.storedJob()), fileBytes(m_job));
    QCOMPARE(leftoversBeside(rig.storedJob()), QStringList());

    // A desktop waits for a printer, announcing itself every 2 s; the printer starts
    // again, as the same printer, and answers the next announcement.
    Cli second(rig.printArguments(m_job, 60));
    QVERIFY(second.start());
    const int handshakes = rig.printer.logCount(QStringLiteral("Handshake Successful"));
    QVERIFY(rig.restartPrinter());
    QElapsedTimer sinceListening;
    sinceListening.start();
    QVERIFY2(rig.printer.waitForLog(QStringLiteral("Handshake Successful"), handshakes + 1, 20000),
        qPrintable(second.transcript()));
    const qint64 reconnectMs = sinceListening.elapsed();
    // Announcements come every 2 s: the next one, with room for a loaded machine.
    QVERIFY2(reconnectMs < 5000, qPrintable(QString::number(reconnectMs)));
    QVERIFY2(second.waitForFinished(90000) && second.exitCode() == 0 && second.out() == QLatin1String("print done\n")
            && second.err().contains(QStringLiteral("printer %1 (").arg(serial)),
        qPrintable(second.transcript()));

    outcome(QStringLiteral("printer killed"),
        QStringLiteral("killed at 25%; job file unchanged; restarted as %1, connected %2 ms after it listened, "
                       "printed again")
            .arg(serial)
            .arg(reconnectMs));
}

void TestNetworkPrint::printerKilledWhileStoringSettings_fileStaysWhole()
{
    Rig &rig = *m_rig;
    const QString settingsFile = rig.settingsFile();
    const QString serial = setting(settingsFile, QStringLiteral("printerSerial"));
    QStringList names {setting(settingsFile, QStringLiteral("printerNickName"))};

    // A desktop renames the printer again and again; every name is stored at
    // once. The program dies in the middle of that.
    {
        DesktopLink desktop(rig.printer.discoveryPort());
        QVERIFY(desktop.waitForPrinter(20000));
        QCOMPARE(desktop.serial, serial);
        const int before = rig.printer.logCount(QStringLiteral("Server_NewNickname"));
        QTimer rename;
        QObject::connect(&rename, &QTimer::timeout, [&] {
            names << QStringLiteral("Vat %1").arg(names.size());
            desktop.server().changeNickName(serial, names.constLast());
        });
        rename.start(3);
        QVERIFY(rig.printer.waitForLog(QStringLiteral("Server_NewNickname"), before + 40, 20000));
        rig.printer.kill();
    }

    // The file is one of the files the program wrote, whole.
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        QCOMPARE(settings.status(), QSettings::NoError);
        QCOMPARE(settings.value(QStringLiteral("printerSerial")).toString(), serial);
        const QString nickname = settings.value(QStringLiteral("printerNickName")).toString();
        QVERIFY2(names.contains(nickname), qPrintable(nickname));
        QVERIFY(settings.value(QStringLiteral("resinData")).toString().contains(QStringLiteral("Clear")));
    }
    // Beside it at most the lock of the write the program died in (Qt's lock
    // file, taken over once its holder is gone), and no half-written copy.
    QStringList left = leftoversBeside(settingsFile);
    left.removeAll(QStringLiteral("Tessora_Client_Config.lock"));
    QCOMPARE(left, QStringList());

    // And the program, started again, reads it as it is, and stores the next
    // name despite the lock left behind.
    const QString read = QStringLiteral("Client::readSettingsFromFile(). Serial: ") + serial;
    const int reads = rig.printer.logCount(read);
    QVERIFY(rig.restartPrinter());
    QCOMPARE(rig.printer.logCount(QStringLiteral("The settings file is not valid INI")), 0);
    QVERIFY(!QFile::exists(settingsFile + QStringLiteral(".damaged")));
    QCOMPARE(rig.printer.logCount(read), reads + 1);
    QCOMPARE(rig.printer.logCount(QStringLiteral("Client::Client - creating settings file")), 1);
    DesktopLink desktop(rig.printer.discoveryPort());
    QVERIFY(desktop.waitForPrinter(20000));
    desktop.server().changeNickName(serial, QStringLiteral("After the crash"));
    QVERIFY2(waitFor([&] { return setting(settingsFile, QStringLiteral("printerNickName")) == "After the crash"; }),
        qPrintable(rig.printer.log().right(2000)));

    outcome(QStringLiteral("printer killed while storing settings"),
        QStringLiteral("killed after %1 renames; the settings file read back whole; the restarted program read it "
                       "and stored the next name")
            .arg(names.size() - 1));
}

void TestNetworkPrint::boardBackWithinAnExposure_printDoesNotGoOnDark()
{
    Rig &rig = *m_rig;
    const QString opened = QStringLiteral("Printer connected emitted");
    const QString tilted = QStringLiteral("DONE WITH TILT CYCLE. Cur layer:  1\n");
    const QString lost = QStringLiteral("ERROR 202 PrinterErrorWatchdog::usbConnectionClosed");
    const int opens = rig.printer.logCount(opened);
    const int tilts = rig.printer.logCount(tilted);
    const int losses = rig.printer.logCount(lost);
    Cli print(rig.printArguments(m_job, 60));
    QVERIFY(print.start());

    // The second layer's exposure lasts 1 s here. The cable goes out and in
    // again within it: the desktop hears of it as printing error 202.
    QVERIFY2(rig.printer.waitForLog(tilted, tilts + 1, 60000), qPrintable(print.transcript()));
    rig.board.control("unplug");
    QTest::qWait(150);
    const int before = int(rig.board.received().size());
    rig.board.control("plug");
    QVERIFY2(print.waitForFinished(30000) && print.exitCode() == 1
            && print.err().contains(QStringLiteral("error: printing error 202")),
        qPrintable(print.transcript()));
    QCOMPARE(rig.printer.logCount(lost), losses + 1);
    QVERIFY2(rig.printer.waitForLog(opened, opens + 1, 20000), qPrintable(rig.printer.log().right(3000)));
    // The print runs on to its finish command, or stands still: give it the
    // time of its remaining layers.
    waitFor([&] { return rig.board.received().mid(before).contains(QStringLiteral("f")); }, 6000);
    QVERIFY2(waitFor([&] { return rig.board.received().mid(before).contains(QStringLiteral("R110")); }, 20000),
        qPrintable(rig.board.received().mid(before).join(QLatin1Char(' '))));

    // When the board's link comes back, the printer switches the lamp off ("P0") and homes
    // the platform and tank (R110), as at start-up: the print whose board went away has
    // ended there. A layer exposed after that needs the lamp switched on again ("P1")
    // before its move.
    const QStringList after = rig.board.received().mid(before);
    bool lampOn = false;
    QStringList darkLayers;
    for (const QString &line : after) {
        if (line == QLatin1String("P0") || line == QLatin1String("P1"))
            lampOn = line == QLatin1String("P1");
        else if (line.startsWith(QLatin1Char('N')) && !lampOn)
            darkLayers << line;
    }
    QVERIFY2(darkLayers.isEmpty(),
        qPrintable(QStringLiteral("moves after exposures with the lamp off: %1; board lines after it came back: %2")
                       .arg(darkLayers.join(QLatin1Char(' ')), after.join(QLatin1Char(' ')))));
    outcome(QStringLiteral("board back within an exposure"),
        QStringLiteral("no layer exposed with the lamp off; board lines after it came back: %1")
            .arg(after.join(QLatin1Char(' '))));
}

void TestNetworkPrint::hostileHosts_printerNotCaptured_answersWithWholeFields()
{
    Rig &rig = *m_rig;
    // A host takes the printer's connection and says nothing; the desktop keeps announcing
    // itself and gets the printer once the printer has given up on the host.
    const int giveUps = rig.printer.logCount(QStringLiteral("Client::greetingTimedOut"));
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress(QHostAddress::LocalHost)));
    std::unique_ptr<QTcpSocket> captured(lure(silent, rig.printer.discoveryPort()));
    QVERIFY(captured);
    {
        DesktopLink desktop(rig.printer.discoveryPort());
        QVERIFY(desktop.waitForPrinter(30000));
        QVERIFY(rig.printer.logCount(QStringLiteral("Client::greetingTimedOut")) > giveUps);
        QVERIFY(waitFor(
            [&] {
                return captured->state() != QAbstractSocket::ConnectedState || !captured->isValid()
                    || captured->waitForDisconnected(100);
            },
            10000));
    }

    // A host greets in two pieces, once the printer is free again; the answer is one
    // message of whole fields, the Wi-Fi names each as they were.
    QTcpServer host;
    QVERIFY(host.listen(QHostAddress(QHostAddress::LocalHost)));
    std::unique_ptr<QTcpSocket> socket;
    QVERIFY(waitFor(
        [&] {
            socket.reset(lure(host, rig.printer.discoveryPort()));
            return socket != nullptr;
        },
        30000));
    const int reads = rig.printer.logCount(QStringLiteral("Client::readHandshake"));
    socket->write("*header*Tess");
    socket->flush();
    QVERIFY(rig.printer.waitForLog(QStringLiteral("Client::readHandshake"), reads + 1, 10000));
    socket->write("ora_Server");
    socket->flush();
    QString text;
    QVERIFY(waitFor(
        [&] {
            socket->waitForReadyRead(50);
            return Protocol::readFrame(socket.get(), &text) == Protocol::FrameStatus::Complete;
        },
        10000));
    const QStringList messages = Protocol::extractMessages(text);
    QCOMPARE(messages.size(), 1);
    const QStringList fields = messages.first().split(QLatin1Char(','));
    QCOMPARE(fields.size(), 9);
    QCOMPARE(fields.at(0), QStringLiteral("Tessora_Client"));
    QStringList wifi;
    for (const QString &name : fields.at(7).split(QLatin1String(Protocol::kWifiSeparator)))
        wifi << Protocol::decodeField(name);
    QCOMPARE(wifi, kWifiNames);
}

void TestNetworkPrint::faultMidTransfer_printerKeepsItsJob_nextJobPrints_data()
{
    // Where in the job stream (its 16 size bytes, the file's name, then the file) the
    // fault strikes, as a share of the stream: 0 in the size bytes.
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<double>("share");
    // Both ends see the connection end at once.
    QTest::newRow("reset in the stream header") << Fault::Reset << 0.0;
    QTest::newRow("reset half-way") << Fault::Reset << 0.5;
    QTest::newRow("reset one byte short") << Fault::Reset << 1.0;
    // Nothing more arrives on either side: each end finds out by its heartbeat.
    QTest::newRow("cable pulled half-way") << Fault::CablePulled << 0.5;
    // The rest of the stream is held back, and the printer dies holding half the file.
    QTest::newRow("printer killed half-way") << Fault::PrinterKilled << 0.5;
    // Last: the printer keeps its limit from then on.
    QTest::newRow("disk full") << Fault::DiskFull << -1.0;
}

void TestNetworkPrint::faultMidTransfer_printerKeepsItsJob_nextJobPrints()
{
    QFETCH(Fault, fault);
    QFETCH(double, share);
    QVERIFY(m_rig);
    Rig &rig = *m_rig;
    const QString stored = rig.storedJob();
    const QString held = m_jobs.at(m_held);
    const QString sent = fault == Fault::DiskFull ? m_large : m_jobs.at(1 - m_held);
    if (fileBytes(stored) != fileBytes(held))
        FAULTS_VERIFY_NONE(rig.printToEnd(held));
    if (fault == Fault::DiskFull) {
        rig.printer.stop();
        const FileSizeLimit limit(kFileSizeLimit); // the printer started now inherits it
        QVERIFY(rig.restartPrinter());
    }

    // The stream: sizes (16 bytes), the desktop's path of the file as a frame, the file.
    const qint64 streamBytes = 16 + 4 + 2 * sent.size() + QFileInfo(sent).size();
    const qint64 relayed = share < 0.0 ? -1
        : share == 0.0                 ? 10
        : share >= 1.0                 ? streamBytes - 1
                                       : qint64(streamBytes * share);
    LinkCutter cutter(rig.printer.discoveryPort());
    QVERIFY(cutter.start());
    cutter.cutStreamAfter(relayed, fault == Fault::Reset ? LinkCutter::Cut::Close : LinkCutter::Cut::Silence);
    const QString done = QStringLiteral("Done receiving file");
    const QString closed = QStringLiteral("Client::connectionAliveTimedOut");
    const QString piece = QStringLiteral("Receive File. Bytes Received:");
    const int received = rig.printer.logCount(done);
    const int closes = rig.printer.logCount(closed);
    const int pieces = rig.printer.logCount(piece);
    Cli broken(rig.printArguments(sent, 60, cutter.tapPort()));
    QVERIFY(broken.start());
    if (fault == Fault::PrinterKilled) {
        QVERIFY(waitFor([&] { return cutter.hasCut(); }, 60000));
        QVERIFY(rig.printer.waitForLog(piece, pieces + 2, 10000));
        rig.printer.kill();
    }
    QVERIFY2(broken.waitForFinished(90000) && broken.exitCode() == 1 && broken.out().isEmpty(),
        qPrintable(broken.transcript()));
    const QString reported = lineWith(broken.err(), QStringLiteral("error: "));

    if (fault == Fault::DiskFull) {
        // The printer said why in its log.
        QVERIFY2(!reported.isEmpty(), qPrintable(broken.transcript()));
        QVERIFY2(rig.printer.waitForLog(QStringLiteral("writing file error!"), 1, 10000),
            qPrintable(rig.printer.log().right(3000)));
    } else {
        QVERIFY2(reported == QLatin1String("error: connection lost"), qPrintable(broken.transcript()));
        QVERIFY(cutter.hasCut());
        QCOMPARE(cutter.streamBytesRelayed(), relayed);
    }
    if (fault == Fault::PrinterKilled) {
        QVERIFY(rig.restartPrinter());
    } else if (fault != Fault::DiskFull) {
        // The printer dropped the connection, and the partial job with it.
        QVERIFY2(rig.printer.waitForLog(closed, closes + 1, 20000), qPrintable(rig.printer.log().right(3000)));
        if (relayed >= 16) // the printer read the sizes: the stream is the one counted here
            QVERIFY(rig.printer.log().contains(QStringLiteral("/%1\n").arg(streamBytes)));
    }
    // It holds its previous job, whole, and nothing of this one beside it.
    QVERIFY(rig.printer.isRunning());
    QCOMPARE(rig.printer.logCount(done), received);
    QCOMPARE(fileBytes(stored), fileBytes(held));
    QCOMPARE(leftoversBeside(stored), QStringList());

    // The next desktop finds it ready and its job prints to the end: the same job again,
    // or after a full disk a small one.
    const QString next = fault == Fault::DiskFull ? held : sent;
    const int mark = rig.printer.log().size();
    FAULTS_VERIFY_NONE(rig.printToEnd(next));
    const QString handshake = lineWith(rig.printer.log().mid(mark), QStringLiteral("Handshake Successful"));
    QVERIFY2(handshake.contains(QStringLiteral("PrintStatus_Ready")), qPrintable(handshake));
    QCOMPARE(fileBytes(stored), fileBytes(next));
    QCOMPARE(leftoversBeside(stored), QStringList());
    if (next == sent)
        m_held = 1 - m_held;

    const QString where = fault == Fault::DiskFull
        ? QStringLiteral("a %1-byte stream against a %2-byte file limit").arg(streamBytes).arg(kFileSizeLimit)
        : QStringLiteral("after %1 of %2 stream bytes").arg(relayed).arg(streamBytes);
    outcome(QStringLiteral("transfer fault (%1)").arg(QLatin1String(QTest::currentDataTag())),
        QStringLiteral("%1; desktop: \"%2\"; the printer kept its previous job intact and no partial file, and "
                       "printed the next one")
            .arg(where, reported));
}

QTEST_GUILESS_MAIN(TestNetworkPrint)
#include "tst_networkprint.moc"
