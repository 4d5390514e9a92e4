#pragma once

#include "printerstate.h"
#include "printjob.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QObject>
#include <QString>
#include <QStringList>

class ClientDevice;
class QTcpServer;

// The desktop's end of the printer link: listens for printers, announces itself by UDP,
// keeps one ClientDevice per connection and turns serial-addressed requests into device
// commands. Meant to live on a thread of its own (moveToThread by the owner); every slot
// and device runs there, and the owner's thread reaches it only through queued calls and
// signals (PrintJob and PrinterState are registered for them at construction). SSH work
// runs on worker threads and reports back queued, so it never holds up the heartbeats.
//
// Terms used here:
//   base port        - the TCP ports tried are base + 1 .. base + 50.
//   discovery target - when set, the announcement goes as one datagram to that address
//                      only, announcing that address (tests and the CLI use 127.0.0.1);
//                      otherwise to the broadcast address from every usable interface.
class Server : public QObject
{
    Q_OBJECT
public:
    explicit Server(QObject *parent = nullptr);
    ~Server() override;

    void setBasePort(int basePort) { m_basePort = basePort; }
    int basePort() const { return m_basePort; }
    void setDiscoveryPort(int port) { m_discoveryPort = port; }
    int discoveryPort() const { return m_discoveryPort; }
    void setDiscoveryTarget(const QHostAddress &target) { m_discoveryTarget = target; }
    QHostAddress discoveryTarget() const { return m_discoveryTarget; }

    // The listening port, 0 when not listening.
    int currentPort() const;
    QList<ClientDevice *> devices() const { return m_devices; }
    // The first device of that serial, or nullptr (logged).
    ClientDevice *getDeviceFromSerial(const QString &serial) const;

    // Stores what sendPrint() sends. Unguarded fields read on the Server's thread: from
    // another thread use sendPrintJob() instead.
    void setPrintJobToSend(const QString &serial, const QString &filePath, const PrintJob &job);

    // Install printer software over SSH as soon as a printer asks for it (the command
    // line's --allow-update); otherwise each install waits for installUpdate().
    void setUpdatesAllowed(bool allowed) { m_updatesAllowed = allowed; }
    bool updatesAllowed() const { return m_updatesAllowed; }

signals:
    void printerConnected(const QString &serial, const QString &nickname, const QString &status);
    void printerDisconnected(const QString &serial);
    void updatePrintProgress(const QString &serial, int layerNum, int percent, int timeLeft, const QString &ssjName,
        const QString &resinName, int layerThickness);
    void pauseCompleted(const QString &serial);
    void pauseStarted(const QString &serial);
    void resumeCompleted(const QString &serial);
    void resumeStarted(const QString &serial);
    void printCancelled(const QString &serial);
    void updatePrintDone(const QString &serial);
    void transmitPrinterError(const QString &serial, int printerError);
    void sendUpdateBytesWritten(qint64 bytesWritten, qint64 totalBytes);
    void sendMessageToGUI(const QString &message);
    // The printer of that serial needs a program update. Unless updates are allowed
    // (setUpdatesAllowed), nothing is installed until installUpdate(serial) is called.
    void updateRequested(const QString &serial);
    // The whole record of one printer, after every change of it (Server's thread; connect
    // queued from other threads). printerDisconnected() ends the printer's records.
    void printerStateChanged(const PrinterState &state);

public slots:
    // Listens if needed, then announces the port.
    void broadcastIP();

    void sendPrint();
    // The job file and its record to the printer of that serial, in one call (safe to
    // queue from another thread, unlike setPrintJobToSend() followed by sendPrint()). The
    // record's image count is the file's layer count when the file can be read.
    void sendPrintJob(const QString &serial, const QString &filePath, const PrintJob &job);
    // The user agreed to install printer software on the printer of that serial (one that
    // asked for it, or needs it); logged and ignored for any other.
    void installUpdate(const QString &serial);
    void pauseJob(const QString &deviceSerial);
    void resumeJob(const QString &deviceSerial);
    void cancelJob(const QString &deviceSerial);
    void changeNickName(const QString &deviceSerial, const QString &newName);
    void reprint(const QString &deviceSerial);
    void manuallyDisconnectPrinter(const QString &deviceSerial);
    void sendPlatformUp(const QString &deviceSerial);
    void sendPlatformDown(const QString &deviceSerial);
    void sendTiltUp(const QString &deviceSerial);
    void sendTiltDown(const QString &deviceSerial);
    void sendNewResinFineTuneFactor(
        const QString &serial, const QString &resinName, int layerThickness, double fineTuneFactor);
    void sendNewResinScalingFactor(
        const QString &serial, const QString &resinName, int layerThickness, double xScale, double yScale);
    void updateResins(const QString &serial, const QString &resinsListAsString);
    void sendNewGParameter(const QString &serial, int newGParameter);
    void sendNewFactoryGParameter(const QString &serial, int newFactoryGParameter);
    void resetGParameter(const QString &serial);
    void sendNetworkedGCommand(const QString &serial);
    void sendProjectGrid(const QString &serial);
    void sendTurnOffProjector(const QString &serial);
    void sendNewSerialAndModel(const QString &oldSerial, const QString &newSerial, const QString &printerModel);
    // Sends nothing: the printer's grayscale grid is not set from the desktop.
    void sendNewGrayscale(const QString &serial, const QString &grayscaleJSONString);
    void sendBoardCommand(const QString &serial, const QString &command);
    void setNetworkInfo(const QString &deviceSerial, const QString &networkName, const QString &networkPassword);
    void sendResetNetworkSettings(const QString &deviceSerial);
    // The printer's settings file and log file, fetched over SSH into location.
    void sendSFTPConfigFile(const QString &deviceSerial, const QString &downloadLocation);
    QStringList getResinDataAsStringList(const QString &deviceSerial) const;

private slots:
    void connectionMade();
    void socketError(QAbstractSocket::SocketError error);
    void socketAliveTimedOut();
    void deviceProtocolError();

private:
    bool ensureListening();
    void broadcastHostAddressOnNetworkInterface(
        const QHostAddress &hostAddress, const QNetworkInterface &networkInterface);
    void sendDatagram(const QHostAddress &from, const QHostAddress &to, const QString &announced);
    void dropDevice(ClientDevice *device, const char *reason, bool announce = true);

    int m_basePort = 50500;
    int m_discoveryPort = 49958;
    QHostAddress m_discoveryTarget;
    QTcpServer *m_tcpServer = nullptr;
    QList<ClientDevice *> m_devices;
    PrintJob m_job;
    QString m_jobFilePath;
    QString m_targetSerial;
    bool m_updatesAllowed = false;
};
