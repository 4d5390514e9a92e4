// The printer's configuration: reading command output and checking credentials
// (NetworkConfig), the settings file (PrinterSettings) and the door to the operating
// system in simulation (SystemActions). Nothing here runs live: every operating-system
// file lands below a temporary folder and every command is only recorded. The texts the
// printer writes are checked where the session writes them (test_session).

#include "networkconfig.h"
#include "printersettings.h"
#include "resin.h"
#include "systemactions.h"
#include "waiting.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// What "sudo iwlist wlan0 scan | grep ESSID" prints: one indented line per cell.
QString iwlistLines(const QStringList &essids)
{
    QString output;
    for (const QString &essid : essids)
        output += QStringLiteral("                    ESSID:") + essid + QLatin1Char('\n');
    return output;
}

PrinterSettingsValues sessionDefaults()
{
    PrinterSettingsValues values;
    values.serial = QStringLiteral("OBW-TEST42");
    values.nickname = QStringLiteral("Test Client42");
    return values;
}

} // namespace

class PrinterConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void accessPointName_byModel_data();
    void accessPointName_byModel();
    void parseWifiScan_data();
    void parseWifiScan();
    void parseHasConnection_data();
    void parseHasConnection();
    void credentials_unsafeRefusedWithReason_safeAccepted_data();
    void credentials_unsafeRefusedWithReason_safeAccepted();

    void olderOrPartialFile_keysMigratedOrLeftAtDefaults();
    void setValue_isOnDiskAtOnce_andTextsSurviveRoundTrip();
    void damagedFile_readsWhatItCan_keepsDamagedCopy_staysWritable();
    void unwritableSettings_writesReportFailure();

    void simulation_pathsLandBelowTheSandbox_relativePathsUnchanged();
    void simulation_writeFile_replacesWholeContent_belowTheSandbox();
    void simulation_commands_areRecorded_neverRun();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void PrinterConfigTest::initTestCase()
{
    // Before anything configures it: simulation, below the current folder.
    QVERIFY(!SystemActions::isLive());
    QCOMPARE(SystemActions::sandboxRoot(), QDir::currentPath() + QStringLiteral("/system-root"));
}

void PrinterConfigTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    SystemActions::configure(false, m_dir->filePath(QStringLiteral("root")));
    SystemActions::clearSimulated();
}

void PrinterConfigTest::cleanup()
{
    SystemActions::clearSimulated();
    SystemActions::configure(false, m_dir->filePath(QStringLiteral("root")));
    m_dir.reset();
}

// ---- Network ----

void PrinterConfigTest::accessPointName_byModel_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("expected");
    QTest::newRow("P100") << "OBP100V1" << "Orbelle-P-S1";
    QTest::newRow("Q75") << "OBQ75V1" << "Orbelle-Q75-S1";
    QTest::newRow("Q100") << "OBQ100V2" << "Orbelle-Q100-S1";
    QTest::newRow("other model: no infix") << "OBX200" << "Orbelle-S1";
}

void PrinterConfigTest::accessPointName_byModel()
{
    QFETCH(QString, model);
    QFETCH(QString, expected);
    QCOMPARE(NetworkConfig::accessPointName(model, QStringLiteral("S1")), expected);
}

void PrinterConfigTest::parseWifiScan_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no cell") << QStringLiteral("wlan0     No scan results\n") << QStringList();
    // The same network twice: test_session.
    QTest::newRow("hidden network gives an empty name")
        << iwlistLines({"\"Home\"", "\"\"", "\"Other\""}) << QStringList {"Home", "", "Other"};
    QTest::newRow("quote inside a name: up to the last quote")
        << iwlistLines({"\"say \"hi\" now\""}) << QStringList {"say \"hi\" now"};
    QTest::newRow("no line feed at the end") << QStringLiteral("   ESSID:\"Solo\"") << QStringList {"Solo"};
    QTest::newRow("a missing quotation mark keeps the name") << iwlistLines({"\"OpenEnd"}) << QStringList {"OpenEnd"};
}

void PrinterConfigTest::parseWifiScan()
{
    QFETCH(QString, output);
    QFETCH(QStringList, expected);
    QCOMPARE(NetworkConfig::parseWifiScan(output), expected);
}

void PrinterConfigTest::parseHasConnection_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("broadcastingDirect");
    QTest::addColumn<bool>("expected");
    QTest::newRow("client with address") << "192.168.1.5" << false << true;
    QTest::newRow("client with link-local address") << "169.254.3.4" << false << false;
    QTest::newRow("client without address") << "" << false << false;
    QTest::newRow("access point with its own address") << "192.168.42.1" << true << false;
    QTest::newRow("access point mode without address") << "" << true << false;
}

void PrinterConfigTest::parseHasConnection()
{
    QFETCH(QString, address);
    QFETCH(bool, broadcastingDirect);
    QFETCH(bool, expected);
    QString output = QStringLiteral("wlan0     Link encap:Ethernet  HWaddr b8:27:eb:12:34:56\n");
    if (!address.isEmpty())
        output += QStringLiteral("          inet addr:%1  Bcast:%1  Mask:255.255.255.0\n").arg(address);
    output += QStringLiteral("          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1\n");
    QCOMPARE(NetworkConfig::parseHasConnection(output, broadcastingDirect), expected);
    // Deciding runs nothing.
    QVERIFY(SystemActions::simulatedCommands().isEmpty());
}

void PrinterConfigTest::credentials_unsafeRefusedWithReason_safeAccepted_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("safe");

    const QString goodName = QStringLiteral("Home");
    const QString goodPassword = QStringLiteral("password123");

    QTest::newRow("quote in name") << "Ho\"me" << goodPassword << false;
    QTest::newRow("backslash in password") << goodName << "pass\\word123" << false;
    QTest::newRow("line feed in name") << "Home\nnetwork={" << goodPassword << false;
    QTest::newRow("carriage return in password") << goodName << "password\r123" << false;
    QTest::newRow("tab in name") << "Ho\tme" << goodPassword << false;
    QTest::newRow("NUL in password") << goodName << QString::fromUtf8("pass\0word123", 12) << false;
    QTest::newRow("DEL in name") << "Ho\x7fme" << goodPassword << false;
    QTest::newRow("C1 control in name") << QString(QStringLiteral("Ho") + QChar(0x85) + "me") << goodPassword << false;
    QTest::newRow("Unicode line separator in password")
        << goodName << QString(QStringLiteral("password") + QChar(0x2028) + "x") << false;
    QTest::newRow("empty name") << "" << goodPassword << false;
    QTest::newRow("name of 33 bytes") << QString(33, QLatin1Char('n')) << goodPassword << false;
    QTest::newRow("name of 17 two-byte characters (34 bytes)") << QString(17, QChar(0x00e9)) << goodPassword << false;
    QTest::newRow("password of 7") << goodName << "1234567" << false;
    QTest::newRow("password of 64") << goodName << QString(64, QLatin1Char('p')) << false;

    QTest::newRow("password of 8") << goodName << "12345678" << true;
    QTest::newRow("password of 63") << goodName << QString(63, QLatin1Char('p')) << true;
    QTest::newRow("name of 32 bytes") << QString(32, QLatin1Char('n')) << "12345678" << true;
    QTest::newRow("unicode name of 32 bytes") << QString(16, QChar(0x00e9)) << "12345678" << true;
    QTest::newRow("unicode and spaces") << "Café Ünïcode ☕" << "pässwörd-ü" << true;
    QTest::newRow("punctuation") << "a'b$c`d!e#f" << "p@ss'w$rd`!#;&|" << true;
}

void PrinterConfigTest::credentials_unsafeRefusedWithReason_safeAccepted()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(bool, safe);
    QString why = QStringLiteral("stale");
    QCOMPARE(NetworkConfig::credentialsAreSafe(name, password, &why), safe);
    QCOMPARE(NetworkConfig::credentialsAreSafe(name, password, nullptr), safe);
    if (!safe) {
        QVERIFY(!why.isEmpty() && why != QStringLiteral("stale"));
        return;
    }
    QVERIFY(why.isEmpty());
    // Accepted credentials keep the client configuration at its eleven lines.
    const QStringList lines = NetworkConfig::wpaSupplicantText(name, password).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 11);
    QCOMPARE(lines.at(4), QStringLiteral("ssid=\"") + name + QLatin1Char('"'));
    QCOMPARE(lines.at(5), QStringLiteral("psk=\"") + password + QLatin1Char('"'));
}

// ---- Settings file (what the first start writes: test_session) ----

void PrinterConfigTest::olderOrPartialFile_keysMigratedOrLeftAtDefaults()
{
    // An older program's key for the network mode is taken over and stored anew.
    const QString file = m_dir->filePath(QStringLiteral("config"));
    QVERIFY(writeFileBytes(file, "[General]\nbroadcastingAdhoc=true\nenableResinSettleTime=true\nresinSettleTime=1500\n"));
    PrinterSettingsValues values = sessionDefaults();
    PrinterSettings(file).read(values);
    QVERIFY(values.broadcastingDirect && values.enableResinSettleTime);
    QCOMPARE(values.resinSettleTime, 1500);
    QVERIFY(fileBytes(file).contains("broadcastingDirect=true"));

    // Neither key at all: false, and stored so; the file decides, not the previous value.
    // Other missing keys keep what is in memory, and are not written.
    QVERIFY(writeFileBytes(file, "[General]\nprinterSerial=OBW-ONLY\n"));
    values = sessionDefaults();
    values.broadcastingDirect = true;
    PrinterSettings settings(file);
    settings.read(values);
    QVERIFY(!values.broadcastingDirect);
    QVERIFY(fileBytes(file).contains("broadcastingDirect=false"));
    QCOMPARE(QStringList({values.serial, values.nickname, values.model}),
        QStringList({"OBW-ONLY", "Test Client42", "OBP100V1"}));
    QCOMPARE(values.resinSettleTime, 2000000);
    QVERIFY(values.gParameter.isEmpty() && values.grayscale.isEmpty() && values.resinData.isEmpty());
    QVERIFY(!settings.contains(QStringLiteral("grayscale")));
    QCOMPARE(QSettings(file, QSettings::IniFormat).allKeys().size(), 2);
}

void PrinterConfigTest::setValue_isOnDiskAtOnce_andTextsSurviveRoundTrip()
{
    const QString file = m_dir->filePath(QStringLiteral("config"));
    const QString grayscale
        = QStringLiteral("{\"numRows\":2,\"numCols\":2,\"startRow\":0,\"endRow\":2,\"rows\":[[255,128],[0,7]]}");
    const QString resinData = Resin::toString(Resin::defaultResinList());
    // Texts from the desktop that would break the file if stored as they are.
    const QString nickname = QStringLiteral("Lab, bench 3; \"Ünïcode\" = yes\nprinterSerial=HACKED\n[Other]");
    const QString serial = QStringLiteral("@Variant(\\0\\0\\0\\x7f)");

    PrinterSettings settings(file);
    QVERIFY(settings.setValue(QStringLiteral("grayscale"), grayscale));
    QVERIFY(settings.setValue(QStringLiteral("resinData"), resinData));
    QVERIFY(settings.setValue(QStringLiteral("printerNickName"), nickname));
    QVERIFY(settings.setValue(QStringLiteral("printerSerial"), serial));
    QVERIFY(settings.setValue(QStringLiteral("gParameter"), QStringLiteral("g-35")));
    QCOMPARE(settings.value(QStringLiteral("gParameter")).toString(), QStringLiteral("g-35"));

    // On disk before anything else happens: a second object on its own reads it all back.
    QVERIFY(fileBytes(file).contains("gParameter=g-35"));
    PrinterSettingsValues values = sessionDefaults();
    PrinterSettings(file).read(values);
    QCOMPARE(QStringList({values.grayscale, values.resinData, values.nickname, values.serial, values.gParameter}),
        QStringList({grayscale, resinData, nickname, serial, "g-35"}));
}

void PrinterConfigTest::damagedFile_readsWhatItCan_keepsDamagedCopy_staysWritable()
{
    // Valid lines before the damage are read; the damaged text is kept aside.
    const QString file = m_dir->filePath(QStringLiteral("config"));
    QByteArray damaged("[General]\nprinterSerial=OBW-KEPT\nresinSettleTime=900\n[Gen\x01\xff\n");
    damaged.append('\0');
    damaged.append("\x02\x03zz=\"unterminated\nprinterModel=OBQ100V1\n");
    QVERIFY(writeFileBytes(file, damaged));
    PrinterSettings settings(file);
    PrinterSettingsValues values = sessionDefaults();
    settings.read(values);
    QCOMPARE(QStringList({values.serial, values.nickname}), QStringList({"OBW-KEPT", "Test Client42"}));
    QCOMPARE(values.resinSettleTime, 900);
    QCOMPARE(fileBytes(file + QStringLiteral(".damaged")), damaged);

    // The file is clean again: writes succeed and report so, and it reads without error.
    QVERIFY(settings.setValue(QStringLiteral("printerNickName"), QStringLiteral("Fixed")));
    QSettings disk(file, QSettings::IniFormat);
    QCOMPARE(disk.status(), QSettings::NoError);
    QCOMPARE(disk.value("printerSerial").toString(), QStringLiteral("OBW-KEPT"));
    QCOMPARE(disk.value("printerNickName").toString(), QStringLiteral("Fixed"));
    QVERIFY(!fileBytes(file).contains('\0'));
}

void PrinterConfigTest::unwritableSettings_writesReportFailure()
{
    // A folder that cannot exist (its parent is a file) stops even a privileged user.
    const QString blocker = m_dir->filePath(QStringLiteral("plainfile"));
    QVERIFY(writeFileBytes(blocker, "x"));
    PrinterSettings settings(blocker + QStringLiteral("/Tessora_Client_Config"));

    QVERIFY(!settings.setValue(QStringLiteral("printerNickName"), QStringLiteral("x")));
    PrinterSettingsValues values = sessionDefaults();
    QVERIFY(!settings.writeInitial(values));
}

// ---- Operating system in simulation ----

void PrinterConfigTest::simulation_pathsLandBelowTheSandbox_relativePathsUnchanged()
{
    const QString root = m_dir->filePath(QStringLiteral("root"));
    QCOMPARE(SystemActions::path(QStringLiteral("/etc/hostapd/hostapd.conf")),
        root + QStringLiteral("/etc/hostapd/hostapd.conf"));
    QVERIFY(QDir(root + QStringLiteral("/etc/hostapd")).exists()); // created on demand

    // Climbing out of the root is not possible.
    QCOMPARE(SystemActions::path(QStringLiteral("/../../etc/passwd")), root + QStringLiteral("/etc/passwd"));
    QCOMPARE(SystemActions::path(QStringLiteral("/etc/../../x")), root + QStringLiteral("/x"));

    // Relative to the working folder: as given.
    QCOMPARE(SystemActions::path(QStringLiteral("sub/file")), QStringLiteral("sub/file"));

    // A relative sandbox root is fixed to an absolute one when configured.
    SystemActions::configure(false, QStringLiteral("relative-root"));
    QCOMPARE(SystemActions::sandboxRoot(), QDir::currentPath() + QStringLiteral("/relative-root"));
    QVERIFY(!SystemActions::isLive());
}

void PrinterConfigTest::simulation_writeFile_replacesWholeContent_belowTheSandbox()
{
    const QString root = m_dir->filePath(QStringLiteral("root"));
    const QString systemPath = QString::fromLatin1(NetworkConfig::wpaSupplicantPath);

    // UTF-8 content (names from the desktop), then a shorter text leaves nothing of it.
    const QString wpa = NetworkConfig::wpaSupplicantText(QStringLiteral("Café"), QStringLiteral("pässwörd"));
    QVERIFY(SystemActions::writeFile(systemPath, wpa));
    QCOMPARE(fileBytes(root + systemPath), wpa.toUtf8());
    QVERIFY(SystemActions::exists(systemPath));
    QVERIFY(SystemActions::writeFile(systemPath, QStringLiteral("short")));
    QCOMPARE(fileBytes(root + systemPath), QByteArray("short"));

    // Only the sandbox holds files.
    QVERIFY(!SystemActions::exists(QStringLiteral("/etc/never/written")));
    QCOMPARE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList {"etc"});

    // Unopenable: a folder where the file should be, a file where a folder should be.
    QVERIFY(QDir().mkpath(root + QStringLiteral("/etc/hostapd/hostapd.conf")));
    QVERIFY(!SystemActions::writeFile(QStringLiteral("/etc/hostapd/hostapd.conf"), QStringLiteral("x")));
    QVERIFY(SystemActions::writeFile(QStringLiteral("/etc/blocker"), QStringLiteral("x")));
    QVERIFY(!SystemActions::writeFile(QStringLiteral("/etc/blocker/file"), QStringLiteral("y")));
    QCOMPARE(fileBytes(root + QStringLiteral("/etc/blocker")), QByteArray("x"));
}

void PrinterConfigTest::simulation_commands_areRecorded_neverRun()
{
    const QString target = m_dir->filePath(QStringLiteral("touched"));
    const QString touch = QStringLiteral("touch ") + target;
    const QString scan = QString::fromLatin1(NetworkConfig::wifiScanCommand);
    const QString recorded = iwlistLines({"\"Home\"", "\"Lab\""});
    SystemActions::setSimulatedOutput(scan, recorded);
    const QString script = QString::fromLatin1(NetworkConfig::updateScriptPath);
    QVERIFY(SystemActions::writeFile(script, touch));

    QCOMPARE(SystemActions::run(touch), QString());
    QCOMPARE(SystemActions::run(scan), recorded); // output belongs to exactly that command
    QVERIFY(SystemActions::startDetached(script));
    QCOMPARE(SystemActions::simulatedCommands(), (QStringList {touch, scan, script}));
    QTest::qWait(200);
    QVERIFY(!QFile::exists(target));

    SystemActions::clearSimulated();
    QVERIFY(SystemActions::simulatedCommands().isEmpty());
    QCOMPARE(SystemActions::run(scan), QString());
}

QTEST_GUILESS_MAIN(PrinterConfigTest)
#include "tst_printerconfig.moc"
