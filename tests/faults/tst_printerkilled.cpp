// The printer program dies at once in the middle of a print (SIGKILL: the
// kernel, a power cut) and is started again: its settings and its job file are
// as they were, and a desktop that keeps announcing itself has it back at its
// next announcement.
#include "faultharness.h"
#include "server.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace Faults;

class TestPrinterKilled : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void printerKilledMidPrint_settingsIntact_reconnectsOnNextAnnouncement();
    void printerKilledMidTransfer_jobKept_noPartialFileLeft();
    void printerKilledWhileStoringSettings_fileStaysWhole();

private:
    QTemporaryDir m_dir;
    XServer m_x;
    QString m_job;
    QString m_other;
};

void TestPrinterKilled::initTestCase()
{
    QString error;
    QVERIFY2(prepare(m_dir, m_x, &error), qPrintable(error));
    m_job = makeSampleJob(m_dir.path(), QStringLiteral("part.ssj"), 4, &error);
    QVERIFY2(!m_job.isEmpty(), qPrintable(error));
    m_other = makeSampleJob(m_dir.path(), QStringLiteral("other.ssj"), 1, &error);
    QVERIFY2(!m_other.isEmpty(), qPrintable(error));
}

void TestPrinterKilled::printerKilledMidPrint_settingsIntact_reconnectsOnNextAnnouncement()
{
    Rig rig(m_dir.filePath(QStringLiteral("killed")), m_x.display());
    QString error;
    QVERIFY2(rig.start(&error), qPrintable(error));
    const QString settingsFile = rig.printer.path(QStringLiteral("Tessora_Client_Config"));
    const QString stored = rig.printer.path(QStringLiteral("MySSJFile.ssj"));
    QVERIFY(QFile::exists(settingsFile));
    QString serial;
    QString nickname;
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        serial = settings.value(QStringLiteral("printerSerial")).toString();
        nickname = settings.value(QStringLiteral("printerNickName")).toString();
    }
    QVERIFY2(serial.startsWith(QStringLiteral("OBW-TEST")), qPrintable(serial));

    Cli first(rig.printArguments(m_job, 60));
    QVERIFY(first.start());
    QVERIFY2(first.waitForError(QStringLiteral("printing: 25/100"), 60000), qPrintable(first.transcript()));
    QVERIFY2(first.err().contains(QStringLiteral("printer %1 (").arg(serial)), qPrintable(first.transcript()));
    const QByteArray settingsBefore = fileBytes(settingsFile);

    rig.printer.kill();
    QCOMPARE(rig.printer.exitStatus(), QProcess::CrashExit);
    QVERIFY2(first.waitForFinished(30000), qPrintable(first.transcript()));
    QVERIFY2(first.exitCode() == 1 && first.err().contains(QStringLiteral("error: connection lost")),
        qPrintable(first.transcript()));

    // Nothing was half written when the program died.
    QCOMPARE(fileBytes(settingsFile), settingsBefore);
    QCOMPARE(fileBytes(stored), fileBytes(m_job));
    QCOMPARE(leftoversBeside(settingsFile), QStringList());
    QCOMPARE(leftoversBeside(stored), QStringList());

    // A desktop waits for a printer, announcing itself every 2 s; the printer
    // starts again and answers the next announcement.
    Cli second(rig.printArguments(m_job, 60));
    QVERIFY(second.start());
    const int handshakes = rig.printer.logCount(QStringLiteral("Handshake Successful"));
    QVERIFY(rig.printer.start());
    QVERIFY(rig.printer.waitUntilListening(60000));
    QElapsedTimer sinceListening;
    sinceListening.start();
    QVERIFY2(rig.printer.waitForLog(QStringLiteral("Handshake Successful"), handshakes + 1, 20000),
        qPrintable(second.transcript()));
    const qint64 reconnectMs = sinceListening.elapsed();
    // Announcements come every 2 s: the next one, with room for a loaded machine.
    QVERIFY2(reconnectMs < 5000, qPrintable(QString::number(reconnectMs)));

    // Same printer: its settings were read, not made anew.
    const QString log = rig.printer.log();
    QCOMPARE(log.count(QStringLiteral("Client::Client - creating settings file")), 1);
    QVERIFY(log.contains(QStringLiteral("File location: ")));
    QVERIFY2(
        log.contains(QStringLiteral("Client::readSettingsFromFile(). Serial: %1 Nickname: %2").arg(serial, nickname)),
        qPrintable(log.right(2000)));

    QVERIFY2(second.waitForFinished(90000) && second.exitCode() == 0, qPrintable(second.transcript()));
    QCOMPARE(second.out(), QStringLiteral("print done\n"));
    QVERIFY2(second.err().contains(QStringLiteral("printer %1 (%2)").arg(serial, nickname)),
        qPrintable(second.transcript()));
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        QCOMPARE(settings.status(), QSettings::NoError);
        QCOMPARE(settings.value(QStringLiteral("printerSerial")).toString(), serial);
        QCOMPARE(settings.value(QStringLiteral("printerNickName")).toString(), nickname);
    }
    QVERIFY(!QFile::exists(settingsFile + QStringLiteral(".damaged")));

    const QString problems = rig.problems();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
    outcome(QStringLiteral("printer killed"),
        QStringLiteral("killed at 25%; desktop: \"error: connection lost\"; settings file and job file unchanged "
                       "(%1 bytes, %2 bytes); restarted as %3, connected %4 ms after it listened; printed again: "
                       "\"%5\"")
            .arg(settingsBefore.size())
            .arg(fileBytes(stored).size())
            .arg(serial)
            .arg(reconnectMs)
            .arg(second.out().trimmed()));
}

void TestPrinterKilled::printerKilledMidTransfer_jobKept_noPartialFileLeft()
{
    Rig rig(m_dir.filePath(QStringLiteral("killed-in-transfer")), m_x.display());
    QString error;
    QVERIFY2(rig.start(&error), qPrintable(error));
    const QString stored = rig.printer.path(QStringLiteral("MySSJFile.ssj"));
    {
        Cli print(rig.printArguments(m_other, 60));
        QVERIFY(print.start());
        QVERIFY2(print.waitForFinished(90000) && print.exitCode() == 0, qPrintable(print.transcript()));
    }
    QCOMPARE(fileBytes(stored), fileBytes(m_other));

    // The next job stops half-way (the relay holds the rest back), and the
    // printer dies while it holds half a file.
    const qint64 half = QFileInfo(m_job).size() / 2;
    LinkCutter cutter(rig.printer.discoveryPort());
    QVERIFY(cutter.start());
    cutter.cutStreamAfter(half, LinkCutter::Cut::Silence);
    const int pieces = rig.printer.logCount(QStringLiteral("Receive File. Bytes Received:"));
    Cli broken(QStringList {QStringLiteral("print"), m_job, QStringLiteral("--resin"), QStringLiteral("Clear"),
                   QStringLiteral("--wait"), QStringLiteral("60")}
        + Cli::network(cutter.tapPort(), rig.nextBasePort()));
    QVERIFY(broken.start());
    QVERIFY(waitFor([&] { return cutter.hasCut(); }, 60000));
    QVERIFY(rig.printer.waitForLog(QStringLiteral("Receive File. Bytes Received:"), pieces + 2, 10000));
    rig.printer.kill();
    QVERIFY2(broken.waitForFinished(30000) && broken.exitCode() == 1, qPrintable(broken.transcript()));
    QCOMPARE(fileBytes(stored), fileBytes(m_other));

    // Started again, it keeps its job, and no half file stays behind.
    QVERIFY(rig.printer.start());
    QVERIFY(rig.printer.waitUntilListening(60000));
    QCOMPARE(fileBytes(stored), fileBytes(m_other));
    QCOMPARE(leftoversBeside(stored), QStringList());
    const QString problems = rig.problems();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
    outcome(QStringLiteral("printer killed in a transfer"),
        QStringLiteral("killed holding %1 of %2 job bytes; desktop: \"%3\"; restarted with its previous job intact "
                       "and no partial file")
            .arg(half)
            .arg(QFileInfo(m_job).size())
            .arg(lineWith(broken.err(), QStringLiteral("error: "))));
}

void TestPrinterKilled::printerKilledWhileStoringSettings_fileStaysWhole()
{
    Rig rig(m_dir.filePath(QStringLiteral("killed-in-settings")), m_x.display());
    QString error;
    QVERIFY2(rig.start(&error), qPrintable(error));
    const QString settingsFile = rig.printer.path(QStringLiteral("Tessora_Client_Config"));
    QString serial;
    QStringList names;
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        serial = settings.value(QStringLiteral("printerSerial")).toString();
        names << settings.value(QStringLiteral("printerNickName")).toString();
    }

    // A desktop renames the printer again and again; every name is stored at
    // once. The program dies in the middle of that.
    {
        DesktopLink desktop(rig.printer.discoveryPort());
        QVERIFY(desktop.waitForPrinter(20000));
        QCOMPARE(desktop.serial, serial);
        const QString received = QStringLiteral("Server_NewNickname");
        const int before = rig.printer.logCount(received);
        QTimer rename;
        QObject::connect(&rename, &QTimer::timeout, [&] {
            names << QStringLiteral("Vat %1").arg(names.size());
            desktop.server().changeNickName(serial, names.constLast());
        });
        rename.start(3);
        QVERIFY(rig.printer.waitForLog(received, before + 40, 20000));
        rig.printer.kill();
        rename.stop();
    }
    const int renamesStored = rig.printer.logCount(QStringLiteral("Server_NewNickname"));

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
    const bool lockLeft = left.removeAll(QStringLiteral("Tessora_Client_Config.lock")) > 0;
    QCOMPARE(left, QStringList());

    // And the program, started again, reads it as it is, and stores the next
    // name despite the lock left behind.
    const QString damaged = QStringLiteral("The settings file is not valid INI");
    QVERIFY(rig.printer.start());
    QVERIFY(rig.printer.waitUntilListening(60000));
    QCOMPARE(rig.printer.logCount(damaged), 0);
    QVERIFY(!QFile::exists(settingsFile + QStringLiteral(".damaged")));
    QVERIFY(rig.printer.log().contains(QStringLiteral("Client::readSettingsFromFile(). Serial: ") + serial));
    {
        DesktopLink desktop(rig.printer.discoveryPort());
        QVERIFY(desktop.waitForPrinter(20000));
        desktop.server().changeNickName(serial, QStringLiteral("After the crash"));
        QVERIFY2(waitFor(
                     [&] {
                         QSettings settings(settingsFile, QSettings::IniFormat);
                         return settings.value(QStringLiteral("printerNickName")).toString()
                             == QLatin1String("After the crash");
                     },
                     10000),
            qPrintable(rig.printer.log().right(2000)));
    }

    const QString problems = rig.problems();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
    outcome(QStringLiteral("printer killed while storing settings"),
        QStringLiteral("killed after %1 renames%2; the settings file read back whole (serial %3 kept, a nickname it "
                       "was sent); the restarted program read it as it was and stored the next name")
            .arg(renamesStored)
            .arg(lockLeft ? QStringLiteral(", in the middle of a write (its lock left behind)") : QString())
            .arg(serial));
}

QTEST_GUILESS_MAIN(TestPrinterKilled)
#include "tst_printerkilled.moc"
