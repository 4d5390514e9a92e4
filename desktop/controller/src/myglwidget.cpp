#include "myglwidget.h"

#include "basiclogging.h"
#include "clientdevice.h"
#include "crushedprintjob.h"
#include "slicerasteriser.h"
#include "islandwarning.h"
#include "jobfiles.h"
#include "jobfileviewer.h"
#include "jobvolume.h"
#include "printererrors.h"
#include "printerlistmodel.h"
#include "printerstate.h"
#include "printrule.h"
#include "printtime.h"
#include "resincatalogue.h"
#include "resinfinetune.h"
#include "server.h"
#include "sliceimageprovider.h"
#include "tetheredprint.h"
#include "timescale.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureInterface>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHostAddress>
#include <QLocale>
#include <QMetaMethod>
#include <QQmlApplicationEngine>
#include <QQmlEngine>
#include <QQuickView>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QThreadPool>
#include <QWindow>

#include <cmath>

namespace {

constexpr int kBroadcastDelayMs = 200;
constexpr int kAnnounceEveryMs = 5000;
constexpr int kSendPrintDelayMs = 100;
// Print folders older than this at start were left by a run that ended before their print
// was sent; a younger one may belong to a print still being sent.
constexpr int kStalePrintFolderSeconds = 3600;

bool containsName(const QList<Resin> &list, const QString &name)
{
    for (const Resin &r : list) {
        if (r.name == name)
            return true;
    }
    return false;
}

// A resin name as the lists and messages can carry it: "*" and "!" separate the entries and
// fields of a resin list, and "," the fields of a message (a printer's whole resin list is one
// field of its greeting). Each becomes a space.
QString usableResinName(const QString &name)
{
    QString usable = name;
    for (QChar c : {QLatin1Char('*'), QLatin1Char('!'), QLatin1Char(',')})
        usable.replace(c, QLatin1Char(' '));
    usable = usable.simplified();
    if (usable != name)
        logLine(QStringLiteral("MINOR_ERROR. MyGLWidget::saveResinCureTimes. Resin name [%1] stored as [%2]")
                    .arg(name, usable));
    return usable;
}

// The facts of a job file the pages ask about; false (logged) when it cannot be read.
bool readJobFacts(const QString &normalisedPath, PrintRule::JobFacts *facts)
{
    QString error;
    if (PrintRule::readJob(normalisedPath, facts, &error))
        return true;
    logLine(QStringLiteral("ERROR. MyGLWidget::readJobFacts. ") + error);
    return false;
}

} // namespace

MyGLWidget::MyGLWidget(QQuickItem *parent)
    : QQuickItem(parent)
    , m_server(new Server)
    , m_printers(std::make_unique<PrinterListModel>())
    , m_viewer(std::make_unique<JobFileViewer>())
    , m_fineTune(std::make_unique<ResinFineTune>(*m_printers))
    , m_tethered(std::make_unique<TetheredPrint>())
{
    qRegisterMetaType<PrintJob>("PrintJob");
    qRegisterMetaType<PrinterState>("PrinterState");
    Calibration::initResources();
    applyNetworkEnvironment();
    m_server->moveToThread(&m_serverThread);
    connect(&m_serverThread, &QThread::finished, m_server, &QObject::deleteLater);
    connectServer();
    connect(m_viewer.get(), &JobFileViewer::layerShown, this, &MyGLWidget::showImage);
    connect(m_viewer.get(), &JobFileViewer::problem, this, &MyGLWidget::sendMessagePopup);
    connect(m_fineTune.get(), &ResinFineTune::fineTuneFactorChosen, this, &MyGLWidget::sendNewResinFineTuneFactor);
    connect(m_fineTune.get(), &ResinFineTune::scalingFactorChosen, this, &MyGLWidget::sendNewResinScalingFactor);
    connect(m_fineTune.get(), &ResinFineTune::printRequested, this, &MyGLWidget::printSSJ);
    connectTetheredPrint();
    m_serverThread.setObjectName(QStringLiteral("Server"));
    m_serverThread.start();

    QTimer::singleShot(kBroadcastDelayMs, this, &MyGLWidget::delayBroadcastIPSlot);
    m_announceTimer.setInterval(kAnnounceEveryMs);
    connect(&m_announceTimer, &QTimer::timeout, this, &MyGLWidget::networking_broadcastIP);
    m_announceTimer.start();
    qRegisterMetaType<QList<QImage *>>("QList<QImage *>");
    m_resinListA = ResinCatalogue::builtIn();
    m_resinListB = m_resinListA;
    JobFiles::removePrintFolders(kStalePrintFolderSeconds);
}

MyGLWidget::~MyGLWidget()
{
    // Nothing the printers report may reach a controller being torn down; the Server and its
    // devices are destroyed on their own thread as it ends.
    m_server->disconnect(this);
    disconnect(m_server);
    // Nor what the tethered printer says as it stops.
    m_tethered->disconnect(this);
    m_tethered->printer()->disconnect(this);
    m_serverThread.quit();
    m_serverThread.wait();
    m_server = nullptr;
}

QObject *MyGLWidget::printers() const
{
    return m_printers.get();
}

QString MyGLWidget::printerErrorMessage(int printerError)
{
    return QStringLiteral("Printer error %1: %2.").arg(printerError).arg(PrinterErrors::text(printerError));
}

// ---- construction --------------------------------------------------------------------------

void MyGLWidget::applyNetworkEnvironment()
{
    if (qEnvironmentVariableIsSet("TESSORA_DISCOVERY_TARGET")) {
        const QString text = qEnvironmentVariable("TESSORA_DISCOVERY_TARGET").trimmed();
        QHostAddress target;
        if (!target.setAddress(text)) {
            // Never fall back to a broadcast when a target was asked for.
            logLine(QStringLiteral("ERROR. MyGLWidget::applyNetworkEnvironment. TESSORA_DISCOVERY_TARGET is not an "
                                   "address: %1. Announcing to 127.0.0.1 instead.")
                        .arg(text));
            target = QHostAddress(QHostAddress::LocalHost);
        }
        m_server->setDiscoveryTarget(target);
    }
    const auto portFromEnvironment = [](const char *name, int maximum, int *port) {
        if (!qEnvironmentVariableIsSet(name))
            return false;
        bool ok = false;
        const int value = qEnvironmentVariableIntValue(name, &ok);
        if (!ok || value < 1 || value > maximum) {
            logLine(QStringLiteral("ERROR. MyGLWidget::applyNetworkEnvironment. %1 is not a usable port: %2")
                        .arg(QLatin1String(name), qEnvironmentVariable(name)));
            return false;
        }
        *port = value;
        return true;
    };
    int port = 0;
    if (portFromEnvironment("TESSORA_DISCOVERY_PORT", 65535, &port))
        m_server->setDiscoveryPort(port);
    if (portFromEnvironment("TESSORA_BASE_PORT", 65535 - 1, &port))
        m_server->setBasePort(port);
    if (qEnvironmentVariableIsSet("TESSORA_TIME_SCALE")) {
        bool ok = false;
        const double scale = qEnvironmentVariable("TESSORA_TIME_SCALE").toDouble(&ok);
        if (ok && scale > 0.0 && scale <= 1000.0)
            TimeScale::setFactor(scale);
        else
            logLine(QStringLiteral("ERROR. MyGLWidget::applyNetworkEnvironment. TESSORA_TIME_SCALE is not a number "
                                   "above 0: %1")
                        .arg(qEnvironmentVariable("TESSORA_TIME_SCALE")));
    }
}

void MyGLWidget::connectServer()
{
    Server *s = m_server;
    connect(this, &MyGLWidget::sendPlatformUp, s, &Server::sendPlatformUp);
    connect(this, &MyGLWidget::sendPlatformDown, s, &Server::sendPlatformDown);
    connect(this, &MyGLWidget::sendTankUp, s, &Server::sendTiltUp);
    connect(this, &MyGLWidget::sendTankDown, s, &Server::sendTiltDown);
    connect(this, &MyGLWidget::sendPrintJob, s, &Server::sendPrintJob);
    connect(this, &MyGLWidget::sendInstallUpdate, s, &Server::installUpdate);
    connect(this, &MyGLWidget::sendNewNickname, s, &Server::changeNickName);
    connect(this, &MyGLWidget::sendChangeNickName_networking, s, &Server::changeNickName);
    connect(this, &MyGLWidget::sendNetworkSettings, s, &Server::setNetworkInfo);
    connect(this, &MyGLWidget::sendResetNetworkSettings, s, &Server::sendResetNetworkSettings);
    connect(this, &MyGLWidget::sendSFTPConfigFile, s, &Server::sendSFTPConfigFile);
    connect(this, &MyGLWidget::sendNetworkedGCommand, s, &Server::sendNetworkedGCommand);
    connect(this, &MyGLWidget::sendProjectGrid, s, &Server::sendProjectGrid);
    connect(this, &MyGLWidget::sendTurnOffProjector, s, &Server::sendTurnOffProjector);
    connect(this, &MyGLWidget::sendNewSerialAndModel, s, &Server::sendNewSerialAndModel);
    connect(this, &MyGLWidget::sendNewGrayscale, s, &Server::sendNewGrayscale);
    connect(this, &MyGLWidget::sendNewGParameter, s, &Server::sendNewGParameter);
    connect(this, &MyGLWidget::sendNewFactoryGParameter, s, &Server::sendNewFactoryGParameter);
    connect(this, &MyGLWidget::resetGParameter, s, &Server::resetGParameter);
    connect(this, &MyGLWidget::sendPauseJob_networking, s, &Server::pauseJob);
    connect(this, &MyGLWidget::sendResumeJob_networking, s, &Server::resumeJob);
    connect(this, &MyGLWidget::sendCancelJob_networking, s, &Server::cancelJob);
    connect(this, &MyGLWidget::sendReprint_networking, s, &Server::reprint);
    connect(this, &MyGLWidget::sendDisconnectPrinter_networking, s, &Server::manuallyDisconnectPrinter);
    connect(this, &MyGLWidget::sendNewResinFineTuneFactor, s, &Server::sendNewResinFineTuneFactor);
    connect(this, &MyGLWidget::sendNewResinScalingFactor, s, &Server::sendNewResinScalingFactor);
    connect(this, &MyGLWidget::sendUpdateResins, s, &Server::updateResins);
    connect(this, &MyGLWidget::sendBoardCommand, s, &Server::sendBoardCommand);
    connect(this, &MyGLWidget::networking_broadcastIP, s, &Server::broadcastIP);

    connect(s, &Server::printerStateChanged, this, &MyGLWidget::updatePrinterState);
    connect(s, &Server::updateRequested, this, &MyGLWidget::receiveUpdateRequest);
    connect(s, &Server::printerConnected, this, &MyGLWidget::printerConnected_networked);
    connect(s, &Server::printerDisconnected, this, &MyGLWidget::printerDisconnected_networked);
    connect(s, &Server::updatePrintProgress, this, &MyGLWidget::updatePrintProgress_network);
    connect(s, &Server::updatePrintDone, this, &MyGLWidget::updatePrintDone_network);
    connect(s, &Server::pauseCompleted, this, &MyGLWidget::receivePauseCompleted);
    connect(s, &Server::resumeCompleted, this, &MyGLWidget::receiveResumeCompleted);
    connect(s, &Server::pauseStarted, this, &MyGLWidget::receivePauseStarted);
    connect(s, &Server::resumeStarted, this, &MyGLWidget::receiveResumeStarted);
    connect(s, &Server::printCancelled, this, &MyGLWidget::receivePrintCancelled);
    connect(s, &Server::transmitPrinterError, this, &MyGLWidget::network_printerErrorReceived);
    connect(s, &Server::sendUpdateBytesWritten, this, &MyGLWidget::updateNetworkBytesWritten);
    connect(s, &Server::sendMessageToGUI, this, &MyGLWidget::receiveMessageForGUI);

    connect(m_printers.get(), &PrinterListModel::printerAdded, this, &MyGLWidget::completePrinterResins);
}

// ---- lookups ---------------------------------------------------------------------------------

const PrinterState *MyGLWidget::printerFromSerial(const QString &serial) const
{
    return m_printers->find(serial);
}

const QList<Resin> &MyGLWidget::modeList() const
{
    return m_is75MicronMode ? m_resinListB : m_resinListA;
}

QList<Resin> &MyGLWidget::modeList()
{
    return m_is75MicronMode ? m_resinListB : m_resinListA;
}

const QList<Resin> &MyGLWidget::listFor(const PrinterState &printer) const
{
    return printer.is75MicronModel() ? m_resinListB : m_resinListA;
}

QList<Resin> &MyGLWidget::editableListFor(const QString &printerSerial)
{
    const PrinterState *printer = printerFromSerial(printerSerial);
    if (!printer)
        return modeList();
    return printer->is75MicronModel() ? m_resinListB : m_resinListA;
}

Resin MyGLWidget::getResinWithName(const QList<Resin> &list, const QString &name) const
{
    for (const Resin &r : list) {
        if (r.name == name)
            return r;
    }
    logLine(QStringLiteral("ERROR. MyGLWidget::getResinWithName. Resin with name [") + name
        + QStringLiteral("] not found in resinList ") + Resin::toString(list));
    return Resin(QStringLiteral("ResinERROR"));
}

// ---- printing and jobs -----------------------------------------------------------------------

void MyGLWidget::printSSJ(const QString &printerSerial, const QString &filePath, const QString &materialName)
{
    m_selectedPrinter = printerSerial;
    m_jobPath = JobFiles::normalisedPath(filePath);
    PrintRule::JobFacts facts;
    QString unreadable;
    const bool loaded = PrintRule::readJob(m_jobPath, &facts, &unreadable);
    m_jobLayerThickness = loaded ? facts.layerThickness : 0;

    const PrinterState *printer = printerFromSerial(printerSerial);
    if (!printer) {
        logLine(QStringLiteral("ERROR. MyGLWidget::printSSJ. No connected printer with serial: ") + printerSerial);
        return;
    }
    if (loaded && !Resin::isLayerThickness(m_jobLayerThickness))
        logLine(QStringLiteral("ERROR. MyGLWidget::printSSJ. PrintLayerThickness was not recognized. It was: ")
            + QString::number(m_jobLayerThickness));
    const PrintRule::Decision decision = loaded
        ? PrintRule::jobForPrint(listFor(*printer), *printer, facts, materialName)
        : PrintRule::Decision {PrintJob(), unreadable};
    if (!decision.accepted()) {
        logLine(QStringLiteral("ERROR. MyGLWidget::printSSJ. ") + decision.refusal);
        emit sendMessagePopup(decision.refusal);
        return;
    }
    decision.job.printInfo();
    m_pendingPrints.enqueue({printerSerial, m_jobPath, decision.job});
    QTimer::singleShot(kSendPrintDelayMs, this, &MyGLWidget::delaySendPrintOverNetwork);
}

void MyGLWidget::delaySendPrintOverNetwork()
{
    // One timer per print: each hands its own print to the Server, in one queued call, so
    // two prints started within the delay both reach their printers.
    if (m_pendingPrints.isEmpty())
        return;
    const PendingPrint print = m_pendingPrints.dequeue();
    if (JobFiles::isInPrintFolder(print.filePath))
        m_sentPrints.append({print.serial, print.filePath});
    emit sendPrintJob(print.serial, print.filePath, print.job);
}

void MyGLWidget::forgetSentPrints(const PrinterState &state)
{
    // A print's own folder goes once its transfer has ended (or its printer has gone).
    for (int i = m_sentPrints.size() - 1; i >= 0; --i) {
        SentPrint &sent = m_sentPrints[i];
        if (sent.serial != state.serial)
            continue;
        if (state.activity == PrinterState::Activity::Sending) {
            sent.transferSeen = true;
        } else if (sent.transferSeen) {
            JobFiles::removePrintFolderOf(sent.jobPath);
            m_sentPrints.removeAt(i);
        }
    }
}

int MyGLWidget::requestSSJThickness(const QString &ssjFile)
{
    const QString path = JobFiles::normalisedPath(ssjFile);
    if (!QFileInfo(path).isFile())
        logLine(QStringLiteral("ERROR. myGlWidget.cpp::requestSSJThickness. File was not found on the system. "
                               "FileName: ")
            + path);
    PrintRule::JobFacts facts;
    return readJobFacts(path, &facts) ? facts.layerThickness : 0;
}

int MyGLWidget::requestSSJResolution(const QString &ssjFile)
{
    PrintRule::JobFacts facts;
    if (!readJobFacts(JobFiles::normalisedPath(ssjFile), &facts))
        return -1;
    const int microns = PrintRule::slicedForMicrons(facts.description);
    return microns > 0 ? microns : -1;
}

int MyGLWidget::requestSSJPrintTime(const QString &ssjFile, const QString &deviceSerial, const QString &resinName)
{
    if (ssjFile.isEmpty())
        return 0;
    PrintRule::JobFacts facts;
    if (!readJobFacts(JobFiles::normalisedPath(ssjFile), &facts))
        return -1;
    if (!Resin::isLayerThickness(facts.layerThickness)) {
        logLine(QStringLiteral("ERROR. MyGLWidget::requestSSJPrintTime. Unexpected layer thickness: ")
            + QString::number(facts.layerThickness));
        return -1;
    }
    return printMinutes(facts.layerThickness, facts.layerCount, deviceSerial, resinName);
}

void MyGLWidget::requestSSJVolume(const QString &ssjFile)
{
    // The worker reports through the future alone: the watcher, and with it the answer, goes
    // when the widget does, and the worker never touches the widget.
    QFutureInterface<double> promise;
    promise.reportStarted();
    auto *watcher = new QFutureWatcher<double>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, ssjFile] {
        const double millilitres = watcher->result();
        watcher->deleteLater();
        if (millilitres < 0.0)
            logLine(QStringLiteral("ERROR. MyGLWidget::requestSSJVolume. Cannot read [%1]").arg(ssjFile));
        emit ssjVolumeMeasured(ssjFile, millilitres);
    });
    watcher->setFuture(promise.future());
    const QString path = JobFiles::normalisedPath(ssjFile);
    QThreadPool::globalInstance()->start([promise, path]() mutable {
        CrushedPrintJob job;
        QFile file(path);
        double millilitres = -1.0;
        if (!path.isEmpty() && job.loadCPJ(&file))
            millilitres = JobVolume::millilitres(job, PrintRule::pixelMillimetres(job.description()));
        promise.reportResult(millilitres);
        promise.reportFinished();
    });
}

namespace {

QString resinPriceKey(QString resinName)
{
    // A slash would open a settings group.
    return QStringLiteral("resinPricePerLitre/") + resinName.replace(QLatin1Char('/'), QLatin1Char('_'));
}

} // namespace

QString MyGLWidget::resinPricePerLitre(const QString &resinName) const
{
    const double price = QSettings().value(resinPriceKey(resinName), 0.0).toDouble();
    return price > 0.0 ? QString::number(price) : QString();
}

void MyGLWidget::setResinPricePerLitre(const QString &resinName, const QString &price)
{
    QSettings settings;
    bool ok = false;
    double value = QLocale().toDouble(price.trimmed(), &ok);
    if (!ok)
        value = QLocale::c().toDouble(price.trimmed(), &ok);
    if (ok && value > 0.0 && std::isfinite(value))
        settings.setValue(resinPriceKey(resinName), value);
    else
        settings.remove(resinPriceKey(resinName));
}

int MyGLWidget::antiAliasingLevel() const
{
    return QSettings().value(QStringLiteral("antiAliasingLevel"), 0).toInt();
}

void MyGLWidget::setAntiAliasingLevel(int subRows)
{
    QSettings().setValue(
        QStringLiteral("antiAliasingLevel"), SliceRasteriser::isSupersampling(subRows) ? subRows : 0);
}

int MyGLWidget::getPrintTime(
    int thickness, double maxModelHeight, const QString &deviceSerial, const QString &resinName)
{
    if (!Resin::isLayerThickness(thickness)) {
        logLine(QStringLiteral("ERROR. MyGLWidget::getPrintTime. Unexpected layer thickness: ")
            + QString::number(thickness));
        return -1;
    }
    // Heights are whole multiples of the thickness: the nudge keeps 10 mm of 50-micron layers
    // from truncating to 199 through binary rounding.
    const double exactLayers = maxModelHeight / (thickness * 0.001);
    if (!std::isfinite(exactLayers) || exactLayers < 0.0 || exactLayers > 1e7) {
        logLine(QStringLiteral("ERROR. MyGLWidget::getPrintTime. Unusable model height: ")
            + QString::number(maxModelHeight));
        return -1;
    }
    return printMinutes(thickness, static_cast<int>(exactLayers + 1e-6), deviceSerial, resinName);
}

int MyGLWidget::printMinutes(int thickness, int layers, const QString &deviceSerial, const QString &resinName) const
{
    // The job line a print would send: exposure from the local profile, calibration from the
    // printer's resin (none without a printer).
    const PrinterState *printer = deviceSerial.isEmpty() ? nullptr : printerFromSerial(deviceSerial);
    const Resin local = getResinWithName(printer ? listFor(*printer) : modeList(), resinName);
    const Resin calibration = printer ? printer->resin(resinName) : Resin(resinName);
    const PrintRule::ThicknessSettings settings = PrintRule::settingsAt(local, calibration, thickness);
    if (!ResinCatalogue::isOffered(settings.cureTime))
        return -1;

    PrintJob job;
    job.numImages = layers;
    job.numAdhesionLayers = local.numAdhesionLayers;
    job.adhesionLayerCureTime = settings.adhesionCureTime;
    job.cureTime = settings.cureTime;
    job.fineTuneFactor = settings.fineTuneFactor;
    return PrintTimeEstimate::of(job).minutes();
}

bool MyGLWidget::isPrinterBusy(const QString &serialNum)
{
    const PrinterState *printer = printerFromSerial(serialNum);
    return printer && printer->isBusy();
}

bool MyGLWidget::isPrinter75Microns(const QString &serialNum)
{
    const PrinterState *printer = printerFromSerial(serialNum);
    return printer && printer->is75MicronModel();
}

void MyGLWidget::setTo75Microns()
{
    m_is75MicronMode = true;
}

void MyGLWidget::setTo100Microns()
{
    m_is75MicronMode = false;
}

void MyGLWidget::setScreen(QWindow *projectionWindow, int screenNum)
{
    placeOnScreen(projectionWindow, screenNum);
}

bool MyGLWidget::placeOnScreen(QWindow *window, int screenNum)
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (screenNum < 0 || screenNum >= screens.size()) {
        logLine(QStringLiteral("ERROR MyGLWidget::setScreen. Second screen not found. Screen count: ")
            + QString::number(screens.size()));
        return false;
    }
    if (!window) {
        logLine(QStringLiteral("ERROR MyGLWidget::setScreen. No window to move."));
        return false;
    }
    window->setScreen(screens.at(screenNum));
    return true;
}

void MyGLWidget::pausePrint()
{
    m_tethered->printer()->pause();
    emit sendPausePrint();
}

void MyGLWidget::resumePrint()
{
    m_tethered->printer()->resume();
    emit sendResumePrint();
}

void MyGLWidget::cancelPrint()
{
    m_tethered->printer()->cancel();
    emit sendCancelPrint();
}

// ---- the tethered printer --------------------------------------------------------------------

void MyGLWidget::connectTetheredPrint()
{
    TetheredPrinter *printer = m_tethered->printer();
    connect(printer, &TetheredPrinter::frame, this, &MyGLWidget::projectSlice);
    connect(printer, &TetheredPrinter::progress, this, &MyGLWidget::updatePrinting);
    connect(printer, &TetheredPrinter::finished, this, [this](bool cancelled) {
        if (!cancelled)
            printCompleted();
    });
    connect(m_tethered.get(), &TetheredPrint::ended, this, [this](const QString &messageText, bool failed) {
        if (failed)
            emit sendMessagePopup(messageText);
        emit tetheredPrintEnded(messageText);
    });
    connect(m_tethered.get(), &TetheredPrint::stateNameChanged, this, [this](const QString &state) {
        // Nothing is left on the projector's screen once the print is over.
        if (state == QLatin1String("idle") && m_projectionWindow)
            m_projectionWindow->hide();
        emit tetheredStateChanged(state);
    });
}

void MyGLWidget::setProjectionWindow(QWindow *window)
{
    if (m_projectionWindow == window)
        return;
    m_projectionWindow = window;
    emit projectionWindowChanged();
}

QString MyGLWidget::tetheredState() const
{
    return m_tethered->stateName();
}

TetheredPrinter *MyGLWidget::tetheredPrinter() const
{
    return m_tethered->printer();
}

bool MyGLWidget::printTethered(
    const QString &filePath, const QString &resinName, int screenNum, const QString &serialPort)
{
    QString refusal = m_tethered->isRunning() ? TetheredPrint::busyText() : placeProjectionWindow(screenNum);
    if (refusal.isEmpty()) {
        // Black until the first layer: the last print's final frame must not show again.
        QImage black(1280, 800, QImage::Format_RGB32);
        black.fill(Qt::black);
        projectSlice(black);
        QString error;
        if (!m_tethered->start(JobFiles::normalisedPath(filePath), resinName,
                m_is75MicronMode ? m_resinListB : m_resinListA, serialPort, m_is75MicronMode, &error))
            refusal = error;
    }
    if (!refusal.isEmpty()) {
        logLine(QStringLiteral("NOTICE. MyGLWidget::printTethered. Nothing started: ") + refusal);
        emit sendMessagePopup(refusal);
        return false;
    }
    // Without a window manager a full-screen window keeps its size: it is given the screen's.
    m_projectionWindow->setGeometry(m_projectionWindow->screen()->geometry());
    m_projectionWindow->showFullScreen();
    QSettings settings;
    settings.setValue(QStringLiteral("tetheredScreen"), screenNum);
    settings.setValue(QStringLiteral("tetheredSerialPort"), serialPort);
    return true;
}

QVariantMap MyGLWidget::tetheredPrinterSettings() const
{
    QSettings settings;
    return {{QStringLiteral("screen"), settings.value(QStringLiteral("tetheredScreen"), 1).toInt()},
        {QStringLiteral("serialPort"), settings.value(QStringLiteral("tetheredSerialPort")).toString()}};
}

QString MyGLWidget::placeProjectionWindow(int screenNum)
{
    if (!placeOnScreen(m_projectionWindow, screenNum)) {
        if (!m_projectionWindow)
            return tr("This page has no projection window for the printer of this computer.");
        return tr("The printer's projector was not found: this computer has no screen %1 (screens found: %2, "
                  "counted from 0). Connect the projector as a further screen, or choose its number. Nothing was "
                  "started.")
            .arg(screenNum)
            .arg(QGuiApplication::screens().size());
    }
    if (window() && window()->screen() == m_projectionWindow->screen())
        return tr("Screen %1 shows Tessora's window. Choose the screen of the printer's projector; nothing was "
                  "started.")
            .arg(screenNum);
    return {};
}

// ---- job viewer ------------------------------------------------------------------------------

SliceImageProvider *MyGLWidget::imageProvider() const
{
    QQmlEngine *engine = qmlEngine(this);
    if (!engine)
        return nullptr;
    return dynamic_cast<SliceImageProvider *>(engine->imageProvider(QStringLiteral("colors")));
}

void MyGLWidget::showImage(const QImage &image)
{
    m_lastShownImage = image;
    if (SliceImageProvider *provider = imageProvider())
        provider->setImage(1, image);
}

QString MyGLWidget::setSSJViewerPath(const QString &ssjPath)
{
    return m_viewer->open(JobFiles::normalisedPath(ssjPath));
}

void MyGLWidget::clearSSJViewerPath()
{
    m_viewer->close();
}

QString MyGLWidget::requestNextSSJViewerImage()
{
    return m_viewer->showNext();
}

QString MyGLWidget::requestPrevSSJViewerImage()
{
    return m_viewer->showPrevious();
}

QString MyGLWidget::requestSSJViewerImage(double sliderVal)
{
    return m_viewer->showAt(sliderVal);
}

QString MyGLWidget::requestTotalSlicesSSJViewer()
{
    return m_viewer->layerCountText();
}

QString MyGLWidget::requestSSJViewerLayer(int layerNumber)
{
    return m_viewer->showLayer(layerNumber - 1);
}

QString MyGLWidget::requestSSJViewerIsland(int islandIndex)
{
    return m_viewer->showIsland(islandIndex);
}

QString MyGLWidget::requestSSJViewerLayerText()
{
    return m_viewer->layerText();
}

QVariantList MyGLWidget::requestSSJViewerIslands()
{
    return m_viewer->islandList();
}

void MyGLWidget::setSSJViewerIslandsShown(bool shown)
{
    m_viewer->setHighlightIslands(shown);
}

QString MyGLWidget::scratchJobPath(const QString &fileName)
{
    return JobFiles::newScratchJobPath(QFileInfo(JobFiles::normalisedPath(fileName)).fileName());
}

bool MyGLWidget::keepScratchJob(const QString &scratchPath, const QString &destination)
{
    return JobFiles::moveScratchJob(scratchPath, JobFiles::normalisedPath(destination));
}

void MyGLWidget::discardScratchJob(const QString &scratchPath)
{
    JobFiles::removePrintFolderOf(scratchPath);
}

bool MyGLWidget::warnOfIslands(const QString &jobPath)
{
    IslandWarning::Summary summary;
    const QString path = JobFiles::normalisedPath(jobPath);
    if (!IslandWarning::check(path, &summary, [] { QCoreApplication::processEvents(); })
        || !(summary.anyIsland() || summary.anyCavity()))
        return false;
    emit islandsFound(path, IslandWarning::text(summary), summary.firstLayer, summary.firstCavityLayer());
    return true;
}

// ---- resins and calibration ------------------------------------------------------------------

QStringList MyGLWidget::getResinNames()
{
    QStringList names;
    for (const Resin &r : modeList())
        names << r.name;
    return names;
}

QStringList MyGLWidget::getResinNames(const QString &printerSerial)
{
    const PrinterState *printer = printerFromSerial(printerSerial);
    if (!printer) {
        logLine(QStringLiteral("MyGLWidget::getResinNames. Cur device is NULL"));
        return getResinNames();
    }
    QStringList names;
    for (const Resin &r : listFor(*printer))
        names << r.name;
    return names;
}

QStringList MyGLWidget::getResinDataAsStringList()
{
    return getResinDataAsStringList(QString());
}

QStringList MyGLWidget::getResinDataAsStringList(const QString &printerSerial)
{
    QStringList out;
    for (const Resin &r : editableListFor(printerSerial)) {
        out << r.name;
        for (int thickness : Resin::layerThicknesses)
            out << Resin::textFromDouble(r.adhesionCureTime(thickness));
        for (int thickness : Resin::layerThicknesses)
            out << Resin::textFromDouble(r.cureTime(thickness));
    }
    return out;
}

void MyGLWidget::saveResinCureTimes(const QVariantList &resinData)
{
    saveResinCureTimes(resinData, QString());
}

void MyGLWidget::saveResinCureTimes(const QVariantList &resinData, const QString &printerSerial)
{
    constexpr int kEntriesPerResin = 7;
    QList<Resin> &target = editableListFor(printerSerial);
    const QList<Resin> current = target;
    QList<Resin> edited;
    for (int first = 0; first + kEntriesPerResin <= resinData.size(); first += kEntriesPerResin) {
        const QString name = usableResinName(resinData.at(first).toString());
        // The page edits cure times only: everything else of a profile it already had stays.
        Resin resin(name);
        for (const Resin &r : current) {
            if (r.name == name) {
                resin = r;
                break;
            }
        }
        const auto number = [&](int offset) { return Resin::doubleFromText(resinData.at(first + offset).toString()); };
        // Adhesion cure times, then cure times, each at 20, 50 and 100 microns.
        int offset = 1;
        for (int thickness : Resin::layerThicknesses)
            resin.setAdhesionCureTime(thickness, number(offset++));
        for (int thickness : Resin::layerThicknesses)
            resin.setCureTime(thickness, number(offset++));
        edited.append(resin);
    }
    if (resinData.size() % kEntriesPerResin != 0)
        logLine(QStringLiteral("MINOR_ERROR. MyGLWidget::saveResinCureTimes. Ignored %1 trailing entries")
                    .arg(resinData.size() % kEntriesPerResin));
    target = edited;
}

void MyGLWidget::setNumResinAdhesionLayers(int numLayers)
{
    if (numLayers < 0) {
        logLine(QStringLiteral("ERROR. MyGLWidget::setNumResinAdhesionLayers. Negative count: ")
            + QString::number(numLayers));
        return;
    }
    for (QList<Resin> *list : {&m_resinListA, &m_resinListB}) {
        for (Resin &r : *list)
            r.numAdhesionLayers = numLayers;
    }
}

void MyGLWidget::setResinExposureFactor(double exposureFactor)
{
    m_exposureFactor = exposureFactor;
}

bool MyGLWidget::wasResinCalibrated(const QString &deviceSerial, const QString &resinName, int layerThickness)
{
    return m_fineTune->wasResinCalibrated(deviceSerial, resinName, layerThickness);
}

QVariantMap MyGLWidget::resinFactors(const QString &deviceSerial, const QString &resinName, int layerThickness)
{
    return m_fineTune->resinFactors(deviceSerial, resinName, layerThickness);
}

void MyGLWidget::setResinFineTuneFactor(
    const QString &deviceSerial, const QString &resinName, int layerThickness, double fineTuneFactor)
{
    m_fineTune->setFineTuneFactor(deviceSerial, resinName, layerThickness, fineTuneFactor);
}

void MyGLWidget::modifyResinFineTuneFactor(
    const QString &deviceSerial, const QString &resinName, int layerThickness, double fineTuneFactorChange)
{
    m_fineTune->modifyFineTuneFactor(deviceSerial, resinName, layerThickness, fineTuneFactorChange);
}

void MyGLWidget::setResinScalingFactor(const QString &deviceSerial, const QString &resinName, int layerThickness,
    double xScalingFactor, double yScalingFactor)
{
    m_fineTune->setScalingFactor(deviceSerial, resinName, layerThickness, xScalingFactor, yScalingFactor);
}

void MyGLWidget::modifyResinScalingFactor(const QString &deviceSerial, const QString &resinName, int layerThickness,
    double xScalingFactorMultiplier, double yScalingFactorMultiplier)
{
    m_fineTune->modifyScalingFactor(
        deviceSerial, resinName, layerThickness, xScalingFactorMultiplier, yScalingFactorMultiplier);
}

void MyGLWidget::runFineTunePrint_tolerance(const QString &printerSerial, const QString &resinName, int layerThickness)
{
    m_fineTune->print(Calibration::Print::Tolerance, printerSerial, resinName, layerThickness);
}

void MyGLWidget::runFineTunePrint_dimensions(const QString &printerSerial, const QString &resinName, int layerThickness)
{
    m_fineTune->print(Calibration::Print::DimensionalAccuracy, printerSerial, resinName, layerThickness);
}

// ---- compression (G) parameter ---------------------------------------------------------------

bool MyGLWidget::isGParameterDetermined(const QString &printerSerial)
{
    const PrinterState *printer = printerFromSerial(printerSerial);
    return printer && !printer->gParameterReset;
}

int MyGLWidget::getGParameter(const QString &printerSerial)
{
    const PrinterState *printer = printerFromSerial(printerSerial);
    return printer ? printer->gParameter : 0;
}

void MyGLWidget::modifyPrinterGParameter(const QString &deviceSerial, int newGParameter)
{
    if (!printerFromSerial(deviceSerial)) {
        logLine(QStringLiteral("ERROR - MyGLWidget::modifyPrinterGParameter. Device with serial not found. Serial: ")
            + deviceSerial);
        return;
    }
    emit sendNewGParameter(deviceSerial, newGParameter);
}

void MyGLWidget::resetPrinterGParameter(const QString &deviceSerial)
{
    if (!printerFromSerial(deviceSerial)) {
        logLine(QStringLiteral("ERROR - MyGLWidget::resetPrinterGParameter. Device with serial not found. Serial: ")
            + deviceSerial);
        return;
    }
    emit resetGParameter(deviceSerial);
}

void MyGLWidget::setFactoryGParameter(const QString &deviceSerial, int newFactoryGParameter)
{
    if (!printerFromSerial(deviceSerial)) {
        logLine(QStringLiteral("ERROR - MyGLWidget::setFactoryGParameter. Device with serial not found. Serial: ")
            + deviceSerial);
        return;
    }
    emit sendNewFactoryGParameter(deviceSerial, newFactoryGParameter);
}

// ---- printers and network --------------------------------------------------------------------

QStringList MyGLWidget::getPrinterSerialsAndNames()
{
    QStringList out;
    for (const PrinterState &printer : m_printers->printers())
        out << printer.serial << printer.nickname;
    return out;
}

QString MyGLWidget::getPrinterNicknameFromSerial(const QString &deviceSerial)
{
    const PrinterState *printer = printerFromSerial(deviceSerial);
    return printer ? printer->nickname : QString();
}

void MyGLWidget::setSelectedPrinter(const QString &printerSerial)
{
    m_selectedPrinter = printerSerial;
}

QStringList MyGLWidget::getPrinterNetworkList(const QString &printerSerial)
{
    const PrinterState *printer = printerFromSerial(printerSerial);
    if (!printer) {
        logLine(QStringLiteral("ERROR.  MyGLWidget::getPrinterNetworkList. No clientDeviceFound."));
        return {};
    }
    return printer->wifiNames;
}

QString MyGLWidget::getPrinterAdhocIP(const QString &printerSerial)
{
    Q_UNUSED(printerSerial)
    return QStringLiteral("Placeholder");
}

QString MyGLWidget::getPrinterWifiNetworkIP(const QString &printerSerial)
{
    Q_UNUSED(printerSerial)
    return QStringLiteral("Placeholder");
}

QString MyGLWidget::getPrinterEthernetIP(const QString &printerSerial)
{
    Q_UNUSED(printerSerial)
    return QStringLiteral("Placeholder");
}

QString MyGLWidget::isPrinterConnectedOnAdhoc()
{
    const QList<PrinterState> &connected = m_printers->printers();
    return connected.isEmpty() ? QString() : connected.first().serial;
}

void MyGLWidget::networking_sendNewNetwork(
    const QString &printerSerial, const QString &newNetworkName, const QString &newNetworkPassword)
{
    emit sendNetworkSettings(printerSerial, newNetworkName, newNetworkPassword);
}

void MyGLWidget::resetPrinterNetworkSettings(const QString &printerSerial)
{
    emit sendResetNetworkSettings(printerSerial);
}

void MyGLWidget::broadcastIPFromQML()
{
    emit networking_broadcastIP();
}

void MyGLWidget::manage_pauseJob(const QString &serial)
{
    emit sendPauseJob_networking(serial);
}

void MyGLWidget::manage_resumeJob(const QString &serial)
{
    emit sendResumeJob_networking(serial);
}

void MyGLWidget::manage_cancelJob(const QString &serial)
{
    emit sendCancelJob_networking(serial);
}

void MyGLWidget::manage_reprint(const QString &serial)
{
    emit sendReprint_networking(serial);
}

void MyGLWidget::manage_disconnectPrinter(const QString &serial)
{
    emit sendDisconnectPrinter_networking(serial);
}

void MyGLWidget::manage_changeNickName(const QString &serial, const QString &nickName)
{
    emit sendChangeNickName_networking(serial, nickName);
}

void MyGLWidget::boardCommand(const QString &printerSerial, const QString &command)
{
    emit sendBoardCommand(printerSerial, command);
}

void MyGLWidget::qa_sendSerialAndModel(const QString &oldSerial, const QString &newSerial, const QString &newModel)
{
    emit sendNewSerialAndModel(oldSerial, newSerial, newModel);
}

QString MyGLWidget::getGrayscaleGrid(const QString &printerSerial)
{
    Q_UNUSED(printerSerial)
    return QString();
}

void MyGLWidget::setGrayscaleGrid(const QString &printerSerial, const QString &grayscaleJSONString)
{
    emit sendNewGrayscale(printerSerial, grayscaleJSONString);
}

// ---- slots -----------------------------------------------------------------------------------

void MyGLWidget::updatePrinterState(const PrinterState &state)
{
    m_printers->updatePrinter(state);
    forgetSentPrints(state);
}

void MyGLWidget::receiveUpdateRequest(const QString &serial)
{
    logLine(QStringLiteral("MyGLWidget::receiveUpdateRequest. Printer asks for a software update. Serial: ") + serial);
    emit printerUpdateRequested(serial);
}

void MyGLWidget::installPrinterUpdate(const QString &printerSerial)
{
    emit sendInstallUpdate(printerSerial);
}

void MyGLWidget::completePrinterResins(const QString &serial)
{
    const PrinterState *printer = printerFromSerial(serial);
    if (!printer)
        return;
    // The printer's own profiles, and so its calibration, stay; catalogue resins it lacks are added.
    QList<Resin> merged = printer->resins;
    bool appended = false;
    for (const Resin &local : listFor(*printer)) {
        if (!containsName(merged, local.name)) {
            merged.append(local);
            appended = true;
        }
    }
    if (appended)
        emit sendUpdateResins(serial, Resin::toString(merged));
}

void MyGLWidget::printerConnected_networked(const QString &serial, const QString &nickname, const QString &status)
{
    emit sendUpdatePrinterConnectedStatus(true);
    emit sendPrinterConnected_networking(serial, nickname, status);
}

void MyGLWidget::printerDisconnected_networked(const QString &serial)
{
    m_printers->removePrinter(serial);
    // A print whose printer went is no longer being sent: its folder goes too.
    for (int i = m_sentPrints.size() - 1; i >= 0; --i) {
        if (m_sentPrints.at(i).serial == serial) {
            JobFiles::removePrintFolderOf(m_sentPrints.at(i).jobPath);
            m_sentPrints.removeAt(i);
        }
    }
    emit sendUpdatePrinterConnectedStatus(m_printers->count() > 0);
    emit sendPrinterDisconnected_networking(serial);
}

void MyGLWidget::updatePrintProgress_network(const QString &serial, int layerNum, int percent, int timeLeft,
    const QString &ssjName, const QString &resinName, int layerThickness)
{
    emit updatePrintProgress_networkForQML(serial, layerNum, percent, timeLeft, ssjName, resinName, layerThickness);
}

void MyGLWidget::updatePrintDone_network(const QString &serial)
{
    emit updatePrintDone_networkForQML(serial);
}

void MyGLWidget::receivePauseCompleted(const QString &serial)
{
    emit pauseCompleted(serial);
}

void MyGLWidget::receiveResumeCompleted(const QString &serial)
{
    emit resumeCompleted(serial);
}

void MyGLWidget::receivePauseStarted(const QString &serial)
{
    emit pauseStarted(serial);
}

void MyGLWidget::receiveResumeStarted(const QString &serial)
{
    emit resumeStarted(serial);
}

void MyGLWidget::receivePrintCancelled(const QString &serial)
{
    emit printCancelled(serial);
}

void MyGLWidget::network_printerErrorReceived(const QString &serial, int printerError)
{
    emit transmit_receivedPrinterError(serial, printerErrorMessage(printerError));
}

void MyGLWidget::updateNetworkBytesWritten(qint64 bytesWritten, qint64 totalBytes)
{
    if (totalBytes <= 0) {
        logLine(QStringLiteral("MINOR_ERROR. MyGLWidget::updateNetworkBytesWritten. No total byte count: ")
            + QString::number(totalBytes));
        return;
    }
    const double percent = bytesWritten * 100.0 / static_cast<double>(totalBytes);
    emit sendTransferNetworkJobProgress(static_cast<int>(qBound(0.0, percent, 100.0)));
}

void MyGLWidget::receiveMessageForGUI(const QString &message)
{
    emit sendMessagePopup(message);
}

void MyGLWidget::delayBroadcastIPSlot()
{
    emit networking_broadcastIP();
}

void MyGLWidget::savePrinterNickname(const QString &printerSerial, const QString &printerNickname)
{
    emit sendNewNickname(printerSerial, printerNickname);
}

void MyGLWidget::movePlatformUp(const QString &printerSerial)
{
    emit sendPlatformUp(printerSerial);
}

void MyGLWidget::movePlatformDown(const QString &printerSerial)
{
    emit sendPlatformDown(printerSerial);
}

void MyGLWidget::moveTankUp(const QString &printerSerial)
{
    emit sendTankUp(printerSerial);
}

void MyGLWidget::moveTankDown(const QString &printerSerial)
{
    emit sendTankDown(printerSerial);
}

void MyGLWidget::sftpConfigFile(const QString &printerSerial)
{
    emit sendSFTPConfigFile(printerSerial, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

void MyGLWidget::networkedProjectGrid()
{
    callRootFunction("setSelectedPrinter");
    if (!m_selectedPrinter.isEmpty())
        emit sendProjectGrid(m_selectedPrinter);
}

void MyGLWidget::networkedTurnOffProjector()
{
    callRootFunction("setSelectedPrinter");
    if (!m_selectedPrinter.isEmpty())
        emit sendTurnOffProjector(m_selectedPrinter);
}

void MyGLWidget::networkedGCommand()
{
    callRootFunction("setSelectedPrinter");
    if (!m_selectedPrinter.isEmpty())
        emit sendNetworkedGCommand(m_selectedPrinter);
}

void MyGLWidget::projectSlice(const QImage &sliceImage)
{
    showImage(sliceImage);
    // A new id per image, naming the provider's second image, so that the page reloads it.
    callRootFunction("projectSlice", {QStringLiteral("1_%1").arg(++m_projectedImageCount)});
}

void MyGLWidget::updateSliceProgress(int slicePercent)
{
    if (slicePercent < 0) {
        logLine(QStringLiteral("MINOR_ERROR. MyGLWidget::updateSliceProgress. Called negative slicePercent. percent: ")
            + QString::number(slicePercent));
        return;
    }
    callRootFunction("advanceSliceStage", {slicePercent});
}

void MyGLWidget::updatePrinting(int layerNum, int printPercent, int timeLeft)
{
    callRootFunction("advancePrintStage", {printPercent, timeLeft, layerNum});
}

void MyGLWidget::printCompleted()
{
    callRootFunction("advancePrintStage", {100, 0, 0});
}

void MyGLWidget::updatePrinterConnectedStatus(bool isConnected)
{
    emit sendUpdatePrinterConnectedStatus(isConnected);
}

void MyGLWidget::openSaveSSJDialog()
{
    openSaveSSJDialog(QStringList());
}

// Starts in the folder of the last job saved, with a name made from the models' names.
void MyGLWidget::openSaveSSJDialog(const QStringList &modelPaths)
{
    QSettings settings;
    const QString start = QDir(JobFiles::jobFolder(settings)).filePath(JobFiles::proposedJobFileName(modelPaths));
    const QString chosen = QFileDialog::getSaveFileName(
        nullptr, QStringLiteral("Save SSJ File"), start, QStringLiteral("Print jobs (*.ssj *.SSJ)"));
    const QString jobPath = JobFiles::ssjSaveName(chosen);
    JobFiles::rememberJobFolder(settings, jobPath);
    emit setSaveSSJPath(jobPath);
}

// ---- the user interface's root object ------------------------------------------------------

QObject *MyGLWidget::rootObject()
{
    QQmlEngine *engine = qmlEngine(this);
    if (!engine)
        return nullptr;
    if (auto *applicationEngine = qobject_cast<QQmlApplicationEngine *>(engine)) {
        const QList<QObject *> roots = applicationEngine->rootObjects();
        if (!roots.isEmpty())
            return roots.first();
    }
    if (auto *view = qobject_cast<QQuickView *>(window())) {
        if (view->rootObject())
            return view->rootObject();
    }
    // Outside a view: the topmost item of the scene this item belongs to.
    const QQuickItem *windowContent = window() ? window()->contentItem() : nullptr;
    QQuickItem *top = this;
    while (top->parentItem() && top->parentItem() != windowContent)
        top = top->parentItem();
    return top == this ? nullptr : top;
}

void MyGLWidget::callRootFunction(const char *name, const QVariantList &arguments)
{
    QObject *root = rootObject();
    if (!root)
        return;
    const QMetaObject *meta = root->metaObject();
    bool found = false;
    for (int i = meta->methodOffset(); i < meta->methodCount() && !found; ++i) {
        const QMetaMethod method = meta->method(i);
        found = method.name() == name && method.parameterCount() == arguments.size();
    }
    if (!found) {
        logLine(QStringLiteral("ERROR. MyGLWidget::callRootFunction. The page has no function %1 of %2 arguments")
                    .arg(QLatin1String(name))
                    .arg(arguments.size()));
        return;
    }
    const QVariant a0 = arguments.value(0);
    const QVariant a1 = arguments.value(1);
    const QVariant a2 = arguments.value(2);
    switch (arguments.size()) {
    case 0:
        QMetaObject::invokeMethod(root, name);
        break;
    case 1:
        QMetaObject::invokeMethod(root, name, Q_ARG(QVariant, a0));
        break;
    case 2:
        QMetaObject::invokeMethod(root, name, Q_ARG(QVariant, a0), Q_ARG(QVariant, a1));
        break;
    default:
        QMetaObject::invokeMethod(root, name, Q_ARG(QVariant, a0), Q_ARG(QVariant, a1), Q_ARG(QVariant, a2));
        break;
    }
    QCoreApplication::processEvents();
}
