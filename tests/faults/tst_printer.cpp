// Faults that strike the printer program, each on a printer of its own: it dies at once
// (SIGKILL: the kernel, a power cut) while it prints or while it stores its settings, and
// is started again; the motor board's USB link goes away and comes back within one
// exposure; hosts on loopback that do not play the desktop's part try to capture it. (A
// desktop that goes away mid-print and a new one that follows the print to its end: the
// session walk.)
#include "faultharness.h"
#include "protocol.h"
#include "server.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace Faults;

namespace {

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

class TestPrinter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void printerKilledMidPrint_jobKept_reconnectsOnNextAnnouncement();
    void printerKilledWhileStoringSettings_fileStaysWhole();
    void boardBackWithinAnExposure_printDoesNotGoOnDark();
    void hostileHosts_printerNotCaptured_answersWithWholeFields();

private:
    QTemporaryDir m_dir;
    XServer m_x;
    QString m_job;
};

void TestPrinter::initTestCase()
{
    QString error;
    QVERIFY2(prepare(m_dir, m_x, &error), qPrintable(error));
    m_job = makeSampleJob(m_dir.path(), QStringLiteral("part.ssj"), 4, &error);
    QVERIFY2(!m_job.isEmpty(), qPrintable(error));
}

void TestPrinter::printerKilledMidPrint_jobKept_reconnectsOnNextAnnouncement()
{
    Rig rig(m_dir.filePath(QStringLiteral("killed")), m_x.display());
    QString error;
    QVERIFY2(rig.start(&error), qPrintable(error));
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

    FAULTS_VERIFY_NONE(rig.problems());
    outcome(QStringLiteral("printer killed"),
        QStringLiteral("killed at 25%; job file unchanged; restarted as %1, connected %2 ms after it listened, "
                       "printed again")
            .arg(serial)
            .arg(reconnectMs));
}

void TestPrinter::printerKilledWhileStoringSettings_fileStaysWhole()
{
    Rig rig(m_dir.filePath(QStringLiteral("killed-in-settings")), m_x.display());
    QString error;
    QVERIFY2(rig.start(&error), qPrintable(error));
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
    QVERIFY(rig.restartPrinter());
    QCOMPARE(rig.printer.logCount(QStringLiteral("The settings file is not valid INI")), 0);
    QVERIFY(!QFile::exists(settingsFile + QStringLiteral(".damaged")));
    QVERIFY(rig.printer.log().contains(QStringLiteral("Client::readSettingsFromFile(). Serial: ") + serial));
    QCOMPARE(rig.printer.logCount(QStringLiteral("Client::Client - creating settings file")), 1);
    DesktopLink desktop(rig.printer.discoveryPort());
    QVERIFY(desktop.waitForPrinter(20000));
    desktop.server().changeNickName(serial, QStringLiteral("After the crash"));
    QVERIFY2(waitFor([&] { return setting(settingsFile, QStringLiteral("printerNickName")) == "After the crash"; }),
        qPrintable(rig.printer.log().right(2000)));

    FAULTS_VERIFY_NONE(rig.problems());
    outcome(QStringLiteral("printer killed while storing settings"),
        QStringLiteral("killed after %1 renames; the settings file read back whole; the restarted program read it "
                       "and stored the next name")
            .arg(names.size() - 1));
}

void TestPrinter::boardBackWithinAnExposure_printDoesNotGoOnDark()
{
    Rig rig(m_dir.filePath(QStringLiteral("blink")), m_x.display());
    QString error;
    QVERIFY2(rig.start(&error), qPrintable(error));
    const QString opened = QStringLiteral("Printer connected emitted");
    QVERIFY(rig.printer.waitForLog(opened, 1, 20000));
    Cli print(rig.printArguments(m_job, 60));
    QVERIFY(print.start());

    // The second layer's exposure lasts 1 s here. The cable goes out and in
    // again within it: the desktop hears of it as printing error 202.
    QVERIFY2(rig.printer.waitForLog(QStringLiteral("DONE WITH TILT CYCLE. Cur layer:  1\n"), 1, 60000),
        qPrintable(print.transcript()));
    rig.board.control("unplug");
    QTest::qWait(150);
    const int before = int(rig.board.received().size());
    rig.board.control("plug");
    QVERIFY2(print.waitForFinished(30000) && print.exitCode() == 1
            && print.err().contains(QStringLiteral("error: printing error 202")),
        qPrintable(print.transcript()));
    QVERIFY(rig.printer.log().contains(QStringLiteral("ERROR 202 PrinterErrorWatchdog::usbConnectionClosed")));
    QVERIFY2(rig.printer.waitForLog(opened, 2, 20000), qPrintable(rig.printer.log().right(3000)));
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
    FAULTS_VERIFY_NONE(rig.problems());
    outcome(QStringLiteral("board back within an exposure"),
        QStringLiteral("no layer exposed with the lamp off; board lines after it came back: %1")
            .arg(after.join(QLatin1Char(' '))));
}

void TestPrinter::hostileHosts_printerNotCaptured_answersWithWholeFields()
{
    // What the printer's Wi-Fi scan finds nearby: names with the protocol's own separators
    // and marker.
    const QStringList wifiNames = {
        QStringLiteral("Cafe, 2nd floor"), QStringLiteral("Lab*header*Send_PrintDone"), QStringLiteral("100%2C sure")};
    QByteArray scan;
    for (const QString &name : wifiNames)
        scan += QStringLiteral("          ESSID:\"%1\"\n").arg(name).toUtf8();
    QVERIFY(writeFileBytes(m_dir.filePath(QStringLiteral("scan.txt")), scan));
    Rig rig(m_dir.filePath(QStringLiteral("hostile")), m_x.display());
    rig.printer.setExtraArguments({QStringLiteral("--simulate-output"),
        QStringLiteral("sudo iwlist wlan0 scan | grep ESSID=") + m_dir.filePath(QStringLiteral("scan.txt"))});
    QString error;
    QVERIFY2(rig.start(&error), qPrintable(error));

    // A host takes the printer's connection and says nothing; the desktop keeps announcing
    // itself and gets the printer once the printer has given up on the host.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress(QHostAddress::LocalHost)));
    std::unique_ptr<QTcpSocket> captured(lure(silent, rig.printer.discoveryPort()));
    QVERIFY(captured);
    {
        DesktopLink desktop(rig.printer.discoveryPort());
        QVERIFY(desktop.waitForPrinter(30000));
        QVERIFY(rig.printer.logCount(QStringLiteral("Client::greetingTimedOut")) >= 1);
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
    QCOMPARE(wifi, wifiNames);
    FAULTS_VERIFY_NONE(rig.problems());
}

QTEST_GUILESS_MAIN(TestPrinter)
#include "tst_printer.moc"
