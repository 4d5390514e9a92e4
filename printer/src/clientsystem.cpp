// The session's settings, network set-up, front button, self-update and
// rollback. Every command and system file goes through SystemActions.
#include "client.h"

#include "messages.h"
#include "networkconfig.h"
#include "printersettings.h"
#include "printingthread.h"
#include "systemactions.h"
#include "terminal.h"
#include "timescale.h"

#include <QDebug>
#include <QFile>
#include <QThread>
#include <QTimer>

// ---- Network ----------------------------------------------------------------

void Client::saveNetworkInfo(const QString &name, const QString &password, const QString &type)
{
    qDebug() << "Client::saveNetworkInfo. Name: " << name << " pass: " << NetworkConfig::maskedPassword(password)
             << " type: " << type;
    // A name or password that would break the configuration file would cut
    // the printer off its network after the reboot: refused, nothing changes.
    QString why;
    if (!NetworkConfig::credentialsAreSafe(name, password, &why)) {
        qDebug() << "ERROR. Client::saveNetworkInfo. Network settings refused: " << why;
        sendRefusal(QLatin1String(Message::kNetworkInfo), why);
        return;
    }
    if (!SystemActions::writeFile(
            QLatin1String(NetworkConfig::wpaSupplicantPath), NetworkConfig::wpaSupplicantText(name, password))) {
        qDebug() << "ERROR. Client::saveNetworkInfo - could not write to file " << NetworkConfig::wpaSupplicantPath;
        return;
    }
    setNetworkInterfacesToWPA();
}

QString Client::determineDirectNetworkName() const
{
    return NetworkConfig::accessPointName(m_model, m_serial);
}

void Client::saveDirectNetworkSettings(const QString &name, const QString &passPhrase)
{
    if (!SystemActions::writeFile(
            QLatin1String(NetworkConfig::hostapdPath), NetworkConfig::hostapdText(name, passPhrase)))
        qDebug() << "ERROR. Client::saveDirectNetworkSettings - could not write to file " << NetworkConfig::hostapdPath;
}

void Client::setNetworkInterfacesToDirect()
{
    // A mode change ends in a reboot: never during a print, whatever asked for it.
    if (refuseWhileBusy("Client::setNetworkInterfacesToDirect", QLatin1String(Message::kResetNetwork)))
        return;
    if (!SystemActions::writeFile(
            QLatin1String(NetworkConfig::interfacesPath), NetworkConfig::interfacesTextAccessPoint())) {
        qDebug() << "ERROR. Client::setNetworkInterfacesToDirect - could not write to file "
                 << NetworkConfig::interfacesPath;
        sendRefusal(QLatin1String(Message::kResetNetwork), QStringLiteral("The network settings could not be written"));
        return;
    }
    if (!storeOrRefuse(QLatin1String(Message::kResetNetwork), QStringLiteral("broadcastingDirect"), true))
        return;
    SystemActions::run(QLatin1String(NetworkConfig::enableHostapdCommand));
    runRefreshNetwork(QLatin1String(Message::kResetNetwork));
}

void Client::setNetworkInterfacesToWPA()
{
    if (refuseWhileBusy("Client::setNetworkInterfacesToWPA", QLatin1String(Message::kNetworkInfo)))
        return;
    if (!SystemActions::writeFile(
            QLatin1String(NetworkConfig::interfacesPath), NetworkConfig::interfacesTextClient())) {
        qDebug() << "ERROR. Client::setNetworkInterfacesToWPA - could not write to file "
                 << NetworkConfig::interfacesPath;
        sendRefusal(QLatin1String(Message::kNetworkInfo), QStringLiteral("The network settings could not be written"));
        return;
    }
    if (!storeOrRefuse(QLatin1String(Message::kNetworkInfo), QStringLiteral("broadcastingDirect"), false))
        return;
    SystemActions::run(QLatin1String(NetworkConfig::disableHostapdCommand));
    runRefreshNetwork(QLatin1String(Message::kNetworkInfo));
}

void Client::runRefreshNetwork(const QString &request)
{
    m_rebootRequest = request;
    m_terminal->blinkLED(20, 100);
    m_terminal->turnOffProjector();
    QTimer::singleShot(TimeScale::ms(1000), this, &Client::rebootPi);
}

void Client::deployDirectNetwork()
{
    qDebug() << "Client::deployDirectNetwork. Is broadcasting:" << (m_isBroadcastingDirect ? "true" : "false");
    if (!m_isBroadcastingDirect)
        setNetworkInterfacesToDirect();
}

void Client::forceDeployDirectNetwork()
{
    setNetworkInterfacesToDirect();
}

void Client::disableDirectNetwork()
{
    if (m_isBroadcastingDirect)
        setNetworkInterfacesToWPA();
}

bool Client::hasNetworkConnection()
{
    QThread::msleep(static_cast<unsigned long>(TimeScale::ms(3000)));
    const QString output = SystemActions::run(QLatin1String(NetworkConfig::ifconfigCommand));
    qDebug().noquote() << "Wlan0: \n" + output;
    return NetworkConfig::parseHasConnection(output, m_isBroadcastingDirect);
}

QStringList Client::getAvailableWifiNetworks()
{
    return NetworkConfig::parseWifiScan(SystemActions::run(QLatin1String(NetworkConfig::wifiScanCommand)));
}

void Client::rebootPi()
{
    // A print may have started in the second before the reboot: it goes on, and the
    // new network set-up waits for the next start.
    if (refuseWhileBusy("Client::rebootPi", m_rebootRequest.isEmpty() ? QStringLiteral("Reboot") : m_rebootRequest))
        return;
    qDebug() << "rebootPi.Settings broadcasting value: "
             << m_settings->value(QStringLiteral("broadcastingDirect")).toString();
    SystemActions::run(QLatin1String(NetworkConfig::rebootCommand));
}

void Client::shutdownPi()
{
    SystemActions::run(QLatin1String(NetworkConfig::shutdownCommand));
}

void Client::refreshNetwork_ifdown_ifup()
{
    qDebug() << "Client::refreshNetwork_ifdown_ifup. Start";
    const QString script = QLatin1String(NetworkConfig::refreshScriptPath);
    if (!SystemActions::exists(script)) {
        SystemActions::writeFile(script, QLatin1String(NetworkConfig::refreshScriptText));
        SystemActions::run(NetworkConfig::chmodCommand(script));
    }
    SystemActions::startDetached(script);
    qDebug() << "Client::refreshNetwork_ifdown_ifup. Done";
}

// ---- Front button -----------------------------------------------------------

void Client::buttonPressReceived()
{
    if (m_shuttingDown)
        return;
    m_longPressTimer->start();
    m_multiPressTimer->stop();
    ++m_pressCount;
}

void Client::buttonReleaseReceived()
{
    const int interval = m_longPressTimer->interval();
    const int remaining = m_longPressTimer->isActive() ? m_longPressTimer->remainingTime() : 0;
    qDebug() << "Client::buttonReleaseReceived. Time passed: " << interval - remaining << "interval:" << interval
             << " Remaining: " << remaining;
    m_longPressTimer->stop();
    if (!m_shuttingDown)
        m_multiPressTimer->start();
}

void Client::shutDownFromButtonTimeout()
{
    m_terminal->cutoffPowerIn30Seconds();
    m_shuttingDown = true;
    m_terminal->turnOffMotors();
    m_terminal->turnOffProjector();
    QTimer::singleShot(TimeScale::ms(1000), this, &Client::shutdownPi);
    m_longPressTimer->stop();
    m_multiPressTimer->stop();
}

void Client::buttonMultiPressTimeout()
{
    if (m_shuttingDown)
        return;
    const int count = m_pressCount;
    m_pressCount = 0;
    const int status = m_printingThread->status();
    qDebug() << "Button multi press timeout. Count: " << count << "pt status: " << getPrintThreadStatus();
    if (count == 1) {
        if (status == PrintingThread::Printing) {
            qDebug() << "ButtonMulti. Pause";
            emit pausePrint();
            sendString(QLatin1String(Message::kPausePrint));
            m_pauseInProgress = true;
        } else if ((status == PrintingThread::Paused || status == PrintingThread::PausedAfterReset)
            && !m_pauseInProgress) {
            qDebug() << "ButtonMulti. Resume";
            emit resumePrint();
            sendString(QLatin1String(Message::kResumePrint));
        } else {
            qDebug() << "ButtonMulti. Ignore";
        }
    } else if (count == 3) {
        sendString(QLatin1String(Message::kCancelPrint));
        emit cancelPrint();
    } else if (count == 5) {
        if (!refuseWhileBusy("Client::buttonMultiPressTimeout", QLatin1String(Message::kResetNetwork)))
            forceDeployDirectNetwork();
    } else if (count >= 7) {
        // The rollback restarts the program: never in the middle of a print.
        if (!refuseWhileBusy("Client::buttonMultiPressTimeout", QStringLiteral("Rollback")))
            rollbackToPreviousClient();
    } else {
        qDebug() << "ERROR. Client::buttonMultiPressTimeout. Num multi presses is: " << count;
    }
}

// ---- Update and rollback ----------------------------------------------------

void Client::runUpdateScript()
{
    const QString script = QLatin1String(NetworkConfig::updateScriptPath);
    writeScript(script, NetworkConfig::updateScriptText());
    SystemActions::startDetached(script);
}

void Client::rollbackToPreviousClient()
{
    qDebug() << "Client::rollbackToPreviousClient";
    if (!QFile::exists(previousProgramFileName)) {
        qDebug() << "ERROR - Client::rollbackToPreviousClient. Previous client does not exist";
        return;
    }
    storeSetting(QStringLiteral("resinData"), QLatin1String(NetworkConfig::rollbackResinList));
    createRollbackClientScript();
    SystemActions::startDetached(QLatin1String(NetworkConfig::rollbackScriptPath));
}

void Client::createRollbackClientScript()
{
    writeScript(QLatin1String(NetworkConfig::rollbackScriptPath), NetworkConfig::rollbackScriptText());
}

// A script left by an earlier version of this program (one that restarted the new program
// in simulation, say) is replaced: the one run is always this version's text.
void Client::writeScript(const QString &script, const QString &text)
{
    QFile existing(SystemActions::path(script));
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == text.toUtf8())
        return;
    existing.close();
    SystemActions::writeFile(script, text);
    SystemActions::run(NetworkConfig::chmodCommand(script));
}

// ---- Settings ---------------------------------------------------------------

void Client::writeInitialSettings()
{
    PrinterSettingsValues values;
    values.serial = m_serial;
    values.nickname = m_nickname;
    values.model = m_model;
    m_settings->writeInitial(values);
    boardIsOldVersion = m_model.contains(QLatin1String("OLD"), Qt::CaseInsensitive);
    m_terminal->setRetrofitBoard(boardIsOldVersion);
    m_isBroadcastingDirect = true;
    // The initial resin list is the default one.
    m_resins = Resin::defaultResinList();
    storeSetting(QStringLiteral("resinData"), Resin::toString(m_resins));
}

void Client::readSettingsFromFile()
{
    PrinterSettingsValues values;
    values.serial = m_serial;
    values.nickname = m_nickname;
    values.model = m_model;
    values.enableResinSettleTime = m_enableResinSettleTime;
    values.resinSettleTime = m_resinSettleTime;
    m_settings->read(values);
    m_serial = values.serial;
    m_nickname = values.nickname;
    m_isBroadcastingDirect = values.broadcastingDirect;
    m_enableResinSettleTime = values.enableResinSettleTime;
    m_resinSettleTime = values.resinSettleTime;
    m_model = values.model;
    boardIsOldVersion = m_model.contains(QLatin1String("OLD"), Qt::CaseInsensitive);
    m_terminal->setRetrofitBoard(boardIsOldVersion);
    if (!values.gParameter.isEmpty()) {
        // Only a whole number makes a G parameter the board understands.
        bool ok = false;
        values.gParameter.mid(1).toInt(&ok);
        if (ok && values.gParameter.startsWith(QLatin1Char('g')))
            Terminal::g_param = values.gParameter;
        else
            qDebug() << "ERROR. Client::readSettingsFromFile. Stored G parameter ignored: " << values.gParameter;
    }
    readResinsFromDisk();
}

void Client::readResinsFromDisk()
{
    if (!m_settings->contains(QStringLiteral("resinData"))) {
        qDebug() << "Client::readResinsFromDisk - Error. No resinData";
        m_resins.clear();
    } else {
        m_resins = Resin::fromString(m_settings->value(QStringLiteral("resinData")).toString());
    }
    qDebug() << "Client::readResinsFromDisk. Num resins: " << m_resins.size();
    for (const Resin &resin : qAsConst(m_resins))
        resin.printInfo();
}

bool Client::storeSetting(const QString &key, const QVariant &value)
{
    if (m_settings->setValue(key, value))
        return true;
    qDebug() << "ERROR. Client::storeSetting. Could not store " << key;
    return false;
}

bool Client::storeOrRefuse(const QString &request, const QString &key, const QVariant &value)
{
    if (storeSetting(key, value))
        return true;
    // The settings file stays as it was: so does the printer, and the desktop is told.
    sendRefusal(request, QStringLiteral("The printer could not store it: its storage is full or cannot be written"));
    return false;
}
