#include "networkconfig.h"

#include <QDebug>

namespace NetworkConfig {

namespace {

const QChar quote = QLatin1Char('"');

// Control characters (C0, DEL, C1) and the Unicode line and paragraph separators: any of
// them would end or damage a line of a configuration file.
bool isUnsafeCharacter(QChar c)
{
    return c == quote || c == QLatin1Char('\\') || c.category() == QChar::Other_Control || c == QChar::LineSeparator
        || c == QChar::ParagraphSeparator;
}

bool hasUnsafeCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (isUnsafeCharacter(c))
            return true;
    }
    return false;
}

bool refuse(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

} // namespace

QString chmodCommand(const QString &path)
{
    return QStringLiteral("sudo chmod 777 ") + path;
}

QString wpaSupplicantText(const QString &name, const QString &password)
{
    return QStringList {
        QStringLiteral("ctrl_interface=DIR=/var/run/wpa_supplicant GROUP=netdev"),
        QStringLiteral("update_config=1"),
        QStringLiteral("country=GB"),
        QStringLiteral("network={"),
        QStringLiteral("ssid=") + quote + name + quote,
        QStringLiteral("psk=") + quote + password + quote,
        QStringLiteral("proto=WPA RSN"),
        QStringLiteral("key_mgmt=WPA-PSK"),
        QStringLiteral("pairwise=CCMP TKIP"),
        QStringLiteral("auth_alg=OPEN"),
        QStringLiteral("}"),
    }
        .join(QLatin1Char('\n'));
}

QString hostapdText(const QString &accessPointName, const QString &passPhrase)
{
    return QStringList {
        QStringLiteral("interface=wlan0"),
        QString(),
        QStringLiteral("driver=nl80211"),
        QStringLiteral("ssid=") + accessPointName,
        QStringLiteral("hw_mode=g"),
        QStringLiteral("channel=6"),
        QStringLiteral("auth_algs=1"),
        QStringLiteral("ignore_broadcast_ssid=0"),
        QStringLiteral("wpa=2"),
        QStringLiteral("wpa_passphrase=") + passPhrase,
        QStringLiteral("wpa_key_mgmt=WPA-PSK"),
        QStringLiteral("wpa_pairwise=CCMP"),
        QStringLiteral("wpa_group_rekey=86400"),
        QStringLiteral("ieee80211n=1"),
        QStringLiteral("wme_enabled=1"),
    }
        .join(QLatin1Char('\n'));
}

QString interfacesTextAccessPoint()
{
    return QStringList {
        QStringLiteral("iface eth0 inet dhcp"),
        QString(),
        QStringLiteral("auto wlan0"),
        QStringLiteral("iface wlan0 inet static"),
        QStringLiteral("address 192.168.42.1"),
        QStringLiteral("netmask 255.255.255.0"),
    }
        .join(QLatin1Char('\n'));
}

QString interfacesTextClient()
{
    return QStringList {
        QStringLiteral("iface eth0 inet dhcp"),
        QString(),
        QStringLiteral("allow-hotplug wlan0"),
        QStringLiteral("iface wlan0 inet dhcp"),
        QStringLiteral("wpa-conf /etc/wpa_supplicant/wpa_supplicant.conf"),
        QStringLiteral("iface default inet dhcp"),
    }
        .join(QLatin1Char('\n'));
}

// The scripts' last line. Where the vatnode service is installed, the program runs as
// that service: the restart is queued with systemd (--no-block returns at once), which
// stops the running program, this script with it since it runs in the service's group,
// and starts the folder's new "Vatnode". Elsewhere (a printer set up without the
// package) the new program is started here, on the real system.
const char *const restartLine = "if systemctl cat vatnode.service >/dev/null 2>&1; "
                                "then sudo systemctl --no-block restart vatnode; "
                                "else ./Vatnode --live-system; fi";

QString updateScriptText()
{
    return QStringList {
        QStringLiteral("sudo rm Vatnode"),
        QStringLiteral("sudo mv Vatnode_update Vatnode"),
        QStringLiteral("sudo chmod 777 Vatnode"),
        QLatin1String(restartLine),
    }
        .join(QLatin1Char('\n'));
}

QString rollbackScriptText()
{
    return QStringList {
        QStringLiteral("sudo rm Vatnode"),
        QStringLiteral("sudo mv Vatnode_previous Vatnode"),
        QStringLiteral("sudo chmod 777 Vatnode"),
        QLatin1String(restartLine),
    }
        .join(QLatin1Char('\n'));
}

QString accessPointName(const QString &model, const QString &serial)
{
    QString infix;
    if (model.contains(QLatin1String("P100")))
        infix = QStringLiteral("P-");
    else if (model.contains(QLatin1String("Q75")))
        infix = QStringLiteral("Q75-");
    else if (model.contains(QLatin1String("Q100")))
        infix = QStringLiteral("Q100-");
    return QStringLiteral("Orbelle-") + infix + serial;
}

QStringList parseWifiScan(const QString &iwlistOutput)
{
    QStringList pieces = iwlistOutput.split(QStringLiteral("ESSID:"), Qt::KeepEmptyParts);
    pieces.removeFirst();
    pieces.removeDuplicates();

    QStringList names;
    for (const QString &piece : qAsConst(pieces)) {
        QString name = piece.trimmed();
        if (name.startsWith(quote))
            name.remove(0, 1);
        else
            qDebug() << "ERROR Client::getAvailableWifiNetworks. Missing first quotation mark";
        const int last = name.lastIndexOf(quote);
        if (last >= 0)
            name.truncate(last);
        else
            qDebug() << "ERROR Client::getAvailableWifiNetworks. Missing last quotation mark";
        names.append(name);
    }
    return names;
}

bool parseHasConnection(const QString &ifconfigOutput, bool broadcastingDirect)
{
    if (!ifconfigOutput.contains(QLatin1String("inet addr:"))) {
        if (broadcastingDirect)
            qDebug() << "ERROR. hasNetworkConnection. isBroadcastingDirect is true even though "
                        "no network is being broadcast";
        return false;
    }
    if (broadcastingDirect)
        return false;
    if (ifconfigOutput.contains(QLatin1String("inet addr:169"))) {
        qDebug() << "hasNetworkConnection: Network is not valid";
        return false;
    }
    qDebug() << "Wlan0 has wifi connection";
    return true;
}

bool credentialsAreSafe(const QString &name, const QString &password, QString *why)
{
    if (name.isEmpty())
        return refuse(why, QStringLiteral("the network name is empty"));
    if (hasUnsafeCharacter(name))
        return refuse(why,
            QStringLiteral("the network name contains a double quote, a "
                           "backslash, a line break or a control character"));
    if (name.toUtf8().size() > 32)
        return refuse(why, QStringLiteral("the network name is longer than 32 bytes"));
    if (hasUnsafeCharacter(password))
        return refuse(why,
            QStringLiteral("the password contains a double quote, a backslash, "
                           "a line break or a control character"));
    const int passwordBytes = password.toUtf8().size();
    if (passwordBytes < 8 || passwordBytes > 63)
        return refuse(why, QStringLiteral("the password is not 8 to 63 characters long"));
    if (why)
        why->clear();
    return true;
}

QString maskedPassword(const QString &password)
{
    return QString(password.toUcs4().size(), QLatin1Char('*'));
}

} // namespace NetworkConfig
