#pragma once

#include "printjob.h"
#include "resin.h"
#include "sshlink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QTcpSocket;
class QTimer;

// The desktop's session with one connected printer.
//
// Terms used here:
//   legacy printer - a printer that sends its messages as raw frames (UTF-8, no length
//                    prefix); the device answers it the same way. Decided by the buffered
//                    bytes until the first message has been handled, then fixed.
//   job stream     - header (Protocol::jobStreamHeader) and the job file's bytes, written in
//                    chunks of Protocol::kChunkBytes, each chunk queued when the previous
//                    one was accepted by the socket.
//   time scale     - factor applied to the heartbeat intervals; 1.0 in the program, smaller
//                    in tests so that a time-out takes milliseconds instead of 15 s.
class ClientDevice : public QObject
{
    Q_OBJECT
public:
    enum Status { Ready = 0, Printing = 1, Paused = 2 };

    static inline const QString updateNotice
        = QStringLiteral("A new update is available for your Orbelle. In order to update, a restart is "
                         "required. Please finish the current print, then re-open Tessora to proceed.");

    // Takes ownership of the connected socket and sends the greeting at once.
    explicit ClientDevice(QTcpSocket *socket, QObject *parent = nullptr);
    ~ClientDevice() override;

    // Multiplies both heartbeat intervals of devices whose handshake happens afterwards.
    static void setTimeScale(double scale);
    static double timeScale();

    // How printers are reached over SSH for program updates and file downloads; the
    // environment's settings unless set (SshSettings).
    static void setSshSettings(const SshSettings &settings);
    static SshSettings sshSettings();
    // The printer program and its install script uploaded by an update; by default
    // "Vatnode" and "VatnodeUpdateScript" next to the desktop program.
    static void setUpdateFiles(const QString &programPath, const QString &scriptPath);
    static QString updateProgramPath();
    static QString updateScriptPath();

    // The desktop's default resin list: the common default list, "White" with 5/10/15 s.
    static QList<Resin> desktopDefaultResinList();
    // A printer error number in words; an unknown number gives "unknown printer error N".
    static QString errorText(int errorNum);

    QTcpSocket *socket() const { return m_socket; }
    QString serial() const { return m_serial; }
    QString nickname() const { return m_nickname; }
    QString model() const { return m_model; }
    double version() const { return m_version; }
    Status status() const { return m_status; }
    QString statusName() const;
    bool isPrinting() const { return m_status != Ready; }
    bool is75MicronModel() const { return m_model.contains(QLatin1String("75")); }
    bool isLegacyPrinter() const { return m_legacy; }
    bool isHandshakeCompleted() const { return m_handshakeCompleted; }
    bool isWritingFile() const { return m_writingFile; }
    int gParameter() const { return static_cast<int>(m_gParameter); }
    bool isGParameterReset() const { return m_gParameterReset; }
    QStringList wifiNames() const { return m_wifiNames; }
    QList<Resin> resins() const { return m_resins; }
    QStringList resinDataAsStringList() const;
    bool hasResin(const QString &name) const;
    Resin getResinFromName(const QString &name) const;
    // 0 until the printer reported an error.
    int lastErrorNumber() const { return m_lastError; }
    QString lastErrorText() const { return errorText(m_lastError); }
    int lastLayer() const { return m_lastLayer; }
    int lastPercent() const { return m_lastPercent; }
    int lastTimeLeft() const { return m_lastTimeLeft; }

    // Commands: one message each (see the message names in the source).
    void setJobFilePath(const QString &path) { m_jobFilePath = path; }
    QString jobFilePath() const { return m_jobFilePath; }
    void sendPrintJob(const PrintJob &job);
    void sendPause();
    void sendResume();
    void sendCancel();
    void sendReprint();
    void setPrinting() { m_status = Printing; }
    void setReady() { m_status = Ready; }
    void sendNewNickname(const QString &nickname);
    void sendPlatformUp();
    void sendPlatformDown();
    void sendTiltUp();
    void sendTiltDown();
    void sendResetNetwork();
    void sendQaGCommand();
    void sendProjectGrid();
    void sendTurnOffProjector();
    void sendNewGParameter(int value);
    void sendNewFactoryGParameter(int value);
    void sendResetGParameter();
    void sendBoardCommand(const QString &command);
    void sendNewSerialAndModel(const QString &serial, const QString &model);
    // The password never reaches the log in clear.
    void sendNetworkInfo(const QString &name, const QString &password);

    // Resin edits; each ends in sendResins(). A printer below version 4.4 gets nothing.
    bool sendResins(const QList<Resin> &resins);
    bool updateFineTuneFactor(const QString &resinName, int layerThickness, double factor);
    bool updateResinScale(const QString &resinName, int layerThickness, double xScale, double yScale);
    bool replaceResins(const QString &listText);

    // Installs the update files on the printer over SSH and runs the install script; on
    // success signals broadcastIP() so that the restarted printer finds the desktop again.
    // Blocks for the whole upload. A failure is logged and told through sendMessageToGUI.
    bool sendUpdatedClientPayload();
    // Fetches the printer's settings file and log file over SSH into location (created
    // when missing) as "OrbelleConfig" and "LogFileOB". Blocks; failures as above.
    bool downloadPrinterFiles(const QString &location);
    // The address the printer is reached at over SSH.
    QString sshHost() const;

    // Closes the socket without a signal (the Server's manual disconnect).
    void closeConnection();

    void processMessage(const QString &message);
    void sendSerializedString(const QString &message);
    void sendUnserializedString(const QString &message);

signals:
    void printDoneGUI();
    void printProgressGUI(
        int layer, int percent, int timeLeft, const QString &ssjName, const QString &resinName, int layerThickness);
    void pauseCompleted();
    void resumeCompleted();
    void pauseStarted();
    void resumeStarted();
    void printCancelled();
    void sendMessageToGUI(const QString &message);
    void handshakeCompleted(
        const QString &printerSerial, const QString &printerNickName, const QString &printingStatus);
    void transmit_receivedPrinterError(int errorNum);
    // The heartbeat time-out closed the connection.
    void socketAliveTimedOut();
    // The printer broke the framing (absurd frame length); the connection is closed.
    void protocolError();
    void broadcastIP();
    void sendBytesWritten(qint64 numBytesWritten, qint64 totalBytesToWrite);
    // The printer's program is outside the accepted version window (handshake while ready,
    // or "Request_Update"): the program update over SSH belongs here.
    void updateRequested(const QString &serial);

public slots:
    void readClientMessage();
    void bytesWereWritten(qint64 numBytes);
    void sendConnectionHeartbeatMessage();
    void connectionHeartbeatTimedOut();

private:
    bool isMessageUnserialized();
    void readUnserializedMessage();
    void readSerializedMessages();
    void handleHandshake(const QStringList &fields);
    void startHeartbeat();
    void stopHeartbeat();
    void restartHeartbeatTimeout();
    void restartHeartbeatSend();
    void sendSSJHeaders();
    void finishFile();
    QString loggable(const QString &message) const;

    QTcpSocket *m_socket = nullptr;
    Status m_status = Ready;
    bool m_framingDecided = false;
    bool m_legacy = false;
    bool m_handshakeCompleted = false;
    double m_version = 0.0;
    std::unique_ptr<QTimer> m_heartbeatTimeout;
    std::unique_ptr<QTimer> m_heartbeatSend;
    QString m_model;
    QString m_nickname = QStringLiteral("hello");
    QString m_serial;
    QString m_jobFilePath;
    bool m_writingFile = false;
    PrintJob m_job;
    QStringList m_wifiNames;
    QList<Resin> m_resins;
    double m_gParameter = 0.0;
    bool m_gParameterReset = false;
    QElapsedTimer m_sincePrintDone;
    int m_lastLayer = 0;
    int m_lastPercent = 0;
    int m_lastTimeLeft = -1;
    int m_lastError = 0;
    QFile m_localFile;
    qint64 m_totalBytes = 0;
    qint64 m_bytesWritten = 0;
    qint64 m_bytesToWrite = 0;
};
