#include "terminal.h"
#include "printererrorwatchdog.h"

#include "basiclogging.h"
#include "timescale.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QThread>

QSerialPort *Terminal::serial = nullptr;
PrinterErrorWatchdog *Terminal::watchDog = nullptr;
bool Terminal::printOrPauseInProgress = false;
QString Terminal::d_param = QStringLiteral("D1000");
QString Terminal::e_param = QStringLiteral("E2000");
QString Terminal::j_param = QStringLiteral("J550");
QString Terminal::k_param = QStringLiteral("K80");
QString Terminal::l_param = QStringLiteral("L80");
QString Terminal::w_param = QStringLiteral("W50");
QString Terminal::x_param = QStringLiteral("X50");
QString Terminal::g_param = QStringLiteral("g0");

namespace {

const double scanPeriodMs = 1000.0;

const char boardDescription[] = "Duvu Ruvaz COM Port";
const char boardVendorId[] = "9808"; // USB vendor 0x2650, as decimal text

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// Board commands are short printable ASCII texts. A line break inside one
// (for instance in a parameter received over the network) would smuggle
// further command lines to the board.
bool isSafeCommand(const QString &command)
{
    for (const QChar c : command) {
        const ushort code = c.unicode();
        if (code < 0x20 || code > 0x7E)
            return false;
    }
    return true;
}

} // namespace

Terminal::Terminal(QObject *parent)
    : QObject(parent)
    , m_scanTimer(new QTimer(this))
{
    connect(m_scanTimer, &QTimer::timeout, this, &Terminal::scanSerialPorts);
    m_scanTimer->start(TimeScale::ms(scanPeriodMs));
    printOrPauseInProgress = false;
    m_serial = new QSerialPort;
    serial = m_serial;
}

Terminal::~Terminal()
{
    m_scanTimer->stop();
    stopWatchdog();
    if (serial == m_serial)
        serial = nullptr;
    // Closing the port emits signals; this object is no longer there to hear them.
    m_serial->disconnect(this);
    delete m_serial;
    m_serial = nullptr;
}

// ---- Watchdog --------------------------------------------------------------

PrinterErrorWatchdog *Terminal::beginWatchdog()
{
    stopWatchdog();

    m_watchdog = new PrinterErrorWatchdog;
    m_watchdogThread = new QThread;
    m_watchdog->moveToThread(m_watchdogThread);
    // The watchdog's timers may only be stopped in its own thread, so it is
    // deleted there, while the thread finishes.
    connect(m_watchdogThread, &QThread::finished, m_watchdog, &QObject::deleteLater);
    m_watchdogThread->start();
    watchDog = m_watchdog;
    return m_watchdog;
}

void Terminal::stopWatchdog()
{
    if (!m_watchdogThread)
        return;
    if (watchDog == m_watchdog)
        watchDog = nullptr;
    m_watchdogThread->quit();
    m_watchdogThread->wait();
    delete m_watchdogThread; // the watchdog itself was deleted as the thread finished
    m_watchdogThread = nullptr;
    m_watchdog = nullptr;
}

// The watchdog lives in its own thread: its flags and timers are touched there only.
void Terminal::tellWatchdog(const char *slot)
{
    if (watchDog)
        QMetaObject::invokeMethod(watchDog, slot, Qt::QueuedConnection);
}

// ---- Port discovery and connection -----------------------------------------

void Terminal::setFixedPortName(const QString &portName)
{
    const bool otherPortOpen = m_serial->isOpen() && m_settings.name != portName;
    m_fixedPortName = portName;
    m_settings.name = portName;
    if (otherPortOpen) {
        m_linkStale = true;
        m_scanTimer->start(TimeScale::ms(scanPeriodMs));
    }
}

bool Terminal::lastPortIsBoard(const QList<PortListing> &ports)
{
    if (ports.isEmpty())
        return false;
    const PortListing &candidate = ports.last();
    return candidate.description == QLatin1String(boardDescription)
        || candidate.vendorIdentifier == QLatin1String(boardVendorId);
}

bool Terminal::linkUp() const
{
    return m_serial && m_serial->isOpen() && !m_linkStale;
}

void Terminal::scanSerialPorts()
{
    if (m_fixedPortName.isEmpty()) {
        QList<PortListing> listings;
        const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo &info : infos) {
            m_description = info.description();
            m_systemLocation = info.systemLocation();
            m_vendorIdentifier = info.hasVendorIdentifier() ? QString::number(info.vendorIdentifier()) : QString();
            listings.append({m_description, m_systemLocation, m_vendorIdentifier});
            logLine(QStringLiteral("Serial Port name: ") + m_description + QStringLiteral(" Manufacturer: ")
                + info.manufacturer() + QStringLiteral(" Vendor: ") + m_vendorIdentifier);
        }
        if (!lastPortIsBoard(listings)) {
            if (m_serial->isOpen())
                m_serial->close();
            return;
        }
        m_settings.name = m_systemLocation;
    } else {
        m_settings.name = m_fixedPortName;
    }

    updateSettings();

    if (linkUp()) {
        m_scanTimer->stop();
        return;
    }
    // A port that reported an error is stale: its board went away (or reset its
    // USB link). It is closed and opened afresh, else the link would stay dead
    // whenever the board comes back before a scan notices it missing.
    if (m_serial->isOpen())
        m_serial->close();

    logLine(QStringLiteral("Serial Not Open"));
    openSerialPort();
    logLine(QStringLiteral("Serial is open now? ") + boolText(m_serial->isOpen()));
    // The projector is dark whenever the link is (re)established.
    if (m_serial->isOpen())
        turnOffProjector();
}

void Terminal::updateSettings()
{
    m_serial->setBaudRate(m_settings.baudRate, QSerialPort::AllDirections);
    m_serial->setDataBits(m_settings.dataBits);
    m_serial->setParity(m_settings.parity);
    m_serial->setStopBits(m_settings.stopBits);
    m_serial->setFlowControl(m_settings.flowControl);
}

void Terminal::openSerialPort()
{
    m_serial->setPortName(m_settings.name);
    updateSettings();
    if (!m_serial->open(QIODevice::ReadWrite))
        return; // the next scan retries

    m_linkStale = false;
    // A pause or resume sent on an earlier link will never be answered on this one.
    printOrPauseInProgress = false;
    logLine(QStringLiteral("Printer connected emitted"));
    m_scanTimer->stop();
    // One connection per port, however often it is reopened.
    connect(m_serial, &QSerialPort::errorOccurred, this, &Terminal::handleSerialError, Qt::UniqueConnection);
    connect(m_serial, &QSerialPort::readyRead, this, &Terminal::processSerialData, Qt::UniqueConnection);
    emit printerConnected();
}

void Terminal::handleSerialError(QSerialPort::SerialPortError error)
{
    // The port reports NoError whenever its error state is cleared.
    if (error == QSerialPort::NoError)
        return;
    logLine(QStringLiteral("SErial error. Error: ") + QString::number(int(error)));
    m_linkStale = true;
    emit usbConnectionClosed();
    disconnect(m_serial, &QSerialPort::errorOccurred, this, &Terminal::handleSerialError);
    m_scanTimer->start(TimeScale::ms(scanPeriodMs));
    // A port whose device went away keeps signalling that it can be read, and
    // every read fails again: left open until the next scan it would spin the
    // event loop. Close it as soon as this signal has been delivered.
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError || error == QSerialPort::WriteError
        || error == QSerialPort::DeviceNotFoundError) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_linkStale && m_serial->isOpen())
                    m_serial->close();
            },
            Qt::QueuedConnection);
    }
}

// ---- Replies ---------------------------------------------------------------

void Terminal::processSerialData()
{
    if (!m_serial->isOpen())
        return;
    const QByteArray data = m_serial->readAll();
    if (data.isEmpty())
        return;
    processChunk(data);
}

void Terminal::processChunk(const QByteArray &chunk)
{
    logLine(QStringLiteral("terminal.cpp processSerialData. Data: ") + QString::fromLocal8Bit(chunk));

    if (chunk.contains("P0"))
        emit dataReceived_projectorOff();
    if (chunk.contains("P1"))
        emit dataReceived_projectorOn();
    if (chunk.contains("WSNSD"))
        m_boardReset = true;
    if (chunk.contains("BP"))
        emit buttonPressed();
    if (chunk.contains("BR"))
        emit buttonReleased();

    if (chunk.contains("Pause1")) {
        printOrPauseInProgress = false;
        emit pauseMovementDone();
    } else if (chunk.contains("Pause0")) {
        printOrPauseInProgress = false;
        emit resumeMovementDone();
    }

    // The answer to a reset is "Z" and the start height: "Z0" for g0, "Z-5" for g-5.
    const QString expected = (QStringLiteral("Z") + g_param.mid(1)).toLower();
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    const QStringList parts = QString::fromLocal8Bit(chunk).split(whiteSpace);
    bool isResetAnswer = false;
    for (const QString &part : parts) {
        if (part.toLower().trimmed() == expected) {
            isResetAnswer = true;
            break;
        }
    }

    if (isResetAnswer && !m_boardReset) {
        logLine(QStringLiteral("Printer reset done. Message: ") + QString::fromLocal8Bit(chunk));
        emit printerResetDone();
    } else if (chunk.contains("Z0") && m_boardReset) {
        // The homing answer after a reset the board made by itself is not the
        // answer to a reset request.
        logLine(QStringLiteral("wsnsdResetSent"));
        m_boardReset = false;
    } else if (chunk.contains("F\r\n")) {
        emit f_movementDone();
    } else if (chunk.contains("Z")) {
        emit g_movementDone(QString::fromLocal8Bit(chunk));
    }

    if (chunk.contains("F")) {
        logLine(QStringLiteral("Terminal::processSerialData. Printer tilt cycle done. Data: ")
            + QString::fromLocal8Bit(chunk));
        emit printerTiltCycleDone();
    }
}

// ---- Commands --------------------------------------------------------------

void Terminal::writeOnSerial(const QString &command)
{
    if (!isSafeCommand(command)) {
        logLine(QStringLiteral("ERROR. Terminal::writeOnSerial. Command refused, it holds a character that is not "
                               "printable ASCII: ")
            + QString::fromLatin1(command.toUtf8().toPercentEncoding()));
        return;
    }
    if (!linkUp()) {
        logLine(
            QStringLiteral("NOTICE Terminal::writeOnSerial. The board is not connected, command dropped: ") + command);
        return;
    }
    for (const QChar c : command) {
        m_serial->write(QString(c).toLocal8Bit());
        logLine(QStringLiteral("Serial written:  ") + c);
    }
    m_serial->write("\n", 1);
    logLine(QStringLiteral("Done with Serial Writing"));
}

void Terminal::resetPlatformAndTank()
{
    writeOnSerial(QStringLiteral("R110"));
}

void Terminal::sendInitParams()
{
    writeOnSerial(QStringLiteral("&"));
    for (const QString *param : {&d_param, &e_param, &j_param, &k_param, &l_param, &w_param, &x_param})
        writeOnSerial(*param);
    turnOnMotors();
}

void Terminal::resetPrinter()
{
    logLine(QStringLiteral("Terminal.Reset printer"));
    resetPlatformAndTank();
    sendInitParams();
    writeOnSerial(QStringLiteral("R"));
    writeOnSerial(g_param);
}

void Terminal::sendGCommand_forQA()
{
    logLine(QStringLiteral("Terminal::sendGCommand_forQA"));
    writeOnSerial(QStringLiteral("R"));
    writeOnSerial(g_param);
}

void Terminal::setPrinterBaselineToCurrentPosition()
{
    writeOnSerial(QStringLiteral("O0"));
}

void Terminal::goToLayerHeight(int z)
{
    logLine(QStringLiteral("Terminal::goToLayerHeight. Tilting begin ") + QString::number(z));
    writeOnSerial(QStringLiteral("N") + QString::number(z));
    // Every move is a tilt cycle the board must report done. Armed even when the
    // line could not be sent: a lost move is exactly what the cycle watch is for.
    tellWatchdog("startTiltCycleTimer");
}

void Terminal::goToLayerHeight_G(int z)
{
    // Answered with "Z...", not with a tilt cycle: the cycle watch is not armed.
    writeOnSerial(QStringLiteral("G") + QString::number(z));
}

void Terminal::pausePrinter()
{
    if (printOrPauseInProgress) {
        logLine(QStringLiteral("NOTICE Terminal::pausePrinter. A pause or resume is in progress, request dropped"));
        return;
    }
    if (!linkUp()) {
        // Nothing goes out, so no answer will come: do not wait for one.
        logLine(QStringLiteral("NOTICE Terminal::pausePrinter. The board is not connected, request dropped"));
        return;
    }
    writeOnSerial(QStringLiteral("R410"));
    printOrPauseInProgress = true;
}

void Terminal::resumePrinter()
{
    if (printOrPauseInProgress) {
        logLine(QStringLiteral("NOTICE Terminal::resumePrinter. A pause or resume is in progress, request dropped"));
        return;
    }
    if (!linkUp()) {
        logLine(QStringLiteral("NOTICE Terminal::resumePrinter. The board is not connected, request dropped"));
        return;
    }
    writeOnSerial(QStringLiteral("R410"));
    printOrPauseInProgress = true;
}

void Terminal::finishPrint()
{
    turnOffProjector();
    tellWatchdog("finishPrint");
    writeOnSerial(QStringLiteral("f"));
}

void Terminal::turnOnProjector()
{
    writeOnSerial(QStringLiteral("P1"));
    tellWatchdog("turnOnProjector");
}

void Terminal::turnOffProjector()
{
    if (m_serial->isOpen())
        writeOnSerial(QStringLiteral("P0"));
    tellWatchdog("turnOffProjector");
}

void Terminal::turnOnMotors()
{
    // Boards of the older generation have no motor power command.
    if (m_retrofitBoard)
        return;
    writeOnSerial(QStringLiteral("p11"));
}

void Terminal::turnOffMotors()
{
    writeOnSerial(QStringLiteral("p10"));
}

void Terminal::movePlatformUp_Start()
{
    writeOnSerial(QStringLiteral("r232"));
}

void Terminal::movePlatformDown_Start()
{
    writeOnSerial(QStringLiteral("r434"));
}

void Terminal::tiltTankUp_Start()
{
    writeOnSerial(QStringLiteral("r565"));
}

void Terminal::tiltTankDown_Start()
{
    writeOnSerial(QStringLiteral("r787"));
}

// One stop command serves all four manual moves.
void Terminal::movePlatformUp_Stop()
{
    writeOnSerial(QStringLiteral("r343"));
}

void Terminal::movePlatformDown_Stop()
{
    writeOnSerial(QStringLiteral("r343"));
}

void Terminal::tiltTankUp_Stop()
{
    writeOnSerial(QStringLiteral("r343"));
}

void Terminal::tiltTankDown_Stop()
{
    writeOnSerial(QStringLiteral("r343"));
}

void Terminal::cutoffPowerIn30Seconds()
{
    writeOnSerial(QStringLiteral("r322"));
}

void Terminal::runBuzzer(int a, int b)
{
    writeOnSerial(QStringLiteral("BUZZF") + QString::number(a));
    writeOnSerial(QStringLiteral("BUZZR") + QString::number(b));
}

void Terminal::blinkLED(int a, int b)
{
    writeOnSerial(QStringLiteral("BLT") + QString::number(a));
    writeOnSerial(QStringLiteral("BLC") + QString::number(b));
}

void Terminal::fadeLED(int x)
{
    writeOnSerial(QStringLiteral("BLT255"));
    writeOnSerial(QStringLiteral("BLU0"));
    writeOnSerial(QStringLiteral("BLF") + QString::number(x));
}
