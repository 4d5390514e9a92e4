#pragma once

#include "grayscalegrid.h"
#include "printjob.h"
#include "resin.h"

#include <QAbstractSocket>
#include <QImage>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class JobStreamReceiver;
class PrinterErrorWatchdog;
class PrinterSettings;
class PrintingThread;
class ImageProvider;
class QQuickView;
class QTcpSocket;
class QThread;
class QTimer;
class QUdpSocket;
class SSJ;
class Terminal;

// The full-screen view and its image provider, created by main() for the whole
// process; the session projects through them.
extern QQuickView *view;
extern ImageProvider *imageProvider;

// What the printer program was started with, read by the session that the
// projection scene creates.
struct ClientOptions {
    QString serialPort; // names the board's port; empty: discover it
    QString framesDir; // save every projected frame here; empty: do not
    QString printFile; // print this job from disk without a desktop
    QString jobFields; // the ten fields of the job's exposure line
    int discoveryPort = 49958;
    QString systemRoot; // below which system files are written in simulation
    bool liveSystem = false;
    bool allowNetworkUpdate = false; // accept a program sent over the connection
};

// The printer's session: owns the board link, the printing thread, the error
// watchdog, the desktop connection, the settings, the grayscale grid, the
// resin list, the front button and the self-update. Created by the projection
// scene as the QML type "ImageClient" (module "MyClient" 1.0).
//
// The desktop is found by its UDP announcement; the printer then connects to
// it over TCP, answers its greeting with a handshake, and from then on
// exchanges framed messages (and receives jobs as a byte stream).
class Client : public QObject
{
    Q_OBJECT

public:
    // Read state of the desktop connection.
    enum ReadState {
        AwaitingGreeting = 0,
        Ready = 1,
        ReceivingJob = 3,
        ReceivingUpdate = 4,
    };

    explicit Client(QObject *parent = nullptr);
    ~Client() override;

    static void setOptions(const ClientOptions &options);
    static const ClientOptions &options();

    // Boards of the older generation: the model contains "OLD".
    static bool boardIsOldVersion;
    static bool isBoardRetrofitVersion() { return boardIsOldVersion; }

    Terminal *terminal() const { return m_terminal; }
    PrintingThread *printingThread() const { return m_printingThread; }
    double globalScaleX() const { return m_globalScaleX; }
    double globalScaleY() const { return m_globalScaleY; }
    int framesSaved() const { return m_framesSaved; }
    bool isConnected() const { return m_connected; }
    int readState() const { return m_readState; }
    QString serial() const { return m_serial; }
    QString nickname() const { return m_nickname; }
    QString model() const { return m_model; }
    QList<Resin> resins() const { return m_resins; }
    const GrayscaleGrid &grayscaleGrid() const { return m_grid; }
    QStringList wifiNames() const { return m_wifiNames; }
    // The status name the printer reports: printing from the start of a print until its
    // final movement is reported done (or the print is aborted), paused while the
    // printing thread is paused, ready otherwise.
    QString getPrintThreadStatus() const;

    // Takes the connection to a desktop once it is made (the announcement's connect does
    // this; tests and the fuzz target hand over a socket of their own): the session owns
    // it from now on and waits for the greeting on it.
    void adoptConnection(QTcpSocket *socket);
    bool printActive() const { return m_printActive; }

    static constexpr double version = 4.51;
    static const QString settingsFileName; // "Tessora_Client_Config"
    static const QString jobFileName; // "MySSJFile.ssj"
    static const QString updateFileName; // "Vatnode_update"
    static const QString previousProgramFileName; // "Vatnode_previous"

public slots:
    // Protocol.
    void socketError(QAbstractSocket::SocketError error);
    void receivedNetworkMessage();
    void processMessage(const QString &message);
    void processDatagram();
    void receiveFile();
    void receiveUpdatedClient();
    void sendString(const QString &message);
    void sendConnectionAliveMessage();
    void connectionAliveTimedOut();

    // Projection.
    void projectImage(QImage image);
    void setGlobalScale(double scaleX, double scaleY);

    // Reports.
    void sendCurrentPrintProgress(int layerNum, int percent, int timeLeft);
    void sendPrintDone();
    void sendMessagePauseDone();
    void sendMessageResumeDone();
    void printingErrorDetected(int errorNum);
    // Tells the desktop that `request` (a message name) was not carried out, and why.
    void refuseRequest(const QString &request, const QString &reason);
    // From the printing thread.
    void printStatusChanged(int status);
    void printAborted();

    // Board.
    void doneWithFMovement();
    void printerUSBConnected();
    void resetPlatformAndTankOnBootup();
    void resetPlatformAndTank();
    void movePlatformUp_Start();
    void movePlatformDown_Start();
    void tiltTankUp_Start();
    void tiltTankDown_Start();
    void movePlatformUp_Stop();
    void movePlatformDown_Stop();
    void tiltTankUp_Stop();
    void tiltTankDown_Stop();
    void turnOnMotors();
    void screenCountChanged();

    // Operating system.
    void rebootPi();
    void shutdownPi();
    void refreshNetwork_ifdown_ifup();

    // Front button.
    void buttonPressReceived();
    void buttonReleaseReceived();
    void shutDownFromButtonTimeout();
    void buttonMultiPressTimeout();

signals:
    void sendRunPrintJob(PrintJob *job, SSJ *ssj);
    void sendRunPrintJob_noTilt(PrintJob *job, SSJ *ssj);
    void pausePrint();
    void resumePrint();
    void cancelPrint();

private:
    // Construction.
    void setUpFrontButton();
    void readOrCreateSettings();
    void setPrintingThreadConnections();

    // Protocol.
    void connectToServerViaDatagram(const QString &ip, int port);
    void readHandshake();
    void readSerializedMessage();
    void handleUnserializedMessage();
    void handleGreeting();
    void greetingTimedOut();
    void startKeepAliveTimers();
    void resetConnectionHeartbeatTimer();
    void closeConnection();

    // The dispatcher of the desktop's messages: a table of the message names.
    struct Route;
    static const QVector<Route> &routes();
    void dispatch(const QString &message);
    void acceptJobLine(const QString &message);
    void acceptUpdateOffer();
    void projectCalibration(bool white);
    void setGrayscaleChunk(const QString &message);
    void resetGParameterToFactory();
    void runBoardCommand(const QString &message);
    void setGParameter(const QString &digits, bool factory);

    // Requests that would disturb a print. busyReason() is empty when nothing would be
    // disturbed: no print is active and no stream is being received.
    QString busyReason() const;
    // When busy: logs "NOTICE. <method>. Refused while printing: ...", refuses the request
    // and returns true.
    bool refuseWhileBusy(const char *method, const QString &request);
    void sendRefusal(const QString &request, const QString &reason);
    // Sends "Send_PrintStatus" when the reported status name changed.
    void reportStatus();

    // Jobs and reports.
    void processPrintJob(const QString &message);
    void resetFileTransferVariables();
    void limitStreamReadBuffer(bool streaming);
    void loadReceivedJobAndPrint();
    void runPrintThread(PrintJob *job, SSJ *ssj);
    void reprint();
    void sendGrayscaleGridInChunks();

    // Data from the desktop.
    void processSentResinData(const QString &message);
    void processNewNickname(const QString &message);
    void processNewSerialAndModel(const QString &message);
    void processSentNetworkData(const QString &message);

    // Settings and network.
    void writeInitialSettings();
    void readSettingsFromFile();
    void readResinsFromDisk();
    bool storeSetting(const QString &key, const QVariant &value);
    // Stores a value the desktop sent; when the file cannot take it, the desktop gets a
    // refusal of `request` and false.
    bool storeOrRefuse(const QString &request, const QString &key, const QVariant &value);
    void saveNetworkInfo(const QString &name, const QString &password, const QString &type);
    void saveDirectNetworkSettings(const QString &name, const QString &passPhrase);
    QString determineDirectNetworkName() const;
    void setNetworkInterfacesToDirect();
    void setNetworkInterfacesToWPA();
    void deployDirectNetwork();
    void forceDeployDirectNetwork();
    void disableDirectNetwork();
    bool hasNetworkConnection();
    bool hasEthernetConnection() const { return false; }
    QStringList getAvailableWifiNetworks();
    // Blinks, darkens the projector and reboots a second later; `request` names what
    // asked for it, for a refusal.
    void runRefreshNetwork(const QString &request);

    // Update and rollback.
    void runUpdateScript();
    void rollbackToPreviousClient();
    void createRollbackClientScript();
    // Writes the script (and makes it executable) unless it already holds exactly text.
    void writeScript(const QString &script, const QString &text);

    // Projection and the print from disk.
    void showImage(const QImage &image);
    void saveFrame();
    void startPrintFromFile();
    void endPrintFromFile(int exitCode, const QString &message);

    // Identity.
    QString m_serial;
    QString m_nickname;
    QString m_model = QStringLiteral("OBP100V1");

    // Owned parts.
    Terminal *m_terminal = nullptr;
    PrinterErrorWatchdog *m_watchdog = nullptr;
    PrintingThread *m_printingThread = nullptr;
    QThread *m_printingQThread = nullptr;
    std::unique_ptr<PrinterSettings> m_settings;

    // Connection.
    QTcpSocket *m_socket = nullptr;
    QUdpSocket *m_udpSocket = nullptr;
    QTimer *m_heartbeatTimeoutTimer = nullptr;
    QTimer *m_heartbeatSendTimer = nullptr;
    QTimer *m_greetingTimer = nullptr;
    int m_readState = AwaitingGreeting;
    bool m_connected = false;
    bool m_legacyCheckArmed = false;
    std::unique_ptr<JobStreamReceiver> m_receiver;

    // Jobs.
    PrintJob m_currentJob;
    PrintJob m_lastJob;
    bool m_haveLastJob = false;
    QString m_receivedFileName = QStringLiteral("NOFILE");
    int m_lastLayer = 0;
    int m_lastPercent = 0;
    int m_lastTimeLeft = 0;
    bool m_endOfPrintTiltPending = false;
    bool m_printActive = false; // from a print's start to its final movement's end
    int m_threadStatus = 5; // the printing thread's status as it last reported it (idle)
    QString m_reportedStatus; // the status name last told to the desktop
    QString m_rebootRequest; // what asked for the pending reboot

    // Settings.
    bool m_enableResinSettleTime = false;
    int m_resinSettleTime = 2000000;
    bool m_isBroadcastingDirect = false;
    QList<Resin> m_resins;
    GrayscaleGrid m_grid;
    QStringList m_wifiNames;

    // Front button.
    QTimer *m_longPressTimer = nullptr;
    QTimer *m_multiPressTimer = nullptr;
    bool m_shuttingDown = false;
    int m_pressCount = 0;
    bool m_pauseInProgress = false;

    // Projection and the print from disk.
    double m_globalScaleX = 1.0;
    double m_globalScaleY = 1.0;
    int m_framesSaved = 0;
    QQueue<QImage> m_pendingImages;
    bool m_projecting = false;
    bool m_printFileStarted = false;
    bool m_printFileEnded = false;
    QTimer *m_boardWaitTimer = nullptr;
};
