#include "server.h"

#include "clientdevice.h"
#include "crushedprintjob.h"
#include "protocol.h"
#include "timescale.h"

#include <QDebug>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

namespace {

// The layer count of a job file, read with a job object of its own: the process-wide SSJ
// holder belongs to the window's thread. -1 when the file cannot be read.
int layerCountOf(const QString &path)
{
    CrushedPrintJob job;
    QFile file(path);
    if (!job.loadCPJ(&file)) {
        qDebug() << "ERROR. Server::sendPrintJob. Could not read the job file" << path << job.errorString();
        return -1;
    }
    return job.getTotalLayers();
}

} // namespace

Server::Server(QObject *parent)
    : QObject(parent)
{
    // Both travel through queued connections between the Server's thread and the window's.
    qRegisterMetaType<PrintJob>("PrintJob");
    qRegisterMetaType<PrinterState>("PrinterState");
}

Server::~Server()
{
    qDeleteAll(m_devices);
}

int Server::currentPort() const
{
    return m_tcpServer && m_tcpServer->isListening() ? m_tcpServer->serverPort() : 0;
}

bool Server::ensureListening()
{
    if (!m_tcpServer) {
        m_tcpServer = new QTcpServer(this);
        connect(m_tcpServer, &QTcpServer::newConnection, this, &Server::connectionMade);
    }
    if (m_tcpServer->isListening())
        return true;
    int port = m_basePort + 1;
    for (; port <= m_basePort + 50; ++port) {
        if (port > 65535)
            break;
        if (m_tcpServer->listen(QHostAddress::Any, static_cast<quint16>(port)))
            return true;
    }
    qDebug() << "ERROR. Server.cpp constructor. Failed to find an open port after checking 50 "
                "of them. CurPort: "
             << port - 1;
    return false;
}

void Server::broadcastIP()
{
    if (!ensureListening())
        return;
    if (!m_discoveryTarget.isNull()) {
        sendDatagram(QHostAddress::AnyIPv4, m_discoveryTarget, m_discoveryTarget.toString());
        return;
    }
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &networkInterface : interfaces) {
        const QList<QNetworkAddressEntry> entries = networkInterface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress address = entry.ip();
            QTimer::singleShot(500, this, [this, address, networkInterface] {
                broadcastHostAddressOnNetworkInterface(address, networkInterface);
            });
        }
    }
}

void Server::broadcastHostAddressOnNetworkInterface(
    const QHostAddress &hostAddress, const QNetworkInterface &networkInterface)
{
    if (hostAddress.isLoopback() || hostAddress.protocol() != QAbstractSocket::IPv4Protocol
        || hostAddress.toString().startsWith(QLatin1String("169")))
        return;
    QUdpSocket socket;
    if (!socket.bind(hostAddress, 0)) {
        qDebug() << "ERROR. Server::broadcastHostAddressOnNetworkInterface. Bind failed:" << hostAddress.toString()
                 << socket.errorString();
        return;
    }
    socket.setMulticastInterface(networkInterface);
    socket.writeDatagram(Protocol::datagram(hostAddress.toString(), currentPort()), QHostAddress::Broadcast,
        static_cast<quint16>(m_discoveryPort));
    qDebug() << "Server.cpp. Broadcasting IP:" << hostAddress.toString() << " Data port: " << currentPort();
}

void Server::sendDatagram(const QHostAddress &from, const QHostAddress &to, const QString &announced)
{
    QUdpSocket socket;
    if (!socket.bind(from, 0)) {
        qDebug() << "ERROR. Server::sendDatagram. Bind failed:" << socket.errorString();
        return;
    }
    socket.writeDatagram(Protocol::datagram(announced, currentPort()), to, static_cast<quint16>(m_discoveryPort));
    qDebug() << "Server.cpp. Announcing IP:" << announced << " Data port: " << currentPort() << "to" << to.toString();
}

void Server::connectionMade()
{
    qDebug() << "Connection Made. TCP Server Thread: " << m_tcpServer->thread();
    while (QTcpSocket *socket = m_tcpServer->nextPendingConnection()) {
        auto *device = new ClientDevice(socket, this);
        m_devices.append(device);
        connect(device, &ClientDevice::printDoneGUI, this, [this, device] { emit updatePrintDone(device->serial()); });
        connect(device, &ClientDevice::stateChanged, this, &Server::printerStateChanged);
        connect(device, &ClientDevice::printProgressGUI, this,
            [this, device](
                int layer, int percent, int timeLeft, const QString &ssjName, const QString &resinName, int thickness) {
                emit updatePrintProgress(device->serial(), layer, percent, timeLeft, ssjName, resinName, thickness);
            });
        connect(device, &ClientDevice::handshakeCompleted, this,
            [this, device](const QString &serial, const QString &nickname, const QString &status) {
                qDebug() << "Server::clientDeviceHandshakeCompleted";
                // A printer that lost power comes back under its serial before its old
                // connection has timed out: the new connection replaces the old one, which
                // would otherwise take its commands and, when it times out, report the
                // printer gone.
                const QList<ClientDevice *> devices = m_devices;
                for (ClientDevice *other : devices) {
                    if (other != device && other->serial() == serial) {
                        other->closeConnection();
                        dropDevice(other,
                            "Server::clientDeviceHandshakeCompleted. Replacing the earlier connection of serial: ",
                            false);
                    }
                }
                emit printerConnected(serial, nickname, status);
            });
        connect(device, &ClientDevice::sendBytesWritten, this, &Server::sendUpdateBytesWritten);
        connect(device, &ClientDevice::pauseCompleted, this, [this, device] { emit pauseCompleted(device->serial()); });
        connect(
            device, &ClientDevice::resumeCompleted, this, [this, device] { emit resumeCompleted(device->serial()); });
        connect(device, &ClientDevice::pauseStarted, this, [this, device] { emit pauseStarted(device->serial()); });
        connect(device, &ClientDevice::resumeStarted, this, [this, device] { emit resumeStarted(device->serial()); });
        connect(device, &ClientDevice::printCancelled, this, [this, device] { emit printCancelled(device->serial()); });
        connect(device, &ClientDevice::sendMessageToGUI, this, &Server::sendMessageToGUI);
        connect(device, &ClientDevice::transmit_receivedPrinterError, this,
            [this, device](int errorNum) { emit transmitPrinterError(device->serial(), errorNum); });
        connect(device, &ClientDevice::updateRequested, this, [this, device](const QString &serial) {
            emit updateRequested(serial);
            if (m_updatesAllowed)
                device->sendUpdatedClientPayload();
        });
        connect(device, &ClientDevice::socketAliveTimedOut, this, &Server::socketAliveTimedOut);
        connect(device, &ClientDevice::protocolError, this, &Server::deviceProtocolError);
        connect(device, &ClientDevice::connectionClosed, this, &Server::deviceProtocolError);
        connect(device, &ClientDevice::broadcastIP, this, &Server::broadcastIP);
        connect(socket, &QAbstractSocket::errorOccurred, this, &Server::socketError);
        // The heartbeat starts with the handshake: a connection that never completes one
        // is dropped after the heartbeat's time-out instead of staying forever. One that
        // waits for the user's word on an update has its heartbeat and stays.
        QTimer::singleShot(qMax(1, TimeScale::ms(Protocol::kHeartbeatTimeoutMs)), device, [this, device] {
            if (m_devices.contains(device) && !device->isHandshakeCompleted() && !device->isAwaitingUpdate()) {
                device->closeConnection();
                dropDevice(device, "Server::connectionMade. No handshake in time. Dropping the connection.", false);
            }
        });
    }
}

void Server::dropDevice(ClientDevice *device, const char *reason, bool announce)
{
    const QString serial = device->serial();
    qDebug() << reason << serial;
    m_devices.removeAll(device);
    device->socket()->disconnect(this);
    device->disconnect(this);
    // The device may be inside its own signal: destroy it once that has returned.
    device->deleteLater();
    // Only a printer that was announced as connected is announced as gone.
    if (announce && device->isHandshakeCompleted())
        emit printerDisconnected(serial);
}

void Server::socketAliveTimedOut()
{
    auto *device = qobject_cast<ClientDevice *>(sender());
    if (device && m_devices.contains(device))
        dropDevice(device, "Server::socketAliveTimedOut. Serial: ");
}

// The device closed its connection itself (broken framing, an unreadable job file).
void Server::deviceProtocolError()
{
    auto *device = qobject_cast<ClientDevice *>(sender());
    if (device && m_devices.contains(device))
        dropDevice(device, "Server::deviceProtocolError. Dropping device. Serial: ");
}

void Server::socketError(QAbstractSocket::SocketError error)
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    for (ClientDevice *device : qAsConst(m_devices)) {
        if (device->socket() == socket) {
            qDebug() << "Server::socketError." << error;
            device->closeConnection();
            dropDevice(device, "Server::socketError. Dropping device. Serial: ");
            return;
        }
    }
    qDebug() << "ERROR. Server:getDevice. No device was found with that socket";
}

ClientDevice *Server::getDeviceFromSerial(const QString &serial) const
{
    for (ClientDevice *device : m_devices) {
        if (device->serial() == serial)
            return device;
    }
    qDebug() << "ERROR. Server::getDeviceFromSerial. Device with Serial not found. Serial Num: " << serial;
    return nullptr;
}

void Server::setPrintJobToSend(const QString &serial, const QString &filePath, const PrintJob &job)
{
    m_targetSerial = serial;
    m_jobFilePath = filePath;
    m_job = job;
}

void Server::sendPrint()
{
    sendPrintJob(m_targetSerial, m_jobFilePath, m_job);
}

void Server::sendPrintJob(const QString &serial, const QString &filePath, const PrintJob &job)
{
    ClientDevice *device = getDeviceFromSerial(serial);
    if (!device)
        return;
    PrintJob record = job;
    const int layers = layerCountOf(filePath);
    if (layers >= 0)
        record.numImages = layers;
    else
        qDebug() << "ERROR. Server::sendPrintJob. The image count stays" << record.numImages;
    device->setJobFilePath(filePath);
    device->sendPrintJob(record);
}

void Server::installUpdate(const QString &serial)
{
    for (ClientDevice *device : qAsConst(m_devices)) {
        if (device->serial() == serial && device->isUpdateRequested()) {
            qDebug() << "Server::installUpdate. Serial:" << serial;
            device->sendUpdatedClientPayload();
            return;
        }
    }
    qDebug() << "ERROR. Server::installUpdate. No printer of that serial asks for an update. Serial Num: " << serial;
}

void Server::pauseJob(const QString &deviceSerial)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendPause();
}

void Server::resumeJob(const QString &deviceSerial)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendResume();
}

void Server::sendSFTPConfigFile(const QString &deviceSerial, const QString &downloadLocation)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->downloadPrinterFiles(downloadLocation);
}

void Server::cancelJob(const QString &deviceSerial)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendCancel();
}

void Server::changeNickName(const QString &deviceSerial, const QString &newName)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendNewNickname(newName);
}

void Server::reprint(const QString &deviceSerial)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendReprint();
}

void Server::manuallyDisconnectPrinter(const QString &deviceSerial)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial)) {
        d->closeConnection();
        dropDevice(d, "Server::manuallyDisconnectPrinter. Serial: ");
    }
}

void Server::sendPlatformUp(const QString &deviceSerial)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendPlatformUp();
}

void Server::sendPlatformDown(const QString &deviceSerial)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendPlatformDown();
}

void Server::sendTiltUp(const QString &deviceSerial)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendTiltUp();
}

void Server::sendTiltDown(const QString &deviceSerial)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendTiltDown();
}

void Server::sendNewResinFineTuneFactor(
    const QString &serial, const QString &resinName, int layerThickness, double fineTuneFactor)
{
    if (ClientDevice *d = getDeviceFromSerial(serial))
        d->updateFineTuneFactor(resinName, layerThickness, fineTuneFactor);
}

void Server::sendNewResinScalingFactor(
    const QString &serial, const QString &resinName, int layerThickness, double xScale, double yScale)
{
    if (ClientDevice *d = getDeviceFromSerial(serial))
        d->updateResinScale(resinName, layerThickness, xScale, yScale);
}

void Server::updateResins(const QString &serial, const QString &resinsListAsString)
{
    if (ClientDevice *d = getDeviceFromSerial(serial))
        d->replaceResins(resinsListAsString);
}

void Server::sendNewGParameter(const QString &serial, int newGParameter)
{
    if (ClientDevice *d = getDeviceFromSerial(serial))
        d->sendNewGParameter(newGParameter);
}

void Server::sendNewFactoryGParameter(const QString &serial, int newFactoryGParameter)
{
    if (ClientDevice *d = getDeviceFromSerial(serial))
        d->sendNewFactoryGParameter(newFactoryGParameter);
}

void Server::resetGParameter(const QString &serial)
{
    if (ClientDevice *d = getDeviceFromSerial(serial))
        d->sendResetGParameter();
}

void Server::sendNetworkedGCommand(const QString &serial)
{
    if (ClientDevice *d = getDeviceFromSerial(serial))
        d->sendQaGCommand();
}

void Server::sendProjectGrid(const QString &serial)
{
    if (ClientDevice *d = getDeviceFromSerial(serial))
        d->sendProjectGrid();
}

void Server::sendTurnOffProjector(const QString &serial)
{
    if (ClientDevice *d = getDeviceFromSerial(serial))
        d->sendTurnOffProjector();
}

void Server::sendNewSerialAndModel(const QString &oldSerial, const QString &newSerial, const QString &printerModel)
{
    if (ClientDevice *d = getDeviceFromSerial(oldSerial))
        d->sendNewSerialAndModel(newSerial, printerModel);
}

void Server::sendNewGrayscale(const QString &serial, const QString &grayscaleJSONString)
{
    Q_UNUSED(serial)
    Q_UNUSED(grayscaleJSONString)
}

void Server::sendBoardCommand(const QString &serial, const QString &command)
{
    if (ClientDevice *d = getDeviceFromSerial(serial))
        d->sendBoardCommand(command);
}

void Server::setNetworkInfo(const QString &deviceSerial, const QString &networkName, const QString &networkPassword)
{
    qDebug() << "Server::setNetworkInfo. DeviceSerial: " << deviceSerial << " networkName: " << networkName
             << " password: " << QString(networkPassword.size(), QLatin1Char('*'));
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendNetworkInfo(networkName, networkPassword);
}

void Server::sendResetNetworkSettings(const QString &deviceSerial)
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        d->sendResetNetwork();
}

QStringList Server::getResinDataAsStringList(const QString &deviceSerial) const
{
    if (ClientDevice *d = getDeviceFromSerial(deviceSerial))
        return d->resinDataAsStringList();
    return {};
}
