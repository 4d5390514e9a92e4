#pragma once

#include "printjob.h"
#include "resin.h"

#include <QImage>
#include <QList>
#include <QQueue>
#include <QQuickItem>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>
#include <QWindow>

#include <QPointer>

#include <memory>

class JobFileViewer;
class PrinterListModel;
class ResinFineTune;
class Server;
class SliceImageProvider;
class TetheredPrint;
class TetheredPrinter;
struct PrinterState;

// The object through which the user interface reaches everything outside the 3D editor:
// connected printers, print jobs, resin lists and their calibration, a printer's compression
// (G) parameter and network settings, the job viewer and the quality-assurance tools.
//
// Terms used here:
//   list A / list B  - the built-in resin catalogue for printers of 100 and of 75 micron
//                      pixels (a printer whose model text contains "75"); both start as the
//                      same profiles and live in memory only.
//   mode's list      - list B while the 75-micron mode is set, else list A; used wherever
//                      no printer is named.
//   local profile    - a profile of list A or B: the exposure settings of a print.
//   printer's resin  - the profile of that name in the printer's own resin list, or a
//                      default profile "ResinERROR": the calibration factors of a print.
//   root functions   - "projectSlice", "advanceSliceStage", "advancePrintStage" and
//                      "setSelectedPrinter" of the user interface's root object; without a
//                      root object (no QML engine) the calls do nothing.
//
// The controller creates and owns the desktop Server and runs it on a thread of its own, so
// that slicing or supports in the window never starve a printer's heartbeat. The two meet
// only through queued signals and slots: what the controller knows of a printer is the last
// record the Server published (printers(), a PrinterListModel), never the device session
// itself. At construction the environment may point the Server's discovery announcement and
// ports elsewhere: TESSORA_DISCOVERY_TARGET (an address; the announcement then goes to it
// only, and an unusable one means 127.0.0.1, never a broadcast), TESSORA_DISCOVERY_PORT and
// TESSORA_BASE_PORT; TESSORA_TIME_SCALE multiplies the heartbeat's timers, as
// `tessora-cli --time-scale` does. The desktop announces itself 200 ms after start and every
// 5 s from then on, so that a printer switched on later finds it.
//
// Two parts live in classes of their own, the controller forwarding the pages' calls to them:
// the job viewer (JobFileViewer) and the calibration of a printer's resins (ResinFineTune).
//
// A printer tethered to this computer (its projector a screen of this computer, its board on
// this computer's USB) prints through TetheredPrint: printTethered() moves the page's
// projection window (projectionWindow) to the projector's screen and shows it full-screen;
// each frame reaches it through projectSlice(), the progress through updatePrinting() and
// printCompleted(); pausePrint(), resumePrint() and cancelPrint() act on it while it runs.
//
// A print is handed over in two steps: printSSJ() decides the job line (PrintRule) and
// queues it; 100 ms later delaySendPrintOverNetwork() hands file and line to the Server in one
// queued call.
class MyGLWidget : public QQuickItem
{
    Q_OBJECT
    // The connected printers (a PrinterListModel), for every page that shows printers.
    Q_PROPERTY(QObject *printers READ printers CONSTANT)
    // The page's window for the tethered printer's projector: frameless, black, showing the
    // "colors" provider's second image; shown only while a tethered print runs.
    Q_PROPERTY(QWindow *projectionWindow READ projectionWindow WRITE setProjectionWindow NOTIFY projectionWindowChanged)
    // What the tethered print does (TetheredPrint::stateName): "idle", "waiting", "printing",
    // "pausing", "paused", "resuming" or "cancelling".
    Q_PROPERTY(QString tetheredState READ tetheredState NOTIFY tetheredStateChanged)
public:
    explicit MyGLWidget(QQuickItem *parent = nullptr);
    ~MyGLWidget() override;

    // The owned Server, living on its own thread (tests reach it with queued calls).
    Server *server() const { return m_server; }
    QObject *printers() const;
    PrinterListModel *printerList() const { return m_printers.get(); }
    // How often the desktop announces itself (5000 ms unless set).
    void setAnnounceInterval(int ms) { m_announceTimer.setInterval(ms); }
    QList<Resin> resinListA() const { return m_resinListA; }
    QList<Resin> resinListB() const { return m_resinListB; }
    QString selectedPrinter() const { return m_selectedPrinter; }
    QString jobPath() const { return m_jobPath; }
    int jobLayerThickness() const { return m_jobLayerThickness; }
    double exposureFactor() const { return m_exposureFactor; }
    bool is75MicronMode() const { return m_is75MicronMode; }
    // The image the job viewer or the projection showed last (the "colors" provider's second
    // image); kept also when no QML engine holds the provider.
    QImage lastShownImage() const { return m_lastShownImage; }
    QWindow *projectionWindow() const { return m_projectionWindow; }
    void setProjectionWindow(QWindow *window);
    QString tetheredState() const;
    // The tethered printer's runner (tests follow its frames).
    TetheredPrinter *tetheredPrinter() const;

    // The words the user is shown for a printer error number.
    static QString printerErrorMessage(int printerError);

    // ---- printing and jobs
    // The job line by the print rule (PrintRule::jobForPrint): exposure from the local
    // profile, calibration factors from the printer's resin. Sends nothing, and tells the user
    // (sendMessagePopup), when the file cannot be read or the rule refuses the job.
    Q_INVOKABLE void printSSJ(const QString &printerSerial, const QString &filePath, const QString &materialName);
    Q_INVOKABLE int requestSSJThickness(const QString &ssjFile);
    Q_INVOKABLE int requestSSJResolution(const QString &ssjFile);
    Q_INVOKABLE int requestSSJPrintTime(const QString &ssjFile, const QString &deviceSerial, const QString &resinName);
    // Measures the resin a job file cures, in millilitres (JobVolume, for the pixel size it
    // was sliced for), on a worker thread: every layer is decoded, seconds for a large grey
    // job. ssjVolumeMeasured tells the result, -1 when the file cannot be read.
    Q_INVOKABLE void requestSSJVolume(const QString &ssjFile);
    // A resin's price per litre, as a plain number ("" for none); kept in the settings, one
    // key per resin name. Typed in the user's locale or with a point; anything but a number
    // above 0 removes it.
    Q_INVOKABLE QString resinPricePerLitre(const QString &resinName) const;
    Q_INVOKABLE void setResinPricePerLitre(const QString &resinName, const QString &price);
    // The anti-aliasing level the save and print dialogs offer first: 0 smoothed edges, 2, 4
    // or 8 sub-rows per pixel (GenSlices::Settings::supersampling); remembered in the settings.
    Q_INVOKABLE int antiAliasingLevel() const;
    Q_INVOKABLE void setAntiAliasingLevel(int subRows);
    // The printer's time for the print (PrintTimeEstimate), to the nearest minute; -1 when the
    // resin does not offer the thickness (or it is not 20, 50 or 100).
    Q_INVOKABLE int getPrintTime(
        int thickness, double maxModelHeight, const QString &deviceSerial, const QString &resinName);
    // From the printer's last record: whatever it does but waiting for a job.
    Q_INVOKABLE bool isPrinterBusy(const QString &serialNum);
    Q_INVOKABLE bool isPrinter75Microns(const QString &serialNum);
    Q_INVOKABLE void setTo75Microns();
    Q_INVOKABLE void setTo100Microns();
    Q_INVOKABLE void setScreen(QWindow *projectionWindow, int screenNum);
    // Also pause, resume or cancel the tethered print while one runs.
    Q_INVOKABLE void pausePrint();
    Q_INVOKABLE void resumePrint();
    Q_INVOKABLE void cancelPrint();
    // Prints the job on the tethered printer: projector on screen `screenNum` of this computer,
    // board on `serialPort` (empty: found as the printer finds it), exposure from `resinName` of
    // the mode's list, the pixel size of the 75-micron mode. True when the print started;
    // otherwise nothing is started and the user is told why (sendMessagePopup): a screen this
    // computer does not have or that shows this window, a print already running, a job the
    // print rule refuses.
    Q_INVOKABLE bool printTethered(
        const QString &filePath, const QString &resinName, int screenNum, const QString &serialPort);
    // The screen and serial port of the last tethered print that started, remembered in the
    // settings: "screen" (1, the second screen, until then) and "serialPort" ("": found).
    Q_INVOKABLE QVariantMap tetheredPrinterSettings() const;

    // ---- job viewer
    // "1" with layer 0 shown; "n/a" (viewer closed, user told) for a file that cannot be shown.
    Q_INVOKABLE QString setSSJViewerPath(const QString &ssjPath);
    Q_INVOKABLE void clearSSJViewerPath();
    Q_INVOKABLE QString requestNextSSJViewerImage();
    Q_INVOKABLE QString requestPrevSSJViewerImage();
    Q_INVOKABLE QString requestSSJViewerImage(double sliderVal);
    Q_INVOKABLE QString requestTotalSlicesSSJViewer();
    // The layer of that number (counted from 1), and the layer of an island of the list below.
    Q_INVOKABLE QString requestSSJViewerLayer(int layerNumber);
    Q_INVOKABLE QString requestSSJViewerIsland(int islandIndex);
    // "Layer 120 of 400 - 6.00 mm" for the layer shown (JobFileViewer::layerText).
    Q_INVOKABLE QString requestSSJViewerLayerText();
    // The open job's islands (JobFileViewer::islandList), and whether they are drawn red.
    Q_INVOKABLE QVariantList requestSSJViewerIslands();
    Q_INVOKABLE void setSSJViewerIslandsShown(bool shown);

    // ---- a freshly sliced job, before it is saved or sent
    // A new path for a job of that file name, in a folder of its own under the temporary
    // folder, where a job waits for the user's answer to the island warning.
    Q_INVOKABLE QString scratchJobPath(const QString &fileName);
    // Moves the job to the destination (replacing a file there) and removes its folder.
    Q_INVOKABLE bool keepScratchJob(const QString &scratchPath, const QString &destination);
    Q_INVOKABLE void discardScratchJob(const QString &scratchPath);
    // Checks the job for islands and cavities; when there are any, emits islandsFound and
    // answers true.
    Q_INVOKABLE bool warnOfIslands(const QString &jobPath);

    // ---- resins and calibration
    Q_INVOKABLE QStringList getResinNames();
    Q_INVOKABLE QStringList getResinNames(const QString &printerSerial);
    Q_INVOKABLE QStringList getResinDataAsStringList();
    // The same of the list for that printer's model (the mode's list for an unknown printer).
    Q_INVOKABLE QStringList getResinDataAsStringList(const QString &printerSerial);
    // Replaces the mode's list by groups of 7 entries (name, a20, a50, a100, c20, c50, c100); a
    // profile of the same name keeps its other settings. Characters that would break a resin
    // list or a message ("*", "!", ",") become spaces in names.
    Q_INVOKABLE void saveResinCureTimes(const QVariantList &resinData);
    // The same into the list for that printer's model (the mode's list for an unknown printer).
    Q_INVOKABLE void saveResinCureTimes(const QVariantList &resinData, const QString &printerSerial);
    Q_INVOKABLE void setNumResinAdhesionLayers(int numLayers);
    Q_INVOKABLE void setResinExposureFactor(double exposureFactor);
    Q_INVOKABLE bool wasResinCalibrated(const QString &deviceSerial, const QString &resinName, int layerThickness);
    // The printer's saved factors of that resin and thickness, from its last record:
    // "scaleX", "scaleY", "fineTune" (1 for an unknown printer, resin or thickness).
    Q_INVOKABLE QVariantMap resinFactors(const QString &deviceSerial, const QString &resinName, int layerThickness);
    Q_INVOKABLE void setResinFineTuneFactor(
        const QString &deviceSerial, const QString &resinName, int layerThickness, double fineTuneFactor);
    Q_INVOKABLE void modifyResinFineTuneFactor(
        const QString &deviceSerial, const QString &resinName, int layerThickness, double fineTuneFactorChange);
    Q_INVOKABLE void setResinScalingFactor(const QString &deviceSerial, const QString &resinName, int layerThickness,
        double xScalingFactor, double yScalingFactor);
    Q_INVOKABLE void modifyResinScalingFactor(const QString &deviceSerial, const QString &resinName, int layerThickness,
        double xScalingFactorMultiplier, double yScalingFactorMultiplier);
    Q_INVOKABLE void runFineTunePrint_tolerance(
        const QString &printerSerial, const QString &resinName, int layerThickness);
    Q_INVOKABLE void runFineTunePrint_dimensions(
        const QString &printerSerial, const QString &resinName, int layerThickness);

    // ---- compression (G) parameter
    Q_INVOKABLE bool isGParameterDetermined(const QString &printerSerial);
    Q_INVOKABLE int getGParameter(const QString &printerSerial);
    Q_INVOKABLE void modifyPrinterGParameter(const QString &deviceSerial, int newGParameter);
    Q_INVOKABLE void resetPrinterGParameter(const QString &deviceSerial);
    Q_INVOKABLE void setFactoryGParameter(const QString &deviceSerial, int newFactoryGParameter);

    // ---- printers and network
    Q_INVOKABLE QStringList getPrinterSerialsAndNames();
    Q_INVOKABLE QString getPrinterNicknameFromSerial(const QString &deviceSerial);
    Q_INVOKABLE void setSelectedPrinter(const QString &printerSerial);
    Q_INVOKABLE QStringList getPrinterNetworkList(const QString &printerSerial);
    Q_INVOKABLE QString getPrinterAdhocIP(const QString &printerSerial);
    Q_INVOKABLE QString getPrinterWifiNetworkIP(const QString &printerSerial);
    Q_INVOKABLE QString getPrinterEthernetIP(const QString &printerSerial);
    Q_INVOKABLE QString isPrinterConnectedOnAdhoc();
    Q_INVOKABLE void networking_sendNewNetwork(
        const QString &printerSerial, const QString &newNetworkName, const QString &newNetworkPassword);
    Q_INVOKABLE void resetPrinterNetworkSettings(const QString &printerSerial);
    Q_INVOKABLE void broadcastIPFromQML();
    Q_INVOKABLE void manage_pauseJob(const QString &serial);
    Q_INVOKABLE void manage_resumeJob(const QString &serial);
    Q_INVOKABLE void manage_cancelJob(const QString &serial);
    Q_INVOKABLE void manage_reprint(const QString &serial);
    Q_INVOKABLE void manage_disconnectPrinter(const QString &serial);
    Q_INVOKABLE void manage_changeNickName(const QString &serial, const QString &nickName);
    Q_INVOKABLE void boardCommand(const QString &printerSerial, const QString &command);
    Q_INVOKABLE void qa_sendSerialAndModel(const QString &oldSerial, const QString &newSerial, const QString &newModel);
    Q_INVOKABLE QString getGrayscaleGrid(const QString &printerSerial);
    Q_INVOKABLE void setGrayscaleGrid(const QString &printerSerial, const QString &grayscaleJSONString);
    // The user agreed to the software update the printer asked for (printerUpdateRequested).
    Q_INVOKABLE void installPrinterUpdate(const QString &printerSerial);

    // ---- quality assurance and information
    Q_INVOKABLE int getTessoraQALevel() const { return m_qaLevel; }
    Q_INVOKABLE int getQALevelForUsers() const { return 0; }
    Q_INVOKABLE int getQALevelForDistributors() const { return 1; }
    Q_INVOKABLE int getQALevelForDevelopment() const { return 2; }
    Q_INVOKABLE QString getTessoraVersion() const { return m_versionText; }

public slots:
    // A printer's whole record (Server::printerStateChanged).
    void updatePrinterState(const PrinterState &state);
    // A printer needs a software update: the user is asked first (printerUpdateRequested).
    void receiveUpdateRequest(const QString &serial);
    void printerConnected_networked(const QString &serial, const QString &nickname, const QString &status);
    void printerDisconnected_networked(const QString &serial);
    void updatePrintProgress_network(const QString &serial, int layerNum, int percent, int timeLeft,
        const QString &ssjName, const QString &resinName, int layerThickness);
    void updatePrintDone_network(const QString &serial);
    void receivePauseCompleted(const QString &serial);
    void receiveResumeCompleted(const QString &serial);
    void receivePauseStarted(const QString &serial);
    void receiveResumeStarted(const QString &serial);
    void receivePrintCancelled(const QString &serial);
    void network_printerErrorReceived(const QString &serial, int printerError);
    // Byte counts are 64-bit, as the device session counts them.
    void updateNetworkBytesWritten(qint64 bytesWritten, qint64 totalBytes);
    void receiveMessageForGUI(const QString &message);
    void delayBroadcastIPSlot();
    void delaySendPrintOverNetwork();
    void savePrinterNickname(const QString &printerSerial, const QString &printerNickname);
    void movePlatformUp(const QString &printerSerial);
    void movePlatformDown(const QString &printerSerial);
    void moveTankUp(const QString &printerSerial);
    void moveTankDown(const QString &printerSerial);
    void sftpConfigFile(const QString &printerSerial);
    void networkedProjectGrid();
    void networkedTurnOffProjector();
    void networkedGCommand();
    void projectSlice(const QImage &sliceImage);
    void updateSliceProgress(int slicePercent);
    void updatePrinting(int layerNum, int printPercent, int timeLeft);
    void printCompleted();
    void updatePrinterConnectedStatus(bool isConnected);
    void openSaveSSJDialog();
    // The same, proposing a file name made from the models' names (JobFiles).
    void openSaveSSJDialog(const QStringList &modelPaths);

signals:
    // ---- to the Server
    void sendPlatformUp(const QString &serial);
    void sendPlatformDown(const QString &serial);
    void sendTankUp(const QString &serial);
    void sendTankDown(const QString &serial);
    void sendPrintJob(const QString &serial, const QString &filePath, const PrintJob &job);
    void sendInstallUpdate(const QString &serial);
    void sendNewNickname(const QString &serial, const QString &newNickname);
    void sendChangeNickName_networking(const QString &serial, const QString &nickName);
    void sendNetworkSettings(const QString &serial, const QString &networkName, const QString &networkPassword);
    void sendResetNetworkSettings(const QString &serial);
    void sendSFTPConfigFile(const QString &serial, const QString &fileLocation);
    void sendNetworkedGCommand(const QString &serial);
    void sendProjectGrid(const QString &serial);
    void sendTurnOffProjector(const QString &serial);
    void sendNewSerialAndModel(const QString &oldSerial, const QString &newSerial, const QString &printerModel);
    void sendNewGrayscale(const QString &serial, const QString &grayscaleJSONString);
    void sendNewGParameter(const QString &serial, int newGParameter);
    void sendNewFactoryGParameter(const QString &serial, int newFactoryGParameter);
    void resetGParameter(const QString &serial);
    void sendPauseJob_networking(const QString &serial);
    void sendResumeJob_networking(const QString &serial);
    void sendCancelJob_networking(const QString &serial);
    void sendReprint_networking(const QString &serial);
    void sendDisconnectPrinter_networking(const QString &serial);
    void sendNewResinFineTuneFactor(
        const QString &serial, const QString &resinName, int layerThickness, double fineTuneFactor);
    void sendNewResinScalingFactor(
        const QString &serial, const QString &resinName, int layerThickness, double scaleX, double scaleY);
    void sendUpdateResins(const QString &serial, const QString &resinListAsString);
    void sendBoardCommand(const QString &serial, const QString &command);
    void networking_broadcastIP();

    // ---- not received by anything in the program
    void sendPausePrint();
    void sendResumePrint();
    void sendCancelPrint();

    // ---- to the user interface
    void sendUpdatePrinterConnectedStatus(bool isConnected);
    void setSaveSSJPath(const QString &filePath);
    void sendPrinterConnected_networking(
        const QString &printerSerial, const QString &printerName, const QString &printerStatus);
    void sendPrinterDisconnected_networking(const QString &printerSerial);
    void sendMessagePopup(const QString &messageText);
    void updatePrintProgress_networkForQML(const QString &serial, int layerNum, int percent, int timeLeft,
        const QString &ssjName, const QString &resinName, int layerThickness);
    void updatePrintDone_networkForQML(const QString &serial);
    void sendTransferNetworkJobProgress(int percent);
    void pauseCompleted(const QString &serial);
    void resumeCompleted(const QString &serial);
    void pauseStarted(const QString &serial);
    void resumeStarted(const QString &serial);
    void printCancelled(const QString &serial);
    void transmit_receivedPrinterError(const QString &serial, const QString &message);
    // The job's supports leave islands ("The supports leave 3 islands (largest 42 px at layer
    // 57).") or it has cavities that trap resin or suck at the platform; the first island is
    // on layer firstIslandLayer and the lowest cavity starts on firstCavityLayer (counted
    // from 1; 0 for none).
    void islandsFound(const QString &jobPath, const QString &messageText, int firstIslandLayer, int firstCavityLayer);
    // The answer to requestSSJVolume, for the file as it was asked.
    void ssjVolumeMeasured(const QString &ssjFile, double millilitres);
    // The printer of that serial needs a software update; installPrinterUpdate() installs it.
    void printerUpdateRequested(const QString &serial);
    void projectionWindowChanged();
    void tetheredStateChanged(const QString &state);
    // The tethered print ended (TetheredPrint::ended): "Print done: part.ssj", ...
    void tetheredPrintEnded(const QString &messageText);
    // Declared for the user interface, which handles them; nothing emits them yet.
    void sendErrorMessage(int errorNum, const QString &errorDescription, const QString &errorFix);
    void setTotalNumberPrintLayers(int totalLayers);

private:
    // A print handed to the Server when its 100 ms delay has passed.
    struct PendingPrint {
        QString serial;
        QString filePath;
        PrintJob job;
    };

    // A job sliced for a print, in a folder of its own until its transfer has ended.
    struct SentPrint {
        QString serial;
        QString jobPath;
        bool transferSeen = false;
    };

    void connectServer();
    void applyNetworkEnvironment();

    // The last record of a connected printer, or nullptr.
    const PrinterState *printerFromSerial(const QString &serial) const;
    const QList<Resin> &modeList() const;
    QList<Resin> &modeList();
    const QList<Resin> &listFor(const PrinterState &printer) const;
    QList<Resin> &editableListFor(const QString &printerSerial);
    Resin getResinWithName(const QList<Resin> &list, const QString &name) const;
    // getPrintTime() of `layers` layers.
    int printMinutes(int thickness, int layers, const QString &deviceSerial, const QString &resinName) const;
    // Catalogue resins a newly connected printer lacks are added to its list.
    void completePrinterResins(const QString &serial);
    void forgetSentPrints(const PrinterState &state);
    // setScreen(); false (logged) when the screen or the window is missing.
    bool placeOnScreen(QWindow *window, int screenNum);
    // Moves the projection window to screen `screenNum`; why it cannot serve the tethered
    // printer's projector there, in words, empty when it can.
    QString placeProjectionWindow(int screenNum);
    void connectTetheredPrint();

    // The job viewer's layer, or a projected slice: the "colors" provider's second image.
    void showImage(const QImage &image);
    SliceImageProvider *imageProvider() const;

    // Root functions of the user interface; nothing without a root object.
    QObject *rootObject();
    void callRootFunction(const char *name, const QVariantList &arguments = {});

    QThread m_serverThread;
    Server *m_server = nullptr; // destroyed on its thread when the thread ends
    std::unique_ptr<PrinterListModel> m_printers;
    QTimer m_announceTimer;
    QString m_versionText = QStringLiteral("1.4.6 - LEGACY");
    int m_qaLevel = 0;
    bool m_is75MicronMode = false;
    QList<Resin> m_resinListA;
    QList<Resin> m_resinListB;
    double m_exposureFactor = 1.0;
    QString m_selectedPrinter;
    QString m_jobPath;
    int m_jobLayerThickness = 0;

    std::unique_ptr<JobFileViewer> m_viewer;
    std::unique_ptr<ResinFineTune> m_fineTune; // reads m_printers
    QImage m_lastShownImage;
    int m_projectedImageCount = 0;
    QQueue<PendingPrint> m_pendingPrints;
    QList<SentPrint> m_sentPrints;
    std::unique_ptr<TetheredPrint> m_tethered;
    QPointer<QWindow> m_projectionWindow;
};
