// The printer's configuration: network file texts and command output reading
// (NetworkConfig), the settings file (PrinterSettings) and the door to the operating
// system in simulation (SystemActions). Nothing here runs live: every operating-system
// file lands below a temporary folder and every command is only recorded.

#include "logcapture.h"
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

QString joinLines(const QStringList &lines)
{
    return lines.join(QLatin1Char('\n'));
}

QStringList linesContaining(const QStringList &lines, const QString &part)
{
    QStringList found;
    for (const QString &line : lines) {
        if (line.contains(part))
            found.append(line);
    }
    return found;
}

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

    // Configuration texts.
    void wpaSupplicantText_isTheClientConfiguration();
    void hostapdText_isTheAccessPointConfiguration();
    void interfacesTexts_forBothModes();
    void rollbackListIsOldFormat_refreshScript();
    void accessPointName_byModel_data();
    void accessPointName_byModel();

    // Reading command output.
    void parseWifiScan_data();
    void parseWifiScan();
    void parseHasConnection_data();
    void parseHasConnection();

    // Credentials from the desktop.
    void credentials_unsafeRefusedWithReason_safeAccepted_data();
    void credentials_unsafeRefusedWithReason_safeAccepted();
    void maskedPassword_hidesEveryCharacter_keepsLength();

    // Settings file.
    void firstStart_writesExactlyTheInitialKeys_andReadsThemBack();
    void olderFile_broadcastingKeyIsMigrated();
    void missingKeys_keepInMemoryDefaults();
    void setValue_isOnDiskAtOnce_andTextsSurviveRoundTrip();
    void damagedFile_readsWhatItCan_keepsDefaultsAndDamagedCopy_staysWritable();
    void unwritableSettings_writesReportFailure();

    // Operating system in simulation.
    void simulation_pathsLandBelowTheSandbox_relativePathsUnchanged();
    void simulation_writeFile_replacesWholeContent_belowTheSandbox();
    void simulation_commands_areRecordedAndLogged_neverRun();

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

// ---- Configuration texts ----

void PrinterConfigTest::wpaSupplicantText_isTheClientConfiguration()
{
    const QString expected = joinLines({
        "ctrl_interface=DIR=/var/run/wpa_supplicant GROUP=netdev",
        "update_config=1",
        "country=GB",
        "network={",
        "ssid=\"Home Net\"",
        "psk=\"secret pass\"",
        "proto=WPA RSN",
        "key_mgmt=WPA-PSK",
        "pairwise=CCMP TKIP",
        "auth_alg=OPEN",
        "}",
    });
    QCOMPARE(NetworkConfig::wpaSupplicantText(QStringLiteral("Home Net"), QStringLiteral("secret pass")), expected);
}

void PrinterConfigTest::hostapdText_isTheAccessPointConfiguration()
{
    const QString expected = joinLines({
        "interface=wlan0",
        "",
        "driver=nl80211",
        "ssid=Orbelle-P-OBW-TEST7",
        "hw_mode=g",
        "channel=6",
        "auth_algs=1",
        "ignore_broadcast_ssid=0",
        "wpa=2",
        "wpa_passphrase=mossgrove",
        "wpa_key_mgmt=WPA-PSK",
        "wpa_pairwise=CCMP",
        "wpa_group_rekey=86400",
        "ieee80211n=1",
        "wme_enabled=1",
    });
    QCOMPARE(NetworkConfig::hostapdText(
                 QStringLiteral("Orbelle-P-OBW-TEST7"), QString::fromLatin1(NetworkConfig::accessPointPassPhrase)),
        expected);
}

void PrinterConfigTest::interfacesTexts_forBothModes()
{
    QCOMPARE(NetworkConfig::interfacesTextAccessPoint(),
        joinLines({
            "iface eth0 inet dhcp",
            "",
            "auto wlan0",
            "iface wlan0 inet static",
            "address 192.168.42.1",
            "netmask 255.255.255.0",
        }));
    QCOMPARE(NetworkConfig::interfacesTextClient(),
        joinLines({
            "iface eth0 inet dhcp",
            "",
            "allow-hotplug wlan0",
            "iface wlan0 inet dhcp",
            "wpa-conf /etc/wpa_supplicant/wpa_supplicant.conf",
            "iface default inet dhcp",
        }));
}

// The update and rollback scripts are compared whole where the session writes them.
void PrinterConfigTest::rollbackListIsOldFormat_refreshScript()
{
    // The previous program reads the rollback list as one old-format profile.
    const QString list = QString::fromLatin1(NetworkConfig::rollbackResinList);
    QVERIFY(Resin::isOldResinFormat(list));
    const QList<Resin> resins = Resin::fromString(list);
    QCOMPARE(resins.size(), 1);
    QCOMPARE(resins.first().name, QStringLiteral("Red"));

    // Written below the system folder when the client network is brought up again.
    QCOMPARE(QLatin1String(NetworkConfig::refreshScriptPath), QLatin1String("/home/pi/refreshScript"));
    QCOMPARE(QLatin1String(NetworkConfig::refreshScriptText), QLatin1String("sudo ifdown wlan0 && sudo ifup wlan0"));
}

void PrinterConfigTest::accessPointName_byModel_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("expected");

    QTest::newRow("P100") << "OBP100V1"
                          << "OBW-TEST1234"
                          << "Orbelle-P-OBW-TEST1234";
    QTest::newRow("Q75") << "OBQ75V1"
                         << "S1"
                         << "Orbelle-Q75-S1";
    QTest::newRow("Q100") << "OBQ100V2"
                          << "S2"
                          << "Orbelle-Q100-S2";
    QTest::newRow("other model: no infix") << "OBX200"
                                           << "S3"
                                           << "Orbelle-S3";
    QTest::newRow("case matters") << "obp100v1"
                                  << "S5"
                                  << "Orbelle-S5";
    // The first matching test decides.
    QTest::newRow("P100 before Q75") << "Q75-P100"
                                     << "S6"
                                     << "Orbelle-P-S6";
    QTest::newRow("Q75 before Q100") << "Q100-Q75"
                                     << "S7"
                                     << "Orbelle-Q75-S7";
}

void PrinterConfigTest::accessPointName_byModel()
{
    QFETCH(QString, model);
    QFETCH(QString, serial);
    QFETCH(QString, expected);
    QCOMPARE(NetworkConfig::accessPointName(model, serial), expected);
}

// ---- Reading command output ----

void PrinterConfigTest::parseWifiScan_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no cell") << QStringLiteral("wlan0     No scan results\n") << QStringList();
    QTest::newRow("same network twice yields it once")
        << iwlistLines({"\"Home\"", "\"Office\"", "\"Home\"", "\"Büro-5G\""})
        << QStringList {"Home", "Office", "Büro-5G"};
    // Pieces are compared before trimming: the final line lacks the next line's indentation,
    // so a repeat of an earlier name there is a different piece.
    QTest::newRow("repeat on the final line stays")
        << iwlistLines({"\"Home\"", "\"Home\""}) << QStringList {"Home", "Home"};
    QTest::newRow("hidden network gives an empty name")
        << iwlistLines({"\"Home\"", "\"\"", "\"Other\""}) << QStringList {"Home", "", "Other"};
    QTest::newRow("quote inside a name: up to the last quote")
        << iwlistLines({"\"say \"hi\" now\""}) << QStringList {"say \"hi\" now"};
    QTest::newRow("no line feed at the end") << QStringLiteral("   ESSID:\"Solo\"") << QStringList {"Solo"};
    // A missing quotation mark keeps the name.
    QTest::newRow("no quotes") << iwlistLines({"Bare"}) << QStringList {"Bare"};
    QTest::newRow("no closing quote") << iwlistLines({"\"OpenEnd"}) << QStringList {"OpenEnd"};
    QTest::newRow("no opening quote") << iwlistLines({"CloseOnly\"", "\"Fine\""}) << QStringList {"CloseOnly", "Fine"};
}

void PrinterConfigTest::parseWifiScan()
{
    QFETCH(QString, output);
    QFETCH(QStringList, expected);
    QCOMPARE(NetworkConfig::parseWifiScan(output), expected);
}

void PrinterConfigTest::parseHasConnection_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("broadcastingDirect");
    QTest::addColumn<bool>("expected");

    const QString connected
        = QStringLiteral("wlan0     Link encap:Ethernet  HWaddr b8:27:eb:12:34:56\n"
                         "          inet addr:192.168.1.5  Bcast:192.168.1.255  Mask:255.255.255.0\n"
                         "          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1\n");
    const QString linkLocal
        = QStringLiteral("wlan0     Link encap:Ethernet  HWaddr b8:27:eb:12:34:56\n"
                         "          inet addr:169.254.3.4  Bcast:169.254.255.255  Mask:255.255.0.0\n");
    const QString noAddress = QStringLiteral("wlan0     Link encap:Ethernet  HWaddr b8:27:eb:12:34:56\n"
                                             "          UP BROADCAST MULTICAST  MTU:1500  Metric:1\n");
    const QString accessPoint
        = QStringLiteral("wlan0     Link encap:Ethernet  HWaddr b8:27:eb:12:34:56\n"
                         "          inet addr:192.168.42.1  Bcast:192.168.42.255  Mask:255.255.255.0\n");
    QTest::newRow("client with address") << connected << false << true;
    QTest::newRow("client with link-local address") << linkLocal << false << false;
    QTest::newRow("client without address") << noAddress << false << false;
    QTest::newRow("access point with its own address") << accessPoint << true << false;
    QTest::newRow("access point mode without address") << noAddress << true << false;
}

void PrinterConfigTest::parseHasConnection()
{
    QFETCH(QString, output);
    QFETCH(bool, broadcastingDirect);
    QFETCH(bool, expected);
    QCOMPARE(NetworkConfig::parseHasConnection(output, broadcastingDirect), expected);
    // Deciding runs nothing.
    QVERIFY(SystemActions::simulatedCommands().isEmpty());
}

// ---- Credentials ----

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
    QTest::newRow("unicode and spaces") << "Café Ünïcode ☕"
                                        << "pässwörd-ü" << true;
    QTest::newRow("punctuation") << "a'b$c`d!e#f"
                                 << "p@ss'w$rd`!#;&|" << true;
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

void PrinterConfigTest::maskedPassword_hidesEveryCharacter_keepsLength()
{
    QCOMPARE(NetworkConfig::maskedPassword(QStringLiteral("secret pass")), QStringLiteral("***********"));
    QCOMPARE(NetworkConfig::maskedPassword(QString()), QString());
    QCOMPARE(NetworkConfig::maskedPassword(QStringLiteral("pässwörd")), QStringLiteral("********"));
    // A character outside the basic plane is one asterisk.
    QCOMPARE(NetworkConfig::maskedPassword(QString::fromUtf8("ab\xF0\x9F\x94\x91")), QStringLiteral("***"));
}

// ---- Settings file ----

void PrinterConfigTest::firstStart_writesExactlyTheInitialKeys_andReadsThemBack()
{
    const QString file = m_dir->filePath(QStringLiteral("Tessora_Client_Config"));
    PrinterSettings settings(file);
    QVERIFY(!settings.exists());

    PrinterSettingsValues values = sessionDefaults();
    QVERIFY(settings.writeInitial(values));
    QVERIFY(settings.exists());

    // What another reader (the desktop downloads this file) finds on disk.
    QSettings disk(file, QSettings::IniFormat);
    QStringList keys = disk.allKeys();
    keys.sort();
    QCOMPARE(keys,
        (QStringList {"broadcastingDirect", "enableResinSettleTime", "gParameter", "printerModel", "printerNickName",
            "printerSerial", "resinData", "resinSettleTime"}));
    QCOMPARE(disk.value("printerSerial").toString(), QStringLiteral("OBW-TEST42"));
    QCOMPARE(disk.value("printerNickName").toString(), QStringLiteral("Test Client42"));
    QCOMPARE(disk.value("printerModel").toString(), QStringLiteral("OBP100V1"));
    QCOMPARE(disk.value("gParameter").toString(), QStringLiteral("g0"));
    QCOMPARE(disk.value("resinSettleTime").toString(), QStringLiteral("0"));
    QCOMPARE(disk.value("resinData").toString(), Resin::toString(Resin::defaultResinList()));
    const QByteArray raw = fileBytes(file);
    QVERIFY(raw.contains("\nbroadcastingDirect=true\n"));
    QVERIFY(raw.contains("\nenableResinSettleTime=false\n"));

    // In memory: access point mode and the default list; the settle time stays as it was.
    QVERIFY(values.broadcastingDirect);
    QCOMPARE(Resin::fromString(values.resinData), Resin::defaultResinList());
    QCOMPARE(values.resinSettleTime, 2000000);

    // Read back by a fresh object into fresh values.
    PrinterSettingsValues read;
    PrinterSettings(file).read(read);
    QCOMPARE(read.serial, QStringLiteral("OBW-TEST42"));
    QCOMPARE(read.nickname, QStringLiteral("Test Client42"));
    QCOMPARE(read.model, QStringLiteral("OBP100V1"));
    QVERIFY(read.broadcastingDirect);
    QVERIFY(!read.enableResinSettleTime);
    QCOMPARE(read.resinSettleTime, 0);
    QCOMPARE(read.gParameter, QStringLiteral("g0"));
    QVERIFY(read.grayscale.isEmpty());
    QCOMPARE(Resin::fromString(read.resinData), Resin::defaultResinList());
}

void PrinterConfigTest::olderFile_broadcastingKeyIsMigrated()
{
    const QString file = m_dir->filePath(QStringLiteral("config"));
    QVERIFY(writeFileBytes(file,
        "[General]\nbroadcastingAdhoc=true\nprinterSerial=OBW-OLD1\n"
        "printerNickName=Old\nenableResinSettleTime=true\n"
        "resinSettleTime=1500\nprinterModel=OBP100V1\n"));
    PrinterSettingsValues values = sessionDefaults();
    PrinterSettings(file).read(values);
    QVERIFY(values.broadcastingDirect);
    QCOMPARE(values.serial, QStringLiteral("OBW-OLD1"));
    QVERIFY(values.enableResinSettleTime);
    QCOMPARE(values.resinSettleTime, 1500);
    QVERIFY(fileBytes(file).contains("broadcastingDirect=true"));

    // Neither key at all: false, and stored so; the file decides, not the previous value.
    QVERIFY(writeFileBytes(file, "[General]\nprinterSerial=OBW-OLD2\n"));
    values.broadcastingDirect = true;
    PrinterSettings(file).read(values);
    QVERIFY(!values.broadcastingDirect);
    QVERIFY(fileBytes(file).contains("broadcastingDirect=false"));
}

void PrinterConfigTest::missingKeys_keepInMemoryDefaults()
{
    const QString file = m_dir->filePath(QStringLiteral("config"));
    QVERIFY(writeFileBytes(file, "[General]\nprinterSerial=OBW-ONLY\nbroadcastingDirect=false\n"));
    PrinterSettings settings(file);
    PrinterSettingsValues values = sessionDefaults();
    settings.read(values);

    QCOMPARE(values.serial, QStringLiteral("OBW-ONLY"));
    QCOMPARE(values.nickname, QStringLiteral("Test Client42"));
    QCOMPARE(values.model, QStringLiteral("OBP100V1"));
    QVERIFY(!values.enableResinSettleTime);
    QCOMPARE(values.resinSettleTime, 2000000);
    QVERIFY(values.gParameter.isEmpty());
    QVERIFY(values.grayscale.isEmpty());
    QVERIFY(values.resinData.isEmpty());
    QVERIFY(!settings.contains(QStringLiteral("grayscale")));

    // Reading alone writes nothing new.
    QCOMPARE(QSettings(file, QSettings::IniFormat).allKeys().size(), 2);
}

void PrinterConfigTest::setValue_isOnDiskAtOnce_andTextsSurviveRoundTrip()
{
    const QString file = m_dir->filePath(QStringLiteral("config"));
    const QString grayscale
        = QStringLiteral("{\"numRows\":2,\"numCols\":2,\"startRow\":0,\"endRow\":2,\"rows\":[[255,128],[0,7]]}");
    const QString resinData = Resin::toString(Resin::defaultResinList());
    const QString nickname = QStringLiteral("Lab, bench 3; \"Ünïcode\" = yes");

    PrinterSettings settings(file);
    QVERIFY(settings.setValue(QStringLiteral("grayscale"), grayscale));
    QVERIFY(settings.setValue(QStringLiteral("resinData"), resinData));
    QVERIFY(settings.setValue(QStringLiteral("printerNickName"), nickname));
    QVERIFY(settings.setValue(QStringLiteral("gParameter"), QStringLiteral("g-35")));
    QVERIFY(settings.contains(QStringLiteral("grayscale")));
    QCOMPARE(settings.value(QStringLiteral("gParameter")).toString(), QStringLiteral("g-35"));

    // On disk before anything else happens: a second object on its own reads it all back.
    QVERIFY(fileBytes(file).contains("gParameter=g-35"));
    PrinterSettings other(file);
    PrinterSettingsValues values = sessionDefaults();
    other.read(values);
    QCOMPARE(values.grayscale, grayscale);
    QCOMPARE(values.resinData, resinData);
    QCOMPARE(values.nickname, nickname);
    QCOMPARE(values.gParameter, QStringLiteral("g-35"));
}

void PrinterConfigTest::damagedFile_readsWhatItCan_keepsDefaultsAndDamagedCopy_staysWritable()
{
    const QString file = m_dir->filePath(QStringLiteral("config"));
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 7919 + 13) % 256));
    QVERIFY(writeFileBytes(file, garbage));
    {
        PrinterSettings settings(file);
        QVERIFY(settings.exists());
        PrinterSettingsValues values = sessionDefaults();
        settings.read(values);
        QCOMPARE(values.serial, QStringLiteral("OBW-TEST42"));
        QCOMPARE(values.model, QStringLiteral("OBP100V1"));
        QCOMPARE(values.resinSettleTime, 2000000);
    }

    // Valid lines before the damage are read; the damaged text is kept aside.
    QByteArray damaged("[General]\nprinterSerial=OBW-KEPT\nresinSettleTime=900\n[Gen\x01\xff\n");
    damaged.append('\0');
    damaged.append("\x02\x03zz=\"unterminated\nprinterModel=OBQ100V1\n");
    QVERIFY(writeFileBytes(file, damaged));
    PrinterSettings settings(file);
    PrinterSettingsValues values = sessionDefaults();
    settings.read(values);
    QCOMPARE(values.serial, QStringLiteral("OBW-KEPT"));
    QCOMPARE(values.resinSettleTime, 900);
    QCOMPARE(values.nickname, QStringLiteral("Test Client42"));
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

    LogCapture log;
    QVERIFY(!settings.setValue(QStringLiteral("printerNickName"), QStringLiteral("x")));
    PrinterSettingsValues values = sessionDefaults();
    QVERIFY(!settings.writeInitial(values));
    QVERIFY(linesContaining(log.lines(), QStringLiteral("ERROR. PrinterSettings::")).size() >= 2);
}

// ---- Operating system in simulation ----

void PrinterConfigTest::simulation_pathsLandBelowTheSandbox_relativePathsUnchanged()
{
    const QString root = m_dir->filePath(QStringLiteral("root"));
    QCOMPARE(SystemActions::sandboxRoot(), root);

    const QString hostapd = SystemActions::path(QStringLiteral("/etc/hostapd/hostapd.conf"));
    QCOMPARE(hostapd, root + QStringLiteral("/etc/hostapd/hostapd.conf"));
    QVERIFY(QDir(root + QStringLiteral("/etc/hostapd")).exists()); // created on demand
    QCOMPARE(SystemActions::path(QStringLiteral("/home/pi/updateClientScript")),
        root + QStringLiteral("/home/pi/updateClientScript"));

    // Climbing out of the root is not possible.
    QCOMPARE(SystemActions::path(QStringLiteral("/../../etc/passwd")), root + QStringLiteral("/etc/passwd"));
    QCOMPARE(SystemActions::path(QStringLiteral("/etc/../../x")), root + QStringLiteral("/x"));

    // Relative to the working folder: as given.
    QCOMPARE(SystemActions::path(QStringLiteral("Vatnode_previous")), QStringLiteral("Vatnode_previous"));
    QCOMPARE(SystemActions::path(QStringLiteral("sub/file")), QStringLiteral("sub/file"));

    // A relative sandbox root is fixed to an absolute one when configured.
    SystemActions::configure(false, QStringLiteral("relative-root"));
    QCOMPARE(SystemActions::sandboxRoot(), QDir::currentPath() + QStringLiteral("/relative-root"));
    QVERIFY(!SystemActions::isLive());

    // An empty root follows the current folder.
    const QString previous = QDir::currentPath();
    SystemActions::configure(false, QString());
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const QString inside = QDir::currentPath();
    const QString mapped = SystemActions::path(QStringLiteral("/etc/hostapd/hostapd.conf"));
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(mapped, inside + QStringLiteral("/system-root/etc/hostapd/hostapd.conf"));
    QVERIFY(QDir(m_dir->filePath(QStringLiteral("system-root/etc/hostapd"))).exists());
}

void PrinterConfigTest::simulation_writeFile_replacesWholeContent_belowTheSandbox()
{
    const QString root = m_dir->filePath(QStringLiteral("root"));
    const QString systemPath = QString::fromLatin1(NetworkConfig::interfacesPath);

    QVERIFY(SystemActions::writeFile(systemPath, NetworkConfig::interfacesTextClient()));
    QCOMPARE(fileBytes(root + systemPath), NetworkConfig::interfacesTextClient().toUtf8());
    QVERIFY(SystemActions::exists(systemPath));

    // Written from empty: a shorter text leaves nothing of the longer one.
    QVERIFY(SystemActions::writeFile(systemPath, QStringLiteral("short")));
    QCOMPARE(fileBytes(root + systemPath), QByteArray("short"));

    // UTF-8 content (names from the desktop).
    const QString wpa = NetworkConfig::wpaSupplicantText(QStringLiteral("Café"), QStringLiteral("pässwörd"));
    QVERIFY(SystemActions::writeFile(QString::fromLatin1(NetworkConfig::wpaSupplicantPath), wpa));
    QCOMPARE(fileBytes(root + QStringLiteral("/etc/wpa_supplicant/wpa_supplicant.conf")), wpa.toUtf8());

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

void PrinterConfigTest::simulation_commands_areRecordedAndLogged_neverRun()
{
    const QString target = m_dir->filePath(QStringLiteral("touched"));
    const QString touch = QStringLiteral("touch ") + target;
    const QString scan = QString::fromLatin1(NetworkConfig::wifiScanCommand);
    const QString recorded = iwlistLines({"\"Home\"", "\"\"", "\"Home\"", "\"Lab\""});
    SystemActions::setSimulatedOutput(scan, recorded);
    const QString script = QString::fromLatin1(NetworkConfig::updateScriptPath);
    QVERIFY(SystemActions::writeFile(script, QStringLiteral("touch ") + target));

    LogCapture log;
    QCOMPARE(SystemActions::run(touch), QString());
    QCOMPARE(SystemActions::run(scan), recorded); // output belongs to exactly that command
    QCOMPARE(NetworkConfig::parseWifiScan(SystemActions::run(scan)), (QStringList {"Home", "", "Lab"}));
    QCOMPARE(SystemActions::run(QString::fromLatin1(NetworkConfig::rebootCommand)), QString());
    QVERIFY(SystemActions::startDetached(script));

    QCOMPARE(SystemActions::simulatedCommands(), (QStringList {touch, scan, scan, "sudo reboot", script}));
    QCOMPARE(log.lines(),
        (QStringList {"SIMULATED: " + touch, "SIMULATED: " + scan, "SIMULATED: " + scan, "SIMULATED: sudo reboot",
            "SIMULATED: /home/pi/updateClientScript"}));
    QTest::qWait(200);
    QVERIFY(!QFile::exists(target));

    SystemActions::clearSimulated();
    QVERIFY(SystemActions::simulatedCommands().isEmpty());
    QCOMPARE(SystemActions::run(scan), QString());
}

QTEST_GUILESS_MAIN(PrinterConfigTest)
#include "tst_printerconfig.moc"
