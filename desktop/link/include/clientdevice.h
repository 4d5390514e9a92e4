#pragma once

#include "printerstate.h"
#include "printjob.h"
#include "resin.h"
#include "sshlink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
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
//   time scale     - TimeScale's factor, applied to the heartbeat intervals of devices
//                    whose handshake happens afterwards; 1.0 in the program, smaller in
//                    tests so that a time-out takes milliseconds instead of 15 s.
//   record         - what the desktop knows of the printer (PrinterState), published whole
//                    by stateChanged() after every change once the handshake completed.
//   waiting commands - from the job line until the job stream's last byte was written,
//                    every other command waits in a queue (a frame inside the stream would
//                    corrupt the job) and goes out in order when the transfer ends or the
//                    job is refused. A second job is refused meanwhile.
//   SSH work       - program updates and file downloads run on a worker thread, never on
//                    the device's own thread, whose heartbeat and sockets go on meanwhile;
//                    the outcome comes back queued (sshWorkFinished, sendMessageToGUI).
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

    // How printers are reached over SSH for program updates and file downloads; the
    // environment's settings unless set (SshSettings).
    static void setSshSettings(const SshSettings &settings);
    static SshSettings sshSettings();
    // The printer program and its install script uploaded by an update; by default
    // "Vatnode" and "VatnodeUpdateScript" next to the desktop program, or where the
    // package installs them (<prefix>/lib/tessora).
    static void setUpdateFiles(const QString &programPath, const QString &scriptPath);
    static QString updateProgramPath();
    static QString updateScriptPath();
    // A file the desktop delivers to printers, for a desktop program in programDir: next
    // to it (the build folder), else in the installed layout's <prefix>/lib/tessora. When
    // neither holds it, where it was expected: the installed place if that folder exists.
    static QString deliveredFile(const QString &programDir, const QString &fileName);

    // The desktop's default resin list: the common default list, "White" with 5/10/15 s.
    static QList<Resin> desktopDefaultResinList();
    // A printer error number in words; an unknown number gives "unknown printer error N".
    static QString errorText(int errorNum);

    QTcpSocket *socket() const { return m_socket; }
    const PrinterState &state() const { return m_state; }
    QString serial() const { return m_state.serial; }
    QString nickname() const { return m_state.nickname; }
    QString model() const { return m_state.model; }
    double version() const { return m_state.version; }
    // The status in the old three values, from the activity: Pausing and Paused give
    // Paused, every other activity but Ready gives Printing.
    Status status() const;
    QString statusName() const;
    bool isPrinting() const { return m_state.isBusy(); }
    bool is75MicronModel() const { return m_state.is75MicronModel(); }
    bool isLegacyPrinter() const { return m_legacy; }
    bool isHandshakeCompleted() const { return m_handshakeCompleted; }
    // The handshake stopped because the printer's program needs an update; the connection
    // is kept (with its heartbeat) until the update is installed or the printer goes.
    bool isAwaitingUpdate() const { return m_awaitingUpdate; }
    // The printer asked for an update (or needs one) and none was installed since.
    bool isUpdateRequested() const { return m_updateRequested; }
    bool isSshWorkRunning() const { return m_sshWorkRunning; }
    bool isWritingFile() const { return m_writingFile; }
    int waitingCommands() const { return m_waiting.size(); }
    int gParameter() const { return m_state.gParameter; }
    bool isGParameterReset() const { return m_state.gParameterReset; }
    QStringList wifiNames() const { return m_state.wifiNames; }
    QList<Resin> resins() const { return m_state.resins; }
    QStringList resinDataAsStringList() const;
    bool hasResin(const QString &name) const { return m_state.hasResin(name); }
    Resin getResinFromName(const QString &name) const { return m_state.resin(name); }
    // 0 until the printer reported an error.
    int lastErrorNumber() const { return m_state.lastError; }
    QString lastErrorText() const { return errorText(m_state.lastError); }
    int lastLayer() const { return m_state.layer; }
    int lastPercent() const { return m_state.percent; }
    int lastTimeLeft() const { return m_state.timeLeft; }

    // Commands: one message each (messages.h).
    void setJobFilePath(const QString &path) { m_jobFilePath = path; }
    QString jobFilePath() const { return m_jobFilePath; }
    // Opens the job file first: a file that cannot be opened sends nothing and is told to
    // the user (false). So is a job asked for while another one is being sent.
    bool sendPrintJob(const PrintJob &job);
    void sendPause();
    void sendResume();
    void sendCancel();
    void sendReprint();
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
    // The password never reaches the log in clear. A name or password holding the
    // message marker or "Send_NetworkInfo" cannot be read back by any printer: refused
    // (told to the user, false).
    bool sendNetworkInfo(const QString &name, const QString &password);

    // Resin edits; each ends in sendResins(). A printer below version 4.4 gets nothing.
    bool sendResins(const QList<Resin> &resins);
    bool updateFineTuneFactor(const QString &resinName, int layerThickness, double factor);
    bool updateResinScale(const QString &resinName, int layerThickness, double xScale, double yScale);
    bool replaceResins(const QString &listText);

    // Installs the update files on the printer over SSH (on a worker) and runs the install
    // script; on success signals broadcastIP() so that the restarted printer finds the
    // desktop again. The printer's SSH key must be the one known for its serial
    // (KnownPrinterKeys). False when the work could not start (files missing, SSH work
    // already running); every failure is logged and told through sendMessageToGUI.
    bool sendUpdatedClientPayload();
    // Fetches the printer's settings file and log file over SSH (on a worker) into
    // location (created when missing) as "OrbelleConfig" and "LogFileOB". Same key check
    // and reporting as above.
    bool downloadPrinterFiles(const QString &location);
    // The address the printer is reached at over SSH.
    QString sshHost() const;

    // Closes the socket without a signal (the Server's manual disconnect).
    void closeConnection();

    void processMessage(const QString &message);
    // Waits in the queue while a job is being sent (see above).
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
    // The desktop closed the connection itself (a job file that could not be read to its
    // end: the printer drops the partial job and reconnects).
    void connectionClosed();
    void broadcastIP();
    void sendBytesWritten(qint64 numBytesWritten, qint64 totalBytesToWrite);
    // The printer's program is outside the accepted version window (handshake while ready,
    // or "Request_Update"): the program update over SSH belongs here.
    void updateRequested(const QString &serial);
    // The record changed (after the handshake only).
    void stateChanged(const PrinterState &state);
    // SSH work (update or download) ended; the failure itself went to sendMessageToGUI.
    void sshWorkFinished(bool ok);

public slots:
    void readClientMessage();
    void bytesWereWritten(qint64 numBytes);
    void sendConnectionHeartbeatMessage();
    void connectionHeartbeatTimedOut();

private:
    struct SshOutcome {
        bool ok = false;
        QString message; // for the user, on failure
    };

    // The dispatcher of the printer's messages: a table of the message names.
    using Handler = void (*)(ClientDevice &device, const QStringList &fields);
    static const QHash<QString, Handler> &handlers();

    bool isMessageUnserialized();
    void readUnserializedMessage();
    void readSerializedMessages();
    void handleHandshake(const QStringList &fields);
    void handleProgress(const QStringList &fields);
    void handlePrintDone();
    void handlePrintingError(int errorNum);
    void handleStatusReport(const QString &status);
    void handleRefusal(const QStringList &fields);
    void handlePauseDone();
    void handleResumeDone();
    void handleButton(PrinterState::Activity activity);
    void publish();
    void beginPrint(const QString &jobName);
    PrinterState::Outcome endingOutcome() const;
    void restorePrint();
    void abandonJob();
    bool deferWhileSending(std::function<void()> command);
    void releaseWaitingCommands();
    void writeMessage(const QString &message);
    void runSshWork(std::function<SshOutcome()> work, std::function<void()> onSuccess = {});
    void startHeartbeat();
    void stopHeartbeat();
    void restartHeartbeatTimeout();
    void restartHeartbeatSend();
    void sendSSJHeaders();
    void streamJob();
    void finishTransfer();
    void dropConnection();
    void finishFile();
    QString printerName() const;
    QString loggable(const QString &message) const;

    QTcpSocket *m_socket = nullptr;
    PrinterState m_state;
    PrinterState m_beforeJob; // the print fields before the job or reprint in flight
    bool m_cancelAsked = false; // during the current print
    bool m_framingDecided = false;
    bool m_legacy = false;
    bool m_handshakeCompleted = false;
    bool m_awaitingUpdate = false;
    bool m_updateRequested = false;
    bool m_sshWorkRunning = false;
    std::unique_ptr<QTimer> m_heartbeatTimeout;
    std::unique_ptr<QTimer> m_heartbeatSend;
    QString m_jobFilePath;
    bool m_jobAwaitingTransfer = false; // job line sent, the printer has not asked yet
    bool m_writingFile = false;
    QList<std::function<void()>> m_waiting;
    PrintJob m_job;
    QElapsedTimer m_sincePrintDone;
    QFile m_localFile;
    qint64 m_jobFileSize = 0;
    qint64 m_totalBytes = 0;
    qint64 m_bytesWritten = 0;
    qint64 m_bytesToWrite = 0;
    qint64 m_publishedBytes = 0;
};
