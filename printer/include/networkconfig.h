#pragma once

#include <QString>
#include <QStringList>

// The printer's network and self-update configuration as data: the operating-system file
// texts, the shell command lines, the system paths, and the reading of command output.
// Nothing here writes a file or runs a command; the session does that through
// SystemActions.
//
// Terms used here:
//   access point mode - the printer runs its own Wi-Fi network (hostapd), named after its
//                       model and serial, at 192.168.42.1.
//   client mode       - the printer joins a Wi-Fi network with credentials from the desktop
//                       (wpa_supplicant).
// Texts are lines joined by "\n" without a line feed after the last line.
namespace NetworkConfig {

// System paths (through SystemActions::path()).
constexpr const char *wpaSupplicantPath = "/etc/wpa_supplicant/wpa_supplicant.conf";
constexpr const char *hostapdPath = "/etc/hostapd/hostapd.conf";
constexpr const char *interfacesPath = "/etc/network/interfaces";
constexpr const char *updateScriptPath = "/home/pi/updateClientScript";
constexpr const char *rollbackScriptPath = "/home/pi/rollbackClientScript";
constexpr const char *refreshScriptPath = "/home/pi/refreshScript";

// Program files relative to the working folder, named by the scripts.
constexpr const char *updateFileName = "Vatnode_update";
constexpr const char *previousProgramFileName = "Vatnode_previous";

// Shell commands.
constexpr const char *ifconfigCommand = "ifconfig wlan0";
constexpr const char *wifiScanCommand = "sudo iwlist wlan0 scan | grep ESSID";
constexpr const char *enableHostapdCommand = "sudo update-rc.d hostapd enable";
constexpr const char *disableHostapdCommand = "sudo update-rc.d hostapd disable";
constexpr const char *rebootCommand = "sudo reboot";
constexpr const char *shutdownCommand = "sudo shutdown -h now";
// "sudo chmod 777 " + path: makes a written script executable.
QString chmodCommand(const QString &path);

// The one line of the refresh script (written when missing, then started).
constexpr const char *refreshScriptText = "sudo ifdown wlan0 && sudo ifup wlan0";

// The resin list stored by a rollback: one profile in the old 12-field form, which the
// previous printer program reads.
constexpr const char *rollbackResinList = "*Red!5!10!15!3!20!20!20!20!1!1!1";

// The access point's fixed pass phrase.
constexpr const char *accessPointPassPhrase = "mossgrove";

// Configuration file texts. No escaping is done: check credentials with
// credentialsAreSafe() before writing them.
QString wpaSupplicantText(const QString &name, const QString &password);
QString hostapdText(const QString &accessPointName, const QString &passPhrase);
QString interfacesTextAccessPoint();
QString interfacesTextClient();

// Self-update and rollback scripts (four lines each), run in the working folder: put the
// new program in place as "Vatnode", then restart through the vatnode service when it is
// installed, or start "./Vatnode --live-system" when it is not.
QString updateScriptText();
QString rollbackScriptText();

// "Orbelle-" + infix + serial; the infix is chosen by the first match in the model:
// "P100" gives "P-", "Q75" gives "Q75-", "Q100" gives "Q100-", anything else none.
QString accessPointName(const QString &model, const QString &serial);

// The visible network names from the output of wifiScanCommand: split at "ESSID:", the
// piece before the first dropped, duplicate pieces removed (compared before trimming, so a
// name's last occurrence, which lacks the following line's indentation, can survive as a
// second entry), each trimmed and its quotes removed. A piece without an opening or a
// closing quote is logged ("ERROR Client::getAvailableWifiNetworks. Missing first/last
// quotation mark") and kept. A hidden network gives an empty name.
QStringList parseWifiScan(const QString &iwlistOutput);

// The connection test's decision from the output of ifconfigCommand, with the decision's
// log lines (the caller logs "Wlan0: \n" and the output itself). False without
// "inet addr:", in access point mode, and for a link-local "inet addr:169" address; true
// otherwise.
bool parseHasConnection(const QString &ifconfigOutput, bool broadcastingDirect);

// Whether a network name and password can go into wpaSupplicantText() unchanged. Refused:
// a double quote, a backslash, a line break or any other control character in either; an
// empty name or one over 32 bytes in UTF-8; a password under 8 or over 63 bytes in UTF-8
// (WPA's pass phrase length, as wpa_supplicant counts it; for ASCII, characters). On
// refusal, *why (when given) says why in words.
bool credentialsAreSafe(const QString &name, const QString &password, QString *why);

// One asterisk per character of the password: what the log shows instead of it.
QString maskedPassword(const QString &password);

} // namespace NetworkConfig
